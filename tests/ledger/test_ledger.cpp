// The ledger against a server of the test's own: the schema and its
// versions, shipping once (byte for byte, old records by offset, damaged
// ones left out), the desk's and the owner's rights, and bilmeko-ledger as
// the command it is.

#include "cashdesk/core/shiftbook.h"
#include "common/core/clock.h"
#include "journal/core/periodreport.h"
#include "ledger/core/ledger.h"
#include "ledgertestutil.h"
#include "testsupport.h"

#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#ifndef BILMEKO_REPORT_EXE
#error "BILMEKO_REPORT_EXE must name the report command"
#endif
#ifndef BILMEKO_LEDGER_EXE
#error "BILMEKO_LEDGER_EXE must name the program under test"
#endif

using namespace bilmeko;
using namespace bilmeko::test;

class TestLedger : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void schemaVersions();
    void importShipsEachRecordOnce();
    void rights_data();
    void rights();
    void commandLine_data();
    void commandLine();
    void reportMatchesJournals();
    void restoredAndReplacedJournals_data();
    void restoredAndReplacedJournals();
    void reversalsAndSummary();
    void initRepairsAndMigrates();
    void shiftLinesShippedOnce();

private:
    struct Run
    {
        int code = -1;
        QString out, err;
    };
    Run ledgerCommand(const QStringList &args);

    std::unique_ptr<PgServer> m_server;
    QTemporaryDir m_tmp;
};

void TestLedger::initTestCase()
{
    pinRussian();
    m_server = std::make_unique<PgServer>();
    if (!m_server->missing().isEmpty())
        QSKIP(qPrintable(m_server->missing()));
}

