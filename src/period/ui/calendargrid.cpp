#include "calendargrid.h"

#include "common/core/clock.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "period/core/periodrules.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyleHints>
#include <QTimer>

namespace bilmeko {

namespace {

// Eats the rest of a double click (its second press, the double-click
// event and the release): a press within the double-click time and
// distance of the click that closed the pop-up, on anything but a calendar.
class SwallowSecondClick : public QObject
{
public:
    explicit SwallowSecondClick(const QPointF &at) : QObject(qApp), m_at(at)
    {
        qApp->installEventFilter(this);
        m_since.start();
        QTimer::singleShot(QApplication::doubleClickInterval(), this, [this] {
            if (!m_pressed)
                done();
        });
    }

protected:
    bool eventFilter(QObject *obj, QEvent *e) override
    {
        if (!obj->isWidgetType())
            return false;
        switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            if (m_pressed)
                return true;
            const QPointF d = static_cast<QMouseEvent *>(e)->globalPosition() - m_at;
            const int near = QGuiApplication::styleHints()->mouseDoubleClickDistance();
            if (m_since.elapsed() > QApplication::doubleClickInterval() || qobject_cast<CalendarGrid *>(obj)
                || d.manhattanLength() > 2 * near) {
                done();
                return false;
            }
            m_pressed = true;
            return true;
        }
        case QEvent::MouseButtonRelease:
            if (m_pressed)
                done();
            return m_pressed;
        default: return false;
        }
    }

private:
    void done()
    {
        qApp->removeEventFilter(this);
        deleteLater();
    }

    QPointF m_at;
    QElapsedTimer m_since;
    bool m_pressed = false;
};

} // namespace

CalendarGrid::CalendarGrid(QWidget *parent) : QWidget(parent), m_date(Clock::current().today())
{
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    selectDayCell();
}

void CalendarGrid::assign(const QDate &date)
{
    if (!date.isValid() || date.year() < MinYear || date.year() > MaxYear)
        throw Error::invalidDateEncode();
    m_date = date;
    selectDayCell();
    update();
    emit changed();
}

void CalendarGrid::setDate(const QDate &date)
{
    assign(date);
}

void CalendarGrid::setYear(int year)
{
    if (year < 1 || year == m_date.year())
        return;
    assign(encodeDate(year, m_date.month(), m_date.day()));
}

void CalendarGrid::setMonth(int month)
{
    if (month < 1 || month > 12 || month == m_date.month())
        return;
    assign(encodeDate(m_date.year(), month, m_date.day()));
}

void CalendarGrid::setDay(int day)
{
    if (day < 1 || day > daysInMonth(m_date.year(), m_date.month()) || day == m_date.day())
        return;
    assign(encodeDate(m_date.year(), m_date.month(), day));
}

void CalendarGrid::setStartOfWeek(int day)
{
    m_startOfWeek = ((day % 7) + 7) % 7;
    selectDayCell();
    update();
}

void CalendarGrid::prevMonth()
{
    const QDate d = calendarMonthStep(m_date, -1);
    if (d.isValid())
        assign(d);
}

void CalendarGrid::nextMonth()
{
    const QDate d = calendarMonthStep(m_date, 1);
    if (d.isValid())
        assign(d);
}

void CalendarGrid::prevYear()
{
    if (m_date.month() == 2 && m_date.day() == 29)
        setDay(28);
    setYear(m_date.year() - 1);
}

void CalendarGrid::nextYear()
{
    if (m_date.year() >= MaxYear)
        throw Error::invalidDateEncode(); // before touching the day
    if (m_date.month() == 2 && m_date.day() == 29)
        setDay(28);
    setYear(m_date.year() + 1);
}

int CalendarGrid::dayAt(int row, int col) const
{
    return MonthLayout(m_date, m_startOfWeek).dayAt(row, col);
}

void CalendarGrid::selectDayCell()
{
    const MonthLayout layout(m_date, m_startOfWeek);
    m_selRow = layout.rowOf(m_date.day());
    m_selCol = layout.colOf(m_date.day());
}

QRect CalendarGrid::cellRect(int row, int col) const
{
    // The columns and rows share the whole area; the odd pixels are spread.
    const int x0 = col * width() / MonthLayout::Cols;
    const int x1 = (col + 1) * width() / MonthLayout::Cols;
    const int y0 = row * height() / MonthLayout::Rows;
    const int y1 = (row + 1) * height() / MonthLayout::Rows;
    return QRect(x0, y0, x1 - x0, y1 - y0);
}

