#include "errors.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstdio>

namespace bilmeko {

namespace {
ErrorSink &sink()
{
    static ErrorSink s;
    return s;
}

ErrorSink &presenter()
{
    static ErrorSink p;
    return p;
}

ErrorSink &noticePresenter()
{
    static ErrorSink p;
    return p;
}
} // namespace

Error Error::invalidInteger(const QString &text)
{
    return Error(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

Error Error::invalidFloat(const QString &text)
{
    return Error(QStringLiteral("'%1' is not a valid floating point value").arg(text));
}

Error Error::invalidDate(const QString &text)
{
    return Error(QStringLiteral("'%1' is not a valid date").arg(text));
}

Error Error::invalidDateEncode()
{
    return Error(QStringLiteral("Invalid argument to date encode"));
}

QString IoError::messageFor(int code)
{
    switch (code) {
    case FileNotFound: return QStringLiteral("File not found");
    case InvalidFilename: return QStringLiteral("Invalid filename");
    case TooManyOpenFiles: return QStringLiteral("Too many open files");
    case AccessDenied: return QStringLiteral("File access denied");
    case ReadBeyondEnd: return QStringLiteral("Read beyond end of file");
    case DiskFull: return QStringLiteral("Disk full");
    case InvalidNumericInput: return QStringLiteral("Invalid numeric input");
    default: return QStringLiteral("I/O error %1").arg(code);
    }
}

QString reasonText(const Error &e)
{
    // An unmapped system error keeps its number, which may equal a
    // standard code: its message tells them apart.
    const auto *io = dynamic_cast<const IoError *>(&e);
    if (io && io->message() != IoError::messageFor(io->code()))
        return QStringLiteral("ошибка ввода-вывода %1").arg(io->code());
    if (io) {
        switch (io->code()) {
        case IoError::FileNotFound: return QStringLiteral("файл или папка не найдены");
        case IoError::InvalidFilename: return QStringLiteral("недопустимое имя файла");
        case IoError::TooManyOpenFiles: return QStringLiteral("открыто слишком много файлов");
        case IoError::AccessDenied: return QStringLiteral("нет доступа к файлу");
        case IoError::ReadBeyondEnd: return QStringLiteral("файл оборван");
        case IoError::DiskFull: return QStringLiteral("на диске нет места");
        case IoError::InvalidNumericInput: return QStringLiteral("неверное число");
        default: return QStringLiteral("ошибка ввода-вывода %1").arg(io->code());
        }
    }
    QString text = e.message().trimmed();
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

int IoError::codeForErrno(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR: return FileNotFound;
    case ENAMETOOLONG:
    case EINVAL: return InvalidFilename;
    case EMFILE:
    case ENFILE: return TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return AccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return DiskFull;
    default: return 0;
    }
}

IoError IoError::fromErrno(int err)
{
    const int code = codeForErrno(err);
    if (code != 0)
        return IoError(code);
    return IoError(err, QStringLiteral("I/O error %1").arg(err));
}

QString errorBoxText(const QString &message)
{
    if (message.endsWith(QLatin1Char('.')))
        return message;
    return message + QLatin1Char('.');
}

ErrorSink setErrorSink(ErrorSink s)
{
    return std::exchange(sink(), std::move(s));
}

QString applicationTitle()
{
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("Bilmeko") : name;
}

void setErrorPresenter(ErrorSink show)
{
    presenter() = std::move(show);
}

void showErrorBox(const QString &message)
{
    const QString text = errorBoxText(message);
    if (sink()) {
        sink()(text);
        return;
    }
    if (presenter()) {
        presenter()(text);
        return;
    }
    // No window to show it in: a program without widgets writes it out.
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

void setErrorNoticePresenter(ErrorSink show)
{
    noticePresenter() = std::move(show);
}

void showErrorNotice(const QString &message)
{
    if (!sink() && noticePresenter()) {
        noticePresenter()(errorBoxText(message));
        return;
    }
    showErrorBox(message);
}

} // namespace bilmeko
