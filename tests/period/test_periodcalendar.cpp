#include "common/core/clock.h"
#include "period/core/periodrules.h"
#include "period/ui/calendargrid.h"
#include "period/ui/fcal.h"
#include "testsupport_ui.h"

#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <memory>

using namespace bilmeko;

namespace {

QDate D(const char *text)
{
    return QDate::fromString(QString::fromLatin1(text), QStringLiteral("dd.MM.yyyy"));
}

QPoint centreOfDay(const CalendarGrid *grid, int day)
{
    const MonthLayout l(grid->date(), grid->startOfWeek());
    return grid->cellRect(l.rowOf(day), l.colOf(day)).center();
}

} // namespace

class TestFCal : public QObject
{
    Q_OBJECT
    FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 0))};
    std::unique_ptr<ScopedClock> scoped;
    std::unique_ptr<TFCal> cal;

    CalendarGrid *grid() const { return cal->findChild<CalendarGrid *>(QStringLiteral("Calendar1")); }

    // A shown pop-up on `date`, as the period dialog prepares it.
    void open(const QDate &date)
    {
        cal = std::make_unique<TFCal>();
        grid()->setDate(date);
        cal->show();
        QVERIFY(QTest::qWaitForWindowExposed(cal.get()));
    }

    void press(const char *button)
    {
        auto *b = cal->findChild<QToolButton *>(QString::fromLatin1(button));
        QVERIFY(b);
        QTest::mouseClick(b, Qt::LeftButton);
    }

    void chooseMenuItem(const char *name)
    {
        press("ToolButton6");
        QMenu *menu = cal->findChild<QMenu *>(QStringLiteral("PopupMenu1"));
        QTRY_VERIFY(menu->isVisible());
        auto *item = menu->findChild<QAction *>(QString::fromLatin1(name));
        QVERIFY(item);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
        QTRY_VERIFY(!menu->isVisible());
    }