QPoint CalendarGrid::cellAt(const QPoint &pos) const
{
    if (pos.x() < 0 || pos.y() < 0 || pos.x() >= width() || pos.y() >= height())
        return QPoint(-1, -1);
    const int col = std::min(pos.x() * MonthLayout::Cols / width(), MonthLayout::Cols - 1);
    const int row = std::min(pos.y() * MonthLayout::Rows / height(), MonthLayout::Rows - 1);
    // Exact at the seams: the cell whose rectangle holds the point.
    for (int r = std::max(row - 1, 0); r <= std::min(row + 1, MonthLayout::Rows - 1); ++r)
        for (int c = std::max(col - 1, 0); c <= std::min(col + 1, MonthLayout::Cols - 1); ++c)
            if (cellRect(r, c).contains(pos))
                return QPoint(c, r);
    return QPoint(col, row);
}

void CalendarGrid::pick()
{
    QPointer<CalendarGrid> self(this);
    emit clicked();
    if (!self)
        return;
    setDay(dayAt(m_selRow, m_selCol));
}

void CalendarGrid::mousePressEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton)
        return;
    const QPoint cell = cellAt(e->position().toPoint());
    if (cell.y() < 1)
        return; // outside, or the header
    m_selecting = true;
    if (dayAt(cell.y(), cell.x()) != 0) {
        m_selRow = cell.y();
        m_selCol = cell.x();
        update();
    }
}

void CalendarGrid::mouseMoveEvent(QMouseEvent *e)
{
    if (!m_selecting)
        return;
    const QPoint cell = cellAt(e->position().toPoint());
    if (cell.y() >= 1 && dayAt(cell.y(), cell.x()) != 0 && (cell.y() != m_selRow || cell.x() != m_selCol)) {
        m_selRow = cell.y();
        m_selCol = cell.x();
        update();
    }
}

void CalendarGrid::mouseReleaseEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton || !m_selecting)
        return;
    m_selecting = false;
    QPointer<CalendarGrid> self(this);
    guard([&] { pick(); });
    // The click closed the pop-up: the second click of a double click would
    // land on whatever lies under it.
    if (self && !isVisible())
        new SwallowSecondClick(e->globalPosition());
}

void CalendarGrid::keyPressEvent(QKeyEvent *e)
{
    int row = m_selRow;
    int col = m_selCol;
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    switch (e->key()) {
    case Qt::Key_Left: --col; break;
    case Qt::Key_Right: ++col; break;
    case Qt::Key_Up: --row; break;
    case Qt::Key_Down: ++row; break;
    case Qt::Key_Home:
        col = 0;
        if (ctrl)
            row = 1;
        break;
    case Qt::Key_End:
        col = MonthLayout::Cols - 1;
        if (ctrl)
            row = MonthLayout::Rows - 1;
        break;
    case Qt::Key_PageUp: row = 1; break;
    case Qt::Key_PageDown: row = MonthLayout::Rows - 1; break;
    default: QWidget::keyPressEvent(e); return;
    }
    e->accept();
    // Past an edge, into the header or onto the same cell: nothing.
    if (row < 1 || row >= MonthLayout::Rows || col < 0 || col >= MonthLayout::Cols)
        return;
    if (row == m_selRow && col == m_selCol)
        return;
    if (dayAt(row, col) != 0) {
        m_selRow = row;
        m_selCol = col;
        update();
    }
    guard([&] { pick(); });
}

void CalendarGrid::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const MonthLayout layout(m_date, m_startOfWeek);
    const QStringList names = Formats::current().shortDayNames();
    const QColor lines = palette().color(QPalette::Mid);
    for (int row = 0; row < MonthLayout::Rows; ++row) {
        for (int col = 0; col < MonthLayout::Cols; ++col) {
            const QRect r = cellRect(row, col);
            QString text;
            QColor ink = palette().color(QPalette::WindowText);
            if (row == 0) {
                const int weekday = layout.weekdayOfColumn(col);
                text = names.value(weekday - 1);
                // The fixed header: a raised cell.
                p.setPen(palette().color(QPalette::Light));
                p.drawLine(r.topLeft(), r.topRight());
                p.drawLine(r.topLeft(), r.bottomLeft());
            } else if (const int day = layout.dayAt(row, col); day != 0) {
                text = QString::number(day);
                if (row == m_selRow && col == m_selCol) {
                    p.fillRect(r.adjusted(0, 0, -1, -1), palette().color(QPalette::Highlight));
                    ink = palette().color(QPalette::HighlightedText);
                    if (hasFocus()) {
                        p.setPen(QPen(ink, 1, Qt::DotLine));
                        p.drawRect(r.adjusted(0, 0, -2, -2));
                    }
                }
            }
            p.setPen(lines);
            p.drawLine(r.topRight(), r.bottomRight());
            p.drawLine(r.bottomLeft(), r.bottomRight());
            if (!text.isEmpty()) {
                p.setPen(ink);
                p.drawText(r.adjusted(0, 0, -1, -1), Qt::AlignCenter, text);
            }
        }
    }
}

} // namespace bilmeko
