#include "fcal.h"

#include "calendargrid.h"
#include "common/core/clock.h"
#include "common/core/errors.h"
#include "period/core/periodrules.h"
#include "periodfont.h"

#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QToolButton>
#include <qdrawutil.h>

namespace bilmeko {

namespace {

constexpr int ClientSize = 157;
constexpr int ToolBarHeight = 21;
constexpr int PanelHeight = 20;
constexpr int ButtonWidth = 23;
constexpr int ButtonHeight = 16;
constexpr int SeparatorWidth = 8;

} // namespace

QPixmap calendarGlyph(int index)
{
    QPixmap pm(16, 10);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    // A solid chevron 5 wide and 9 high with its point at x.
    const auto left = [&](int x) { p.drawPolygon(QPolygon({QPoint(x, 5), QPoint(x + 5, 0), QPoint(x + 5, 10)})); };
    const auto right = [&](int x) { p.drawPolygon(QPolygon({QPoint(x, 5), QPoint(x - 5, 0), QPoint(x - 5, 10)})); };
    switch (index) {
    case 0:
        left(2);
        left(8);
        break;
    case 1: left(5); break;
    case 2:
        p.drawPolygon(QPolygon({QPoint(3, 1), QPoint(13, 1), QPoint(8, 6)}));
        p.drawRect(3, 8, 10, 1);
        break;
    case 3: right(10); break;
    case 4:
        right(8);
        right(14);
        break;
    default: break;
    }
    return pm;
}

void BevelPanel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    qDrawShadePanel(&p, rect(), palette(), false, 1);
    qDrawShadePanel(&p, rect().adjusted(1, 1, -1, -1), palette(), true, 1);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), Qt::AlignCenter, text());
}

