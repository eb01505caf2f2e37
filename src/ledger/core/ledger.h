#pragma once
// The central ledger: every desk's journal records in one PostgreSQL
// database, one row per record, exactly once.
//
// A desk gives (desk, offset in its journal, the 168 stored bytes); the
// server derives everything else of the row from those bytes in a
// trigger: the typed columns, the session id (an unsigned 64-bit id is
// kept as the signed bigint of the same bits: ids above 2^63 read
// negative), whether the record is a reversal and whether it counts (a
// reversal counts only against an earlier Stop of the same session from
// the same desk that no counted reversal took back), and the shipped time
// (the server's now()). A record is keyed by (desk, md5 of its bytes):
// only the same record collides, so a journal offered again, restored
// from a backup or replaced adds each record once, wherever it lies.
// Rows go in through a COPY (into a staging table and INSERT ... ON
// CONFLICT DO NOTHING when one is already there or row security forbids
// COPY). A per-(desk, day) summary is kept by a statement trigger in the
// same transaction as the rows.
//
// Rights, checked and set again by every init: a desk's login role
// (session_user, not a role it SET ROLEs to) adds its own records, reads
// them, and keeps its own rows of bilmeko.desks and bilmeko.running; the
// owner reads everything and writes nothing; nobody changes a record.

#include "pgconnection.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <cstdint>

namespace bilmeko {

namespace ledger {
// The schema this program creates and understands.
constexpr int SchemaVersion = 2;
// Records per COPY and transaction while catching up.
constexpr int BatchRecords = 20'000;
// Lines of the shift file per transaction.
constexpr int ShiftBatchLines = 5'000;
} // namespace ledger

struct InitOutcome
{
    int versionBefore = 0; // 0: there was no schema
    int versionAfter = 0;
    // Rows of version 1 the server cannot read (forged), kept aside in
    // bilmeko.records_v1 rather than dropped.
    qint64 keptAside = 0;
};
// Creates or migrates the schema (every row kept) and the roles
// bilmeko_desk and bilmeko_owner, then sets the grants, the policies and
// the desk roles' idle_in_transaction_session_timeout (60 s) again.
// Idempotent. upTo: the version to stop at (older versions are made only
// to be stepped up from). Throws LedgerError(Schema) for a schema newer
// than the program's.
InitOutcome initLedger(PgConnection &c, int upTo = ledger::SchemaVersion);

// The ledger's schema version, if it is one this program can ship to (1 or
// 2); throws LedgerError(Schema) with the operator's message otherwise.
int checkLedgerSchema(PgConnection &c);

// Where shipping a desk's journal resumes: the offset after the last record
// the ledger holds of the desk, if the journal still holds that record's
// bytes there; otherwise 0 (a journal replaced or cut: everything is
// offered again, and the keys keep it once).
// In version 2 the record is the one bilmeko.desks keeps for the desk.
qint64 resumeOffset(PgConnection &c, const QString &desk, const QString &journalPath,
                    int schema = ledger::SchemaVersion);

struct ShipOutcome
{
    qint64 nextOffset = 0; // where the next batch starts
    qint64 offered = 0; // whole records read
    qint64 inserted = 0; // rows the ledger did not hold yet
    qint64 damaged = 0; // records not shipped: checksum wrong or unreadable
    bool atEnd = false; // nothing more whole in the journal
};
// Ships the records from `offset` (up to maxRecords) in one transaction.
// Throws LedgerError; nothing of the batch is then in the ledger.
// schema: the ledger's version (a version-1 ledger gets the typed columns
// from the desk, as before).
ShipOutcome shipBatch(PgConnection &c, const QString &desk, const QString &journalPath, qint64 offset,
                      int maxRecords = ledger::BatchRecords, int schema = ledger::SchemaVersion);

// The desk's shift file (Bilmeko.shifts beside its journal), a row per
// line in bilmeko.shifts (version 2; init makes it on a version-2 ledger
// made without it): the desk gives (desk, the line's offset in the file,
// the line's bytes without its line end); the server checks the line's
// CRC-32 (a mismatch is refused) and derives the typed columns from it in
// a trigger. A line with a sound checksum it cannot read (a later
// program's kind) is kept with kind NULL, so no desk stops shipping on it.
// Keyed by (desk, md5 of the line): a file shipped again adds each line once.
//
// Whether the ledger keeps shifts (a version-1 one, or a version-2 one
// made before, does not: run init).
bool ledgerKeepsShifts(PgConnection &c);
// Where shipping the shift file resumes: after the last line shipped (kept
// in bilmeko.desks) if the file still holds it there, otherwise 0.
qint64 shiftResumeOffset(PgConnection &c, const QString &desk, const QString &shiftPath);
// Each desk's open shift (its latest opening or closing is an opening), by
// desk: one index probe a desk; none on a ledger that keeps no shifts.
// desks: a text[] literal of the desks to read, or null for all.
struct OpenShift
{
    int number = 0;
    QString operatorName;
};
QHash<QString, OpenShift> readOpenShifts(PgConnection &c, const QString &desks = QString());
// Ships the sound lines from `offset` (up to maxLines) in one transaction;
// damaged ones (a wrong checksum, a line of another program) are counted
// and left out, and a line cut short at the end waits. Throws Error.
ShipOutcome shipShiftBatch(PgConnection &c, const QString &desk, const QString &shiftPath, qint64 offset,
                           int maxLines = ledger::ShiftBatchLines);

// The COPY line of one stored record; empty when it is not shipped
// (damaged). Exposed for the benchmark, which feeds psql the same rows.
// recordCopyLine: (desk, journal_offset, raw) of version 2;
// ledgerCopyLine: every typed column, for a version-1 ledger.
QByteArray recordCopyLine(const QByteArray &deskField, const char *stored, qint64 offset);
QByteArray ledgerCopyLine(const QByteArray &deskField, const char *stored, qint64 offset);
// The desk name as a COPY text field.
QByteArray copyField(const QString &text);

// What bilmeko-ledger status shows of a desk, read from bilmeko.desks and
// the day summary (never a scan of the records).
struct DeskStatus
{
    QString desk;
    qint64 records = 0; // in the ledger
    QDateTime lastWritten; // the last record's time (local, as recorded)
    QDateTime lastSeen; // the desk's last update (the server's clock)
    qint64 pending = -1; // records the desk has not shipped yet; -1: unknown
    bool connected = false;
    QString version;
    int running = 0;
    int openShift = 0; // the shift open now by its shift file; 0: none (or not known)
    QString shiftOperator; // and its operator
};
QList<DeskStatus> ledgerStatus(PgConnection &c);

} // namespace bilmeko
