#pragma once
// The period report without any widget: which journal records belong to a
// period, the text lines listing them and the totals of money and time.
// The report keeps where its records lie in the journal, not their text:
// a line is formatted when it is shown, printed or exported.

#include "common/core/datetime.h"
#include "countedstops.h"
#include "journalsource.h"
#include "logrecord.h"
#include "reporttext.h"
#include "textlines.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace bilmeko {

// What one reading of a journal found: the listed records' totals (summed
// with more precision than a double keeps, so a million amounts and their
// reversals still add up to the kopeck) and the damage met.
struct ReportTotals
{
    long double amount = 0;
    long double time = 0; // in days
    qint64 listed = 0;
    qint64 leftOut = 0;
    // Listed reversals the sums leave out: no counted Stop of their session
    // stands before them (CountedStops).
    qint64 uncounted = 0;
    bool damaged = false;

    void add(const ReportTotals &o);
    // What the operator is told about damage; empty when there is none.
    QString damageMessage() const;
};

// How wide each Windows-1251 byte is drawn in the report's font (control
// characters as the blank they are shown as). The report measures its text
// columns with it while it reads, so the window need not format every line
// to fit its columns.
using CharWidths = std::array<float, 256>;

// The extremes of the listed values, for fitting columns without
// formatting every line.
struct ReportExtent
{
    double minPrice = 0, maxPrice = 0;
    double minAmount = 0, maxAmount = 0;
    // The widest client, service, note and status, in CharWidths units.
    std::array<float, 4> textWidths{};
    bool measured = false; // textWidths were taken with the widths given
};

class PeriodReport : public TextLines
{
public:
    PeriodReport();

    // Lines between the header and the totals.
    qsizetype recordCount() const;
    double amountTotal() const;
    long double timeTotal() const; // in days
    QString sumText() const; // LabelSum: the amount total as money text
    QString timeText() const; // LabelTime: H:M:S of the time total
    // The reading met something it could not take as a record: a fragment
    // at the end, a failing read, or records it cannot trust.
    bool damaged() const;
    // Records left out because the report cannot trust them: a date or a
    // number it cannot show, or a checksum present and wrong.
    qsizetype leftOut() const;
    // Whether the i-th listed record is in the totals: all are but a
    // reversal without its Stop, which is listed marked.
    bool counted(qsizetype i) const;
    // What the operator is told about damage; empty when there is none.
    QString damageMessage() const;
    const ReportExtent &extent() const;
    DateTimeValue dateBeg() const;
    DateTimeValue dateEnd() const;

    // The lines: the header, one per listed record, the totals.
    qsizetype lineCount() const override { return recordCount() + 2; }
    QString line(qsizetype n) const override;
    QString header() const;
    QString totalsLine() const;
    QString recordLine(qsizetype i) const;
    QStringList recordLines() const;
    QStringList lines() const;
    QString text() const;

    // The i-th listed record as the journal holds it, read again from the
    // journal (unscrambled; texts as stored, control characters included:
    // only the lines show them as blanks). False when the journal no longer holds what it
    // held when the report was built; `out` then carries only its date.
    bool readRecord(qsizetype i, LogRecord &out) const;
    LogRecord record(qsizetype i) const;
    DateTimeValue written(qsizetype i) const;
    // Every listed record in journal order, read a piece at a time (the
    // ones the totals leave out too: see counted()).
    void forEachSelected(const std::function<void(qsizetype i, const LogRecord &r)> &f) const;

    // Text column widths with other CharWidths than those of the reading:
    // one more pass over the listed records.
    std::array<float, 4> measureTexts(const CharWidths &widths) const;

    const ReportTotals &totals() const;
    // The i-th listed record's bytes, unscrambled, valid until the next
    // call; nullptr when the journal no longer holds what was listed.
    const char *plainRecord(qsizetype i) const { return recordBytes(i); }

    struct Data;
    explicit PeriodReport(std::shared_ptr<Data> data);

private:
    // The stored bytes of a listed record, unscrambled; nullptr when they
    // cannot be read or are no longer those that were listed.
    const char *recordBytes(qsizetype i) const;
    // Where the i-th listed record is now, as stored (scrambled, not
    // checked); nullptr when it cannot be read.
    const char *storedBytes(qsizetype i) const;

    std::shared_ptr<Data> d;
};

// Which records of a journal a period's report lists.
class RecordFilter
{
public:
    RecordFilter(DateTimeValue dateBeg, DateTimeValue dateEnd);
    enum Verdict { Outside, LeftOut, Listed };
    // From the stored bytes: outside the period, in it but untrusted, or
    // listed.
    Verdict judge(const char *stored) const;
    // Whether a record of zeros (a hole of a sparse file) would be listed.
    bool listsZeros() const;

private:
    double m_beg;
    double m_after;
};

// Reads a journal once, from its start to the length it had when opened,
// and gives every listed record (unscrambled) to `listed` in journal
// order, as it comes, with whether the totals count it: nothing of the
// records is kept.
ReportTotals streamPeriodReport(const JournalSource &source, DateTimeValue dateBeg, DateTimeValue dateEnd,
                                const std::function<void(const char *plain, bool counted)> &listed,
                                const ReadProgress &progress = {});

// Builds the report from journal bytes already in memory: records at offsets
// n * 168; a record belongs to the period when dateBeg <= Written <
// dateEnd + 1, wherever it stands in the journal. A trailing fragment is
// damage; records the report cannot trust are left out and counted.
PeriodReport buildPeriodReport(const QByteArray &journal, DateTimeValue dateBeg, DateTimeValue dateEnd,
                               const CharWidths *widths = nullptr);

// Opens the journal as the writer does (the existing file, or a new empty
// one; never truncated) and reads it whole, up to the length it had when
// opened. Throws IoError when the journal cannot be opened ("File access
// denied" for a read-only journal); a read failing later is damage like a
// fragment. The report keeps the file open to read its lines again.
PeriodReport buildPeriodReport(const QString &journalPath, DateTimeValue dateBeg, DateTimeValue dateEnd,
                               const CharWidths *widths = nullptr);

// The same for a reader that must not create or write anything: the
// journal opened for reading only; IoError when it cannot be.
PeriodReport readPeriodReport(const QString &journalPath, DateTimeValue dateBeg, DateTimeValue dateEnd);

} // namespace bilmeko
