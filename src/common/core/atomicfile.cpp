#include "atomicfile.h"

#include "errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bilmeko {

namespace {

// Six characters of mkstemp's alphabet.
bool isTemporarySuffix(const QByteArray &s)
{
    if (s.size() != 6)
        return false;
    for (char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

bool writeAll(int fd, const char *data, qsizetype size, int &err)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, static_cast<size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            return false;
        }
        if (n == 0) {
            err = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace

void replaceFileAtomically(const QString &path, const QByteArray &bytes, mode_t newMode)
{
    const QFileInfo fi(path);
    const QByteArray target = QFile::encodeName(fi.absoluteFilePath());
    const QByteArray folder = QFile::encodeName(fi.absolutePath());

    struct stat st {};
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (!exists && errno != ENOENT)
        throw IoError::fromErrno(errno);
    if (exists && S_ISDIR(st.st_mode))
        throw IoError(IoError::AccessDenied);

    QByteArray tmp = folder + "/." + QFile::encodeName(fi.fileName()) + ".XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        throw IoError::fromErrno(errno);

    int err = 0;
    bool ok = writeAll(fd, bytes.constData(), bytes.size(), err);
    // mkostemp made it 0600; change that only when something else is wanted.
    const mode_t mode = exists ? (st.st_mode & 07777) : newMode;
    if (ok && mode != 0600 && ::fchmod(fd, mode) != 0) {
        err = errno;
        ok = false;
    }
    if (ok && ::fsync(fd) != 0) {
        err = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        err = errno;
        ok = false;
    }
    if (ok && ::rename(tmp.constData(), target.constData()) != 0) {
        err = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(tmp.constData());
        throw IoError::fromErrno(err);
    }
    // The rename itself must reach the disk before the change counts as made.
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        throw IoError::fromErrno(errno);
    const bool synced = ::fsync(dir) == 0;
    err = errno;
    ::close(dir);
    // Some file systems cannot flush a folder; their renames are durable
    // by themselves.
    if (!synced && err != EINVAL && err != ENOTSUP)
        throw IoError::fromErrno(err);
}

int removeStaleTemporaries(const QString &path)
{
    const QFileInfo fi(path);
    const QByteArray folder = QFile::encodeName(fi.absolutePath());
    const QByteArray prefix = "." + QFile::encodeName(fi.fileName()) + ".";
    DIR *d = ::opendir(folder.constData());
    if (!d)
        return 0;
    int removed = 0;
    while (dirent *e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (!name.startsWith(prefix) || !isTemporarySuffix(name.mid(prefix.size())))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (::unlinkat(::dirfd(d), e->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(d);
    return removed;
}

} // namespace bilmeko
