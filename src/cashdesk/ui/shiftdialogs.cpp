#include "shiftdialogs.h"

#include "common/core/errors.h"
#include "common/core/formats.h"
#include "common/ui/errorbox.h"

#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

namespace bilmeko {

bool parseCash(const QString &text, double &out)
{
    QString t = text.trimmed();
    t.remove(QLatin1Char(' '));
    t.remove(QChar(0x00A0));
    t.remove(QChar(0x202F));
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    if (t.isEmpty() || t.size() > 20)
        return false;
    int points = 0;
    for (QChar c : t) {
        if (c == QLatin1Char('.'))
            ++points;
        else if (!c.isDigit() || c.unicode() > '9')
            return false;
    }
    bool ok = false;
    out = t.toDouble(&ok);
    return ok && points <= 1 && std::isfinite(out) && out >= 0 && out <= ShiftBook::MaxCash;
}

namespace {

QPushButton *okButton(QDialogButtonBox *box, const QString &text)
{
    QPushButton *ok = box->button(QDialogButtonBox::Ok);
    ok->setText(text);
    box->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отменить"));
    return ok;
}

QPlainTextEdit *reportView(const QString &text, QWidget *parent)
{
    auto *view = new QPlainTextEdit(text, parent);
    view->setObjectName(QStringLiteral("ShiftReportText"));
    view->setReadOnly(true);
    view->setMinimumSize(380, 300);
    return view;
}

} // namespace

OpenShiftDialog::OpenShiftDialog(const QStringList &operators, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("OpenShift"));
    setWindowTitle(QStringLiteral("Открыть смену"));
    m_operator = new QComboBox(this);
    m_operator->setObjectName(QStringLiteral("ShiftOperator"));
    m_operator->setEditable(true);
    m_operator->addItems(operators);
    m_operator->setCurrentIndex(operators.isEmpty() ? -1 : 0);
    m_operator->setInsertPolicy(QComboBox::NoInsert);
    m_cash = new QLineEdit(QStringLiteral("0"), this);
    m_cash->setObjectName(QStringLiteral("ShiftCash"));
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Оператор"), m_operator);
    form->addRow(QStringLiteral("Наличные в кассе"), m_cash);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = okButton(buttons, QStringLiteral("Открыть смену"));
    m_ok->setObjectName(QStringLiteral("ShiftOk"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_operator, &QComboBox::editTextChanged, this, &OpenShiftDialog::check);
    connect(m_cash, &QLineEdit::textChanged, this, &OpenShiftDialog::check);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    check();
}

QString OpenShiftDialog::operatorName() const
{
    return m_operator->currentText().trimmed();
}

double OpenShiftDialog::cash() const
{
    double v = 0;
    return parseCash(m_cash->text(), v) ? v : 0;
}

void OpenShiftDialog::check()
{
    double v = 0;
    m_ok->setEnabled(!operatorName().isEmpty() && parseCash(m_cash->text(), v));
}

CloseShiftDialog::CloseShiftDialog(const ShiftSummary &summary, const QString &desk, QWidget *parent)
    : QDialog(parent), m_summary(summary)
{
    setObjectName(QStringLiteral("CloseShift"));
    setWindowTitle(QStringLiteral("Закрыть смену %1").arg(summary.shift.number));
    m_counted = new QLineEdit(this);
    m_counted->setObjectName(QStringLiteral("CountedCash"));
    m_difference = new QLabel(this);
    m_difference->setObjectName(QStringLiteral("ShiftDifference"));
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Наличные по расчету"),
                 new QLabel(Formats::current().currency2(summary.expectedCash()), this));
    form->addRow(QStringLiteral("Наличные по факту"), m_counted);
    form->addRow(QStringLiteral("Расхождение"), m_difference);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = okButton(buttons, QStringLiteral("Закрыть смену"));
    m_ok->setObjectName(QStringLiteral("ShiftOk"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_counted, &QLineEdit::textChanged, this, &CloseShiftDialog::check);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(reportView(shiftSlip(summary, desk).text(), this));
    layout->addLayout(form);
    layout->addWidget(buttons);
    check();
}

double CloseShiftDialog::countedCash() const
{
    double v = 0;
    return parseCash(m_counted->text(), v) ? v : 0;
}

void CloseShiftDialog::check()
{
    double v = 0;
    const bool ok = parseCash(m_counted->text(), v);
    m_ok->setEnabled(ok);
    m_difference->setText(ok ? Formats::current().currency2(v - m_summary.expectedCash()) : QString());
}

AbonementSaleDialog::AbonementSaleDialog(const QList<AbonementKind> &kinds, Payment payment, QWidget *parent)
    : QDialog(parent), m_kinds(kinds)
{
    setObjectName(QStringLiteral("AbonementSale"));
    setWindowTitle(QStringLiteral("Продать абонемент"));
    m_client = new QLineEdit(this);
    m_client->setObjectName(QStringLiteral("AbonementClient"));
    m_client->setMaxLength(20); // what a record keeps of a session's client
    m_kind = new QComboBox(this);
    m_kind->setObjectName(QStringLiteral("AbonementKind"));
    const Formats &fm = Formats::current();
    for (const AbonementKind &k : kinds)
        m_kind->addItem(QStringLiteral("%1: %2 мин, %3").arg(k.name).arg(k.minutes).arg(fm.currency2(k.price)));
    m_payment = new QComboBox(this);
    m_payment->setObjectName(QStringLiteral("AbonementPayment"));
    for (Payment p : ChosenPayments)
        m_payment->addItem(paymentText(p), static_cast<int>(p));
    m_payment->setCurrentIndex(std::max(0, m_payment->findData(static_cast<int>(payment))));
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Клиент"), m_client);
    form->addRow(QStringLiteral("Абонемент"), m_kind);
    form->addRow(QStringLiteral("Оплата"), m_payment);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = okButton(buttons, QStringLiteral("Продать"));
    m_ok->setObjectName(QStringLiteral("AbonementOk"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    const auto check = [this] { m_ok->setEnabled(!client().isEmpty() && m_kind->currentIndex() >= 0); };
    connect(m_client, &QLineEdit::textChanged, this, check);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    check();
}

QString AbonementSaleDialog::client() const
{
    return m_client->text().trimmed();
}

AbonementKind AbonementSaleDialog::kind() const
{
    return m_kinds.value(m_kind->currentIndex());
}

Payment AbonementSaleDialog::payment() const
{
    return static_cast<Payment>(m_payment->currentData().toInt());
}

ShiftReportsDialog::ShiftReportsDialog(const QList<Shift> &shifts, Summarize summarize, QString desk, SlipHook print,
                                       SlipHook savePdf, QWidget *parent)
    : QDialog(parent), m_shifts(shifts), m_summarize(std::move(summarize)), m_desk(std::move(desk))
{
    setObjectName(QStringLiteral("ShiftReports"));
    setWindowTitle(QStringLiteral("Отчеты смен"));
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("ShiftList"));
    const Formats &fm = Formats::current();
    for (qsizetype i = m_shifts.size() - 1; i >= 0; --i) {
        const Shift &s = m_shifts[i];
        const QDateTime opened = QDateTime::fromMSecsSinceEpoch(s.openedUtcMs);
        m_list->addItem(QStringLiteral("%1. %2 %3, %4%5")
                            .arg(s.number)
                            .arg(fm.dateText(opened.date()), fm.timeText(opened.time()), s.operatorName,
                                 s.closed ? QString() : QStringLiteral(" (идет)")));
    }
    m_text = reportView(QString(), this);
    m_print = new QPushButton(QStringLiteral("Печать"), this);
    m_print->setObjectName(QStringLiteral("ShiftPrint"));
    m_save = new QPushButton(QStringLiteral("Сохранить в PDF…"), this);
    m_save->setObjectName(QStringLiteral("ShiftSavePdf"));
    auto *close = new QPushButton(QStringLiteral("Закрыть"), this);
    for (QPushButton *b : {m_print, m_save, close})
        b->setAutoDefault(false);
    connect(m_list, &QListWidget::currentRowChanged, this, &ShiftReportsDialog::showShift);
    connect(m_print, &QPushButton::clicked, this, [this, print] { guard([&] { print(m_slip); }); });
    connect(m_save, &QPushButton::clicked, this, [this, savePdf] { guard([&] { savePdf(m_slip); }); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto *sides = new QHBoxLayout;
    m_list->setMinimumWidth(240);
    sides->addWidget(m_list);
    sides->addWidget(m_text, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_print);
    buttons->addWidget(m_save);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(sides, 1);
    layout->addLayout(buttons);
    m_print->setEnabled(false);
    m_save->setEnabled(false);
    if (m_list->count() > 0)
        m_list->setCurrentRow(0);
}

void ShiftReportsDialog::showShift(int row)
{
    if (row < 0 || row >= m_shifts.size())
        return;
    const Shift &s = m_shifts[m_shifts.size() - 1 - row];
    guard([&] {
        m_slip = shiftSlip(m_summarize(s), m_desk);
        m_text->setPlainText(m_slip.text());
        m_print->setEnabled(true);
        m_save->setEnabled(true);
    });
}

} // namespace bilmeko
