// The front desk through the real widgets: notices that stay usable and on
// top over the program's dialogs and never take the keyboard, error boxes
// above them, the tray, the keyboard, the reminder mark and the grid's cut
// names.

#include "../journal/pdftestutil.h"
#include "app/core/reminder.h"
#include "app/core/sessionboard.h"
#include "app/ui/form1.h"
#include "app/ui/formbox.h"
#include "common/core/clock.h"
#include "common/core/formats.h"
#include "common/core/memtable.h"
#include "common/core/printjob.h"
#include "common/ui/errorbox.h"
#include "formtestutil.h"
#include "journal/core/journalfile.h"
#include "journal/ui/form5.h"
#include "journal/ui/reporttextedit.h"
#include "testsupport_ui.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QWindow>
#include <csignal>
#include <limits>
#include <memory>

using namespace bilmeko;
using bilmeko::test::notices;
using bilmeko::test::TrayForm;

namespace {

QPushButton *okOf(TFormbox *box)
{
    return box->findChild<QPushButton *>(QStringLiteral("BitBtn1"));
}

// Clicks OK the way the window system delivers a click, so a window that a
// modal dialog blocks does not get it.
void clickOk(TFormbox *box)
{
    QWidget *ok = okOf(box);
    QTest::mouseClick(box->windowHandle(), Qt::LeftButton, {}, ok->mapTo(box, ok->rect().center()));
}

// Types as the keyboard does: into the window the window system gives the
// keys to, whatever that is.
void typeAtTheDesk(const QString &text)
{
    for (QChar c : text) {
        const Qt::Key key = c == QLatin1Char(' ') ? Qt::Key_Space : static_cast<Qt::Key>(c.toUpper().unicode());
        QTest::sendKeyEvent(QTest::Click, static_cast<QWindow *>(nullptr), key, QString(c), Qt::NoModifier);
    }
}

// A grid cell's text as an assistive tool reads it.
QString spokenCell(QTableView *grid, int row, int column)
{
    QAccessibleInterface *view = QAccessible::queryAccessibleInterface(grid);
    QAccessibleTableInterface *table = view ? view->tableInterface() : nullptr;
    QAccessibleInterface *cell = table ? table->cellAt(row, column) : nullptr;
    return cell ? cell->text(QAccessible::Name) : QStringLiteral("<no cell>");
}

} // namespace

