#pragma once
// Appending to the journal: open (or create) without ever truncating,
// position at the whole-record count so a trailing fragment is overwritten,
// write 168 bytes, flush them to the disk, close.

#include "logrecord.h"

#include <QString>

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
    // The length when it was opened.
    qint64 size() const { return m_size; }
    // Closes it; false when the close reports a (late write) error.
    bool close();

private:
    int m_fd = -1;
    qint64 m_size = 0;
};

// Appends one record (scrambled here). Returns only after the record is on
// the disk; throws IoError with the standard message otherwise.
void appendJournalRecord(const QString &path, const LogRecord &r);

} // namespace bilmeko
