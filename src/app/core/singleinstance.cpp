#include "singleinstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace bilmeko {

namespace {

QString reason(int err)
{
    switch (err) {
    case EACCES:
    case EPERM: return QStringLiteral("нет прав доступа");
    case EROFS: return QStringLiteral("папка только для чтения");
    case ENOENT:
    case ENOTDIR: return QStringLiteral("папки нет");
    case EISDIR: return QStringLiteral("на месте файла папка");
    case ENOLCK: return QStringLiteral("файловая система не поддерживает блокировки");
    default: return QString::fromLocal8Bit(std::strerror(err));
    }
}

QString failure(const QString &what, const QString &path, int err)
{
    return QStringLiteral("%1 \"%2\": %3. Программа не может убедиться, что она одна работает "
                          "с этой папкой, и не будет запущена.")
        .arg(what, QDir::toNativeSeparators(path), reason(err));
}

} // namespace

QString InstanceLock::lockPath(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("Bilmeko.lock"));
}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

InstanceLock::Result InstanceLock::tryAcquire(const QString &folder)
{
    if (m_fd >= 0)
        return Result::Acquired;
    m_error.clear();
    const QString path = lockPath(folder);
    const QByteArray name = QFile::encodeName(path);
    // Close-on-exec: a browser started from the logo must not inherit the
    // lock and keep it after the program has ended. Readable by all, so a
    // copy of another user finds the lock instead of failing to open it.
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    int err = errno;
    if (fd < 0 && err == EACCES)
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        m_error = failure(QStringLiteral("Не удалось открыть файл блокировки"), path, err);
        return Result::Failed;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return Result::HeldByAnother;
        m_error = failure(QStringLiteral("Не удалось заблокировать файл"), path, err);
        return Result::Failed;
    }
    m_fd = fd;
    return Result::Acquired;
}

QString executableFolder()
{
    const QFileInfo exe(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
    return exe.absolutePath();
}

} // namespace bilmeko
