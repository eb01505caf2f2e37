// What a session is charged and when it ends, whatever the wall clock does:
// jumps forward and back, daylight-saving changes (TZ pinned here to
// Central European rules), a tick that comes late.

#include "app/core/sessionboard.h"
#include "common/core/clock.h"
#include "common/core/formats.h"
#include "journal/core/logrecord.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <ctime>
#include <memory>

using namespace bilmeko;

namespace {

QString timeText(double v)
{
    return Formats::current().timeText(v);
}

// A local time given as UTC: unambiguous in the hour that repeats.
QDateTime fromUtc(int y, int mo, int d, int h, int mi)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::UTC).toLocalTime();
}

} // namespace

class TestSessionTime : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void wallClockJumps_data();
    void wallClockJumps();
    void stopAfterTheClockWasSetBack();
    void daylightSaving_data();
    void daylightSaving();
    void lateTickChargesBookedMinutes();

private:
    QList<LogRecord> journal() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FixedClock> m_clock;
    std::unique_ptr<ScopedClock> m_scoped;
    std::unique_ptr<SessionBoard> m_board;
    QList<Notice> m_notices;
};

void TestSessionTime::initTestCase()
{
    // Central European Time, with its daylight-saving rules written out, so
    // no time-zone database is needed.
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    ::tzset();
    QCOMPARE(QDateTime(QDate(2026, 3, 29), QTime(1, 59)).addSecs(120).time(), QTime(3, 1));
}

