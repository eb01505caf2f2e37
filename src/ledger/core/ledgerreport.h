#pragma once
// The period report over the ledger: the records of a period, of all desks
// or of those named, selected and summed by the database (the index on the
// written time does the selection). The lines are the journal report's,
// the desk added as the last column; the totals are the database's sums
// over numeric money and interval times of exactly the rows listed, a
// reversal that counts against no Stop (the server marks it) listed and
// not summed.

#include "pgconnection.h"

#include "common/core/datetime.h"
#include "journal/core/logrecord.h"
#include "journal/core/reporttext.h"

#include <QStringList>
#include <functional>

namespace bilmeko {

struct LedgerTotals
{
    qint64 records = 0;
    double amount = 0;
    long double days = 0; // the time total
};

// Rows come in desk order, each desk's in journal order, a piece at a
// time (memory stays small whatever the period), as the record's
// unscrambled bytes. `row` returning false stops the reading. Read in one
// snapshot, so rows and totals agree.
LedgerTotals ledgerReport(PgConnection &c, DateTimeValue dateBeg, DateTimeValue dateEnd, const QStringList &desks,
                          const std::function<bool(const QString &desk, const char *plain)> &row);

// The report as bilmeko-report prints it over journal files, the desk in
// the last column: text (header, lines, totals) or CSV (no totals row).
// Throws LedgerError; false when the device refused the bytes.
bool writeLedgerReport(ByteOutput &out, PgConnection &c, DateTimeValue dateBeg, DateTimeValue dateEnd,
                       const QStringList &desks, bool csv);

// The last column's title.
QString deskColumnTitle();

} // namespace bilmeko
