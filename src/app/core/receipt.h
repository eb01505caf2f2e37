#pragma once
// The text of a receipt for one finished session: a heading (the salon's
// name), lines of a label and a value, as a narrow roll prints them, and a
// footer line.
//
// A receipt lets its reader check the charge: the start, the pauses, the
// time charged (with its seconds) and the end, so that start + pauses +
// time = end; the minutes are the time's whole minutes (a started minute
// is not charged).

#include <QDateTime>
#include <QList>
#include <QString>
#include <utility>

namespace bilmeko {

struct FinishedSession;
struct LogRecord;

struct Receipt
{
    QString salon;
    QString title;
    // Label and value, in print order.
    QList<std::pair<QString, QString>> lines;
    // Under the lines, centred; empty: none.
    QString footer;

    // The same as plain text, one line each ("Клиент: Иванова").
    QString text() const;
};

// What heads a numbered receipt: its number in the desk's sequence (0: none,
// the title is then "Чек"), the desk, the operator of the shift open when
// the session ended (empty: no shift was open), whether it is a copy.
struct ReceiptHeading
{
    int number = 0;
    QString desk;
    QString operatorName;
    bool copy = false;
};

inline const QString NotFiscal = QStringLiteral("Не является фискальным документом");

// salon: [Options] SalonName; empty gives the program's name.
Receipt makeReceipt(const FinishedSession &session, const QString &salon, const QDateTime &printed,
                    const ReceiptHeading &heading = {});
// The slip of a Stop taken back: the session, the amount returned (as the
// reversal's record holds it) and its method, the Stop's receipt number.
Receipt makeReversalSlip(const FinishedSession &stopped, const QString &salon, const QDateTime &printed,
                         const ReceiptHeading &heading, int stopReceipt);

// The receipt of an abonement's sale (its journal record).
Receipt makeAbonementReceipt(const LogRecord &sale, const QString &salon, const QDateTime &printed,
                             const ReceiptHeading &heading);

// The width printed on a roll: 48 mm of a 58 mm roll, 72 mm of an 80 mm one.
constexpr double receiptPrintableMm(int rollMm)
{
    return rollMm >= 80 ? 72 : 48;
}

} // namespace bilmeko
