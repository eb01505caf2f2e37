// The owner's board against a PostgreSQL server of the test's own, read
// through an owner's role: a desk's change shows within two seconds, a
// Stop moves the session out and today's takings up, a desk that stops
// updating turns red with one alert; the period's summary, its CSV and PDF
// and bilmeko-report --by-desk agree; a double click on a desk gives the
// report its own journal gives. The desks' live rows are written here as a
// desk writes them: its role's tables, then NOTIFY.

#include "common/core/formats.h"
#include "journal/ui/form5.h"
#include "ledger/core/ownerqueries.h"
#include "ledgertestutil.h"
#include "owner/ui/ownermodels.h"
#include "owner/ui/ownerwindow.h"
#include "testsupport_ui.h"

#include <QAbstractItemModel>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

#ifndef BILMEKO_REPORT_EXE
#error "BILMEKO_REPORT_EXE must name the report command"
#endif
#ifndef BILMEKO_EXE
#error "BILMEKO_EXE must name the desk program"
#endif

using namespace bilmeko;
using namespace bilmeko::test;

namespace {

// The desks' live tables as the ledger's schema defines them, where the
// schema in use does not have them yet.
void liveTables(PgConnection &c)
{
    c.exec("CREATE TABLE IF NOT EXISTS bilmeko.desks (desk text PRIMARY KEY, version text,"
           " last_seen timestamptz, records_written bigint, records_shipped bigint, running_count int,"
           " running_amount numeric, last_record timestamp)");
    c.exec("CREATE TABLE IF NOT EXISTS bilmeko.running (desk text, session_id bigint, client text, service text,"
           " price_per_min numeric, start_at timestamptz, booked_end timestamptz, paused boolean, paused_ms bigint,"
           " pause_since timestamptz, amount_due numeric, updated timestamptz DEFAULT now(),"
           " PRIMARY KEY (desk, session_id))");
    c.exec("CREATE TABLE IF NOT EXISTS bilmeko.day_summary (desk text, day date, sessions bigint, minutes numeric,"
           " takings numeric, reversals bigint, reversal_amount numeric, takings_cash numeric,"
           " takings_card numeric, takings_transfer numeric, PRIMARY KEY (desk, day))");
    c.exec("GRANT SELECT ON bilmeko.desks, bilmeko.running, bilmeko.day_summary TO bilmeko_owner");
    c.exec("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'owner1')"
           " THEN CREATE ROLE owner1 LOGIN IN ROLE bilmeko_owner; END IF; END $$");
}

void seen(PgConnection &c, const QString &desk)
{
    c.exec("INSERT INTO bilmeko.desks (desk, version, last_seen, records_written, records_shipped, running_count,"
           " running_amount) VALUES ($1, '1.0.0', now(), 0, 0, 0, 0)"
           " ON CONFLICT (desk) DO UPDATE SET last_seen = now()",
           {desk});
}

void takings(PgConnection &c, const QString &desk, const QDate &day, int sessions, double amount, int reversals = 0)
{
    c.exec("INSERT INTO bilmeko.day_summary (desk, day, sessions, minutes, takings, reversals)"
           " VALUES ($1, $2::date, $3::bigint, $3::bigint * 30, $4::numeric, $5::bigint)"
           " ON CONFLICT (desk, day) DO UPDATE SET sessions = day_summary.sessions + EXCLUDED.sessions,"
           " minutes = day_summary.minutes + EXCLUDED.minutes, takings = day_summary.takings + EXCLUDED.takings,"
           " reversals = day_summary.reversals + EXCLUDED.reversals",
           {desk, day.toString(Qt::ISODate), QString::number(sessions), QString::number(amount, 'f', 2),
            QString::number(reversals)});
}

void notify(PgConnection &c, const QString &desk)
{
    c.exec("SELECT pg_notify('bilmeko_live', $1)", {desk});
}

QString cell(QAbstractItemModel *m, int row, int col)
{
    return m->data(m->index(row, col)).toString();
}

int rowOf(QAbstractItemModel *m, const QString &desk)
{
    for (int r = 0; r < m->rowCount(); ++r)
        if (cell(m, r, 0).endsWith(desk))
            return r;
    return -1;
}

} // namespace

class TestOwnerWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void liveBoardFollowsTheDesks();
    void periodSummaryExportsAndCommand();
    void deskReportIsItsJournals();
    void programLoadsTheBoardAtNeed();

private:
    std::unique_ptr<TOwnerBoard> board(int offlineMs = 10 * 60'000);
    std::unique_ptr<PgServer> m_server;
    QTemporaryDir m_tmp;
    QString m_info;
};

void TestOwnerWindow::initTestCase()
{
    pinRussian();
    m_server = std::make_unique<PgServer>();
    if (!m_server->missing().isEmpty())
        QSKIP(qPrintable(m_server->missing()));
    m_info = freshLedger(*m_server, QStringLiteral("board"));
    PgConnection c(m_info);
    liveTables(c);
}

std::unique_ptr<TOwnerBoard> TestOwnerWindow::board(int offlineMs)
{
    OwnerSettings s;
    s.connection = withUser(m_info, QStringLiteral("owner1"));
    s.options.offlineMs = offlineMs;
    auto b = std::make_unique<TOwnerBoard>(s, m_tmp.filePath(QStringLiteral("Bilmeko.ini")));
    b->show();
    return b;
}

void TestOwnerWindow::liveBoardFollowsTheDesks()
{
    PgConnection desk(m_info);
    const QDate today = QDate::currentDate();
    seen(desk, QStringLiteral("desk1"));
    seen(desk, QStringLiteral("desk2"));
    takings(desk, QStringLiteral("desk1"), today, 2, 500);

    // desk2 stops updating; a short time-out turns it red.
    const auto b = board(4000);
    QAbstractItemModel *desks = b->DeskGrid->model();
    QAbstractItemModel *sessions = b->SessionGrid->model();
    QTRY_COMPARE_WITH_TIMEOUT(desks->rowCount(), 3, 10'000); // two desks and the totals
    QTRY_COMPARE(b->FeedState->text(), QStringLiteral("Общая книга: на связи"));
    const int row1 = rowOf(desks, QStringLiteral("desk1"));
    QCOMPARE(cell(desks, row1, DeskModel::Link), QStringLiteral("на связи"));
    QCOMPARE(cell(desks, row1, DeskModel::Takings), Formats::current().currency(500));
    QCOMPARE(cell(desks, 2, DeskModel::Desk), QStringLiteral("Итого"));

    // A New at desk1: within two seconds, without a poll.
    desk.exec("INSERT INTO bilmeko.running (desk, session_id, client, service, price_per_min, start_at, booked_end,"
              " paused, paused_ms, amount_due) VALUES ('desk1', -5, 'Иванова', 'Стрижка', 12.5,"
              " now() - interval '10 minutes 30 seconds', now() + interval '49 minutes 30 seconds', false, 0, 125)");
    seen(desk, QStringLiteral("desk1"));
    notify(desk, QStringLiteral("desk1"));
    QTRY_COMPARE_WITH_TIMEOUT(sessions->rowCount(), 1, 2000);
    QCOMPARE(cell(sessions, 0, SessionModel::Desk), QStringLiteral("desk1"));
    QCOMPARE(cell(sessions, 0, SessionModel::Client), QStringLiteral("Иванова"));
    QCOMPARE(cell(sessions, 0, SessionModel::Amount), Formats::current().currency(125));
    QVERIFY(cell(sessions, 0, SessionModel::Left).startsWith(QStringLiteral("0:49:")));
    QCOMPARE(cell(desks, row1, DeskModel::Running), QStringLiteral("1"));

    // Its Stop: the session leaves, today's takings go up by its amount.
    desk.exec("BEGIN");
    desk.exec("DELETE FROM bilmeko.running WHERE desk = 'desk1'");
    takings(desk, QStringLiteral("desk1"), today, 1, 125);
    seen(desk, QStringLiteral("desk1"));
    desk.exec("COMMIT");
    notify(desk, QStringLiteral("desk1"));
    QTRY_COMPARE_WITH_TIMEOUT(sessions->rowCount(), 0, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(cell(desks, row1, DeskModel::Takings), Formats::current().currency(625), 2000);
    QCOMPARE(cell(desks, row1, DeskModel::Sessions), QStringLiteral("3"));

    // desk2 is red after the time-out, said once and marked on its row.
    const int row2 = rowOf(desks, QStringLiteral("desk2"));
    QTRY_VERIFY_WITH_TIMEOUT(cell(desks, row2, DeskModel::Link).startsWith(QStringLiteral("нет связи с")), 8000);
    QCOMPARE(cell(desks, row2, DeskModel::Desk), QStringLiteral("! desk2"));
    QVERIFY(desks->data(desks->index(row2, 0), Qt::ToolTipRole).toString().startsWith(QStringLiteral("нет связи с")));
    // (desk1 may follow it by now: the last alert is either's.)
    QVERIFY2(b->LastAlert->text().contains(QStringLiteral("»: нет связи с")), qPrintable(b->LastAlert->text()));
}

void TestOwnerWindow::periodSummaryExportsAndCommand()
{
    PgConnection desk(m_info);
    const QDate from(2026, 3, 1), to(2026, 3, 31);
    seen(desk, QStringLiteral("desk1"));
    seen(desk, QStringLiteral("desk2"));
    takings(desk, QStringLiteral("desk1"), QDate(2026, 3, 2), 3, 300);
    takings(desk, QStringLiteral("desk1"), QDate(2026, 3, 31), 1, 100);
    takings(desk, QStringLiteral("desk2"), QDate(2026, 3, 15), 4, 1200);
    takings(desk, QStringLiteral("desk1"), QDate(2026, 2, 1), 2, 320); // the 31 days before
    takings(desk, QStringLiteral("desk2"), QDate(2026, 1, 28), 9, 9999); // one day too early

    const auto b = board();
    QTRY_VERIFY_WITH_TIMEOUT(b->feed()->connected(), 10'000);
    b->choosePeriod = [&](QDate &f, QDate &t) {
        f = from;
        t = to;
        return true;
    };
    QTest::mouseClick(b->BtnPeriod, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(b->periodWindow() && b->periodWindow()->isVisible(), 5000);
    TOwnerPeriod *p = b->periodWindow();
    QTableWidget *grid = p->SummaryGrid;
    QCOMPARE(grid->rowCount(), 3);
    const auto rowText = [&](int r) {
        QStringList cells;
        for (int c = 0; c < grid->columnCount(); ++c)
            cells << grid->item(r, c)->text();
        return cells.join(QLatin1Char('\t'));
    };
    QCOMPARE(rowText(0), QStringLiteral("desk1\t4\t120\t400,00\t100,00\t25,0 %\t+25,0 %"));
    QCOMPARE(rowText(1), QStringLiteral("desk2\t4\t120\t1200,00\t300,00\t75,0 %\t—"));
    QCOMPARE(rowText(2), QStringLiteral("Итого\t8\t240\t1600,00\t200,00\t100,0 %\t+400,0 %"));

    // The same summary for scripts.
    QProcess cmd;
    cmd.start(QStringLiteral(BILMEKO_REPORT_EXE), {QStringLiteral("--ledger"), withUser(m_info, QStringLiteral("owner1")),
                                                    QStringLiteral("--by-desk"), QStringLiteral("01.03.2026"),
                                                    QStringLiteral("2026-03-31")});
    QVERIFY(cmd.waitForFinished(30'000));
    QCOMPARE(cmd.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(cmd.readAllStandardOutput()), p->summary()->lines().join(QLatin1Char('\n')) + '\n');

    // CSV and PDF through "Сохранить…".
    const QString csv = m_tmp.filePath(QStringLiteral("сводка.csv"));
    const QString pdf = m_tmp.filePath(QStringLiteral("сводка.pdf"));
    for (const QString &path : {csv, pdf}) {
        p->chooseSavePath = [path] { return path; };
        QTest::mouseClick(p->BtnSave, Qt::LeftButton);
    }
    const QByteArray csvBytes = readFile(csv);
    QVERIFY(csvBytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY2(csvBytes.contains("\r\ndesk1;4;120;400,00;100,00;25,0;25,0;320,00\r\n"), csvBytes.constData());
    QVERIFY(readFile(pdf).startsWith("%PDF"));
}

void TestOwnerWindow::deskReportIsItsJournals()
{
    // desk3's journal: today's records and yesterday's, shipped as the desk
    // ships them.
    const QDate today = QDate::currentDate();
    const QString journalPath = m_tmp.filePath(QStringLiteral("desk3.log"));
    const QByteArray journal = deskJournal(30, dateTimeValue(today.addDays(-1), QTime(23, 0)), 900);
    writeFile(journalPath, journal);
    PgConnection desk(m_info);
    QCOMPARE(shipBatch(desk, QStringLiteral("desk3"), journalPath, 0).inserted, 30);
    seen(desk, QStringLiteral("desk3"));

    ErrorRecorder errors;
    const auto b = board();
    QAbstractItemModel *desks = b->DeskGrid->model();
    QTRY_VERIFY_WITH_TIMEOUT(rowOf(desks, QStringLiteral("desk3")) >= 0, 10'000);
    const int row = rowOf(desks, QStringLiteral("desk3"));
    const QRect r = b->DeskGrid->visualRect(desks->index(row, 0));
    QVERIFY(QTest::qWaitForWindowExposed(b.get()));
    // As a hand does it: the first press a click, the second a double click.
    QTest::mouseClick(b->DeskGrid->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(b->DeskGrid->viewport(), Qt::LeftButton, {}, r.center());
    QTRY_VERIFY2_WITH_TIMEOUT(b->reportWindow() && b->reportWindow()->isVisible(), qPrintable(errors.messages.join('\n')),
                              5000);
    const PeriodReport own = buildPeriodReport(journal, dateValue(today), dateValue(today));
    QVERIFY(own.recordCount() > 0 && own.recordCount() < 30);
    QCOMPARE(b->reportWindow()->report().recordCount(), own.recordCount());
    QCOMPARE(b->reportWindow()->LabelSum->text(), own.sumText());
    QCOMPARE(b->reportWindow()->LabelTime->text(), own.timeText());
    QVERIFY(b->reportWindow()->windowTitle().contains(QStringLiteral("«desk3»")));
}

// `bilmeko --owner` loads the board and libpq from a module; the program
// itself maps neither until then.
void TestOwnerWindow::programLoadsTheBoardAtNeed()
{
    QTemporaryDir data(m_tmp.filePath(QStringLiteral("owner-XXXXXX")));
    QTemporaryDir runtime(m_tmp.filePath(QStringLiteral("run-XXXXXX")));
    QDir().mkpath(data.filePath(QStringLiteral("Owner")));
    writeFile(data.filePath(QStringLiteral("Owner/Bilmeko.ini")),
              QByteArray("[Ledger]\r\nConnection=") + withUser(m_info, QStringLiteral("owner1")).toUtf8() + "\r\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    QProcess owner;
    owner.setProcessEnvironment(env);
    owner.start(QStringLiteral(BILMEKO_EXE), {QStringLiteral("--data-dir"), data.path(), QStringLiteral("--owner")});
    QVERIFY(owner.waitForStarted());
    const auto maps = [&] {
        QFile f(QStringLiteral("/proc/%1/maps").arg(owner.processId()));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QTRY_VERIFY_WITH_TIMEOUT(maps().contains("/bilmeko-owner.so"), 20'000);
    QVERIFY(maps().contains("/libpq.so"));
    // Its channel answers: a second start shows this board and ends.
    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(BILMEKO_EXE), {QStringLiteral("--data-dir"), data.path(), QStringLiteral("--owner")});
    QVERIFY(second.waitForFinished(20'000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(owner.state(), QProcess::Running);
    ::kill(pid_t(owner.processId()), SIGTERM);
    QVERIFY(owner.waitForFinished(10'000));
    QCOMPARE(owner.exitStatus(), QProcess::NormalExit);
    QCOMPARE(owner.exitCode(), 0);
}

QTEST_MAIN(TestOwnerWindow)
#include "test_ownerwindow.moc"
