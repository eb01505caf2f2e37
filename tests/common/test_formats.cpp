#include "common/core/formats.h"

#include <QTest>
#include <cmath>
#include <limits>

using namespace bilmeko;

class TestFormats : public QObject
{
    Q_OBJECT
    const Formats ru = Formats::russian();

private slots:
    void russianTexts()
    {
        QCOMPARE(ru.timeText(QTime(1, 5, 20)), QStringLiteral("1:05:20"));
        QCOMPARE(ru.timeText(QTime(0, 14, 40)), QStringLiteral("0:14:40"));
        QCOMPARE(ru.dateText(QDate(2026, 12, 6)), QStringLiteral("06.12.2026"));
        QCOMPARE(ru.currency2(325), QStringLiteral("325,00\u00A0\u20BD"));
        QCOMPARE(ru.currency(1234.5), QStringLiteral("1\u00A0234,50\u00A0\u20BD"));
        QCOMPARE(ru.currency2(0), QStringLiteral("0,00\u00A0\u20BD"));
        // No amount: shown as damage, never as 0.
        QCOMPARE(ru.currency2(std::numeric_limits<double>::infinity()), DamagedAmount);
        QCOMPARE(ru.currency(-std::numeric_limits<double>::infinity()), DamagedAmount);
        QCOMPARE(ru.currency2(std::nan("")), DamagedAmount);
    }

    void cLocaleFallsBackToRussian()
    {
        const Formats c = Formats::fromLocale(QLocale::c());
        QCOMPARE(c.longTimeFormat(), ru.longTimeFormat());
        QCOMPARE(c.shortDateFormat(), ru.shortDateFormat());
    }

    void dateTimeTextDropsMidnight()
    {
        const double midnight = dateValue(QDate(2026, 12, 6));
        QCOMPARE(ru.dateTimeText(midnight), QStringLiteral("06.12.2026"));
        QCOMPARE(ru.dateTimeText(midnight + 0.75), QStringLiteral("06.12.2026 18:00:00"));
    }

    void money_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("1234.567") << 1234.567 << "1234,57";
        QTest::newRow("123456") << 123456.0 << "123456,00";
        QTest::newRow("0") << 0.0 << "0,00";
        QTest::newRow("12.5") << 12.5 << "12,50";
        QTest::newRow("half up 1.005") << 1.005 << "1,01";
        QTest::newRow("half up 1234.565") << 1234.565 << "1234,57";
        QTest::newRow("0.004") << 0.004 << "0,00";
        QTest::newRow("0.995 carries") << 0.995 << "1,00";
        QTest::newRow("999.999 carries") << 999.999 << "1000,00";
        QTest::newRow("negative") << -2.5 << "-2,50";
        QTest::newRow("negative rounding to zero") << -0.001 << "0,00";
        QTest::newRow("large") << 98765432.1 << "98765432,10";
        // Whole cents whose binary value lies just below or above them.
        QTest::newRow("12.34") << 12.34 << "12,34";
        QTest::newRow("0.1 + 0.2") << 0.1 + 0.2 << "0,30";
        QTest::newRow("negative zero") << -0.0 << "0,00";
        QTest::newRow("half a cent away") << 2.675 << "2,68";
        QTest::newRow("largest of the short way") << 999999999.99 << "999999999,99";
        QTest::newRow("beyond it") << 1000000000.01 << "1000000000,01";
    }
    void money()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(Formats::money(value), text);
    }

    void generalNumber_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("2.5") << 2.5 << "2,5";
        QTest::newRow("10") << 10.0 << "10";
        QTest::newRow("0.1") << 0.1 << "0,1";
        QTest::newRow("1e-7") << 1e-7 << "0,0000001";
        QTest::newRow("third") << 1.0 / 3 << "0,333333333333333";
    }
    void generalNumber()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(Formats::generalNumber(value), text);
        QCOMPARE(*Formats::parseFloat(text), QString::number(value, 'g', 15).toDouble());
    }

    void parseFloat_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("value");
        QTest::newRow("comma") << "2,5" << true << 2.5;
        QTest::newRow("blanks") << " 3 " << true << 3.0;
        QTest::newRow("dot refused") << "2.5" << false << 0.0;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("letters") << "abc" << false << 0.0;
        QTest::newRow("sign") << "-1,25" << true << -1.25;
        QTest::newRow("exponent") << "1,5E2" << true << 150.0;
        QTest::newRow("overflow") << "1E999" << false << 0.0;
    }
    void parseFloat()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(double, value);
        const auto v = Formats::parseFloat(text);
        QCOMPARE(v.has_value(), ok);
        if (ok)
            QCOMPARE(*v, value);
    }

    void parseDate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date");
        QTest::newRow("full") << "06.12.2026" << QDate(2026, 12, 6);
        QTest::newRow("blank day digit") << " 6.12.2026" << QDate(2026, 12, 6);
        QTest::newRow("31.02 invalid") << "31.02.2026" << QDate();
        QTest::newRow("empty mask") << "  .  .    " << QDate();
        QTest::newRow("underscores") << "__.__.2026" << QDate();
        QTest::newRow("year 0") << "01.01.0000" << QDate();
        QTest::newRow("29.02.2028") << "29.02.2028" << QDate(2028, 2, 29);
        QTest::newRow("29.02.2100") << "29.02.2100" << QDate();
    }
    void parseDate()
    {
        QFETCH(QString, text);
        QFETCH(QDate, date);
        const auto d = ru.parseDate(text);
        QCOMPARE(d.value_or(QDate()), date);
    }

    void weekdaysStartOnMonday()
    {
        const QStringList names = ru.shortDayNames();
        QCOMPARE(names.size(), 7);
        QCOMPARE(names.first(), QLocale(QLocale::Russian).dayName(1, QLocale::ShortFormat));
    }
};

QTEST_GUILESS_MAIN(TestFormats)
#include "test_formats.moc"
