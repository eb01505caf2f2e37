#include "journalfile.h"

#include "common/core/errors.h"
#include "common/core/systemcalls.h"
#include "countedstops.h"
#include "journalsource.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
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
    const int dir = systemCalls().open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                                       O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
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
    m_fd = systemCalls().open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        throw IoError::fromErrno(errno);
    struct stat st
    {
    };
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
        if (systemCalls().flock(m_fd, LOCK_EX | LOCK_NB) == 0)
            break;
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err != EWOULDBLOCK)
            throw IoError::fromErrno(err);
        if (waited >= LockWaitMs)
            throw IoError(IoError::AccessDenied);
        const timespec ms{0, 1'000'000};
        ::nanosleep(&ms, nullptr);
    }
    struct stat st
    {
    };
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

qint64 appendJournalRecord(const QString &path, const LogRecord &r)
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
            if (systemCalls().ftruncate(file.fd(), std::max(size, offset)) != 0) { /* best effort */
            }
            throw IoError::fromErrno(err);
        }
        if (n == 0) {
            if (systemCalls().ftruncate(file.fd(), std::max(size, offset)) != 0) { /* best effort */
            }
            throw IoError(IoError::DiskFull);
        }
        done += static_cast<size_t>(n);
    }
    if (systemCalls().fsync(file.fd()) != 0) {
        const int err = errno;
        if (systemCalls().ftruncate(file.fd(), std::max(size, offset)) != 0) { /* best effort */
        }
        throw IoError::fromErrno(err);
    }
    // The first record of a journal (made just now, or left empty by an
    // earlier failure): the file's name must reach the disk too, or a power
    // cut could take the whole journal with it.
    if (size == 0) {
        const int err = flushFolderOf(path);
        if (err != 0) {
            if (systemCalls().ftruncate(file.fd(), 0) != 0) { /* best effort */
            }
            throw IoError::fromErrno(err);
        }
    }
    // The record is on the disk. Reporting a failed close as a failed append
    // would keep the session running and write it a second time.
    file.close();
    return offset;
}

qint64 journalLength(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? 0 : -1;
    return S_ISREG(st.st_mode) ? static_cast<qint64>(st.st_size) : -1;
}

QSet<std::uint64_t> journalSessionsAmong(const QString &path, const QSet<std::uint64_t> &ids, qint64 from,
                                         bool *shorter)
{
    QSet<std::uint64_t> found;
    if (shorter)
        *shorter = false;
    if (ids.isEmpty())
        return found;
    std::unique_ptr<FileSource> source;
    try {
        source = FileSource::openForReading(path);
    } catch (const IoError &e) {
        if (e.code() == IoError::FileNotFound)
            return found;
        throw;
    }
    if (source->size() < from) {
        if (shorter)
            *shorter = true;
        from = 0;
    }
    // Records minus reversals, per session asked about.
    QHash<std::uint64_t, int> standing;
    CountedStops stops;
    const bool whole = scanJournal(
        *source, true,
        [&](const char *records, qint64 count, qint64) {
            for (qint64 k = 0; k < count; ++k) {
                const char *rec = records + k * RecordSize;
                // A damaged record does not count: the report leaves it out,
                // so the session has to be written again to be paid for.
                if (!trustedRecord(rec) || !stops.counts(rec))
                    continue;
                const std::uint64_t id = storedSessionId(rec);
                if (id != 0 && ids.contains(id))
                    standing[id] += isReversalRecord(rec) ? -1 : 1;
            }
        },
        {}, from);
    if (!whole)
        throw IoError(IoError::ReadBeyondEnd);
    for (auto it = standing.cbegin(); it != standing.cend(); ++it)
        if (it.value() > 0)
            found.insert(it.key());
    return found;
}

} // namespace bilmeko
