#include "journalfile.h"

#include "common/core/errors.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bilmeko {

JournalFile::JournalFile(const QString &path)
{
    const QByteArray name = path.toLocal8Bit();
    m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        throw IoError::fromErrno(errno);
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        const int err = errno;
        ::close(m_fd);
        throw IoError::fromErrno(err);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(m_fd);
        throw IoError(IoError::AccessDenied);
    }
    m_size = st.st_size;
}

JournalFile::~JournalFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool JournalFile::close()
{
    const int rc = ::close(m_fd);
    m_fd = -1;
    return rc == 0;
}

void appendJournalRecord(const QString &path, const LogRecord &r)
{
    JournalFile file(path);
    const off_t size = static_cast<off_t>(file.size());
    const off_t offset = (size / RecordSize) * RecordSize;

    RecordBytes bytes = serializeRecord(r);
    ScrambleRecord(bytes);
    sealRecord(bytes);

    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(file.fd(), bytes.data() + done, bytes.size() - done,
                                   offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            // Leave no half record behind where a whole one was expected.
            if (::ftruncate(file.fd(), std::max<off_t>(size, offset)) != 0) { /* best effort */ }
            throw IoError::fromErrno(err);
        }
        if (n == 0) {
            if (::ftruncate(file.fd(), std::max<off_t>(size, offset)) != 0) { /* best effort */ }
            throw IoError(IoError::DiskFull);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(file.fd()) != 0) {
        const int err = errno;
        if (::ftruncate(file.fd(), std::max<off_t>(size, offset)) != 0) { /* best effort */ }
        throw IoError::fromErrno(err);
    }
    if (!file.close())
        throw IoError::fromErrno(errno);
}

} // namespace bilmeko
