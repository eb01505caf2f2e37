// The main window through its real widgets: layout, grid, clock caption, the
// billing tick's notices, the logo link, and hiding and quitting.

#include "app/core/sessionboard.h"
#include "app/ui/form1.h"
#include "app/ui/formbox.h"
#include "app/ui/sessiongrid.h"
#include "common/core/clock.h"
#include "common/core/formats.h"
#include "common/core/memtable.h"
#include "formtestutil.h"
#include "testsupport_ui.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>

using namespace bilmeko;
using bilmeko::test::notices;
using bilmeko::test::TrayForm;

namespace {

// Answers the next message box and notes that one came; a watcher no longer
// armed leaves the box to the next one.
struct Question
{
    bool armed = true;
    bool asked = false;
    QString text, title;
    bool yesIsDefault = false;
};

std::shared_ptr<Question> answerQuestion(QMessageBox::StandardButton answer)
{
    auto q = std::make_shared<Question>();
    test::onNextModal([q, answer](QWidget *w) {
        if (!q->armed)
            return;
        auto *box = qobject_cast<QMessageBox *>(w);
        QVERIFY(box);
        q->asked = true;
        q->text = box->text();
        q->title = box->windowTitle();
        q->yesIsDefault = box->defaultButton() == box->button(QMessageBox::Yes);
        box->button(answer)->click();
    });
    return q;
}

} // namespace

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void layout();
    void gridColumns();
    void gridFollowsClientHeight();
    void gridIsReadOnly();
    void captionShowsTheClock();
    void paths();
    void tickShowsIndependentNotices();
    void noticeWindow();
    void noticeClosesAndFreesEveryWay_data();
    void noticeClosesAndFreesEveryWay();
    void logoOpensTheSite();
    void closeHidesThenAsks();
    void trayDoubleClickTogglesWindow();
    void withoutTrayCloseAsksAtOnce();
    void escapeAnswersNo();
    void quitQuestionCountsRunningSessions();
    void logoutClosesWithoutQuestion();
    void startRestoresSessionsAndListsThoseEndedWhileAway();
    void damagedSessionsFileIsReportedAtStart();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FixedClock> m_clock;
    std::unique_ptr<ScopedClock> m_scoped;
    QString dir() const { return m_dir->path() + QLatin1Char('/'); }
};

void TestForm1::init()
{
    test::pinRussian();
    m_dir = std::make_unique<QTemporaryDir>();
    m_clock = std::make_unique<FixedClock>(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
    m_scoped = std::make_unique<ScopedClock>(m_clock.get());
}

void TestForm1::cleanup()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<TFormbox *>(w))
            delete w;
    m_scoped.reset();
    m_clock.reset();
    m_dir.reset();
}

