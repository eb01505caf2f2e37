// The owner's board against a PostgreSQL server of the test's own, read
// through an owner's role: a desk's change shows within two seconds, a
// Stop moves the session out and today's takings up, a desk that stops
// updating turns red with one alert; the period's summary, its CSV and PDF
// and bilmeko-report --by-desk agree; a double click on a desk gives the
// report its own journal gives. The schema is bilmeko-ledger init's; a
// desk's live state comes from the desk's own shipper under its role.

#include "app/core/sessionboard.h"
#include "app/core/sessionstate.h"
#include "app/ui/form1.h"
#include "cashdesk/core/shiftbook.h"
#include "common/core/clock.h"
#include "common/core/formats.h"
#include "journal/ui/form5.h"
#include "ledger/core/ledgershipper.h"
#include "ledger/core/ownerqueries.h"
#include "ledgertestutil.h"
#include "owner/ui/ownermodels.h"
#include "owner/ui/ownerwindow.h"
#include "testsupport_ui.h"

#include <QAbstractItemModel>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <csignal>

#include <signal.h>

#ifndef BILMEKO_REPORT_EXE
#error "BILMEKO_REPORT_EXE must name the report command"
#endif
#ifndef BILMEKO_EXE
#error "BILMEKO_EXE must name the desk program"
#endif

using namespace bilmeko;
using namespace bilmeko::test;

