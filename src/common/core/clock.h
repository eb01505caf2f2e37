#pragma once
// The one source of "now" for the whole program. The program runs on the
// system clock; tests install a FixedClock and say what time it is.

#include "datetime.h"

#include <QDateTime>

namespace bilmeko {

class Clock
{
public:
    virtual ~Clock() = default;
    // Local date and time with milliseconds.
    virtual QDateTime now() const = 0;

    DateTimeValue nowValue() const { return dateTimeValue(now()); }
    // The current time of day as a day fraction with a zero whole part.
    DateTimeValue timeOfDay() const { return timeValue(now().time()); }
    QDate today() const { return now().date(); }

    // The clock in use; the system clock unless a test installed another.
    static Clock &current();
    // Install a clock (not owned); nullptr goes back to the system clock.
    static void setCurrent(Clock *clock);
};

class SystemClock : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// A clock that stands still until told otherwise.
class FixedClock : public Clock
{
public:
    explicit FixedClock(const QDateTime &at = QDateTime(QDate(2026, 12, 7), QTime(10, 0)))
        : m_now(at) {}
    QDateTime now() const override { return m_now; }
    void set(const QDateTime &at) { m_now = at; }
    void setTime(const QTime &t) { m_now.setTime(t); }
    void advanceMs(qint64 ms) { m_now = m_now.addMSecs(ms); }
    void advanceSecs(qint64 s) { m_now = m_now.addSecs(s); }

private:
    QDateTime m_now;
};

// Installs a clock for the lifetime of a scope (tests).
class ScopedClock
{
public:
    explicit ScopedClock(Clock *clock) { Clock::setCurrent(clock); }
    ~ScopedClock() { Clock::setCurrent(nullptr); }
    ScopedClock(const ScopedClock &) = delete;
    ScopedClock &operator=(const ScopedClock &) = delete;
};

} // namespace bilmeko