class TestFrontDesk : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        test::pinRussian();
        m_dir = std::make_unique<QTemporaryDir>();
        m_clock = std::make_unique<FixedClock>(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
        m_scoped = std::make_unique<ScopedClock>(m_clock.get());
    }

    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<TFormbox *>(w))
                delete w;
        m_scoped.reset();
        m_clock.reset();
        m_dir.reset();
    }

    // A session ends while the operator types a name into the client
    // dialog: the notice comes up above the dialog but takes no key; every
    // letter reaches the field and the session (a space included, which
    // would otherwise press the notice's OK). The notice key then reaches
    // the notice, whose OK works while the dialog stays open.
    void typingGoesOnWhileANoticeArrives_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("Latin, the notice before the space") << "Ivan"
                                                            << " Petrov";
        QTest::newRow("Cyrillic, the notice inside the word") << "Пет"
                                                              << "ров Иван";
    }
    void typingGoesOnWhileANoticeArrives()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        TrayForm f(dir());
        f.prices().appendRow();
        f.prices().setField("PItem", QStringLiteral("Массаж"));
        f.prices().setField("PPrice", 10.0);
        f.showCentred();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.board().addSession("Сидоров", "", "Массаж", 1, 0, 10);
        m_clock->set(QDateTime(QDate(2026, 12, 7), QTime(10, 10, 5)));
        QSignalSpy announced(&f, &TForm1::noticeAnnounced);
        bool checked = false;
        test::onNextModal([&](QWidget *dialog) {
            const auto closing = qScopeGuard([dialog] { dialog->close(); });
            QCOMPARE(dialog->objectName(), QStringLiteral("Form2"));
            auto *customer = dialog->findChild<QLineEdit *>("Customer");
            QTest::mouseClick(customer, Qt::LeftButton);
            QTRY_COMPARE(QApplication::focusWidget(), customer);
            typeAtTheDesk(before);
            f.Timer2Timer(); // the tick comes inside the dialog's loop
            QCOMPARE(announced.count(), 1);
            const QList<TFormbox *> boxes = notices();
            QCOMPARE(boxes.size(), 1);
            QPointer<TFormbox> box = boxes[0];
            QVERIFY(box->testAttribute(Qt::WA_ShowWithoutActivating));
            QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);
            QCOMPARE(box->windowHandle()->transientParent(), dialog->windowHandle());
            QVERIFY(!box->isModal());
            // It leaves the field being typed in in view.
            QVERIFY(!box->frameGeometry().intersects(dialog->frameGeometry()));
            QTest::qWait(50); // whatever the window system does on showing
            QCOMPARE(QApplication::activeWindow(), dialog);
            QCOMPARE(QApplication::focusWidget(), customer);
            typeAtTheDesk(after);
            QCOMPARE(customer->text(), before + after);
            QVERIFY(box && box->isVisible());

            // The notice key, wherever the focus is: the notice is active,
            // its OK takes the space, the dialog stays open.
            QTest::sendKeyEvent(QTest::Click, static_cast<QWindow *>(nullptr), TFormbox::ReachKey, QString(),
                                Qt::NoModifier);
            QTRY_COMPARE(QApplication::activeWindow(), box.data());
            QCOMPARE(customer->text(), before + after);
            typeAtTheDesk(QStringLiteral(" "));
            QTRY_VERIFY(box.isNull());
            QVERIFY(dialog->isVisible());
            dialog->activateWindow(); // the offscreen platform does not give it back
            QTRY_COMPARE(QApplication::activeWindow(), dialog);
            test::retype(dialog->findChild<QWidget *>("CMinuts"), "30");
            QTest::mouseClick(dialog->findChild<QPushButton *>("BitBtn1"), Qt::LeftButton);
            checked = true;
        });
        QTest::mouseClick(f.findChild<QToolButton *>("SpeedButton1"), Qt::LeftButton);
        QVERIFY(checked);
        QCOMPARE(f.board().curLog().rowCount(), 1);
        QCOMPARE(f.board().curLog().value(0, 0).toString(), before + after);
        QCOMPARE(announced.count(), 1);
        // Nothing to reach: the key does nothing.
        QVERIFY(!TFormbox::reachNewest());
    }

    // The journal refuses a record: the error box comes alone, above the
    // notices already open, which do not join it; no notice for the session
    // that is not written, however many ticks try again. Once the record
    // is written, its notice comes, once.
    void errorBoxStandsAboveTheNotices()
    {
        installErrorBox();
        const auto uninstall = qScopeGuard([] { setErrorPresenter({}); });
        TrayForm f(dir());
        f.showCentred();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.board().addSession("Петров", "", "S", 1, 0, 10);
        f.board().addSession("Иванова", "", "S", 1, 0, 20);
        m_clock->set(QDateTime(QDate(2026, 12, 7), QTime(10, 10, 5)));
        f.Timer2Timer();
        QCOMPARE(notices().size(), 1);
        QPointer<TFormbox> petrov = notices().at(0);

        f.board().setJournalPath(m_dir->filePath("missing/Bilmeko.log"));
        m_clock->set(QDateTime(QDate(2026, 12, 7), QTime(10, 20, 5)));
        QString text;
        int boxes = 0;
        test::onNextModal([&](QWidget *box) {
            const auto closing = qScopeGuard([box] { box->close(); });
            ++boxes;
            QVERIFY(isErrorBox(box));
            text = qobject_cast<QMessageBox *>(box)->text();
            QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);
            QVERIFY(petrov && petrov->isVisible());
            QVERIFY(petrov->windowHandle()->transientParent() != box->windowHandle());
            QCOMPARE(notices().size(), 1); // none for the unwritten session
            f.Timer2Timer(); // a tick inside the box adds nothing
            QCOMPARE(notices().size(), 1);
        });
        f.Timer2Timer();
        QCOMPARE(boxes, 1);
        QVERIFY(!text.isEmpty());
        QCOMPARE(notices().size(), 1);
        QCOMPARE(f.board().curLog().rowCount(), 1);

        f.board().setJournalPath(dir() + "Bilmeko.log");
        m_clock->set(QDateTime(QDate(2026, 12, 7), QTime(10, 20, 25)));
        f.Timer2Timer();
        QCOMPARE(notices().size(), 2);
        QCOMPARE(QFileInfo(dir() + "Bilmeko.log").size(), 2 * 168);
        f.Timer2Timer();
        QCOMPARE(notices().size(), 2);
        QCOMPARE(TFormbox::newest()->findChild<QLabel *>("Customer")->text(), QStringLiteral("Иванова"));
        // Shown again for the same session, a notice is brought up to date.
        Notice again{QStringLiteral("Иванова"), QStringLiteral("Время: 0:20:00"), QStringLiteral("Время: 10:21:00"),
                     TFormbox::newest()->sessionId()};
        TFormbox::showNotice(again);
        QCOMPARE(notices().size(), 2);
        QCOMPARE(TFormbox::newest()->windowTitle(), again.caption);
    }

    // Notices already open when a modal question comes stay usable.
    void openNoticesStayUsableUnderALaterQuestion()
    {
        TrayForm f(dir());
        f.showCentred();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.board().addSession("Петров", "", "S", 1, 0, 10);
        f.board().addSession("Иванова", "", "S", 1, 0, 10);
        f.board().addSession("Сидоров", "", "S", 1, 1, 0);
        m_clock->set(QDateTime(QDate(2026, 12, 7), QTime(10, 10, 5)));
        f.Timer2Timer();
        QList<TFormbox *> boxes = notices();
        QCOMPARE(boxes.size(), 2);
        QPointer<TFormbox> first = boxes[0], second = boxes[1];
        bool checked = false;
        test::onNextModal([&](QWidget *question) {
            const auto closing = qScopeGuard([question] { QTest::keyClick(question, Qt::Key_Escape); });
            QVERIFY(qobject_cast<QMessageBox *>(question));
            clickOk(first);
            QTRY_VERIFY(first.isNull());
            QVERIFY(second && second->isVisible()); // one notice at a time
            clickOk(second);
            QTRY_VERIFY(second.isNull());
            QVERIFY(question->isVisible());
            checked = true;
        });
        QTest::mouseClick(f.findChild<QToolButton *>("SpeedButton3"), Qt::LeftButton);
        QVERIFY(checked);
        QCOMPARE(f.board().curLog().rowCount(), 1);
    }

    // Notification areas that report only single clicks: a click shows and
    // raises the window; a double click that reported its first click as
    // well leaves it shown. The tray menu opens it too.
    void trayClickShowsTheWindow()
    {
        TrayForm f(dir());
        f.showCentred();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.hide();
        auto *tray = f.findChild<QSystemTrayIcon *>("RxTrayIcon1");
        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(f.isVisible());
        QTRY_COMPARE(QGuiApplication::focusWindow(), f.windowHandle());
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(f.isVisible());
        emit tray->activated(QSystemTrayIcon::Trigger); // visible: stays
        QVERIFY(f.isVisible());
        // A double click on its own still toggles, as it always did.
        QTest::qWait(QApplication::doubleClickInterval() + 150);
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!f.isVisible());

        auto *menu = f.findChild<QMenu *>("PopupMenu1");
        const QList<QAction *> items = menu->actions();
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0]->objectName(), QStringLiteral("N6"));
        QCOMPARE(items[0]->text().remove('&'), QStringLiteral("Открыть"));
        QCOMPARE(items[1]->objectName(), QStringLiteral("N1"));
        items[0]->trigger();
        QVERIFY(f.isVisible());
        items[0]->trigger(); // already open: stays open
        QVERIFY(f.isVisible());
    }

    // Insert, F2 and F8 start New, Extend and Stop; the buttons say so and
    // are reached with Tab.
    void keysStartTheCommands()
    {
        TrayForm f(dir());
        f.prices().appendRow();
        f.prices().setField("PItem", QStringLiteral("Массаж"));
        f.prices().setField("PPrice", 10.0);
        f.showCentred();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        auto *grid = f.findChild<QTableView *>("RxDBGrid1");
        grid->setFocus();

        QString caption;
        test::onNextModal([&](QWidget *dialog) {
            caption = dialog->windowTitle();
            test::retype(dialog->findChild<QWidget *>("CMinuts"), "30");
            QTest::mouseClick(dialog->findChild<QPushButton *>("BitBtn1"), Qt::LeftButton);
        });
        QTest::keyClick(grid, Qt::Key_Insert);
        QCOMPARE(caption, QStringLiteral("Новый клиент"));
        QCOMPARE(f.board().curLog().rowCount(), 1);
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));

        test::onNextModal([&](QWidget *dialog) {
            caption = dialog->windowTitle();
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
        QVERIFY(caption.startsWith(QStringLiteral("Добавить время")));
        f.activateWindow(); // the offscreen platform does not give it back
        QVERIFY(QTest::qWaitForWindowActive(&f));

        QString question;
        test::answerNextMessageBox(QMessageBox::Yes, &question);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F8);
        QVERIFY(question.startsWith(QStringLiteral("Остановить")));
        QVERIFY(f.board().curLog().isEmpty());

        const char *names[] = {"SpeedButton1", "SpeedButton2", "SpeedButton3", "SpeedButton4"};
        const char *keys[] = {"Ins", "F2", "F8", "F6"};
        for (int i = 0; i < 4; ++i) {
            auto *b = f.findChild<QToolButton *>(names[i]);
            QVERIFY(b->toolTip().endsWith(QStringLiteral("(%1)").arg(keys[i])));
            QCOMPARE(b->focusPolicy(), Qt::TabFocus); // no focus from a click
            QVERIFY(b->autoRaise());
        }
        // Tab from the grid reaches the buttons in order; on an empty grid
        // "Пауза" is off, and so is its key.
        QVERIFY(!f.findChild<QToolButton *>("SpeedButton4")->isEnabled());
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_F6);
        QVERIFY(f.board().curLog().isEmpty());
        QStringList reached;
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(reached, (QStringList{"SpeedButton1", "SpeedButton2", "SpeedButton3"}));
    }

    void shiftThroughTheKeyboard()
    {
        test::writeFile(dir() + "Bilmeko.ini", "[Options]\r\nSalonName=Salon Lada\r\n");
        const auto old = [](const QDateTime &when, double amount) {
            LogRecord r;
            r.written = dateTimeValue(when);
            r.amount = amount;
            r.clientName = QStringLiteral("Утро");
            r.status = StatusStop;
            return r;
        };
        appendJournalRecord(dir() + "Bilmeko.log", old(QDateTime(QDate(2026, 12, 6), QTime(18, 0)), 500));
        appendJournalRecord(dir() + "Bilmeko.log", old(QDateTime(QDate(2026, 12, 7), QTime(9, 0)), 100));
        auto f = std::make_unique<TrayForm>(dir());
        f->showCentred();
        QVERIFY(QTest::qWaitForWindowActive(f.get()));
        auto *label = f->findChild<QLabel *>("TakingsLabel");
        QCOMPARE(label->text(),
                 QStringLiteral("Сегодня: 1 сеанс, 100,00\u00A0₽ · идут: 0, 0,00\u00A0₽"));
        // Nothing to pause on an empty grid; the button follows the rows.
        auto *pause = f->findChild<QToolButton *>("SpeedButton4");
        auto *pauseItem = f->findChild<QAction *>("N9");
        QVERIFY(!pause->isEnabled());
        QVERIFY(!pauseItem->isEnabled());

        const auto row = f->board().addSession("Петров", "", "Стрижка", 2, 1, 0);
        QVERIFY(pause->isEnabled());
        QVERIFY(pauseItem->isEnabled());
        m_clock->advanceSecs(10 * 60);
        f->Timer2Timer();
        QCOMPARE(label->text(),
                 QStringLiteral("Сегодня: 1 сеанс, 100,00\u00A0₽ · идут: 1, 20,00\u00A0₽"));

        auto *grid = f->findChild<QTableView *>("RxDBGrid1");
        const QString left = spokenCell(grid, 0, 5);
        QCOMPARE(left, grid->model()->index(0, 5).data().toString());
        QTest::keyClick(f.get(), Qt::Key_F6);
        QVERIFY(f->board().isPaused(row));
        // A screen reader reads what the screen shows.
        QCOMPARE(spokenCell(grid, 0, 5), QStringLiteral("пауза"));
        QCOMPARE(spokenCell(grid, 0, 0), QStringLiteral("Петров"));
        QCOMPARE(pause->text(), QStringLiteral("Дальше"));
        QCOMPARE(pauseItem->text(), QStringLiteral("&Дальше\tF6"));
        m_clock->advanceSecs(10 * 60);
        f->Timer2Timer();
        QCOMPARE(label->text(),
                 QStringLiteral("Сегодня: 1 сеанс, 100,00\u00A0₽ · идут: 1, 20,00\u00A0₽"));
        QTest::mouseClick(pause, Qt::LeftButton);
        QVERIFY(!f->board().isPaused(row));
        QCOMPARE(spokenCell(grid, 0, 5), left);
        QCOMPARE(pause->text(), QStringLiteral("Пауза"));

        auto *undo = f->findChild<QAction *>("N10");
        QVERIFY(!undo->isEnabled());
        test::answerNextMessageBox(QMessageBox::Yes);
        QTest::mouseClick(f->findChild<QToolButton *>("SpeedButton3"), Qt::LeftButton);
        QVERIFY(f->board().curLog().isEmpty());
        QVERIFY(!pause->isEnabled());
        QVERIFY(!pauseItem->isEnabled());
        // Paid in cash, as the Stop question offered; the old record's
        // method is not known.
        QCOMPARE(
            label->text(),
            QStringLiteral(
                "Сегодня: 2 сеанса, 120,00\u00A0₽ (нал. 20,00\u00A0₽, карта 0,00\u00A0₽, "
                "не указано 100,00\u00A0₽) · идут: 0, 0,00\u00A0₽"));
        QVERIFY(undo->isEnabled());
        QCOMPARE(notices().size(), 1);
        f->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.get()));
        QTest::keyClick(f.get(), Qt::Key_Z, Qt::ControlModifier);
        QTRY_COMPARE(notices().size(), 0); // the session is not over any more
        QCOMPARE(f->board().curLog().rowCount(), 1);
        QVERIFY(pause->isEnabled());
        QCOMPARE(f->board().elapsedMs(f->board().curLog().rowId(0)), qint64(10 * 60'000));
        QCOMPARE(label->text(),
                 QStringLiteral("Сегодня: 1 сеанс, 100,00\u00A0₽ · идут: 1, 20,00\u00A0₽"));
        QVERIFY(!undo->isEnabled());

        m_clock->advanceSecs(60);
        QVERIFY(f->board().stopSession(f->board().curLog().rowId(0)));
        auto *pdfItem = f->findChild<QAction *>("N12");
        QVERIFY(pdfItem->isEnabled());
        f->chooseReceiptPath = [this] { return dir() + "чек.pdf"; };
        pdfItem->trigger();
        const auto receiptHas = [this](const QString &printed) {
            const QString receipt = test::pdfText(dir() + "чек.pdf").simplified();
            for (const char *piece :
                 {"Salon Lada", "Клиент: Петров", "Услуга: Стрижка", "Цена за минуту: 2,00 ₽",
                  "Начало: 07.12.2026 10:00:00", "Паузы: 0:10:00", "Время: 0:11:00", "Конец: 07.12.2026 10:21:00",
                  "Минут: 11", "Оплата: наличные", "Сумма: 22,00 ₽", "Не является фискальным документом"})
                QVERIFY2(receipt.contains(QString::fromUtf8(piece)), qPrintable(receipt));
            QVERIFY2(receipt.contains(QStringLiteral("Напечатано: ") + printed), qPrintable(receipt));
        };
        receiptHas(QStringLiteral("07.12.2026 10:21:00"));
        QVERIFY(!pause->isEnabled());

        QString report, sum;
        test::onNextModal([&](QWidget *w) {
            report = f->reportWindow()->RichEdit1->toPlainText();
            sum = w->findChild<QLabel *>("LabelSum")->text();
            w->close();
        });
        f->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.get()));
        QTest::keyClick(f.get(), Qt::Key_T, Qt::ControlModifier);
        QVERIFY2(report.contains(QStringLiteral("\t-20,00\t\tОтмена")), qPrintable(report));
        QCOMPARE(report.count(QStringLiteral("Утро")), 1); // today's only
        QCOMPARE(sum, QStringLiteral("122,00"));

        // At midnight the figures start over from the new day's records.
        m_clock->set(QDateTime(QDate(2026, 12, 8), QTime(0, 0, 5)));
        f->Timer1Timer();
        QCOMPARE(label->text(),
                 QStringLiteral("Сегодня: 0 сеансов, 0,00\u00A0₽ · идут: 0, 0,00\u00A0₽"));

        // After a restart the receipt is the same, read back from the journal.
        f.reset();
        QFile::remove(dir() + "чек.pdf");
        f = std::make_unique<TrayForm>(dir());
        pdfItem = f->findChild<QAction *>("N12");
        QVERIFY(pdfItem->isEnabled());
        QVERIFY(f->findChild<QAction *>("N11")->isEnabled());
        f->chooseReceiptPath = [this] { return dir() + "чек.pdf"; };
        pdfItem->trigger();
        receiptHas(QStringLiteral("08.12.2026 0:00:05"));
    }

    // Which session the receipt is for after a restart, as the journal's
    // end reads: its last record unless damaged or taken back by a
    // reversal ("-" before a client) after it.
    void receiptAfterRestart_data()
    {
        QTest::addColumn<QStringList>("journal");
        QTest::addColumn<QString>("client");
        QTest::newRow("empty") << QStringList{} << QString();
        QTest::newRow("last Stop") << QStringList{"Анна", "Борис"} << "Борис";
        QTest::newRow("last Stop undone") << QStringList{"Анна", "Борис", "-Борис"} << "Анна";
        QTest::newRow("an earlier Stop undone") << QStringList{"Анна", "Борис", "-Анна"} << "Борис";
        QTest::newRow("only Stop undone") << QStringList{"Анна", "-Анна"} << QString();
        QTest::newRow("undone, resumed, stopped again") << QStringList{"Анна", "-Анна", "Анна"} << "Анна";
        QTest::newRow("last damaged") << QStringList{"Анна", "Борис*"} << "Анна";
        QTest::newRow("last foreign") << QStringList{"Анна", "Борис?"} << "Анна";
        QTest::newRow("record of an old journal") << QStringList{"Анна", "Вера#"} << "Вера";
    }

    void receiptAfterRestart()
    {
        QFETCH(QStringList, journal);
        QFETCH(QString, client);
        const QString log = dir() + "Bilmeko.log";
        QHash<QString, std::uint64_t> ids;
        for (const QString &entry : journal) {
            QString name = entry;
            name.remove(QRegularExpression(QStringLiteral("[-*?#]")));
            LogRecord r;
            r.written = dateTimeValue(QDateTime(QDate(2026, 12, 7), QTime(9, 30)));
            r.startTime = timeValue(QTime(9, 0));
            r.elapsed = 30.0 / (24 * 60);
            r.pricePerMin = 2;
            r.amount = entry.startsWith(QLatin1Char('-')) ? -60 : 60;
            r.elapsed *= r.amount / 60;
            r.clientName = name;
            r.service = QStringLiteral("Стрижка");
            r.status = entry.startsWith(QLatin1Char('-')) ? StatusUndo : StatusStop;
            r.reversal = entry.startsWith(QLatin1Char('-'));
            r.sessionId = entry.endsWith(QLatin1Char('#')) ? 0 : ids.value(name, ids.size() + 1);
            ids.insert(name, r.sessionId);
            if (entry.endsWith(QLatin1Char('?')))
                r.written = std::numeric_limits<double>::quiet_NaN();
            appendJournalRecord(log, r);
            if (entry.endsWith(QLatin1Char('*'))) {
                QFile file(log);
                QVERIFY(file.open(QIODevice::ReadWrite));
                QVERIFY(file.seek(file.size() - RecordSize + record::Amount));
                QVERIFY(file.write("\x01", 1) == 1);
            }
        }
        TrayForm f(dir());
        auto *pdfItem = f.findChild<QAction *>("N12");
        QCOMPARE(pdfItem->isEnabled(), !client.isEmpty());
        if (client.isEmpty())
            return;
        f.chooseReceiptPath = [this] { return dir() + "чек.pdf"; };
        pdfItem->trigger();
        const QString receipt = test::pdfText(dir() + "чек.pdf").simplified();
        for (const QString &piece : {QStringLiteral("Клиент: ") + client, QStringLiteral("Начало: 07.12.2026 9:00:00"),
                                     QStringLiteral("Минут: 30"), QStringLiteral("Сумма: 60,00 ₽")})
            QVERIFY2(receipt.contains(piece), qPrintable(receipt));
        QVERIFY2(!receipt.contains(QStringLiteral("Паузы")), qPrintable(receipt));
    }

    // A receipt on a print service that takes the connection and never
    // answers: neither the Stop that prints it nor "Чек" waits, the job is
    // abandoned at its deadline with the print service named, and a job
    // still waiting when the window goes (the quit) goes with it.
    void receiptOnASilentPrintService()
    {
        test::writeFile(dir() + "Bilmeko.ini", "[Options]\r\nReceipt=1\r\n");
        test::SilentPrintServer silent;
        const QString socket = dir() + "cups.sock";
        QVERIFY(silent.listen(socket));
        qputenv("CUPS_SERVER", socket.toLocal8Bit());
        PrintJob::setHelperProgram(QStringLiteral(BILMEKO_PRINT_EXE));
        PrintJob::setDeadlineMs(2000);
        const auto restore = qScopeGuard([] {
            qunsetenv("CUPS_SERVER");
            PrintJob::setDeadlineMs(PrintJob::DefaultDeadlineMs);
        });
        test::ErrorRecorder errors;
        auto f = std::make_unique<TrayForm>(dir());
        const auto row = f->board().addSession("Петров", "", "Стрижка", 2, 1, 0);
        m_clock->advanceSecs(10 * 60);
        QElapsedTimer waited;
        waited.start();
        QVERIFY(f->board().stopSession(row));
        QCOMPARE(PrintJob::running(), 1);
        QCOMPARE_LT(waited.elapsed(), PrintJob::deadlineMs());
        QTRY_COMPARE_WITH_TIMEOUT(errors.messages.size(), 1, 10000);
        QCOMPARE(
            errors.messages.first(),
            QStringLiteral("Чек не напечатан: служба печати «%1» не ответила за 2 с, печать отменена.").arg(socket));
        QTRY_COMPARE(PrintJob::running(), 0); // the helper killed and collected

        waited.restart();
        f->findChild<QAction *>("N11")->trigger();
        const auto *job = f->findChild<PrintJob *>();
        QVERIFY(job);
        QTest::qWait(300); // the helper is in the middle of asking
        const qint64 pid = job->helperPid();
        QVERIFY(pid > 0);
        f.reset();
        QCOMPARE_LT(waited.elapsed(), PrintJob::deadlineMs());
        QCOMPARE(PrintJob::running(), 0);
        QCOMPARE(::kill(static_cast<pid_t>(pid), 0), -1); // killed and collected
        QCOMPARE(errors.messages.size(), 1);
    }

    // A shift through the menus and dialogs: opened with an operator from
    // the list and the cash typed, a session paid at the Stop question, the
    // shift closed with the counted cash (its report saved as PDF beside the
    // journal), today's receipt printed again from the report's line.
    void cashDeskDayThroughTheMenus()
    {
        test::writeFile(dir() + "Bilmeko.ini",
                        "[Options]\r\nPayment=card\r\n[Operators]\r\n1=Anna\r\n2=Boris\r\n"
                        "[Abonements]\r\nTen=600;4500\r\n");
        TrayForm f(dir());
        QStringList printed; // the slips' titles, instead of the printer
        f.slipPrinter = [&printed](const Receipt &r) { printed << r.title; };
        auto *shiftLabel = f.findChild<QLabel *>("ShiftLabel");
        QCOMPARE(shiftLabel->text(), QStringLiteral("смена не открыта"));
        QVERIFY(!f.findChild<QAction *>("ShiftClose")->isEnabled());

        test::onNextModal([](QWidget *w) {
            auto *who = w->findChild<QComboBox *>("ShiftOperator");
            QCOMPARE(who->count(), 2);
            QCOMPARE(who->currentText(), QStringLiteral("Anna"));
            test::retype(w->findChild<QLineEdit *>("ShiftCash"), QStringLiteral("1 000,50"));
            QTest::mouseClick(w->findChild<QPushButton *>("ShiftOk"), Qt::LeftButton);
        });
        f.findChild<QAction *>("ShiftOpen")->trigger();
        QCOMPARE(shiftLabel->text(), QStringLiteral("Смена 1: Anna"));
        QVERIFY(!f.findChild<QAction *>("ShiftOpen")->isEnabled());

        // The new-session dialog starts at [Options] Payment and offers the
        // abonement; the Stop question can still change the method.
        test::onNextModal([](QWidget *w) {
            QCOMPARE(w->findChild<QComboBox *>("Payment")->currentText(), QStringLiteral("карта"));
            QVERIFY(w->findChild<QWidget *>("Abonement")->isVisible());
            static_cast<QDialog *>(w)->reject();
        });
        QTest::mouseClick(f.findChild<QToolButton *>("SpeedButton1"), Qt::LeftButton);
        f.board().addSession(QStringLiteral("Петров"), QString(), QStringLiteral("Стрижка"), 2, 1, 0, Payment::Card);
        m_clock->advanceSecs(10 * 60);
        test::onNextModal([](QWidget *w) {
            auto *method = w->findChild<QComboBox *>("StopPayment");
            QVERIFY(method && method->isVisible());
            QCOMPARE(method->currentText(), QStringLiteral("карта"));
            method->setCurrentIndex(method->findText(QStringLiteral("наличные")));
            static_cast<QMessageBox *>(w)->button(QMessageBox::Yes)->click();
        });
        QTest::mouseClick(f.findChild<QToolButton *>("SpeedButton3"), Qt::LeftButton);
        QVERIFY(f.board().curLog().isEmpty());
        QVERIFY2(f.findChild<QLabel *>("TakingsLabel")
                     ->text()
                     .contains(QStringLiteral("(нал. 20,00\u00A0₽, карта 0,00")),
                 qPrintable(f.findChild<QLabel *>("TakingsLabel")->text()));

        // Today's line prints its receipt again from the text's menu (a right
        // click on the line): a number taken once, then copies.
        bool offered = false, offeredOnTitles = true;
        test::onNextModal([&](QWidget *) {
            TForm5 *report = f.reportWindow();
            QWidget *text = report->RichEdit1->viewport();
            const int row = QFontMetrics(report->RichEdit1->font()).lineSpacing();
            const auto rightClick = [&](int y, bool *enabled) {
                QTimer::singleShot(0, [enabled] {
                    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
                    QAction *item = menu ? menu->findChild<QAction *>("ReprintReceipt") : nullptr;
                    *enabled = item && item->isEnabled();
                    if (*enabled)
                        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
                    else if (menu)
                        menu->close();
                });
                QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, y), text->mapToGlobal(QPoint(20, y)));
                QApplication::sendEvent(text, &event);
            };
            rightClick(row + row / 2, &offered);
            rightClick(row / 2, &offeredOnTitles);
            QVERIFY(report->reprintLine(1));
            report->close();
        });
        f.N8Click();
        QVERIFY(offered);
        QVERIFY(!offeredOnTitles);
        QCOMPARE(printed, (QStringList{QStringLiteral("Чек № 1"), QStringLiteral("Чек № 1 (копия)")}));
        QCOMPARE(f.shifts().lastReceiptNumber(), 1);

        QString difference, shown;
        test::onNextModal([&](QWidget *w) {
            shown = w->findChild<QPlainTextEdit *>("ShiftReportText")->toPlainText();
            test::retype(w->findChild<QLineEdit *>("CountedCash"), QStringLiteral("1020"));
            difference = w->findChild<QLabel *>("ShiftDifference")->text();
            QTest::mouseClick(w->findChild<QPushButton *>("ShiftOk"), Qt::LeftButton);
        });
        f.findChild<QAction *>("ShiftClose")->trigger();
        // The text field shows no-break spaces as plain ones.
        QVERIFY2(shown.contains(QStringLiteral("Наличные по расчету: ")
                                + Formats::current().currency2(1020.5).replace(QChar(0xA0), QLatin1Char(' '))),
                 qPrintable(shown));
        QCOMPARE(difference, Formats::current().currency2(-0.5));
        QCOMPARE(shiftLabel->text(), QStringLiteral("смена не открыта"));
        const QString pdf = test::pdfText(f.shiftPdfPath(1)).simplified();
        for (const char *piece : {"Отчет о смене 1", "Оператор: Anna", "Выручка, наличные: 20,00 ₽",
                                  "Наличные по факту: 1 020,00 ₽", "Расхождение: -0,50 ₽",
                                  "Не является фискальным документом"})
            QVERIFY2(pdf.contains(QString::fromUtf8(piece)), qPrintable(pdf));

        // The past shift's report, again, saved where the operator says.
        f.chooseShiftPdfPath = [this] { return dir() + "смена.pdf"; };
        int listed = 0;
        test::onNextModal([&listed](QWidget *w) {
            listed = w->findChild<QListWidget *>("ShiftList")->count();
            QTest::mouseClick(w->findChild<QPushButton *>("ShiftSavePdf"), Qt::LeftButton);
            w->close();
        });
        f.findChild<QAction *>("ShiftReports")->trigger();
        QCOMPARE(listed, 1);
        QCOMPARE(test::pdfText(dir() + "смена.pdf").simplified(), pdf);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FixedClock> m_clock;
    std::unique_ptr<ScopedClock> m_scoped;
    QString dir() const { return m_dir->path() + QLatin1Char('/'); }
};

QTEST_MAIN(TestFrontDesk)
#include "test_frontdesk.moc"
