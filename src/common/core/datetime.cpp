#include "datetime.h"

#include <cmath>

namespace bilmeko {

QDate epochDate()
{
    return QDate(1899, 12, 30);
}

DateTimeValue dateValue(const QDate &date)
{
    return static_cast<double>(epochDate().daysTo(date));
}

DateTimeValue timeValue(const QTime &time)
{
    return static_cast<double>(time.msecsSinceStartOfDay()) / MsPerDay;
}

DateTimeValue dateTimeValue(const QDate &date, const QTime &time)
{
    const double days = dateValue(date);
    const double frac = timeValue(time);
    // Before the epoch the whole part is negative and the fraction still
    // counts as the time of day, so it is subtracted.
    return days < 0 ? days - frac : days + frac;
}

DateTimeValue dateTimeValue(const QDateTime &dt)
{
    return dateTimeValue(dt.date(), dt.time());
}

std::int64_t roundToMs(double days)
{
    return static_cast<std::int64_t>(std::llround(days * MsPerDay));
}

QDate dateOf(DateTimeValue v)
{
    std::int64_t ms = roundToMs(std::fabs(v));
    std::int64_t wholeDays = ms / MsPerDay;
    return epochDate().addDays(v < 0 ? -wholeDays : wholeDays);
}

QTime timeOf(DateTimeValue v)
{
    std::int64_t ms = roundToMs(std::fabs(v)) % MsPerDay;
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms));
}

QDateTime toDateTime(DateTimeValue v)
{
    return QDateTime(dateOf(v), timeOf(v));
}

std::int32_t timeOfDayMs(double v)
{
    double scaled = std::round(v * static_cast<double>(MsPerDay));
    if (!std::isfinite(scaled))
        return 0;
    scaled = std::fabs(scaled);
    return static_cast<std::int32_t>(std::fmod(scaled, static_cast<double>(MsPerDay)));
}

DateTimeValue msToTimeValue(std::int64_t ms)
{
    return static_cast<double>(ms) / MsPerDay;
}

} // namespace bilmeko
