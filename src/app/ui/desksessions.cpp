// The main window's session commands: start, extend, stop, pause, undo a
// Stop, and the last session's receipt; what the window shows of them.

#include "form1.h"

#include "app/core/receipt.h"
#include "app/core/sessionboard.h"
#include "common/core/clock.h"
#include "common/core/errors.h"
#include "common/core/printjob.h"
#include "common/ui/errorbox.h"
#include "formbox.h"
#include "receiptprint.h"
#include "sessioncommands.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QToolButton>
#include <optional>

namespace bilmeko {

void TForm1::SpeedButton1Click()
{
    newSessionCommand(this, *m_board, *TPrices, m_options.payment, !m_abonements.isEmpty());
    updateReminders();
    updateSessionActions();
    refreshTakings();
}

void TForm1::SpeedButton2Click()
{
    extendSessionCommand(this, *m_board);
    updateReminders();
    updateSessionActions();
    refreshTakings();
}

void TForm1::SpeedButton3Click()
{
    stopSessionCommand(this, *m_board);
    updateReminders();
    updateSessionActions();
    refreshTakings();
}

void TForm1::SpeedButton4Click()
{
    const MemTable::RowId row = m_board->curLog().currentId();
    if (row != 0)
        m_board->togglePause(row);
    updateSessionActions();
    refreshTakings();
}

void TForm1::N10Click()
{
    const FinishedSession *undo = m_board->undoableStop();
    const std::optional<FinishedSession> stopped = undo ? std::optional<FinishedSession>(*undo) : std::nullopt;
    const std::uint64_t id = undo ? undo->session.id : 0;
    if (!m_board->undoStop())
        return;
    if (m_options.receipt && stopped)
        printReversalSlip(*stopped);
    // Its notice would say the session is over: it is not any more.
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<TFormbox *>(w); box && box->sessionId() == id)
            box->close();
    updateReminders();
    updateSessionActions();
    refreshTakings();
}

Receipt TForm1::lastReceipt()
{
    const FinishedSession *f = m_board->lastFinished();
    if (!f)
        throw Error(QStringLiteral("Нет законченного сеанса для чека."));
    return numberedReceipt(*f);
}

void TForm1::N11Click()
{
    printReceiptLater(lastReceipt());
}

// Printed by the print helper, so neither the tick nor the operator waits
// for the print service, and nothing takes the focus: the command returns
// at once. Only a failure shows, as an error box naming the printer that
// does not take the keyboard, when the job ends (at the latest at its
// deadline).
void TForm1::printReceiptLater(const Receipt &receipt)
{
    PrintJob *job = printReceipt(receipt, m_options.receiptWidthMm, this);
    connect(job, &PrintJob::finished, this, [](const PrintJob::Result &r) {
        if (r.outcome != PrintJob::Result::Printed)
            showErrorNotice(r.message(QStringLiteral("Чек")));
    });
}

void TForm1::printSlipLater(const Receipt &receipt)
{
    // The tick or the command that ended the session goes on; a job that
    // cannot even start says so without stopping it.
    try {
        printReceiptLater(receipt);
    } catch (const Error &e) {
        showErrorNotice(e.message());
    }
}

void TForm1::N12Click()
{
    const Receipt receipt = lastReceipt();
    QString path;
    if (chooseReceiptPath) {
        path = chooseReceiptPath();
    } else {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        // The file is named after the client, so the receipts of a day do
        // not overwrite one another; '/' cannot be in a file's name.
        QString client = m_board->lastFinished()->session.client.trimmed();
        client.replace(QLatin1Char('/'), QLatin1Char('-'));
        const QString name = client.isEmpty() ? QStringLiteral("Чек.pdf") : QStringLiteral("Чек %1.pdf").arg(client);
        path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить чек в PDF"), QDir(folder).filePath(name),
                                            QStringLiteral("Документ PDF (*.pdf)"));
    }
    if (path.isEmpty())
        return;
    saveReceiptPdf(receipt, m_options.receiptWidthMm, path);
}

void TForm1::sessionFinished(const FinishedSession &f)
{
    updateSessionActions();
    if (!m_options.receipt)
        return;
    printSlipLater(numberedReceipt(f));
}

void TForm1::updateSessionActions()
{
    const bool any = m_board->lastFinished() != nullptr;
    N11->setEnabled(any);
    N12->setEnabled(any);
    const FinishedSession *undo = m_board->undoableStop();
    N10->setEnabled(undo != nullptr);
    N10->setText(undo ? QStringLiteral("&Отменить стоп: %1").arg(undo->session.client)
                      : QStringLiteral("&Отменить стоп"));
    const MemTable::RowId row = m_board->curLog().currentId();
    const bool paused = row != 0 && m_board->isPaused(row);
    SpeedButton4->setText(paused ? QStringLiteral("Дальше") : QStringLiteral("Пауза"));
    N9->setText(paused ? QStringLiteral("&Дальше\tF6") : QStringLiteral("&Пауза\tF6"));
    // Nothing to pause on an empty grid (F6 clicks the button, so it goes
    // too); the menu's item says the same.
    SpeedButton4->setEnabled(row != 0);
    N9->setEnabled(row != 0);
}

} // namespace bilmeko
