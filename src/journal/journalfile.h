#pragma once
// Appending to the journal: open (or create) without ever truncating,
// position at the whole-record count so a trailing fragment is overwritten,
// write 168 bytes, flush them to the disk, close.

#include "logrecord.h"

#include <QString>

namespace bilmeko {

// Appends one record (scrambled here). Returns only after the record is on
// the disk; throws IoError with the standard message otherwise.
void appendJournalRecord(const QString &path, const LogRecord &r);

} // namespace bilmeko
