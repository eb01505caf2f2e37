#include "revenuechart.h"

#include <algorithm>
#include <cmath>

namespace bilmeko {

namespace {

QString serviceLabel(const QString &service)
{
    const QString s = service.trimmed();
    return s.isEmpty() ? QStringLiteral("Услуга не указана") : s;
}

} // namespace

RevenueChart::RevenueChart(DateTimeValue dateBeg, DateTimeValue dateEnd)
    : m_beg(dateBeg), m_end(dateEnd), m_first(dateOf(dateBeg))
{
    const qint64 days = dateOf(dateEnd).toJulianDay() - m_first.toJulianDay() + 1;
    m_step = days == 1 ? Step::Hour : days <= MaxDays ? Step::Day : Step::Month;
}

bool RevenueChart::add(const LogRecord &r)
{
    if (!(r.written >= m_beg && r.written < m_end + 1.0))
        return false;
    const QDate day = dateOf(r.written);
    switch (m_step) {
    case Step::Hour: m_hours[static_cast<size_t>(std::clamp(timeOf(r.written).hour(), 0, 23))] += r.amount; break;
    case Step::Day: m_days[day.toJulianDay()] += r.amount; break;
    case Step::Month: m_months[day.year() * 12 + day.month() - 1] += r.amount; break;
    }
    m_services[serviceLabel(r.service)] += r.amount;
    const auto method = static_cast<size_t>(r.payment) & 3;
    m_methods[method] += r.amount;
    ++m_methodCounts[method];
    m_total += r.amount;
    ++m_count;
    return true;
}

QList<RevenueBar> RevenueChart::byTime() const
{
    QList<RevenueBar> bars;
    switch (m_step) {
    case Step::Hour:
        for (int h = 0; h < 24; ++h)
            bars.append({QString::number(h), m_hours[static_cast<size_t>(h)]});
        break;
    case Step::Day: {
        const QDate last = dateOf(m_end);
        // Labels stay unique when the period runs into another year.
        const QString format = m_first.year() == last.year() ? QStringLiteral("dd.MM") : QStringLiteral("dd.MM.yy");
        for (QDate d = m_first; d <= last; d = d.addDays(1))
            bars.append({d.toString(format), m_days.value(d.toJulianDay())});
        break;
    }
    case Step::Month:
        if (m_months.isEmpty())
            break;
        for (int m = m_months.firstKey(); m <= m_months.lastKey(); ++m)
            bars.append(
                {QStringLiteral("%1.%2").arg(m % 12 + 1, 2, 10, QLatin1Char('0')).arg(m / 12), m_months.value(m)});
        break;
    }
    return bars;
}

QList<RevenueBar> RevenueChart::byService() const
{
    QList<RevenueBar> bars;
    for (auto it = m_services.cbegin(); it != m_services.cend(); ++it)
        bars.append({it.key(), it.value()});
    // QMap gives the names in order, so equal amounts stay by name.
    std::stable_sort(bars.begin(), bars.end(),
                     [](const RevenueBar &a, const RevenueBar &b) { return a.amount > b.amount; });
    if (bars.size() > MaxServices) {
        RevenueBar rest{QStringLiteral("Прочие услуги"), 0};
        for (qsizetype i = MaxServices - 1; i < bars.size(); ++i)
            rest.amount += bars[i].amount;
        bars.resize(MaxServices - 1);
        bars.append(rest);
    }
    return bars;
}

QList<RevenueBar> RevenueChart::byMethod() const
{
    QList<RevenueBar> bars;
    for (Payment p : {Payment::Cash, Payment::Card, Payment::Transfer, Payment::Unknown}) {
        const auto m = static_cast<size_t>(p);
        if (m_methodCounts[m] > 0)
            bars.append({paymentText(p), m_methods[m]});
    }
    return bars;
}

RevenueChart revenueOfReport(const PeriodReport &report)
{
    RevenueChart chart(report.dateBeg(), report.dateEnd());
    report.forEachSelected([&](qsizetype i, const LogRecord &r) {
        if (report.counted(i))
            chart.add(r);
    });
    return chart;
}

} // namespace bilmeko