private slots:
    void initTestCase() { test::pinRussian(); }
    void init() { scoped = std::make_unique<ScopedClock>(&clock); }
    void cleanup()
    {
        cal.reset();
        scoped.reset();
    }

    void windowLayout()
    {
        open(D("07.12.2026"));
        QCOMPARE(cal->objectName(), QStringLiteral("FCal"));
        QCOMPARE(cal->windowTitle(), QStringLiteral("Календарь"));
        QVERIFY(cal->windowFlags() & Qt::Tool);
        QCOMPARE(cal->size(), QSize(157, 157));
        QCOMPARE(cal->pos(), QPoint(433, 187));
        QCOMPARE(cal->findChild<QWidget *>(QStringLiteral("ToolBar1"))->geometry(), QRect(0, 0, 157, 21));
        QCOMPARE(cal->findChild<QWidget *>(QStringLiteral("Panel1"))->geometry(), QRect(0, 21, 157, 20));
        QVERIFY(cal->findChild<QWidget *>(QStringLiteral("Panel1"))->font().bold());
        QCOMPARE(grid()->geometry(), QRect(0, 41, 157, 116));
        QCOMPARE(grid()->startOfWeek(), 1);
        QVERIFY(grid()->hasFocus());
        // Tool bar buttons left to right with 8-pixel gaps.
        int lastRight = 0;
        for (const char *name : {"ToolButton1", "ToolButton3", "ToolButton6", "ToolButton9", "ToolButton10"}) {
            auto *b = cal->findChild<QToolButton *>(QString::fromLatin1(name));
            QVERIFY(b);
            QVERIFY(b->x() >= lastRight);
            QVERIFY(!b->icon().isNull());
            QCOMPARE(b->height(), 16);
            lastRight = b->geometry().right();
        }
        QVERIFY(lastRight < 157);
        // Menu items in order.
        QStringList texts;
        for (QAction *a : cal->findChild<QMenu *>(QStringLiteral("PopupMenu1"))->actions())
            texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(texts,
                 (QStringList{"Текущая дата", "-", "Начало месяца", "Конец месяца", "-", "Начало года", "Конец года"}));
        // The header is Monday first, in the locale's short names.
        const QStringList names = Formats::current().shortDayNames();
        QCOMPARE(names.size(), 7);
        QCOMPARE(names.first(), QLocale(QLocale::Russian).dayName(1, QLocale::ShortFormat));
    }

    void glyphsAreDrawn()
    {
        for (int i = 0; i < 5; ++i) {
            const QImage img = calendarGlyph(i).toImage();
            QCOMPARE(img.size(), QSize(16, 10));
            int black = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    black += qAlpha(img.pixel(x, y)) > 0;
            QVERIFY2(black > 10, qPrintable(QString::number(i)));
        }
    }

    void startsOnTodayAndFollowsTheDate()
    {
        cal = std::make_unique<TFCal>();
        QCOMPARE(grid()->date(), D("07.12.2026"));
        QCOMPARE(cal->panelText(), QStringLiteral("Декабрь 2026"));
        QSignalSpy changes(grid(), &CalendarGrid::changed);
        grid()->setDate(D("15.05.2026"));
        QCOMPARE(cal->panelText(), QStringLiteral("Май 2026"));
        grid()->setDate(D("15.05.2026")); // the same date still counts
        QCOMPARE(changes.count(), 2);
    }

    void partSetters_data()
    {
        QTest::addColumn<QString>("part");
        QTest::addColumn<int>("value");
        QTest::addColumn<QDate>("expected"); // from 15.04.2026; invalid: encode error
        QTest::newRow("day 30") << "day" << 30 << D("30.04.2026");
        QTest::newRow("day 31 is beyond April") << "day" << 31 << D("15.04.2026");
        QTest::newRow("day 0") << "day" << 0 << D("15.04.2026");
        QTest::newRow("same day") << "day" << 15 << D("15.04.2026");
        QTest::newRow("month 2") << "month" << 2 << D("15.02.2026");
        QTest::newRow("month 13") << "month" << 13 << D("15.04.2026");
        QTest::newRow("month 0") << "month" << 0 << D("15.04.2026");
        QTest::newRow("year 1") << "year" << 1 << D("15.04.0001");
        QTest::newRow("year 0") << "year" << 0 << D("15.04.2026");
        QTest::newRow("year 10000") << "year" << 10000 << QDate();
    }
    void partSetters()
    {
        QFETCH(QString, part);
        QFETCH(int, value);
        QFETCH(QDate, expected);
        cal = std::make_unique<TFCal>();
        grid()->setDate(D("15.04.2026"));
        QSignalSpy changes(grid(), &CalendarGrid::changed);
        bool failed = false;
        try {
            if (part == QLatin1String("day"))
                grid()->setDay(value);
            else if (part == QLatin1String("month"))
                grid()->setMonth(value);
            else
                grid()->setYear(value);
        } catch (const Error &e) {
            failed = true;
            QCOMPARE(e.message(), QStringLiteral("Invalid argument to date encode"));
        }
        QCOMPARE(failed, !expected.isValid());
        const QDate now = expected.isValid() ? expected : D("15.04.2026");
        QCOMPARE(grid()->date(), now);
        QCOMPARE(changes.count(), now != D("15.04.2026") ? 1 : 0);
    }

    void monthWithoutTheDayFails()
    {
        cal = std::make_unique<TFCal>();
        grid()->setDate(D("31.03.2026"));
        bool failed = false;
        try {
            grid()->setMonth(2);
        } catch (const Error &) {
            failed = true;
        }
        QVERIFY(failed);
        QCOMPARE(grid()->date(), D("31.03.2026"));
    }

    void toolBarSteps_data()
    {
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QString>("panel");
        QTest::newRow("31.03.2026 back a month")
            << D("31.03.2026") << "ToolButton3" << D("28.02.2026") << "Февраль 2026";
        QTest::newRow("31.03.2028 back a month")
            << D("31.03.2028") << "ToolButton3" << D("29.02.2028") << "Февраль 2028";
        QTest::newRow("31.01.2026 forward a month")
            << D("31.01.2026") << "ToolButton9" << D("28.02.2026") << "Февраль 2026";
        QTest::newRow("31.12.2026 forward a month")
            << D("31.12.2026") << "ToolButton9" << D("31.01.2027") << "Январь 2027";
        QTest::newRow("29.02.2028 forward a year")
            << D("29.02.2028") << "ToolButton10" << D("28.02.2029") << "Февраль 2029";
        QTest::newRow("29.02.2028 back a year")
            << D("29.02.2028") << "ToolButton1" << D("28.02.2027") << "Февраль 2027";
        QTest::newRow("year 1 back a year: nothing") << D("10.06.0001") << "ToolButton1" << D("10.06.0001") << "Июнь 1";
        QTest::newRow("January of year 1 back a month: nothing")
            << D("10.01.0001") << "ToolButton3" << D("10.01.0001") << "Январь 1";
    }
    void toolBarSteps()
    {
        QFETCH(QDate, from);
        QFETCH(QString, button);
        QFETCH(QDate, to);
        QFETCH(QString, panel);
        test::ErrorRecorder errors;
        open(from);
        press(button.toLatin1().constData());
        QCOMPARE(grid()->date(), to);
        QCOMPARE(cal->panelText(), panel);
        QVERIFY(cal->isVisible()); // steps never close the window
        QVERIFY(errors.messages.isEmpty());
    }

    void stepsPastYear9999Fail_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("year") << "ToolButton10";
        QTest::newRow("month") << "ToolButton9";
    }
    void stepsPastYear9999Fail()
    {
        QFETCH(QString, button);
        test::ErrorRecorder errors;
        open(D("31.12.9999"));
        press(button.toLatin1().constData());
        QCOMPARE(errors.messages, QStringList{QStringLiteral("Invalid argument to date encode.")});
        QCOMPARE(grid()->date(), D("31.12.9999"));
        QCOMPARE(cal->panelText(), QStringLiteral("Декабрь 9999"));
        QVERIFY(cal->isVisible());
    }

    void menuJumps_data()
    {
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QDate>("to");
        QTest::newRow("today") << D("15.02.2020") << "N1" << D("07.12.2026");
        QTest::newRow("start of month") << D("15.02.2026") << "N3" << D("01.02.2026");
        QTest::newRow("end of month, February 2100") << D("10.02.2100") << "N4" << D("28.02.2100");
        QTest::newRow("end of month, February 2000") << D("10.02.2000") << "N4" << D("29.02.2000");
        QTest::newRow("end of month, April") << D("01.04.2026") << "N4" << D("30.04.2026");
        QTest::newRow("end of month, already there") << D("31.01.2026") << "N4" << D("31.01.2026");
        QTest::newRow("end of year") << D("15.02.2026") << "N7" << D("31.12.2026");
        QTest::newRow("start of year") << D("31.12.2026") << "N6" << D("01.01.2026");
    }
    void menuJumps()
    {
        QFETCH(QDate, from);
        QFETCH(QString, item);
        QFETCH(QDate, to);
        test::ErrorRecorder errors;
        open(from);
        chooseMenuItem(item.toLatin1().constData());
        QCOMPARE(grid()->date(), to);
        QCOMPARE(cal->panelText(), monthText(to.month(), to.year()));
        QVERIFY(cal->isVisible());
        QVERIFY(errors.messages.isEmpty());
    }

    void menuDropsCentredUnderItsButton()
    {
        open(D("15.02.2026"));
        press("ToolButton6");
        QMenu *menu = cal->findChild<QMenu *>(QStringLiteral("PopupMenu1"));
        QTRY_VERIFY(menu->isVisible());
        auto *b = cal->findChild<QToolButton *>(QStringLiteral("ToolButton6"));
        const QPoint under = b->mapToGlobal(QPoint(b->width() / 2, b->height()));
        QVERIFY(qAbs(menu->geometry().center().x() - under.x()) <= 1);
        QCOMPARE(menu->geometry().top(), under.y());
        menu->hide();
    }

    void todayThenClickPicksToday()
    {
        open(D("15.02.2020"));
        chooseMenuItem("N1");
        QVERIFY(cal->isVisible());
        QTest::mouseClick(grid(), Qt::LeftButton, {}, centreOfDay(grid(), 7));
        QVERIFY(!cal->isVisible());
        QCOMPARE(cal->result(), int(QDialog::Accepted));
        QCOMPARE(grid()->date(), D("07.12.2026"));
    }

    void clickPicksTheDayAndEndsTheModalRun()
    {
        cal = std::make_unique<TFCal>();
        grid()->setDate(D("07.12.2026"));
        test::onNextModal(
            [this](QWidget *) { QTest::mouseClick(grid(), Qt::LeftButton, {}, centreOfDay(grid(), 24)); });
        QCOMPARE(cal->exec(), int(QDialog::Accepted));
        QCOMPARE(grid()->date(), D("24.12.2026"));
        QCOMPARE(cal->panelText(), QStringLiteral("Декабрь 2026"));
    }

    void clickOnAnEmptyCellKeepsTheDate()
    {
        open(D("07.12.2026")); // December 2026 starts on a Tuesday
        QCOMPARE(grid()->dayAt(1, 0), 0);
        QTest::mouseClick(grid(), Qt::LeftButton, {}, grid()->cellRect(1, 0).center());
        QVERIFY(!cal->isVisible());
        QCOMPARE(cal->result(), int(QDialog::Accepted));
        QCOMPARE(grid()->date(), D("07.12.2026"));
        QCOMPARE(grid()->selectedRow(), 2);
        QCOMPARE(grid()->selectedCol(), 0);
    }

    void clickOnTheHeaderDoesNothing()
    {
        open(D("07.12.2026"));
        QTest::mouseClick(grid(), Qt::LeftButton, {}, grid()->cellRect(0, 3).center());
        QVERIFY(cal->isVisible());
        QCOMPARE(grid()->date(), D("07.12.2026"));
    }

    void dragMovesTheSelectionOverDays()
    {
        open(D("07.12.2026"));
        QTest::mousePress(grid(), Qt::LeftButton, {}, centreOfDay(grid(), 3));
        QCOMPARE(grid()->date(), D("07.12.2026")); // not yet picked
        QMouseEvent move(QEvent::MouseMove, QPointF(centreOfDay(grid(), 10)),
                         grid()->mapToGlobal(QPointF(centreOfDay(grid(), 10))), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(grid(), &move);
        // Over an empty cell the selection stays on the last day.
        QMouseEvent empty(QEvent::MouseMove, QPointF(grid()->cellRect(6, 6).center()),
                          grid()->mapToGlobal(QPointF(grid()->cellRect(6, 6).center())), Qt::NoButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(grid(), &empty);
        QCOMPARE(grid()->dayAt(grid()->selectedRow(), grid()->selectedCol()), 10);
        QTest::mouseRelease(grid(), Qt::LeftButton, {}, grid()->cellRect(6, 6).center());
        QVERIFY(!cal->isVisible());
        QCOMPARE(grid()->date(), D("10.12.2026"));
    }

    void navigationKeys_data()
    {
        QTest::addColumn<QDate>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QDate>("to");
        // December 2026: Tue 1 .. Thu 31, rows 1..5.
        QTest::newRow("right: next day") << D("07.12.2026") << int(Qt::Key_Right) << true << D("08.12.2026");
        QTest::newRow("down: a week on") << D("07.12.2026") << int(Qt::Key_Down) << true << D("14.12.2026");
        QTest::newRow("up: a week back") << D("14.12.2026") << int(Qt::Key_Up) << true << D("07.12.2026");
        QTest::newRow("end of the row") << D("08.12.2026") << int(Qt::Key_End) << true << D("13.12.2026");
        QTest::newRow("left onto an empty cell") << D("01.12.2026") << int(Qt::Key_Left) << true << D("01.12.2026");
        QTest::newRow("down onto an empty cell") << D("31.12.2026") << int(Qt::Key_Down) << true << D("31.12.2026");
        QTest::newRow("up into the header") << D("03.12.2026") << int(Qt::Key_Up) << false << D("03.12.2026");
        QTest::newRow("left past the edge") << D("07.12.2026") << int(Qt::Key_Left) << false << D("07.12.2026");
        QTest::newRow("right past the edge") << D("06.12.2026") << int(Qt::Key_Right) << false << D("06.12.2026");
        QTest::newRow("down past the edge") << D("30.03.2026") << int(Qt::Key_Down) << false << D("30.03.2026");
        QTest::newRow("enter does nothing") << D("07.12.2026") << int(Qt::Key_Return) << false << D("07.12.2026");
        QTest::newRow("escape does nothing") << D("07.12.2026") << int(Qt::Key_Escape) << false << D("07.12.2026");
    }
    void navigationKeys()
    {
        QFETCH(QDate, from);
        QFETCH(int, key);
        QFETCH(bool, closes);
        QFETCH(QDate, to);
        open(from);
        QTest::keyClick(grid(), Qt::Key(key));
        QCOMPARE(!cal->isVisible(), closes);
        if (closes)
            QCOMPARE(cal->result(), int(QDialog::Accepted));
        QCOMPARE(grid()->date(), to);
        QCOMPARE(grid()->dayAt(grid()->selectedRow(), grid()->selectedCol()), to.day());
    }

    void closeBoxCancels()
    {
        cal = std::make_unique<TFCal>();
        grid()->setDate(D("07.12.2026"));
        test::onNextModal([this](QWidget *w) {
            QTest::keyClick(grid(), Qt::Key_Escape); // no effect of its own
            QVERIFY(w->isVisible());
            w->close();
        });
        QCOMPARE(cal->exec(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(TestFCal)
#include "test_periodcalendar.moc"
