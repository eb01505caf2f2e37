#pragma once
// The period dialog: a quarter, a month, a day or an interval, with the
// start pulled back to the start of the year, quarter or month or to
// 1 January 2000. The work is done by the rules in periodrules.h; this
// class only keeps the controls in step with them.

#include "common/core/datetime.h"
#include "period/core/periodrules.h"

#include <QDialog>
#include <QGroupBox>

class QButtonGroup;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace bilmeko {

class DateEdit;
class UpDown;

// A one-column group of radio items; clicked() when the user changes the
// selected item (a click on the selected one raises nothing).
class RadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    RadioGroup(const QStringList &items, QWidget *parent = nullptr);
    int itemIndex() const;
    void setItemIndex(int index);
    QRadioButton *item(int index) const;
    int count() const;

signals:
    void clicked();

private:
    QButtonGroup *m_group;
};

class TFormC : public QDialog
{
    Q_OBJECT
public:
    enum Mode { Kvartal = 0, Month = 1, Day = 2, Interval = 3 };

    explicit TFormC(QWidget *parent = nullptr);
    ~TFormC() override;

    // The period the status line shows; Execute sets them before the
    // dialog is shown and reads them after OK.
    DateTimeValue DateBeg() const { return m_dateBeg; }
    DateTimeValue DateEnd() const { return m_dateEnd; }
    void setDateBeg(DateTimeValue v) { m_dateBeg = v; }
    void setDateEnd(DateTimeValue v) { m_dateEnd = v; }

    MonthPos monthPos() const { return {FYear, FMonth}; }
    QuarterPos quarterPos() const { return {FKvartYear, FKvart}; }

protected:
    void showEvent(QShowEvent *e) override;

private:
    void FormActivate();
    void VidClick();
    void MonthUPClick(bool up);
    void KvartUpClick(bool up);
    void YearChClick(bool checked);
    void KvartChClick(bool checked);
    void MonthChClick(bool checked);
    void DayChClick(bool checked);
    void DayOneSPClick();
    void DayBSPClick();
    void DayESPClick();
    void BitBtn1Click();

    void recompute();
    void startBoxClick(StartBox box, bool checked);
    void calendarPick(DateEdit *edit);
    // A typed date confirmed (Enter, or the edit left): the status line
    // shows the period with it.
    void dateConfirmed(DateEdit *edit);
    StartBoxes boxes() const;
    void setBoxes(const StartBoxes &b);
    void setPeriod(const QDate &begin, const QDate &end);
    void setEditEnabled(QLineEdit *edit, bool enabled);
    QDate read(const DateEdit *edit) const;
    // The period now holds what these edits say.
    void taken(std::initializer_list<const DateEdit *> edits);
    // The period does not hold what these edits say (yet).
    void pending(std::initializer_list<const DateEdit *> edits);
    bool takeTypedDates();

    QFrame *Bevel1;
    QLabel *StatusS;
    RadioGroup *Vid;
    QLineEdit *KvartE;
    UpDown *KvartUp;
    QLineEdit *MonthYear;
    UpDown *MonthUP;
    DateEdit *DayOne;
    QToolButton *DayOneSP;
    QLabel *Label1;
    DateEdit *DayB;
    QToolButton *DayBSP;
    QLabel *Label2;
    DateEdit *DayE;
    QToolButton *DayESP;
    QCheckBox *YearCh;
    QCheckBox *KvartCh;
    QCheckBox *MonthCh;
    QCheckBox *DayCh;
    QPushButton *BitBtn1;
    QPushButton *BitBtn2;

    int FYear = 1;
    int FMonth = 1;
    int FKvartYear = 1;
    int FKvart = 1;
    DateTimeValue m_dateBeg = 0;
    DateTimeValue m_dateEnd = 0;
    bool m_activated = false;
    // Date edits typed into since the period was last read from them.
    QList<const DateEdit *> m_typed;
};

} // namespace bilmeko
