#pragma once
// The running sessions: the table CurLog, the minute charge rule, the
// 20-second billing tick and the end-of-session steps. No widgets here: the
// notice window is made through a hook the main window installs.
//
// Midnight: besides the times of day the grid shows (TBeg, TEnd, TLeft),
// each row keeps the full date-time of its start (DBeg) and of its booked
// end (DEnd). All arithmetic runs on those, so a session booked at 23:30 for
// one hour runs until 0:30 of the next day and is charged its real minutes.

#include "common/core/datetime.h"
#include "common/core/memtable.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

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

    // Where time-is-up notices go; without a hook none is shown.
    void setNoticeHook(NoticeHook hook) { m_noticeHook = std::move(hook); }

    // New: a row in front of the current row with TBeg = now, TEnd = now +
    // duration, TLeft = the duration, Summ = 0; it becomes current. Negative
    // durations are refused (Error) before anything is inserted.
    MemTable::RowId addSession(const QString &client, const QString &note, const QString &service,
                               double pricePerMinute, int hours, int minutes);
    // Extend: the booked end moves later by the duration; TLeft = end - now.
    // Acts on that row whichever row is current; false when it is gone.
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

    // The end-of-session steps on the current row: notice, journal record,
    // then the row is deleted. Throws when the journal cannot be written.
    void endCurrentSession(const QString &status);
    // Appends the current row to the journal with a status, at the clock's
    // current moment.
    void appendToJournal(const QString &status);

    // Milliseconds from the current row's start to a moment (a date-time
    // value).
    std::int64_t elapsedMsAt(DateTimeValue now) const;

private:
    void endSessionAt(const QString &status, DateTimeValue now);
    void appendToJournalAt(const QString &status, DateTimeValue now);
    void requireCurrent() const;

    MemTable *m_curLog;
    QString m_journalPath;
    NoticeHook m_noticeHook;
    bool m_ticking = false;
};

} // namespace bilmeko
