// The desk's shipping against a server of the test's own that goes down
// and comes back, refuses, or is of another schema; and the desk program
// killed while it catches up a backlog. Each time the ledger ends up
// holding the journal's records, each once.

#include "cashdesk/core/shiftbook.h"
#include "common/core/clock.h"
#include "ledger/core/ledgershipper.h"
#include "ledger/core/ownerqueries.h"
#include "ledgertestutil.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

#ifndef BILMEKO_EXE
#error "BILMEKO_EXE must name the desk program"
#endif

using namespace bilmeko;
using namespace bilmeko::test;

class TestLedgerShipper : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void serverDownAtStartThenUp();
    void serverStoppedWhileShipping();
    void refused_data();
    void refused();
    void deskKilledWhileShipping();
    void serverStalls_data();
    void serverStalls();
    void liveStateReachesTheBoard();
    void shiftFileShippedOnce_data();
    void shiftFileShippedOnce();

private:
    std::unique_ptr<PgServer> m_server;
    QTemporaryDir m_tmp;
};

void TestLedgerShipper::initTestCase()
{
    pinRussian();
    m_server = std::make_unique<PgServer>();
    if (!m_server->missing().isEmpty())
        QSKIP(qPrintable(m_server->missing()));
}

void TestLedgerShipper::serverDownAtStartThenUp()
{
    const QString info = freshLedger(*m_server, QStringLiteral("downatstart"));
    const QString path = m_tmp.filePath(QStringLiteral("downatstart.log"));
    QByteArray journal = deskJournal(40, at(2026, 6, 1, 9), 0, 3) + deskJournal(500, at(2026, 6, 2, 9), 1, 4);
    writeFile(path, journal);

    const QString login = deskLogin(info, QStringLiteral("desk"));
    m_server->stop();
    LedgerShipper shipper({login, QString()}, path);
    shipper.start();
    QTRY_VERIFY_WITH_TIMEOUT(!shipper.state().reason.isEmpty() && shipper.state().retryInSeconds > 0, 20'000);
    QVERIFY(!shipper.state().connected);
    QVERIFY2(shipper.state().reason.contains(QStringLiteral("не запущен")), qPrintable(shipper.state().reason));

    // The desk goes on appending while the server is down.
    const QByteArray later = deskJournal(25, at(2026, 6, 3, 9), 1000, 5);
    appendFile(path, later);
    journal += later;
    shipper.journalGrew();
    m_server->start();
    QTRY_VERIFY_WITH_TIMEOUT(shipper.state().connected && shipper.state().pending == 0, 60'000);
    PgConnection c(info);
    QCOMPARE(ledgerRows(c, QStringLiteral("desk")), shippable(journal));

    // One more record after catching up: shipped on its own.
    const QByteArray one = deskJournal(1, at(2026, 6, 4, 9), 5000, 6);
    appendFile(path, one);
    journal += one;
    shipper.journalGrew();
    QTRY_COMPARE_WITH_TIMEOUT(ledgerRows(c, QStringLiteral("desk")).size(), 566, 20'000);
    QCOMPARE(ledgerRows(c, QStringLiteral("desk")), shippable(journal));
}

void TestLedgerShipper::serverStoppedWhileShipping()
{
    const QString info = freshLedger(*m_server, QStringLiteral("midbatch"));
    const QString path = m_tmp.filePath(QStringLiteral("midbatch.log"));
    const QByteArray journal = deskJournal(6 * ledger::BatchRecords + 123, at(2026, 7, 1, 9), 1, 9);
    writeFile(path, journal);
    const qint64 total = journal.size() / RecordSize;

    LedgerShipper shipper({deskLogin(info, QStringLiteral("desk")), QStringLiteral("desk")}, path);
    shipper.start();
    // Cut off once some of the backlog is in and the rest is on its way.
    QTRY_VERIFY_WITH_TIMEOUT(shipper.state().pending > 0 && shipper.state().pending < total, 60'000);
    m_server->stop();
    QTRY_VERIFY_WITH_TIMEOUT(!shipper.state().connected, 30'000);
    m_server->start();
    QTRY_VERIFY_WITH_TIMEOUT(shipper.state().connected && shipper.state().pending == 0, 120'000);
    PgConnection c(info);
    QCOMPARE(ledgerRows(c, QStringLiteral("desk")), shippable(journal));
}

void TestLedgerShipper::refused_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("reason");
    QTest::newRow("unknown host") << "host"
                                  << "неизвестный сервер";
    QTest::newRow("wrong password") << "password"
                                    << "не принял пароль";
    QTest::newRow("wrong password, server speaking Russian") << "russian"
                                                             << "не принял пароль";
    QTest::newRow("newer schema") << "newer"
                                  << "новее";
    QTest::newRow("no schema") << "none"
                               << "bilmeko-ledger init";
    QTest::newRow("Desk= names another desk") << "otherdesk"
                                              << "в настройках стойка «front», а вход в базу под ролью «back»";
    QTest::newRow("password in a broken string") << "secret"
                                                 << "строка соединения не читается";
}

void TestLedgerShipper::refused()
{
    QFETCH(QString, setup);
    QFETCH(QString, reason);
    QString info;
    if (setup == QLatin1String("host")) {
        info = QStringLiteral("host=nonexistent.invalid dbname=x connect_timeout=5");
    } else if (setup == QLatin1String("password") || setup == QLatin1String("russian")) {
        if (setup == QLatin1String("russian")) {
            // The server's own messages in Russian: told apart by SQLSTATE all the same.
            PgConnection admin(m_server->conninfo());
            try {
                admin.exec("ALTER SYSTEM SET lc_messages = 'ru_RU.UTF-8'");
            } catch (const LedgerError &) {
                QSKIP("the ru_RU.UTF-8 locale is not installed on this machine (locale-gen ru_RU.UTF-8 adds it)");
            }
            admin.exec("SELECT pg_reload_conf()");
        }
        PgConnection admin(m_server->conninfo());
        admin.exec("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'bilmeko_pw')"
                   " THEN CREATE ROLE bilmeko_pw LOGIN PASSWORD 'right'; END IF; END $$");
        info = m_server->conninfo(PgServer::PasswordRole) + QStringLiteral(" password=wrong");
    } else if (setup == QLatin1String("secret")) {
        info = QStringLiteral("host=x password=SECRET2 tail2SECRET");
    } else if (setup == QLatin1String("otherdesk")) {
        info = deskLogin(freshLedger(*m_server, QStringLiteral("refused")), QStringLiteral("back"));
    } else {
        info = freshLedger(*m_server, QStringLiteral("refused"), setup == QLatin1String("newer"));
        if (setup == QLatin1String("newer"))
            PgConnection(info).exec("UPDATE bilmeko.schema_version SET version = version + 1");
    }
    const QString path = m_tmp.filePath(QStringLiteral("refused.log"));
    writeFile(path, deskJournal(5, at(2026, 8, 1, 9), 1));

    LedgerShipper shipper({info, setup == QLatin1String("otherdesk") ? QStringLiteral("front") : QString()}, path);
    shipper.start();
    QTRY_VERIFY_WITH_TIMEOUT(shipper.state().retryInSeconds > 0, 30'000);
    QVERIFY(!shipper.state().reason.contains(QLatin1String("SECRET")));
    QVERIFY(!shipper.state().connected);
    QVERIFY2(shipper.state().reason.contains(reason), qPrintable(shipper.state().reason));
    QVERIFY(LedgerShipper::describe(shipper.state(), shipper.settings()).contains(reason));
    if (setup == QLatin1String("otherdesk"))
        QCOMPARE(PgConnection(m_server->conninfo())
                     .exec("SELECT count(*) FROM pg_database WHERE datname = 'refused'")
                     .number(0, 0),
                 1);
    // It keeps trying, with a longer pause each time.
    QTRY_VERIFY_WITH_TIMEOUT(shipper.state().retryInSeconds >= 2, 30'000);
    if (setup == QLatin1String("russian")) {
        PgConnection admin(m_server->conninfo());
        admin.exec("ALTER SYSTEM RESET lc_messages");
        admin.exec("SELECT pg_reload_conf()");
    }
}

void TestLedgerShipper::deskKilledWhileShipping()
{
    // The desk program catches up a backlog at its start; killed at random
    // moments and started again, it leaves every record in the ledger once.
    const QString info = freshLedger(*m_server, QStringLiteral("killed"));
    QTemporaryDir data(m_tmp.filePath(QStringLiteral("desk-XXXXXX")));
    QTemporaryDir runtime(m_tmp.filePath(QStringLiteral("run-XXXXXX")));
    const QString journalPath = data.filePath(QStringLiteral("Bilmeko.log"));
    const QByteArray journal
        = deskJournal(2000, at(2025, 1, 1, 9), 0, 11) + deskJournal(8 * ledger::BatchRecords, at(2025, 2, 1, 9), 1, 12);
    writeFile(journalPath, journal);
    writeFile(data.filePath(QStringLiteral("Bilmeko.ini")),
              QByteArray("[Price]\r\nСолярий=2,5\r\n[Ledger]\r\nConnection=")
                      .append(deskLogin(info, QStringLiteral("killed-desk")).toUtf8())
                  + "\r\nDesk=killed-desk\r\n");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    PgConnection c(info);
    const auto held
        = [&] { return c.exec("SELECT count(*) FROM bilmeko.records WHERE desk = 'killed-desk'").number(0, 0); };
    const qint64 total = shippable(journal).size();
    QRandomGenerator rng(QRandomGenerator::global()->generate());
    for (int round = 0; round < 4; ++round) {
        const qint64 before = held();
        QProcess desk;
        desk.setProcessEnvironment(env);
        desk.start(QStringLiteral(BILMEKO_EXE), {QStringLiteral("--data-dir"), data.path()});
        QVERIFY(desk.waitForStarted());
        if (round == 0) {
            // Anywhere in its start, connecting or in its first batch.
            QTest::qWait(int(rng.bounded(1500)));
        } else if (round < 3) {
            // Once it has shipped a batch, somewhere in one of the next.
            QTRY_VERIFY_WITH_TIMEOUT(held() > before, 120'000);
            QTest::qWait(int(rng.bounded(1000)));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(held() == total, 180'000);
            // The shipper came with its module, libpq with it.
            QFile maps(QStringLiteral("/proc/%1/maps").arg(desk.processId()));
            QVERIFY(maps.open(QIODevice::ReadOnly));
            const QByteArray mapped = maps.readAll();
            QVERIFY(mapped.contains("/bilmeko-ledger-desk.so") && mapped.contains("/libpq.so"));
        }
        ::kill(pid_t(desk.processId()), SIGKILL);
        QVERIFY(desk.waitForFinished());
    }
    QCOMPARE(ledgerRows(c, QStringLiteral("killed-desk")), shippable(journal));
}

void TestLedgerShipper::serverStalls_data()
{
    // What happens: the shipper destroyed in the middle of a batch, or the
    // server stalling (its backend stopped: no reset, no answer, a black
    // hole) in a batch or while idle.
    QTest::addColumn<QString>("when");
    QTest::addColumn<bool>("stall");
    QTest::newRow("destroyed mid-batch") << "destroy" << false;
    QTest::newRow("destroyed mid-batch, server stalled") << "destroy" << true;
    QTest::newRow("stalled mid-batch: abandoned, retried") << "batch" << true;
    QTest::newRow("stalled while idle: not shown as connected") << "idle" << true;
}

void TestLedgerShipper::serverStalls()
{
    QFETCH(QString, when);
    QFETCH(bool, stall);
    const QString info = freshLedger(*m_server, QStringLiteral("stalls"));
    const QString path = m_tmp.filePath(QStringLiteral("stalls.log"));
    const QByteArray journal
        = deskJournal(when == QLatin1String("idle") ? 50 : 5 * ledger::BatchRecords, at(2026, 7, 1, 9), 1, 21);
    writeFile(path, journal);
    PgConnection admin(info);
    const auto deskBackend = [&](const char *state) {
        const PgResult r = admin.exec("SELECT pid FROM pg_stat_activity WHERE usename = 'desk' AND state = $1",
                                      {QLatin1String(state)});
        return r.rows() ? int(r.number(0, 0)) : 0;
    };
    const auto held = [&] { return admin.exec("SELECT count(*) FROM bilmeko.records").number(0, 0); };

    auto shipper = std::make_unique<LedgerShipper>(LedgerSettings{deskLogin(info, QStringLiteral("desk")), {}}, path);
    // A batch's deadline short enough to see a stall soon, long enough for a
    // batch of the trigger-derived rows on a loaded machine.
    shipper->setTiming({5'000, 1'000, 300, 180'000});
    shipper->start();
    // The backend, once seen (QTRY looks again after its wait, and a
    // batch may have ended by then).
    int pid = 0;
    const auto found = [&](const char *state) { return pid != 0 || (pid = deskBackend(state)) != 0; };
    if (when == QLatin1String("idle")) {
        QTRY_VERIFY_WITH_TIMEOUT(shipper->state().connected && shipper->state().pending == 0, 30'000);
        QTRY_VERIFY_WITH_TIMEOUT(found("idle"), 10'000);
    } else {
        // A COPY (or the INSERT after it) of a batch under way.
        QTRY_VERIFY_WITH_TIMEOUT(found("active"), 60'000);
        QTRY_VERIFY(shipper->state().connected); // the shipper's word of it may still be on its way
    }
    if (stall)
        QCOMPARE(::kill(pid_t(pid), SIGSTOP), 0);
    const auto resume = qScopeGuard([&] {
        if (stall)
            ::kill(pid_t(pid), SIGCONT);
    });
    if (when == QLatin1String("destroy")) {
        QElapsedTimer took;
        took.start();
        shipper.reset();
        QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
    } else {
        // The deadline passes: the connection is dropped and said so.
        QTRY_VERIFY_WITH_TIMEOUT(!shipper->state().connected, 10'000);
        QVERIFY2(shipper->state().reason.contains(QStringLiteral("не ответил вовремя")),
                 qPrintable(shipper->state().reason));
    }
    if (stall)
        ::kill(pid_t(pid), SIGCONT);
    // Whatever was cut off left nothing of its batch; shipping again
    // (the same shipper retrying, or a new one) completes the journal.
    if (when != QLatin1String("idle"))
        QTRY_COMPARE_WITH_TIMEOUT(held() % ledger::BatchRecords, 0, 20'000);
    if (!shipper) {
        shipper = std::make_unique<LedgerShipper>(LedgerSettings{deskLogin(info, QStringLiteral("desk")), {}}, path);
        shipper->start();
    }
    QTRY_VERIFY_WITH_TIMEOUT(shipper->state().connected && shipper->state().pending == 0, 120'000);
    QCOMPARE(ledgerRows(admin, QStringLiteral("desk")), shippable(journal));
}

void TestLedgerShipper::liveStateReachesTheBoard()
{
    // A desk's running sessions replace its rows at every change, the
    // board hears of each change, and reads the desk's row and today's
    // figures from the summary; a quiet desk lets its connection go and
    // is still seen at every beat.
    const QString info = freshLedger(*m_server, QStringLiteral("live"));
    const QString path = m_tmp.filePath(QStringLiteral("live.log"));
    const QDate day(2026, 9, 1);
    writeFile(path, deskJournal(3, dateValue(day) + 9.0 / 24, 1, 31));
    PgConnection admin(info);
    admin.exec("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'boss')"
               " THEN CREATE ROLE boss LOGIN IN ROLE bilmeko_owner; END IF; END $$");
    const QString owner = withUser(info, QStringLiteral("boss"));
    PgConnection board(owner);
    board.listen(LiveChannel);
    const auto heard = [&board] {
        QStringList desks;
        for (const PgNotification &n : board.notifications(5000))
            desks << n.payload;
        return desks;
    };

    LedgerShipper shipper({deskLogin(info, QStringLiteral("salon-1")), {}}, path);
    shipper.setTiming({60'000, 10'000, 300, 1'500});
    shipper.start();
    const QDateTime start(day, QTime(10, 0));
    LiveSession a{(std::uint64_t(1) << 63) + 5,
                  QStringLiteral("Иванова"),
                  QStringLiteral("Солярий"),
                  2.5,
                  start,
                  start.addSecs(1800 + 120),
                  false,
                  25,
                  600'000,
                  120'000,
                  {}};
    LiveSession b{7,
                  QStringLiteral("Петров \"П\""),
                  QStringLiteral("Массаж"),
                  10,
                  start.addSecs(600),
                  {},
                  true,
                  100,
                  900'000,
                  0,
                  start.addSecs(1500)};
    // Changes piled up: only the last is sent.
    shipper.publishLive({});
    shipper.publishLive({a});
    shipper.publishLive({a, b});
    QTRY_COMPARE_WITH_TIMEOUT(readLive(board, day).running.size(), 2, 20'000);
    QTRY_VERIFY_WITH_TIMEOUT(heard().contains(QStringLiteral("salon-1")), 5'000);
    LiveReading seen = readLive(board, day);
    std::sort(seen.running.begin(), seen.running.end(),
              [](const RunningLive &x, const RunningLive &y) { return x.start < y.start; });
    QCOMPARE(quint64(seen.running[0].sessionId), a.id);
    QCOMPARE(seen.running[0].start.date(), start.date());
    QCOMPARE(seen.running[0].start.time(), start.time());
    // Booked: the end less the pauses that are over; run: the desk's
    // time, run on by the server since (the paused one stands).
    QCOMPARE(seen.running[0].bookedMs, 1'800'000);
    QVERIFY2(seen.running[0].ranMs >= 600'000 && seen.running[0].ranMs < 660'000,
             qPrintable(QString::number(seen.running[0].ranMs)));
    QCOMPARE(seen.running[1].client, b.client);
    QVERIFY(seen.running[1].paused);
    QCOMPARE(seen.running[1].ranMs, 900'000);
    QCOMPARE(seen.running[1].bookedMs, 900'000); // open-ended: booked as far as it ran

    // A Stop: one session left, and it shows in the desk's row.
    shipper.publishLive({b});
    QTRY_COMPARE_WITH_TIMEOUT(readLive(board, day).running.size(), 1, 10'000);
    const QList<DeskLive> desks = readLive(board, day).desks;
    QCOMPARE(desks.size(), 1);
    QCOMPARE(desks[0].desk, QStringLiteral("salon-1"));
    QCOMPARE(desks[0].todaySessions, 3);
    QCOMPARE(desks[0].waiting(), 0);
    const QString newest
        = admin.exec("SELECT to_char(max(written), 'YYYY-MM-DD\"T\"HH24:MI:SS') FROM bilmeko.records").text(0, 0);
    QCOMPARE(desks[0].lastRecord, QDateTime::fromString(newest, Qt::ISODate));
    QVERIFY(desks[0].seenAgoMs >= 0 && desks[0].seenAgoMs < 60'000);
    QCOMPARE(desks[0].todayTakings, admin.exec("SELECT sum(amount)::float8 FROM bilmeko.records").real(0, 0));
    const QList<DeskPeriod> periods = readDeskPeriods(board, day, day);
    QCOMPARE(periods.size(), 1);
    QCOMPARE(periods[0].sessions, 3);
    QCOMPARE(periods[0].previousSessions, 0);

    // Quiet now: after the idle time the connection is let go, and each
    // beat connects again just long enough to say the desk is there.
    const auto connected = [&] {
        return admin.exec("SELECT count(*) FROM pg_stat_activity WHERE usename = 'salon-1'").number(0, 0) > 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!connected(), 10'000);
    int away = 0;
    for (int i = 0; i < 20; ++i) {
        QTest::qWait(100);
        away += connected() ? 0 : 1;
        QVERIFY2(readLive(board, day).desks[0].seenAgoMs < 1'500, qPrintable(QString::number(i)));
    }
    QVERIFY2(away >= 10, qPrintable(QString::number(away)));
    QVERIFY(shipper.state().connected);
}

void TestLedgerShipper::shiftFileShippedOnce_data()
{
    QTest::addColumn<int>("schema"); // 0: version 2, the shift file unreadable
    QTest::newRow("version 2: every sound line once, across a restart") << 2;
    QTest::newRow("version 1: the records only, and nothing fails") << 1;
    QTest::newRow("the shift file a folder: the records go on, the tooltip says why") << 0;
}

void TestLedgerShipper::shiftFileShippedOnce()
{
    QFETCH(int, schema);
    const QString info = freshLedger(*m_server, QStringLiteral("shiftfile"), false);
    PgConnection admin(info);
    initLedger(admin, schema == 1 ? 1 : 2);
    QTemporaryDir dir(m_tmp.filePath(QStringLiteral("shifts-XXXXXX")));
    const QString journal = dir.filePath(QStringLiteral("Bilmeko.log"));
    const QString shifts = dir.filePath(QLatin1String(ShiftFileName));
    writeFile(journal, deskJournal(5, at(2026, 10, 1, 9), 1, 41));
    FixedClock clock(QDateTime(QDate(2026, 10, 1), QTime(9, 0)));
    ScopedClock scoped(&clock);
    ShiftBook book(shifts);
    if (schema == 0) {
        QVERIFY(QDir().mkpath(shifts));
    } else {
        book.open(QStringLiteral("Анна"), 1000, 0);
        book.takeReceiptNumber({1, 1000, false});
    }

    const auto held = [&] { return schema < 2 ? 0 : admin.exec("SELECT count(*) FROM bilmeko.shifts").number(0, 0); };
    // The beat far off: only journalGrew() wakes the worker.
    const LedgerTiming slow{60'000, 10'000, 600'000, 600'000};
    auto shipper
        = std::make_unique<LedgerShipper>(LedgerSettings{deskLogin(info, QStringLiteral("desk")), {}}, journal);
    shipper->setTiming(slow);
    shipper->start();
    QTRY_VERIFY_WITH_TIMEOUT(shipper->state().connected && shipper->state().pending == 0, 30'000);
    if (schema == 0) {
        QTRY_VERIFY_WITH_TIMEOUT(!shipper->state().shiftProblem.isEmpty(), 10'000);
        const QString tip = LedgerShipper::describe(shipper->state(), shipper->settings());
        QVERIFY2(tip.contains(QStringLiteral("Смены не отправляются: Файл смен \"%1\"").arg(shifts)), qPrintable(tip));
        QVERIFY(shipper->state().connected);
        QCOMPARE(admin.exec("SELECT count(*) FROM bilmeko.records").number(0, 0), 5);
        return;
    }
    if (schema < 2) {
        QTest::qWait(500);
        QVERIFY(shipper->state().connected);
        QVERIFY(shipper->state().needsInit);
        QVERIFY(LedgerShipper::describe(shipper->state(), shipper->settings()).contains(QStringLiteral("смены - нет")));
        QCOMPARE(admin.exec("SELECT to_regclass('bilmeko.shifts') IS NULL").text(0, 0), QStringLiteral("t"));
        QCOMPARE(admin.exec("SELECT count(*) FROM bilmeko.records").number(0, 0), 5);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(held(), 2, 10'000);
    QVERIFY(!shipper->state().needsInit);
    clock.advanceSecs(3600);
    book.close(1200, 0);
    shipper->journalGrew();
    QTRY_COMPARE_WITH_TIMEOUT(held(), 3, 5'000);

    // Stopped; meanwhile a damaged line and a new shift; started again:
    // the new sound lines once, the damaged one left out.
    shipper.reset();
    appendFile(shifts, "open\t2\t1\t0\t1\tX\t00000000\n");
    book.open(QStringLiteral("Борис"), 1200, 0);
    shipper = std::make_unique<LedgerShipper>(LedgerSettings{deskLogin(info, QStringLiteral("desk")), {}}, journal);
    shipper->setTiming(slow);
    shipper->start();
    QTRY_COMPARE_WITH_TIMEOUT(held(), 4, 10'000);
    QTest::qWait(300);
    const ShiftFileLines sound = readShiftFileLines(shifts, 0, 100);
    QCOMPARE(sound.damaged, 1);
    const PgResult rows
        = admin.exec("SELECT line_offset, raw FROM bilmeko.shifts WHERE desk = 'desk' ORDER BY line_offset");
    QCOMPARE(rows.rows(), int(sound.lines.size()));
    for (int i = 0; i < rows.rows(); ++i) {
        QCOMPARE(rows.number(i, 0), sound.lines[i].offset);
        QCOMPARE(rows.text(i, 1).toUtf8(), sound.lines[i].text);
    }
    QCOMPARE(admin.exec("SELECT operator_name FROM bilmeko.shifts WHERE kind = 'open' AND number = 2").text(0, 0),
             QStringLiteral("Борис"));
}

QTEST_GUILESS_MAIN(TestLedgerShipper)
#include "test_ledgershipper.moc"
