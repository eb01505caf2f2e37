#include "singleinstance.h"
#include "common/core/systemcalls.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

QString userName(uid_t uid)
{
    if (const passwd *pw = ::getpwuid(uid))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(uid);
}

// The processes holding a lock on the file (from /proc/locks) that run as
// another user than this one; empty when none or when it cannot be told.
QList<std::pair<qint64, uid_t>> foreignHolders(int fd)
{
    QList<std::pair<qint64, uid_t>> found;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        return found;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return found;
    const QByteArray inode = ":" + QByteArray::number(quint64(st.st_ino));
    // "1: FLOCK  ADVISORY  READ  1234 08:01:5678 0 EOF"
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 6 || f[1] != "FLOCK" || !f[5].endsWith(inode))
            continue;
        bool ok = false;
        const qint64 pid = f[4].toLongLong(&ok);
        struct stat proc
        {
        };
        if (!ok || pid <= 0 || ::stat(("/proc/" + f[4]).constData(), &proc) != 0)
            continue;
        if (proc.st_uid != ::geteuid())
            found.append({pid, proc.st_uid});
    }
    return found;
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
    // lock and keep it after the program has ended. The owner's alone:
    // another user who could open it could hold it and keep the program
    // from starting.
    int fd = systemCalls().open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    int err = errno;
    if (fd < 0 && err == EACCES)
        fd = systemCalls().open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0);
    if (fd < 0) {
        struct stat st
        {
        };
        if (err == EACCES && ::stat(name.constData(), &st) == 0 && st.st_uid != ::geteuid()) {
            m_error = QStringLiteral("Папка данных \"%1\" занята: её файл блокировки \"%2\" принадлежит "
                                     "пользователю %3. Программа не будет запущена.")
                          .arg(QDir::toNativeSeparators(folder), QDir::toNativeSeparators(path), userName(st.st_uid));
            return Result::Failed;
        }
        m_error = failure(QStringLiteral("Не удалось открыть файл блокировки"), path, err);
        return Result::Failed;
    }
    // A lock file of an earlier version was open to all.
    struct stat own
    {
    };
    if (::fstat(fd, &own) == 0 && own.st_uid == ::geteuid() && (own.st_mode & 0077) != 0)
        if (::fchmod(fd, own.st_mode & 0700) != 0) { /* stays as it was */
        }
    int rc;
    do {
        rc = systemCalls().flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        if (err == EWOULDBLOCK) {
            // Only a copy of this user's can be asked to show its window.
            const auto foreign = foreignHolders(fd);
            ::close(fd);
            if (foreign.isEmpty())
                return Result::HeldByAnother;
            m_error = QStringLiteral("Папка данных \"%1\" занята: её файл блокировки \"%2\" держит процесс %3 "
                                     "пользователя %4. Программа не будет запущена.")
                          .arg(QDir::toNativeSeparators(folder), QDir::toNativeSeparators(path))
                          .arg(foreign.first().first)
                          .arg(userName(foreign.first().second));
            return Result::Failed;
        }
        ::close(fd);
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
