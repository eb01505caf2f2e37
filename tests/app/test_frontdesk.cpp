// The front desk through the real widgets: notices that stay usable and on
// top over the program's dialogs, the tray, the keyboard, the reminder mark
// and the grid's cut names.

#include "app/ui/form1.h"
#include "app/ui/formbox.h"
#include "app/core/sessionboard.h"
#include "common/core/clock.h"
#include "common/core/memtable.h"
#include "testsupport_ui.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWindow>
#include <memory>

using namespace bilmeko;

namespace {

class TrayForm : public TForm1
{
public:
    using TForm1::TForm1;

protected:
    bool trayAvailable() const override { return true; }
};

QList<TFormbox *> notices()
{
    QList<TFormbox *> out;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<TFormbox *>(w); box && box->isVisible())
            out << box;
    return out;
}

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

    // A session ends while the client dialog is open: its notice is the
    // active window, kept above the dialog, and its OK closes it while the
    // dialog stays open.
    void noticeOverTheClientDialog()
    {
        TrayForm f(dir());
        f.showCentred();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.board().addSession("Петров", "", "S", 1, 0, 10);
        m_clock->set(QDateTime(QDate(2026, 12, 7), QTime(10, 10, 5)));
        bool checked = false;
        test::onNextModal([&](QWidget *dialog) {
            const auto closing = qScopeGuard([dialog] { QTest::keyClick(dialog, Qt::Key_Escape); });
            QCOMPARE(dialog->objectName(), QStringLiteral("Form2"));
            f.Timer2Timer(); // the tick comes inside the dialog's loop
            const QList<TFormbox *> boxes = notices();
            QCOMPARE(boxes.size(), 1);
            QPointer<TFormbox> box = boxes[0];
            QTRY_COMPARE(QApplication::activeWindow(), box.data());
            QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);
            QCOMPARE(box->windowHandle()->transientParent(), dialog->windowHandle());
            QVERIFY(!box->isModal());
            clickOk(box);
            QTRY_VERIFY(box.isNull());
            QVERIFY(dialog->isVisible());
            checked = true;
        });
        QTest::mouseClick(f.findChild<QToolButton *>("SpeedButton1"), Qt::LeftButton);
        QVERIFY(checked);
        QVERIFY(f.board().curLog().isEmpty());
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

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FixedClock> m_clock;
    std::unique_ptr<ScopedClock> m_scoped;
    QString dir() const { return m_dir->path() + QLatin1Char('/'); }
};

QTEST_MAIN(TestFrontDesk)
#include "test_frontdesk.moc"
