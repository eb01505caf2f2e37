#pragma once
// The running sessions: the table CurLog, the minute charge rule, the
// 20-second billing tick and the end-of-session steps. No widgets here: the
// notice window is made through a hook the main window installs.
//
// Time: each session keeps its start as an instant (UTC) and its booked
// duration; while the program runs, its elapsed time is measured on the
// monotonic clock, so moving the wall clock (time sync, a corrected date,
// daylight saving) changes neither what it is charged nor when it ends. A
// session whose time is up is charged its booked minutes however late the
// tick that ends it; the record's end is the booked end. The grid shows the
// local times of day of the start and of the booked end (TBeg, TEnd); the
// hidden DBeg and DEnd carry the full local date-times, so a session booked
// at 23:30 for one hour runs until 0:30 of the next day.
//
// Every change to the set of running sessions is saved (SessionStateFile)
// before the command returns, and restored at the next start.
//
// Pause: a paused session's clock stands. What it is charged and when its
// time is up count only the time it ran; its booked end moves later by
// every pause. Its journal record keeps the real instants of its start and
// end, with the time charged as Elapsed.
//
// Undoing a Stop: for a while after a Stop the session can be brought back
// as it was. The journal is never rewritten: a reversal record (status
// "Отмена", amount and time with the opposite sign, marked as a reversal)
// takes back the Stop's record, and the time between the Stop and its undo
// counts as a pause.

#include "common/core/datetime.h"
#include "common/core/memtable.h"
#include "journal/core/logrecord.h"
#include "session.h"
#include "sessionstate.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace bilmeko {

namespace curlog {
inline const QString FIO = QStringLiteral("FIO");
inline const QString Price = QStringLiteral("Price");
inline const QString TBeg = QStringLiteral("TBeg");
inline const QString TEnd = QStringLiteral("TEnd");
inline const QString TLeft = QStringLiteral("TLeft");
inline const QString Summ = QStringLiteral("Summ");
inline const QString Describe = QStringLiteral("Describe");
inline const QString PItem = QStringLiteral("PItem");
// Hidden: full date-times of the start and of the booked end.
inline const QString DBeg = QStringLiteral("DBeg");
inline const QString DEnd = QStringLiteral("DEnd");
constexpr int TextMax = 20;
} // namespace curlog

inline const QString StatusTimeUp = QStringLiteral("Время вышло");
inline const QString StatusStop = QStringLiteral("Стоп");
inline const QString StatusUndo = QStringLiteral("Отмена");

// Elapsed time as the notices show it: the long time format, or whole hours
// beyond 23 followed by ":mm:ss" for sessions longer than a day.
QString elapsedText(std::int64_t elapsedMs);

// What a time-is-up notice shows.
struct Notice
{
    QString customer; // the Customer label
    QString stat; // the Stat label
    QString caption; // the window caption
    std::uint64_t sessionId = 0; // a session has one notice open at most
};

// A session that has ended, as its record and its receipt show it.
struct FinishedSession
{
    Session session;
    QString status;
    std::int64_t chargedMs = 0;
    MinuteCharge charge;
    std::int64_t endUtcMs = 0; // the real instant it ended
    std::int64_t endMonoMs = 0; // the monotonic reading then
    int position = 0; // its row in the grid
    LogRecord record; // as the journal holds it
    qint64 recordAt = 0; // where the journal holds it (or earlier)
};

// The finished session a journal record tells of, for its receipt after a
// restart: the record keeps only the start's time of day, so the start is
// the latest such moment that leaves the charged time before the end, and
// the rest of the span counts as pauses. None for a reversal or for values
// no record of a session holds (a damaged or foreign record).
std::optional<FinishedSession> finishedFromRecord(const LogRecord &record);

// A session ended at start because its time ran out while the program was
// not running.
struct EndedAway
{
    QString client;
    QString service;
    DateTimeValue end = 0; // its booked end, local
    std::int64_t minutes = 0;
    double amount = 0;
};