TestLedger::Run TestLedger::ledgerCommand(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(BILMEKO_LEDGER_EXE), args);
    Run r;
    if (!p.waitForFinished(120'000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

void TestLedger::schemaVersions()
{
    const QString info = freshLedger(*m_server, QStringLiteral("versions"), false);
    PgConnection c(info);
    QVERIFY_THROWS_EXCEPTION(LedgerError, checkLedgerSchema(c));
    InitOutcome first = initLedger(c);
    QCOMPARE(first.versionBefore, 0);
    QCOMPARE(first.versionAfter, ledger::SchemaVersion);
    const QString tables = c.exec("SELECT string_agg(tablename, ',' ORDER BY tablename) FROM pg_tables"
                                  " WHERE schemaname = 'bilmeko'")
                               .text(0, 0);
    InitOutcome second = initLedger(c);
    QCOMPARE(second.versionBefore, ledger::SchemaVersion);
    QCOMPARE(second.versionAfter, ledger::SchemaVersion);
    QCOMPARE(c.exec("SELECT count(*) FROM bilmeko.schema_version").number(0, 0), 1);
    QCOMPARE(c.exec("SELECT string_agg(tablename, ',' ORDER BY tablename) FROM pg_tables"
                    " WHERE schemaname = 'bilmeko'")
                 .text(0, 0),
             tables);

    // A schema from a later program: refused by init and by a desk, untouched.
    c.exec("UPDATE bilmeko.schema_version SET version = version + 1");
    try {
        initLedger(c);
        QFAIL("a newer schema was taken");
    } catch (const LedgerError &e) {
        QCOMPARE(e.kind(), LedgerError::Schema);
        QVERIFY2(e.message().contains(QStringLiteral("новее")), qPrintable(e.message()));
    }
    QVERIFY_THROWS_EXCEPTION(LedgerError, checkLedgerSchema(c));
    QCOMPARE(c.exec("SELECT version FROM bilmeko.schema_version").number(0, 0), ledger::SchemaVersion + 1);
}

void TestLedger::importShipsEachRecordOnce()
{
    const QString info = freshLedger(*m_server, QStringLiteral("shipping"));
    // Old records without ids, then the program's sealed ones; one sealed
    // record damaged on the disk; a fragment at the end.
    QByteArray journal = deskJournal(3, at(2026, 3, 1, 9), 0, 7) + deskJournal(6, at(2026, 3, 2, 9), 500, 8);
    journal[4 * RecordSize + 70] = char(journal[4 * RecordSize + 70] ^ 0x10);
    // A Stop undone and the session ended again later: three records of
    // one session, each its own row.
    LogRecord ended = sampleRecord(at(2026, 3, 3, 12), 250);
    ended.sessionId = 900;
    LogRecord undone = ended;
    undone.reversal = true;
    undone.amount = -ended.amount;
    LogRecord endedAgain = ended;
    endedAgain.written = at(2026, 3, 3, 13);
    for (const LogRecord &r : {ended, undone, endedAgain}) {
        RecordBytes b = serializeRecord(r);
        ScrambleRecord(b);
        sealRecord(b);
        journal.append(b.data(), RecordSize);
    }
    const QString path = m_tmp.filePath(QStringLiteral("shipping.log"));
    writeFile(path, journal + QByteArray(50, '\x11'));
    const auto expected = shippable(journal);
    QCOMPARE(expected.size(), 11);

    for (int pass = 0; pass < 2; ++pass) {
        const Run r
            = ledgerCommand({QStringLiteral("import"), info, QStringLiteral("--desk"), QStringLiteral("Зал 1"), path});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.out.contains(QStringLiteral("записей 12, добавлено в базу %1.").arg(pass ? 0 : 11)),
                 qPrintable(r.out));
        QVERIFY2(r.err.contains(QStringLiteral("поврежденных записей не отправлено: 1")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("неполной записью")), qPrintable(r.err));
    }
    PgConnection c(info);
    QCOMPARE(ledgerRows(c, QStringLiteral("Зал 1")), expected);

    // The typed columns say what the record says.
    RecordBytes plain;
    std::memcpy(plain.data(), journal.constData() + 5 * RecordSize, RecordSize);
    ScrambleRecord(plain);
    const LogRecord r = deserializeRecord(plain.data());
    const PgResult row = c.exec("SELECT session_id, to_char(written, 'DD.MM.YYYY HH24:MI:SS.MS'), amount::float8,"
                                " extract(epoch FROM elapsed)::float8, client_name, service, status"
                                " FROM bilmeko.records WHERE journal_offset = $1",
                                {QString::number(5 * RecordSize)});
    QCOMPARE(row.number(0, 0), 502);
    QCOMPARE(row.text(0, 1), toDateTime(r.written).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss.zzz")));
    QCOMPARE(row.real(0, 2), r.amount);
    QCOMPARE(row.real(0, 3), double(roundToMs(r.elapsed)) / 1000);
    QCOMPARE(row.text(0, 4), r.clientName);
    QCOMPARE(row.text(0, 5), r.service);
    QCOMPARE(row.text(0, 6), r.status);
    QVERIFY(c.exec("SELECT session_id IS NULL FROM bilmeko.records WHERE journal_offset = 0").text(0, 0)
            == QLatin1String("t"));

    // The desk program resumes after the last record held, and a journal
    // that no longer holds that record is offered again from its start.
    QCOMPARE(resumeOffset(c, QStringLiteral("Зал 1"), path), 12 * RecordSize);
    writeFile(path, journal.left(2 * RecordSize));
    QCOMPARE(resumeOffset(c, QStringLiteral("Зал 1"), path), 0);
    QCOMPARE(shipBatch(c, QStringLiteral("Зал 1"), path, 0).inserted, 0);
}

void TestLedger::rights_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("allowed");
    // A record of zeros but for one byte of its note, so each is new.
    const QString insert
        = QStringLiteral("INSERT INTO bilmeko.records (desk, journal_offset, raw)"
                         " VALUES ('%1', 0, decode(repeat('00', 130) || '%2' || repeat('00', 37), 'hex'))");
    QTest::newRow("desk adds its own row") << "desk1" << insert.arg("desk1").arg(77) << true;
    QTest::newRow("desk adds another desk's row") << "desk1" << insert.arg("desk2").arg(78) << false;
    QTest::newRow("desk as another role")
        << "desk1" << QStringLiteral("SET ROLE bilmeko_desk; ") + insert.arg("bilmeko_desk").arg(76) << false;
    QTest::newRow("desk sets the amount")
        << "desk1"
        << QStringLiteral("INSERT INTO bilmeko.records (desk, journal_offset, raw, amount)"
                          " VALUES ('desk1', 0, decode(repeat('00', 168), 'hex'), 1e9)")
        << false;
    QTest::newRow("desk sets the shipped time")
        << "desk1"
        << QStringLiteral("INSERT INTO bilmeko.records (desk, journal_offset, raw, shipped)"
                          " VALUES ('desk1', 0, decode(repeat('00', 168), 'hex'), '2099-01-01')")
        << false;
    QTest::newRow("desk writes the summary")
        << "desk1" << QStringLiteral("UPDATE bilmeko.day_summary SET takings = 0") << false;
    QTest::newRow("desk changes another's live row")
        << "desk1" << QStringLiteral("UPDATE bilmeko.running SET amount_due = 0 WHERE desk = 'desk2'") << false;
    QTest::newRow("desk adds a live row for another")
        << "desk1"
        << QStringLiteral("INSERT INTO bilmeko.running (desk, session_id, client_name, service,"
                          " price_per_min, start_time, amount_due) VALUES ('desk2', 5, 'x', 'y', 1, now(), 0)")
        << false;
    QTest::newRow("desk adds its own live row")
        << "desk1"
        << QStringLiteral("INSERT INTO bilmeko.running (desk, session_id, client_name, service,"
                          " price_per_min, start_time, amount_due) VALUES ('desk1', 5, 'x', 'y', 1, now(), 0)")
        << true;
    QTest::newRow("owner writes a live row")
        << "owner" << QStringLiteral("UPDATE bilmeko.running SET amount_due = 0") << false;
    QTest::newRow("owner writes a desk's state")
        << "owner" << QStringLiteral("UPDATE bilmeko.desks SET running = 0") << false;
    QTest::newRow("desk changes a row") << "desk1" << QStringLiteral("UPDATE bilmeko.records SET amount = 0") << false;
    QTest::newRow("desk deletes a row") << "desk1" << QStringLiteral("DELETE FROM bilmeko.records") << false;
    QTest::newRow("desk empties the table") << "desk1" << QStringLiteral("TRUNCATE bilmeko.records") << false;
    QTest::newRow("desk changes the version")
        << "desk1" << QStringLiteral("UPDATE bilmeko.schema_version SET version = 9") << false;
    QTest::newRow("owner adds a row") << "owner" << insert.arg("owner").arg(79) << false;
    QTest::newRow("owner deletes a row") << "owner" << QStringLiteral("DELETE FROM bilmeko.records") << false;
    QTest::newRow("owner reads") << "owner" << QStringLiteral("SELECT count(*) FROM bilmeko.records") << true;
    // The shift file's lines: a desk adds its own, sound ones, and sets
    // nothing the server derives.
    const QString shift = QStringLiteral("INSERT INTO bilmeko.shifts (desk, line_offset, raw) VALUES ('%1', 0, '%2')");
    const auto line
        = [](int n) { return QString::fromLatin1(shiftFileLine("open\t" + QByteArray::number(n) + "\t1\t0\t5\tX")); };
    QTest::newRow("desk adds its own shift line") << "desk1" << shift.arg("desk1", line(1)) << true;
    QTest::newRow("desk adds another desk's shift line") << "desk1" << shift.arg("desk2", line(2)) << false;
    QTest::newRow("desk adds a damaged shift line")
        << "desk1"
        << shift.arg("desk1", line(3).chopped(1) + QLatin1Char(line(3).endsWith(QLatin1Char('0')) ? '1' : '0'))
        << false;
    QTest::newRow("desk sets a shift's operator")
        << "desk1"
        << QStringLiteral("INSERT INTO bilmeko.shifts (desk, line_offset, raw, operator_name)"
                          " VALUES ('desk1', 0, '%1', 'Y')")
               .arg(line(4))
        << false;
    QTest::newRow("desk changes a shift line")
        << "desk1" << QStringLiteral("UPDATE bilmeko.shifts SET cash = 0") << false;
    QTest::newRow("desk deletes shift lines") << "desk1" << QStringLiteral("DELETE FROM bilmeko.shifts") << false;
    QTest::newRow("owner adds a shift line") << "owner" << shift.arg("owner", line(5)) << false;
    QTest::newRow("owner changes a shift line")
        << "owner" << QStringLiteral("UPDATE bilmeko.shifts SET cash = 0") << false;
}

void TestLedger::rights()
{
    QFETCH(QString, role);
    QFETCH(QString, sql);
    QFETCH(bool, allowed);
    static QString info;
    if (info.isEmpty()) {
        info = freshLedger(*m_server, QStringLiteral("rights"));
        PgConnection admin(info);
        admin.exec("DO $$ BEGIN"
                   " IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'desk1') THEN CREATE ROLE desk1 LOGIN IN ROLE "
                   "bilmeko_desk; END IF;"
                   " IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'desk2') THEN CREATE ROLE desk2 LOGIN IN ROLE "
                   "bilmeko_desk; END IF;"
                   " IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'owner') THEN CREATE ROLE owner LOGIN IN ROLE "
                   "bilmeko_owner; END IF;"
                   " END $$");
        const QString journal = m_tmp.filePath(QStringLiteral("rights.log"));
        writeFile(journal, deskJournal(4, at(2026, 4, 1, 10), 1));
        for (const char *desk : {"desk1", "desk2"}) {
            PgConnection d(withUser(info, QLatin1String(desk)));
            QCOMPARE(shipBatch(d, QLatin1String(desk), journal, 0).inserted, 4);
        }
    }
    PgConnection c(withUser(info, role));
    const qint64 before = PgConnection(info).exec("SELECT count(*) FROM bilmeko.records").number(0, 0);
    bool ran = true;
    try {
        if (sql.startsWith(QLatin1String("SET ROLE ")))
            c.exec(sql.section(QLatin1Char(';'), 0, 0).toUtf8().constData());
        const PgResult r = c.exec(sql.section(QLatin1String("; "), -1).toUtf8().constData());
        // Row security hides other desks' rows instead of refusing: a
        // change that reaches no row is refused all the same.
        if (sql.startsWith(QLatin1String("UPDATE")) || sql.startsWith(QLatin1String("DELETE")))
            ran = r.affected() > 0;
        if (sql.startsWith(QLatin1String("SELECT")))
            QCOMPARE(r.number(0, 0), before);
    } catch (const LedgerError &e) {
        ran = false;
        QCOMPARE(e.kind(), LedgerError::Query);
    }
    QCOMPARE(ran, allowed);
    const qint64 after = PgConnection(info).exec("SELECT count(*) FROM bilmeko.records").number(0, 0);
    QCOMPARE(after, before + (allowed && sql.startsWith(QLatin1String("INSERT INTO bilmeko.records")) ? 1 : 0));
    // A desk sees its own rows only.
    if (role == QLatin1String("desk1"))
        QCOMPARE(c.exec("SELECT count(DISTINCT desk) FROM bilmeko.records").number(0, 0), 1);
}

void TestLedger::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says");
    const QString dead = QStringLiteral("host=%1 port=1 dbname=x").arg(m_tmp.path());
    QTest::newRow("no command") << QStringList{} << 2 << "нужна команда";
    QTest::newRow("unknown command") << QStringList{"drop", "x"} << 2 << "неизвестная команда";
    QTest::newRow("import without a desk") << QStringList{"import", "x", "j.log"} << 2 << "--desk";
    QTest::newRow("import of no journal")
        << QStringList{"import", dead, "--desk", "a", "/nonexistent/j.log"} << 2 << "не читается";
    QTest::newRow("no server") << QStringList{"status", dead} << 2 << "не запущен";
    QTest::newRow("unknown host") << QStringList{"init", "host=nonexistent.invalid connect_timeout=5 dbname=x"} << 2
                                  << "неизвестный сервер";
    QTest::newRow("wrong password") << QStringList{"status",
                                                   m_server->conninfo(PgServer::PasswordRole) + " password=wrong"}
                                    << 2 << "не принял пароль";
    QTest::newRow("status") << QStringList{"status", m_server->conninfo()} << 0 << "Стойка\tЗаписей";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "bilmeko-ledger 1.0.0";
    QTest::newRow("password in a broken string")
        << QStringList{"status", "host=x password=SECRET2 tail2SECRET"} << 2 << "не читается";
    QTest::newRow("password in a broken URI")
        << QStringList{"status", "postgresql://u:SECRET3%zz@h/db"} << 2 << "не читается";
}

