// The main window with [Ledger] set: the indicator in the status bar says
// whether the desk is connected and what is left to ship, and a session
// stopped with the window's own buttons reaches the ledger. Without
// [Ledger] the window has no indicator and no shipping, and the ledger's
// module is not even loaded.

#include "../app/formtestutil.h"
#include "app/core/sessionboard.h"
#include "app/ui/form1.h"
#include "ledger/core/ledgershipper.h"
#include "ledgertestutil.h"
#include "testsupport_ui.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

using namespace bilmeko;
using namespace bilmeko::test;

class TestLedgerIndicator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void noLedgerNoIndicator();
    void indicatorAndShipping();

private:
    QString deskDir(const QByteArray &ledgerSection);
    static bool deskModuleLoaded()
    {
        QFile maps(QStringLiteral("/proc/self/maps"));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/bilmeko-ledger-desk.so");
    }
    std::unique_ptr<PgServer> m_server;
    QTemporaryDir m_tmp;
    int m_dirs = 0;
};

void TestLedgerIndicator::initTestCase()
{
    pinRussian();
    m_server = std::make_unique<PgServer>();
    if (!m_server->missing().isEmpty())
        QSKIP(qPrintable(m_server->missing()));
}

QString TestLedgerIndicator::deskDir(const QByteArray &ledgerSection)
{
    const QString dir = m_tmp.filePath(QString::number(++m_dirs)) + QLatin1Char('/');
    QDir().mkpath(dir);
    writeFile(dir + QStringLiteral("Bilmeko.ini"), QByteArray("[Price]\r\nMassage=10\r\n") + ledgerSection);
    return dir;
}

void TestLedgerIndicator::noLedgerNoIndicator()
{
    TrayForm f(deskDir("[Ledger]\r\nConnection=\r\nDesk=x\r\n"));
    QVERIFY(!f.ledger());
    QVERIFY(!f.findChild<QLabel *>("LedgerState"));
    QVERIFY(!deskModuleLoaded());
}

void TestLedgerIndicator::indicatorAndShipping()
{
    const QString info = freshLedger(*m_server, QStringLiteral("deskwindow"));
    const QString login = deskLogin(info, QStringLiteral("front"));
    m_server->stop();
    const QString dir = deskDir("[Ledger]\r\nConnection=" + login.toUtf8() + "\r\n");
    // A backlog from before: 30 records.
    writeFile(dir + QStringLiteral("Bilmeko.log"), deskJournal(30, at(2026, 9, 1, 9), 1));

    TrayForm f(dir);
    QVERIFY(deskModuleLoaded());
    auto *label = f.statusBar()->findChild<QLabel *>("LedgerState");
    QVERIFY(label);
    f.showCentred();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QTRY_VERIFY_WITH_TIMEOUT(label->toolTip().contains(QStringLiteral("нет подключения")), 20'000);
    QVERIFY2(label->toolTip().contains(QStringLiteral("не запущен")), qPrintable(label->toolTip()));
    QCOMPARE(label->text(), QStringLiteral("Центр: нет связи"));

    // The window is the operator's meanwhile: a session starts and stops.
    auto *grid = f.findChild<QTableView *>("RxDBGrid1");
    grid->setFocus();
    onNextModal([&](QWidget *dialog) {
        retype(dialog->findChild<QWidget *>("CMinuts"), "30");
        QTest::mouseClick(dialog->findChild<QPushButton *>("BitBtn1"), Qt::LeftButton);
    });
    QTest::keyClick(grid, Qt::Key_Insert);
    QCOMPARE(f.board().curLog().rowCount(), 1);
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    answerNextMessageBox(QMessageBox::Yes);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F8);
    QVERIFY(f.board().curLog().isEmpty());
    // Another begins and runs on.
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    grid->setFocus();
    onNextModal([&](QWidget *dialog) {
        retype(dialog->findChild<QWidget *>("CMinuts"), "45");
        QTest::mouseClick(dialog->findChild<QPushButton *>("BitBtn1"), Qt::LeftButton);
    });
    QTest::keyClick(grid, Qt::Key_Insert);
    QCOMPARE(f.board().curLog().rowCount(), 1);

    m_server->start();
    QTRY_VERIFY_WITH_TIMEOUT(label->toolTip().contains(QStringLiteral("подключено")), 60'000);
    QTRY_VERIFY_WITH_TIMEOUT(label->toolTip().contains(QStringLiteral("Еще не отправлено записей: 0")), 20'000);
    QCOMPARE(label->text(), QStringLiteral("Центр: ✓"));
    // The desk's name is its login role, known once connected.
    QVERIFY(label->toolTip().contains(QStringLiteral("«front»")));
    PgConnection c(info);
    QCOMPARE(ledgerRows(c, QStringLiteral("front")), shippable(readFile(dir + QStringLiteral("Bilmeko.log"))));
    QCOMPARE(ledgerRows(c, QStringLiteral("front")).size(), 31);
    // The session begun meanwhile reached the owner's board.
    QTRY_COMPARE_WITH_TIMEOUT(c.exec("SELECT count(*) FROM bilmeko.running WHERE desk = 'front'").number(0, 0), 1,
                              10'000);

    // A shift opened through the menu reaches the ledger at once, not at
    // the next 30-second beat, with its operator.
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    onNextModal([](QWidget *dialog) {
        retype(dialog->findChild<QComboBox *>("ShiftOperator")->lineEdit(), QStringLiteral("Анна Б."));
        retype(dialog->findChild<QLineEdit *>("ShiftCash"), QStringLiteral("500"));
        QTest::mouseClick(dialog->findChild<QPushButton *>("ShiftOk"), Qt::LeftButton);
    });
    f.findChild<QAction *>("ShiftOpen")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(c.exec("SELECT concat_ws('|', kind, number, operator_name, cash) FROM bilmeko.shifts"
                                     " WHERE desk = 'front'")
                                  .text(0, 0),
                              QStringLiteral("open|1|Анна Б.|500"), 5'000);
}

QTEST_MAIN(TestLedgerIndicator)
#include "test_ledgerindicator.moc"
