#include "daytakings.h"

#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journal/core/journalsource.h"
#include "sessionboard.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace bilmeko {

void DayTakings::load(const QString &journalPath, const QDate &day)
{
    m_day = day;
    m_first = dateValue(day);
    m_sessions = 0;
    m_amount = 0;
    m_byMethod = {};
    m_read = 0;
    m_lastFinished.reset();
    m_stops = CountedStops();
    std::unique_ptr<FileSource> source;
    try {
        source = FileSource::openForReading(journalPath);
    } catch (const IoError &e) {
        if (e.code() == IoError::FileNotFound)
            return;
        throw;
    } catch (const Error &) {
        return; // not a file: the journal's own readers say what is wrong with it
    }

    // Back from the end to where OrderSlack records in a row are older
    // than the day: only the written times are looked at.
    static constexpr qint64 ChunkRecords = 256;
    std::vector<char> buffer(ChunkRecords * RecordSize);
    qint64 next = source->size() / RecordSize; // records before this one are still to read
    qint64 from = next;
    int older = 0;
    while (next > 0 && older < OrderSlack) {
        const qint64 count = std::min(next, ChunkRecords);
        next -= count;
        if (source->readAt(next * RecordSize, buffer.data(), count * RecordSize) != count * RecordSize)
            throw IoError(IoError::ReadBeyondEnd);
        m_read += count;
        for (qint64 k = count - 1; k >= 0 && older < OrderSlack; --k) {
            const double written = numberAt(buffer.data() + k * RecordSize, record::Written);
            from = next + k;
            if (written < m_first)
                ++older;
            else if (holds(written))
                older = 0;
        }
    }

    // Then forwards, as the report reads. The last counted record no
    // reversal took back is the last finished session; a few are kept in
    // case the last ones were taken back.
    static constexpr int Kept = 64;
    struct Finished
    {
        qint64 offset;
        std::uint64_t id;
    };
    std::vector<Finished> finished;
    int sessions = 0;
    double amount = 0;
    decltype(m_byMethod) byMethod{};
    const bool whole = scanJournal(
        *source, false,
        [&](const char *records, qint64 count, qint64 offset) {
            for (qint64 k = 0; k < count; ++k) {
                const char *rec = records + k * RecordSize;
                if (!trustedRecord(rec) || !m_stops.counts(rec))
                    continue;
                const bool reversal = isReversalRecord(rec);
                if (reversal) {
                    const std::uint64_t id = storedSessionId(rec);
                    for (auto it = finished.rbegin(); it != finished.rend(); ++it)
                        if (it->id == id) {
                            finished.erase(std::next(it).base());
                            break;
                        }
                } else {
                    if (finished.size() == Kept)
                        finished.erase(finished.begin());
                    finished.push_back({offset + k * RecordSize, storedSessionId(rec)});
                }
                if (holds(numberAt(rec, record::Written))) {
                    sessions += reversal ? -1 : 1;
                    const double a = numberAt(rec, record::Amount);
                    amount += a;
                    byMethod[static_cast<size_t>(storedPayment(rec))] += a;
                }
            }
        },
        {}, from * RecordSize);
    if (!whole)
        throw IoError(IoError::ReadBeyondEnd);
    m_sessions = sessions;
    m_amount = amount;
    m_byMethod = byMethod;
    if (!finished.empty()) {
        RecordBytes plain;
        if (source->readAt(finished.back().offset, plain.data(), RecordSize) == RecordSize) {
            ScrambleRecord(plain);
            m_lastFinished = finishedFromRecord(deserializeRecord(plain.data()));
        }
    }
}

void DayTakings::add(const LogRecord &record)
{
    if (!m_stops.counts(record) || !holds(record.written) || !saneMoney(record.amount))
        return;
    m_sessions += record.reversal ? -1 : 1;
    m_amount += record.amount;
    m_byMethod[static_cast<size_t>(record.payment) & 3] += record.amount;
}

RunningFigures runningFigures(const SessionBoard &board)
{
    RunningFigures f;
    const MemTable &log = board.curLog();
    for (int r = 0; r < log.rowCount(); ++r) {
        const MemTable::RowId id = log.rowId(r);
        const Session *s = board.session(id);
        if (!s)
            continue;
        ++f.sessions;
        f.owed += s->charge(std::min(board.elapsedMs(id), s->bookedMs), s->price).amount;
    }
    return f;
}

QString sessionsWord(int n)
{
    const int m = std::abs(n) % 100;
    if (m >= 11 && m <= 14)
        return QStringLiteral("сеансов");
    switch (m % 10) {
    case 1: return QStringLiteral("сеанс");
    case 2:
    case 3:
    case 4: return QStringLiteral("сеанса");
    default: return QStringLiteral("сеансов");
    }
}

QString takingsText(const DayTakings &day, const RunningFigures &running)
{
    const Formats &f = Formats::current();
    // Split by method once a method is known; a journal of old records
    // alone keeps the short text.
    QStringList methods;
    if (day.amount(Payment::Cash) != 0 || day.amount(Payment::Card) != 0 || day.amount(Payment::Transfer) != 0)
        for (Payment p : {Payment::Cash, Payment::Card, Payment::Transfer, Payment::Unknown})
            if (p == Payment::Cash || p == Payment::Card || day.amount(p) != 0)
                methods << paymentShortText(p) + QLatin1Char(' ') + f.currency2(day.amount(p));
    const QString split
        = methods.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(methods.join(QStringLiteral(", ")));
    return QStringLiteral("Сегодня: %1 %2, %3%4 · идут: %5, %6")
        .arg(day.sessions())
        .arg(sessionsWord(day.sessions()), f.currency2(day.amount()), split)
        .arg(running.sessions)
        .arg(f.currency2(running.owed));
}

} // namespace bilmeko
