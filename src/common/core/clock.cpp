#include "clock.h"

#include <QFile>
#include <time.h>

namespace bilmeko {

namespace {
SystemClock systemClock;
Clock *installed = nullptr;
} // namespace

Clock &Clock::current()
{
    return installed ? *installed : systemClock;
}

void Clock::setCurrent(Clock *clock)
{
    installed = clock;
}

std::int64_t SystemClock::monotonicMs() const
{
    timespec ts{};
    if (::clock_gettime(CLOCK_BOOTTIME, &ts) != 0)
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

QByteArray SystemClock::monotonicRun() const
{
    static const QByteArray run = [] {
        QFile f(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        if (!f.open(QIODevice::ReadOnly))
            return QByteArray();
        return f.read(64).trimmed();
    }();
    return run;
}

} // namespace bilmeko