void TestForm1::layout()
{
    TForm1 f(dir());
    QCOMPARE(f.size(), QSize(728, 410));
    QCOMPARE(f.minimumWidth(), 728);
    QCOMPARE(f.maximumWidth(), 728);
    QCOMPARE(f.minimumHeight(), 236);
    QVERIFY(!(f.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(f.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(f.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(f.windowTitle().isEmpty());

    const struct
    {
        const char *name;
        QString text;
        QRect geometry;
    } buttons[] = {
        {"SpeedButton1", QStringLiteral("Новый"), QRect(584, 0, 133, 29)},
        {"SpeedButton2", QStringLiteral("Продлить"), QRect(584, 32, 133, 29)},
        {"SpeedButton3", QStringLiteral("Стоп"), QRect(584, 64, 132, 29)},
        {"SpeedButton4", QStringLiteral("Пауза"), QRect(584, 96, 133, 29)},
    };
    for (const auto &b : buttons) {
        auto *button = f.findChild<QToolButton *>(QLatin1String(b.name));
        QVERIFY(button);
        QCOMPARE(button->text(), b.text);
        QCOMPARE(button->geometry(), b.geometry);
        QVERIFY(button->font().bold());
        QVERIFY(!button->icon().isNull());
        QVERIFY2(button->sizeHint().width() <= b.geometry.width(),
                 qPrintable(QString::number(button->sizeHint().width())));
    }

    auto *panel = f.findChild<QFrame *>(QStringLiteral("Panel1"));
    QVERIFY(panel);
    QCOMPARE(panel->geometry(), QRect(584, 128, 133, 87));
    auto *labelV = panel->findChild<QLabel *>(QStringLiteral("LabelV"));
    QVERIFY(labelV);
    QCOMPARE(labelV->text(), QStringLiteral("Bilmeko: %1.%2").arg(BILMEKO_VERSION_MAJOR).arg(BILMEKO_VERSION_MINOR));
    QCOMPARE(labelV->geometry().topLeft(), QPoint(4, 40));
    QCOMPARE(labelV->width(), 121);
    QVERIFY(labelV->font().bold());

    auto *logo = f.findChild<QLabel *>(QStringLiteral("Image1"));
    QVERIFY(logo);
    QCOMPARE(logo->geometry(), QRect(593, 216, 120, 26));
    QCOMPARE(logo->cursor().shape(), Qt::PointingHandCursor);

    auto *n3 = f.findChild<QAction *>(QStringLiteral("N3"));
    auto *n5 = f.findChild<QAction *>(QStringLiteral("N5"));
    QVERIFY(n3 && n5);
    // Texts as shown, without their mnemonic marks.
    QCOMPARE(n3->text().remove('&'), QStringLiteral("Цены"));
    QCOMPARE(n5->text().remove('&'), QStringLiteral("Отчет за период"));
    QStringList menus;
    for (QAction *a : f.menuBar()->actions())
        menus << a->text().remove('&');
    QCOMPARE(menus,
             (QStringList{QStringLiteral("Параметры"), QStringLiteral("Отчеты"), QStringLiteral("Сеанс"),
                          QStringLiteral("Смена")}));
    auto *n1 = f.findChild<QAction *>(QStringLiteral("N1"));
    QVERIFY(n1);
    QCOMPARE(n1->text().remove('&'), QStringLiteral("Закрыть"));

    auto *timer1 = f.findChild<QTimer *>(QStringLiteral("Timer1"));
    auto *timer2 = f.findChild<QTimer *>(QStringLiteral("Timer2"));
    QVERIFY(timer1 && timer2);
    QCOMPARE(timer1->interval(), 1000);
    QCOMPARE(timer2->interval(), 20000);
    QVERIFY(timer1->isActive() && timer2->isActive());
}

void TestForm1::gridColumns()
{
    TForm1 f(dir());
    auto *grid = f.findChild<QTableView *>(QStringLiteral("RxDBGrid1"));
    QVERIFY(grid);
    QAbstractItemModel *m = grid->model();
    const QStringList titles = {"Клиент", "Услуга", "Цена (мин.)", "Начало", "Конец", "Осталось", "Сумма", "Описание"};
    const QList<int> widths = {117, 58, 64, 52, 49, 55, 72, 72};
    QCOMPARE(m->columnCount(), titles.size());
    const QList<int> timeColumns = {3, 4, 5};
    const int timeWidth = TForm1::timeCellWidth(grid->font());
    int total = 0;
    for (int c = 0; c < titles.size(); ++c) {
        QCOMPARE(m->headerData(c, Qt::Horizontal).toString(), titles[c]);
        // A time column grows where the font draws a time wider than it.
        if (timeColumns.contains(c))
            QCOMPARE(grid->columnWidth(c), std::max(widths[c], timeWidth));
        else
            QCOMPARE(grid->columnWidth(c), widths[c]);
        total += grid->columnWidth(c);
    }
    // Each time fits whole, bold as a marked row draws it, and the columns
    // still fit the grid.
    QFont bold = grid->font();
    bold.setBold(true);
    for (const QString &time : {QStringLiteral("00:00:00"), QStringLiteral("23:58:48")})
        QVERIFY(QFontMetrics(bold).horizontalAdvance(time) + 4 < timeWidth);
    QVERIFY2(total + grid->verticalHeader()->width() <= 581 - 2 * grid->frameWidth(),
             qPrintable(QString::number(total)));
    QVERIFY(!grid->verticalHeader()->isHidden()); // the row indicator
    QVERIFY(!grid->horizontalHeader()->sectionsClickable());
    QVERIFY(!grid->isSortingEnabled());

    f.board().addSession("Иванова", "френч", "Маникюр", 5, 1, 30);
    m_clock->set(QDateTime(QDate(2026, 12, 7), QTime(10, 5, 20)));
    f.Timer2Timer();
    const QStringList row = {"Иванова",  "Маникюр", QStringLiteral("5,00\u00A0\u20BD"),  "10:00:00",
                             "11:30:00", "1:24:40", QStringLiteral("25,00\u00A0\u20BD"), "френч"};
    for (int c = 0; c < row.size(); ++c)
        QCOMPARE(m->index(0, c).data().toString(), row[c]);
    QCOMPARE(grid->currentIndex().row(), 0);
    // Any time of day reads as the locale writes it, a second's last
    // millisecond included.
    MemTable &t = f.board().curLog();
    for (int secs = 0; secs < 86400; secs += 997) {
        const double v = (secs * 1000.0 + 999) / MsPerDay;
        t.setValue(0, t.fieldIndex("TLeft"), v);
        QCOMPARE(m->index(0, 5).data().toString(), Formats::current().timeText(v));
    }

    // Header clicks neither sort nor move anything.
    f.board().addSession("Б", "", "Маникюр", 5, 0, 10);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QHeaderView *h = grid->horizontalHeader();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(h->sectionViewportPosition(0) + 5, 5));
    QCOMPARE(m->index(0, 0).data().toString(), QStringLiteral("Б"));

    // A wide title's face, drawn in pieces, is the very face the style draws
    // whole: under the window's style and under Fusion itself.
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("fusion")));
    QVERIFY(fusion && drawsAsFusion(fusion.get()));
    for (const QStyle *style : {static_cast<const QStyle *>(h->style()), static_cast<const QStyle *>(fusion.get())})
        for (const int width : {117, 168, 513})
            for (const int height : {h->height(), 31}) {
                QStyleOptionHeader opt;
                opt.initFrom(h);
                opt.rect = QRect(2, 1, width, height);
                QImage whole(width + 4, height + 2, QImage::Format_ARGB32_Premultiplied);
                whole.fill(Qt::magenta);
                QImage pieces = whole;
                {
                    QPainter p(&whole);
                    style->drawControl(QStyle::CE_HeaderSection, &opt, &p, h);
                }
                {
                    QPainter p(&pieces);
                    drawTitleFace(style, opt, &p, h);
                }
                QVERIFY2(pieces == whole, qPrintable(QStringLiteral("%1 x %2").arg(width).arg(height)));
            }
}

void TestForm1::gridFollowsClientHeight()
{
    TForm1 f(dir());
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    auto *grid = f.findChild<QTableView *>(QStringLiteral("RxDBGrid1"));
    for (int h : {410, 600, 300, 100}) {
        f.resize(900, h);
        QTRY_COMPARE(grid->height(), f.centralWidget()->height());
        QCOMPARE(f.width(), 728);
        QVERIFY(f.height() >= 236);
        QCOMPARE(grid->geometry().topLeft(), QPoint(0, -1));
        QCOMPARE(grid->width(), 581);
    }
}

void TestForm1::gridIsReadOnly()
{
    TForm1 f(dir());
    f.board().addSession("A", "", "S", 1, 1, 0);
    f.board().addSession("B", "", "S", 1, 1, 0);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    auto *grid = f.findChild<QTableView *>(QStringLiteral("RxDBGrid1"));
    const QRect cell = grid->visualRect(grid->model()->index(1, 0));
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    // F2, a grid's edit key, is Extend here: its dialog, not a cell editor.
    test::onNextModal([](QWidget *dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
    QTest::keyClick(grid, Qt::Key_F2);
    QTest::keyClicks(grid, "zz");
    QVERIFY(!grid->findChild<QLineEdit *>());
    QCOMPARE(f.board().curLog().value(1, 0).toString(), QStringLiteral("A"));
    // Clicks and keys move the table's current row.
    QCOMPARE(f.board().curLog().currentRow(), 1);
    QTest::keyClick(grid, Qt::Key_Up);
    QCOMPARE(f.board().curLog().currentRow(), 0);
}

void TestForm1::captionShowsTheClock()
{
    TForm1 f(dir());
    QVERIFY(f.windowTitle().isEmpty());
    m_clock->set(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 7)));
    f.Timer1Timer();
    QCOMPARE(f.windowTitle(), QStringLiteral("Текущее время: 9:05:07"));
}

void TestForm1::paths()
{
    TForm1 f(dir());
    QCOMPARE(f.journalPath(), dir() + "Bilmeko.log");
    QCOMPARE(f.settingsPath(), dir() + "Bilmeko.ini");
    QCOMPARE(f.board().journalPath(), f.journalPath());

    TForm1 beside;
    QCOMPARE(beside.journalPath(), QCoreApplication::applicationDirPath() + "/Bilmeko.log");
}

void TestForm1::tickShowsIndependentNotices()
{
    TForm1 f(dir());
    f.board().addSession("Петров", "", "S", 1, 0, 10);
    f.board().addSession("Иванова", "", "S", 5, 0, 10);
    m_clock->set(QDateTime(QDate(2026, 12, 7), QTime(10, 10, 5)));
    f.hide(); // the tick goes on while the window is hidden
    f.Timer2Timer();

    QList<TFormbox *> boxes = notices();
    QCOMPARE(boxes.size(), 2);
    QVERIFY(f.board().curLog().isEmpty());
    QStringList names;
    for (TFormbox *b : boxes) {
        names << b->findChild<QLabel *>(QStringLiteral("Customer"))->text();
        QCOMPARE(b->windowTitle(), QStringLiteral("Время: 10:10:05"));
        QVERIFY(!b->isModal());
    }
    names.sort();
    QCOMPARE(names, (QStringList{"Иванова", "Петров"}));

    // Closing one leaves the other.
    QPointer<TFormbox> first = boxes[0];
    QPointer<TFormbox> second = boxes[1];
    QTest::mouseClick(first->findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
    QTRY_VERIFY(first.isNull());
    QVERIFY(second && second->isVisible());
    QCOMPARE(QFileInfo(f.journalPath()).size(), 2 * 168);
}

void TestForm1::noticeWindow()
{
    Notice n{QStringLiteral("Иванова Мария"), QStringLiteral("Время: 1:05:20 Сумма: 325,00 ₽"),
             QStringLiteral("Время: 11:05:20"), 1};
    QPointer<TFormbox> box = TFormbox::showNotice(n);
    QVERIFY(QTest::qWaitForWindowExposed(box));
    QCOMPARE(box->size(), QSize(310, 126));
    QCOMPARE(box->windowTitle(), n.caption);
    QVERIFY(box->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(!box->parent());

    auto *label1 = box->findChild<QLabel *>(QStringLiteral("Label1"));
    QCOMPARE(label1->text(), QStringLiteral("Закончилось время у клиента"));
    QCOMPARE(label1->geometry(), QRect(8, 8, 297, 24));
    QVERIFY(label1->sizeHint().width() <= 297);
    auto *customer = box->findChild<QLabel *>(QStringLiteral("Customer"));
    QCOMPARE(customer->text(), n.customer);
    QCOMPARE(customer->pos(), QPoint(132, 40));
    QVERIFY(customer->width() >= customer->sizeHint().width());
    auto *stat = box->findChild<QLabel *>(QStringLiteral("Stat"));
    QCOMPARE(stat->text(), n.stat);
    QCOMPARE(stat->pos(), QPoint(8, 72));
    QVERIFY(stat->geometry().right() < 310);
    QVERIFY(stat->font().bold());
    auto *ok = box->findChild<QPushButton *>(QStringLiteral("BitBtn1"));
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QCOMPARE(ok->geometry(), QRect(100, 100, 133, 25));
    QVERIFY(ok->isDefault());

    // Enter presses the default button.
    QTest::keyClick(box, Qt::Key_Return);
    QTRY_VERIFY(box.isNull());
}

void TestForm1::noticeClosesAndFreesEveryWay_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("OK button") << 0;
    QTest::newRow("close box") << 1;
    QTest::newRow("Esc") << 2;
}

void TestForm1::noticeClosesAndFreesEveryWay()
{
    QFETCH(int, way);
    QPointer<TFormbox> box = TFormbox::showNotice(Notice{"A", "B", "C", 1});
    QVERIFY(QTest::qWaitForWindowExposed(box));
    switch (way) {
    case 0: box->findChild<QPushButton *>(QStringLiteral("BitBtn1"))->click(); break;
    case 1: box->close(); break;
    case 2: QTest::keyClick(box, Qt::Key_Escape); break;
    }
    QTRY_VERIFY(box.isNull());
}

void TestForm1::logoOpensTheSite()
{
    TForm1 f(dir());
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    QTest::mouseClick(f.findChild<QLabel *>(QStringLiteral("Image1")), Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl(TForm1::makerSite())});
}

void TestForm1::closeHidesThenAsks()
{
    TrayForm f(dir());
    QSignalSpy closed(&f, &TForm1::closed);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    auto *n1 = f.findChild<QAction *>(QStringLiteral("N1"));

    // Visible: the close box hides the window and asks nothing.
    auto none = answerQuestion(QMessageBox::No);
    f.close();
    QVERIFY(!f.isVisible());
    QVERIFY(!none->asked);
    none->armed = false;

    // Hidden: "Закрыть" asks; No keeps the program running, still hidden.
    auto no = answerQuestion(QMessageBox::No);
    n1->trigger();
    QVERIFY(no->asked);
    QCOMPARE(no->text, QStringLiteral("Вы уверены что хотите выгрузить BILMEKO?"));
    QCOMPARE(no->title, QStringLiteral("Confirm"));
    QVERIFY(no->yesIsDefault);
    QVERIFY(!f.isVisible());
    QCOMPARE(closed.count(), 0);

    // "Закрыть" with the window visible only hides it.
    f.show();
    auto yes = answerQuestion(QMessageBox::Yes);
    n1->trigger();
    QVERIFY(!f.isVisible());
    QVERIFY(!yes->asked);
    QCOMPARE(closed.count(), 0);
    // Hidden, Yes: the close goes through.
    n1->trigger();
    QVERIFY(yes->asked);
    QCOMPARE(closed.count(), 1);
}

void TestForm1::trayDoubleClickTogglesWindow()
{
    TrayForm f(dir());
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    f.RxTrayIcon1DblClick();
    QVERIFY(!f.isVisible());
    f.RxTrayIcon1DblClick();
    QVERIFY(f.isVisible());
}

void TestForm1::withoutTrayCloseAsksAtOnce()
{
    TForm1 f(dir());
    if (QSystemTrayIcon::isSystemTrayAvailable())
        QSKIP("this desktop has a notification area");
    QSignalSpy closed(&f, &TForm1::closed);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));

    auto no = answerQuestion(QMessageBox::No);
    f.close();
    QVERIFY(no->asked);
    QVERIFY(f.isVisible()); // never hidden out of reach
    QCOMPARE(closed.count(), 0);

    auto yes = answerQuestion(QMessageBox::Yes);
    f.close();
    QVERIFY(yes->asked);
    QCOMPARE(closed.count(), 1);
    QVERIFY(!f.isVisible());
}

