#pragma once
// Calendar rules of the period selection: month and quarter arithmetic, the
// start adjustment, the texts the period dialog shows, and how the date
// edits' mask shapes and reads a text. Nothing here knows about widgets.

#include "common/core/datetime.h"
#include "common/core/formats.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <array>

namespace bilmeko {

constexpr int MinYear = 1;
constexpr int MaxYear = 9999;

// The program's own month names (nominative), January at index 0. They do
// not come from the locale.
const QStringList &MonthNames();
// The name of month 1..12; empty for anything else.
QString monthName(int month);

bool isLeapYear(int year);
// Days of a month (1..12) in the Gregorian calendar.
int daysInMonth(int year, int month);
// 1..4 for months 1..12.
int quarterOfMonth(int month);
// 1, 4, 7 or 10 for quarters 1..4.
int firstMonthOfQuarter(int quarter);

// A date from its parts; years outside 1..9999, months outside 1..12 and
// days the month does not have throw Error::invalidDateEncode().
QDate encodeDate(int year, int month, int day);
QDate firstDayOfMonth(int year, int month);
QDate lastDayOfMonth(int year, int month);
QDate firstDayOfQuarter(int year, int quarter);
QDate lastDayOfQuarter(int year, int quarter);
// Moves a date by whole months, carrying into the year; the day must exist
// in the target month (the program only advances 1sts).
QDate advanceMonths(const QDate &date, int months);

// Which start boxes of the period dialog are checked.
struct StartBoxes
{
    bool year = false; // "С начала года"
    bool kvart = false; // "С начала квартала"
    bool month = false; // "С начала месяца"
    bool day = false; // "С начальной даты"
    bool operator==(const StartBoxes &) const = default;
};

enum class StartBox { Year, Kvart, Month, Day };

// The start adjustment: back to the 1st of the year, quarter or month by the
// first checked of those boxes, and to 1 January 2000 whenever "С начальной
// даты" is checked.
QDate YKMBegin(const QDate &date, bool yearCh, bool kvartCh, bool monthCh, bool dayCh);
inline QDate YKMBegin(const QDate &date, const StartBoxes &b)
{
    return YKMBegin(date, b.year, b.kvart, b.month, b.day);
}

// The boxes form a choice of at most one: checking one unchecks the other
// three; unchecking one leaves the others alone.
StartBoxes afterBoxClick(StartBoxes boxes, StartBox clicked, bool nowChecked);

// The dialog's month navigator.
struct MonthPos
{
    int year = 1;
    int month = 1;
    bool operator==(const MonthPos &) const = default;
};
// The quarter navigator.
struct QuarterPos
{
    int year = 1;
    int quarter = 1;
    bool operator==(const QuarterPos &) const = default;
};

// One month or quarter forward (delta > 0) or back. A step that would leave
// the years 1..9999 throws Error::invalidDateEncode() and moves nothing.
MonthPos stepMonth(MonthPos pos, int delta);
QuarterPos stepQuarter(QuarterPos pos, int delta);

struct Period
{
    QDate begin;
    QDate end;
    bool operator==(const Period &) const = default;
};

// The month or quarter as a period: the end is its last day, the start its
// 1st after the start adjustment.
Period monthPeriod(MonthPos pos, const StartBoxes &boxes);
Period quarterPeriod(QuarterPos pos, const StartBoxes &boxes);

// "2 Квартал 2026"
QString quarterText(int quarter, int year);
// "Декабрь 2026"
QString monthText(int month, int year);
// "Выбран интервал с 01.04.2026 по 30.06.2026"
QString statusText(const QDate &begin, const QDate &end, const Formats &formats = Formats::current());

// The mask of the period dialog's date edits: day and month groups of two
// digit places that may stay blank (blanks then stand in front of the
// digits), a year group of four required digits, in the order of the short
// date format, joined by the locale's date separator. The edit's text keeps
// the separators and shows an empty place as a blank; while editing it is
// drawn as '_'.
class DateMask
{
public:
    static constexpr QChar EditBlank = QLatin1Char('_');

    static DateMask forFormat(const QString &shortDateFormat, QChar separator);
    static DateMask forFormats(const Formats &formats = Formats::current());

    QChar separator() const { return m_separator; }
    int length() const;
    // The same mask in the notation of QLineEdit::setInputMask.
    QString inputMask() const;
    // The text of an edit without digits: "  .  .    ".
    QString emptyText() const;

    // What the edit holds after `text` is put into it: each group takes the
    // digits of its part of the text (parts split at the separator), at
    // most as many as it has places; a blank-allowed group right-aligns
    // them, the year group fills from the left.
    QString fit(const QString &text) const;
    // The edit's text for what it shows while editing (blanks drawn as '_'):
    // blanks become ' ' and move in front of the digits of their group.
    QString fromDisplay(const QString &display) const;
    // The display form of a text the edit holds (' ' drawn as '_').
    QString toDisplay(const QString &text) const;
    // True when every required place holds a digit and the text has the
    // mask's shape.
    bool satisfied(const QString &text) const;

private:
    struct Group
    {
        int width = 2;
        bool required = false;
    };
    int groupStart(int g) const;

    std::array<Group, 3> m_groups{};
    QChar m_separator = QLatin1Char('.');
};

// The calendar grid's cells for the month of a date: 7 columns, row 0 the
// weekday header, rows 1..6 the weeks, the 1st under its own weekday and
// the cells before the 1st and after the last day empty.
class MonthLayout
{
public:
    static constexpr int Rows = 7;
    static constexpr int Cols = 7;

    // startOfWeek: 0 Sunday, 1 Monday, ... 6 Saturday.
    MonthLayout(const QDate &date, int startOfWeek);

    // The day shown in a cell; 0 for the header, an empty cell or a cell
    // outside the grid.
    int dayAt(int row, int col) const;
    int rowOf(int day) const { return (day - 1 + m_offset) / Cols + 1; }
    int colOf(int day) const { return (day - 1 + m_offset) % Cols; }
    // Qt's weekday (1 Monday .. 7 Sunday) heading a column.
    int weekdayOfColumn(int col) const;
    int days() const { return m_days; }

private:
    int m_startOfWeek;
    int m_offset; // empty cells before the 1st
    int m_days;
};

// The calendar's month step: the same day in the month before or after,
// or that month's last day when it is shorter. Past 31.12.9999 throws
// Error::invalidDateEncode(); before January of year 1 gives an invalid
// date (the step is ignored).
QDate calendarMonthStep(const QDate &date, int delta);

// Reads a date the way the dialog reads its edits: the short date format of
// `formats`; a text that is no valid date throws Error::invalidDate(text).
QDate readDateText(const QString &text, const Formats &formats = Formats::current());

// The message of an edit left with its mask unsatisfied.
QString invalidInputMessage();

} // namespace bilmeko
