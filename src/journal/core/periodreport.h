#pragma once
// The period report without any widget: which journal records belong to a
// period, the text lines listing them and the totals of money and time.

#include "common/core/datetime.h"
#include "logrecord.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace bilmeko {

struct PeriodReport
{
    // The whole text: the header, one line per listed record, the totals
    // line, joined with '\n' (no newline after the last line).
    QString text;
    int recordCount = 0;       // lines between the header and the totals
    double amountTotal = 0;    // sum of the listed amounts
    long double timeTotal = 0; // sum of the listed elapsed times, in days
    QString sumText;           // LabelSum: the amount total as money text
    QString timeText;          // LabelTime: H:M:S of the time total
    // The reading met something it could not take as a record (a fragment
    // at the end, a record whose values cannot be shown); the records listed
    // before it stay in the report.
    bool damaged = false;

    QString header() const;
    QString totalsLine() const;
    // The record lines only.
    QStringList recordLines() const;
    QStringList lines() const { return text.split(QLatin1Char('\n')); }
};

// "Время", three tabs, then the other nine column titles one tab apart.
QString reportHeader();
// One listed record (already unscrambled).
QString reportLine(const LogRecord &r);
// H:M:S of a time total in days: hours without a limit, minutes and seconds
// without leading zeros, the seconds cut off; a "-" in front of a negative
// total (26:3:4, -2:30:0).
QString hmsText(long double days);
// "Итог:    Сумма: <money>", a tab, "Время: <H:M:S>".
QString totalsText(double amount, long double days);

// Builds the report from journal bytes already in memory: records at offsets
// n * 168, a record belongs to the period when dateBeg <= Written <
// dateEnd + 1, the first record at or after dateEnd + 1 ends the reading.
// A trailing fragment reached by the reading is damage, and so is a listed
// record whose numbers cannot be shown (not finite, a date beyond the
// calendar, times or amounts of an absurd size): the reading ends there.
PeriodReport buildPeriodReport(const QByteArray &journal, DateTimeValue dateBeg,
                               DateTimeValue dateEnd);

// Opens the journal as the writer does (the existing file, or a new empty
// one; never truncated), takes its length and reads it from the start up to
// that length, record by record, until the first record after the period.
// Nothing else runs meanwhile (no message box, no tick), and what is
// appended after the opening is not read: the report is what the file held
// when it started. Throws IoError when the journal cannot be opened
// ("File access denied" for a read-only journal); a read failing later is
// damage like a fragment.
PeriodReport buildPeriodReport(const QString &journalPath, DateTimeValue dateBeg,
                               DateTimeValue dateEnd);

// The money text of the report, as Formats::money, written without any
// allocation; returns the number of characters (at most MoneyTextMax).
constexpr int MoneyTextMax = 48;
int writeMoney(double v, char16_t *out);

} // namespace bilmeko