TFCal::TFCal(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FCal"));
    setWindowTitle(QStringLiteral("Календарь"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFont(periodFont());
    setFixedSize(ClientSize, ClientSize);
    move(433, 187);

    ToolBar1 = new QWidget(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setGeometry(0, 0, ClientSize, ToolBarHeight);
    int x = 0;
    addSeparator(ToolBar1, "ToolButton2", x);
    x += SeparatorWidth;
    connect(addButton(ToolBar1, "ToolButton1", x, 0), &QToolButton::clicked, this, &TFCal::ToolButton1Click);
    x += ButtonWidth;
    connect(addButton(ToolBar1, "ToolButton3", x, 1), &QToolButton::clicked, this, &TFCal::ToolButton3Click);
    x += ButtonWidth;
    addSeparator(ToolBar1, "ToolButton4", x);
    x += SeparatorWidth;
    ToolButton6 = addButton(ToolBar1, "ToolButton6", x, 2);
    connect(ToolButton6, &QToolButton::clicked, this, &TFCal::ToolButton6Click);
    x += ButtonWidth;
    addSeparator(ToolBar1, "ToolButton8", x);
    x += SeparatorWidth;
    connect(addButton(ToolBar1, "ToolButton9", x, 3), &QToolButton::clicked, this, &TFCal::ToolButton9Click);
    x += ButtonWidth;
    connect(addButton(ToolBar1, "ToolButton10", x, 4), &QToolButton::clicked, this, &TFCal::ToolButton10Click);
    x += ButtonWidth;
    addSeparator(ToolBar1, "ToolButton11", x);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->setFont(font()); // a pop-up window does not inherit it
    const auto item = [&](const char *name, const QString &text, void (TFCal::*handler)()) {
        QAction *a = PopupMenu1->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, handler);
    };
    const auto separator
        = [&](const char *name) { PopupMenu1->addSeparator()->setObjectName(QString::fromLatin1(name)); };
    item("N1", QStringLiteral("Текущая дата"), &TFCal::N1Click);
    separator("N2");
    item("N3", QStringLiteral("Начало месяца"), &TFCal::N3Click);
    item("N4", QStringLiteral("Конец месяца"), &TFCal::N4Click);
    separator("N5");
    item("N6", QStringLiteral("Начало года"), &TFCal::N6Click);
    item("N7", QStringLiteral("Конец года"), &TFCal::N7Click);

    Panel1 = new BevelPanel(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, ToolBarHeight, ClientSize, PanelHeight);
    QFont bold = font();
    bold.setBold(true);
    Panel1->setFont(bold);
    Panel1->setAlignment(Qt::AlignCenter);

    Calendar1 = new CalendarGrid(this);
    Calendar1->setObjectName(QStringLiteral("Calendar1"));
    Calendar1->setGeometry(0, ToolBarHeight + PanelHeight, ClientSize, ClientSize - ToolBarHeight - PanelHeight);
    QFont small = font();
    small.setPixelSize(calendarFontPixels());
    Calendar1->setFont(small);
    Calendar1->setStartOfWeek(1);
    connect(Calendar1, &CalendarGrid::changed, this, &TFCal::Calendar1Change);
    connect(Calendar1, &CalendarGrid::clicked, this, &TFCal::Calendar1Click);
    Calendar1Change();
    Calendar1->setFocus();
}

QToolButton *TFCal::addButton(QWidget *bar, const char *name, int x, int glyph)
{
    auto *b = new QToolButton(bar);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setIcon(QIcon(calendarGlyph(glyph)));
    b->setIconSize(QSize(16, 10));
    b->setGeometry(x, 2, ButtonWidth, ButtonHeight);
    return b;
}

void TFCal::addSeparator(QWidget *bar, const char *name, int x)
{
    auto *s = new QWidget(bar);
    s->setObjectName(QString::fromLatin1(name));
    s->setGeometry(x, 2, SeparatorWidth, ButtonHeight);
}

QString TFCal::panelText() const
{
    return Panel1->text();
}

void TFCal::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    Calendar1->setFocus();
}

void TFCal::keyPressEvent(QKeyEvent *e)
{
    // No OK or Cancel button here: Enter and Esc do nothing.
    switch (e->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter: e->accept(); return;
    default: QDialog::keyPressEvent(e);
    }
}

void TFCal::Calendar1Change()
{
    guard([&] { Panel1->setText(monthText(Calendar1->month(), Calendar1->year())); });
}

void TFCal::Calendar1Click()
{
    guard([&] { accept(); });
}

void TFCal::ToolButton1Click()
{
    guard([&] { Calendar1->prevYear(); });
}

void TFCal::ToolButton3Click()
{
    guard([&] { Calendar1->prevMonth(); });
}

void TFCal::ToolButton6Click()
{
    guard([&] {
        // The menu drops down centred under the button.
        const QPoint below = ToolButton6->mapToGlobal(QPoint(ToolButton6->width() / 2, ToolButton6->height()));
        PopupMenu1->popup(below - QPoint(PopupMenu1->sizeHint().width() / 2, 0));
    });
}

void TFCal::ToolButton9Click()
{
    guard([&] { Calendar1->nextMonth(); });
}

void TFCal::ToolButton10Click()
{
    guard([&] { Calendar1->nextYear(); });
}

void TFCal::N1Click()
{
    guard([&] { Calendar1->setDate(Clock::current().today()); });
}

void TFCal::N3Click()
{
    guard([&] { Calendar1->setDay(1); });
}

void TFCal::N4Click()
{
    guard([&] {
        const int month = Calendar1->month();
        int day = 31;
        if (month == 2)
            day = 28;
        else if (month == 4 || month == 6 || month == 9 || month == 11)
            day = 30;
        Calendar1->setDay(day);
        if (month == 2 && isLeapYear(Calendar1->year()))
            Calendar1->setDay(29);
    });
}

void TFCal::N6Click()
{
    guard([&] {
        Calendar1->setDay(1);
        Calendar1->setMonth(1);
    });
}

void TFCal::N7Click()
{
    guard([&] {
        Calendar1->setMonth(12);
        Calendar1->setDay(31);
    });
}

} // namespace bilmeko
