#include "singleinstance.h"

#include <QByteArray>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bilmeko {

namespace {
const char LockName[] = "Bilmeko_CHECKEXIST";

bool isOwnDirectory(const char *dir)
{
    struct stat st {};
    return dir && *dir && ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()
           && ::access(dir, W_OK | X_OK) == 0;
}
} // namespace

QString instanceLockPath()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (isOwnDirectory(runtime))
        return QString::fromLocal8Bit(runtime) + QLatin1Char('/') + QLatin1String(LockName)
               + QStringLiteral(".lock");
    return QStringLiteral("/tmp/%1-%2.lock").arg(QLatin1String(LockName)).arg(::getuid());
}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InstanceLock::tryAcquire(const QString &path)
{
    if (m_fd >= 0)
        return true;
    const QByteArray name = path.toLocal8Bit();
    // Close-on-exec: a browser started from the logo must not inherit the
    // lock and keep it after the program has ended.
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

} // namespace bilmeko
