#pragma once
// The revenue of a period as the chart shows it: the amounts of the journal
// records summed by day (by hour for a period of one day, by month for a
// period longer than a year), by service, largest first, and by payment
// method. A record counts
// by its date of writing, as the report selects it.

#include "common/core/datetime.h"
#include "logrecord.h"
#include "periodreport.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <array>

namespace bilmeko {

struct RevenueBar
{
    QString label;
    double amount = 0;

    bool operator==(const RevenueBar &o) const { return label == o.label && amount == o.amount; }
};

class RevenueChart
{
public:
    enum class Step { Hour, Day, Month };
    // Services shown one by one; the rest are summed in one bar.
    static constexpr int MaxServices = 12;
    // Periods up to this many days are shown day by day.
    static constexpr int MaxDays = 366;

    RevenueChart(DateTimeValue dateBeg, DateTimeValue dateEnd);

    // Counts the record when dateBeg <= written < dateEnd + 1; false when it
    // lies outside the period.
    bool add(const LogRecord &r);

    Step step() const { return m_step; }
    // One bar per hour ("0" to "23"), per day of the period, or per month from the
    // first month with revenue to the last; empty hours and days included.
    QList<RevenueBar> byTime() const;
    // Services by revenue, largest first (equal ones by name); beyond
    // MaxServices the rest as "Прочие услуги".
    QList<RevenueBar> byService() const;
    // Takings by payment method: cash, card, transfer, then "не указано",
    // each that any counted record has.
    QList<RevenueBar> byMethod() const;

    double total() const { return m_total; }
    int recordCount() const { return m_count; }
    DateTimeValue dateBeg() const { return m_beg; }
    DateTimeValue dateEnd() const { return m_end; }

private:
    DateTimeValue m_beg;
    DateTimeValue m_end;
    QDate m_first;
    Step m_step;
    std::array<double, 24> m_hours{};
    QMap<qint64, double> m_days; // Julian day -> amount
    QMap<int, double> m_months; // year * 12 + month - 1 -> amount
    QMap<QString, double> m_services;
    std::array<double, PaymentCount> m_methods{};
    std::array<int, PaymentCount> m_methodCounts{};
    double m_total = 0;
    int m_count = 0;
};

// The revenue of the records a report lists and counts: the chart and the
// report always agree.
RevenueChart revenueOfReport(const PeriodReport &report);

} // namespace bilmeko
