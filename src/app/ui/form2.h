#pragma once
// The client dialog: service, client, duration and note for a new session,
// or only the duration when a running session is lengthened.

#include "journal/core/logrecord.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace bilmeko {

class MemTable;
class SpinField;

class TForm2 : public QDialog
{
    Q_OBJECT
public:
    // The price table may be null (the extend mode never shows a price).
    explicit TForm2(MemTable *prices, QWidget *parent = nullptr);
    ~TForm2() override;

    // Only the "Время" line and the buttons stay, under a caption naming
    // the client whose session is lengthened.
    void setExtendMode(const QString &fio);
    bool isExtendMode() const { return m_extend; }

    // What the operator entered; hours and minutes are always whole numbers
    // within their fields' ranges.
    QString customer() const;
    QString note() const;
    int hours() const;
    int minutes() const;
    // "Оплата": the method the session is paid by (shown in both modes).
    Payment payment() const;
    void setPayment(Payment p);
    // "По абонементу": offered when the desk sells abonements; the session
    // then draws on the client's.
    void offerAbonement(bool offered);
    bool abonement() const;
    // "Услуга": the service chosen in the list and its price per minute;
    // an empty name and 0 when nothing is chosen.
    struct Service
    {
        QString name;
        double price = 0;
    };
    Service service() const;

    // Handlers.
    void FormShow();
    void RxLookupEdit1CloseUp();
    void CHoursExit();
    void CMinutsExit();
    void RxLookupEdit1Change(int index);
    void BitBtn1Click();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QLabel *addLabel(const char *name, const QString &caption, int x, int y);

    MemTable *m_prices;
    bool m_extend = false;
    bool m_shown = false;

    QLabel *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9, *Label10, *Label11;
    QLabel *Label1, *Label2;
    QComboBox *RxLookupEdit1;
    QLabel *LabelPayment;
    QComboBox *PaymentBox;
    QCheckBox *Abonement;
    QLineEdit *Customer, *Desk;
    SpinField *CHours, *CMinuts;
    QFrame *Bevel1;
    QPushButton *BitBtn1, *BitBtn2;
};

} // namespace bilmeko