void TestLedger::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, says);
    {
        // The status case needs a schema; the password case a role with one.
        PgConnection admin(m_server->conninfo());
        initLedger(admin);
        admin.exec("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'bilmeko_pw')"
                   " THEN CREATE ROLE bilmeko_pw LOGIN PASSWORD 'right'; END IF; END $$");
    }
    const Run r = ledgerCommand(args);
    QCOMPARE(r.code, code);
    QVERIFY2((r.out + r.err).contains(says), qPrintable(r.out + r.err));
    if (code == 2)
        QVERIFY2(r.err.startsWith(QLatin1String("bilmeko-ledger: ")) && r.out.isEmpty(), qPrintable(r.out + r.err));
    QVERIFY2(!(r.out + r.err).contains(QLatin1String("SECRET")), qPrintable(r.err));
}

void TestLedger::reportMatchesJournals()
{
    // Three desks ship 10,000 records each at the same time; the ledger's
    // report lists each once and sums what the journals' reports sum.
    const QString info = freshLedger(*m_server, QStringLiteral("report"));
    const QStringList desks = {QStringLiteral("desk-a"), QStringLiteral("desk-b"), QStringLiteral("desk-c")};
    QList<QString> paths;
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int k = 0; k < 3; ++k) {
        paths.append(m_tmp.filePath(desks[k] + QStringLiteral(".log")));
        // Desk b's journal starts with old records without ids.
        writeFile(paths[k],
                  (k == 1 ? deskJournal(300, at(2026, 5, 1, 9), 0, 40) : QByteArray())
                      + deskJournal(10'000, at(2026, 5, 1, 9, k * 3), 1, quint32(k + 1)));
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->start(QStringLiteral(BILMEKO_LEDGER_EXE),
                           {QStringLiteral("import"), info, QStringLiteral("--desk"), desks[k], paths[k]});
    }
    for (auto &p : runs) {
        QVERIFY(p->waitForFinished(300'000));
        QCOMPARE(p->exitCode(), 0);
    }

    // The report over the three journals and over the ledger, as the
    // commands print them: the same lines (the journal's path and the
    // desk's name in the last column) and the same totals line.
    const auto report = [](const QStringList &args) {
        QProcess p;
        p.start(QStringLiteral(BILMEKO_REPORT_EXE), args);
        p.waitForFinished(300'000);
        return std::pair(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n')));
    };
    const QStringList period = {QStringLiteral("03.05.2026"), QStringLiteral("10.06.2026")};
    auto [journalCode, journalText]
        = report(QStringList{QStringLiteral("--journal"), paths[0], QStringLiteral("--journal"), paths[1],
                             QStringLiteral("--journal"), paths[2]}
                 + period);
    auto [ledgerCode, ledgerText] = report(QStringList{QStringLiteral("--ledger"), info} + period);
    QCOMPARE(journalCode, 0);
    QCOMPARE(ledgerCode, 0);
    for (int k = 0; k < 3; ++k)
        journalText.replaceInStrings(QLatin1Char('\t') + paths[k], QLatin1Char('\t') + desks[k]);
    QVERIFY(journalText.size() > 20'000);
    QCOMPARE(ledgerText.mid(1), journalText.mid(1));
    QVERIFY(ledgerText.first().endsWith(QStringLiteral("\tСтойка")));
    QVERIFY(ledgerText.at(ledgerText.size() - 2).startsWith(QStringLiteral("Итог:")));

    // Desks named: only theirs; CSV names the desk in the last field.
    auto [csvCode, csv] = report(
        QStringList{QStringLiteral("--ledger"), info, QStringLiteral("--desk"), desks[2], QStringLiteral("--csv")}
        + period);
    QCOMPARE(csvCode, 0);
    // A desk the ledger does not know is a mistake, not a quiet desk.
    auto [unknownCode, unknown]
        = report(QStringList{QStringLiteral("--ledger"), info, QStringLiteral("--desk"), desks[2],
                             QStringLiteral("--desk"), QStringLiteral("nobody \"quoted\"")}
                 + period);
    QCOMPARE(unknownCode, 1);
    QCOMPARE(unknown, QStringList{QString()});
    csv.removeAll(QString());
    QCOMPARE(csv.size() - 1,
             readPeriodReport(paths[2], dateValue(QDate(2026, 5, 3)), dateValue(QDate(2026, 6, 10))).recordCount());
    for (qsizetype i = 1; i < csv.size(); ++i)
        QVERIFY(csv[i].endsWith(QLatin1Char(';') + desks[2] + QLatin1Char('\r')));

    // No server: nothing printed, exit 2.
    auto [downCode, down]
        = report(QStringList{QStringLiteral("--ledger"), QStringLiteral("host=/nonexistent dbname=x")} + period);
    QCOMPARE(downCode, 2);
    QCOMPARE(down, QStringList{QString()});
}

namespace {

// Ships the whole journal as the desk program does: from where the
// ledger says shipping resumes.
qint64 shipFromResume(PgConnection &c, const QString &desk, const QString &path)
{
    qint64 offset = resumeOffset(c, desk, path), inserted = 0;
    for (;;) {
        const ShipOutcome o = shipBatch(c, desk, path, offset);
        offset = o.nextOffset;
        inserted += o.inserted;
        if (o.atEnd || o.offered == 0)
            return inserted;
    }
}

} // namespace

void TestLedger::restoredAndReplacedJournals_data()
{
    // Half the ids above 2^63; old records without ids among them.
    QTest::addColumn<QString>("how");
    QTest::newRow("restored from a backup, then new records") << "restored";
    QTest::newRow("replaced by another journal of the desk") << "replaced";
    QTest::newRow("bytes at the resume offset changed") << "changed";
}

void TestLedger::restoredAndReplacedJournals()
{
    QFETCH(QString, how);
    const QString info = freshLedger(*m_server, QStringLiteral("restored"));
    const QString path = m_tmp.filePath(QStringLiteral("restored.log"));
    const std::uint64_t high = (std::uint64_t(1) << 63) + 1000;
    const QByteArray before = deskJournal(20, at(2026, 2, 1, 9), 0, 3) + deskJournal(200, at(2026, 2, 2, 9), high, 4);
    const QByteArray later = deskJournal(150, at(2026, 2, 5, 9), 1, 5);
    writeFile(path, before + later);
    PgConnection c(info);
    QCOMPARE(shipFromResume(c, QStringLiteral("d"), path), 370);
    // Every id kept, as the signed pattern of the unsigned one.
    QCOMPARE(c.exec("SELECT count(*) FROM bilmeko.records WHERE session_id IS NULL").number(0, 0), 20);
    QCOMPARE(c.exec("SELECT min(session_id) FROM bilmeko.records").number(0, 0), qint64(high));

    QByteArray now;
    if (how == QLatin1String("restored")) // the backup had `before`; the desk went on from there
        now = before + deskJournal(200, at(2026, 3, 1, 9), 5000, 6);
    else if (how == QLatin1String("replaced")) // another order, and records of its own
        now = later + deskJournal(600, at(2026, 3, 2, 9), high + 9000, 7) + before;
    else { // the last record's bytes differ where shipping resumes
        now = before + later;
        now.replace(now.size() - RecordSize, RecordSize, storedRecord(sampleRecord(at(2026, 3, 3, 9), 77)));
    }
    writeFile(path, now);
    shipFromResume(c, QStringLiteral("d"), path);
    // Everything either journal held is in the ledger, each record once.
    QSet<QByteArray> expected;
    for (const QByteArray *j : {&before, &later, static_cast<const QByteArray *>(&now)})
        for (const auto &[at, bytes] : shippable(*j))
            expected.insert(bytes);
    QSet<QByteArray> held;
    for (const auto &[at, bytes] : ledgerRows(c, QStringLiteral("d")))
        held.insert(bytes);
    QCOMPARE(held.size(), ledgerRows(c, QStringLiteral("d")).size());
    QCOMPARE(held, expected);
    // Shipping again adds nothing and starts where it ended.
    QCOMPARE(resumeOffset(c, QStringLiteral("d"), path), now.size());
    QCOMPARE(shipFromResume(c, QStringLiteral("d"), path), 0);
}

void TestLedger::reversalsAndSummary()
{
    const QString info = freshLedger(*m_server, QStringLiteral("reversals"));
    const QString desk = QStringLiteral("rev-desk");
    const QString login = deskLogin(info, desk);
    // A Stop and its reversal (counted); a reversal with no Stop before it
    // (forged); a damaged Stop (not shipped) and its intact reversal; a
    // second reversal of one Stop; then a Stop ending the undone session
    // again; old records without ids. Paid by cash, card or transfer
    // (a session's reversal as its Stop) or not said.
    const auto rec = [](std::uint64_t id, DateTimeValue when, double amount, bool reversal) {
        LogRecord r = sampleRecord(when, amount, (reversal ? -1 : 1) * 30.0 / 1440);
        r.sessionId = id;
        r.reversal = reversal;
        return storedRecord(r, int(id % 4));
    };
    QByteArray journal = deskJournal(5, at(2026, 4, 1, 8), 0, 9);
    journal += rec(1, at(2026, 4, 1, 10), 60, false) + rec(1, at(2026, 4, 1, 10, 5), -60, true);
    journal += rec(2, at(2026, 4, 1, 11), -1'000'000, true);
    QByteArray damaged = rec(3, at(2026, 4, 2, 10), 30, false);
    damaged[100] = char(damaged[100] ^ 1);
    journal += damaged + rec(3, at(2026, 4, 2, 10, 1), -30, true);
    journal += rec(4, at(2026, 4, 2, 12), 45, false) + rec(4, at(2026, 4, 2, 12, 1), -45, true)
        + rec(4, at(2026, 4, 2, 12, 2), -45, true);
    journal += rec(1, at(2026, 4, 3, 9), 80, false);
    const QString path = m_tmp.filePath(QStringLiteral("reversals.log"));
    writeFile(path, journal);
    PgConnection d(login);
    QCOMPARE(shipFromResume(d, desk, path), 13);
    // Shipped again from the start (a journal offered whole): nothing changes.
    QCOMPARE(shipBatch(d, desk, path, 0).inserted, 0);

    PgConnection c(info);
    QCOMPARE(c.exec("SELECT string_agg(session_id || ':' || amount::float8, ' ' ORDER BY journal_offset)"
                    " FROM bilmeko.records WHERE reversal AND NOT counted")
                 .text(0, 0),
             QStringLiteral("2:-1000000 3:-30 4:-45"));
    // The summary is the sums over the rows, day by day and in all.
    const char *sums = "SELECT written::date, count(*) FILTER (WHERE NOT reversal),"
                       " sum(extract(epoch FROM elapsed)) FILTER (WHERE counted),"
                       " sum(amount) FILTER (WHERE counted), count(*) FILTER (WHERE reversal AND counted),"
                       " count(*) FILTER (WHERE NOT counted), sum(amount) FILTER (WHERE counted AND payment = 1),"
                       " sum(amount) FILTER (WHERE counted AND payment = 2),"
                       " sum(amount) FILTER (WHERE counted AND payment = 3), extract(epoch FROM max(written))"
                       " FROM bilmeko.records GROUP BY 1 ORDER BY 1";
    const char *summary = "SELECT day, sessions, seconds, takings, reversals, uncounted, takings_cash, takings_card,"
                          " takings_transfer, extract(epoch FROM last_written) FROM bilmeko.day_summary ORDER BY 1";
    const auto table = [&](const char *sql) {
        const PgResult r = c.exec(sql);
        QStringList out;
        for (int i = 0; i < r.rows(); ++i) {
            QStringList row;
            for (int k = 0; k < 10; ++k)
                row.append(r.isNull(i, k) ? QStringLiteral("0") : QString::number(r.text(i, k).toDouble()));
            out.append(row.join(QLatin1Char(' ')));
        }
        return out;
    };
    QCOMPARE(table(summary), table(sums));
    QCOMPARE(table(summary).size(), 3);
    QCOMPARE(c.exec("SELECT sum(takings)::float8 FROM bilmeko.day_summary").real(0, 0),
             c.exec("SELECT sum(amount)::float8 FROM bilmeko.records WHERE counted").real(0, 0));
    // The report's total is the sum of the counted rows it lists.
    const PgResult listed
        = c.exec("SELECT sum(amount) FILTER (WHERE counted)::float8,"
                 " sum(extract(epoch FROM elapsed)) FILTER (WHERE counted)::float8 FROM bilmeko.records");
    QProcess p;
    p.start(QStringLiteral(BILMEKO_REPORT_EXE),
            {QStringLiteral("--ledger"), info, QStringLiteral("01.04.2026"), QStringLiteral("03.04.2026")});
    QVERIFY(p.waitForFinished(60'000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    QCOMPARE(out.count(QLatin1Char('\n')), 1 + 13 + 1);
    QVERIFY2(out.endsWith(totalsText(listed.real(0, 0), listed.real(0, 1) / 86400.0L) + QLatin1Char('\n')),
             qPrintable(out));
}

void TestLedger::initRepairsAndMigrates()
{
    // A version-1 ledger, shipped to by a new desk as version 1, with an
    // id above 2^63.
    const QString info = freshLedger(*m_server, QStringLiteral("migrates"), false);
    PgConnection c(info);
    QCOMPARE(initLedger(c, 1).versionAfter, 1);
    const QString path = m_tmp.filePath(QStringLiteral("migrates.log"));
    const QByteArray journal = deskJournal(30, at(2026, 1, 1, 9), 0, 13)
        + deskJournal(300, at(2026, 1, 2, 9), (std::uint64_t(1) << 63) + 7, 14);
    writeFile(path, journal);
    QCOMPARE(shipBatch(c, QStringLiteral("old"), path, 0, ledger::BatchRecords, 1).inserted, 330);
    const QStringList shippedV1
        = c.exec("SELECT string_agg(shipped::text, ',' ORDER BY journal_offset) FROM bilmeko.records")
              .text(0, 0)
              .split(QLatin1Char(','));

    const InitOutcome o = initLedger(c);
    QCOMPARE(o.versionBefore, 1);
    QCOMPARE(o.versionAfter, 2);
    QCOMPARE(o.keptAside, 0);
    QVERIFY(ledgerKeepsShifts(c));
    QCOMPARE(ledgerRows(c, QStringLiteral("old")), shippable(journal));
    QCOMPARE(c.exec("SELECT string_agg(shipped::text, ',' ORDER BY journal_offset) FROM bilmeko.records")
                 .text(0, 0)
                 .split(QLatin1Char(',')),
             shippedV1);
    QCOMPARE(c.exec("SELECT sum(sessions) FROM bilmeko.day_summary").number(0, 0), 330);
    QCOMPARE(resumeOffset(c, QStringLiteral("old"), path), 0); // offered whole once more; the keys keep it once
    QCOMPARE(shipBatch(c, QStringLiteral("old"), path, 0).inserted, 0);

    // A ledger whose rights were lost (restored without its roles, or
    // changed by hand): init sets them all again, and a second run changes
    // nothing.
    const QString login = deskLogin(info, QStringLiteral("fixed"));
    c.exec(
        "DO $$ DECLARE p record; BEGIN FOR p IN SELECT policyname, tablename FROM pg_policies"
        " WHERE schemaname = 'bilmeko' LOOP EXECUTE format('DROP POLICY %I ON bilmeko.%I', p.policyname, p.tablename);"
        " END LOOP; END $$");
    c.exec("REVOKE ALL ON ALL TABLES IN SCHEMA bilmeko FROM bilmeko_desk");
    c.exec("REVOKE USAGE ON SCHEMA bilmeko FROM bilmeko_desk");
    // And a version-2 ledger made before it kept the shift file.
    c.exec("DROP TABLE bilmeko.shifts");
    c.exec("ALTER TABLE bilmeko.desks DROP COLUMN shift_offset, DROP COLUMN shift_line");
    QVERIFY(!ledgerKeepsShifts(c));
    {
        PgConnection d(login);
        QVERIFY_THROWS_EXCEPTION(LedgerError, shipBatch(d, QStringLiteral("fixed"), path, 0));
    }
    for (int run = 0; run < 2; ++run) {
        const Run r = ledgerCommand({QStringLiteral("init"), info});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QStringLiteral("права и правила доступа проверены")), qPrintable(r.out));
    }
    PgConnection d(login);
    QCOMPARE(shipBatch(d, QStringLiteral("fixed"), path, 0).inserted, 330);
    QVERIFY(ledgerKeepsShifts(d));
    QCOMPARE(c.exec("SELECT count(*) FROM pg_policies WHERE schemaname = 'bilmeko'").number(0, 0), 12);
    QCOMPARE(c.exec("SELECT setconfig::text FROM pg_db_role_setting s JOIN pg_roles r ON r.oid = s.setrole"
                    " WHERE r.rolname = 'fixed'")
                 .text(0, 0),
             QStringLiteral("{idle_in_transaction_session_timeout=60s}"));
}

void TestLedger::shiftLinesShippedOnce()
{
    // The desk's own writer: two shifts and two receipts, one of them for
    // an id above 2^63; then a damaged line, a later program's line with a
    // sound checksum, and a line cut short at the end.
    const QString info = freshLedger(*m_server, QStringLiteral("shiftlines"));
    const QString desk = QStringLiteral("shift-desk");
    QTemporaryDir dir(m_tmp.filePath(QStringLiteral("shifts-XXXXXX")));
    const QString path = dir.filePath(QLatin1String(ShiftFileName));
    const std::uint64_t high = (std::uint64_t(1) << 63) + 5;
    {
        FixedClock clock(QDateTime(QDate(2026, 12, 7), QTime(9, 0, 0, 123)));
        ScopedClock scoped(&clock);
        ShiftBook book(path);
        book.open(QStringLiteral("Анна-Мария 100% \"А\"\tБ"), 1500.5, 3 * RecordSize);
        book.takeReceiptNumber({high, 3'974'000'000'123, false});
        clock.advanceSecs(3600);
        book.takeReceiptNumber({7, 3'974'000'100'000, true});
        book.close(1e9, 10 * RecordSize);
        book.open(QStringLiteral("Борис"), 0, 10 * RecordSize);
    }
    QByteArray bytes = readFile(path);
    QByteArray damaged = shiftFileLine("close\t2\t1\t0\t1") + '\n';
    damaged[damaged.size() - 2] = damaged[damaged.size() - 2] == '0' ? '1' : '0';
    bytes.insert(bytes.indexOf('\n') + 1, damaged);
    const QByteArray later = shiftFileLine("pause\t2\t1765000000000");
    bytes += later + '\n';
    writeFile(path, bytes + "receipt\t3\t17");

    PgConnection d(deskLogin(info, desk));
    QCOMPARE(shiftResumeOffset(d, desk, path), 0);
    const ShipOutcome o = shipShiftBatch(d, desk, path, 0);
    QCOMPARE(o.offered, 5);
    QCOMPARE(o.inserted, 5);
    QCOMPARE(o.damaged, 2); // the desk does not know the later line either
    QCOMPARE(o.nextOffset, bytes.size()); // the line cut short waits
    QVERIFY(o.atEnd);
    // Offered again from the start, or from where it ended: nothing new.
    QCOMPARE(shipShiftBatch(d, desk, path, 0).inserted, 0);
    // Resumed after the last line shipped (a damaged one after it is read
    // again, and left out again).
    QCOMPARE(shiftResumeOffset(d, desk, path), bytes.size() - later.size() - 1);
    QCOMPARE(shipShiftBatch(d, desk, path, bytes.size() - later.size() - 1).offered, 0);

    // A line with a sound checksum of a kind the server does not know (a
    // later desk's) is kept untyped; a damaged one is refused.
    d.exec("INSERT INTO bilmeko.shifts (desk, line_offset, raw) VALUES ($1, 99999, $2)",
           {desk, QString::fromUtf8(later)});
    QVERIFY_THROWS_EXCEPTION(LedgerError,
                             d.exec("INSERT INTO bilmeko.shifts (desk, line_offset, raw) VALUES ($1, 0, $2)",
                                    {desk, QString::fromUtf8(damaged.trimmed())}));

    // Each row is its line as shipped, and its typed columns are what the
    // desk reads of it.
    PgConnection c(info);
    ShiftBook book(path);
    QVERIFY(!book.load().isEmpty()); // the damage, reported at the desk
    const auto cash = [](double v) { return QString::number(v, 'g', 17); };
    const Shift &first = book.shifts()[0], &second = book.shifts()[1];
    const QStringList expected = {
        QStringLiteral("open|1|%1|%2|%3|%4")
            .arg(first.openedUtcMs)
            .arg(first.journalFrom)
            .arg(cash(first.openingCash), first.operatorName),
        QStringLiteral("receipt|1|3974000000123|%1|S").arg(qint64(high)),
        QStringLiteral("receipt|2|3974000100000|7|R"),
        QStringLiteral("close|1|%1|%2|%3").arg(first.closedUtcMs).arg(first.journalTo).arg(cash(first.countedCash)),
        QStringLiteral("open|2|%1|%2|0|Борис").arg(second.openedUtcMs).arg(second.journalFrom),
        QStringLiteral("-"),
    };
    const PgResult rows = c.exec(
        "SELECT concat_ws('|', coalesce(kind, '-'), number, (extract(epoch FROM event_time) * 1000)::bigint,"
        " (extract(epoch FROM written - timestamp '1899-12-30') * 1000)::bigint, journal_length, session_id, cash,"
        " operator_name, CASE reversal WHEN true THEN 'R' WHEN false THEN 'S' END), raw, line_offset"
        " FROM bilmeko.shifts ORDER BY line_offset");
    QCOMPARE(rows.rows(), int(expected.size()));
    for (int i = 0; i < rows.rows(); ++i) {
        QCOMPARE(rows.text(i, 0), expected[i]);
        if (i + 1 < rows.rows())
            QCOMPARE(bytes.mid(rows.number(i, 2), rows.text(i, 1).toUtf8().size() + 1),
                     rows.text(i, 1).toUtf8() + '\n');
    }

    // bilmeko-ledger status names the desk's open shift and its operator.
    const Run status = ledgerCommand({QStringLiteral("status"), info});
    QVERIFY2(status.out.contains(QStringLiteral("\tСмена\n")) && status.out.contains(QStringLiteral("\t2 (Борис)\n")),
             qPrintable(status.out));

    // Forged typed values and shipped time are the server's all the same.
    c.exec("INSERT INTO bilmeko.shifts (desk, line_offset, raw, kind, number, cash, operator_name, shipped)"
           " SELECT 'forger', 0, raw, 'close', 99, 1e12, 'X', '2099-01-01' FROM bilmeko.shifts ORDER BY line_offset "
           "LIMIT 1");
    QCOMPARE(c.exec("SELECT concat_ws('|', kind, number, cash, operator_name, shipped <= now()) FROM bilmeko.shifts"
                    " WHERE desk = 'forger'")
                 .text(0, 0),
             QStringLiteral("open|1|%1|%2|t").arg(cash(first.openingCash), first.operatorName));

    // A file replaced by a shorter one is offered whole: its new line goes
    // in, the lines the ledger held stay once.
    writeFile(path, bytes.left(bytes.indexOf('\n') + 1) + shiftFileLine("receipt\t9\t5\t0000000000000009\tS") + '\n');
    QCOMPARE(shiftResumeOffset(d, desk, path), 0);
    QCOMPARE(shipShiftBatch(d, desk, path, 0).inserted, 1);
    QCOMPARE(c.exec("SELECT count(*) FROM bilmeko.shifts WHERE desk = $1", {desk}).number(0, 0), 7);
}

QTEST_GUILESS_MAIN(TestLedger)
#include "test_ledger.moc"
