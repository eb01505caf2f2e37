#include "form2.h"

#include "app/core/sessionboard.h"
#include "common/core/formats.h"
#include "common/core/memtable.h"
#include "common/ui/memtablemodel.h"
#include "spinfield.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>

namespace bilmeko {

namespace {
// The dialog is laid out in pixels; this font size keeps every caption
// inside the space its control has.
constexpr int FontPixels = 11;

QFont boldFont(QFont f)
{
    f.setBold(true);
    return f;
}

// The hint of an empty list must be read whole: a smaller font where the
// dialog's font would cut it in the field.
void fitPlaceholder(QComboBox *box)
{
    QStyleOptionComboBox opt;
    opt.initFrom(box);
    opt.editable = box->isEditable();
    const QRect field = box->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, box);
    // The label is drawn with a small margin inside the field.
    const int room = field.width() - 4;
    QFont f = box->font();
    f.setPixelSize(QFontInfo(f).pixelSize());
    while (f.pixelSize() > 8 && QFontMetrics(f).horizontalAdvance(box->placeholderText()) > room)
        f.setPixelSize(f.pixelSize() - 1);
    box->setFont(f);
}
} // namespace

TForm2::TForm2(MemTable *prices, QWidget *parent) : QDialog(parent), m_prices(prices)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Новый клиент"));
    QFont f = font();
    f.setPixelSize(FontPixels);
    setFont(f);
    setFixedSize(374, 184);

    // The frame goes first so that the labels inside it are drawn over it.
    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::Panel);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(64, 120, 309, 37);

    Label3 = addLabel("Label3", QStringLiteral("Услуга"), 8, 8);
    RxLookupEdit1 = new QComboBox(this);
    RxLookupEdit1->setObjectName(QStringLiteral("RxLookupEdit1"));
    RxLookupEdit1->setEditable(false);
    RxLookupEdit1->setGeometry(64, 4, 201, 21);
    if (m_prices) {
        ColumnDef item;
        item.field = QStringLiteral("PItem");
        auto *model = new MemTableModel(m_prices, {item}, RxLookupEdit1);
        RxLookupEdit1->setModel(model);
        if (m_prices->isEmpty()) {
            // A first start has no price list yet: say where it is made.
            RxLookupEdit1->setPlaceholderText(QStringLiteral("Нет услуг: Параметры → Цены"));
            fitPlaceholder(RxLookupEdit1);
            RxLookupEdit1->setToolTip(QStringLiteral("Список услуг пуст. Добавьте услуги в меню «Параметры» → "
                                                     "«Цены» кнопкой «Добавить услугу» и сохраните их кнопкой "
                                                     "«Сохранить по умолчанию»."));
        }
    }

    Label4 = addLabel("Label4", QStringLiteral("Клиент"), 8, 32);
    Customer = new QLineEdit(this);
    Customer->setObjectName(QStringLiteral("Customer"));
    Customer->setGeometry(64, 28, 201, 24);
    // No more than a session keeps: a longer name is cut here, in sight,
    // not later in the grid, the notice and the journal.
    Customer->setMaxLength(curlog::TextMax);

    Label5 = addLabel("Label5", QStringLiteral("Время"), 8, 56);
    CHours = new SpinField({0, 23, 1}, this);
    CHours->setObjectName(QStringLiteral("CHours"));
    CHours->setGeometry(64, 52, 53, 24);
    Label6 = addLabel("Label6", QStringLiteral("часов"), 120, 56);
    CMinuts = new SpinField({0, 59, 10}, this);
    CMinuts->setObjectName(QStringLiteral("CMinuts"));
    CMinuts->setGeometry(168, 52, 49, 24);
    Label7 = addLabel("Label7", QStringLiteral("минут"), 220, 56);

    Label8 = addLabel("Label8", QStringLiteral("Дополнительная информация"), 8, 80);
    Desk = new QLineEdit(this);
    Desk->setObjectName(QStringLiteral("Desk"));
    Desk->setGeometry(64, 96, 309, 21);
    Desk->setMaxLength(curlog::TextMax);

    Label9 = addLabel("Label9", QStringLiteral("Итого"), 8, 120);
    Label10 = addLabel("Label10", QStringLiteral("Цена"), 80, 124);
    Label1 = addLabel("Label1", QString(), 80, 140);
    Label11 = addLabel("Label11", QStringLiteral("Сумма"), 216, 124);
    Label2 = addLabel("Label2", QString(), 216, 140);
    for (QLabel *l : {Label1, Label2}) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, Qt::blue);
        l->setPalette(p);
    }

    // How the client pays; the default comes from the settings file.
    LabelPayment = addLabel("LabelPayment", QStringLiteral("Оплата"), 8, 164);
    PaymentBox = new QComboBox(this);
    PaymentBox->setObjectName(QStringLiteral("Payment"));
    PaymentBox->setGeometry(64, 160, 201, 21);
    for (Payment p : ChosenPayments)
        PaymentBox->addItem(paymentText(p), static_cast<int>(p));

    Abonement = new QCheckBox(QStringLiteral("По абонементу"), this);
    Abonement->setObjectName(QStringLiteral("Abonement"));
    Abonement->setGeometry(272, 160, 101, 21);
    Abonement->hide();

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("Ок"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(272, 4, 101, 25);
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Отменить"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(272, 32, 101, 25);
    for (QPushButton *b : {BitBtn1, BitBtn2}) {
        // Neither is the default: Enter in a field must not close the dialog.
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setFont(boldFont(font()));
    }
    BitBtn1->setEnabled(false);

    setTabOrder(CMinuts, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    setTabOrder(BitBtn2, CHours);
    setTabOrder(CHours, Desk);
    setTabOrder(Desk, RxLookupEdit1);
    setTabOrder(RxLookupEdit1, Customer);
    setTabOrder(Customer, PaymentBox);
    setTabOrder(PaymentBox, Abonement);

    connect(RxLookupEdit1, &QComboBox::activated, this, &TForm2::RxLookupEdit1Change);
    connect(CHours, &SpinField::textChanged, this, &TForm2::RxLookupEdit1CloseUp);
    connect(CMinuts, &SpinField::textChanged, this, &TForm2::RxLookupEdit1CloseUp);
    connect(CHours, &SpinField::exited, this, &TForm2::CHoursExit);
    connect(CMinuts, &SpinField::exited, this, &TForm2::CMinutsExit);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm2::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

TForm2::~TForm2()
{
    // Destroying a visible dialog takes the focus from a field; its exit
    // must not reach this half-destroyed form.
    CHours->disconnect(this);
    CMinuts->disconnect(this);
}

QLabel *TForm2::addLabel(const char *name, const QString &caption, int x, int y)
{
    auto *l = new QLabel(caption, this);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(boldFont(font()));
    l->move(x, y);
    l->adjustSize();
    return l;
}

void TForm2::setExtendMode(const QString &fio)
{
    m_extend = true;
    for (QWidget *w : std::initializer_list<QWidget *>{RxLookupEdit1, Customer, Desk, Label3, Label4, Label8, Label9,
                                                       Label10, Label11, Label1, Label2, Bevel1})
        w->hide();
    Abonement->hide();
    // The payment stays, and moves up under the time.
    LabelPayment->move(8, 84);
    PaymentBox->move(64, 80);
    setWindowTitle(QStringLiteral("Добавить время Клиент \"") + fio + QLatin1Char('"'));
}

QString TForm2::customer() const
{
    return Customer->text();
}

QString TForm2::note() const
{
    return Desk->text();
}

int TForm2::hours() const
{
    return CHours->settledValue();
}

int TForm2::minutes() const
{
    return CMinuts->settledValue();
}

void TForm2::offerAbonement(bool offered)
{
    Abonement->setVisible(offered && !m_extend);
}

bool TForm2::abonement() const
{
    return Abonement->isVisibleTo(this) && Abonement->isChecked();
}

Payment TForm2::payment() const
{
    return static_cast<Payment>(PaymentBox->currentData().toInt());
}

void TForm2::setPayment(Payment p)
{
    const int at = PaymentBox->findData(static_cast<int>(p));
    PaymentBox->setCurrentIndex(at >= 0 ? at : 0);
}

void TForm2::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

void TForm2::keyPressEvent(QKeyEvent *event)
{
    // Neither button is the default, so Enter in a field does nothing; on a
    // button that has the focus it presses that button, as Space does.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (auto *button = qobject_cast<QPushButton *>(focusWidget()); button && button->isEnabled()) {
            button->click();
            return;
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TForm2::FormShow()
{
    double price = 0;
    if (m_prices) {
        m_prices->first();
        price = m_prices->number(QStringLiteral("PPrice"));
    }
    RxLookupEdit1->setCurrentIndex(m_prices && !m_prices->isEmpty() ? 0 : -1);
    Label1->setText(Formats::current().currency2(price));
    Label1->adjustSize();
    Label2->setText(Formats::current().currency2(0));
    Label2->adjustSize();
    CMinuts->setFocus();
}

TForm2::Service TForm2::service() const
{
    Service s;
    const int row = RxLookupEdit1->currentIndex();
    if (!m_prices || row < 0 || row >= m_prices->rowCount())
        return s;
    s.name = m_prices->value(row, m_prices->fieldIndex(QStringLiteral("PItem"))).toString();
    const QVariant price = m_prices->value(row, m_prices->fieldIndex(QStringLiteral("PPrice")));
    s.price = price.isNull() ? 0.0 : price.toDouble();
    return s;
}

void TForm2::RxLookupEdit1Change(int index)
{
    if (m_prices && index >= 0 && index < m_prices->rowCount())
        m_prices->setCurrentRow(index);
    RxLookupEdit1CloseUp();
}

void TForm2::RxLookupEdit1CloseUp()
{
    // While a duration is being retyped the labels keep their last state.
    if (CHours->text().isEmpty() || CMinuts->text().isEmpty())
        return;
    const int h = liveSpinValue(CHours->text());
    const int m = liveSpinValue(CMinuts->text());
    const double total = double(h) * 60 + double(m);
    const double price = m_prices ? m_prices->number(QStringLiteral("PPrice")) : 0;
    Label1->setText(Formats::current().currency2(price));
    Label1->adjustSize();
    Label2->setText(Formats::current().currency2(price * total));
    Label2->adjustSize();
    BitBtn1->setEnabled(!(h == 0 && m == 0));
}

void TForm2::CHoursExit()
{
    if (CHours->text().isEmpty())
        CHours->setValue(0);
}

void TForm2::CMinutsExit()
{
    if (CMinuts->text().isEmpty())
        CMinuts->setValue(0);
}

void TForm2::BitBtn1Click()
{
    // A click does not always take the focus from a duration field, so both
    // are settled here as leaving them would; what remains is what the
    // command reads, and a duration that settles to nothing is refused.
    CHours->settle();
    CHoursExit();
    CMinuts->settle();
    CMinutsExit();
    if (BitBtn1->isEnabled())
        accept();
}

} // namespace bilmeko
