// The cash desk's reads: a client's abonement balance (a pass over the
// whole journal), a shift's report (its own records only, wherever the
// shift lies in the journal) and the start's reading of the shift file
// with years of receipt numbers.

#include "bench.h"

#include "cashdesk/core/abonement.h"
#include "cashdesk/core/shiftbook.h"
#include "cashdesk/core/shiftreport.h"
#include "common/core/datetime.h"
#include "journal/core/logrecord.h"

#include <QDateTime>
#include <QFile>
#include <stdexcept>

using namespace bilmeko;
using namespace bilmeko::bench;

namespace {

// Five years of a busy desk: 110 records a day.
constexpr int Records = 200'000;
constexpr int ShiftRecords = 110;
constexpr int ReceiptLines = 100'000;

QString writeJournal()
{
    const QString path = scratchDir() + QStringLiteral("/Bilmeko.log");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the journal");
    QByteArray all;
    all.reserve(qsizetype(Records) * RecordSize);
    const DateTimeValue first = dateTimeValue(QDateTime(QDate(2021, 1, 1), QTime(9, 0)));
    for (int i = 0; i < Records; ++i) {
        LogRecord r;
        r.written = first + i / 110.0;
        r.pricePerMin = 10;
        r.elapsed = 30.0 / 1440;
        r.amount = 300;
        r.clientName = QStringLiteral("Клиент %1").arg(i % 5000);
        r.service = QStringLiteral("Солярий");
        r.status = QStringLiteral("Стоп");
        r.sessionId = quint64(i) + 1;
        r.payment = static_cast<Payment>(1 + i % 3);
        r.abonement = i % 50 == 0;
        RecordBytes b = serializeRecord(r);
        ScrambleRecord(b);
        sealRecord(b);
        all.append(b.data(), RecordSize);
    }
    f.write(all);
    return path;
}

} // namespace

BILMEKO_BENCH(cashdesk, "abonement balance over five years of journal, a shift's report, the shift file at start")
{
    const QString journal = writeJournal();
    figure(QStringLiteral("journal"), double(Records) * RecordSize / (1024 * 1024), QStringLiteral("MiB"));
    resetPeakMemory();
    qint64 left = 0;
    figure(QStringLiteral("abonement balance, whole journal"),
           best(5, [&] { left = abonementBalance(journal, QStringLiteral("Клиент 100")).left(); }));
    figure(QStringLiteral("abonement balance's peak memory"), peakMemoryMiB(), QStringLiteral("MiB"));

    Shift shift;
    shift.number = 1;
    shift.journalFrom = qint64(Records - ShiftRecords) * RecordSize;
    double expected = 0;
    figure(QStringLiteral("shift report, last of five years"),
           best(5, [&] { expected = summarizeShift(shift, journal).expectedCash(); }));

    // One line a receipt, a few shifts a day: years of a desk's numbers.
    const QString shifts = scratchDir() + QStringLiteral("/Bilmeko.shifts");
    {
        ShiftBook book(shifts);
        QFile f(shifts);
        if (!f.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write the shift file");
        book.load();
        book.open(QStringLiteral("Анна"), 0, 0);
        f.close();
        for (int i = 1; i <= 100; ++i)
            book.takeReceiptNumber({quint64(i), i, false}); // lines written as the program writes them
        const QByteArray sample = [&] {
            QFile r(shifts);
            r.open(QIODevice::ReadOnly);
            return r.readAll();
        }();
        QFile out(shifts);
        out.open(QIODevice::WriteOnly | QIODevice::Append);
        for (int k = 0; k < ReceiptLines / 100 - 1; ++k)
            out.write(sample.mid(sample.indexOf('\n') + 1)); // receipts again, numbers repeating: a larger file
    }
    resetPeakMemory();
    int last = 0;
    figure(QStringLiteral("shift file of 100 000 receipt lines, read at start"), best(3, [&] {
               ShiftBook book(shifts);
               book.load();
               last = book.lastReceiptNumber();
           }));
    figure(QStringLiteral("its peak memory"), peakMemoryMiB(), QStringLiteral("MiB"));
    if (left == 0 || expected == 0 || last == 0)
        throw std::runtime_error("the cash desk's figures came out empty");
}