// What the start found in the state file.
struct RestoreReport
{
    int restored = 0; // back in the grid, running
    int alreadyWritten = 0; // their record was in the journal: left out
    int refused = 0; // failed the checks of a typed session: left out
    QList<EndedAway> endedAway;
    // For the operator: a damaged state file, a journal that could not be
    // read or written.
    QStringList problems;
};
// A running session and the time it has left, in milliseconds: what the
// tick finds and the reminder looks at.
using TimeLeft = std::pair<MemTable::RowId, qint64>;

// What a tick found, for what follows it on the screen without a second
// walk over the sessions: the time left of every session it left running,
// in grid order, and the running sessions' count and charge so far.
struct TickLook
{
    QList<TimeLeft> left;
    int sessions = 0;
    double owed = 0;
};

// The one notice that lists the sessions ended at start; empty when none.
QString endedAwayText(const QList<EndedAway> &ended);

class SessionBoard : public QObject
{
    Q_OBJECT
public:
    using NoticeHook = std::function<void(const Notice &)>;

    // The longest a session may be booked for, extensions included.
    static constexpr std::int64_t MaxBookedMs = 7LL * 24 * 60 * MsPerMinute;
    // How far a restored start may lie ahead of the clock (a clock corrected
    // by a few seconds between two runs must not cost a session).
    static constexpr std::int64_t StartAheadToleranceMs = 60'000;

    explicit SessionBoard(QString journalPath, QObject *parent = nullptr);

    MemTable &curLog() { return *m_curLog; }
    const MemTable &curLog() const { return *m_curLog; }
    QString journalPath() const { return m_journalPath; }
    void setJournalPath(const QString &path) { m_journalPath = path; }
    // Where the running sessions are kept; empty (the default) keeps them
    // in memory only.
    QString statePath() const { return m_stateFile.path(); }
    void setStatePath(const QString &path) { m_stateFile = SessionStateFile(path); }

    // Where time-is-up notices go; without a hook none is shown.
    void setNoticeHook(NoticeHook hook) { m_noticeHook = std::move(hook); }

    // Reads the state file into an empty table, in the saved order, before
    // the first tick. A session whose record is already in the journal is
    // left out; one whose time ran out meanwhile is ended as the tick would
    // have ended it on time (no notice of its own: see the report). Running
    // it twice changes nothing.
    RestoreReport restoreSessions();

    // New: a row in front of the current row with TBeg = now, TEnd = now +
    // duration, TLeft = the duration, Summ = 0; it becomes current. Negative
    // durations are refused (Error) before anything is inserted. Throws when
    // the running sessions cannot be saved; nothing is added then.
    MemTable::RowId addSession(const QString &client, const QString &note, const QString &service,
                               double pricePerMinute, int hours, int minutes, Payment payment = Payment::Unknown,
                               bool abonement = false);
    // The payment method of a running session, as its record will carry
    // it; false when the row is gone. Throws, changing nothing, when the
    // sessions cannot be saved.
    bool setPayment(MemTable::RowId row, Payment payment);
    // Extend: the booked end moves later by the duration; TLeft = end - now.
    // Acts on that row whichever row is current; false when it is gone.
    // Throws, changing nothing, when the sessions cannot be saved.
    bool extendSession(MemTable::RowId row, int hours, int minutes);
    // Stop: the end-of-session steps with "Стоп" on that row (made current
    // first); false when the row is gone. Throws when the journal cannot be
    // written; the row then stays.
    bool stopSession(MemTable::RowId row);
    // Pause or resume: toggles that row's pause; false when the row is gone.
    // Throws, changing nothing, when the sessions cannot be saved.
    bool togglePause(MemTable::RowId row);
    bool isPaused(MemTable::RowId row) const;