void TestSessionTime::init()
{
    test::pinRussian();
    m_dir = std::make_unique<QTemporaryDir>();
    m_clock = std::make_unique<FixedClock>(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
    m_scoped = std::make_unique<ScopedClock>(m_clock.get());
    m_board = std::make_unique<SessionBoard>(m_dir->filePath(QStringLiteral("Bilmeko.log")));
    m_board->setStatePath(m_dir->filePath(QStringLiteral("Bilmeko.sessions")));
    m_notices.clear();
    m_board->setNoticeHook([this](const Notice &n) { m_notices << n; });
}

void TestSessionTime::cleanup()
{
    m_board.reset();
    m_scoped.reset();
    m_clock.reset();
    m_dir.reset();
}

QList<LogRecord> TestSessionTime::journal() const
{
    QList<LogRecord> out;
    const QByteArray all = test::readFile(m_board->journalPath());
    for (int i = 0; i + RecordSize <= all.size(); i += RecordSize) {
        QByteArray rec = all.mid(i, RecordSize);
        ScrambleRecord(rec.data());
        out << deserializeRecord(rec.constData());
    }
    return out;
}

void TestSessionTime::wallClockJumps_data()
{
    QTest::addColumn<qint64>("jumpSecs");
    QTest::addColumn<int>("bookedMin");
    QTest::addColumn<int>("realMinBefore"); // real time before the jump
    QTest::addColumn<int>("realMinAfter"); // and after it

    QTest::newRow("forward 2 h, 30 min booked") << qint64(7200) << 30 << 5 << 10;
    QTest::newRow("forward 2 h, 59 min booked") << qint64(7200) << 59 << 1 << 1;
    QTest::newRow("forward 400 days") << qint64(400) * 86400 << 30 << 10 << 5;
    QTest::newRow("back 1 day, 5 min booked") << qint64(-86400) << 5 << 1 << 1;
    QTest::newRow("back 3 h") << qint64(-3 * 3600) << 45 << 20 << 10;
}

// Whatever the wall clock shows, a session runs its booked minutes of real
// time: still running one minute before the end, ended at the end, charged
// what it was booked for, with the end the start plus the booked time.
void TestSessionTime::wallClockJumps()
{
    QFETCH(qint64, jumpSecs);
    QFETCH(int, bookedMin);
    QFETCH(int, realMinBefore);
    QFETCH(int, realMinAfter);

    m_board->addSession(QStringLiteral("A"), QString(), QStringLiteral("S"), 2, 0, bookedMin);
    m_clock->advanceSecs(realMinBefore * 60);
    m_clock->jumpWallSecs(jumpSecs);
    m_clock->advanceSecs(realMinAfter * 60);
    m_board->tick();
    const int realMin = realMinBefore + realMinAfter;
    const MemTable &t = m_board->curLog();
    QCOMPARE(t.rowCount(), 1);
    QCOMPARE(t.number(curlog::Summ), 2.0 * realMin);
    QCOMPARE(roundToMs(t.number(curlog::TLeft)), qint64(bookedMin - realMin) * 60'000);
    QCOMPARE(timeText(t.number(curlog::TEnd)),
             timeText(timeValue(QTime(10, bookedMin % 60).addSecs(bookedMin / 60 * 3600))));

    m_clock->advanceSecs((bookedMin - realMin) * 60 - 1);
    m_board->tick();
    QCOMPARE(t.rowCount(), 1);
    m_clock->advanceSecs(1);
    m_board->tick();
    QVERIFY(t.isEmpty());
    const QList<LogRecord> j = journal();
    QCOMPARE(j.size(), 1);
    QCOMPARE(j[0].amount, 2.0 * bookedMin);
    QCOMPARE(roundToMs(j[0].elapsed), qint64(bookedMin) * 60'000);
    QCOMPARE(timeText(j[0].startTime), QStringLiteral("10:00:00"));
    QCOMPARE(j[0].written, dateTimeValue(QDateTime(QDate(2026, 12, 7), QTime(10, 0)).addSecs(bookedMin * 60)));
    QCOMPARE(timeText(j[0].endTime), timeText(j[0].written));
}

void TestSessionTime::stopAfterTheClockWasSetBack()
{
    const auto a = m_board->addSession(QStringLiteral("A"), QString(), QStringLiteral("S"), 3, 1, 0);
    m_clock->advanceSecs(7 * 60 + 30);
    m_clock->jumpWallSecs(-3600);
    QVERIFY(m_board->stopSession(a));
    QCOMPARE(m_notices.at(0).stat.left(13), QStringLiteral("Время: 0:07:3"));
    const LogRecord r = journal().at(0);
    QCOMPARE(r.amount, 21.0);
    QCOMPARE(timeText(r.endTime), QStringLiteral("10:07:30"));
}

void TestSessionTime::daylightSaving_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<int>("bookedMin");
    QTest::addColumn<int>("realMin");
    QTest::addColumn<bool>("stop");
    QTest::addColumn<QString>("tbeg");
    QTest::addColumn<QString>("tend");

    // Spring: at 2:00 the clocks go to 3:00.
    QTest::newRow("spring, stopped after 2 min")
        << QDateTime(QDate(2026, 3, 29), QTime(1, 59)) << 5 << 2 << true << "1:59:00"
        << "3:01:00";
    QTest::newRow("spring, time up after 5 min")
        << QDateTime(QDate(2026, 3, 29), QTime(1, 58)) << 5 << 5 << false << "1:58:00"
        << "3:03:00";
    // Autumn: at 3:00 summer time the clocks go back to 2:00.
    QTest::newRow("autumn, time up after 2 min") << fromUtc(2026, 10, 25, 0, 58) << 2 << 2 << false << "2:58:00"
                                                 << "2:00:00";
    QTest::newRow("autumn, stopped after 2 min") << fromUtc(2026, 10, 25, 0, 59) << 5 << 2 << true << "2:59:00"
                                                 << "2:01:00";
    QTest::newRow("autumn, an hour across the change") << fromUtc(2026, 10, 25, 0, 30) << 60 << 60 << false << "2:30:00"
                                                       << "2:30:00";
}

void TestSessionTime::daylightSaving()
{
    QFETCH(QDateTime, start);
    QFETCH(int, bookedMin);
    QFETCH(int, realMin);
    QFETCH(bool, stop);
    QFETCH(QString, tbeg);
    QFETCH(QString, tend);

    m_clock->set(start);
    const auto a = m_board->addSession(QStringLiteral("A"), QString(), QStringLiteral("S"), 1, 0, bookedMin);
    m_clock->advanceSecs(realMin * 60 - 20);
    m_board->tick();
    QCOMPARE(m_board->curLog().rowCount(), 1);
    QCOMPARE(m_board->curLog().number(curlog::Summ), double(realMin - 1));
    m_clock->advanceSecs(20);
    if (stop)
        QVERIFY(m_board->stopSession(a));
    else
        m_board->tick();
    QVERIFY(m_board->curLog().isEmpty());
    const LogRecord r = journal().at(0);
    QCOMPARE(r.amount, double(realMin));
    QCOMPARE(roundToMs(r.elapsed), qint64(realMin) * 60'000);
    QCOMPARE(timeText(r.startTime), tbeg);
    QCOMPARE(timeText(r.endTime), tend);
    QCOMPARE(r.status, stop ? StatusStop : StatusTimeUp);
}

// The error box of a tick held the next ticks back for 2.5 minutes: each
// session still pays exactly its booked minutes and ends at its booked end.
void TestSessionTime::lateTickChargesBookedMinutes()
{
    for (int m = 1; m <= 3; ++m)
        m_board->addSession(QStringLiteral("K%1").arg(m), QString(), QStringLiteral("S"), 10, 0, m);
    m_clock->advanceSecs(4 * 60);
    m_board->tick();
    QVERIFY(m_board->curLog().isEmpty());
    QCOMPARE(m_notices.size(), 3);
    const QList<LogRecord> j = journal();
    QCOMPARE(j.size(), 3);
    for (const LogRecord &r : j) {
        const int booked = r.clientName.mid(1).toInt();
        QCOMPARE(r.amount, 10.0 * booked);
        QCOMPARE(roundToMs(r.elapsed), qint64(booked) * 60'000);
        QCOMPARE(timeText(r.endTime), timeText(timeValue(QTime(10, booked))));
    }
    QCOMPARE(m_notices[0].stat.left(14), QStringLiteral("Время: 0:03:00"));
}

QTEST_GUILESS_MAIN(TestSessionTime)
#include "test_sessiontime.moc"
