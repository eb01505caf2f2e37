#pragma once
// Display formats, built once from the user's locale with ',' as the decimal
// separator everywhere. Where no locale is configured (C/POSIX) the program
// uses Russian conventions.

#include "datetime.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>

namespace bilmeko {

// What a money text shows for a value that is no amount (infinite, NaN).
inline const QString DamagedAmount = QStringLiteral("сумма повреждена");

class Formats
{
public:
    // Russian conventions: H:mm:ss, dd.MM.yyyy, "325,00 ₽".
    static Formats russian();
    // Formats of a locale; the C locale gives the Russian conventions.
    static Formats fromLocale(const QLocale &locale);

    // The formats in use: those of the system locale unless set otherwise.
    static const Formats &current();
    static void setCurrent(const Formats &formats);

    const QLocale &locale() const { return m_locale; }
    const QString &longTimeFormat() const { return m_longTime; }
    const QString &shortDateFormat() const { return m_shortDate; }
    QChar dateSeparator() const { return m_dateSeparator; }
    int currencyDecimals() const { return m_currencyDecimals; }

    // The time-of-day part of a value in the long time format (1:05:20).
    QString timeText(DateTimeValue v) const;
    QString timeText(const QTime &t) const;
    QString dateText(const QDate &d) const;
    QString dateText(DateTimeValue v) const { return dateText(dateOf(v)); }
    // Date, then a blank and the long time unless the time is exactly midnight.
    QString dateTimeText(DateTimeValue v) const;

    // Money in the session grid: the locale's currency decimals. An
    // infinite or NaN amount reads DamagedAmount.
    QString currency(double v) const;
    // Money in the client dialog and the notices: 2 decimals.
    QString currency2(double v) const;
    // Money in the report: fixed point, two decimals rounded half up,
    // ',' as separator, no grouping and no exponent (1234,57; 123456,00).
    static QString money(double v);
    // A number as the settings file writes it: up to 15 significant digits,
    // no trailing zeros, ',' as separator (2,5; 10).
    static QString generalNumber(double v);

    // A decimal number in the ',' form; '.' and grouping are not accepted.
    static std::optional<double> parseFloat(const QString &text);
    // A date in the short date format; blanks around the parts are allowed.
    std::optional<QDate> parseDate(const QString &text) const;

    // Abbreviated weekday names, Monday first.
    QStringList shortDayNames() const;

    // Digits of |v| rounded half up to `decimals` places, as "1234.57".
    static QString fixedHalfUp(double v, int decimals);

private:
    QString currencyWith(double v, int decimals) const;

    QLocale m_locale;
    QString m_longTime;
    QString m_shortDate;
    QChar m_dateSeparator = QLatin1Char('.');
    int m_currencyDecimals = 2;
    QString m_currencyPrefix;
    QString m_currencySuffix;
    QString m_groupSeparator;
};

} // namespace bilmeko
