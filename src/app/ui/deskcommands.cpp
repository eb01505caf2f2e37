// The main window's cash-desk commands: shifts, numbered receipts,
// abonements. Kept apart from form1.cpp, which builds the window.

#include "form1.h"

#include "app/core/sessionboard.h"
#include "cashdesk/core/shiftreport.h"
#include "cashdesk/ui/shiftdialogs.h"
#include "common/core/clock.h"
#include "common/core/datetime.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "deskprint.h"
#include "journal/core/journalfile.h"
#include "journal/ui/form5.h"
#include "ledger/core/ledgersettings.h"
#include "ledger/ui/deskledger.h"
#include "prices/core/profilefile.h"
#include "receiptprint.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStatusBar>

namespace bilmeko {

namespace {

const QString OperatorsSection = QStringLiteral("Operators");

} // namespace

QString TForm1::shiftPdfPath(int shift) const
{
    return m_dir + QStringLiteral("Bilmeko.shift-%1.pdf").arg(shift, 4, 10, QLatin1Char('0'));
}

void TForm1::buildDeskMenu()
{
    QMenu *menu = menuBar()->addMenu(QStringLiteral("Сме&на"));
    menu->setObjectName(QStringLiteral("ShiftMenu"));
    const auto add = [&](QAction *&action, const char *name, const QString &text, void (TForm1::*handler)()) {
        action = menu->addAction(text);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, [this, handler] { guard([this, handler] { (this->*handler)(); }); });
    };
    add(ShiftOpen, "ShiftOpen", QStringLiteral("&Открыть смену…"), &TForm1::ShiftOpenClick);
    add(ShiftClose, "ShiftClose", QStringLiteral("&Закрыть смену…"), &TForm1::ShiftCloseClick);
    add(ShiftReports, "ShiftReports", QStringLiteral("Отчеты с&мен…"), &TForm1::ShiftReportsClick);
    menu->addSeparator();
    add(AbonementSell, "AbonementSell", QStringLiteral("Продать &абонемент…"), &TForm1::AbonementSellClick);
    ShiftLabel = new QLabel(this);
    ShiftLabel->setObjectName(QStringLiteral("ShiftLabel"));
    statusBar()->addWidget(ShiftLabel);
    updateShiftLabel();
}

void TForm1::loadDesk()
{
    m_shifts = ShiftBook(m_dir + QLatin1String(ShiftFileName));
    if (const QString problem = m_shifts.load(); !problem.isEmpty())
        showErrorBox(problem);
    m_desk = readLedgerSettings(*SettingsIni).desk;
    // "Иванова=" or "1=Иванова": the name is the value, or the key alone.
    m_operators.clear();
    for (const profile::Entry &e : SettingsIni->readSection(OperatorsSection)) {
        const QString name = e.value.trimmed().isEmpty() ? e.key.trimmed() : e.value.trimmed();
        if (!name.isEmpty() && !m_operators.contains(name))
            m_operators << name;
    }
    const AbonementKinds kinds = readAbonementKinds(*SettingsIni);
    m_abonements = kinds.kinds;
    for (const QString &m : kinds.messages)
        showErrorBox(m);
    updateShiftLabel();
}

void TForm1::updateShiftLabel()
{
    if (!ShiftLabel)
        return;
    const Shift *open = m_shifts.openShift();
    ShiftLabel->setText(open ? QStringLiteral("Смена %1: %2").arg(open->number).arg(open->operatorName)
                             : QStringLiteral("смена не открыта"));
    ShiftOpen->setEnabled(!open);
    ShiftClose->setEnabled(open);
    AbonementSell->setEnabled(!m_abonements.isEmpty());
}

void TForm1::shiftLineWritten()
{
    // The shipper looks at the shift file whenever it wakes.
    if (m_ledger)
        m_ledger->journalGrew();
}

