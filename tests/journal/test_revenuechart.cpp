// The revenue chart's figures: by hour, day or month, by service, and over
// whole journals, without drawing anything.

#include "common/core/formats.h"
#include "journal/core/periodreport.h"
#include "journal/core/revenuechart.h"
#include "reporttestutil.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <limits>

using namespace bilmeko;
using namespace bilmeko::test;

namespace {

LogRecord sale(DateTimeValue written, double amount, const QString &service = QStringLiteral("Солярий"))
{
    LogRecord r = sampleRecord(written, amount);
    r.service = service;
    return r;
}

RevenueChart chartOf(DateTimeValue beg, DateTimeValue end, const QList<LogRecord> &records)
{
    RevenueChart c(beg, end);
    for (const LogRecord &r : records)
        c.add(r);
    return c;
}

using Bars = QList<RevenueBar>;

// Only the bars with revenue, for short expectations.
Bars nonZero(const Bars &bars)
{
    Bars out;
    for (const RevenueBar &b : bars)
        if (b.amount != 0)
            out << b;
    return out;
}

} // namespace

namespace QTest {
template <> char *toString(const RevenueBar &b)
{
    return qstrdup(qPrintable(QStringLiteral("%1=%2").arg(b.label).arg(b.amount)));
}
} // namespace QTest

