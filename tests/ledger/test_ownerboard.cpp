// The owner's board without a server or a window: the light rule, the
// running sessions carried forward on the monotonic clock, the alerts told
// once, the totals, and a period's summary with its text and CSV.

#include "common/core/clock.h"
#include "common/core/formats.h"
#include "journal/core/reporttext.h"
#include "ledger/core/ownerboard.h"
#include "prices/core/profilefile.h"
#include "testsupport.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

using namespace bilmeko;

namespace {

constexpr qint64 Min = MsPerMinute;

DeskLive desk(const QString &name, std::int64_t seenAgoMs, qint64 waiting = 0)
{
    DeskLive d;
    d.desk = name;
    d.seenAgoMs = seenAgoMs;
    d.recordsWritten = 100 + waiting;
    d.recordsShipped = 100;
    return d;
}

RunningLive session(const QString &deskName, const QString &client, std::int64_t ranMs, std::int64_t bookedMs,
                    double price, bool paused = false)
{
    RunningLive r;
    r.desk = deskName;
    r.client = client;
    r.service = QStringLiteral("Стрижка");
    r.pricePerMin = price;
    r.ranMs = ranMs;
    r.bookedMs = bookedMs;
    r.paused = paused;
    r.start = QDateTime(QDate(2026, 12, 7), QTime(9, 0)).addMSecs(-ranMs);
    return r;
}

LiveReading reading(QList<DeskLive> desks, QList<RunningLive> running = {})
{
    LiveReading r;
    r.desks = std::move(desks);
    r.running = std::move(running);
    r.readAtMs = Clock::current().monotonicMs();
    return r;
}

class StringOutput : public ByteOutput
{
public:
    QByteArray bytes;

protected:
    bool deliver(const char *data, size_t n) override
    {
        bytes.append(data, qsizetype(n));
        return true;
    }
};

} // namespace

class TestOwnerBoard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { test::pinRussian(); }
    void lightRule_data();
    void lightRule();
    void sessionsTickOnTheMonotonicClock_data();
    void sessionsTickOnTheMonotonicClock();
    void alertsTellEachTurnOnce();
    void readingsOfSomeDesksLeaveTheOthers();
    void totalsAddTheRowsListed();
    void nextChangeIsWhenALightTurns();
    void summaryFigures_data();
    void summaryFigures();
    void summaryTextAndCsv();
    void settings_data();
    void settings();
};

