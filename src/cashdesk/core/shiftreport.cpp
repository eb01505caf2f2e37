#include "shiftreport.h"

#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journal/core/countedstops.h"
#include "journal/core/periodreport.h"

#include <QDateTime>
#include <QDir>
#include <cmath>
#include <cstring>

namespace bilmeko {

double ShiftSummary::expectedCash() const
{
    const auto cash = static_cast<size_t>(Payment::Cash);
    return shift.openingCash + takings[cash] + reversed[cash];
}

double ShiftSummary::total() const
{
    double t = 0;
    for (int m = 0; m < PaymentCount; ++m)
        t += takings[static_cast<size_t>(m)] + reversed[static_cast<size_t>(m)];
    return t;
}

ShiftSummary summarizeShift(const Shift &shift, const JournalSource &journal)
{
    ShiftSummary s;
    s.shift = shift;
    const qint64 from = std::min(shift.journalFrom, journal.size());
    const qint64 to = shift.closed ? std::min(shift.journalTo, journal.size()) : journal.size();
    static constexpr qint64 Chunk = 512;
    std::vector<char> buffer(static_cast<size_t>(Chunk * RecordSize));
    // A Stop undone after the shift was opened lies before it: the Stops of
    // the records before the shift (as many as an undo can reach back) are
    // remembered, not summed.
    CountedStops stops;
    const qint64 before = std::max<qint64>(from - qint64(CountedStops::GenerationStops) * RecordSize, 0);
    for (qint64 at = before; at + RecordSize <= to;) {
        const qint64 want = std::min<qint64>((to - at) / RecordSize, Chunk) * RecordSize;
        const qint64 got = journal.readAt(at, buffer.data(), want);
        if (got < RecordSize)
            break;
        const qint64 whole = got / RecordSize;
        for (qint64 k = 0; k < whole; ++k) {
            const char *stored = buffer.data() + k * RecordSize;
            if (at + k * RecordSize < from) {
                if (trustedRecord(stored))
                    stops.counts(stored);
                continue;
            }
            if (!trustedRecord(stored)) {
                ++s.damaged;
                continue;
            }
            if (!stops.counts(stored)) {
                ++s.uncounted;
                continue;
            }
            RecordBytes plain;
            std::memcpy(plain.data(), stored, RecordSize);
            ScrambleRecord(plain);
            const LogRecord r = deserializeRecord(plain.data());
            const auto m = static_cast<size_t>(r.payment);
            if (r.reversal) {
                s.reversed[m] += r.amount;
                s.reversals.append({r.written, r.clientName, r.amount, r.payment});
            } else {
                s.takings[m] += r.amount;
            }
            const int sign = r.reversal ? -1 : 1;
            if (r.abonement && r.status == QStringLiteral("Абонемент")) {
                s.abonementSales += sign;
                s.abonementAmount += r.amount;
                continue;
            }
            s.sessions += sign;
            s.minutes += sign * (roundToMs(std::fabs(r.elapsed)) / MsPerMinute);
        }
        at += whole * RecordSize;
    }
    return s;
}

ShiftSummary summarizeShift(const Shift &shift, const QString &journalPath)
{
    if (!QFile::exists(journalPath)) {
        ShiftSummary s;
        s.shift = shift;
        return s;
    }
    try {
        const auto source = FileSource::openForReading(journalPath);
        return summarizeShift(shift, *source);
    } catch (const Error &e) {
        throw Error(
            QStringLiteral("Журнал \"%1\" не прочитан: %2").arg(QDir::toNativeSeparators(journalPath), e.message()));
    }
}

QString ShiftSlip::text() const
{
    QStringList out{title};
    for (const auto &[label, value] : lines)
        out << (value.isEmpty() ? label : label + QStringLiteral(": ") + value);
    return out.join(QLatin1Char('\n'));
}

ShiftSlip shiftSlip(const ShiftSummary &s, const QString &desk)
{
    const Formats &fm = Formats::current();
    const auto when = [&fm](std::int64_t utcMs) {
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(utcMs);
        return fm.dateText(t.date()) + QLatin1Char(' ') + fm.timeText(t.time());
    };
    ShiftSlip slip;
    slip.title = QStringLiteral("Отчет о смене %1").arg(s.shift.number);
    auto &l = slip.lines;
    l.append({QStringLiteral("Касса"), desk});
    l.append({QStringLiteral("Оператор"), s.shift.operatorName});
    l.append({QStringLiteral("Открыта"), when(s.shift.openedUtcMs)});
    l.append({QStringLiteral("Закрыта"), s.shift.closed ? when(s.shift.closedUtcMs) : QStringLiteral("идет")});
    l.append({QStringLiteral("Сеансов"), QString::number(s.sessions)});
    l.append({QStringLiteral("Минут"), QString::number(s.minutes)});
    if (s.abonementSales != 0)
        l.append({QStringLiteral("Абонементов продано"),
                  QStringLiteral("%1 на %2").arg(s.abonementSales).arg(fm.currency2(s.abonementAmount))});
    for (Payment p : {Payment::Cash, Payment::Card, Payment::Transfer, Payment::Unknown}) {
        const auto m = static_cast<size_t>(p);
        if (p == Payment::Unknown && s.takings[m] == 0 && s.reversed[m] == 0)
            continue;
        l.append({QStringLiteral("Выручка, %1").arg(paymentText(p)), fm.currency2(s.takings[m])});
    }
    l.append({QStringLiteral("Отмены"), QString::number(s.reversals.size())});
    for (const ShiftReversal &r : s.reversals)
        l.append({QStringLiteral("  %1 %2").arg(fm.timeText(r.written), r.client),
                  QStringLiteral("%1, %2").arg(fm.currency2(r.amount), paymentText(r.payment))});
    l.append({QStringLiteral("Итого"), fm.currency2(s.total())});
    l.append({QStringLiteral("Наличные на начало"), fm.currency2(s.shift.openingCash)});
    l.append({QStringLiteral("Наличные по расчету"), fm.currency2(s.expectedCash())});
    if (s.shift.closed && std::isfinite(s.shift.countedCash)) {
        l.append({QStringLiteral("Наличные по факту"), fm.currency2(s.shift.countedCash)});
        l.append({QStringLiteral("Расхождение"), fm.currency2(s.shift.countedCash - s.expectedCash())});
    }
    if (s.damaged > 0)
        l.append({QStringLiteral("Повреждено записей"), QString::number(s.damaged)});
    if (s.uncounted > 0)
        l.append({QStringLiteral("Отмен без своего стопа"), QString::number(s.uncounted)});
    return slip;
}

} // namespace bilmeko
