#pragma once
// The text of a receipt for one finished session: a heading (the salon's
// name) and lines of a label and a value, as a narrow roll prints them.

#include <QDateTime>
#include <QList>
#include <QString>
#include <utility>

namespace bilmeko {

struct FinishedSession;

struct Receipt
{
    QString salon;
    QString title;
    // Label and value, in print order.
    QList<std::pair<QString, QString>> lines;

    // The same as plain text, one line each ("Клиент: Иванов").
    QString text() const;
};

// salon: [Options] SalonName; empty gives the program's name.
Receipt makeReceipt(const FinishedSession &session, const QString &salon, const QDateTime &printed);

} // namespace bilmeko
