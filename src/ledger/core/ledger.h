#pragma once
// The central ledger: every desk's journal records in one PostgreSQL
// database, one row per record, exactly once.
//
// A row holds the record's fields as typed columns, the desk, the session
// id, the record's offset in its journal and the 168 stored bytes. A record
// is identified by (desk, session id), an old record without an id by
// (desk, offset); rows go in through a COPY into a staging table and an
// INSERT ... ON CONFLICT DO NOTHING, so shipping the same records again
// adds nothing. The schema is versioned; a desk role may insert its own
// desk's rows only (the desk is the role's name) and change none.

#include "pgconnection.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <cstdint>

namespace bilmeko {

namespace ledger {
// The schema this program creates and understands.
constexpr int SchemaVersion = 1;
// Records per COPY and transaction while catching up.
constexpr int BatchRecords = 20'000;
} // namespace ledger

struct InitOutcome
{
    int versionBefore = 0; // 0: there was no schema
    int versionAfter = 0;
};
// Creates or migrates the schema and the roles bilmeko_desk and
// bilmeko_owner. A second run changes nothing. Throws LedgerError(Schema)
// for a schema newer than the program's.
InitOutcome initLedger(PgConnection &c);

// Checks that the ledger's schema is one this program can ship to; throws
// LedgerError(Schema) with the operator's message otherwise.
void checkLedgerSchema(PgConnection &c);

// Where shipping a desk's journal resumes: the offset after the last record
// the ledger holds of the desk, if the journal still holds that record's
// bytes there; otherwise 0 (a journal replaced or cut: everything is
// offered again, and the keys keep it once).
qint64 resumeOffset(PgConnection &c, const QString &desk, const QString &journalPath);

struct ShipOutcome
{
    qint64 nextOffset = 0; // where the next batch starts
    qint64 offered = 0;    // whole records read
    qint64 inserted = 0;   // rows the ledger did not hold yet
    qint64 damaged = 0;    // records not shipped: checksum wrong or unreadable
    bool atEnd = false;    // nothing more whole in the journal
};
// Ships the records from `offset` (up to maxRecords) in one transaction.
// Throws LedgerError; nothing of the batch is then in the ledger.
ShipOutcome shipBatch(PgConnection &c, const QString &desk, const QString &journalPath, qint64 offset,
                      int maxRecords = ledger::BatchRecords);

// The COPY line of one stored record (without the desk); empty when it is
// not shipped (damaged). Exposed for the benchmark, which feeds psql the
// same rows.
QByteArray ledgerCopyLine(const QByteArray &deskField, const char *stored, qint64 offset);
// The desk name as a COPY text field.
QByteArray copyField(const QString &text);

struct DeskStatus
{
    QString desk;
    qint64 records = 0;
    QDateTime lastWritten; // the last record's time (local, as recorded)
    QDateTime lastShipped;
};
QList<DeskStatus> ledgerStatus(PgConnection &c);

} // namespace bilmeko
