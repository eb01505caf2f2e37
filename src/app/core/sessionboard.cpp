#include "sessionboard.h"

#include "common/core/clock.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journal/core/journalfile.h"
#include "journal/core/logrecord.h"

#include <QScopeGuard>
#include <algorithm>

namespace bilmeko {

namespace {

QList<FieldDef> curLogFields()
{
    using namespace curlog;
    return {
        {FIO, FieldKind::Text, TextMax},
        {Price, FieldKind::Money, 0},
        {TBeg, FieldKind::Time, 0},
        {TEnd, FieldKind::Time, 0},
        {TLeft, FieldKind::Time, 0},
        {Summ, FieldKind::Money, 0},
        {Describe, FieldKind::Text, TextMax},
        {PItem, FieldKind::Text, TextMax},
        {DBeg, FieldKind::DateTime, 0},
        {DEnd, FieldKind::DateTime, 0},
    };
}

std::int64_t durationMs(int hours, int minutes)
{
    if (hours < 0)
        throw Error::invalidInteger(QString::number(hours));
    if (minutes < 0)
        throw Error::invalidInteger(QString::number(minutes));
    return (static_cast<std::int64_t>(hours) * 60 + minutes) * MsPerMinute;
}

DateTimeValue msValue(std::int64_t ms)
{
    return static_cast<double>(ms) / MsPerDay;
}

} // namespace

MinuteCharge minuteCharge(std::int64_t elapsedMs, double pricePerMinute)
{
    MinuteCharge c;
    c.minutes = std::max<std::int64_t>(elapsedMs, 0) / MsPerMinute;
    c.amount = static_cast<double>(c.minutes) * pricePerMinute;
    return c;
}

QString elapsedText(std::int64_t elapsedMs)
{
    const std::int64_t ms = std::max<std::int64_t>(elapsedMs, 0);
    if (ms < MsPerDay)
        return Formats::current().timeText(QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
    const std::int64_t secs = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(secs / 3600)
        .arg((secs / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(secs % 60, 2, 10, QLatin1Char('0'));
}

SessionBoard::SessionBoard(QString journalPath, QObject *parent)
    : QObject(parent), m_curLog(new MemTable(curLogFields(), this)),
      m_journalPath(std::move(journalPath))
{
    m_curLog->setObjectName(QStringLiteral("CurLog"));
}

MemTable::RowId SessionBoard::addSession(const QString &client, const QString &note,
                                         const QString &service, double pricePerMinute, int hours,
                                         int minutes)
{
    using namespace curlog;
    const std::int64_t dur = durationMs(hours, minutes);
    const std::int64_t begMs = roundToMs(Clock::current().nowValue());
    const std::int64_t endMs = begMs + dur;

    MemTable &t = *m_curLog;
    t.insertRow();
    t.setField(FIO, client);
    t.setField(Price, pricePerMinute);
    t.setField(TBeg, msValue(begMs));
    t.setField(TEnd, msValue(endMs));
    t.setField(TLeft, msValue(dur));
    t.setField(Summ, 0.0);
    t.setField(Describe, note);
    t.setField(PItem, service);
    t.setField(DBeg, msValue(begMs));
    t.setField(DEnd, msValue(endMs));
    return t.currentId();
}

bool SessionBoard::extendSession(MemTable::RowId row, int hours, int minutes)
{
    using namespace curlog;
    MemTable &t = *m_curLog;
    const int at = t.rowOf(row);
    if (at < 0)
        return false;
    const std::int64_t dur = durationMs(hours, minutes);
    const std::int64_t endMs = roundToMs(t.value(at, t.fieldIndex(DEnd)).toDouble()) + dur;
    const std::int64_t nowMs = roundToMs(Clock::current().nowValue());
    t.setValue(at, t.fieldIndex(DEnd), msValue(endMs));
    t.setValue(at, t.fieldIndex(TEnd), msValue(endMs));
    // An end already passed leaves no time, not the time since it passed.
    t.setValue(at, t.fieldIndex(TLeft), msValue(std::max<std::int64_t>(endMs - nowMs, 0)));
    return true;
}

bool SessionBoard::stopSession(MemTable::RowId row)
{
    const int at = m_curLog->rowOf(row);
    if (at < 0)
        return false;
    m_curLog->setCurrentRow(at);
    endCurrentSession(StatusStop);
    return true;
}

void SessionBoard::tick()
{
    // A tick arriving while the error box of another tick is open would stack
    // a new box every 20 s on an unattended desk.
    if (m_ticking)
        return;
    m_ticking = true;
    const auto done = qScopeGuard([this] { m_ticking = false; });

    guard([this] {
        using namespace curlog;
        MemTable &t = *m_curLog;
        t.holdUpdates();
        const MemTable::RowId remembered = t.currentId();
        // Runs on the error path too, before the error box appears.
        const auto restore = qScopeGuard([&t, remembered] {
            t.restoreCurrent(remembered);
            t.resumeUpdates();
        });

        // One moment for the whole walk: every row of a tick is judged and
        // billed at the same time.
        const DateTimeValue now = Clock::current().nowValue();
        const std::int64_t nowMs = roundToMs(now);
        t.first();
        while (!t.eof()) {
            const std::int64_t endMs = roundToMs(t.number(DEnd));
            if (nowMs >= endMs) {
                // Deleting the row makes the following one current (or ends
                // the walk after the last row).
                endSessionAt(StatusTimeUp, now);
                continue;
            }
            const MinuteCharge charge = minuteCharge(elapsedMsAt(now), t.number(Price));
            t.setField(TLeft, msValue(endMs - nowMs));
            t.setField(Summ, charge.amount);
            t.next();
        }
    });
}

void SessionBoard::endCurrentSession(const QString &status)
{
    endSessionAt(status, Clock::current().nowValue());
}

void SessionBoard::endSessionAt(const QString &status, DateTimeValue now)
{
    using namespace curlog;
    requireCurrent();
    MemTable &t = *m_curLog;
    const std::int64_t elapsed = elapsedMsAt(now);
    const MinuteCharge charge = minuteCharge(elapsed, t.number(Price));

    if (m_noticeHook) {
        Notice n;
        n.customer = t.text(FIO);
        n.stat = QStringLiteral("Время: ") + elapsedText(elapsed) + QStringLiteral(" Сумма: ")
                 + Formats::current().currency2(charge.amount);
        n.caption = QStringLiteral("Время: ") + Formats::current().timeText(now);
        m_noticeHook(n);
    }
    appendToJournalAt(status, now);
    t.deleteRow();
}

void SessionBoard::appendToJournal(const QString &status)
{
    appendToJournalAt(status, Clock::current().nowValue());
}

void SessionBoard::appendToJournalAt(const QString &status, DateTimeValue now)
{
    using namespace curlog;
    requireCurrent();
    const MemTable &t = *m_curLog;
    const std::int64_t elapsed = std::max<std::int64_t>(elapsedMsAt(now), 0);

    LogRecord r;
    r.written = now;
    r.pricePerMin = t.number(Price);
    r.startTime = t.number(TBeg);
    r.elapsed = msValue(elapsed);
    r.endTime = msToTimeValue(timeOfDayMs(now));
    r.amount = minuteCharge(elapsed, r.pricePerMin).amount;
    r.clientName = t.text(FIO);
    r.service = t.text(PItem);
    r.note = t.text(Describe);
    r.status = status;
    appendJournalRecord(m_journalPath, r);
}

std::int64_t SessionBoard::elapsedMsAt(DateTimeValue now) const
{
    return roundToMs(now) - roundToMs(m_curLog->number(curlog::DBeg));
}

void SessionBoard::requireCurrent() const
{
    if (m_curLog->currentRow() < 0)
        throw Error(QStringLiteral("No current record"));
}

} // namespace bilmeko
