#pragma once
// Helpers for the tests of windows: typing into fields and answering the
// modal dialogs that a handler opens.

#include "testsupport.h"

#include <QMessageBox>
#include <functional>

class QWidget;

namespace bilmeko::test {

// Replaces a field's text as the operator would: select everything, type.
void retype(QWidget *field, const QString &text);

// Runs `action` on the next modal widget that appears (polling the event
// loop), within timeoutMs. Use before the call that opens the dialog.
void onNextModal(std::function<void(QWidget *)> action, int timeoutMs = 5000);

// Presses a button of the next QMessageBox and records its text.
void answerNextMessageBox(QMessageBox::StandardButton button, QString *text = nullptr, QString *title = nullptr,
                          int timeoutMs = 5000);

} // namespace bilmeko::test
