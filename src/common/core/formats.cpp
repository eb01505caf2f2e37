#include "formats.h"

#include <QRegularExpression>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace bilmeko {

namespace {

std::unique_ptr<Formats> &currentFormats()
{
    static std::unique_ptr<Formats> f;
    return f;
}

bool isCLocale(const QLocale &l)
{
    return l.language() == QLocale::C;
}

// Strips time-zone parts a long time format may carry ("t", "tttt").
QString withoutZone(QString fmt)
{
    fmt.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*")));
    return fmt.trimmed();
}

} // namespace

Formats Formats::russian()
{
    Formats f;
    f.m_locale = QLocale(QLocale::Russian, QLocale::Russia);
    f.m_longTime = QStringLiteral("H:mm:ss");
    f.m_shortDate = QStringLiteral("dd.MM.yyyy");
    f.m_dateSeparator = QLatin1Char('.');
    f.m_currencyDecimals = 2;
    f.m_currencyPrefix.clear();
    f.m_currencySuffix = QString(QChar(0x00A0)) + QChar(0x20BD);
    f.m_groupSeparator = QString(QChar(0x00A0));
    return f;
}

Formats Formats::fromLocale(const QLocale &locale)
{
    if (isCLocale(locale) || locale.language() == QLocale::Russian)
        return russian();
    Formats f;
    f.m_locale = locale;
    f.m_longTime = withoutZone(locale.timeFormat(QLocale::LongFormat));
    QString date = locale.dateFormat(QLocale::ShortFormat);
    if (!date.contains(QLatin1String("yyyy")))
        date.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    f.m_shortDate = date;
    for (QChar c : date) {
        if (!c.isLetter()) {
            f.m_dateSeparator = c;
            break;
        }
    }
    // The locale's currency pattern around a bare "7".
    const QString sample = locale.toCurrencyString(7.0, locale.currencySymbol(), 0);
    const qsizetype at = sample.indexOf(QLatin1Char('7'));
    f.m_currencyPrefix = at >= 0 ? sample.left(at) : QString();
    f.m_currencySuffix = at >= 0 ? sample.mid(at + 1) : sample;
    f.m_groupSeparator = locale.groupSeparator();
    // The locale's currency decimals are not exposed by Qt; two is the rule
    // for nearly every currency.
    f.m_currencyDecimals = 2;
    return f;
}

const Formats &Formats::current()
{
    auto &f = currentFormats();
    if (!f)
        f = std::make_unique<Formats>(fromLocale(QLocale::system()));
    return *f;
}

void Formats::setCurrent(const Formats &formats)
{
    currentFormats() = std::make_unique<Formats>(formats);
}

QString Formats::timeText(const QTime &t) const
{
    // A tick redraws a column of times: the usual formats with plain digits
    // are written out here rather than by the locale's general formatter.
    const bool padded = m_longTime == QLatin1String("HH:mm:ss");
    if (!t.isValid() || (!padded && m_longTime != QLatin1String("H:mm:ss"))
        || m_locale.zeroDigit() != QLatin1String("0"))
        return m_locale.toString(t, m_longTime);
    const int h = t.hour();
    const int m = t.minute();
    const int s = t.second();
    QChar out[8];
    int n = 0;
    if (padded || h >= 10)
        out[n++] = QChar(u'0' + h / 10);
    for (const char16_t c : {char16_t(u'0' + h % 10), u':', char16_t(u'0' + m / 10), char16_t(u'0' + m % 10), u':',
                             char16_t(u'0' + s / 10), char16_t(u'0' + s % 10)})
        out[n++] = QChar(c);
    return QString(out, n);
}

QString Formats::timeText(DateTimeValue v) const
{
    return timeText(timeOf(v));
}

QString Formats::dateText(const QDate &d) const
{
    return m_locale.toString(d, m_shortDate);
}

QString Formats::dateTimeText(DateTimeValue v) const
{
    const QTime t = timeOf(v);
    QString s = dateText(dateOf(v));
    if (t.msecsSinceStartOfDay() != 0)
        s += QLatin1Char(' ') + timeText(t);
    return s;
}

