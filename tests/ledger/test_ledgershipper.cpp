// The desk's shipping against a server of the test's own that goes down
// and comes back, refuses, or is of another schema; and the desk program
// killed while it catches up a backlog. Each time the ledger ends up
// holding the journal's records, each once.

#include "ledger/core/ledgershipper.h"
#include "ledgertestutil.h"
#include "testsupport.h"

#include <QProcess>
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

    m_server->stop();
    LedgerShipper shipper({info, QStringLiteral("desk")}, path);
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

    LedgerShipper shipper({info, QStringLiteral("desk")}, path);
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
    QTest::newRow("unknown host") << "host" << "неизвестный сервер";
    QTest::newRow("wrong password") << "password" << "не принял пароль";
    QTest::newRow("newer schema") << "newer" << "новее";
    QTest::newRow("no schema") << "none" << "bilmeko-ledger init";
}

void TestLedgerShipper::refused()
{
    QFETCH(QString, setup);
    QFETCH(QString, reason);
    QString info;
    if (setup == QLatin1String("host")) {
        info = QStringLiteral("host=nonexistent.invalid dbname=x connect_timeout=5");
    } else if (setup == QLatin1String("password")) {
        PgConnection admin(m_server->conninfo());
        admin.exec("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'bilmeko_pw')"
                   " THEN CREATE ROLE bilmeko_pw LOGIN PASSWORD 'right'; END IF; END $$");
        info = m_server->conninfo(PgServer::PasswordRole) + QStringLiteral(" password=wrong");
    } else {
        info = freshLedger(*m_server, QStringLiteral("refused"), setup == QLatin1String("newer"));
        if (setup == QLatin1String("newer"))
            PgConnection(info).exec("UPDATE bilmeko.schema_version SET version = version + 1");
    }
    const QString path = m_tmp.filePath(QStringLiteral("refused.log"));
    writeFile(path, deskJournal(5, at(2026, 8, 1, 9), 1));

    LedgerShipper shipper({info, QStringLiteral("desk")}, path);
    shipper.start();
    QTRY_VERIFY_WITH_TIMEOUT(shipper.state().retryInSeconds > 0, 30'000);
    QVERIFY(!shipper.state().connected);
    QVERIFY2(shipper.state().reason.contains(reason), qPrintable(shipper.state().reason));
    QVERIFY(LedgerShipper::describe(shipper.state(), shipper.settings()).contains(reason));
    // It keeps trying, with a longer pause each time.
    QTRY_VERIFY_WITH_TIMEOUT(shipper.state().retryInSeconds >= 2, 30'000);
}

void TestLedgerShipper::deskKilledWhileShipping()
{
    // The desk program catches up a backlog at its start; killed at random
    // moments and started again, it leaves every record in the ledger once.
    const QString info = freshLedger(*m_server, QStringLiteral("killed"));
    QTemporaryDir data(m_tmp.filePath(QStringLiteral("desk-XXXXXX")));
    QTemporaryDir runtime(m_tmp.filePath(QStringLiteral("run-XXXXXX")));
    const QString journalPath = data.filePath(QStringLiteral("Bilmeko.log"));
    const QByteArray journal = deskJournal(2000, at(2025, 1, 1, 9), 0, 11)
                               + deskJournal(8 * ledger::BatchRecords, at(2025, 2, 1, 9), 1, 12);
    writeFile(journalPath, journal);
    writeFile(data.filePath(QStringLiteral("Bilmeko.ini")),
              QByteArray("[Price]\r\nСолярий=2,5\r\n[Ledger]\r\nConnection=").append(info.toUtf8())
                  + "\r\nDesk=killed-desk\r\n");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    PgConnection c(info);
    const auto held = [&] {
        return c.exec("SELECT count(*) FROM bilmeko.records WHERE desk = 'killed-desk'").number(0, 0);
    };
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

QTEST_GUILESS_MAIN(TestLedgerShipper)
#include "test_ledgershipper.moc"
