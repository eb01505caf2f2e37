#pragma once
// What a shift took in: its journal records (those written while it was
// open, see ShiftBook) summed by payment method, its reversals one by one,
// and the cash the drawer should hold. Read from the journal each time,
// never kept apart from it, so the figures cannot drift from the records.

#include "journal/core/journalsource.h"
#include "journal/core/logrecord.h"
#include "shiftbook.h"

#include <QList>
#include <QString>
#include <array>
#include <utility>

namespace bilmeko {

struct ShiftReversal
{
    DateTimeValue written = 0; // the time of the Stop it takes back
    QString client;
    double amount = 0; // negative
    Payment payment = Payment::Unknown;
};

struct ShiftSummary
{
    Shift shift;
    int sessions = 0; // finished sessions, those taken back not counted
    qint64 minutes = 0; // their charged minutes
    // Money in, by method (index: Payment's value); reversals apart.
    std::array<double, PaymentCount> takings{};
    std::array<double, PaymentCount> reversed{}; // negative
    QList<ShiftReversal> reversals;
    int abonementSales = 0; // counted in the takings too
    double abonementAmount = 0;
    int damaged = 0; // records left out: a checksum or a number wrong
    // Reversals left out: they take back no Stop the sums count (see
    // CountedStops), as the period report leaves them out.
    int uncounted = 0;

    // Opening cash + cash takings − cash of reversals.
    double expectedCash() const;
    double total() const;
};

// The shift's records: from its opening length to its closing one (to the
// journal's end while it is open). A record that cannot be trusted is left
// out and counted.
ShiftSummary summarizeShift(const Shift &shift, const JournalSource &journal);
// The same from the journal file; throws Error naming it when it cannot be
// read. A missing journal holds nothing.
ShiftSummary summarizeShift(const Shift &shift, const QString &journalPath);

// The shift report as label and value lines, for the receipt printer, its
// PDF and the window: heading lines first. `counted` is the cash counted
// at the close (the report of an open shift has none).
struct ShiftSlip
{
    QString title;
    QList<std::pair<QString, QString>> lines;
    QString text() const;
};
ShiftSlip shiftSlip(const ShiftSummary &summary, const QString &desk);

} // namespace bilmeko
