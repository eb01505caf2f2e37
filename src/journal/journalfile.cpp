#include "journalfile.h"

#include "common/errors.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bilmeko {

namespace {

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    // Closes and reports a failing close (a late write error).
    int release()
    {
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
};

} // namespace

void appendJournalRecord(const QString &path, const LogRecord &r)
{
    const QByteArray name = path.toLocal8Bit();
    Fd fd(::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (fd.get() < 0)
        throw IoError::fromErrno(errno);

    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        throw IoError::fromErrno(errno);
    if (S_ISDIR(st.st_mode))
        throw IoError(IoError::AccessDenied);
    const off_t offset = (st.st_size / RecordSize) * RecordSize;

    RecordBytes bytes = serializeRecord(r);
    ScrambleRecord(bytes);

    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd.get(), bytes.data() + done, bytes.size() - done,
                                   offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            // Leave no half record behind where a whole one was expected.
            if (::ftruncate(fd.get(), std::max<off_t>(st.st_size, offset)) != 0) { /* best effort */ }
            throw IoError::fromErrno(err);
        }
        if (n == 0) {
            if (::ftruncate(fd.get(), std::max<off_t>(st.st_size, offset)) != 0) { /* best effort */ }
            throw IoError(IoError::DiskFull);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd.get()) != 0) {
        const int err = errno;
        if (::ftruncate(fd.get(), std::max<off_t>(st.st_size, offset)) != 0) { /* best effort */ }
        throw IoError::fromErrno(err);
    }
    if (fd.release() != 0)
        throw IoError::fromErrno(errno);
}

} // namespace bilmeko
