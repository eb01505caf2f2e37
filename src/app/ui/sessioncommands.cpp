#include "sessioncommands.h"

#include "app/core/sessionboard.h"
#include "cashdesk/core/abonement.h"
#include "common/core/errors.h"
#include "common/core/memtable.h"
#include "form2.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <algorithm>

namespace bilmeko {

// The billing tick keeps running while a dialog of these commands is open and
// may end the session it was opened for. Extend and Stop therefore remember
// the row itself, not "the current row", and do nothing if it is gone.

void newSessionCommand(QWidget *parent, SessionBoard &board, MemTable &prices, Payment payment, bool abonements)
{
    TForm2 dialog(&prices, parent);
    dialog.setPayment(payment);
    dialog.offerAbonement(abonements);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.abonement()) {
        const qint64 booked = qint64(dialog.hours()) * 60 + dialog.minutes();
        const AbonementBalance balance = abonementBalance(board.journalPath(), dialog.customer());
        if (balance.left() < booked)
            throw Error(QStringLiteral("На абонементе клиента «%1» %2 мин, а назначено %3 мин.")
                            .arg(dialog.customer().trimmed())
                            .arg(balance.left())
                            .arg(booked));
    }
    const TForm2::Service service = dialog.service();
    board.addSession(dialog.customer(), dialog.note(), service.name, service.price, dialog.hours(), dialog.minutes(),
                     dialog.payment(), dialog.abonement());
}

void extendSessionCommand(QWidget *parent, SessionBoard &board)
{
    MemTable &log = board.curLog();
    // The row the command is for, kept by identity: the tick may end it
    // while the dialog is open. An empty table has none: nothing to do.
    const MemTable::RowId row = log.currentId();
    if (row == 0)
        return;
    TForm2 dialog(nullptr, parent);
    dialog.setExtendMode(log.text(QStringLiteral("FIO")));
    if (const Session *s = board.session(row))
        dialog.setPayment(s->payment);
    if (dialog.exec() != QDialog::Accepted)
        return;
    board.setPayment(row, dialog.payment());
    board.extendSession(row, dialog.hours(), dialog.minutes());
}

void stopSessionCommand(QWidget *parent, SessionBoard &board)
{
    MemTable &log = board.curLog();
    // The row the command is for, kept by identity: the tick may end it
    // while the dialog is open. An empty table has none: nothing to do.
    const MemTable::RowId row = log.currentId();
    if (row == 0)
        return;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"),
                    QStringLiteral("Остановить ") + log.text(QStringLiteral("FIO")), QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Yes"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&No"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    // The method can still change as the client pays: a line under the text.
    auto *payment = new QComboBox(&box);
    payment->setObjectName(QStringLiteral("StopPayment"));
    for (Payment p : ChosenPayments)
        payment->addItem(paymentText(p), static_cast<int>(p));
    const Session *s = board.session(row);
    payment->setCurrentIndex(std::max(0, payment->findData(static_cast<int>(s ? s->payment : Payment::Cash))));
    auto *grid = qobject_cast<QGridLayout *>(box.layout());
    auto *buttons = box.findChild<QDialogButtonBox *>();
    const int at = grid && buttons ? grid->indexOf(buttons) : -1;
    if (at >= 0) {
        // In the buttons' place, which move one row down.
        int row = 0, column = 0, rows = 1, columns = 1;
        grid->getItemPosition(at, &row, &column, &rows, &columns);
        grid->removeWidget(buttons);
        auto *line = new QHBoxLayout;
        line->addWidget(new QLabel(QStringLiteral("Оплата:"), &box));
        line->addWidget(payment);
        line->addStretch(1);
        grid->addLayout(line, row, 1, 1, std::max(1, columns - 1));
        grid->addWidget(buttons, row + 1, column, rows, columns);
    }
    if (box.exec() != QMessageBox::Yes)
        return;
    board.setPayment(row, static_cast<Payment>(payment->currentData().toInt()));
    board.stopSession(row);
}

} // namespace bilmeko
