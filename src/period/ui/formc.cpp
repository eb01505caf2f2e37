#include "formc.h"

#include "calendargrid.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "dateedit.h"
#include "fcal.h"
#include "periodfont.h"
#include "updown.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>

namespace bilmeko {

// ---- RadioGroup ----

RadioGroup::RadioGroup(const QStringList &items, QWidget *parent) : QGroupBox(parent), m_group(new QButtonGroup(this))
{
    m_group->setExclusive(true);
    for (int i = 0; i < items.size(); ++i) {
        auto *b = new QRadioButton(items[i], this);
        b->setObjectName(QStringLiteral("%1Item%2").arg(objectName()).arg(i));
        m_group->addButton(b, i);
    }
    // Items share the height below a caption line, one column.
    connect(m_group, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            emit clicked();
    });
}

void RadioGroup::setItemIndex(int index)
{
    const QSignalBlocker block(m_group);
    if (QAbstractButton *b = m_group->button(index))
        b->setChecked(true);
}

int RadioGroup::itemIndex() const
{
    return m_group->checkedId();
}

QRadioButton *RadioGroup::item(int index) const
{
    return qobject_cast<QRadioButton *>(m_group->button(index));
}

int RadioGroup::count() const
{
    return static_cast<int>(m_group->buttons().size());
}

// ---- TFormC ----

