#include "periodrules.h"

#include "common/core/errors.h"

#include <algorithm>

namespace bilmeko {

const QStringList &MonthNames()
{
    static const QStringList names{
        QStringLiteral("Январь"),   QStringLiteral("Февраль"), QStringLiteral("Март"),   QStringLiteral("Апрель"),
        QStringLiteral("Май"),      QStringLiteral("Июнь"),    QStringLiteral("Июль"),   QStringLiteral("Август"),
        QStringLiteral("Сентябрь"), QStringLiteral("Октябрь"), QStringLiteral("Ноябрь"), QStringLiteral("Декабрь"),
    };
    return names;
}

QString monthName(int month)
{
    return month >= 1 && month <= 12 ? MonthNames().at(month - 1) : QString();
}

bool isLeapYear(int year)
{
    return QDate::isLeapYear(year);
}

int daysInMonth(int year, int month)
{
    if (month < 1 || month > 12)
        return 0;
    return QDate(year, month, 1).daysInMonth();
}

int quarterOfMonth(int month)
{
    return (month - 1) / 3 + 1;
}

int firstMonthOfQuarter(int quarter)
{
    return 3 * (quarter - 1) + 1;
}

QDate encodeDate(int year, int month, int day)
{
    if (year < MinYear || year > MaxYear || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        throw Error::invalidDateEncode();
    return QDate(year, month, day);
}

QDate firstDayOfMonth(int year, int month)
{
    return encodeDate(year, month, 1);
}

QDate lastDayOfMonth(int year, int month)
{
    return encodeDate(year, month, daysInMonth(year, month));
}

QDate firstDayOfQuarter(int year, int quarter)
{
    if (quarter < 1 || quarter > 4)
        throw Error::invalidDateEncode();
    return firstDayOfMonth(year, firstMonthOfQuarter(quarter));
}

QDate lastDayOfQuarter(int year, int quarter)
{
    if (quarter < 1 || quarter > 4)
        throw Error::invalidDateEncode();
    return lastDayOfMonth(year, firstMonthOfQuarter(quarter) + 2);
}

QDate advanceMonths(const QDate &date, int months)
{
    if (!date.isValid())
        throw Error::invalidDateEncode();
    // The month is Qt's; the same day must exist in it, within our years.
    const QDate month = QDate(date.year(), date.month(), 1).addMonths(months);
    if (!month.isValid() || month.year() < MinYear || month.year() > MaxYear)
        throw Error::invalidDateEncode();
    return encodeDate(month.year(), month.month(), date.day());
}

QDate YKMBegin(const QDate &date, bool yearCh, bool kvartCh, bool monthCh, bool dayCh)
{
    int y = date.year();
    int m = date.month();
    int d = date.day();
    if (yearCh) {
        m = 1;
        d = 1;
    } else if (kvartCh) {
        m = firstMonthOfQuarter(quarterOfMonth(m));
        d = 1;
    } else if (monthCh) {
        d = 1;
    }
    if (dayCh) {
        y = 2000;
        m = 1;
        d = 1;
    }
    return encodeDate(y, m, d);
}

StartBoxes afterBoxClick(StartBoxes boxes, StartBox clicked, bool nowChecked)
{
    if (nowChecked)
        boxes = StartBoxes{};
    switch (clicked) {
    case StartBox::Year: boxes.year = nowChecked; break;
    case StartBox::Kvart: boxes.kvart = nowChecked; break;
    case StartBox::Month: boxes.month = nowChecked; break;
    case StartBox::Day: boxes.day = nowChecked; break;
    }
    return boxes;
}

MonthPos stepMonth(MonthPos pos, int delta)
{
    if (delta > 0) {
        if (pos.month >= 12) {
            pos.month = 1;
            ++pos.year;
        } else {
            ++pos.month;
        }
    } else if (delta < 0) {
        if (pos.month <= 1) {
            pos.month = 12;
            --pos.year;
        } else {
            --pos.month;
        }
    }
    if (pos.year < MinYear || pos.year > MaxYear)
        throw Error::invalidDateEncode();
    return pos;
}

QuarterPos stepQuarter(QuarterPos pos, int delta)
{
    if (delta > 0) {
        if (pos.quarter >= 4) {
            pos.quarter = 1;
            ++pos.year;
        } else {
            ++pos.quarter;
        }
    } else if (delta < 0) {
        if (pos.quarter <= 1) {
            pos.quarter = 4;
            --pos.year;
        } else {
            --pos.quarter;
        }
    }
    if (pos.year < MinYear || pos.year > MaxYear)
        throw Error::invalidDateEncode();
    return pos;
}

Period monthPeriod(MonthPos pos, const StartBoxes &boxes)
{
    const QDate first = firstDayOfMonth(pos.year, pos.month);
    return {YKMBegin(first, boxes), lastDayOfMonth(pos.year, pos.month)};
}

Period quarterPeriod(QuarterPos pos, const StartBoxes &boxes)
{
    const QDate first = firstDayOfQuarter(pos.year, pos.quarter);
    return {YKMBegin(first, boxes), lastDayOfQuarter(pos.year, pos.quarter)};
}

QString quarterText(int quarter, int year)
{
    return QString::number(quarter) + QStringLiteral(" Квартал ") + QString::number(year);
}

QString monthText(int month, int year)
{
    return monthName(month) + QLatin1Char(' ') + QString::number(year);
}

QString statusText(const QDate &begin, const QDate &end, const Formats &formats)
{
    return QStringLiteral("Выбран интервал с ") + formats.dateText(begin) + QStringLiteral(" по ")
        + formats.dateText(end);
}

// ---- the date edits' mask ----

DateMask DateMask::forFormat(const QString &shortDateFormat, QChar separator)
{
    DateMask mask;
    mask.m_separator = separator;
    // Order the groups as the format orders day, month and year; a format
    // without one of them keeps day, month, year.
    qsizetype pd = shortDateFormat.indexOf(QLatin1Char('d'));
    qsizetype pm = shortDateFormat.indexOf(QLatin1Char('M'));
    qsizetype py = shortDateFormat.indexOf(QLatin1Char('y'));
    if (pd < 0 || pm < 0 || py < 0) {
        pd = 0;
        pm = 1;
        py = 2;
    }
    const int yearAt = (py > pd) + (py > pm);
    for (int g = 0; g < 3; ++g)
        mask.m_groups[g] = g == yearAt ? Group{4, true} : Group{2, false};
    return mask;
}

DateMask DateMask::forFormats(const Formats &formats)
{
    return forFormat(formats.shortDateFormat(), formats.dateSeparator());
}

int DateMask::groupStart(int g) const
{
    int at = 0;
    for (int k = 0; k < g; ++k)
        at += m_groups[k].width + 1;
    return at;
}

int DateMask::length() const
{
    return groupStart(2) + m_groups[2].width;
}

QString DateMask::inputMask() const
{
    QString mask;
    for (int g = 0; g < 3; ++g) {
        if (g > 0) {
            mask += QLatin1Char('\\');
            mask += m_separator;
        }
        // In Qt's notation '9' is a required digit and '0' a digit that may
        // stay blank.
        mask += QString(m_groups[g].width, m_groups[g].required ? QLatin1Char('9') : QLatin1Char('0'));
    }
    mask += QLatin1Char(';');
    mask += EditBlank;
    return mask;
}

QString DateMask::emptyText() const
{
    QString s;
    for (int g = 0; g < 3; ++g) {
        if (g > 0)
            s += m_separator;
        s += QString(m_groups[g].width, QLatin1Char(' '));
    }
    return s;
}

namespace {

QString alignGroup(const QString &digits, int width, bool required)
{
    const QString kept = digits.left(width);
    const QString pad(width - kept.size(), QLatin1Char(' '));
    return required ? kept + pad : pad + kept;
}

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

QString DateMask::fit(const QString &text) const
{
    const QStringList parts = text.split(m_separator);
    QString out;
    for (int g = 0; g < 3; ++g) {
        QString digits;
        if (g < parts.size()) {
            for (QChar c : parts[g])
                if (isAsciiDigit(c))
                    digits += c;
        }
        if (g > 0)
            out += m_separator;
        out += alignGroup(digits, m_groups[g].width, m_groups[g].required);
    }
    return out;
}

QString DateMask::fromDisplay(const QString &display) const
{
    if (display.size() != length())
        return fit(display);
    QString out;
    for (int g = 0; g < 3; ++g) {
        const QString part = display.mid(groupStart(g), m_groups[g].width);
        if (g > 0)
            out += m_separator;
        if (m_groups[g].required) {
            // Required places keep their positions; what is missing shows.
            QString kept;
            for (QChar c : part)
                kept += isAsciiDigit(c) ? c : QLatin1Char(' ');
            out += kept;
        } else {
            QString digits;
            for (QChar c : part)
                if (isAsciiDigit(c))
                    digits += c;
            out += alignGroup(digits, m_groups[g].width, false);
        }
    }
    return out;
}

QString DateMask::toDisplay(const QString &text) const
{
    // A text of the mask's shape keeps its places; anything else is fitted.
    bool shaped = text.size() == length();
    for (int g = 1; g < 3 && shaped; ++g)
        shaped = text[groupStart(g) - 1] == m_separator;
    QString shown = shaped ? text : fit(text);
    for (int g = 0; g < 3; ++g) {
        const int at = groupStart(g);
        for (int i = at; i < at + m_groups[g].width; ++i)
            if (!isAsciiDigit(shown[i]))
                shown[i] = EditBlank;
    }
    return shown;
}

bool DateMask::satisfied(const QString &text) const
{
    if (text.size() != length())
        return false;
    for (int g = 0; g < 3; ++g) {
        const int at = groupStart(g);
        if (g > 0 && text[at - 1] != m_separator)
            return false;
        for (int i = at; i < at + m_groups[g].width; ++i) {
            const QChar c = text[i];
            if (isAsciiDigit(c))
                continue;
            if (m_groups[g].required || (c != QLatin1Char(' ') && c != EditBlank))
                return false;
        }
    }
    return true;
}

MonthLayout::MonthLayout(const QDate &date, int startOfWeek) : m_startOfWeek(((startOfWeek % 7) + 7) % 7)
{
    const QDate first(date.year(), date.month(), 1);
    const int weekday = first.dayOfWeek() % 7; // 0 Sunday
    m_offset = (weekday - m_startOfWeek + 7) % 7;
    m_days = daysInMonth(date.year(), date.month());
}

int MonthLayout::dayAt(int row, int col) const
{
    if (row < 1 || row >= Rows || col < 0 || col >= Cols)
        return 0;
    const int day = (row - 1) * Cols + col - m_offset + 1;
    return day >= 1 && day <= m_days ? day : 0;
}

int MonthLayout::weekdayOfColumn(int col) const
{
    const int weekday = (m_startOfWeek + col) % 7; // 0 Sunday
    return weekday == 0 ? 7 : weekday;
}

QDate calendarMonthStep(const QDate &date, int delta)
{
    // Qt keeps the day, cut to the end of a shorter month.
    const QDate stepped = date.addMonths(delta);
    if (!stepped.isValid() || stepped.year() < MinYear)
        return QDate();
    if (stepped.year() > MaxYear)
        throw Error::invalidDateEncode();
    return stepped;
}

QDate readDateText(const QString &text, const Formats &formats)
{
    const std::optional<QDate> d = formats.parseDate(text);
    if (!d)
        throw Error::invalidDate(text);
    return *d;
}

QString invalidInputMessage()
{
    return QStringLiteral("Invalid input value.  Use escape key to abandon changes");
}

} // namespace bilmeko
