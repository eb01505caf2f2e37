#include "atomicfile.h"
#include "systemcalls.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace bilmeko {

namespace {

// Between the file's name and mkstemp's six characters: a user's own
// ".Bilmeko.ini.backup" is never taken for a leftover.
constexpr char TemporaryInfix[] = ".tmp-";

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

QByteArray temporaryTemplate(const QFileInfo &target)
{
    return QFile::encodeName(target.absolutePath()) + "/." + QFile::encodeName(target.fileName()) + TemporaryInfix
        + "XXXXXX";
}

mode_t umaskValue()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The file a replace must write: a symbolic link is followed, so the link
// stays a link.
QString resolvedTarget(const QString &path)
{
    const QFileInfo fi(path);
    if (!fi.isSymLink())
        return fi.absoluteFilePath();
    const QString canonical = fi.canonicalFilePath();
    return canonical.isEmpty() ? fi.symLinkTarget() : canonical;
}

} // namespace

AtomicFileError::AtomicFileError(int errorNumber)
    : Error(QString::fromLocal8Bit(std::strerror(errorNumber))), m_errno(errorNumber)
{
}

// Writes straight to the temporary file's descriptor and keeps the first
// failure's error number for commit().
class AtomicFile::Device : public QIODevice
{
public:
    explicit Device(int fd) : m_fd(fd) { QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
    bool isSequential() const override { return true; }
    int error() const { return m_error; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (m_error != 0)
            return -1;
        qint64 done = 0;
        while (done < size) {
            const ssize_t n = systemCalls().write(m_fd, data + done, static_cast<size_t>(size - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_error = n == 0 ? ENOSPC : errno;
                setErrorString(QString::fromLocal8Bit(std::strerror(m_error)));
                return -1;
            }
            done += n;
        }
        return done;
    }

private:
    int m_fd;
    int m_error = 0;
};

AtomicFile::AtomicFile(const QString &target, mode_t newMode) : m_target(resolvedTarget(target)), m_newMode(newMode)
{
}

AtomicFile::~AtomicFile()
{
    if (m_done)
        return;
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temp.isEmpty())
        ::unlink(QFile::encodeName(m_temp).constData());
}

void AtomicFile::fail(int err)
{
    if (m_device)
        m_device->close();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temp.isEmpty())
        ::unlink(QFile::encodeName(m_temp).constData());
    m_done = true;
    throw AtomicFileError(err);
}

QIODevice &AtomicFile::open()
{
    const QByteArray target = QFile::encodeName(m_target);
    struct stat st
    {
    };
    m_exists = ::stat(target.constData(), &st) == 0;
    if (!m_exists && errno != ENOENT)
        fail(errno);
    if (m_exists) {
        if (S_ISDIR(st.st_mode))
            fail(EISDIR);
        if (!S_ISREG(st.st_mode))
            fail(EINVAL);
        // A read-only file stays read-only: renaming over it would not ask.
        const int probe = systemCalls().open(target.constData(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0);
        if (probe < 0)
            fail(errno);
        ::close(probe);
        m_mode = st.st_mode & 07777;
        m_uid = st.st_uid;
        m_gid = st.st_gid;
    } else {
        m_mode = m_newMode & ~umaskValue() & 07777;
    }

    QByteArray tmp = temporaryTemplate(QFileInfo(m_target));
    m_fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (m_fd < 0)
        fail(errno);
    m_temp = QFile::decodeName(tmp);
    m_device = std::make_unique<Device>(m_fd);
    return *m_device;
}

void AtomicFile::commit()
{
    if (m_fd < 0)
        open();
    if (m_device->error() != 0)
        fail(m_device->error());
    m_device->close();
    // Root saving someone's file leaves it theirs.
    if (m_exists && ::geteuid() == 0 && (m_uid != 0 || m_gid != 0)) {
        if (::fchown(m_fd, m_uid, m_gid) != 0) { /* stays root's */
        }
    }
    // mkostemp made it 0600; change that only when something else is wanted.
    if (m_mode != 0600 && ::fchmod(m_fd, m_mode) != 0)
        fail(errno);
    if (systemCalls().fsync(m_fd) != 0)
        fail(errno);
    const int fd = std::exchange(m_fd, -1);
    if (systemCalls().close(fd) != 0)
        fail(errno);
    if (systemCalls().rename(QFile::encodeName(m_temp).constData(), QFile::encodeName(m_target).constData()) != 0)
        fail(errno);
    m_done = true;

    // The rename itself must reach the disk before the change counts as made.
    const int dir = systemCalls().open(QFile::encodeName(QFileInfo(m_target).absolutePath()).constData(),
                                       O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dir < 0)
        throw AtomicFileError(errno);
    const bool synced = systemCalls().fsync(dir) == 0;
    const int err = errno;
    ::close(dir);
    // Some file systems cannot flush a folder; their renames are durable
    // by themselves.
    if (!synced && err != EINVAL && err != ENOTSUP)
        throw AtomicFileError(err);
}

void replaceFileAtomically(const QString &path, const QByteArray &bytes, mode_t newMode)
{
    try {
        AtomicFile file(path, newMode);
        file.open().write(bytes);
        file.commit();
    } catch (const AtomicFileError &e) {
        throw IoError::fromErrno(e.errorNumber());
    }
}

int removeStaleTemporaries(const QString &path)
{
    const QFileInfo fi(resolvedTarget(path));
    const QByteArray folder = QFile::encodeName(fi.absolutePath());
    const QByteArray prefix = "." + QFile::encodeName(fi.fileName()) + TemporaryInfix;
    DIR *d = ::opendir(folder.constData());
    if (!d)
        return 0;
    int removed = 0;
    while (dirent *e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (!name.startsWith(prefix) || !isTemporarySuffix(name.mid(prefix.size())))
            continue;
        struct stat st
        {
        };
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (::unlinkat(::dirfd(d), e->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(d);
    return removed;
}

} // namespace bilmeko