class TestRevenueChart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { pinRussian(); }

    void theStepFollowsThePeriodsLength_data()
    {
        QTest::addColumn<QDate>("beg");
        QTest::addColumn<QDate>("end");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("bars");
        QTest::newRow("one day") << QDate(2026, 5, 15) << QDate(2026, 5, 15) << int(RevenueChart::Step::Hour) << 24;
        QTest::newRow("two days") << QDate(2026, 5, 15) << QDate(2026, 5, 16) << int(RevenueChart::Step::Day) << 2;
        QTest::newRow("a quarter") << QDate(2026, 10, 1) << QDate(2026, 12, 31) << int(RevenueChart::Step::Day) << 92;
        QTest::newRow("a leap year") << QDate(2028, 1, 1) << QDate(2028, 12, 31) << int(RevenueChart::Step::Day) << 366;
        QTest::newRow("a day more") << QDate(2028, 1, 1) << QDate(2029, 1, 1) << int(RevenueChart::Step::Month) << 0;
        QTest::newRow("end before start")
            << QDate(2026, 5, 15) << QDate(2026, 5, 1) << int(RevenueChart::Step::Day) << 0;
    }
    void theStepFollowsThePeriodsLength()
    {
        QFETCH(QDate, beg);
        QFETCH(QDate, end);
        QFETCH(int, step);
        QFETCH(int, bars);
        const RevenueChart c(dateValue(beg), dateValue(end));
        QCOMPARE(int(c.step()), step);
        QCOMPARE(c.byTime().size(), bars);
    }

    // A record counts by its date of writing, from the first moment of the
    // first day up to, not including, midnight after the last.
    void oneDayByHour()
    {
        const RevenueChart c = chartOf(at(2026, 5, 15), at(2026, 5, 15),
                                       {sale(at(2026, 5, 15), 4), sale(at(2026, 5, 15, 9, 15), 10),
                                        sale(at(2026, 5, 15, 9, 59, 59, 999), 5), sale(at(2026, 5, 15, 10), 7),
                                        sale(at(2026, 5, 15, 23, 59, 59), 1), sale(at(2026, 5, 16), 100),
                                        sale(at(2026, 5, 14, 23, 59), 100)});
        const Bars bars = c.byTime();
        QCOMPARE(bars.first().label, QStringLiteral("0"));
        QCOMPARE(bars.last().label, QStringLiteral("23"));
        QCOMPARE(nonZero(bars),
                 (Bars{{QStringLiteral("0"), 4},
                       {QStringLiteral("9"), 15},
                       {QStringLiteral("10"), 7},
                       {QStringLiteral("23"), 1}}));
        QCOMPARE(c.total(), 27.0);
        QCOMPARE(c.recordCount(), 5);
    }

    void daysOverTheTurnOfTheYear()
    {
        const RevenueChart c
            = chartOf(at(2026, 12, 30), at(2027, 1, 2),
                      {sale(at(2027, 1, 2, 18), 3), sale(at(2026, 12, 30, 10), 1.5), sale(at(2026, 12, 30, 11), 2.25)});
        QCOMPARE(c.byTime(),
                 (Bars{{QStringLiteral("30.12.26"), 3.75},
                       {QStringLiteral("31.12.26"), 0},
                       {QStringLiteral("01.01.27"), 0},
                       {QStringLiteral("02.01.27"), 3}}));
        const RevenueChart month = chartOf(at(2026, 2, 1), at(2026, 2, 28), {sale(at(2026, 2, 28, 12), 8)});
        QCOMPARE(month.byTime().size(), 28);
        QCOMPARE(month.byTime().first().label, QStringLiteral("01.02"));
        QCOMPARE(month.byTime().last(), (RevenueBar{QStringLiteral("28.02"), 8}));
    }

    // Longer periods go by month, from the first month with revenue to the last.
    void monthsOfALongPeriod()
    {
        const RevenueChart c
            = chartOf(at(2000, 1, 1), at(2026, 12, 31),
                      {sale(at(2025, 6, 3), 2), sale(at(2025, 3, 31, 23), 1), sale(at(2025, 6, 30), 4)});
        QCOMPARE(c.byTime(),
                 (Bars{{QStringLiteral("03.2025"), 1},
                       {QStringLiteral("04.2025"), 0},
                       {QStringLiteral("05.2025"), 0},
                       {QStringLiteral("06.2025"), 6}}));
    }

    void servicesRankedByRevenue()
    {
        const RevenueChart c = chartOf(
            at(2026, 5, 1), at(2026, 5, 31),
            {sale(at(2026, 5, 2), 10, QStringLiteral("Массаж")), sale(at(2026, 5, 3), 30, QStringLiteral("Солярий")),
             sale(at(2026, 5, 4), 5, QString()), sale(at(2026, 5, 5), 10, QStringLiteral("Бассейн")),
             sale(at(2026, 5, 6), 15, QStringLiteral("Массаж")), sale(at(2026, 5, 7), 1, QStringLiteral("  "))});
        QCOMPARE(c.byService(),
                 (Bars{{QStringLiteral("Солярий"), 30},
                       {QStringLiteral("Массаж"), 25},
                       {QStringLiteral("Бассейн"), 10},
                       {QStringLiteral("Услуга не указана"), 6}}));
    }

    // Takings by method: a reversal nets out in its Stop's method, old
    // records stand as "не указано", a method with no record has no bar.
    void takingsByMethod()
    {
        const auto paid = [](DateTimeValue when, double amount, Payment p, bool reversal = false) {
            LogRecord r = sale(when, amount, QStringLiteral("Массаж"));
            r.sessionId = 9;
            r.payment = p;
            r.reversal = reversal;
            return r;
        };
        const RevenueChart c
            = chartOf(at(2026, 5, 1), at(2026, 5, 31),
                      {paid(at(2026, 5, 2), 10, Payment::Card), paid(at(2026, 5, 3), 30, Payment::Cash),
                       paid(at(2026, 5, 3), -30, Payment::Cash, true), sale(at(2026, 5, 4), 5, QString()),
                       paid(at(2026, 5, 5), 12, Payment::Cash)});
        QCOMPARE(
            c.byMethod(),
            (Bars{{QStringLiteral("наличные"), 12}, {QStringLiteral("карта"), 10}, {QStringLiteral("не указано"), 5}}));
    }

    void manyServicesEndInTheRest()
    {
        QList<LogRecord> records;
        double total = 0;
        for (int i = 1; i <= 20; ++i) {
            records << sale(at(2026, 5, 2), i, QStringLiteral("Услуга %1").arg(i, 2, 10, QLatin1Char('0')));
            total += i;
        }
        const Bars bars = chartOf(at(2026, 5, 1), at(2026, 5, 31), records).byService();
        QCOMPARE(bars.size(), RevenueChart::MaxServices);
        QCOMPARE(bars.first(), (RevenueBar{QStringLiteral("Услуга 20"), 20}));
        QCOMPARE(bars[10], (RevenueBar{QStringLiteral("Услуга 10"), 10}));
        // 1 + 2 + ... + 9
        QCOMPARE(bars.last(), (RevenueBar{QStringLiteral("Прочие услуги"), 45}));
        double sum = 0;
        for (const RevenueBar &b : bars)
            sum += b.amount;
        QCOMPARE(sum, total);
    }

    // Over a journal: every record of the period counts wherever it stands,
    // and the figures are the report's.
    void journalOutOfTimeOrder()
    {
        const QList<LogRecord> records{sale(at(2026, 12, 2, 10), 10), sale(at(2027, 1, 5), 1000),
                                       sale(at(2026, 12, 3, 10), 20), sale(at(2026, 11, 30), 1000),
                                       sale(at(2026, 12, 31, 23, 59), 30, QStringLiteral("Массаж"))};
        const RevenueChart c
            = revenueOfReport(buildPeriodReport(journalBytes(records), at(2026, 12, 1), at(2026, 12, 31)));
        QCOMPARE(c.recordCount(), 3);
        QCOMPARE(c.total(), 60.0);
        QCOMPARE(nonZero(c.byTime()),
                 (Bars{{QStringLiteral("02.12"), 10}, {QStringLiteral("03.12"), 20}, {QStringLiteral("31.12"), 30}}));
        QCOMPARE(c.byService(), (Bars{{QStringLiteral("Массаж"), 30}, {QStringLiteral("Солярий"), 30}}));
    }

    // The chart counts exactly what the report lists: records out of time
    // order included, records the report cannot trust left out.
    void sameRecordsAsTheReport_data()
    {
        QTest::addColumn<int>("bad"); // index of the record made bad, -1 none
        QTest::addColumn<int>("fragment");
        QTest::newRow("sound") << -1 << 0;
        QTest::newRow("a fragment") << -1 << 100;
        QTest::newRow("a bad amount in the period") << 2 << 0;
        QTest::newRow("a bad amount outside") << 1 << 0;
    }
    void sameRecordsAsTheReport()
    {
        QFETCH(int, bad);
        QFETCH(int, fragment);
        QList<LogRecord> records{sale(at(2026, 12, 2), 1), sale(at(2025, 1, 1), 1), sale(at(2026, 12, 3), 2),
                                 sale(at(2027, 1, 4), 4), sale(at(2026, 12, 5), 8)};
        for (int i = 0; i < 200; ++i)
            records << sale(at(2026, 10, 1) + i * 0.37, 0.01 * i + 1.1);
        if (bad >= 0)
            records[bad].amount = std::numeric_limits<double>::quiet_NaN();
        const QByteArray journal = journalBytes(records, fragment);
        const PeriodReport report = buildPeriodReport(journal, at(2026, 10, 10), at(2026, 12, 31));
        const RevenueChart c = revenueOfReport(report);
        QCOMPARE(c.recordCount(), report.recordCount());
        QCOMPARE(Formats::money(c.total()), report.sumText());
        QCOMPARE(c.dateBeg(), at(2026, 10, 10));
    }
};

QTEST_GUILESS_MAIN(TestRevenueChart)
#include "test_revenuechart.moc"
