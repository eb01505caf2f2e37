#pragma once
// The calendar pop-up's month grid: a 7 x 7 grid with a weekday header and
// the days of one month. Only day cells can be selected; a click or a
// navigation key into the body picks a day (clicked(), then the day follows
// the selection), and every change of the date raises changed().

#include <QDate>
#include <QWidget>

namespace bilmeko {

class CalendarGrid : public QWidget
{
    Q_OBJECT
public:
    // Starts on today's local date.
    explicit CalendarGrid(QWidget *parent = nullptr);

    QDate date() const { return m_date; }
    // Assigns the whole date and always raises changed(), even for the
    // same date. Years outside 1..9999 throw Error::invalidDateEncode().
    void setDate(const QDate &date);

    int year() const { return m_date.year(); }
    int month() const { return m_date.month(); }
    int day() const { return m_date.day(); }
    // Replace one part of the date. Ignored for a value below 1, a month
    // above 12, a day beyond the month or the current value; a date that
    // cannot be built throws Error::invalidDateEncode().
    void setYear(int year);
    void setMonth(int month);
    void setDay(int day);

    // 0 Sunday, 1 Monday, ... 6 Saturday.
    int startOfWeek() const { return m_startOfWeek; }
    void setStartOfWeek(int day);

    // The previous or next month keeps the day where it can, else takes
    // the last day; the year step turns 29 February into the 28th first.
    void prevMonth();
    void nextMonth();
    void prevYear();
    void nextYear();

    // Cell geometry: row 0 is the header, rows 1..6 the weeks.
    QRect cellRect(int row, int col) const;
    // The cell under a point; row -1 outside the grid.
    QPoint cellAt(const QPoint &pos) const; // x = column, y = row
    int selectedRow() const { return m_selRow; }
    int selectedCol() const { return m_selCol; }
    // The number in a cell, 0 for the header and empty cells.
    int dayAt(int row, int col) const;

signals:
    void changed();
    void clicked();

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    void assign(const QDate &date);
    void selectDayCell();
    void pick();

    QDate m_date;
    int m_startOfWeek = 1;
    int m_selRow = 1;
    int m_selCol = 0;
    bool m_selecting = false;
};

} // namespace bilmeko