void TestOwnerBoard::lightRule_data()
{
    QTest::addColumn<qint64>("seenAgo");
    QTest::addColumn<qint64>("waiting");
    QTest::addColumn<Light>("light");
    QTest::newRow("just seen") << qint64(0) << qint64(0) << Light::Green;
    QTest::newRow("59 s, nothing waiting") << qint64(59'999) << qint64(0) << Light::Green;
    QTest::newRow("just seen, records waiting") << qint64(1000) << qint64(3) << Light::Yellow;
    QTest::newRow("a minute ago") << qint64(Min) << qint64(0) << Light::Yellow;
    QTest::newRow("ten minutes to the ms") << qint64(10 * Min) << qint64(0) << Light::Yellow;
    QTest::newRow("a ms past ten minutes") << qint64(10 * Min + 1) << qint64(0) << Light::Red;
    QTest::newRow("never seen") << qint64(-1) << qint64(0) << Light::Red;
}

void TestOwnerBoard::lightRule()
{
    QFETCH(qint64, seenAgo);
    QFETCH(qint64, waiting);
    QFETCH(Light, light);
    QCOMPARE(deskLight(seenAgo, waiting, 10 * Min), light);
}

void TestOwnerBoard::sessionsTickOnTheMonotonicClock_data()
{
    QTest::addColumn<qint64>("ran");
    QTest::addColumn<qint64>("booked");
    QTest::addColumn<bool>("paused");
    QTest::addColumn<qint64>("later");
    QTest::addColumn<qint64>("left");
    QTest::addColumn<double>("amount");
    // 12,50 a minute throughout.
    QTest::newRow("started minute not charged")
        << qint64(0) << 60 * Min << false << qint64(59'999) << qint64(60 * Min - 59'999) << 0.0;
    QTest::newRow("whole minute charged") << 10 * Min << 60 * Min << false << Min << 49 * Min << 137.5;
    QTest::newRow("paused stands") << 10 * Min + 30'000 << 60 * Min << true << 30 * Min << 50 * Min - 30'000 << 125.0;
    QTest::newRow("past its end: booked time only") << 55 * Min << 60 * Min << false << 20 * Min << -15 * Min << 750.0;
    QTest::newRow("clock of the desk ahead: nothing charged")
        << -5 * Min << 60 * Min << false << Min << 64 * Min << 0.0;
}

void TestOwnerBoard::sessionsTickOnTheMonotonicClock()
{
    QFETCH(qint64, ran);
    QFETCH(qint64, booked);
    QFETCH(bool, paused);
    QFETCH(qint64, later);
    QFETCH(qint64, left);
    QFETCH(double, amount);
    FixedClock clock;
    ScopedClock scoped(&clock);
    OwnerBoard board;
    board.apply(reading({desk(QStringLiteral("desk1"), 0)},
                        {session(QStringLiteral("desk1"), QStringLiteral("Иванова"), ran, booked, 12.5, paused)}));
    // The wall clock jumping changes nothing; the monotonic one does.
    clock.jumpWallSecs(-3600);
    clock.advanceMs(later);
    board.tick();
    QCOMPARE(board.sessions().size(), 1);
    QCOMPARE(board.sessions()[0].leftMs, left);
    QCOMPARE(board.sessions()[0].amount, amount);
    QCOMPARE(board.desks()[0].runningCount, 1);
    QCOMPARE(board.desks()[0].runningAmount, amount);
}

void TestOwnerBoard::alertsTellEachTurnOnce()
{
    FixedClock clock(QDateTime(QDate(2026, 12, 7), QTime(14, 0)));
    ScopedClock scoped(&clock);
    OwnerBoard board({10 * Min, 3});
    DeskLive busy = desk(QStringLiteral("desk2"), 30'000);
    busy.todayReversals = 4;
    board.apply(reading({desk(QStringLiteral("desk1"), 30'000), busy, desk(QStringLiteral("desk3"), 20 * Min)}));
    QList<OwnerAlert> a = board.tick();
    // desk3 was red before the board looked: its row says so, no alert.
    QCOMPARE(a.size(), 1);
    QCOMPARE(a[0].kind, OwnerAlert::Reversals);
    QCOMPARE(a[0].text, QStringLiteral("Стойка «desk2»: отмен за сегодня 4 (допустимо 3)"));
    QCOMPARE(board.desks()[2].lightText, QStringLiteral("нет связи с 13:40"));
    QVERIFY(!board.desks()[2].offlineAlert);

    clock.advanceMs(10 * Min - 30'000);
    QVERIFY(board.tick().isEmpty()); // exactly ten minutes: yellow still
    QCOMPARE(board.desks()[0].light, Light::Yellow);
    QCOMPARE(board.desks()[0].lightText, QStringLiteral("была на связи 10 мин назад"));
    clock.advanceMs(1);
    a = board.tick();
    QCOMPARE(a.size(), 2); // desk1 and desk2 both went quiet
    QCOMPARE(a[0].text, QStringLiteral("Стойка «desk1»: нет связи с 13:59"));
    QVERIFY(board.desks()[0].offlineAlert);
    QVERIFY(board.desks()[1].reversalAlert);
    clock.advanceMs(Min);
    QVERIFY(board.tick().isEmpty());

    // Back, then gone again: a new turn, a new alert.
    board.apply(reading({desk(QStringLiteral("desk1"), 0)}));
    board.tick();
    QVERIFY(!board.desks()[0].offlineAlert);
    clock.advanceMs(11 * Min);
    a = board.tick();
    QCOMPARE(a.size(), 1);
    QCOMPARE(a[0].desk, QStringLiteral("desk1"));

    // Next day: the same count of reversals is a new day's alert.
    busy.seenAgoMs = 0;
    clock.set(QDateTime(QDate(2026, 12, 8), QTime(9, 0)));
    board.apply(reading({desk(QStringLiteral("desk1"), 0), busy}));
    a = board.tick();
    QCOMPARE(a.size(), 1);
    QCOMPARE(a[0].kind, OwnerAlert::Reversals);
}

void TestOwnerBoard::readingsOfSomeDesksLeaveTheOthers()
{
    FixedClock clock;
    ScopedClock scoped(&clock);
    OwnerBoard board;
    board.apply(reading({desk(QStringLiteral("a"), 0), desk(QStringLiteral("b"), 0)},
                        {session(QStringLiteral("a"), QStringLiteral("x"), 0, Min, 1),
                         session(QStringLiteral("b"), QStringLiteral("y"), 0, Min, 1)}));
    // A notification named b: its session ended, a stays.
    LiveReading some = reading({desk(QStringLiteral("b"), 0)});
    some.whole = false;
    some.named = {QStringLiteral("b")};
    board.apply(some);
    board.tick();
    QCOMPARE(board.desks().size(), 2);
    QCOMPARE(board.sessions().size(), 1);
    QCOMPARE(board.sessions()[0].desk, QStringLiteral("a"));
    // A whole reading without a desk: it leaves the board.
    board.apply(reading({desk(QStringLiteral("b"), 0)}));
    board.tick();
    QCOMPARE(board.desks().size(), 1);
    QVERIFY(board.sessions().isEmpty());
}

void TestOwnerBoard::totalsAddTheRowsListed()
{
    FixedClock clock;
    ScopedClock scoped(&clock);
    OwnerBoard board;
    QList<DeskLive> desks;
    for (int i = 0; i < 3; ++i) {
        DeskLive d = desk(QStringLiteral("d%1").arg(i), i == 2 ? -1 : 0);
        d.todaySessions = 10 + i;
        d.todayTakings = 0.1 * (i + 1); // 0,1 + 0,2 + 0,3
        d.todayReversals = i;
        d.lastRecord = QDateTime(QDate(2026, 12, 7), QTime(8 + i, 0));
        desks << d;
    }
    board.apply(reading(desks,
                        {session(QStringLiteral("d0"), QStringLiteral("x"), 2 * Min, 9 * Min, 10),
                         session(QStringLiteral("d1"), QStringLiteral("y"), 3 * Min, 9 * Min, 10)}));
    board.tick();
    const DeskRow t = board.totals();
    QVERIFY(t.isTotals);
    QCOMPARE(t.live.todaySessions, 33);
    QCOMPARE(Formats::money(t.live.todayTakings), QStringLiteral("0,60"));
    QCOMPARE(t.live.todayReversals, 3);
    QCOMPARE(t.runningCount, 2);
    QCOMPARE(t.runningAmount, 50.0);
    QCOMPARE(t.live.lastRecord.time(), QTime(10, 0));
    QCOMPARE(t.light, Light::Red);
    QCOMPARE(t.lightText, QStringLiteral("нет связи: 1 из 3"));
}

void TestOwnerBoard::nextChangeIsWhenALightTurns()
{
    FixedClock clock;
    ScopedClock scoped(&clock);
    OwnerBoard board({2 * Min, 3});
    board.apply(
        reading({desk(QStringLiteral("a"), 20'000), desk(QStringLiteral("b"), 90'000), desk(QStringLiteral("c"), -1)}));
    board.tick();
    QCOMPARE(board.msToNextChange(), 30'001); // b turns red
    clock.advanceMs(30'001);
    board.tick();
    QCOMPARE(board.desks()[1].light, Light::Red);
    QCOMPARE(board.msToNextChange(), 9'999); // then a turns yellow
    clock.advanceMs(9'999);
    board.tick();
    QCOMPARE(board.msToNextChange(), 2 * Min + 1 - Min);
}

void TestOwnerBoard::summaryFigures_data()
{
    QTest::addColumn<double>("takings");
    QTest::addColumn<qint64>("sessions");
    QTest::addColumn<double>("previous");
    QTest::addColumn<QString>("average");
    QTest::addColumn<QString>("share");
    QTest::addColumn<QString>("change");
    // Beside another desk that took 750,00.
    QTest::newRow("grew by a quarter") << 250.0 << qint64(4) << 200.0 << "62,50"
                                       << "25,0 %"
                                       << "+25,0 %";
    QTest::newRow("fell") << 250.0 << qint64(5) << 1000.0 << "50,00"
                          << "25,0 %"
                          << "-75,0 %";
    QTest::newRow("new: nothing before") << 250.0 << qint64(1) << 0.0 << "250,00"
                                         << "25,0 %"
                                         << "—";
    QTest::newRow("no sessions") << 0.0 << qint64(0) << 10.0 << "—"
                                 << "0,0 %"
                                 << "-100,0 %";
}

void TestOwnerBoard::summaryFigures()
{
    QFETCH(double, takings);
    QFETCH(qint64, sessions);
    QFETCH(double, previous);
    QFETCH(QString, average);
    QFETCH(QString, share);
    QFETCH(QString, change);
    DeskPeriod a{QStringLiteral("a"), sessions, 60, takings, 0, 2, previous, 0, 0, 0};
    DeskPeriod b{QStringLiteral("b"), 3, 90, 750, 1, 3, 750, 0, 0, 0};
    const DeskSummary s(QDate(2026, 12, 1), QDate(2026, 12, 31), {b, a});
    QCOMPARE(s.rows()[0].figures.desk, QStringLiteral("a"));
    const QStringList cells = s.line(s.rows()[0]).split(QLatin1Char('\t'));
    QCOMPARE(cells[4], average);
    QCOMPARE(cells[5], share);
    QCOMPARE(cells[6], change);
    QCOMPARE(s.total().figures.sessions, sessions + 3);
    QCOMPARE(s.total().figures.takings, takings + 750);
}

void TestOwnerBoard::summaryTextAndCsv()
{
    QCOMPARE(DeskSummary::previousFrom(QDate(2026, 3, 1), QDate(2026, 3, 31)), QDate(2026, 1, 29));
    QCOMPARE(DeskSummary::previousFrom(QDate(2026, 12, 7), QDate(2026, 12, 7)), QDate(2026, 12, 6));
    const DeskSummary s(QDate(2026, 12, 1), QDate(2026, 12, 31),
                        {{QStringLiteral("Зал; 2"), 2, 90.5, 1000, 1, 1, 800, 600, 0, 0},
                         {QStringLiteral("desk1"), 3, 120, 3000, 0, 0, 0, 1000, 1500, 0.5}});
    StringOutput text;
    QVERIFY(s.write(text, false));
    QCOMPARE(QString::fromUtf8(text.bytes),
             QStringLiteral("Стойка\tСеансов\tМинут\tВыручка\tСредний чек\tДоля\tК прошлому периоду"
                            "\tНаличные\tКарта\tПеревод\n"
                            "desk1\t3\t120\t3000,00\t1000,00\t75,0 %\t—\t1000,00\t1500,00\t0,50\n"
                            "Зал; 2\t2\t90,5\t1000,00\t500,00\t25,0 %\t+25,0 %\t600,00\t0,00\t0,00\n"
                            "Итого\t5\t210,5\t4000,00\t800,00\t100,0 %\t+400,0 %\t1600,00\t1500,00\t0,50\n"));
    StringOutput csv;
    QVERIFY(s.write(csv, true));
    QVERIFY(csv.bytes.startsWith("\xEF\xBB\xBF"));
    QCOMPARE(QString::fromUtf8(csv.bytes.mid(3)),
             QStringLiteral("Стойка;Сеансов;Минут;Выручка;Средний чек;Доля, %;К прошлому периоду, %;"
                            "Выручка в прошлом периоде;Наличные;Карта;Перевод\r\n"
                            "desk1;3;120;3000,00;1000,00;75,0;;0,00;1000,00;1500,00;0,50\r\n"
                            "\"Зал; 2\";2;90,5;1000,00;500,00;25,0;25,0;800,00;600,00;0,00;0,00\r\n"));
    QCOMPARE(s.title(), QStringLiteral("Сводка по стойкам: 01.12.2026 – 31.12.2026"));
}

void TestOwnerBoard::settings_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<qint64>("offlineMs");
    QTest::addColumn<int>("maxReversals");
    QTest::addColumn<int>("problems");
    QTest::newRow("defaults") << QByteArray("[Ledger]\r\nConnection=service=salon\r\n") << 10 * Min << 3 << 0;
    QTest::newRow("set") << QByteArray(
        "[Ledger]\nConnection=service=salon\n[Owner]\nOfflineMinutes=2\nMaxReversals=0\n")
                         << 2 * Min << 0 << 0;
    QTest::newRow("unusable") << QByteArray("[Owner]\nOfflineMinutes=0\nMaxReversals=много\n") << 10 * Min << 3 << 2;
}

void TestOwnerBoard::settings()
{
    QFETCH(QByteArray, file);
    QFETCH(qint64, offlineMs);
    QFETCH(int, maxReversals);
    QFETCH(int, problems);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Bilmeko.ini"));
    test::writeFile(path, file);
    const OwnerSettings s = readOwnerSettings(ProfileFile(path));
    QCOMPARE(s.options.offlineMs, offlineMs);
    QCOMPARE(s.options.maxReversals, maxReversals);
    QCOMPARE(s.problems.size(), problems);
    if (file.contains("Connection"))
        QCOMPARE(s.connection, QStringLiteral("service=salon"));

    // A fresh file gets every key, and reads back as the defaults.
    const QString fresh = dir.filePath(QStringLiteral("fresh.ini"));
    writeOwnerSettingsTemplate(ProfileFile(fresh));
    const OwnerSettings f = readOwnerSettings(ProfileFile(fresh));
    QVERIFY(f.connection.isEmpty());
    QVERIFY(f.problems.isEmpty());
    QCOMPARE(f.options.offlineMs, 10 * Min);
}

QTEST_GUILESS_MAIN(TestOwnerBoard)
#include "test_ownerboard.moc"