void TestForm1::escapeAnswersNo()
{
    TrayForm f(dir());
    QSignalSpy closed(&f, &TForm1::closed);
    bool asked = false;
    test::onNextModal([&asked](QWidget *w) {
        asked = qobject_cast<QMessageBox *>(w) != nullptr;
        QTest::keyClick(w, Qt::Key_Escape);
    });
    f.close(); // never shown: hidden, so it asks
    QVERIFY(asked);
    QCOMPARE(closed.count(), 0);
}

void TestForm1::quitQuestionCountsRunningSessions()
{
    TrayForm f(dir());
    f.board().addSession("A", "", "S", 1, 1, 0);
    f.board().addSession("B", "", "S", 1, 1, 0);
    auto no = answerQuestion(QMessageBox::No);
    f.findChild<QAction *>(QStringLiteral("N1"))->trigger();
    QVERIFY(no->asked);
    QCOMPARE(no->text,
             QStringLiteral("Вы уверены что хотите выгрузить BILMEKO?\n\n"
                            "Идущих сеансов: 2. Их время продолжит идти, "
                            "и они вернутся в таблицу при следующем запуске."));
}

void TestForm1::logoutClosesWithoutQuestion()
{
    TrayForm f(dir());
    QSignalSpy closed(&f, &TForm1::closed);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    f.board().addSession("A", "", "S", 1, 1, 0);
    auto none = answerQuestion(QMessageBox::No);
    f.allowCloseWithoutQuestion();
    f.close();
    QVERIFY(!none->asked);
    none->armed = false;
    QCOMPARE(closed.count(), 1);
    // The session is on disk for the next start.
    TForm1 next(dir());
    QCOMPARE(next.board().curLog().rowCount(), 1);
}

