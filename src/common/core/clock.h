#pragma once
// The one source of "now" for the whole program. The program runs on the
// system clock; tests install a FixedClock and say what time it is.
//
// Two sides: the wall clock gives the instants that are shown and stored
// (it can jump: time sync, the operator fixing the date, daylight saving),
// the monotonic clock measures how long something lasted. It never jumps,
// keeps counting while the machine sleeps, and starts anew with each boot.

#include "datetime.h"

#include <QByteArray>
#include <QDateTime>
#include <cstdint>

namespace bilmeko {

class Clock
{
public:
    virtual ~Clock() = default;
    // Local date and time with milliseconds.
    virtual QDateTime now() const = 0;
    // Milliseconds of the monotonic clock; only differences mean something.
    virtual std::int64_t monotonicMs() const = 0;
    // Names the run of the monotonic clock (the boot): readings taken under
    // another name cannot be compared with this run's. Empty when unknown.
    virtual QByteArray monotonicRun() const = 0;

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
    // CLOCK_BOOTTIME: monotonic, and it counts suspended time too.
    std::int64_t monotonicMs() const override;
    // The kernel's boot id.
    QByteArray monotonicRun() const override;
};

// A clock that stands still until told otherwise. Letting time pass
// (set, setTime, advance*) moves both sides by the same amount; jumpWall*
// moves the wall clock alone, as a clock change does.
class FixedClock : public Clock
{
public:
    explicit FixedClock(const QDateTime &at = QDateTime(QDate(2026, 12, 7), QTime(10, 0))) : m_now(at) {}
    QDateTime now() const override { return m_now; }
    std::int64_t monotonicMs() const override { return m_mono; }
    QByteArray monotonicRun() const override { return m_run; }

    void set(const QDateTime &at)
    {
        m_mono += m_now.msecsTo(at);
        m_now = at;
    }
    void setTime(const QTime &t) { set(QDateTime(m_now.date(), t)); }
    void advanceMs(qint64 ms)
    {
        m_now = m_now.addMSecs(ms);
        m_mono += ms;
    }
    void advanceSecs(qint64 s) { advanceMs(s * 1000); }

    void jumpWall(const QDateTime &at) { m_now = at; }
    void jumpWallSecs(qint64 s) { m_now = m_now.addSecs(s); }
    // A new boot: the monotonic clock starts again from a reading of its own.
    void reboot(std::int64_t monoMs, const QByteArray &run)
    {
        m_mono = monoMs;
        m_run = run;
    }

private:
    QDateTime m_now;
    std::int64_t m_mono = 1'000'000'000;
    QByteArray m_run = QByteArrayLiteral("fixed-clock-run");
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
