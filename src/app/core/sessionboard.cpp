#include "sessionboard.h"

#include "cashdesk/core/abonement.h"
#include "common/core/atomicfile.h"
#include "common/core/clock.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journal/core/journalfile.h"
#include "journal/core/logrecord.h"
#include "prices/core/pricetable.h"

#include <QDir>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <algorithm>
#include <cmath>

namespace bilmeko {

namespace {

QList<FieldDef> curLogFields()
{
    using namespace curlog;
    return {
        {FIO, FieldKind::Text, TextMax},      {Price, FieldKind::Money, 0},      {TBeg, FieldKind::Time, 0},
        {TEnd, FieldKind::Time, 0},           {TLeft, FieldKind::Time, 0},       {Summ, FieldKind::Money, 0},
        {Describe, FieldKind::Text, TextMax}, {PItem, FieldKind::Text, TextMax}, {DBeg, FieldKind::DateTime, 0},
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

// The local date-time of an instant, as the grid and the journal show it.
DateTimeValue localValue(std::int64_t utcMs)
{
    return dateTimeValue(QDateTime::fromMSecsSinceEpoch(utcMs));
}

// Why a session read back from the state file cannot be a real one; empty
// when it can. The wall clock is no judge: it may have been set back since.
QString restoredProblem(const SavedSession &s)
{
    if (!isValidPrice(s.price))
        return QStringLiteral("цена %1 вне пределов от 0 до %2")
            .arg(QString::number(s.price, 'g', 6), Formats::generalNumber(MaxPricePerMinute));
    if (s.bookedMs > SessionBoard::MaxBookedMs)
        return QStringLiteral("назначено %1 ч, больше %2 ч")
            .arg(s.bookedMs / (60 * MsPerMinute))
            .arg(SessionBoard::MaxBookedMs / (60 * MsPerMinute));
    return QString();
}

// A text from a file as a message shows it: at most 60 characters.
QString shownName(const QString &text)
{
    constexpr qsizetype Max = 60;
    if (text.size() <= Max)
        return text;
    // Not between the halves of a pair.
    const qsizetype cut = text.at(Max - 1).isHighSurrogate() ? Max - 1 : Max;
    return text.left(cut) + QChar(0x2026);
}

// A text as the grid keeps it.
QString gridText(const QString &text)
{
    return text.left(curlog::TextMax);
}

QString sessionName(const SavedSession &s)
{
    return QStringLiteral("«%1» (%2)").arg(shownName(s.client), shownName(s.service));
}

} // namespace

std::int64_t Session::pauseMs(std::int64_t mono) const
{
    return pausedMs + (paused ? std::max<std::int64_t>(mono - pauseStartMonoMs, 0) : 0);
}

std::int64_t Session::runMs(std::int64_t mono) const
{
    return std::max<std::int64_t>(mono - startMonoMs - pauseMs(mono), 0);
}

MinuteCharge Session::charge(std::int64_t chargedMs, double pricePerMinute) const
{
    MinuteCharge c = minuteCharge(chargedMs, pricePerMinute);
    if (abonement)
        c.amount = 0;
    return c;
}

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

QString endedAwayText(const QList<EndedAway> &ended)
{
    if (ended.isEmpty())
        return QString();
    QString text = QStringLiteral("Пока программа не работала, закончилось время сеансов "
                                  "(записаны в журнал с концом в назначенное время):");
    const Formats &f = Formats::current();
    for (const EndedAway &e : ended)
        text += QStringLiteral("\n%1 (%2): конец %3 %4, %5 мин, %6")
                    .arg(e.client, e.service, f.dateText(e.end), f.timeText(e.end))
                    .arg(e.minutes)
                    .arg(f.currency2(e.amount));
    return text;
}

SessionBoard::SessionBoard(QString journalPath, QObject *parent)
    : QObject(parent), m_curLog(new MemTable(curLogFields(), this)), m_journalPath(std::move(journalPath))
{
    m_curLog->setObjectName(QStringLiteral("CurLog"));
}

const Session *SessionBoard::session(MemTable::RowId row) const
{
    const auto it = m_sessions.find(row);
    return it == m_sessions.end() ? nullptr : &it->second;
}

std::int64_t SessionBoard::elapsedMs(MemTable::RowId row) const
{
    const Session *s = session(row);
    if (!s)
        return 0;
    return s->runMs(Clock::current().monotonicMs());
}

bool SessionBoard::isPaused(MemTable::RowId row) const
{
    const Session *s = session(row);
    return s && s->paused;
}

void SessionBoard::fillTimes(int row, const Session &s, std::int64_t elapsed)
{
    using namespace curlog;
    MemTable &t = *m_curLog;
    const DateTimeValue beg = localValue(s.startUtcMs);
    // The booked end moves later by every pause.
    const DateTimeValue end = localValue(s.startUtcMs + s.bookedMs + s.pauseMs(Clock::current().monotonicMs()));
    t.setValue(row, t.fieldIndex(TBeg), beg);
    t.setValue(row, t.fieldIndex(TEnd), end);
    t.setValue(row, t.fieldIndex(DBeg), beg);
    t.setValue(row, t.fieldIndex(DEnd), end);
    // An end already passed leaves no time, not the time since it passed.
    t.setValue(row, t.fieldIndex(TLeft), msValue(std::max<std::int64_t>(s.bookedMs - elapsed, 0)));
}

void SessionBoard::writeRow(int row, const Session &s, std::int64_t elapsed)
{
    using namespace curlog;
    MemTable &t = *m_curLog;
    t.setValue(row, t.fieldIndex(FIO), s.client);
    t.setValue(row, t.fieldIndex(Price), s.price);
    t.setValue(row, t.fieldIndex(Describe), s.note);
    t.setValue(row, t.fieldIndex(PItem), s.service);
    t.setValue(row, t.fieldIndex(Summ), s.charge(std::min(elapsed, s.bookedMs), s.price).amount);
    fillTimes(row, s, elapsed);
}

MemTable::RowId SessionBoard::addSession(const QString &client, const QString &note, const QString &service,
                                         double pricePerMinute, int hours, int minutes, Payment payment, bool abonement)
{
    using namespace curlog;
    const std::int64_t dur = durationMs(hours, minutes);
    if (dur > MaxBookedMs)
        throw Error(QStringLiteral("Сеанс не может длиться дольше %1 ч.").arg(MaxBookedMs / (60 * MsPerMinute)));
    if (!isValidPrice(pricePerMinute))
        throw Error(QStringLiteral("Цена %1 вне пределов от 0 до %2.")
                        .arg(QString::number(pricePerMinute, 'g', 6), Formats::generalNumber(MaxPricePerMinute)));
    const Clock &clock = Clock::current();

    Session s;
    do {
        s.id = QRandomGenerator::system()->generate64();
    } while (s.id == 0
             || std::any_of(m_sessions.begin(), m_sessions.end(), [&](const auto &e) { return e.second.id == s.id; }));
    s.startUtcMs = clock.now().toMSecsSinceEpoch();
    s.startMonoMs = clock.monotonicMs();
    s.bookedMs = dur;
    s.payment = payment;
    s.abonement = abonement;
    s.client = gridText(client);
    s.service = gridText(service);
    s.note = gridText(note);
    s.price = pricePerMinute;

    MemTable &t = *m_curLog;
    const MemTable::RowId before = t.currentId();
    const int row = t.insertRow();
    const MemTable::RowId id = t.currentId();
    writeRow(row, s, 0);
    m_sessions.emplace(id, s);
    try {
        saveState();
    } catch (...) {
        // Not on the disk: not started.
        forget(id);
        t.deleteRowAt(t.rowOf(id));
        t.restoreCurrent(before);
        throw;
    }
    return id;
}

bool SessionBoard::extendSession(MemTable::RowId row, int hours, int minutes)
{
    MemTable &t = *m_curLog;
    const int at = t.rowOf(row);
    if (at < 0 || !m_sessions.count(row))
        return false;
    const std::int64_t dur = durationMs(hours, minutes);
    Session &s = m_sessions.at(row);
    if (s.bookedMs + dur > MaxBookedMs)
        throw Error(QStringLiteral("Сеанс «%1» не может длиться дольше %2 ч.")
                        .arg(s.client)
                        .arg(MaxBookedMs / (60 * MsPerMinute)));
    const Session old = s;
    s.bookedMs += dur;
    m_lines.erase(row);
    try {
        saveState();
    } catch (...) {
        s = old;
        m_lines.erase(row);
        throw;
    }
    fillTimes(at, s, elapsedMs(row));
    return true;
}

bool SessionBoard::setPayment(MemTable::RowId row, Payment payment)
{
    const auto it = m_sessions.find(row);
    if (m_curLog->rowOf(row) < 0 || it == m_sessions.end())
        return false;
    const Payment old = it->second.payment;
    it->second.payment = payment;
    m_lines.erase(row);
    try {
        saveState();
    } catch (...) {
        it->second.payment = old;
        m_lines.erase(row);
        throw;
    }
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

bool SessionBoard::togglePause(MemTable::RowId row)
{
    const int at = m_curLog->rowOf(row);
    if (at < 0 || !m_sessions.count(row))
        return false;
    Session &s = m_sessions.at(row);
    const Session old = s;
    const Clock &clock = Clock::current();
    const std::int64_t mono = clock.monotonicMs();
    if (s.paused) {
        s.pausedMs += std::max<std::int64_t>(mono - s.pauseStartMonoMs, 0);
        s.paused = false;
    } else {
        s.paused = true;
        s.pauseStartMonoMs = mono;
        s.pauseStartUtcMs = clock.now().toMSecsSinceEpoch();
    }
    m_lines.erase(row);
    try {
        saveState();
    } catch (...) {
        s = old;
        m_lines.erase(row);
        throw;
    }
    fillTimes(at, s, s.runMs(mono));
    return true;
}

void SessionBoard::pruneUndoable()
{
    const std::int64_t mono = Clock::current().monotonicMs();
    m_undoable.removeIf([&](const FinishedSession &f) { return mono - f.endMonoMs > m_undoWindowMs; });
}

const FinishedSession *SessionBoard::undoableStop() const
{
    const std::int64_t mono = Clock::current().monotonicMs();
    for (auto it = m_undoable.crbegin(); it != m_undoable.crend(); ++it)
        if (mono - it->endMonoMs <= m_undoWindowMs)
            return &*it;
    return nullptr;
}

bool SessionBoard::undoStop()
{
    using namespace curlog;
    pruneUndoable();
    if (m_undoable.isEmpty())
        return false;
    const FinishedSession f = m_undoable.last();
    const std::int64_t mono = Clock::current().monotonicMs();
    Session s = f.session;
    // Its clock goes on from where it stopped: the time stopped is a pause
    // (a session stopped during a pause is back in that pause).
    if (!s.paused)
        s.pausedMs += std::max<std::int64_t>(mono - f.endMonoMs, 0);

    MemTable &t = *m_curLog;
    const MemTable::RowId before = t.currentId();
    int row;
    if (f.position < t.rowCount()) {
        t.setCurrentRow(f.position);
        row = t.insertRow();
    } else {
        row = t.appendRow();
    }
    const MemTable::RowId id = t.currentId();
    writeRow(row, s, s.runMs(mono));
    m_sessions.emplace(id, s);
    // Its Stop's record lies there: the next start must see it.
    m_recordFrom[s.id] = f.recordAt;
    const auto takeBack = [&] {
        forget(id);
        m_recordFrom.erase(s.id);
        t.deleteRowAt(t.rowOf(id));
        t.restoreCurrent(before);
    };
    // Saved first: if the program dies before the reversal is written, the
    // next start finds the Stop's record standing and leaves the session out.
    // The Stop stands whatever failed: say so, and name the file.
    const auto notUndone = [&](const QString &path, const Error &e) {
        const QString &name = f.session.client;
        const QString client = name.size() > 60 ? name.left(60) + QChar(0x2026) : name;
        return Error(QStringLiteral("Стоп сеанса «%1» не отменён: не удалось записать файл «%2» (%3). "
                                    "Стоп остаётся в силе, сеанс закончен.")
                         .arg(client, QDir::toNativeSeparators(path), reasonText(e)));
    };
    try {
        saveState();
    } catch (const Error &e) {
        takeBack();
        throw notUndone(m_stateFile.path(), e);
    } catch (...) {
        takeBack();
        throw;
    }
    LogRecord r = f.record;
    r.amount = -r.amount;
    r.elapsed = -r.elapsed;
    r.status = StatusUndo;
    r.reversal = true;
    try {
        appendOnce(r, false);
    } catch (const Error &e) {
        takeBack();
        saveStateQuietly();
        throw notUndone(m_journalPath, e);
    } catch (...) {
        takeBack();
        saveStateQuietly();
        throw;
    }
    // Stop and reversal stand together: the next start needs neither.
    m_recordFrom.erase(s.id);
    m_undoable.removeLast();
    if (m_lastFinished && m_lastFinished->session.id == s.id)
        m_lastFinished.reset();
    t.restoreCurrent(id);
    return true;
}

void SessionBoard::recallFinished(const FinishedSession &f)
{
    if (!m_lastFinished)
        m_lastFinished = f;
}

std::optional<FinishedSession> finishedFromRecord(const LogRecord &r)
{
    const auto within = [](double v, double from, double to) { return std::isfinite(v) && v >= from && v <= to; };
    // Years 1900 to 9999; at most the longest booking; money as the grid takes it.
    // An abonement's sale is no session.
    if (r.abonement && r.status == StatusAbonement)
        return std::nullopt;
    if (r.reversal || !within(r.written, 1, 2'958'465)
        || !within(r.elapsed, 0, double(SessionBoard::MaxBookedMs) / MsPerDay) || !within(r.startTime, 0, 1)
        || !within(r.amount, -1e15, 1e15) || !within(r.pricePerMin, -1e15, 1e15))
        return std::nullopt;
    const QDateTime end = toDateTime(r.written);
    if (!end.isValid())
        return std::nullopt;
    const std::int64_t charged = roundToMs(r.elapsed);
    const QDateTime latest = end.addMSecs(-charged);
    QDateTime start(end.date(), timeOf(r.startTime));
    while (start > latest)
        start = start.addDays(-1);
    FinishedSession f;
    f.session.id = r.sessionId;
    f.session.startUtcMs = start.toMSecsSinceEpoch();
    f.session.bookedMs = charged;
    f.session.pausedMs = std::max<std::int64_t>(latest.toMSecsSinceEpoch() - f.session.startUtcMs, 0);
    f.session.payment = r.payment;
    f.session.abonement = r.abonement;
    f.session.client = r.clientName;
    f.session.service = r.service;
    f.session.note = r.note;
    f.session.price = r.pricePerMin;
    f.status = r.status;
    f.chargedMs = charged;
    // The amount as the journal holds it: the receipt says what was billed.
    f.charge = {charged / MsPerMinute, r.amount};
    f.endUtcMs = end.toMSecsSinceEpoch();
    f.record = r;
    return f;
}

void SessionBoard::endCurrentSession(const QString &status)
{
    requireCurrent();
    const Session &s = currentSession();
    // Never more than booked: a stop after the end (before the tick came)
    // is charged as the tick would have charged it.
    const std::int64_t charged = std::min(s.runMs(Clock::current().monotonicMs()), s.bookedMs);
    endCurrent(status, charged, true);
    saveState();
}

void SessionBoard::tick()
{
    // A tick arriving while the error box of another tick is open would stack
    // a new box every 20 s on an unattended desk.
    if (m_ticking)
        return;
    m_ticking = true;
    const auto done = qScopeGuard([this] { m_ticking = false; });

    m_tickDone = false;
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
        const int leftField = t.fieldIndex(TLeft);
        const int summField = t.fieldIndex(Summ);
        TickLook &look = m_tickLook;
        look.left.clear();
        look.sessions = 0;
        look.owed = 0;

        // One moment for the whole walk: every row of a tick is judged and
        // billed at the same time.
        const std::int64_t mono = Clock::current().monotonicMs();
        bool ended = false;
        try {
            for (int row = 0; row < t.rowCount();) {
                const MemTable::RowId id = t.rowId(row);
                const auto found = m_sessions.find(id);
                if (found == m_sessions.end())
                    throw Error(QStringLiteral("No current record"));
                const Session &s = found->second;
                const std::int64_t elapsed = s.runMs(mono);
                if (!s.paused && elapsed >= s.bookedMs) {
                    // Deleting the row brings the following one to its
                    // place (or ends the walk after the last row).
                    t.setCurrentRow(row);
                    endCurrent(StatusTimeUp, s.bookedMs, true);
                    ended = true;
                    continue;
                }
                const double amount = s.charge(std::min(elapsed, s.bookedMs), s.price).amount;
                if (s.paused) // its clock stands; only its booked end moves on
                    fillTimes(row, s, elapsed);
                else
                    t.setValue(row, leftField, msValue(s.bookedMs - elapsed));
                // Most ticks charge no new minute: the cell is left alone. A
                // session paused between ticks shows what it ran up to then.
                if (t.value(row, summField).toDouble() != amount)
                    t.setValue(row, summField, amount);
                look.left.append({id, s.bookedMs - elapsed});
                ++look.sessions;
                look.owed += amount;
                ++row;
            }
        } catch (...) {
            // The sessions ended before the failure are in the journal.
            if (ended)
                saveStateQuietly();
            throw;
        }
        if (ended)
            saveState();
        m_tickDone = true;
    });
}

void SessionBoard::endCurrent(const QString &status, std::int64_t chargedMs, bool notice)
{
    using namespace curlog;
    requireCurrent();
    MemTable &t = *m_curLog;
    const Session s = currentSession();
    const MinuteCharge charge = s.charge(chargedMs, s.price);
    FinishedSession f;
    f.session = s;
    f.status = status;
    f.chargedMs = chargedMs;
    f.charge = charge;
    f.position = t.currentRow();

    Notice n;
    n.sessionId = s.id;
    n.customer = s.client;
    n.stat = QStringLiteral("Время: ") + elapsedText(chargedMs) + QStringLiteral(" Сумма: ")
        + Formats::current().currency2(charge.amount);
    n.caption = QStringLiteral("Время: ") + Formats::current().timeText(Clock::current().nowValue());

    // The record first: a notice tells the operator the session is billed,
    // so it appears only once the record is on the disk. A write that fails
    // throws past it; the notice comes with the attempt that succeeds.
    qint64 at = 0;
    const LogRecord written = writeRecord(status, s, chargedMs, &at);
    forget(t.currentId());
    m_recordFrom.erase(s.id);
    t.deleteRow();
    if (notice && m_noticeHook)
        m_noticeHook(n);
    if (!notice)
        return; // ended while the program was not running
    f.endMonoMs = Clock::current().monotonicMs();
    f.endUtcMs = s.startUtcMs + std::max<std::int64_t>(chargedMs, 0) + s.pauseMs(f.endMonoMs);
    f.record = written;
    f.recordAt = at;
    m_lastFinished = f;
    if (status == StatusStop && m_undoWindowMs > 0) {
        pruneUndoable();
        m_undoable.append(f);
    }
    emit sessionFinished(f);
}

LogRecord SessionBoard::writeRecord(const QString &status, const Session &s, std::int64_t chargedMs, qint64 *at)
{
    const std::int64_t elapsed = std::max<std::int64_t>(chargedMs, 0);
    // The end is the start plus the time measured (its pauses too), never a
    // fresh reading of the wall clock, which may have jumped meanwhile.
    const QDateTime end
        = QDateTime::fromMSecsSinceEpoch(s.startUtcMs + elapsed + s.pauseMs(Clock::current().monotonicMs()));

    LogRecord r;
    r.written = dateTimeValue(end);
    r.pricePerMin = s.price;
    // The start's time of day, as the grid shows it.
    r.startTime = msToTimeValue(timeOfDayMs(localValue(s.startUtcMs)));
    r.elapsed = msValue(elapsed);
    r.endTime = timeValue(end.time());
    r.amount = s.charge(elapsed, r.pricePerMin).amount;
    r.payment = s.payment;
    r.abonement = s.abonement;
    r.clientName = s.client;
    r.service = s.service;
    r.note = s.note;
    r.status = status;
    r.sessionId = s.id;
    *at = appendOnce(r, true);
    return r;
}

qint64 SessionBoard::appendOnce(const LogRecord &r, bool standingAfter)
{
    const auto floor = m_recordFrom.find(r.sessionId);
    if (m_uncertain.count(r.sessionId)) {
        // An earlier attempt failed, but possibly after its record was
        // written: one record per session (and one reversal), never two.
        const qint64 from = floor != m_recordFrom.end() ? floor->second : 0;
        if (journalSessionsAmong(m_journalPath, {r.sessionId}, from).contains(r.sessionId) == standingAfter) {
            m_uncertain.erase(r.sessionId);
            emit recordAppended(r);
            return from;
        }
    }
    // Where the record will lie, or later: a failed attempt may still
    // have landed there, and the next start must look.
    const qint64 length = journalLength(m_journalPath);
    qint64 at;
    try {
        at = appendJournalRecord(m_journalPath, r);
    } catch (...) {
        m_uncertain.insert(r.sessionId);
        const qint64 before = length < 0 ? 0 : length / RecordSize * RecordSize;
        if (floor == m_recordFrom.end())
            m_recordFrom.emplace(r.sessionId, before);
        else
            floor->second = std::min(floor->second, before);
        throw;
    }
    m_uncertain.erase(r.sessionId);
    emit recordAppended(r);
    return at;
}

RestoreReport SessionBoard::restoreSessions()
{
    using namespace curlog;
    RestoreReport report;
    if (!m_stateFile.isSet() || !m_curLog->isEmpty())
        return report;
    removeStaleTemporaries(m_stateFile.path());
    const SessionStateFile::Loaded loaded = m_stateFile.load();
    if (loaded.status == SessionStateFile::Status::Damaged)
        report.problems << loaded.message;
    if (loaded.status != SessionStateFile::Status::Loaded)
        return report;

    QSet<std::uint64_t> ids;
    for (const SavedSession &s : loaded.state.sessions)
        ids.insert(s.id);
    QSet<std::uint64_t> written;
    bool journalRead = true;
    // No record of these sessions lies before this: only what came after
    // is read (a file of an earlier version: the whole journal).
    const qint64 from = std::max<qint64>(loaded.state.journalFrom, 0);
    m_savedFrom = from;
    try {
        bool shorter = false;
        written = journalSessionsAmong(m_journalPath, ids, from, &shorter);
        if (shorter) {
            m_savedFrom = 0;
            report.problems << QStringLiteral("Журнал \"%1\" короче, чем был при последнем сохранении идущих "
                                              "сеансов (было %2 байт): он повреждён или заменён другим файлом. "
                                              "Журнал просмотрен целиком.")
                                   .arg(QDir::toNativeSeparators(m_journalPath))
                                   .arg(from);
        }
    } catch (const Error &e) {
        journalRead = false;
        report.problems << QStringLiteral("Журнал \"%1\" не удалось прочитать: %2. Сеансы "
                                          "восстановлены; перед записью каждого журнал будет проверен снова.")
                               .arg(m_journalPath, e.message());
    }

    const Clock &clock = Clock::current();
    const std::int64_t nowUtc = clock.now().toMSecsSinceEpoch();
    const std::int64_t mono = clock.monotonicMs();
    const QByteArray run = clock.monotonicRun();
    const bool sameRun = !run.isEmpty() && run == loaded.state.monotonicRun;

    MemTable &t = *m_curLog;
    t.holdUpdates();
    const auto resume = qScopeGuard([&t] { t.resumeUpdates(); });
    QStringList refused;
    QStringList ahead;
    for (const SavedSession &saved : loaded.state.sessions) {
        if (written.contains(saved.id)) {
            ++report.alreadyWritten;
            continue;
        }
        // An edited file with a matching checksum passes the parser: the
        // session must also be one that could be real.
        const QString why = restoredProblem(saved);
        if (!why.isEmpty()) {
            refused << sessionName(saved) + QStringLiteral(": ") + why;
            continue;
        }
        // The monotonic readings are set below.
        Session s = saved;
        s.client = gridText(saved.client);
        s.service = gridText(saved.service);
        s.note = gridText(saved.note);
        // Within one boot the monotonic clock still measures the session,
        // wherever the wall clock has been moved; after a reboot only the
        // instants are left, and a start the clock has not reached yet
        // (the clock set back) counts from now.
        if (sameRun && saved.hasStartMono && saved.startMonoMs <= mono) {
            s.startMonoMs = saved.startMonoMs;
            s.pauseStartMonoMs = saved.hasPauseStartMono && saved.pauseStartMonoMs <= mono
                ? std::max(saved.pauseStartMonoMs, saved.startMonoMs)
                : mono - std::clamp<std::int64_t>(nowUtc - saved.pauseStartUtcMs, 0, mono - saved.startMonoMs);
        } else {
            if (saved.startUtcMs > nowUtc)
                ahead << QStringLiteral("%1: начало %2")
                             .arg(sessionName(saved),
                                  QDateTime::fromMSecsSinceEpoch(saved.startUtcMs)
                                      .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")));
            const std::int64_t since = std::max<std::int64_t>(nowUtc - saved.startUtcMs, 0);
            s.startMonoMs = mono - since;
            s.pauseStartMonoMs = mono - std::clamp<std::int64_t>(nowUtc - saved.pauseStartUtcMs, 0, since);
        }
        const std::int64_t elapsed = s.runMs(mono);
        const int row = t.appendRow();
        writeRow(row, s, elapsed);
        m_sessions.emplace(t.currentId(), s);
        if (!journalRead) {
            m_uncertain.insert(s.id);
            m_recordFrom[s.id] = from;
        }
    }
    if (!ahead.isEmpty())
        report.problems << QStringLiteral("Начало этих сеансов позже текущего времени (часы компьютера переведены "
                                          "назад?). Они восстановлены, их время считается с этой минуты:\n%1")
                               .arg(ahead.join(QLatin1Char('\n')));

    // Those whose time ran out while the program was not running end now,
    // exactly as the tick would have ended them on time.
    t.first();
    QString writeError;
    while (!t.eof()) {
        const Session s = currentSession();
        if (s.paused || s.runMs(mono) < s.bookedMs) {
            t.next();
            continue;
        }
        EndedAway e;
        e.client = s.client;
        e.service = s.service;
        e.end = localValue(s.startUtcMs + s.bookedMs);
        const MinuteCharge c = s.charge(s.bookedMs, s.price);
        e.minutes = c.minutes;
        e.amount = c.amount;
        try {
            endCurrent(StatusTimeUp, s.bookedMs, false);
            report.endedAway << e;
        } catch (const Error &err) {
            // It stays; the first tick tries again, with its notice.
            writeError = err.message();
            t.next();
        }
    }
    if (!writeError.isEmpty())
        report.problems << errorBoxText(writeError);
    report.restored = t.rowCount();
    if (t.rowCount() > 0)
        t.setCurrentRow(0);
    report.refused = static_cast<int>(refused.size());
    if (!refused.isEmpty()) {
        // Kept as they were, beside the file, before it is written without them.
        QString kept;
        try {
            kept = QStringLiteral("Файл в прежнем виде сохранён как \"%1\".")
                       .arg(QDir::toNativeSeparators(m_stateFile.keepCopy()));
        } catch (const Error &e) {
            kept = e.message();
        }
        report.problems << QStringLiteral("В файле идущих сеансов \"%1\" есть сеансы, которые не прошли "
                                          "проверку, и они не восстановлены:\n%2\n%3")
                               .arg(QDir::toNativeSeparators(m_stateFile.path()), refused.join(QLatin1Char('\n')),
                                    kept);
    }
    if (report.alreadyWritten > 0 || !report.endedAway.isEmpty() || !refused.isEmpty()) {
        try {
            saveState();
        } catch (const Error &err) {
            report.problems << err.message();
        }
    } else if (m_curLog->rowCount() > 0) {
        emit sessionsChanged();
    }
    return report;
}

void SessionBoard::forget(MemTable::RowId row)
{
    m_sessions.erase(row);
    m_lines.erase(row);
}

void SessionBoard::saveState()
{
    using namespace curlog;
    // Every change is saved: the listeners hear of it here, whatever the
    // save's fate.
    emit sessionsChanged();
    if (!m_stateFile.isSet())
        return;
    const QByteArray run = Clock::current().monotonicRun();
    if (run != m_linesRun) {
        m_lines.clear();
        m_linesRun = run;
    }
    const MemTable &t = *m_curLog;
    QList<const QByteArray *> lines;
    lines.reserve(t.rowCount());
    for (int r = 0; r < t.rowCount(); ++r) {
        const MemTable::RowId id = t.rowId(r);
        const Session *s = session(id);
        if (!s)
            continue;
        auto line = m_lines.find(id);
        if (line == m_lines.end()) {
            SavedSession o;
            static_cast<Session &>(o) = *s;
            o.hasStartMono = !run.isEmpty();
            o.hasPauseStartMono = s->paused;
            line = m_lines.emplace(id, serializeSessionLine(o, !run.isEmpty())).first;
        }
        lines.append(&line->second);
    }
    // No record of a listed session lies before the journal's end, except
    // where one may (a Stop taken back, a failed append). A journal that
    // cannot be measured keeps the last mark.
    qint64 from = journalLength(m_journalPath);
    from = from < 0 ? m_savedFrom : from / RecordSize * RecordSize;
    for (const auto &[id, at] : m_recordFrom)
        from = std::min(from, at);
    m_stateFile.save(serializeSessionState(run, std::max<qint64>(from, 0), lines));
    m_savedFrom = from;
}

void SessionBoard::saveStateQuietly() noexcept
{
    try {
        saveState();
    } catch (...) {
    }
}

Session &SessionBoard::currentSession()
{
    const auto it = m_sessions.find(m_curLog->currentId());
    if (it == m_sessions.end())
        throw Error(QStringLiteral("No current record"));
    return it->second;
}

void SessionBoard::requireCurrent() const
{
    if (m_curLog->currentRow() < 0)
        throw Error(QStringLiteral("No current record"));
}

} // namespace bilmeko
