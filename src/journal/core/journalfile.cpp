#include "journalfile.h"

#include "common/core/errors.h"
#include "common/core/systemcalls.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace bilmeko {

namespace {

// How long an append waits for another appender to finish: one append
// takes milliseconds, so a lock held longer is a stuck program, and the GUI
// must not hang on it.
constexpr int LockWaitMs = 2000;

// Flushes the folder holding the file; 0 or the error number. Some file
// systems cannot flush a folder: their new names are durable by themselves.
int flushFolderOf(const QString &path)
{
    const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return errno;
    const int err = systemCalls().fsync(dir) == 0 ? 0 : errno;
    ::close(dir);
    return err == EINVAL || err == ENOTSUP ? 0 : err;
}

} // namespace

JournalFile::JournalFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
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
        systemCalls().close(m_fd);
}

void JournalFile::lockExclusive()
{
    for (int waited = 0;; ++waited) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
            break;
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err != EWOULDBLOCK)
            throw IoError::fromErrno(err);
        if (waited >= LockWaitMs)
            throw IoError(IoError::AccessDenied);
        const timespec ms {0, 1'000'000};
        ::nanosleep(&ms, nullptr);
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        throw IoError::fromErrno(errno);
    m_size = st.st_size;
}

bool JournalFile::close()
{
    const int rc = systemCalls().close(m_fd);
    m_fd = -1;
    return rc == 0;
}

void appendJournalRecord(const QString &path, const LogRecord &r)
{
    JournalFile file(path);
    file.lockExclusive();
    const off_t size = static_cast<off_t>(file.size());
    const off_t offset = (size / RecordSize) * RecordSize;

    RecordBytes bytes = serializeRecord(r);
    ScrambleRecord(bytes);
    sealRecord(bytes);

    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = systemCalls().pwrite(file.fd(), bytes.data() + done, bytes.size() - done,
                                   offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            // Leave no half record behind where a whole one was expected.
            if (::ftruncate(file.fd(), std::max(size, offset)) != 0) { /* best effort */ }
            throw IoError::fromErrno(err);
        }
        if (n == 0) {
            if (::ftruncate(file.fd(), std::max(size, offset)) != 0) { /* best effort */ }
            throw IoError(IoError::DiskFull);
        }
        done += static_cast<size_t>(n);
    }
    if (systemCalls().fsync(file.fd()) != 0) {
        const int err = errno;
        if (::ftruncate(file.fd(), std::max(size, offset)) != 0) { /* best effort */ }
        throw IoError::fromErrno(err);
    }
    // The first record of a journal (made just now, or left empty by an
    // earlier failure): the file's name must reach the disk too, or a power
    // cut could take the whole journal with it.
    if (size == 0) {
        const int err = flushFolderOf(path);
        if (err != 0) {
            if (::ftruncate(file.fd(), 0) != 0) { /* best effort */ }
            throw IoError::fromErrno(err);
        }
    }
    // The record is on the disk. Reporting a failed close as a failed append
    // would keep the session running and write it a second time.
    file.close();
}

QSet<std::uint64_t> journalSessionsAmong(const QString &path, const QSet<std::uint64_t> &ids)
{
    QSet<std::uint64_t> found;
    if (ids.isEmpty())
        return found;
    // Records minus reversals, per session asked about.
    QHash<std::uint64_t, int> standing;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return found;
        throw IoError::fromErrno(errno);
    }
    static constexpr size_t ChunkRecords = 768;
    std::vector<char> buffer(ChunkRecords * RecordSize);
    size_t carry = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data() + carry, buffer.size() - carry);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            throw IoError::fromErrno(err);
        }
        if (n == 0)
            break;
        const size_t have = carry + static_cast<size_t>(n);
        const size_t whole = have / RecordSize;
        for (size_t k = 0; k < whole; ++k) {
            const char *rec = buffer.data() + k * RecordSize;
            // A damaged record does not count: the report leaves it out, so
            // the session has to be written again to be paid for.
            if (recordSeal(rec) == RecordSeal::Good) {
                const std::uint64_t id = storedSessionId(rec);
                if (ids.contains(id))
                    standing[id] += isReversalRecord(rec) ? -1 : 1;
            }
        }
        carry = have - whole * RecordSize;
        if (carry > 0)
            std::copy(buffer.data() + whole * RecordSize, buffer.data() + have, buffer.data());
    }
    ::close(fd);
    for (auto it = standing.cbegin(); it != standing.cend(); ++it)
        if (it.value() > 0)
            found.insert(it.key());
    return found;
}

} // namespace bilmeko
