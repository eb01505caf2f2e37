#include "common/core/clock.h"
#include "common/core/formats.h"
#include "period/core/periodrules.h"
#include "period/ui/calendargrid.h"
#include "period/ui/dateedit.h"
#include "period/ui/fcal.h"
#include "period/ui/formc.h"
#include "period/ui/updown.h"
#include "period/ui/zeperiod.h"
#include "testsupport_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <memory>

using namespace bilmeko;

namespace {

QDate D(const char *text)
{
    return QDate::fromString(QString::fromLatin1(text), QStringLiteral("dd.MM.yyyy"));
}

QString status(const char *beg, const char *end)
{
    return QStringLiteral("Выбран интервал с %1 по %2").arg(QLatin1String(beg), QLatin1String(end));
}

const char *const Modes[] = {"Квартал", "Месяц", "День", "Интервал"};

} // namespace

class TestFormC : public QObject
{
    Q_OBJECT
    FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 0))};
    std::unique_ptr<ScopedClock> scoped;
    std::unique_ptr<TFormC> form;

    template <typename T = QWidget> T *w(const char *name) const
    {
        T *found = form->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    QString statusText() const { return w<QLabel>("StatusS")->text(); }
    QString text(const char *edit) const
    {
        if (auto *d = qobject_cast<DateEdit *>(w(edit)))
            return d->editText();
        return w<QLineEdit>(edit)->text();
    }

    // The dialog as Execute prepares it, shown (not modal).
    void open(const QDate &beg, const QDate &end)
    {
        form = std::make_unique<TFormC>();
        form->setDateBeg(dateValue(beg));
        form->setDateEnd(dateValue(end));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    void open(const QDate &day) { open(day, day); }

    void mode(int index)
    {
        QRadioButton *item = w<QRadioButton>(QStringLiteral("VidItem%1").arg(index).toLatin1().constData());
        QTest::mouseClick(item, Qt::LeftButton, {}, QPoint(8, item->height() / 2));
        QVERIFY(item->isChecked());
    }
    void click(const char *name)
    {
        QWidget *c = w(name);
        if (qobject_cast<QCheckBox *>(c))
            QTest::mouseClick(c, Qt::LeftButton, {}, QPoint(7, c->height() / 2));
        else
            QTest::mouseClick(c, Qt::LeftButton);
    }
    void arrow(const char *upDown, bool up)
    {
        auto *u = w<UpDown>(upDown);
        QTest::mouseClick(u, Qt::LeftButton, {}, (up ? u->upRect() : u->downRect()).center());
    }
    void type(const char *edit, const QString &keys)
    {
        auto *e = w<DateEdit>(edit);
        e->setFocus(Qt::TabFocusReason);
        QVERIFY(e->hasFocus());
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        e->setCursorPosition(0);
        if (!keys.isEmpty())
            QTest::keyClicks(e, keys);
    }
    QList<bool> checks() const
    {
        return {w<QCheckBox>("YearCh")->isChecked(), w<QCheckBox>("KvartCh")->isChecked(),
                w<QCheckBox>("MonthCh")->isChecked(), w<QCheckBox>("DayCh")->isChecked()};
    }

private slots:
    void initTestCase() { test::pinRussian(); }
    void init() { scoped = std::make_unique<ScopedClock>(&clock); }
    void cleanup()
    {
        form.reset();
        scoped.reset();
    }

    // ---- the dialog as it opens ----

    void layoutAndStateOnOpening()
    {
        open(D("01.04.2026"), D("30.06.2026"));
        QCOMPARE(form->objectName(), QStringLiteral("FormC"));
        QCOMPARE(form->windowTitle(), QStringLiteral("Выбор периода"));
        QCOMPARE(form->size(), QSize(445, 185));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QCOMPARE(form->font().pixelSize(), 11);
        struct Place
        {
            const char *name;
            QRect rect;
        };
        const Place places[] = {
            {"Bevel1", {8, 8, 425, 17}},    {"StatusS", {11, 8, 421, 13}},   {"Vid", {8, 28, 82, 133}},
            {"KvartE", {112, 48, 105, 21}}, {"KvartUp", {216, 48, 17, 21}},  {"MonthYear", {112, 72, 105, 21}},
            {"MonthUP", {216, 72, 17, 21}}, {"DayOne", {112, 96, 105, 21}},  {"DayOneSP", {218, 96, 13, 21}},
            {"DayB", {112, 128, 105, 21}},  {"DayBSP", {219, 128, 13, 21}},  {"DayE", {112, 152, 105, 21}},
            {"DayESP", {219, 152, 13, 21}}, {"BitBtn1", {256, 152, 81, 25}}, {"BitBtn2", {352, 152, 81, 25}},
        };
        for (const Place &p : places)
            QVERIFY2(w(p.name)->geometry() == p.rect, p.name);
        QCOMPARE(w("Label1")->pos(), QPoint(96, 128));
        QCOMPARE(w<QLabel>("Label1")->text(), QStringLiteral("C"));
        QCOMPARE(w("Label2")->pos(), QPoint(96, 152));
        QCOMPARE(w<QLabel>("Label2")->text(), QStringLiteral("по"));
        // The boxes start at their places and are wide enough for their texts.
        const std::pair<const char *, QPoint> boxes[]
            = {{"YearCh", {240, 48}}, {"KvartCh", {240, 74}}, {"MonthCh", {240, 99}}, {"DayCh", {240, 128}}};
        for (const auto &[name, at] : boxes) {
            auto *b = w<QCheckBox>(name);
            QCOMPARE(b->pos(), at);
            QVERIFY2(b->width() >= b->sizeHint().width(), name);
            QVERIFY(b->isEnabled());
            QVERIFY(!b->isChecked());
            QVERIFY(b->geometry().right() < form->width());
        }
        QCOMPARE(w<QPushButton>("BitBtn1")->text(), QStringLiteral("OK"));
        QCOMPARE(w<QPushButton>("BitBtn2")->text(), QStringLiteral("Отмена"));
        QVERIFY(w<QPushButton>("BitBtn1")->isDefault());
        QVERIFY(w("BitBtn1")->hasFocus());
        QVERIFY(w<QRadioButton>("VidItem2")->isChecked());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(w<QRadioButton>(QStringLiteral("VidItem%1").arg(i).toLatin1().constData())->text(),
                     QString::fromUtf8(Modes[i]));

        const QColor face = form->palette().color(QPalette::Button);
        const QColor window = form->palette().color(QPalette::Base);
        for (const char *name : {"KvartE", "MonthYear", "DayB", "DayE"}) {
            QVERIFY2(!w(name)->isEnabled(), name);
            QVERIFY2(w(name)->palette().color(QPalette::Base) == face, name);
        }
        QVERIFY(w("DayOne")->isEnabled());
        QCOMPARE(w("DayOne")->palette().color(QPalette::Base), window);
        QVERIFY(w<QLineEdit>("KvartE")->isReadOnly());
        QVERIFY(w<QLineEdit>("MonthYear")->isReadOnly());
        for (const char *name : {"KvartUp", "MonthUP", "DayBSP", "DayESP"})
            QVERIFY2(!w(name)->isEnabled(), name);
        QVERIFY(w("DayOneSP")->isEnabled());
        for (const char *name : {"DayOneSP", "DayBSP", "DayESP"})
            QCOMPARE(w(name)->focusPolicy(), Qt::NoFocus);
        QCOMPARE(w<UpDown>("MonthUP")->position(), 0);
        QCOMPARE(w<UpDown>("MonthUP")->minimum(), -32000);
        QCOMPARE(w<UpDown>("KvartUp")->maximum(), 32000);
    }

    void tabOrder()
    {
        open(D("01.04.2026"));
        const char *order[] = {"BitBtn1", "BitBtn2", "VidItem0", "MonthUP", "MonthYear", "KvartE", "KvartUp",
                               "YearCh",  "KvartCh", "MonthCh",  "DayOne",  "DayB",      "DayE",   "DayCh"};
        QStringList chain;
        QWidget *at = w("BitBtn1");
        do {
            chain << at->objectName();
            at = at->nextInFocusChain();
        } while (at != w("BitBtn1") && chain.size() < 100);
        int last = -1;
        for (const char *name : order) {
            const int i = static_cast<int>(chain.indexOf(QString::fromLatin1(name)));
            QVERIFY2(i > last, name);
            last = i;
        }
    }

    // ---- the component ----

    void firstUseOpensOnToday_data()
    {
        QTest::addColumn<double>("beg");
        QTest::addColumn<double>("end");
        QTest::newRow("both 0") << 0.0 << 0.0;
        QTest::newRow("start 0") << 0.0 << dateValue(D("30.06.2026"));
        QTest::newRow("end 0") << dateValue(D("01.04.2026")) << 0.0;
    }
    void firstUseOpensOnToday()
    {
        QFETCH(double, beg);
        QFETCH(double, end);
        TZePeriod period;
        period.setDateBeg(beg);
        period.setDateEnd(end);
        QString shown, day;
        test::onNextModal([&](QWidget *dlg) {
            shown = dlg->findChild<QLabel *>(QStringLiteral("StatusS"))->text();
            day = dlg->findChild<DateEdit *>(QStringLiteral("DayOne"))->editText();
            dlg->findChild<QPushButton *>(QStringLiteral("BitBtn1"))->click();
        });
        QVERIFY(period.Execute());
        QCOMPARE(shown, status("07.12.2026", "07.12.2026"));
        QCOMPARE(day, QStringLiteral("07.12.2026"));
        QCOMPARE(period.DateBeg(), dateValue(D("07.12.2026")));
        QCOMPARE(period.DateEnd(), dateValue(D("07.12.2026")));
    }

    void reopeningShowsTheLastPeriod()
    {
        TZePeriod period;
        period.setDateBeg(dateValue(D("01.04.2026")));
        period.setDateEnd(dateValue(D("30.06.2026")));
        QStringList texts;
        int selected = -1;
        test::onNextModal([&](QWidget *dlg) {
            for (const char *name : {"DayOne", "DayB", "DayE"})
                texts << dlg->findChild<DateEdit *>(QString::fromLatin1(name))->editText();
            for (const char *name : {"MonthYear", "KvartE"})
                texts << dlg->findChild<QLineEdit *>(QString::fromLatin1(name))->text();
            texts << dlg->findChild<QLabel *>(QStringLiteral("StatusS"))->text();
            selected = dlg->findChild<RadioGroup *>(QStringLiteral("Vid"))->itemIndex();
            QTest::keyClick(dlg, Qt::Key_Return); // OK holds the focus
        });
        QVERIFY(period.Execute());
        QCOMPARE(texts,
                 (QStringList{"01.04.2026", "01.04.2026", "30.06.2026", "Апрель 2026", "2 Квартал 2026",
                              status("01.04.2026", "01.04.2026")}));
        QCOMPARE(selected, int(TFormC::Day));
        QCOMPARE(period.DateBeg(), dateValue(D("01.04.2026")));
        QCOMPARE(period.DateEnd(), dateValue(D("01.04.2026")));
    }

    void leavingWithoutOkKeepsTheBounds_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Отмена") << "cancel";
        QTest::newRow("Esc") << "esc";
        QTest::newRow("close box") << "close";
    }
    void leavingWithoutOkKeepsTheBounds()
    {
        QFETCH(QString, how);
        TZePeriod period;
        period.setDateBeg(dateValue(D("01.04.2026")));
        period.setDateEnd(dateValue(D("30.06.2026")));
        test::onNextModal([&](QWidget *dlg) {
            auto *month = dlg->findChild<QRadioButton *>(QStringLiteral("VidItem1"));
            QTest::mouseClick(month, Qt::LeftButton, {}, QPoint(8, month->height() / 2));
            if (how == QLatin1String("cancel"))
                QTest::mouseClick(dlg->findChild<QPushButton *>(QStringLiteral("BitBtn2")), Qt::LeftButton);
            else if (how == QLatin1String("esc"))
                QTest::keyClick(dlg->focusWidget(), Qt::Key_Escape);
            else
                dlg->close();
        });
        QVERIFY(!period.Execute());
        QCOMPARE(period.DateBeg(), dateValue(D("01.04.2026")));
        QCOMPARE(period.DateEnd(), dateValue(D("30.06.2026")));
    }

    void okReturnsWhatTheStatusLineShows()
    {
        TZePeriod period;
        period.setDateBeg(dateValue(D("15.05.2026")));
        period.setDateEnd(dateValue(D("15.05.2026")));
        test::onNextModal([&](QWidget *dlg) {
            auto *quarter = dlg->findChild<QRadioButton *>(QStringLiteral("VidItem0"));
            QTest::mouseClick(quarter, Qt::LeftButton, {}, QPoint(8, quarter->height() / 2));
            dlg->findChild<QPushButton *>(QStringLiteral("BitBtn1"))->click();
        });
        QVERIFY(period.Execute());
        QCOMPARE(period.DateBeg(), dateValue(D("01.04.2026")));
        QCOMPARE(period.DateEnd(), dateValue(D("30.06.2026")));
    }

    // ---- navigators ----

    void quarterStepping()
    {
        open(D("15.11.2026"));
        mode(TFormC::Kvartal);
        QCOMPARE(text("KvartE"), QStringLiteral("4 Квартал 2026"));
        QCOMPARE(statusText(), status("01.10.2026", "31.12.2026"));
        arrow("KvartUp", true);
        QCOMPARE(text("KvartE"), QStringLiteral("1 Квартал 2027"));
        QCOMPARE(statusText(), status("01.01.2027", "31.03.2027"));
        QCOMPARE(form->DateBeg(), dateValue(D("01.01.2027")));
        QCOMPARE(form->DateEnd(), dateValue(D("31.03.2027")));
        for (int i = 0; i < 4; ++i)
            arrow("KvartUp", false);
        QCOMPARE(text("KvartE"), QStringLiteral("1 Квартал 2026"));
        arrow("KvartUp", false);
        QCOMPARE(text("KvartE"), QStringLiteral("4 Квартал 2025"));
        QCOMPARE(statusText(), status("01.10.2025", "31.12.2025"));
        // The month navigator did not move.
        QCOMPARE(text("MonthYear"), QStringLiteral("Ноябрь 2026"));
    }

    void monthStepping_data()
    {
        QTest::addColumn<QDate>("day");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QString>("month");
        QTest::addColumn<QString>("period");
        QTest::newRow("February 2028") << D("10.01.2028") << true << "Февраль 2028"
                                       << status("01.02.2028", "29.02.2028");
        QTest::newRow("February 2026") << D("10.03.2026") << false << "Февраль 2026"
                                       << status("01.02.2026", "28.02.2026");
        QTest::newRow("February 2100") << D("10.01.2100") << true << "Февраль 2100"
                                       << status("01.02.2100", "28.02.2100");
        QTest::newRow("December 2026 up")
            << D("10.12.2026") << true << "Январь 2027" << status("01.01.2027", "31.01.2027");
        QTest::newRow("January 2027 down")
            << D("10.01.2027") << false << "Декабрь 2026" << status("01.12.2026", "31.12.2026");
    }
    void monthStepping()
    {
        QFETCH(QDate, day);
        QFETCH(bool, up);
        QFETCH(QString, month);
        QFETCH(QString, period);
        open(day);
        mode(TFormC::Month);
        arrow("MonthUP", up);
        QCOMPARE(text("MonthYear"), month);
        QCOMPARE(statusText(), period);
        QCOMPARE(text("KvartE"), quarterText(quarterOfMonth(day.month()), day.year()));
    }

    void stepsBeyondTheYearsFailAndMoveNothing_data()
    {
        QTest::addColumn<QDate>("day");
        QTest::addColumn<int>("vid");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QString>("navigator");
        QTest::newRow("month past 9999") << D("15.12.9999") << int(TFormC::Month) << true << "Декабрь 9999";
        QTest::newRow("month before 1") << D("15.01.0001") << int(TFormC::Month) << false << "Январь 1";
        QTest::newRow("quarter past 9999") << D("15.12.9999") << int(TFormC::Kvartal) << true << "4 Квартал 9999";
        QTest::newRow("quarter before 1") << D("15.01.0001") << int(TFormC::Kvartal) << false << "1 Квартал 1";
    }
    void stepsBeyondTheYearsFailAndMoveNothing()
    {
        QFETCH(QDate, day);
        QFETCH(int, vid);
        QFETCH(bool, up);
        QFETCH(QString, navigator);
        test::ErrorRecorder errors;
        open(day);
        mode(vid);
        const QString before = statusText();
        const char *upDown = vid == TFormC::Month ? "MonthUP" : "KvartUp";
        const char *edit = vid == TFormC::Month ? "MonthYear" : "KvartE";
        arrow(upDown, up);
        QCOMPARE(errors.messages, QStringList{QStringLiteral("Invalid argument to date encode.")});
        QCOMPARE(text(edit), navigator);
        QCOMPARE(statusText(), before);
        // The way back still works.
        arrow(upDown, !up);
        QCOMPARE(errors.messages.size(), 1);
        QVERIFY(text(edit) != navigator);
    }

    void anArrowCountsOnlyWhenItMovesThePosition()
    {
        open(D("15.05.2026"));
        mode(TFormC::Month);
        auto *u = w<UpDown>("MonthUP");
        u->setPosition(32000);
        arrow("MonthUP", true);
        QCOMPARE(text("MonthYear"), QStringLiteral("Май 2026"));
        arrow("MonthUP", false);
        QCOMPARE(text("MonthYear"), QStringLiteral("Апрель 2026"));
        QCOMPARE(u->position(), 31999);
        // The keyboard steps too.
        u->setFocus();
        QTest::keyClick(u, Qt::Key_Up);
        QCOMPARE(text("MonthYear"), QStringLiteral("Май 2026"));
    }

    // ---- start boxes ----

    void startBoxesInEachMode_data()
    {
        QTest::addColumn<int>("vid");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("period");
        // Opened on 15.05.2026 (and the interval up to 30.06.2026).
        QTest::newRow("day, year") << int(TFormC::Day) << "YearCh" << status("01.01.2026", "15.05.2026");
        QTest::newRow("day, quarter") << int(TFormC::Day) << "KvartCh" << status("01.04.2026", "15.05.2026");
        QTest::newRow("day, month") << int(TFormC::Day) << "MonthCh" << status("01.05.2026", "15.05.2026");
        QTest::newRow("day, 2000") << int(TFormC::Day) << "DayCh" << status("01.01.2000", "15.05.2026");
        QTest::newRow("month, year") << int(TFormC::Month) << "YearCh" << status("01.01.2026", "31.05.2026");
        QTest::newRow("month, quarter") << int(TFormC::Month) << "KvartCh" << status("01.04.2026", "31.05.2026");
        QTest::newRow("month, 2000") << int(TFormC::Month) << "DayCh" << status("01.01.2000", "31.05.2026");
        QTest::newRow("quarter, year") << int(TFormC::Kvartal) << "YearCh" << status("01.01.2026", "30.06.2026");
        QTest::newRow("quarter, 2000") << int(TFormC::Kvartal) << "DayCh" << status("01.01.2000", "30.06.2026");
        QTest::newRow("interval, 2000") << int(TFormC::Interval) << "DayCh" << status("01.01.2000", "30.06.2026");
    }
    void startBoxesInEachMode()
    {
        QFETCH(int, vid);
        QFETCH(QString, box);
        QFETCH(QString, period);
        open(D("15.05.2026"), D("30.06.2026"));
        mode(vid);
        QVERIFY(w(box.toLatin1().constData())->isEnabled());
        click(box.toLatin1().constData());
        QCOMPARE(statusText(), period);
        // Unchecking gives the plain period back.
        click(box.toLatin1().constData());
        const QString plain[] = {status("01.04.2026", "30.06.2026"), status("01.05.2026", "31.05.2026"),
                                 status("15.05.2026", "15.05.2026"), status("15.05.2026", "30.06.2026")};
        QCOMPARE(statusText(), plain[vid]);
    }

    void modeByKeyboard()
    {
        open(D("15.05.2026"));
        auto *day = w<QRadioButton>("VidItem2");
        day->setFocus(Qt::TabFocusReason);
        QTest::keyClick(day, Qt::Key_Up);
        QVERIFY(w<QRadioButton>("VidItem1")->isChecked());
        QVERIFY(w("MonthUP")->isEnabled());
        QCOMPARE(statusText(), status("01.05.2026", "31.05.2026"));
    }

    void escInAnUnchangedEditCancels()
    {
        open(D("15.05.2026"));
        w("DayOne")->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w("DayOne"), Qt::Key_Escape);
        QVERIFY(!form->isVisible());
        QCOMPARE(form->result(), int(QDialog::Rejected));
    }

    void enabledBoxesFollowTheMode_data()
    {
        QTest::addColumn<int>("vid");
        QTest::addColumn<QList<bool>>("enabled"); // year, quarter, month, 2000
        QTest::newRow("quarter") << int(TFormC::Kvartal) << QList<bool>{true, false, false, true};
        QTest::newRow("month") << int(TFormC::Month) << QList<bool>{true, true, false, true};
        QTest::newRow("day") << int(TFormC::Day) << QList<bool>{true, true, true, true};
        QTest::newRow("interval") << int(TFormC::Interval) << QList<bool>{false, false, false, true};
    }
    void enabledBoxesFollowTheMode()
    {
        QFETCH(int, vid);
        QFETCH(QList<bool>, enabled);
        open(D("15.05.2026"));
        mode(vid == TFormC::Day ? TFormC::Month : TFormC::Day);
        mode(vid);
        const QList<bool> now{w("YearCh")->isEnabled(), w("KvartCh")->isEnabled(), w("MonthCh")->isEnabled(),
                              w("DayCh")->isEnabled()};
        QCOMPARE(now, enabled);
        // Only the mode's own controls are open, in the window colour.
        const char *edits[] = {"KvartE", "MonthYear", "DayOne", "DayB", "DayE"};
        const QList<int> editModes{TFormC::Kvartal, TFormC::Month, TFormC::Day, TFormC::Interval, TFormC::Interval};
        for (int i = 0; i < 5; ++i) {
            const bool open = editModes[i] == vid;
            QCOMPARE(w(edits[i])->isEnabled(), open);
            QCOMPARE(w(edits[i])->palette().color(QPalette::Base),
                     form->palette().color(open ? QPalette::Base : QPalette::Button));
        }
        QCOMPARE(w("KvartUp")->isEnabled(), vid == TFormC::Kvartal);
        QCOMPARE(w("MonthUP")->isEnabled(), vid == TFormC::Month);
        QCOMPARE(w("DayOneSP")->isEnabled(), vid == TFormC::Day);
        QCOMPARE(w("DayBSP")->isEnabled(), vid == TFormC::Interval);
        QCOMPARE(w("DayESP")->isEnabled(), vid == TFormC::Interval);
    }

    void atMostOneBoxIsChecked()
    {
        open(D("15.05.2026"));
        click("YearCh");
        QCOMPARE(checks(), (QList<bool>{true, false, false, false}));
        click("KvartCh");
        QCOMPARE(checks(), (QList<bool>{false, true, false, false}));
        QCOMPARE(statusText(), status("01.04.2026", "15.05.2026"));
        click("DayCh");
        QCOMPARE(checks(), (QList<bool>{false, false, false, true}));
        click("DayCh");
        QCOMPARE(checks(), (QList<bool>{false, false, false, false}));
        QCOMPARE(statusText(), status("15.05.2026", "15.05.2026"));
        // The keyboard works the same way.
        w("MonthCh")->setFocus();
        QTest::keyClick(w("MonthCh"), Qt::Key_Space);
        QCOMPARE(checks(), (QList<bool>{false, false, true, false}));
        QCOMPARE(statusText(), status("01.05.2026", "15.05.2026"));
    }

    void modeSwitchUnchecksBoxes_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("vid");
        QTest::addColumn<bool>("survives");
        QTest::newRow("quarter drops month") << "MonthCh" << int(TFormC::Kvartal) << false;
        QTest::newRow("quarter drops quarter") << "KvartCh" << int(TFormC::Kvartal) << false;
        QTest::newRow("quarter keeps year") << "YearCh" << int(TFormC::Kvartal) << true;
        QTest::newRow("month drops month") << "MonthCh" << int(TFormC::Month) << false;
        QTest::newRow("month keeps quarter") << "KvartCh" << int(TFormC::Month) << true;
        QTest::newRow("month keeps year") << "YearCh" << int(TFormC::Month) << true;
        QTest::newRow("interval drops year") << "YearCh" << int(TFormC::Interval) << false;
        QTest::newRow("interval drops quarter") << "KvartCh" << int(TFormC::Interval) << false;
        QTest::newRow("interval drops month") << "MonthCh" << int(TFormC::Interval) << false;
        for (int vid : {TFormC::Kvartal, TFormC::Month, TFormC::Interval})
            QTest::addRow("2000 survives %s", Modes[vid]) << "DayCh" << vid << true;
    }
    void modeSwitchUnchecksBoxes()
    {
        QFETCH(QString, box);
        QFETCH(int, vid);
        QFETCH(bool, survives);
        open(D("15.05.2026"));
        click(box.toLatin1().constData());
        mode(vid);
        QCOMPARE(w<QCheckBox>(box.toLatin1().constData())->isChecked(), survives);
        mode(TFormC::Day);
        QCOMPARE(w<QCheckBox>(box.toLatin1().constData())->isChecked(), survives);
    }

    void startFrom2000WithADayIn1999()
    {
        TZePeriod period;
        period.setDateBeg(dateValue(D("15.06.1999")));
        period.setDateEnd(dateValue(D("15.06.1999")));
        QString shown;
        test::onNextModal([&](QWidget *dlg) {
            auto *box = dlg->findChild<QCheckBox *>(QStringLiteral("DayCh"));
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(7, box->height() / 2));
            shown = dlg->findChild<QLabel *>(QStringLiteral("StatusS"))->text();
            dlg->findChild<QPushButton *>(QStringLiteral("BitBtn1"))->click();
        });
        QVERIFY(period.Execute());
        QCOMPARE(shown, status("01.01.2000", "15.06.1999"));
        QCOMPARE(period.DateBeg(), dateValue(D("01.01.2000")));
        QCOMPARE(period.DateEnd(), dateValue(D("15.06.1999")));
    }

    // ---- typing and the date edits ----

    // A typed date shows in the status line once confirmed (the edit left,
    // or Enter), not while it is being typed.
    void aTypedDateCountsOnceConfirmed_data()
    {
        QTest::addColumn<int>("vid");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("leave");
        QTest::addColumn<QString>("period");
        QTest::newRow("day, Tab") << int(TFormC::Day) << "DayOne"
                                  << "Tab" << status("20.06.2026", "20.06.2026");
        QTest::newRow("day, a box") << int(TFormC::Day) << "DayOne"
                                    << "MonthCh" << status("01.06.2026", "20.06.2026");
        QTest::newRow("start, Tab") << int(TFormC::Interval) << "DayB"
                                    << "Tab" << status("20.06.2026", "30.06.2026");
        QTest::newRow("end, click on the start") << int(TFormC::Interval) << "DayE"
                                                 << "DayB" << status("15.05.2026", "20.06.2026");
    }
    void aTypedDateCountsOnceConfirmed()
    {
        QFETCH(int, vid);
        QFETCH(QString, edit);
        QFETCH(QString, leave);
        QFETCH(QString, period);
        open(D("15.05.2026"), D("30.06.2026"));
        if (vid != TFormC::Day)
            mode(vid);
        const QString before = statusText();
        const QByteArray name = edit.toLatin1();
        type(name.constData(), QStringLiteral("20062026"));
        QCOMPARE(text(name.constData()), QStringLiteral("20.06.2026"));
        QCOMPARE(statusText(), before);
        if (leave == QLatin1String("Tab"))
            QTest::keyClick(w(name.constData()), Qt::Key_Tab);
        else
            click(leave.toLatin1().constData());
        QCOMPARE(statusText(), period);
    }

    // Typed dates, then OK at once by the key or the mouse: the period is
    // exactly what was typed, and the status line shows it.
    void typedDatesAreTakenByOk_data()
    {
        QTest::addColumn<int>("vid");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("dayOne");
        QTest::addColumn<QString>("dayB");
        QTest::addColumn<QString>("dayE");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QDate>("beg");
        QTest::addColumn<QDate>("end");
        for (const char *how : {"Enter", "OK"}) {
            const QByteArray key(how);
            QTest::newRow(key + ", day") << int(TFormC::Day) << ""
                                         << "20062026"
                                         << ""
                                         << "" << how << D("20.06.2026") << D("20.06.2026");
            QTest::newRow(key + ", short day") << int(TFormC::Day) << ""
                                               << "1.3.2026"
                                               << ""
                                               << "" << how << D("01.03.2026") << D("01.03.2026");
            QTest::newRow(key + ", interval") << int(TFormC::Interval) << ""
                                              << ""
                                              << "01032026"
                                              << "20042026" << how << D("01.03.2026") << D("20.04.2026");
        }
        QTest::newRow("day from the month") << int(TFormC::Day) << "MonthCh"
                                            << "20062026"
                                            << ""
                                            << ""
                                            << "OK" << D("01.06.2026") << D("20.06.2026");
        QTest::newRow("interval end only") << int(TFormC::Interval) << ""
                                           << ""
                                           << ""
                                           << "20042026"
                                           << "OK" << D("15.05.2026") << D("20.04.2026");
        QTest::newRow("interval start from 2000") << int(TFormC::Interval) << "DayCh"
                                                  << ""
                                                  << "01032026"
                                                  << ""
                                                  << "Enter" << D("01.01.2000") << D("30.06.2026");
    }
    void typedDatesAreTakenByOk()
    {
        QFETCH(int, vid);
        QFETCH(QString, box);
        QFETCH(QString, dayOne);
        QFETCH(QString, dayB);
        QFETCH(QString, dayE);
        QFETCH(QString, how);
        QFETCH(QDate, beg);
        QFETCH(QDate, end);
        test::ErrorRecorder errors;
        open(D("15.05.2026"), D("30.06.2026"));
        if (vid != TFormC::Day)
            mode(vid);
        if (!box.isEmpty())
            click(box.toLatin1().constData());
        const char *last = nullptr;
        for (const auto &[edit, keys] : {std::pair{"DayOne", dayOne}, {"DayB", dayB}, {"DayE", dayE}}) {
            if (!keys.isEmpty()) {
                type(edit, keys);
                last = edit;
            }
        }
        QVERIFY(last);
        if (how == QLatin1String("Enter"))
            QTest::keyClick(w(last), Qt::Key_Return);
        else
            click("BitBtn1");
        QVERIFY(!form->isVisible());
        QCOMPARE(form->result(), int(QDialog::Accepted));
        QCOMPARE(form->DateBeg(), dateValue(beg));
        QCOMPARE(form->DateEnd(), dateValue(end));
        QCOMPARE(statusText(),
                 status(qPrintable(beg.toString(QStringLiteral("dd.MM.yyyy"))),
                        qPrintable(end.toString(QStringLiteral("dd.MM.yyyy")))));
        QVERIFY(errors.messages.isEmpty());
    }

    // A typed start survives a trip to another mode that comes back to an
    // end that does not exist: once the end is corrected, what the fields
    // show is the period, whether OK comes at once or after the end is
    // left.
    void typedStartSurvivesAModeTripWithABadEnd_data()
    {
        QTest::addColumn<bool>("leaveEnd");
        QTest::newRow("OK at once") << false;
        QTest::newRow("the end left, then OK") << true;
    }
    void typedStartSurvivesAModeTripWithABadEnd()
    {
        QFETCH(bool, leaveEnd);
        test::ErrorRecorder errors;
        open(clock.today());
        mode(TFormC::Interval);
        type("DayB", QStringLiteral("01032026"));
        QTest::keyClick(w("DayB"), Qt::Key_Tab);
        QCOMPARE(statusText(), status("01.03.2026", "07.12.2026"));
        type("DayE", QStringLiteral("31042026"));
        QTest::keyClick(w("DayE"), Qt::Key_Tab);
        mode(TFormC::Day);
        mode(TFormC::Interval);
        QCOMPARE(errors.messages, QStringList{QStringLiteral("'31.04.2026' is not a valid date.")});
        type("DayE", QStringLiteral("20042026"));
        if (leaveEnd) {
            QTest::keyClick(w("DayE"), Qt::Key_Tab);
            QCOMPARE(statusText(), status("01.03.2026", "20.04.2026"));
        }
        click("BitBtn1");
        QVERIFY(!form->isVisible());
        QCOMPARE(text("DayB"), QStringLiteral("01.03.2026"));
        QCOMPARE(text("DayE"), QStringLiteral("20.04.2026"));
        QCOMPARE(form->DateBeg(), dateValue(D("01.03.2026")));
        QCOMPARE(form->DateEnd(), dateValue(D("20.04.2026")));
        QCOMPARE(statusText(), status("01.03.2026", "20.04.2026"));
        QCOMPARE(errors.messages.size(), 1);
    }

    // Through the component, as the report command uses it.
    void executeReturnsTheTypedInterval()
    {
        TZePeriod period;
        period.setDateBeg(dateValue(D("15.05.2026")));
        period.setDateEnd(dateValue(D("15.05.2026")));
        test::onNextModal([&](QWidget *dlg) {
            auto *interval = dlg->findChild<QRadioButton *>(QStringLiteral("VidItem3"));
            QTest::mouseClick(interval, Qt::LeftButton, {}, QPoint(8, interval->height() / 2));
            for (const auto &[name, keys] : {std::pair{"DayB", "01032026"}, {"DayE", "20042026"}}) {
                auto *e = dlg->findChild<DateEdit *>(QString::fromLatin1(name));
                QTest::mouseClick(e, Qt::LeftButton, {}, QPoint(3, e->height() / 2));
                e->selectAll();
                QTest::keyClicks(e, QString::fromLatin1(keys));
            }
            QTest::mouseClick(dlg->findChild<QPushButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        });
        QVERIFY(period.Execute());
        QCOMPARE(period.DateBeg(), dateValue(D("01.03.2026")));
        QCOMPARE(period.DateEnd(), dateValue(D("20.04.2026")));
    }

    // OK refuses what leaving the edit would refuse, with the same
    // messages, and the dialog stays open with its period.
    void okRefusesWhatLeavingRefuses_data()
    {
        QTest::addColumn<int>("vid");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("message");
        const QString mask = QStringLiteral("Invalid input value.  Use escape key to abandon changes.");
        for (const char *how : {"Enter", "OK"}) {
            const QByteArray key(how);
            QTest::newRow(key + ", half-typed day") << int(TFormC::Day) << "DayOne"
                                                    << "2006" << how << mask;
            QTest::newRow(key + ", empty end") << int(TFormC::Interval) << "DayE"
                                               << "" << how << mask;
            QTest::newRow(key + ", impossible day")
                << int(TFormC::Day) << "DayOne"
                << "31022026" << how << QStringLiteral("'31.02.2026' is not a valid date.");
            QTest::newRow(key + ", impossible start")
                << int(TFormC::Interval) << "DayB"
                << "31042026" << how << QStringLiteral("'31.04.2026' is not a valid date.");
        }
    }
    void okRefusesWhatLeavingRefuses()
    {
        QFETCH(int, vid);
        QFETCH(QString, edit);
        QFETCH(QString, keys);
        QFETCH(QString, how);
        QFETCH(QString, message);
        test::ErrorRecorder errors;
        open(D("15.05.2026"), D("30.06.2026"));
        if (vid != TFormC::Day)
            mode(vid);
        const QString before = statusText();
        type(edit.toLatin1().constData(), keys);
        if (how == QLatin1String("Enter"))
            QTest::keyClick(w(edit.toLatin1().constData()), Qt::Key_Return);
        else
            click("BitBtn1");
        QTRY_COMPARE(errors.messages, QStringList{message});
        QVERIFY(form->isVisible());
        QCOMPARE(statusText(), before);
        QCOMPARE(form->DateBeg(), dateValue(D("15.05.2026")));
        // Mended, the same OK goes through.
        type(edit.toLatin1().constData(), QStringLiteral("01062026"));
        click("BitBtn1");
        QVERIFY(!form->isVisible());
        QCOMPARE(form->result(), int(QDialog::Accepted));
        QCOMPARE(errors.messages.size(), 1);
    }

    // Whatever a date edit holds, "Отмена" and the close box leave the
    // dialog at once, and Execute keeps the previous period. Esc first takes
    // back what was typed since the edit got the focus, the dialog staying
    // open; a second Esc leaves it.
    void cancellingIgnoresTheEdits_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("vid");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("keys");
        for (const char *how : {"Отмена", "Esc", "close box"}) {
            const QByteArray key(how);
            QTest::newRow(key + ", half-typed day") << how << int(TFormC::Day) << "DayOne"
                                                    << "2006";
            QTest::newRow(key + ", emptied day") << how << int(TFormC::Day) << "DayOne"
                                                 << "";
            QTest::newRow(key + ", half-typed end") << how << int(TFormC::Interval) << "DayE"
                                                    << "0104";
            QTest::newRow(key + ", typed start") << how << int(TFormC::Interval) << "DayB"
                                                 << "01032026";
        }
    }
    void cancellingIgnoresTheEdits()
    {
        QFETCH(QString, how);
        QFETCH(int, vid);
        QFETCH(QString, edit);
        QFETCH(QString, keys);
        test::ErrorRecorder errors;
        TZePeriod period;
        period.setDateBeg(dateValue(D("01.04.2026")));
        period.setDateEnd(dateValue(D("30.06.2026")));
        bool stillOpen = true;
        test::onNextModal([&](QWidget *dlg) {
            if (vid == TFormC::Interval) {
                auto *item = dlg->findChild<QRadioButton *>(QStringLiteral("VidItem3"));
                QTest::mouseClick(item, Qt::LeftButton, {}, QPoint(8, item->height() / 2));
            }
            auto *e = dlg->findChild<DateEdit *>(edit);
            e->setFocus(Qt::TabFocusReason);
            e->selectAll();
            QTest::keyClick(e, Qt::Key_Delete);
            e->setCursorPosition(0);
            QTest::keyClicks(e, keys);
            if (how == QLatin1String("Отмена"))
                QTest::mouseClick(dlg->findChild<QPushButton *>(QStringLiteral("BitBtn2")), Qt::LeftButton);
            else if (how == QLatin1String("Esc")) {
                const QString onFocus = vid == TFormC::Interval && edit == QLatin1String("DayE")
                    ? QStringLiteral("30.06.2026")
                    : QStringLiteral("01.04.2026");
                QTest::keyClick(e, Qt::Key_Escape);
                QVERIFY(dlg->isVisible());
                QCOMPARE(e->editText(), onFocus);
                QCOMPARE(QApplication::focusWidget(), e);
                QVERIFY(!e->halfTyped());
                QTest::keyClick(e, Qt::Key_Escape);
            } else {
                dlg->close();
            }
            stillOpen = dlg->isVisible();
        });
        QVERIFY(!period.Execute());
        QVERIFY(!stillOpen);
        QCOMPARE(period.DateBeg(), dateValue(D("01.04.2026")));
        QCOMPARE(period.DateEnd(), dateValue(D("30.06.2026")));
        QTest::qWait(10);
        QVERIFY2(errors.messages.isEmpty(), qPrintable(errors.messages.join(QLatin1Char('\n'))));
    }

    void shortFormsAreRead()
    {
        open(D("15.05.2026"));
        type("DayOne", QStringLiteral("1.2.2026"));
        QCOMPARE(text("DayOne"), QStringLiteral(" 1. 2.2026"));
        click("MonthCh");
        click("MonthCh");
        QCOMPARE(statusText(), status("01.02.2026", "01.02.2026"));
    }

    void anImpossibleDateIsReportedWhenRead()
    {
        test::ErrorRecorder errors;
        open(D("15.05.2026"));
        type("DayOne", QStringLiteral("31022026"));
        mode(TFormC::Month);
        QCOMPARE(statusText(), status("01.05.2026", "31.05.2026"));
        QVERIFY(errors.messages.isEmpty());
        mode(TFormC::Day);
        QCOMPARE(errors.messages, QStringList{QStringLiteral("'31.02.2026' is not a valid date.")});
        QCOMPARE(statusText(), status("01.05.2026", "31.05.2026"));
        QCOMPARE(form->DateBeg(), dateValue(D("01.05.2026")));
        // The mode's controls were opened before the failure.
        QVERIFY(w("DayOne")->isEnabled());
        QVERIFY(form->isVisible());
    }

    void leavingAnEditWithItsMaskUnsatisfied()
    {
        test::ErrorRecorder errors;
        open(D("15.05.2026"));
        auto *e = w<DateEdit>("DayOne");
        type("DayOne", QString());
        QCOMPARE(e->editText(), QStringLiteral("  .  .    "));
        QTest::keyClick(e, Qt::Key_Tab);
        QTRY_COMPARE(errors.messages,
                     QStringList{QStringLiteral("Invalid input value.  Use escape key to abandon changes.")});
        QVERIFY(e->hasFocus());
        // A click on another control is refused the same way, and does not act.
        click("MonthCh");
        QTRY_COMPARE(errors.messages.size(), 2);
        QVERIFY(!w<QCheckBox>("MonthCh")->isChecked());
        QVERIFY(form->isVisible());
        QVERIFY(e->hasFocus());
        // A whole date may leave.
        QTest::keyClicks(e, QStringLiteral("01062026"));
        QTest::keyClick(e, Qt::Key_Tab);
        QVERIFY(!e->hasFocus());
        QTest::qWait(10);
        QCOMPARE(errors.messages.size(), 2);
    }

    void aFullEditMayBeLeft()
    {
        test::ErrorRecorder errors;
        open(D("15.05.2026"));
        type("DayOne", QStringLiteral("0101"));
        QTest::keyClicks(w("DayOne"), QStringLiteral("2027"));
        QTest::keyClick(w("DayOne"), Qt::Key_Tab);
        QVERIFY(!w("DayOne")->hasFocus());
        QTest::qWait(10);
        QVERIFY(errors.messages.isEmpty());
        QTest::keyClick(form->focusWidget(), Qt::Key_Escape);
        QVERIFY(!form->isVisible());
        QCOMPARE(form->result(), int(QDialog::Rejected));
    }

    void anEmptyEditOpensNoCalendar()
    {
        test::ErrorRecorder errors;
        open(D("15.05.2026"));
        type("DayOne", QString());
        bool calendarSeen = false;
        test::onNextModal(
            [&](QWidget *m) {
                calendarSeen = true;
                m->close();
            },
            300);
        click("DayOneSP");
        QCOMPARE(errors.messages, QStringList{QStringLiteral("'  .  .    ' is not a valid date.")});
        QTest::qWait(400);
        QVERIFY(!calendarSeen);
        QVERIFY(w("DayOne")->hasFocus());
    }

    void intervalWithABadEndKeepsThePeriodWhole()
    {
        test::ErrorRecorder errors;
        open(D("15.05.2026"), D("30.06.2026"));
        mode(TFormC::Interval);
        QCOMPARE(statusText(), status("15.05.2026", "30.06.2026"));
        type("DayB", QStringLiteral("01042026"));
        type("DayE", QStringLiteral("31042026"));
        QCOMPARE(statusText(), status("01.04.2026", "30.06.2026")); // the start, confirmed
        click("DayCh");
        QCOMPARE(errors.messages, QStringList{QStringLiteral("'31.04.2026' is not a valid date.")});
        QCOMPARE(statusText(), status("01.04.2026", "30.06.2026"));
        QCOMPARE(form->DateBeg(), dateValue(D("01.04.2026")));
        QCOMPARE(form->DateEnd(), dateValue(D("30.06.2026")));
    }

    void anIntervalBackwardsIsAccepted()
    {
        open(D("15.05.2026"), D("01.05.2026"));
        mode(TFormC::Interval);
        QCOMPARE(statusText(), status("15.05.2026", "01.05.2026"));
    }

    // ---- calendar picks ----

    void pickingADay_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("vid");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("period");
        QTest::newRow("day") << "DayOneSP" << int(TFormC::Day) << ""
                             << "20.05.2026" << status("20.05.2026", "20.05.2026");
        QTest::newRow("day from the month") << "DayOneSP" << int(TFormC::Day) << "MonthCh"
                                            << "20.05.2026" << status("01.05.2026", "20.05.2026");
        QTest::newRow("interval start, no adjustment") << "DayBSP" << int(TFormC::Interval) << "DayCh"
                                                       << "20.05.2026" << status("20.05.2026", "30.06.2026");
        QTest::newRow("interval end") << "DayESP" << int(TFormC::Interval) << ""
                                      << "20.06.2026" << status("15.05.2026", "20.06.2026");
    }
    void pickingADay()
    {
        QFETCH(QString, button);
        QFETCH(int, vid);
        QFETCH(QString, box);
        QFETCH(QString, edit);
        QFETCH(QString, period);
        open(D("15.05.2026"), D("30.06.2026"));
        mode(vid);
        if (!box.isEmpty())
            click(box.toLatin1().constData());
        QDate shownOnOpening;
        QString panel;
        test::onNextModal([&](QWidget *m) {
            auto *cal = qobject_cast<TFCal *>(m);
            QVERIFY(cal);
            auto *grid = cal->findChild<CalendarGrid *>(QStringLiteral("Calendar1"));
            shownOnOpening = grid->date();
            panel = cal->panelText();
            const MonthLayout l(grid->date(), 1);
            QTest::mouseClick(grid, Qt::LeftButton, {}, grid->cellRect(l.rowOf(20), l.colOf(20)).center());
        });
        click(button.toLatin1().constData());
        const QDate expectedOpening = button == QLatin1String("DayESP") ? D("30.06.2026") : D("15.05.2026");
        QCOMPARE(shownOnOpening, expectedOpening);
        QCOMPARE(panel, monthText(expectedOpening.month(), 2026));
        const char *editName = button == QLatin1String("DayOneSP") ? "DayOne"
            : button == QLatin1String("DayBSP")                    ? "DayB"
                                                                   : "DayE";
        QCOMPARE(text(editName), edit);
        QCOMPARE(statusText(), period);
    }

    // The second click of a double click on a day comes after the pop-up
    // has closed, where the first one was: on an 800 x 600 screen that is
    // over "С начала месяца", which it must not tick. A click after the
    // double-click time works again.
    void secondClickOfADoubleClickOnADayDoesNothing()
    {
        open(D("15.05.2026"));
        form->move((QPoint(800, 600) - QPoint(form->width(), form->height())) / 2); // centred on 800 x 600
        auto *monthBox = w<QCheckBox>("MonthCh");
        QPoint at;
        test::onNextModal([&](QWidget *m) {
            auto *grid = m->findChild<CalendarGrid *>(QStringLiteral("Calendar1"));
            const MonthLayout l(grid->date(), 1);
            for (int day = 1; day <= 31 && at.isNull(); ++day) {
                const QPoint centre = grid->cellRect(l.rowOf(day), l.colOf(day)).center();
                if (monthBox->rect().contains(monthBox->mapFromGlobal(grid->mapToGlobal(centre)))) {
                    at = grid->mapToGlobal(centre);
                    QTest::mouseClick(grid, Qt::LeftButton, {}, centre);
                }
            }
            if (m->isVisible())
                m->close();
        });
        click("DayOneSP");
        QVERIFY2(!at.isNull(), "no day of the pop-up lies over the box");
        const QString picked = statusText();
        QTest::mouseClick(monthBox, Qt::LeftButton, {}, monthBox->mapFromGlobal(at));
        QVERIFY(!monthBox->isChecked());
        QCOMPARE(statusText(), picked);
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QTest::mouseClick(monthBox, Qt::LeftButton, {}, monthBox->mapFromGlobal(at));
        QVERIFY(monthBox->isChecked());
    }

    void theStartFrom2000ComesBackOnASwitch()
    {
        open(D("15.05.2026"), D("30.06.2026"));
        mode(TFormC::Interval);
        click("DayCh");
        test::onNextModal([&](QWidget *m) {
            auto *grid = m->findChild<CalendarGrid *>(QStringLiteral("Calendar1"));
            QTest::keyClick(grid, Qt::Key_Right); // one day on, picked at once
        });
        click("DayBSP");
        QCOMPARE(statusText(), status("16.05.2026", "30.06.2026"));
        mode(TFormC::Day);
        mode(TFormC::Interval);
        QCOMPARE(statusText(), status("01.01.2000", "30.06.2026"));
    }

    void closingTheCalendarChangesNothing()
    {
        open(D("15.05.2026"));
        test::onNextModal([&](QWidget *m) {
            auto *grid = m->findChild<CalendarGrid *>(QStringLiteral("Calendar1"));
            m->findChild<QToolButton *>(QStringLiteral("ToolButton9"))->click();
            QCOMPARE(grid->date(), D("15.06.2026"));
            m->close();
        });
        click("DayOneSP");
        QCOMPARE(text("DayOne"), QStringLiteral("15.05.2026"));
        QCOMPARE(statusText(), status("15.05.2026", "15.05.2026"));
        QVERIFY(form->isVisible());
    }
};

QTEST_MAIN(TestFormC)
#include "test_perioddialog.moc"
