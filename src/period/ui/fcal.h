#pragma once
// The calendar pop-up: a small modal tool window with one month, steps of
// a month or a year, a jump menu, and a grid whose click picks the day.

#include <QDialog>
#include <QLabel>
#include <QPixmap>

class QMenu;
class QAction;
class QToolButton;

namespace bilmeko {

class CalendarGrid;

// The glyphs of the pop-up's tool bar, 16 x 10, black: 0 double left
// chevron, 1 left chevron, 2 downward triangle over a bar, 3 right
// chevron, 4 double right chevron.
QPixmap calendarGlyph(int index);

// The panel under the tool bar: raised outer and lowered inner bevel.
class BevelPanel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override;
};

class TFCal : public QDialog
{
    Q_OBJECT
public:
    explicit TFCal(QWidget *parent = nullptr);

    CalendarGrid *calendar() const { return Calendar1; }
    QMenu *popupMenu() const { return PopupMenu1; }
    QString panelText() const;

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void showEvent(QShowEvent *e) override;

private:
    QToolButton *addButton(QWidget *bar, const char *name, int x, int glyph);
    void addSeparator(QWidget *bar, const char *name, int x);

    void Calendar1Change();
    void Calendar1Click();
    void ToolButton1Click();
    void ToolButton3Click();
    void ToolButton6Click();
    void ToolButton9Click();
    void ToolButton10Click();
    void N1Click();
    void N3Click();
    void N4Click();
    void N6Click();
    void N7Click();

    QWidget *ToolBar1 = nullptr;
    QToolButton *ToolButton6 = nullptr;
    QMenu *PopupMenu1 = nullptr;
    BevelPanel *Panel1 = nullptr;
    CalendarGrid *Calendar1 = nullptr;
};

} // namespace bilmeko
