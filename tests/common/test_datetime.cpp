#include "common/core/codepage.h"
#include "common/core/datetime.h"

#include <QTest>

using namespace bilmeko;

class TestDateTime : public QObject
{
    Q_OBJECT
private slots:
    void valuesOfKnownDays_data()
    {
        QTest::addColumn<QDateTime>("dt");
        QTest::addColumn<double>("value");
        QTest::newRow("epoch") << QDateTime(QDate(1899, 12, 30), QTime(0, 0)) << 0.0;
        QTest::newRow("noon of 31.12.1899") << QDateTime(QDate(1899, 12, 31), QTime(12, 0)) << 1.5;
        QTest::newRow("1.1.2000") << QDateTime(QDate(2000, 1, 1), QTime(0, 0)) << 36526.0;
        QTest::newRow("6.12.2026 18:00") << QDateTime(QDate(2026, 12, 6), QTime(18, 0)) << 46362.75;
        QTest::newRow("before epoch, 6:00") << QDateTime(QDate(1899, 12, 29), QTime(6, 0)) << -1.25;
    }
    void valuesOfKnownDays()
    {
        QFETCH(QDateTime, dt);
        QFETCH(double, value);
        QCOMPARE(dateTimeValue(dt), value);
        QCOMPARE(toDateTime(value), dt);
    }

    void roundTripsEveryMillisecondOfADay()
    {
        const QDate day(2026, 12, 7);
        for (int ms = 0; ms < MsPerDay; ms += 997) {
            const QTime t = QTime::fromMSecsSinceStartOfDay(ms);
            QCOMPARE(timeOf(dateTimeValue(day, t)), t);
            QCOMPARE(dateOf(dateTimeValue(day, t)), day);
        }
    }

    void storageRule_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("ms");
        const double h = 1.0 / 24;
        QTest::newRow("23:30 + 1h keeps 0:30") << 24.5 * h << 30 * 60000;
        QTest::newRow("-23:00 stores 23:00") << -23 * h << 23 * 3600000;
        QTest::newRow("rounds to ms") << 0.4 / MsPerDay << 0;
        QTest::newRow("rounds up to ms") << 0.6 / MsPerDay << 1;
        QTest::newRow("day part dropped") << 3.5 << 12 * 3600000;
        QTest::newRow("full day is 0") << 1.0 << 0;
    }
    void storageRule()
    {
        QFETCH(double, value);
        QFETCH(int, ms);
        QCOMPARE(timeOfDayMs(value), ms);
        QVERIFY(msToTimeValue(timeOfDayMs(value)) < 1.0);
    }

    void codePageRoundTrip()
    {
        const QString all = QStringLiteral("Время вышло ЁёЪъ №€ abc");
        QVERIFY(cp1251::canEncode(all));
        QCOMPARE(cp1251::decode(cp1251::encode(all)), all);
        QCOMPARE(cp1251::encode(QStringLiteral("Стоп")), QByteArray("\xD1\xF2\xEE\xEF"));
        QCOMPARE(cp1251::encode(QStringLiteral("日本")), QByteArray("??"));
        QVERIFY(!cp1251::canEncode(QStringLiteral("日")));
        QCOMPARE(cp1251::cut(QStringLiteral("abcdef"), 4), QStringLiteral("abcd"));
        // every byte decodes to something that encodes back to it
        for (int b = 0; b < 256; ++b) {
            const QByteArray one(1, static_cast<char>(b));
            QCOMPARE(cp1251::encode(cp1251::decode(one)), one);
        }
    }
};

QTEST_GUILESS_MAIN(TestDateTime)
#include "test_datetime.moc"