void TForm1::ShiftOpenClick()
{
    if (m_shifts.openShift())
        return;
    OpenShiftDialog dialog(m_operators, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_shifts.open(dialog.operatorName(), dialog.cash(), journalRecordsLength(m_journalPath));
    updateShiftLabel();
    shiftLineWritten();
}

void TForm1::ShiftCloseClick()
{
    const Shift *open = m_shifts.openShift();
    if (!open)
        return;
    CloseShiftDialog dialog(summarizeShift(*open, m_journalPath), m_desk, this);
    if (dialog.exec() != QDialog::Accepted || !m_shifts.openShift())
        return;
    const Shift closed = m_shifts.close(dialog.countedCash(), journalRecordsLength(m_journalPath));
    updateShiftLabel();
    shiftLineWritten();
    // Read again: a session may have ended while the dialog was open.
    const ShiftSummary summary = summarizeShift(closed, m_journalPath);
    const Receipt slip = shiftReceipt(shiftSlip(summary, m_desk), m_options.salonName);
    if (m_options.receipt)
        printSlip(slip);
    saveReceiptPdf(slip, m_options.receiptWidthMm, shiftPdfPath(closed.number));
}

void TForm1::ShiftReportsClick()
{
    const auto print = [this](const ShiftSlip &slip) { printSlip(shiftReceipt(slip, m_options.salonName)); };
    const auto save = [this](const ShiftSlip &slip) {
        QString path;
        if (chooseShiftPdfPath) {
            path = chooseShiftPdfPath();
        } else {
            const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
            path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить отчет о смене в PDF"),
                                                QDir(folder).filePath(slip.title + QStringLiteral(".pdf")),
                                                QStringLiteral("Документ PDF (*.pdf)"));
        }
        if (!path.isEmpty())
            saveReceiptPdf(shiftReceipt(slip, m_options.salonName), m_options.receiptWidthMm, path);
    };
    ShiftReportsDialog dialog(
        m_shifts.shifts(), [this](const Shift &s) { return summarizeShift(s, m_journalPath); }, m_desk, print, save,
        this);
    dialog.exec();
}

void TForm1::AbonementSellClick()
{
    if (m_abonements.isEmpty())
        throw Error(QStringLiteral("В файле \"%1\" нет абонементов: добавьте раздел [Abonements] со строками "
                                   "Название=минуты;цена.")
                        .arg(QDir::toNativeSeparators(m_settingsPath)));
    AbonementSaleDialog dialog(m_abonements, m_options.payment, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    LogRecord r = abonementSale(dialog.client(), dialog.kind(), dialog.payment(), Clock::current().nowValue());
    do {
        r.sessionId = QRandomGenerator::system()->generate64();
    } while (r.sessionId == 0);
    appendJournalRecord(m_journalPath, r);
    m_takings.add(r);
    refreshTakings();
    if (m_ledger)
        m_ledger->journalGrew();
    const AbonementBalance balance = abonementBalance(m_journalPath, r.clientName);
    statusBar()->showMessage(
        QStringLiteral("Абонемент «%1» продан: %2, остаток %3 мин.").arg(r.service, r.clientName).arg(balance.left()),
        15000);
    if (m_options.receipt)
        printSlip(makeAbonementReceipt(r, m_options.salonName, Clock::current().now(), headingFor(r, false)));
}

ReceiptHeading TForm1::headingFor(const LogRecord &record, bool reversal)
{
    ReceiptHeading h;
    h.desk = m_desk;
    // The operator of the shift open when the record was written.
    if (const Shift *s = m_shifts.shiftAt(toDateTime(record.written).toMSecsSinceEpoch()))
        h.operatorName = s->operatorName;
    const ReceiptKey key{record.sessionId, roundToMs(record.written), reversal};
    h.number = m_shifts.receiptNumber(key);
    h.copy = h.number > 0;
    if (h.number == 0) {
        // On the disk before the slip is printed, so a number is never
        // given twice; a file that cannot be written gives no number.
        try {
            h.number = m_shifts.takeReceiptNumber(key);
            shiftLineWritten();
        } catch (const Error &e) {
            showErrorBox(e.message());
        }
    }
    return h;
}

void TForm1::printSlip(const Receipt &slip)
{
    if (slipPrinter)
        slipPrinter(slip);
    else
        printSlipLater(slip);
}

Receipt TForm1::numberedReceipt(const FinishedSession &f)
{
    return makeReceipt(f, m_options.salonName, Clock::current().now(), headingFor(f.record, false));
}

void TForm1::printReversalSlip(const FinishedSession &stopped)
{
    const int stopReceipt
        = m_shifts.receiptNumber({stopped.record.sessionId, roundToMs(stopped.record.written), false});
    const ReceiptHeading h = headingFor(stopped.record, true);
    printSlip(makeReversalSlip(stopped, m_options.salonName, Clock::current().now(), h, stopReceipt));
}

void TForm1::reprintReceipt(const LogRecord &record)
{
    if (record.abonement && record.status == StatusAbonement) {
        printSlip(makeAbonementReceipt(record, m_options.salonName, Clock::current().now(), headingFor(record, false)));
        return;
    }
    const std::optional<FinishedSession> f = finishedFromRecord(record);
    if (!f)
        throw Error(
            QStringLiteral("Для записи «%1» чек не печатается: в ней нет законченного сеанса.").arg(record.clientName));
    printSlip(numberedReceipt(*f));
}

} // namespace bilmeko
