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

#include "common/core/datetime.h"
#include "common/core/memtable.h"
#include "sessionstate.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>

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

// The minute charge rule: whole minutes of the elapsed time are charged, a
// started minute is not. A negative elapsed time (the clock set back) is
// charged nothing.
struct MinuteCharge
{
    std::int64_t minutes = 0;
    double amount = 0;
};
MinuteCharge minuteCharge(std::int64_t elapsedMs, double pricePerMinute);

// Elapsed time as the notices show it: the long time format, or whole hours
// beyond 23 followed by ":mm:ss" for sessions longer than a day.
QString elapsedText(std::int64_t elapsedMs);

// What a time-is-up notice shows.
struct Notice
{
    QString customer; // the Customer label
    QString stat;     // the Stat label
    QString caption;  // the window caption
};

// What the board knows of a running session beyond its row.
struct RunningSession
{
    std::uint64_t id = 0;         // nonzero, random; also in its journal record
    std::int64_t startUtcMs = 0;  // the start instant
    std::int64_t startMonoMs = 0; // the monotonic clock's reading at the start
    std::int64_t bookedMs = 0;    // the booked duration, extensions included
};

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
    int restored = 0;       // back in the grid, running
    int alreadyWritten = 0; // their record was in the journal: left out
    QList<EndedAway> endedAway;
    // For the operator: a damaged state file, a journal that could not be
    // read or written.
    QStringList problems;
};
// The one notice that lists the sessions ended at start; empty when none.
QString endedAwayText(const QList<EndedAway> &ended);

class SessionBoard : public QObject
{
    Q_OBJECT
public:
    using NoticeHook = std::function<void(const Notice &)>;

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
                               double pricePerMinute, int hours, int minutes);
    // Extend: the booked end moves later by the duration; TLeft = end - now.
    // Acts on that row whichever row is current; false when it is gone.
    // Throws, changing nothing, when the sessions cannot be saved.
    bool extendSession(MemTable::RowId row, int hours, int minutes);
    // Stop: the end-of-session steps with "Стоп" on that row (made current
    // first); false when the row is gone. Throws when the journal cannot be
    // written; the row then stays.
    bool stopSession(MemTable::RowId row);

    // The billing tick. Errors are shown in the error box here, after the
    // current row and the grid have been restored; a tick that comes while
    // that box is open does nothing.
    void tick();
    bool ticking() const { return m_ticking; }

    // Stop's end-of-session steps on the current row: notice, journal
    // record, the row deleted, the sessions saved.
    void endCurrentSession(const QString &status);

    const RunningSession *session(MemTable::RowId row) const;
    // Monotonic milliseconds since the session's start (never negative).
    std::int64_t elapsedMs(MemTable::RowId row) const;
    int runningCount() const { return m_curLog->rowCount(); }

signals:
    // A session's record is on the disk in the journal.
    void recordWritten();

private:
    // Notice (when asked), journal record, row deleted. The charge is
    // chargedMs: the booked duration for a session whose time is up.
    void endCurrent(const QString &status, std::int64_t chargedMs, bool notice);
    void writeRecord(const QString &status, const RunningSession &s, std::int64_t chargedMs);
    void fillTimes(int row, const RunningSession &s, std::int64_t elapsed);
    SessionState currentState() const;
    void saveState();
    void saveStateQuietly() noexcept;
    RunningSession &currentSession();
    void requireCurrent() const;

    MemTable *m_curLog;
    QString m_journalPath;
    SessionStateFile m_stateFile;
    NoticeHook m_noticeHook;
    std::unordered_map<MemTable::RowId, RunningSession> m_sessions;
    // Sessions whose journal append failed: it may have reached the disk
    // anyway, so the journal is looked at before writing them again.
    std::unordered_set<std::uint64_t> m_uncertain;
    bool m_ticking = false;
};

} // namespace bilmeko