QString Formats::fixedHalfUp(double v, int decimals)
{
    if (!std::isfinite(v))
        return QStringLiteral("0");
    // Most amounts are whole cents (a grid redraws columns of them): when the
    // scaled value lies near a whole number, the rule below gives that number,
    // written here without the decimal text. Below 1e9 with at most four
    // decimals, the 15 digits reach past the rounding digit.
    if (decimals >= 0 && decimals <= 4 && std::fabs(v) < 1e9) {
        static constexpr std::int64_t Scale[] = {1, 10, 100, 1000, 10000};
        const double scaled = std::fabs(v) * double(Scale[decimals]);
        const double whole = std::nearbyint(scaled);
        if (std::fabs(scaled - whole) < 1e-3) {
            const auto n = static_cast<std::int64_t>(whole);
            QString out = QString::number(n / Scale[decimals]);
            if (decimals > 0)
                out += QLatin1Char('.')
                    + QString::number(n % Scale[decimals]).rightJustified(decimals, QLatin1Char('0'));
            if (v < 0 && n != 0)
                out.prepend(QLatin1Char('-'));
            return out;
        }
    }
    // Take the number's 15 significant decimal digits (what it prints as),
    // then round that decimal text half up: 1234.565 gives 1234.57 although
    // its binary value lies just below.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(v));
    const QByteArray text(buf);
    const qsizetype e = text.indexOf('e');
    QByteArray mant = text.left(e);
    mant.remove(1, 1); // drop the point: 15 digits
    const int exp = text.mid(e + 1).toInt();
    // digits[i] has weight 10^(exp - i)
    QByteArray intPart, fracPart;
    const int lastPos = -decimals; // lowest weight kept
    std::vector<int> digits; // from weight `top` down to `lastPos`
    const int top = std::max(exp, 0);
    for (int w = top; w >= lastPos; --w) {
        const int i = exp - w;
        digits.push_back(i >= 0 && i < mant.size() ? mant[i] - '0' : 0);
    }
    const int next = exp - (lastPos - 1);
    const int roundDigit = next >= 0 && next < mant.size() ? mant[next] - '0' : 0;
    if (roundDigit >= 5) {
        int k = static_cast<int>(digits.size()) - 1;
        while (k >= 0) {
            if (++digits[k] < 10)
                break;
            digits[k] = 0;
            --k;
        }
        if (k < 0)
            digits.insert(digits.begin(), 1);
    }
    QString out;
    const int intCount = static_cast<int>(digits.size()) - decimals;
    for (int i = 0; i < static_cast<int>(digits.size()); ++i) {
        if (i == intCount)
            out += QLatin1Char('.');
        out += QChar('0' + digits[i]);
    }
    // drop leading zeros of the integer part
    int lead = 0;
    while (lead < intCount - 1 && out[lead] == QLatin1Char('0'))
        ++lead;
    out = out.mid(lead);
    bool allZero = true;
    for (QChar c : out)
        if (c.isDigit() && c != QLatin1Char('0'))
            allZero = false;
    if (v < 0 && !allZero)
        out.prepend(QLatin1Char('-'));
    return out;
}

QString Formats::money(double v)
{
    QString s = fixedHalfUp(v, 2);
    s.replace(QLatin1Char('.'), QLatin1Char(','));
    return s;
}

QString Formats::generalNumber(double v)
{
    if (!std::isfinite(v))
        return QStringLiteral("0");
    QString s = QString::number(v, 'g', 15);
    if (s.contains(QLatin1Char('e'))) {
        // Plain decimals read back everywhere; keep the exponent form only
        // where fixed notation would need more than 15 digits.
        const QString fixed = QString::number(v, 'f', 15);
        QString trimmed = fixed;
        if (trimmed.contains(QLatin1Char('.'))) {
            while (trimmed.endsWith(QLatin1Char('0')))
                trimmed.chop(1);
            if (trimmed.endsWith(QLatin1Char('.')))
                trimmed.chop(1);
        }
        if (trimmed.size() <= 17 && QString::number(trimmed.toDouble(), 'g', 15) == s)
            s = trimmed;
        else
            s = s.toUpper();
    }
    s.replace(QLatin1Char('.'), QLatin1Char(','));
    return s;
}

std::optional<double> Formats::parseFloat(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^[+-]?(\\d+(,\\d*)?|,\\d+)([eE][+-]?\\d+)?$"));
    const QString t = text.trimmed();
    if (!re.match(t).hasMatch())
        return std::nullopt;
    QString c = t;
    c.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = c.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<QDate> Formats::parseDate(const QString &text) const
{
    const QStringList parts = text.split(m_dateSeparator);
    if (parts.size() != 3)
        return std::nullopt;
    // Order of day, month and year as the short format has them.
    int order[3] = {0, 1, 2}; // positions of d, M, y
    const qsizetype pd = m_shortDate.indexOf(QLatin1Char('d'));
    const qsizetype pm = m_shortDate.indexOf(QLatin1Char('M'));
    const qsizetype py = m_shortDate.indexOf(QLatin1Char('y'));
    order[0] = (pd > pm) + (pd > py);
    order[1] = (pm > pd) + (pm > py);
    order[2] = (py > pd) + (py > pm);
    int values[3];
    for (int k = 0; k < 3; ++k) {
        const QString p = parts[order[k]].trimmed();
        if (p.isEmpty() || p.size() > 4)
            return std::nullopt;
        for (QChar c : p)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        values[k] = p.toInt();
    }
    const QDate d(values[2], values[1], values[0]);
    if (!d.isValid() || values[2] < 1 || values[2] > 9999)
        return std::nullopt;
    return d;
}

QStringList Formats::shortDayNames() const
{
    QStringList names;
    for (int day = 1; day <= 7; ++day)
        names << m_locale.dayName(day, QLocale::ShortFormat);
    return names;
}

QString Formats::currencyWith(double v, int decimals) const
{
    // No amount the desk makes; shown as the damage it is, never as 0.
    if (!std::isfinite(v))
        return DamagedAmount;
    QString digits = fixedHalfUp(v, decimals);
    const bool negative = digits.startsWith(QLatin1Char('-'));
    if (negative)
        digits.remove(0, 1);
    const qsizetype dot = digits.indexOf(QLatin1Char('.'));
    QString intPart = dot >= 0 ? digits.left(dot) : digits;
    const QString frac = dot >= 0 ? digits.mid(dot + 1) : QString();
    for (qsizetype i = intPart.size() - 3; i > 0; i -= 3)
        intPart.insert(i, m_groupSeparator);
    QString number = intPart;
    if (!frac.isEmpty())
        number += QLatin1Char(',') + frac;
    return (negative ? QStringLiteral("-") : QString()) + m_currencyPrefix + number + m_currencySuffix;
}

QString Formats::currency(double v) const
{
    return currencyWith(v, m_currencyDecimals);
}

QString Formats::currency2(double v) const
{
    return currencyWith(v, 2);
}

} // namespace bilmeko
