#pragma once
// Failures are exceptions carrying the message the operator sees. Every
// handler runs its work through guard(): an error ends that handler, reaches
// the application's error box, and the program goes on.

#include <QString>
#include <exception>
#include <functional>
#include <utility>

namespace bilmeko {

class Error : public std::exception
{
public:
    explicit Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

    static Error invalidInteger(const QString &text);
    static Error invalidFloat(const QString &text);
    static Error invalidDate(const QString &text);
    static Error invalidDateEncode();

private:
    QString m_message;
    QByteArray m_utf8;
};

// A file operation's failure with its standard message:
// 2 "File not found", 3 "Invalid filename", 4 "Too many open files",
// 5 "File access denied", 100 "Read beyond end of file", 101 "Disk full",
// 106 "Invalid numeric input", others "I/O error %d".
class IoError : public Error
{
public:
    enum Code {
        FileNotFound = 2,
        InvalidFilename = 3,
        TooManyOpenFiles = 4,
        AccessDenied = 5,
        ReadBeyondEnd = 100,
        DiskFull = 101,
        InvalidNumericInput = 106,
    };
    explicit IoError(int code) : Error(messageFor(code)), m_code(code) {}
    int code() const { return m_code; }

    static QString messageFor(int code);
    // The I/O error code for an operating-system error number (errno);
    // 0 when it has no standard message of its own.
    static int codeForErrno(int err);
    // Unmapped system errors keep their own number: "I/O error %d".
    static IoError fromErrno(int err);

private:
    IoError(int code, QString message) : Error(std::move(message)), m_code(code) {}

    int m_code;
};

// Why a file could not be written or read, in the operator's words: the
// standard messages in Russian ("на диске нет места"), any other message
// as it is, without its closing full stop.
QString reasonText(const Error &e);

// The text the error box shows: the message with a full stop added when it
// does not end in one.
QString errorBoxText(const QString &message);

// Shows the application's standard error box through the presenter, or
// hands the text to the sink a test installed.
void showErrorBox(const QString &message);

using ErrorSink = std::function<void(const QString &boxText)>;
// How a program with windows shows the box (installed by the widgets
// library); without one the text goes to standard error.
void setErrorPresenter(ErrorSink show);

// An error that comes after the action that caused it (a print job that
// ended badly): shown on top like the error box, but not modal and without
// taking the keyboard from whatever the operator does by then. A test's
// sink gets it like an error box.
void showErrorNotice(const QString &message);
void setErrorNoticePresenter(ErrorSink show);

// Replaces where error boxes go; an empty sink restores the real box.
// Returns the previous sink.
ErrorSink setErrorSink(ErrorSink sink);

// Runs a handler's work; any error is shown in the error box and swallowed.
// Returns true when the work completed without an error.
template <typename F> bool guard(F &&work) noexcept
{
    try {
        std::forward<F>(work)();
        return true;
    } catch (const Error &e) {
        showErrorBox(e.message());
    } catch (const std::exception &e) {
        showErrorBox(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        showErrorBox(QStringLiteral("Unknown error"));
    }
    return false;
}

// The application's title, the caption of its message boxes.
QString applicationTitle();

} // namespace bilmeko
