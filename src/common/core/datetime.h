#pragma once
// Date-time values as the program stores them: a double counting days since
// 30 December 1899, 0:00. The whole part is the date, the fraction the time of
// day (0.5 is noon). Times of day have a zero whole part.

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <cstdint>

namespace bilmeko {

using DateTimeValue = double;

constexpr std::int64_t MsPerDay = 86'400'000;
constexpr std::int64_t MsPerMinute = 60'000;

// The day the value 0 stands for.
QDate epochDate();

// Whole-day value of a date (midnight).
DateTimeValue dateValue(const QDate &date);
// Fraction of a day for a time of day, exact to the millisecond.
DateTimeValue timeValue(const QTime &time);
DateTimeValue dateTimeValue(const QDateTime &dt);
DateTimeValue dateTimeValue(const QDate &date, const QTime &time);

// The date part of a value (values before the epoch count their whole part
// towards the past, their fraction as the time of day).
QDate dateOf(DateTimeValue v);
// The time-of-day part of a value, rounded to the nearest millisecond.
QTime timeOf(DateTimeValue v);
QDateTime toDateTime(DateTimeValue v);

// The storage rule of every time-of-day field: round v * 86 400 000 to whole
// milliseconds, take the absolute value, keep the remainder modulo one day.
std::int32_t timeOfDayMs(double v);
// The value a stored millisecond count reads back as: always in [0, 1).
DateTimeValue msToTimeValue(std::int64_t ms);

// Whole milliseconds of a day fraction, rounded, keeping the sign and any days.
std::int64_t roundToMs(double days);

} // namespace bilmeko
