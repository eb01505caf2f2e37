#pragma once
// Appending to the journal: open (or create) without ever truncating, take
// the file's exclusive lock, position at the whole-record count so a
// trailing fragment is overwritten, write 168 bytes, flush them to the
// disk (and, for the first record, the folder), close. The lock makes measuring and writing one step even against
// another program appending to the same file.

#include "logrecord.h"

#include <QSet>
#include <QString>
#include <cstdint>

namespace bilmeko {

// The journal opened as every journal operation opens it: the existing file
// for reading and writing, or a new empty one; never truncated. Throws
// IoError with the standard message when it cannot be opened.
class JournalFile
{
public:
    explicit JournalFile(const QString &path);
    ~JournalFile();
    JournalFile(const JournalFile &) = delete;
    JournalFile &operator=(const JournalFile &) = delete;

    int fd() const { return m_fd; }
    // The length when it was opened, or when the lock was taken.
    qint64 size() const { return m_size; }
    // Takes the exclusive lock (flock) that every appender takes, waiting a
    // short while for another holder; then measures the file again. Throws
    // IoError "File access denied" when the lock stays taken.
    void lockExclusive();
    // Closes it (which drops the lock); false when the close reports an error.
    bool close();

private:
    int m_fd = -1;
    qint64 m_size = 0;
};

// Appends one record (scrambled and sealed here). Returns only after the
// record is on the disk, with the offset it was written at; throws IoError
// with the standard message otherwise. Once the record is flushed it
// counts as written: an error reported by the close after that is not a
// failure of the append.
qint64 appendJournalRecord(const QString &path, const LogRecord &r);

// The journal's length in bytes now; 0 for a missing journal, -1 when it
// cannot be told.
qint64 journalLength(const QString &path);

// Which of the given session identifiers already have a record in the
// journal that stands: counted records minus counted reversals above zero
// (CountedStops: a reversal takes back only an earlier counted record of
// its session), so a session stopped, taken back and not yet stopped again
// counts as not written. Looks at the records from `from` on (the
// journal's length when none of these sessions could have a record yet);
// a journal shorter than that is read whole and `*shorter` is set. Reads
// the file in pieces, so memory stays small whatever its size. A missing
// journal holds none. Throws Error when it cannot be read.
QSet<std::uint64_t> journalSessionsAmong(const QString &path, const QSet<std::uint64_t> &ids, qint64 from = 0,
                                         bool *shorter = nullptr);

} // namespace bilmeko