void TestForm1::startRestoresSessionsAndListsThoseEndedWhileAway()
{
    {
        TForm1 first(dir());
        first.board().addSession("Короткий", "", "Стрижка", 2, 0, 10);
        first.board().addSession("Длинный", "", "Массаж", 1, 2, 0);
    }
    m_clock->advanceSecs(30 * 60);
    TForm1 f(dir());
    auto *grid = f.findChild<QTableView *>(QStringLiteral("RxDBGrid1"));
    QCOMPARE(grid->model()->rowCount(), 1);
    QCOMPARE(grid->model()->index(0, 0).data().toString(), QStringLiteral("Длинный"));
    QCOMPARE(grid->model()->index(0, 3).data().toString(), QStringLiteral("10:00:00"));
    QCOMPARE(grid->model()->index(0, 4).data().toString(), QStringLiteral("12:00:00"));

    QMessageBox *ended = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("EndedAway") && w->isVisible())
            ended = qobject_cast<QMessageBox *>(w);
    QVERIFY(ended);
    QVERIFY(!ended->isModal());
    // The main window shown after it must not cover it.
    QVERIFY(ended->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY2(ended->text().contains(QStringLiteral("Короткий (Стрижка): конец 07.12.2026 10:10:00, 10 мин, 20,00")),
             qPrintable(ended->text()));
    QVERIFY(!ended->text().contains(QStringLiteral("Длинный")));
    ended->close();
    QCOMPARE(QFileInfo(f.journalPath()).size(), qint64(168));
}

void TestForm1::damagedSessionsFileIsReportedAtStart()
{
    const QString state = dir() + QStringLiteral("Bilmeko.sessions");
    test::writeFile(state, "not what it should be");
    test::ErrorRecorder errors;
    TForm1 f(dir());
    QCOMPARE(errors.messages.size(), 1);
    QVERIFY2(errors.messages[0].startsWith(QStringLiteral("Файл идущих сеансов \"%1\" повреждён").arg(state)),
             qPrintable(errors.messages[0]));
    QCOMPARE(f.board().curLog().rowCount(), 0);
    QVERIFY(!QFile::exists(state));
    QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("Bilmeko.sessions.damaged-*")}).size(), 1);
}

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