    // How long after a Stop it can be undone; 0 (the default): never.
    void setUndoWindowMs(std::int64_t ms) { m_undoWindowMs = ms; }
    // The latest Stop that can still be undone, or nullptr.
    const FinishedSession *undoableStop() const;
    // Brings that session back to the grid as it was and appends the
    // reversal of its record. False when there is nothing to undo. Throws
    // when the reversal cannot be written; the session then stays stopped.
    bool undoStop();
    // The session that ended last (Stop or time-up), or nullptr.
    const FinishedSession *lastFinished() const { return m_lastFinished ? &*m_lastFinished : nullptr; }
    // After a restart: the session of the journal's last record becomes the
    // last finished one, unless a session has ended since the start.
    void recallFinished(const FinishedSession &f);

    // The billing tick. Errors are shown in the error box here, after the
    // current row and the grid have been restored; a tick that comes while
    // that box is open does nothing.
    void tick();
    bool ticking() const { return m_ticking; }
    // What the last tick found; nullptr when it did not walk every row (it
    // failed, or came within another). Read it right after the tick: a
    // command changes the sessions.
    const TickLook *lastTick() const { return m_tickDone ? &m_tickLook : nullptr; }

    // Stop's end-of-session steps on the current row: journal record, the
    // row deleted, the notice, the sessions saved.
    void endCurrentSession(const QString &status);

    const Session *session(MemTable::RowId row) const;
    // Monotonic milliseconds the session has run, its pauses left out
    // (never negative).
    std::int64_t elapsedMs(MemTable::RowId row) const;
    int runningCount() const { return m_curLog->rowCount(); }

signals:
    // A record reached the journal (a session's end, or a reversal).
    void recordAppended(const bilmeko::LogRecord &record);
    // A session ended at a Stop or when its time was up.
    void sessionFinished(const bilmeko::FinishedSession &finished);
    // The running sessions changed: one began, ended, was extended, paused,
    // resumed or taken back, or the saved ones were restored.
    void sessionsChanged();

private:
    // Journal record, row deleted, then the notice (when asked). The charge
    // is chargedMs: the booked duration for a session whose time is up.
    void endCurrent(const QString &status, std::int64_t chargedMs, bool notice);
    LogRecord writeRecord(const QString &status, const Session &s, std::int64_t chargedMs, qint64 *at);
    // Appends it once; returns where it lies (or a place before it).
    qint64 appendOnce(const LogRecord &r, bool standingAfter);
    void fillTimes(int row, const Session &s, std::int64_t elapsed);
    // Every cell of a row from its session, its sum at the time it ran.
    void writeRow(int row, const Session &s, std::int64_t elapsed);
    void pruneUndoable();
    void forget(MemTable::RowId row);
    void saveState();
    void saveStateQuietly() noexcept;
    Session &currentSession();
    void requireCurrent() const;

    MemTable *m_curLog;
    QString m_journalPath;
    SessionStateFile m_stateFile;
    NoticeHook m_noticeHook;
    std::unordered_map<MemTable::RowId, Session> m_sessions;
    // Sessions whose journal append failed: it may have reached the disk
    // anyway, so the journal is looked at before writing them again.
    std::unordered_set<std::uint64_t> m_uncertain;
    // Running sessions that may already have a record in the journal (a
    // Stop taken back, an append that failed), and where it would lie: the
    // state file's journal mark stays before it.
    std::unordered_map<std::uint64_t, qint64> m_recordFrom;
    qint64 m_savedFrom = 0; // the journal mark of the last save
    // Each running session's line of the state file, as last encoded: a
    // save encodes only the sessions that changed.
    std::unordered_map<MemTable::RowId, QByteArray> m_lines;
    QByteArray m_linesRun;
    bool m_ticking = false;
    bool m_tickDone = false;
    TickLook m_tickLook; // kept, so a tick allocates nothing once warm
    std::int64_t m_undoWindowMs = 0;
    QList<FinishedSession> m_undoable; // Stops still within the window, oldest first
    std::optional<FinishedSession> m_lastFinished;
};

} // namespace bilmeko
