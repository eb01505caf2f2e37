#include "revenuechart.h"

#include "common/core/errors.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace bilmeko {

namespace {

// Beyond these a number is not a value the program wrote but noise.
constexpr double MaxMoney = 1e15;

bool plausible(const LogRecord &r)
{
    static const double first = dateValue(QDate(1, 1, 1));
    static const double after = dateValue(QDate(9999, 12, 31)) + 1;
    return r.written > first - 1 && r.written < after && std::isfinite(r.amount) && std::fabs(r.amount) < MaxMoney;
}

QString serviceLabel(const QString &service)
{
    const QString s = service.trimmed();
    return s.isEmpty() ? QStringLiteral("Услуга не указана") : s;
}

// Reads 168-byte records and feeds those of the period to the chart; false
// once the reading has to end (damage).
class Feeder
{
public:
    Feeder(RevenueChart &chart) : m_chart(chart), m_after(chart.dateEnd() + 1.0) {}

    bool add(const char *stored)
    {
        // The date of writing is never scrambled: records outside the period
        // are passed over without decoding.
        const double written = readDouble(stored, record::Written);
        if (!(written >= m_chart.dateBeg() && written < m_after))
            return true;
        RecordBytes rec;
        std::copy(stored, stored + RecordSize, rec.begin());
        ScrambleRecord(rec);
        const LogRecord r = deserializeRecord(rec.data());
        if (!plausible(r)) {
            damaged = true;
            return false;
        }
        m_chart.add(r);
        return true;
    }

    bool damaged = false;

private:
    RevenueChart &m_chart;
    double m_after;
};

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
    case Step::Hour:
        m_hours[static_cast<size_t>(std::clamp(timeOf(r.written).hour(), 0, 23))] += r.amount;
        break;
    case Step::Day:
        m_days[day.toJulianDay()] += r.amount;
        break;
    case Step::Month:
        m_months[day.year() * 12 + day.month() - 1] += r.amount;
        break;
    }
    m_services[serviceLabel(r.service)] += r.amount;
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
            bars.append({QStringLiteral("%1.%2").arg(m % 12 + 1, 2, 10, QLatin1Char('0')).arg(m / 12),
                         m_months.value(m)});
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
        RevenueBar rest {QStringLiteral("Прочие услуги"), 0};
        for (qsizetype i = MaxServices - 1; i < bars.size(); ++i)
            rest.amount += bars[i].amount;
        bars.resize(MaxServices - 1);
        bars.append(rest);
    }
    return bars;
}

RevenueChart revenueOfJournal(const QByteArray &journal, DateTimeValue dateBeg, DateTimeValue dateEnd,
                              bool *damaged)
{
    RevenueChart chart(dateBeg, dateEnd);
    Feeder feeder(chart);
    const qsizetype count = journal.size() / RecordSize;
    qsizetype i = 0;
    while (i < count && feeder.add(journal.constData() + i * RecordSize))
        ++i;
    if (damaged)
        *damaged = feeder.damaged || (i == count && journal.size() % RecordSize != 0);
    return chart;
}

RevenueChart revenueOfJournal(const QString &journalPath, DateTimeValue dateBeg, DateTimeValue dateEnd,
                              bool *damaged)
{
    RevenueChart chart(dateBeg, dateEnd);
    Feeder feeder(chart);
    if (damaged)
        *damaged = false;
    const int fd = ::open(QFile::encodeName(journalPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return chart; // no journal yet: no revenue
        throw IoError::fromErrno(errno);
    }
    static constexpr size_t ChunkRecords = 768;
    std::vector<char> buffer(ChunkRecords * RecordSize);
    size_t carry = 0;
    bool stopped = false;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data() + carry, buffer.size() - carry);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            feeder.damaged = true;
            break;
        }
        if (n == 0)
            break;
        const size_t have = carry + static_cast<size_t>(n);
        const size_t whole = have / RecordSize;
        for (size_t k = 0; k < whole && !stopped; ++k)
            stopped = !feeder.add(buffer.data() + k * RecordSize);
        if (stopped)
            break;
        carry = have - whole * RecordSize;
        std::copy(buffer.data() + whole * RecordSize, buffer.data() + have, buffer.data());
    }
    ::close(fd);
    if (damaged)
        *damaged = feeder.damaged || (!stopped && carry > 0);
    return chart;
}

} // namespace bilmeko