namespace {

template <typename W> W *place(W *w, const char *name, int x, int y, int width, int height)
{
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(x, y, width, height);
    return w;
}

QToolButton *ellipsisButton(QWidget *parent, const char *name, int x, int y)
{
    auto *b = place(new QToolButton(parent), name, x, y, 13, 21);
    b->setText(QStringLiteral("..."));
    b->setAutoRaise(true);
    // It takes no focus: a press reads the edit as it stands.
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

} // namespace

TFormC::TFormC(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormC"));
    setWindowTitle(QStringLiteral("Выбор периода"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFont(periodFont());
    setFixedSize(445, 185);

    Bevel1 = place(new QFrame(this), "Bevel1", 8, 8, 425, 17);
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Bevel1->setLineWidth(1);
    StatusS = place(new QLabel(this), "StatusS", 11, 8, 421, 13);
    StatusS->setAlignment(Qt::AlignCenter);

    Vid = new RadioGroup(
        {QStringLiteral("Квартал"), QStringLiteral("Месяц"), QStringLiteral("День"), QStringLiteral("Интервал")}, this);
    place(Vid, "Vid", 8, 28, 82, 133);
    for (int i = 0; i < Vid->count(); ++i) {
        Vid->item(i)->setObjectName(QStringLiteral("VidItem%1").arg(i));
        Vid->item(i)->setGeometry(3, 12 + i * 28, 78, 28);
    }
    Vid->setItemIndex(Day);

    KvartE = place(new QLineEdit(this), "KvartE", 112, 48, 105, 21);
    KvartE->setReadOnly(true);
    KvartUp = place(new UpDown(this), "KvartUp", 216, 48, 17, 21);
    MonthYear = place(new QLineEdit(this), "MonthYear", 112, 72, 105, 21);
    MonthYear->setReadOnly(true);
    MonthUP = place(new UpDown(this), "MonthUP", 216, 72, 17, 21);

    DayOne = place(new DateEdit(this), "DayOne", 112, 96, 105, 21);
    DayOneSP = ellipsisButton(this, "DayOneSP", 218, 96);
    Label1 = place(new QLabel(QStringLiteral("C"), this), "Label1", 96, 128, 10, 13);
    DayB = place(new DateEdit(this), "DayB", 112, 128, 105, 21);
    DayBSP = ellipsisButton(this, "DayBSP", 219, 128);
    Label2 = place(new QLabel(QStringLiteral("по"), this), "Label2", 96, 152, 14, 13);
    DayE = place(new DateEdit(this), "DayE", 112, 152, 105, 21);
    DayESP = ellipsisButton(this, "DayESP", 219, 152);

    YearCh = place(new QCheckBox(QStringLiteral("С начала года"), this), "YearCh", 240, 48, 97, 17);
    KvartCh = place(new QCheckBox(QStringLiteral("С начала квартала"), this), "KvartCh", 240, 74, 129, 17);
    MonthCh = place(new QCheckBox(QStringLiteral("С начала месяца"), this), "MonthCh", 240, 99, 137, 17);
    DayCh = place(new QCheckBox(QStringLiteral("С начальной даты"), this), "DayCh", 240, 128, 137, 17);

    // A face wider than the one the positions were drawn for must not cut
    // the boxes' texts; there is free room to their right.
    for (QCheckBox *box : {YearCh, KvartCh, MonthCh, DayCh})
        box->resize(std::max(box->width(), box->sizeHint().width()), box->height());

    BitBtn1 = place(new QPushButton(QStringLiteral("OK"), this), "BitBtn1", 256, 152, 81, 25);
    BitBtn1->setDefault(true);
    BitBtn2 = place(new QPushButton(QStringLiteral("Отмена"), this), "BitBtn2", 352, 152, 81, 25);
    // Cancelling takes no dates, so a half-typed one must not hold it up.
    for (DateEdit *e : {DayOne, DayB, DayE}) {
        e->addFreeExit(BitBtn2);
        connect(e, &QLineEdit::textEdited, this, [this, e] {
            if (!m_typed.contains(e))
                m_typed << e;
        });
        connect(e, &QLineEdit::editingFinished, this, [this, e] { dateConfirmed(e); });
    }

    // The state of a fresh opening: mode "День".
    for (QLineEdit *e : std::initializer_list<QLineEdit *>{KvartE, MonthYear, DayB, DayE})
        setEditEnabled(e, false);
    setEditEnabled(DayOne, true);
    KvartUp->setEnabled(false);
    MonthUP->setEnabled(false);
    DayBSP->setEnabled(false);
    DayESP->setEnabled(false);

    QWidget *order[]
        = {BitBtn1, BitBtn2, Vid->item(0), Vid->item(1), Vid->item(2), Vid->item(3), MonthUP, MonthYear, KvartE,
           KvartUp, YearCh,  KvartCh,      MonthCh,      DayOne,       DayB,         DayE,    DayCh};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(Vid, &RadioGroup::clicked, this, &TFormC::VidClick);
    connect(MonthUP, &UpDown::clicked, this, &TFormC::MonthUPClick);
    connect(KvartUp, &UpDown::clicked, this, &TFormC::KvartUpClick);
    connect(YearCh, &QCheckBox::clicked, this, &TFormC::YearChClick);
    connect(KvartCh, &QCheckBox::clicked, this, &TFormC::KvartChClick);
    connect(MonthCh, &QCheckBox::clicked, this, &TFormC::MonthChClick);
    connect(DayCh, &QCheckBox::clicked, this, &TFormC::DayChClick);
    connect(DayOneSP, &QToolButton::clicked, this, &TFormC::DayOneSPClick);
    connect(DayBSP, &QToolButton::clicked, this, &TFormC::DayBSPClick);
    connect(DayESP, &QToolButton::clicked, this, &TFormC::DayESPClick);
    connect(BitBtn1, &QPushButton::clicked, this, &TFormC::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    // Centred on the screen, not over the owner.
    if (QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
        QRect r(QPoint(), frameGeometry().size());
        r.moveCenter(screen->geometry().center());
        move(r.topLeft());
    }
}

void TFormC::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    if (m_activated)
        return;
    m_activated = true;
    BitBtn1->setFocus();
    FormActivate();
}

void TFormC::setEditEnabled(QLineEdit *edit, bool enabled)
{
    edit->setEnabled(enabled);
    // Enabled edits are in the window colour, disabled ones in button face.
    const QPalette dialogPalette = palette();
    const QColor colour = dialogPalette.color(QPalette::Active, enabled ? QPalette::Base : QPalette::Button);
    QPalette pal = edit->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Base, colour);
    edit->setPalette(pal);
}

QDate TFormC::read(const DateEdit *edit) const
{
    return readDateText(edit->editText());
}

void TFormC::taken(std::initializer_list<const DateEdit *> edits)
{
    for (const DateEdit *e : edits)
        m_typed.removeOne(e);
}

void TFormC::pending(std::initializer_list<const DateEdit *> edits)
{
    for (const DateEdit *e : edits)
        if (!m_typed.contains(e))
            m_typed << e;
}

StartBoxes TFormC::boxes() const
{
    return {YearCh->isChecked(), KvartCh->isChecked(), MonthCh->isChecked(), DayCh->isChecked()};
}

void TFormC::setBoxes(const StartBoxes &b)
{
    YearCh->setChecked(b.year);
    KvartCh->setChecked(b.kvart);
    MonthCh->setChecked(b.month);
    DayCh->setChecked(b.day);
}

void TFormC::setPeriod(const QDate &begin, const QDate &end)
{
    m_dateBeg = dateValue(begin);
    m_dateEnd = dateValue(end);
    StatusS->setText(statusText(begin, end));
}

void TFormC::FormActivate()
{
    guard([&] {
        const QDate begin = dateOf(m_dateBeg);
        FYear = begin.year();
        FMonth = begin.month();
        FKvartYear = begin.year();
        FKvart = quarterOfMonth(begin.month());
        const Formats &f = Formats::current();
        DayOne->setEditText(f.dateText(m_dateBeg));
        DayB->setEditText(f.dateText(m_dateBeg));
        DayE->setEditText(f.dateText(m_dateEnd));
        MonthYear->setText(monthText(FMonth, FYear));
        KvartE->setText(quarterText(FKvart, FKvartYear));
        const QDate d = read(DayOne);
        setPeriod(YKMBegin(d, boxes()), d);
    });
}

void TFormC::VidClick()
{
    guard([&] { recompute(); });
}

void TFormC::recompute()
{
    YearCh->setEnabled(false);
    KvartCh->setEnabled(false);
    MonthCh->setEnabled(false);
    for (QLineEdit *e : std::initializer_list<QLineEdit *>{KvartE, DayOne, DayB, DayE, MonthYear})
        setEditEnabled(e, false);
    KvartUp->setEnabled(false);
    DayOneSP->setEnabled(false);
    DayBSP->setEnabled(false);
    DayESP->setEnabled(false);
    MonthUP->setEnabled(false);

    switch (Vid->itemIndex()) {
    case Day: {
        YearCh->setEnabled(true);
        KvartCh->setEnabled(true);
        MonthCh->setEnabled(true);
        setEditEnabled(DayOne, true);
        DayOneSP->setEnabled(true);
        // Until the period is read from it, the edit counts as typed into:
        // a date it holds that does not exist leaves the period elsewhere,
        // and OK must read it then.
        pending({DayOne});
        const QDate d = read(DayOne);
        setPeriod(YKMBegin(d, boxes()), d);
        taken({DayOne});
        break;
    }
    case Interval: {
        setEditEnabled(DayB, true);
        setEditEnabled(DayE, true);
        DayBSP->setEnabled(true);
        DayESP->setEnabled(true);
        MonthCh->setChecked(false);
        YearCh->setChecked(false);
        KvartCh->setChecked(false);
        // Both edits are read before either bound changes, so a bad end
        // leaves the whole period as the status line shows it, and both
        // edits to be read again by OK or by leaving one.
        pending({DayB, DayE});
        const QDate begin = read(DayB);
        const QDate end = read(DayE);
        setPeriod(YKMBegin(begin, boxes()), end);
        taken({DayB, DayE});
        break;
    }
    case Month: {
        YearCh->setEnabled(true);
        KvartCh->setEnabled(true);
        setEditEnabled(MonthYear, true);
        MonthUP->setEnabled(true);
        MonthCh->setChecked(false);
        MonthYear->setText(monthText(FMonth, FYear));
        const Period p = monthPeriod({FYear, FMonth}, boxes());
        setPeriod(p.begin, p.end);
        break;
    }
    case Kvartal: {
        YearCh->setEnabled(true);
        setEditEnabled(KvartE, true);
        KvartUp->setEnabled(true);
        MonthCh->setChecked(false);
        KvartCh->setChecked(false);
        KvartE->setText(quarterText(FKvart, FKvartYear));
        const Period p = quarterPeriod({FKvartYear, FKvart}, boxes());
        setPeriod(p.begin, p.end);
        break;
    }
    default: break;
    }
}

void TFormC::MonthUPClick(bool up)
{
    guard([&] {
        // A step out of the years 1..9999 fails before anything moves.
        const MonthPos next = stepMonth({FYear, FMonth}, up ? 1 : -1);
        const Period p = monthPeriod(next, boxes());
        FYear = next.year;
        FMonth = next.month;
        MonthYear->setText(monthText(FMonth, FYear));
        setPeriod(p.begin, p.end);
    });
}

void TFormC::KvartUpClick(bool up)
{
    guard([&] {
        const QuarterPos next = stepQuarter({FKvartYear, FKvart}, up ? 1 : -1);
        const Period p = quarterPeriod(next, boxes());
        FKvartYear = next.year;
        FKvart = next.quarter;
        KvartE->setText(quarterText(FKvart, FKvartYear));
        setPeriod(p.begin, p.end);
    });
}

void TFormC::startBoxClick(StartBox box, bool checked)
{
    guard([&] {
        setBoxes(afterBoxClick(boxes(), box, checked));
        recompute();
    });
}

void TFormC::YearChClick(bool checked)
{
    startBoxClick(StartBox::Year, checked);
}

void TFormC::KvartChClick(bool checked)
{
    startBoxClick(StartBox::Kvart, checked);
}

void TFormC::MonthChClick(bool checked)
{
    startBoxClick(StartBox::Month, checked);
}

void TFormC::DayChClick(bool checked)
{
    startBoxClick(StartBox::Day, checked);
}

void TFormC::calendarPick(DateEdit *edit)
{
    guard([&] {
        const QDate shown = read(edit);
        TFCal cal(this);
        cal.calendar()->setDate(shown);
        if (cal.exec() != QDialog::Accepted)
            return;
        edit->setEditText(Formats::current().dateText(cal.calendar()->date()));
        if (edit == DayOne) {
            const QDate d = read(DayOne);
            setPeriod(YKMBegin(d, boxes()), d);
        } else if (edit == DayB) {
            setPeriod(read(DayB), dateOf(m_dateEnd));
        } else {
            setPeriod(dateOf(m_dateBeg), read(DayE));
        }
        taken({edit});
    });
}

void TFormC::dateConfirmed(DateEdit *edit)
{
    // A date that does not exist is reported when the period is read (OK,
    // a mode, a box); until then the status line keeps the last period.
    if (!m_typed.contains(edit) || !edit->isEnabled() || edit->halfTyped())
        return;
    QDate d;
    try {
        d = read(edit);
    } catch (const Error &) {
        return;
    }
    if (edit == DayOne) {
        setPeriod(YKMBegin(d, boxes()), d);
        taken({edit});
        return;
    }
    // The other bound comes from its edit too when that one is still to be
    // read (typed into, or left so by a mode whose period it could not be
    // read into): the status line then says what both edits say.
    QDate begin = edit == DayB ? YKMBegin(d, boxes()) : dateOf(m_dateBeg);
    QDate end = edit == DayE ? d : dateOf(m_dateEnd);
    DateEdit *other = edit == DayB ? DayE : DayB;
    bool otherRead = false;
    if (m_typed.contains(other) && !other->halfTyped()) {
        try {
            const QDate o = read(other);
            if (other == DayB)
                begin = YKMBegin(o, boxes());
            else
                end = o;
            otherRead = true;
        } catch (const Error &) {
            // Reported when the period is read as a whole (OK).
        }
    }
    setPeriod(begin, end);
    taken({edit});
    if (otherRead)
        taken({other});
}

void TFormC::DayOneSPClick()
{
    calendarPick(DayOne);
}

void TFormC::DayBSPClick()
{
    calendarPick(DayB);
}

void TFormC::DayESPClick()
{
    calendarPick(DayE);
}

void TFormC::BitBtn1Click()
{
    guard([&] {
        if (takeTypedDates())
            accept();
    });
}

// OK takes what was typed into the mode's date edits as leaving them and a
// recomputation would: a half-typed date is refused with the mask message,
// a date that does not exist fails with the conversion message, and the
// dialog stays open in both cases.
bool TFormC::takeTypedDates()
{
    QList<DateEdit *> edits;
    if (Vid->itemIndex() == Day)
        edits = {DayOne};
    else if (Vid->itemIndex() == Interval)
        edits = {DayB, DayE};
    for (DateEdit *e : edits) {
        if (e->halfTyped()) {
            e->refuseExit();
            return false;
        }
    }
    const bool typedBeg = m_typed.contains(edits.value(0));
    const bool typedEnd = edits.size() > 1 && m_typed.contains(edits.value(1));
    if (!typedBeg && !typedEnd)
        return true;
    if (Vid->itemIndex() == Day) {
        const QDate d = read(DayOne);
        setPeriod(YKMBegin(d, boxes()), d);
        return true;
    }
    // An edit not typed into keeps its bound as the status line shows it
    // (a start picked from the calendar stays unadjusted).
    const QDate begin = typedBeg ? YKMBegin(read(DayB), boxes()) : dateOf(m_dateBeg);
    const QDate end = typedEnd ? read(DayE) : dateOf(m_dateEnd);
    setPeriod(begin, end);
    return true;
}

TFormC::~TFormC()
{
    // A date field losing the focus while the dialog goes away must not
    // reach a dialog that is half destroyed.
    for (DateEdit *e : {DayOne, DayB, DayE})
        e->disconnect(this);
}

} // namespace bilmeko