namespace {

// A desk that said it is there (its row of bilmeko.desks; the server
// stamps the time).
void seen(PgConnection &c, const QString &desk)
{
    c.exec("INSERT INTO bilmeko.desks (desk, program_version, records_written, records_shipped)"
           " VALUES ($1, '1.0.0', 0, 0) ON CONFLICT (desk) DO UPDATE SET program_version = excluded.program_version",
           {desk});
}

// `sessions` records of the desk on `day`, of 30 minutes each, together
// `amount`, shipped as the desk ships them; the summary is the server's.
void takings(PgConnection &c, const QString &desk, const QDate &day, int sessions, double amount, int payment = 0)
{
    static std::uint64_t nextId = 1000;
    static QTemporaryDir dir;
    QByteArray journal;
    for (int i = 0; i < sessions; ++i) {
        LogRecord r = sampleRecord(dateTimeValue(day, QTime(10, 0).addSecs(60 * i)), amount / sessions, 30.0 / 1440);
        r.sessionId = nextId++;
        journal += storedRecord(r, payment);
    }
    const QString path = dir.filePath(QStringLiteral("takings.log"));
    writeFile(path, journal);
    QCOMPARE(shipBatch(c, desk, path, 0).inserted, sessions);
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
    void deskProgramReachesTheBoard();
    void programLoadsTheBoardAtNeed();
    void twoDeskWindowsOnTheBoard();

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
    c.exec("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'owner1')"
           " THEN CREATE ROLE owner1 LOGIN IN ROLE bilmeko_owner; END IF; END $$");
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
    // desk1 is a desk's own shipper under its login role, beating every
    // second; desk2 said once that it is there and then nothing.
    PgConnection admin(m_info);
    seen(admin, QStringLiteral("desk2"));
    const QDate today = QDate::currentDate();
    const QString journalPath = m_tmp.filePath(QStringLiteral("desk1.log"));
    QByteArray journal;
    for (int i = 0; i < 2; ++i) {
        LogRecord r = sampleRecord(dateTimeValue(today, QTime(9, i)), 250, 20.0 / 1440);
        r.sessionId = 500 + std::uint64_t(i);
        journal += storedRecord(r);
    }
    writeFile(journalPath, journal);
    // Its shift file beside the journal: a shift open.
    ShiftBook(m_tmp.filePath(QLatin1String(ShiftFileName))).open(QStringLiteral("Анна"), 500, journal.size());
    LedgerShipper desk1({deskLogin(m_info, QStringLiteral("desk1")), {}}, journalPath);
    desk1.setTiming({60'000, 10'000, 1'000, 180'000});
    desk1.start();

    // A short time-out turns desk2 red.
    const auto b = board(4000);
    QAbstractItemModel *desks = b->DeskGrid->model();
    QAbstractItemModel *sessions = b->SessionGrid->model();
    QTRY_COMPARE_WITH_TIMEOUT(desks->rowCount(), 3, 10'000); // two desks and the totals
    QTRY_COMPARE(b->FeedState->text(), QStringLiteral("Общая книга: на связи"));
    const int row1 = rowOf(desks, QStringLiteral("desk1"));
    QTRY_COMPARE_WITH_TIMEOUT(cell(desks, row1, DeskModel::Takings), Formats::current().currency(500), 5000);
    QCOMPARE(cell(desks, row1, DeskModel::Link), QStringLiteral("на связи"));
    QCOMPARE(cell(desks, 2, DeskModel::Desk), QStringLiteral("Итого"));
    // Who works the desk: in its row's tooltip.
    QTRY_VERIFY_WITH_TIMEOUT(
        desks->data(desks->index(row1, 0), Qt::ToolTipRole).toString().contains(QStringLiteral("Смена 1: Анна")), 5000);

    // A New at desk1: within two seconds, without a poll.
    LiveSession s;
    s.id = (std::uint64_t(1) << 63) + 5;
    s.client = QStringLiteral("Иванова");
    s.service = QStringLiteral("Стрижка");
    s.pricePerMin = 12.5;
    s.start = QDateTime::currentDateTime().addSecs(-630);
    s.bookedEnd = s.start.addSecs(3600);
    s.amountDue = 125;
    s.ranMs = 630'000;
    desk1.publishLive({s});
    QTRY_COMPARE_WITH_TIMEOUT(sessions->rowCount(), 1, 2000);
    QCOMPARE(cell(sessions, 0, SessionModel::Desk), QStringLiteral("desk1"));
    QCOMPARE(cell(sessions, 0, SessionModel::Client), QStringLiteral("Иванова"));
    QCOMPARE(cell(sessions, 0, SessionModel::Amount), Formats::current().currency(125));
    QVERIFY(cell(sessions, 0, SessionModel::Left).startsWith(QStringLiteral("0:49:")));
    QCOMPARE(cell(desks, row1, DeskModel::Running), QStringLiteral("1"));

    // Its Stop: the session leaves, today's takings go up by its amount.
    LogRecord stop = sampleRecord(dateTimeValue(today, QTime(9, 30)), 125, 10.0 / 1440);
    stop.sessionId = s.id;
    appendFile(journalPath, storedRecord(stop));
    desk1.journalGrew();
    desk1.publishLive({});
    QTRY_COMPARE_WITH_TIMEOUT(sessions->rowCount(), 0, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(cell(desks, row1, DeskModel::Takings), Formats::current().currency(625), 2000);
    QCOMPARE(cell(desks, row1, DeskModel::Sessions), QStringLiteral("3"));

    // desk2 is red after the time-out, said once and marked on its row;
    // desk1, beating, stays on.
    const int row2 = rowOf(desks, QStringLiteral("desk2"));
    QTRY_VERIFY_WITH_TIMEOUT(cell(desks, row2, DeskModel::Link).startsWith(QStringLiteral("нет связи с")), 8000);
    QCOMPARE(cell(desks, row2, DeskModel::Desk), QStringLiteral("! desk2"));
    QVERIFY(desks->data(desks->index(row2, 0), Qt::ToolTipRole).toString().startsWith(QStringLiteral("нет связи с")));
    QVERIFY2(b->LastAlert->text().contains(QStringLiteral("«desk2»: нет связи с")), qPrintable(b->LastAlert->text()));
    QCOMPARE(cell(desks, row1, DeskModel::Link), QStringLiteral("на связи"));
}

void TestOwnerWindow::periodSummaryExportsAndCommand()
{
    PgConnection desk(m_info);
    const QDate from(2026, 3, 1), to(2026, 3, 31);
    seen(desk, QStringLiteral("desk1"));
    seen(desk, QStringLiteral("desk2"));
    takings(desk, QStringLiteral("desk1"), QDate(2026, 3, 2), 3, 300, 1); // cash
    takings(desk, QStringLiteral("desk1"), QDate(2026, 3, 31), 1, 100, 2); // card
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
    QCOMPARE(rowText(0), QStringLiteral("desk1\t4\t120\t400,00\t100,00\t25,0 %\t+25,0 %\t300,00\t100,00\t0,00"));
    QCOMPARE(rowText(1), QStringLiteral("desk2\t4\t120\t1200,00\t300,00\t75,0 %\t—\t0,00\t0,00\t0,00"));
    QCOMPARE(rowText(2), QStringLiteral("Итого\t8\t240\t1600,00\t200,00\t100,0 %\t+400,0 %\t300,00\t100,00\t0,00"));

    // The same summary for scripts.
    QProcess cmd;
    cmd.start(QStringLiteral(BILMEKO_REPORT_EXE),
              {QStringLiteral("--ledger"), withUser(m_info, QStringLiteral("owner1")), QStringLiteral("--by-desk"),
               QStringLiteral("01.03.2026"), QStringLiteral("2026-03-31")});
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
    QVERIFY2(csvBytes.contains("\r\ndesk1;4;120;400,00;100,00;25,0;25,0;320,00;300,00;100,00;0,00\r\n"),
             csvBytes.constData());
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
    QTRY_VERIFY2_WITH_TIMEOUT(b->reportWindow() && b->reportWindow()->isVisible(),
                              qPrintable(errors.messages.join('\n')), 5000);
    const PeriodReport own = buildPeriodReport(journal, dateValue(today), dateValue(today));
    QVERIFY(own.recordCount() > 0 && own.recordCount() < 30);
    QCOMPARE(b->reportWindow()->report().recordCount(), own.recordCount());
    QCOMPARE(b->reportWindow()->LabelSum->text(), own.sumText());
    QCOMPARE(b->reportWindow()->LabelTime->text(), own.timeText());
    QVERIFY(b->reportWindow()->windowTitle().contains(QStringLiteral("«desk3»")));
}

void TestOwnerWindow::deskProgramReachesTheBoard()
{
    // The desk program itself, in a data folder of its own under its
    // login role: the session it finds running at its start and today's
    // takings reach the board; killed with kill -9, it turns red after the
    // time-out, with one alert; started again with nothing running, it
    // clears its sessions from the board.
    QTemporaryDir data(m_tmp.filePath(QStringLiteral("desk-XXXXXX")));
    QTemporaryDir runtime(m_tmp.filePath(QStringLiteral("run-XXXXXX")));
    LogRecord done = sampleRecord(dateTimeValue(QDate::currentDate(), QTime(8, 0)), 80, 32.0 / 1440);
    done.sessionId = 4000;
    writeFile(data.filePath(QStringLiteral("Bilmeko.log")), storedRecord(done, 1));
    SavedSession running;
    running.id = (std::uint64_t(1) << 63) + 4001;
    running.startUtcMs = QDateTime::currentMSecsSinceEpoch() - 5 * 60'000;
    running.bookedMs = 60 * 60'000;
    running.price = 2.5;
    running.client = QStringLiteral("Сидорова");
    running.service = QStringLiteral("Солярий");
    SessionStateFile(data.filePath(QStringLiteral("Bilmeko.sessions"))).save({{}, -1, {running}});
    writeFile(data.filePath(QStringLiteral("Bilmeko.ini")),
              QByteArray("[Price]\r\nСолярий=2,5\r\n[Ledger]\r\nConnection=")
                      .append(deskLogin(m_info, QStringLiteral("desk4")).toUtf8())
                  + "\r\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    QProcess desk;
    desk.setProcessEnvironment(env);
    desk.start(QStringLiteral(BILMEKO_EXE), {QStringLiteral("--data-dir"), data.path()});
    QVERIFY(desk.waitForStarted());
    const auto stop = qScopeGuard([&] {
        if (desk.state() != QProcess::NotRunning) {
            ::kill(pid_t(desk.processId()), SIGKILL);
            desk.waitForFinished();
        }
    });

    const auto b = board(5000);
    QAbstractItemModel *desks = b->DeskGrid->model();
    QAbstractItemModel *sessions = b->SessionGrid->model();
    QTRY_VERIFY_WITH_TIMEOUT(rowOf(sessions, QStringLiteral("desk4")) >= 0, 20'000);
    const int session = rowOf(sessions, QStringLiteral("desk4"));
    QCOMPARE(cell(sessions, session, SessionModel::Client), QStringLiteral("Сидорова"));
    QVERIFY2(cell(sessions, session, SessionModel::Left).startsWith(QStringLiteral("0:5")),
             qPrintable(cell(sessions, session, SessionModel::Left)));
    const int row = rowOf(desks, QStringLiteral("desk4"));
    QTRY_COMPARE_WITH_TIMEOUT(cell(desks, row, DeskModel::Takings), Formats::current().currency(80), 5000);
    QCOMPARE(cell(desks, row, DeskModel::Link), QStringLiteral("на связи"));

    ::kill(pid_t(desk.processId()), SIGKILL);
    QVERIFY(desk.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(
        cell(desks, rowOf(desks, QStringLiteral("desk4")), DeskModel::Link).startsWith(QStringLiteral("нет связи с")),
        15'000);
    QVERIFY2(b->LastAlert->text().contains(QStringLiteral("«desk4»: нет связи с")), qPrintable(b->LastAlert->text()));
    // Its session stays on the board: it resumes with the desk.
    QVERIFY(rowOf(sessions, QStringLiteral("desk4")) >= 0);

    // Started again with nothing running (its sessions file gone), the
    // desk clears what it left and is on again.
    QVERIFY(QFile::remove(data.filePath(QStringLiteral("Bilmeko.sessions"))));
    desk.start(QStringLiteral(BILMEKO_EXE), {QStringLiteral("--data-dir"), data.path()});
    QVERIFY(desk.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(rowOf(sessions, QStringLiteral("desk4")) < 0, 20'000);
    QTRY_COMPARE_WITH_TIMEOUT(cell(desks, rowOf(desks, QStringLiteral("desk4")), DeskModel::Link),
                              QStringLiteral("на связи"), 5000);
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

void TestOwnerWindow::twoDeskWindowsOnTheBoard()
{
    // Two desks' main windows, each under its own login role: a New at
    // one, through its client dialog, is on the board within two seconds
    // under that desk alone; its Stop takes it off and puts its amount into
    // that desk's takings.
    QTemporaryDir dirs[2] = {QTemporaryDir(m_tmp.filePath(QStringLiteral("two-XXXXXX"))),
                             QTemporaryDir(m_tmp.filePath(QStringLiteral("two-XXXXXX")))};
    const QString names[2] = {QStringLiteral("desk5"), QStringLiteral("desk6")};
    FixedClock clock(QDateTime::currentDateTime());
    const ScopedClock use(&clock);
    std::unique_ptr<TForm1> form[2];
    for (int i = 0; i < 2; ++i) {
        writeFile(dirs[i].filePath(QStringLiteral("Bilmeko.ini")),
                  QByteArray("[Price]\r\nСтрижка=12,5\r\n[Ledger]\r\nConnection=")
                          .append(deskLogin(m_info, names[i]).toUtf8())
                      + "\r\n");
        form[i] = std::make_unique<TForm1>(dirs[i].path() + QLatin1Char('/'));
        form[i]->show();
    }
    const auto b = board();
    QAbstractItemModel *desks = b->DeskGrid->model();
    QAbstractItemModel *sessions = b->SessionGrid->model();
    for (const QString &desk : names)
        QTRY_COMPARE_WITH_TIMEOUT(cell(desks, rowOf(desks, desk), DeskModel::Link), QStringLiteral("на связи"), 10'000);
    const int row5 = rowOf(desks, names[0]);
    const QString takingsBefore = cell(desks, row5, DeskModel::Takings);

    test::onNextModal([](QWidget *w) {
        test::retype(w->findChild<QWidget *>(QStringLiteral("Customer")), QStringLiteral("Котова"));
        test::retype(w->findChild<QWidget *>(QStringLiteral("CHours")), QStringLiteral("1"));
        test::retype(w->findChild<QWidget *>(QStringLiteral("CMinuts")), QStringLiteral("0"));
        QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
    });
    QTest::mouseClick(form[0]->findChild<QToolButton *>(QStringLiteral("SpeedButton1")), Qt::LeftButton);
    QCOMPARE(form[0]->board().runningCount(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(sessions->rowCount(), 1, 2000);
    QCOMPARE(cell(sessions, 0, SessionModel::Desk), names[0]);
    QCOMPARE(cell(sessions, 0, SessionModel::Client), QStringLiteral("Котова"));
    QCOMPARE(cell(desks, rowOf(desks, names[1]), DeskModel::Running), QStringLiteral("0"));

    // Twelve minutes later, as the desk's clock has it, the operator stops it.
    test::onNextModal([](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        QVERIFY(box);
        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
    });
    clock.advanceSecs(12 * 60);
    QTest::mouseClick(form[0]->findChild<QToolButton *>(QStringLiteral("SpeedButton3")), Qt::LeftButton);
    QCOMPARE(form[0]->board().runningCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(sessions->rowCount(), 0, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(cell(desks, rowOf(desks, names[0]), DeskModel::Takings) != takingsBefore, 5000);
    QCOMPARE(cell(desks, rowOf(desks, names[0]), DeskModel::Takings), Formats::current().currency(12 * 12.5));
}

QTEST_MAIN(TestOwnerWindow)
#include "test_ownerwindow.moc"
