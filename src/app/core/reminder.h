#pragma once
// The reminder before a session's booked end: which running sessions are
// within the last minutes of their time (marked in the grid), and which
// have just come into them (a sound and a tray message, once each).
//
//     SessionReminder r(option.minutes);
//     for (RowId id : r.update(timeLeftOf(board)))
//         announce(id);
//     if (r.isMarked(id)) ...

#include "common/core/memtable.h"
#include "sessionboard.h"

#include <QList>
#include <QSet>
#include <QString>
#include <utility>

namespace bilmeko {

class ProfileFile;

class SessionReminder
{
public:
    static constexpr int DefaultMinutes = 5;
    // Longer reminders would mark most sessions from their start.
    static constexpr int MaxMinutes = 120;

    // Minutes before the booked end; 0 turns the reminder off.
    explicit SessionReminder(int minutes = DefaultMinutes) : m_minutes(minutes) {}
    int minutes() const { return m_minutes; }

    // One look at every running session. A session is marked while its time
    // left is above 0 and at most the reminder's minutes; sessions gone from
    // the list lose their mark. Returns the sessions that came into the
    // reminder since the last look: each once, again only after an
    // extension took it out of the reminder.
    QList<MemTable::RowId> update(const QList<TimeLeft> &sessions);

    bool isMarked(MemTable::RowId id) const { return m_marked.contains(id); }
    bool anyMarked() const { return !m_marked.isEmpty(); }
    const QSet<MemTable::RowId> &marked() const { return m_marked; }

private:
    int m_minutes;
    QSet<MemTable::RowId> m_marked;
};

// The time left of every running session as the board measures it now: its
// booked duration less its monotonic elapsed time.
QList<TimeLeft> timeLeftOf(const SessionBoard &board);

// The program's own options beside the price list.
inline constexpr char OptionsSection[] = "Options";
inline constexpr char ReminderKey[] = "ReminderMinutes";

struct ReminderOption
{
    int minutes = SessionReminder::DefaultMinutes;
    // For the error box when the value in the file was not usable.
    QString message;
};

// Reads [Options] ReminderMinutes. A missing value is the default; a value
// that is not a whole number from 0 to MaxMinutes is reported and replaced
// by the default, in the file too (a file that cannot be written keeps what
// it has, and the default holds for the run).
ReminderOption readReminderOption(const ProfileFile &ini);

} // namespace bilmeko
