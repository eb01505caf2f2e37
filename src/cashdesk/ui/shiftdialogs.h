#pragma once
// The shift's windows: opening a shift (operator and the cash in the
// drawer), closing it (its report, the cash counted, the difference) and
// the reports of past shifts. They only move data between widgets and the
// core; printing and saving are the caller's, through the hooks.

#include "cashdesk/core/abonement.h"
#include "cashdesk/core/shiftreport.h"

#include <QDialog>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace bilmeko {

// "Открыть смену": the operator (from the list or typed) and the cash.
class OpenShiftDialog : public QDialog
{
    Q_OBJECT
public:
    OpenShiftDialog(const QStringList &operators, QWidget *parent = nullptr);
    QString operatorName() const;
    double cash() const; // valid once accepted

private:
    void check();

    QComboBox *m_operator;
    QLineEdit *m_cash;
    QPushButton *m_ok;
};

// "Закрыть смену": the open shift's report, the counted cash and the
// difference to the expected cash, as it is typed.
class CloseShiftDialog : public QDialog
{
    Q_OBJECT
public:
    CloseShiftDialog(const ShiftSummary &summary, const QString &desk, QWidget *parent = nullptr);
    double countedCash() const; // valid once accepted

private:
    void check();

    ShiftSummary m_summary;
    QLineEdit *m_counted;
    QLabel *m_difference;
    QPushButton *m_ok;
};

// "Отчеты смен": every shift, the newest first; the report of the one
// chosen, to print or save.
class ShiftReportsDialog : public QDialog
{
    Q_OBJECT
public:
    using Summarize = std::function<ShiftSummary(const Shift &)>;
    using SlipHook = std::function<void(const ShiftSlip &)>;
    ShiftReportsDialog(const QList<Shift> &shifts, Summarize summarize, QString desk, SlipHook print, SlipHook savePdf,
                       QWidget *parent = nullptr);
    const ShiftSlip &shown() const { return m_slip; }

private:
    void showShift(int row);

    QList<Shift> m_shifts;
    Summarize m_summarize;
    QString m_desk;
    ShiftSlip m_slip;
    QListWidget *m_list;
    QPlainTextEdit *m_text;
    QPushButton *m_print;
    QPushButton *m_save;
};

// "Продать абонемент": the client, the kind and how it is paid.
class AbonementSaleDialog : public QDialog
{
    Q_OBJECT
public:
    AbonementSaleDialog(const QList<AbonementKind> &kinds, Payment payment, QWidget *parent = nullptr);
    QString client() const;
    AbonementKind kind() const;
    Payment payment() const;

private:
    QList<AbonementKind> m_kinds;
    QLineEdit *m_client;
    QComboBox *m_kind;
    QComboBox *m_payment;
    QPushButton *m_ok;
};

// Cash as typed: digits, one ',' or '.', blanks between groups; false for
// anything else or beyond ShiftBook::MaxCash.
bool parseCash(const QString &text, double &out);

} // namespace bilmeko
