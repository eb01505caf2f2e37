#include "sessioncommands.h"

#include "common/core/memtable.h"
#include "form2.h"
#include "app/core/sessionboard.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace bilmeko {

// The billing tick keeps running while a dialog of these commands is open and
// may end the session it was opened for. Extend and Stop therefore remember
// the row itself, not "the current row", and do nothing if it is gone.

void newSessionCommand(QWidget *parent, SessionBoard &board, MemTable &prices)
{
    TForm2 dialog(&prices, parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    board.addSession(dialog.customer(), dialog.note(), prices.text(QStringLiteral("PItem")),
                     prices.number(QStringLiteral("PPrice")), dialog.hours(), dialog.minutes());
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
    if (dialog.exec() != QDialog::Accepted)
        return;
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
                    QStringLiteral("Остановить ") + log.text(QStringLiteral("FIO")),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Yes"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&No"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes)
        return;
    board.stopSession(row);
}

} // namespace bilmeko
