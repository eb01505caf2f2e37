#include "clock.h"

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

} // namespace bilmeko
