#include "common/core/errors.h"
#include "period/core/periodrules.h"
#include "testsupport.h"

#include <QTest>

using namespace bilmeko;

namespace {

QDate D(const char *text)
{
    return QDate::fromString(QString::fromLatin1(text), QStringLiteral("dd.MM.yyyy"));
}

// The message of the error `work` throws; empty when it throws none.
template <typename F> QString errorOf(F &&work)
{
    try {
        work();
    } catch (const Error &e) {
        return e.message();
    }
    return QString();
}

const QString EncodeError = QStringLiteral("Invalid argument to date encode");

} // namespace

class TestPeriodRules : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { test::pinRussian(); }

    void monthLengths_data()
    {
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("days");
        QTest::newRow("Feb 2028, divisible by 4") << 2028 << 2 << 29;
        QTest::newRow("Feb 2026") << 2026 << 2 << 28;
        QTest::newRow("Feb 2100, century") << 2100 << 2 << 28;
        QTest::newRow("Feb 2000, by 400") << 2000 << 2 << 29;
        QTest::newRow("Feb 1900") << 1900 << 2 << 28;
        QTest::newRow("Feb 1") << 1 << 2 << 28;
        QTest::newRow("Feb 9996") << 9996 << 2 << 29;
        QTest::newRow("April") << 2026 << 4 << 30;
        QTest::newRow("June") << 2026 << 6 << 30;
        QTest::newRow("September") << 2026 << 9 << 30;
        QTest::newRow("November") << 2026 << 11 << 30;
        QTest::newRow("January") << 2026 << 1 << 31;
        QTest::newRow("July") << 2026 << 7 << 31;
        QTest::newRow("August") << 2026 << 8 << 31;
        QTest::newRow("December") << 9999 << 12 << 31;
    }
    void monthLengths()
    {
        QFETCH(int, year);
        QFETCH(int, month);
        QFETCH(int, days);
        QCOMPARE(daysInMonth(year, month), days);
        QCOMPARE(lastDayOfMonth(year, month), QDate(year, month, days));
        QCOMPARE(isLeapYear(year), QDate::isLeapYear(year));
    }

    void quarters_data()
    {
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("quarter");
        QTest::addColumn<QDate>("first");
        QTest::addColumn<QDate>("last");
        const QDate q1(2026, 1, 1), q2(2026, 4, 1), q3(2026, 7, 1), q4(2026, 10, 1);
        const QDate e1(2026, 3, 31), e2(2026, 6, 30), e3(2026, 9, 30), e4(2026, 12, 31);
        const QDate firsts[] = {q1, q2, q3, q4};
        const QDate lasts[] = {e1, e2, e3, e4};
        for (int m = 1; m <= 12; ++m) {
            const int q = (m - 1) / 3 + 1;
            QTest::addRow("month %d", m) << m << q << firsts[q - 1] << lasts[q - 1];
        }
    }
    void quarters()
    {
        QFETCH(int, month);
        QFETCH(int, quarter);
        QFETCH(QDate, first);
        QFETCH(QDate, last);
        QCOMPARE(quarterOfMonth(month), quarter);
        QCOMPARE(firstDayOfQuarter(2026, quarter), first);
        QCOMPARE(lastDayOfQuarter(2026, quarter), last);
    }

    void advanceMonthsCarriesIntoTheYear_data()
    {
        QTest::addColumn<QDate>("from");
        QTest::addColumn<int>("months");
        QTest::addColumn<QDate>("to");
        QTest::newRow("October + 3") << D("01.10.2026") << 3 << D("01.01.2027");
        QTest::newRow("January - 1") << D("01.01.2026") << -1 << D("01.12.2025");
        QTest::newRow("+25") << D("01.11.2026") << 25 << D("01.12.2028");
        QTest::newRow("-13") << D("01.01.2026") << -13 << D("01.12.2024");
        QTest::newRow("to year 1") << D("01.12.0001") << -11 << D("01.01.0001");
    }
    void advanceMonthsCarriesIntoTheYear()
    {
        QFETCH(QDate, from);
        QFETCH(int, months);
        QFETCH(QDate, to);
        QCOMPARE(advanceMonths(from, months), to);
    }

    void datesOutsideTheYearsFail()
    {
        QCOMPARE(errorOf([] { advanceMonths(D("01.12.9999"), 1); }), EncodeError);
        QCOMPARE(errorOf([] { advanceMonths(D("01.01.0001"), -1); }), EncodeError);
        QCOMPARE(errorOf([] { encodeDate(2026, 2, 29); }), EncodeError);
        QCOMPARE(errorOf([] { encodeDate(10000, 1, 1); }), EncodeError);
        QCOMPARE(errorOf([] { encodeDate(0, 12, 31); }), EncodeError);
        QCOMPARE(errorOf([] { encodeDate(2026, 13, 1); }), EncodeError);
        QCOMPARE(lastDayOfMonth(9999, 12), D("31.12.9999"));
        QCOMPARE(lastDayOfQuarter(9999, 4), D("31.12.9999"));
    }

    void startAdjustment_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<bool>("yearCh");
        QTest::addColumn<bool>("kvartCh");
        QTest::addColumn<bool>("monthCh");
        QTest::addColumn<bool>("dayCh");
        QTest::addColumn<QDate>("start");
        const QDate d = D("15.05.2026");
        QTest::newRow("none") << d << false << false << false << false << d;
        QTest::newRow("year") << d << true << false << false << false << D("01.01.2026");
        QTest::newRow("quarter") << d << false << true << false << false << D("01.04.2026");
        QTest::newRow("month") << d << false << false << true << false << D("01.05.2026");
        QTest::newRow("2000") << d << false << false << false << true << D("01.01.2000");
        QTest::newRow("year wins over quarter") << d << true << true << false << false << D("01.01.2026");
        QTest::newRow("quarter wins over month") << d << false << true << true << false << D("01.04.2026");
        QTest::newRow("2000 wins over all") << d << true << true << true << true << D("01.01.2000");
        QTest::newRow("a day in 1999 moves forward")
            << D("31.12.1999") << false << false << false << true << D("01.01.2000");
        QTest::newRow("quarter 4") << D("31.12.2026") << false << true << false << false << D("01.10.2026");
        QTest::newRow("quarter 3") << D("30.09.2026") << false << true << false << false << D("01.07.2026");
    }
    void startAdjustment()
    {
        QFETCH(QDate, date);
        QFETCH(bool, yearCh);
        QFETCH(bool, kvartCh);
        QFETCH(bool, monthCh);
        QFETCH(bool, dayCh);
        QFETCH(QDate, start);
        QCOMPARE(YKMBegin(date, yearCh, kvartCh, monthCh, dayCh), start);
        QCOMPARE(YKMBegin(date, StartBoxes{yearCh, kvartCh, monthCh, dayCh}), start);
    }

    void atMostOneBox()
    {
        const StartBoxes all{true, true, true, true};
        QCOMPARE(afterBoxClick({true, false, false, false}, StartBox::Kvart, true),
                 (StartBoxes{false, true, false, false}));
        QCOMPARE(afterBoxClick(all, StartBox::Day, true), (StartBoxes{false, false, false, true}));
        // Unchecking leaves the others as they are.
        QCOMPARE(afterBoxClick(all, StartBox::Month, false), (StartBoxes{true, true, false, true}));
        QCOMPARE(afterBoxClick({}, StartBox::Year, false), StartBoxes{});
    }

    void stepsOutOfTheYearsFail()
    {
        QCOMPARE(errorOf([] { stepMonth({9999, 12}, 1); }), EncodeError);
        QCOMPARE(errorOf([] { stepMonth({1, 1}, -1); }), EncodeError);
        QCOMPARE(errorOf([] { stepQuarter({9999, 4}, 1); }), EncodeError);
        QCOMPARE(errorOf([] { stepQuarter({1, 1}, -1); }), EncodeError);
    }

    void texts()
    {
        QCOMPARE(MonthNames().size(), 12);
        QCOMPARE(MonthNames().first(), QStringLiteral("Январь"));
        QCOMPARE(monthName(5), QStringLiteral("Май"));
        QCOMPARE(monthName(13), QString());
        QCOMPARE(monthText(12, 2026), QStringLiteral("Декабрь 2026"));
        QCOMPARE(monthText(1, 5), QStringLiteral("Январь 5"));
        QCOMPARE(quarterText(2, 2026), QStringLiteral("2 Квартал 2026"));
        QCOMPARE(statusText(D("01.04.2026"), D("30.06.2026")),
                 QStringLiteral("Выбран интервал с 01.04.2026 по 30.06.2026"));
    }

    void maskShape()
    {
        const DateMask m = DateMask::forFormats();
        QCOMPARE(m.length(), 10);
        QCOMPARE(m.emptyText(), QStringLiteral("  .  .    "));
        QCOMPARE(m.inputMask(), QStringLiteral("00\\.00\\.9999;_"));
        // A format with the year first puts the required group first.
        const DateMask iso = DateMask::forFormat(QStringLiteral("yyyy-MM-dd"), QLatin1Char('-'));
        QCOMPARE(iso.inputMask(), QStringLiteral("9999\\-00\\-00;_"));
        QCOMPARE(iso.fit(QStringLiteral("2026-5-7")), QStringLiteral("2026- 5- 7"));
        QVERIFY(iso.satisfied(QStringLiteral("2026-  - 7")));
        QVERIFY(!iso.satisfied(QStringLiteral("202 -05-07")));
    }

    void maskTexts_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("satisfied");
        QTest::newRow("full") << "01.04.2026"
                              << "01.04.2026" << true;
        QTest::newRow("empty") << "__.__.____"
                               << "  .  .    " << false;
        QTest::newRow("blanks move in front") << "1_.2_.2026"
                                              << " 1. 2.2026" << true;
        QTest::newRow("blank in front stays") << "_1._2.2026"
                                              << " 1. 2.2026" << true;
        QTest::newRow("blank day and month") << "__.__.2026"
                                             << "  .  .2026" << true;
        QTest::newRow("short year") << "01.04.202_"
                                    << "01.04.202 " << false;
        QTest::newRow("year with a hole") << "01.04.2_26"
                                          << "01.04.2 26" << false;
    }
    void maskTexts()
    {
        QFETCH(QString, display);
        QFETCH(QString, text);
        QFETCH(bool, satisfied);
        const DateMask m = DateMask::forFormats();
        QCOMPARE(m.fromDisplay(display), text);
        QCOMPARE(m.satisfied(text), satisfied);
        QCOMPARE(m.satisfied(display), satisfied);
        // What the program puts in reads back the same.
        QCOMPARE(m.fromDisplay(m.toDisplay(text)), text);
    }

    void fitOddTexts_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("text");
        QTest::newRow("locale without leading zeros") << "6.12.2026"
                                                      << " 6.12.2026";
        QTest::newRow("too many digits") << "123.456.20261"
                                         << "12.45.2026";
        QTest::newRow("no separators") << "15052026"
                                       << "15.  .    ";
        QTest::newRow("letters dropped") << "a1.b2.c2026"
                                         << " 1. 2.2026";
        QTest::newRow("empty") << ""
                               << "  .  .    ";
        QTest::newRow("extra parts") << "1.2.3.4"
                                     << " 1. 2.3   ";
    }
    void fitOddTexts()
    {
        QFETCH(QString, input);
        QFETCH(QString, text);
        const DateMask m = DateMask::forFormats();
        QCOMPARE(m.fit(input), text);
        QCOMPARE(m.fit(m.fit(input)), m.fit(input));
    }

    void readingDates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date"); // invalid: the text is no date
        QTest::newRow("plain") << "06.12.2026" << D("06.12.2026");
        QTest::newRow("blanks in front") << " 6. 2.2026" << D("06.02.2026");
        QTest::newRow("31 February") << "31.02.2026" << QDate();
        QTest::newRow("no digits") << "  .  .    " << QDate();
        QTest::newRow("no day") << "  .12.2026" << QDate();
        QTest::newRow("29 February 2100") << "29.02.2100" << QDate();
        QTest::newRow("29 February 2000") << "29.02.2000" << D("29.02.2000");
        QTest::newRow("year 0") << "01.01.0000" << QDate();
        QTest::newRow("month 13") << "01.13.2026" << QDate();
    }
    void readingDates()
    {
        QFETCH(QString, text);
        QFETCH(QDate, date);
        if (date.isValid()) {
            QCOMPARE(readDateText(text), date);
        } else {
            QCOMPARE(errorOf([&] { readDateText(text); }), QStringLiteral("'%1' is not a valid date").arg(text));
        }
    }

    void monthLayout_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<int>("firstCol"); // column of the 1st, Monday first
        QTest::addColumn<int>("lastRow");
        QTest::addColumn<int>("lastCol");
        QTest::newRow("December 2026 starts on Tuesday") << D("07.12.2026") << 1 << 5 << 3;
        QTest::newRow("February 2027 starts on Monday") << D("01.02.2027") << 0 << 4 << 6;
        QTest::newRow("March 2026 starts on Sunday, six weeks") << D("31.03.2026") << 6 << 6 << 1;
    }
    void monthLayout()
    {
        QFETCH(QDate, date);
        QFETCH(int, firstCol);
        QFETCH(int, lastRow);
        QFETCH(int, lastCol);
        const MonthLayout l(date, 1);
        QCOMPARE(l.dayAt(1, firstCol), 1);
        QCOMPARE(l.rowOf(1), 1);
        QCOMPARE(l.colOf(1), firstCol);
        for (int c = 0; c < firstCol; ++c)
            QCOMPARE(l.dayAt(1, c), 0);
        QCOMPARE(l.dayAt(lastRow, lastCol), l.days());
        QCOMPARE(l.rowOf(l.days()), lastRow);
        QCOMPARE(l.colOf(l.days()), lastCol);
        for (int c = lastCol + 1; c < 7; ++c)
            QCOMPARE(l.dayAt(lastRow, c), 0);
        for (int c = 0; c < 7; ++c)
            QCOMPARE(l.dayAt(0, c), 0); // the header
        QCOMPARE(l.weekdayOfColumn(0), 1);
        QCOMPARE(l.weekdayOfColumn(6), 7);
        // Sunday first moves the header and the days with it.
        const MonthLayout sunday(date, 0);
        QCOMPARE(sunday.weekdayOfColumn(0), 7);
        QCOMPARE(sunday.colOf(1), (firstCol + 1) % 7);
    }

    void calendarMonthSteps_data()
    {
        QTest::addColumn<QDate>("from");
        QTest::addColumn<int>("delta");
        QTest::addColumn<QDate>("to");
        QTest::newRow("31.03 back, 2026") << D("31.03.2026") << -1 << D("28.02.2026");
        QTest::newRow("31.03 back, 2028") << D("31.03.2028") << -1 << D("29.02.2028");
        QTest::newRow("31.01 forward") << D("31.01.2026") << 1 << D("28.02.2026");
        QTest::newRow("31.12 forward") << D("31.12.2026") << 1 << D("31.01.2027");
        QTest::newRow("15.01 back") << D("15.01.2026") << -1 << D("15.12.2025");
        QTest::newRow("before year 1 is ignored") << D("15.01.0001") << -1 << QDate();
    }
    void calendarMonthSteps()
    {
        QFETCH(QDate, from);
        QFETCH(int, delta);
        QFETCH(QDate, to);
        QCOMPARE(calendarMonthStep(from, delta), to);
    }

    void calendarStepPastTheLastYearFails()
    {
        QCOMPARE(errorOf([] { calendarMonthStep(D("31.12.9999"), 1); }), EncodeError);
    }
};

QTEST_GUILESS_MAIN(TestPeriodRules)
#include "test_periodrules.moc"
