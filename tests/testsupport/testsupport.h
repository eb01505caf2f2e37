#pragma once
// Helpers shared by the tests: pinned Russian formats, a recorder for error
// boxes, and answering modal dialogs that a handler opens.

#include "common/errors.h"

#include <QMessageBox>
#include <QStringList>
#include <functional>

class QWidget;

namespace bilmeko::test {

// Russian conventions, whatever the machine's locale.
void pinRussian();

// A file's whole content; empty when it cannot be read.
QByteArray readFile(const QString &path);
// Replaces a file's content; the test fails hard when it cannot.
void writeFile(const QString &path, const QByteArray &bytes);

// Replaces a field's text as the operator would: select everything, type.
void retype(QWidget *field, const QString &text);

// Collects the texts of error boxes while alive instead of showing them.
class ErrorRecorder
{
public:
    ErrorRecorder();
    ~ErrorRecorder();
    ErrorRecorder(const ErrorRecorder &) = delete;
    ErrorRecorder &operator=(const ErrorRecorder &) = delete;
    QStringList messages;

private:
    ErrorSink m_previous;
};

// Runs `action` on the next modal widget that appears (polling the event
// loop), within timeoutMs. Use before the call that opens the dialog.
void onNextModal(std::function<void(QWidget *)> action, int timeoutMs = 5000);

// Presses a button of the next QMessageBox and records its text.
void answerNextMessageBox(QMessageBox::StandardButton button, QString *text = nullptr,
                          QString *title = nullptr);

// Drops root's rights for a scope (tests run as root in CI, where file
// permissions would otherwise not apply). Does nothing for other users.
class AsUnprivileged
{
public:
    AsUnprivileged();
    ~AsUnprivileged();
    AsUnprivileged(const AsUnprivileged &) = delete;
    AsUnprivileged &operator=(const AsUnprivileged &) = delete;

private:
    bool m_dropped = false;
};

} // namespace bilmeko::test
