// Printing: what the window spends on a print job (writing the document,
// starting the print helper), and the helper's whole run up to the print
// service's answer, here that there is no printer (the service's socket
// does not exist), so the figure is the helper's own cost.

#include "app/core/receipt.h"
#include "app/ui/receiptprint.h"
#include "bench.h"
#include "common/core/printjob.h"
#include "journal/core/textlines.h"
#include "journal/ui/reportlayout.h"

#include <QEventLoop>
#include <QFile>
#include <QFont>
#include <QObject>

using namespace bilmeko;
using namespace bilmeko::bench;

namespace {

// Starts the job, then waits for its end; the window's share is the start.
void measure(const QString &name, const std::function<PrintJob *()> &start)
{
    Samples window;
    Samples whole;
    for (int i = 0; i < 7; ++i) {
        PrintJob *job = nullptr;
        QElapsedTimer wall;
        wall.start();
        window.add(once([&] { job = start(); }));
        QEventLoop loop;
        QObject::connect(job, &PrintJob::finished, &loop, &QEventLoop::quit);
        loop.exec();
        whole.add({double(wall.nsecsElapsed()) / 1e6, 0});
    }
    figure(name + QStringLiteral(", the window's share (writing, starting the helper)"), window, 1);
    figure(name + QStringLiteral(", up to the helper's answer, wall clock"), whole.wallMs(0.5),
           QStringLiteral("ms (median of 7)"));
}

} // namespace

BILMEKO_BENCH(print_job, "a receipt and a month's report handed to the print helper")
{
    qputenv("CUPS_SERVER", QFile::encodeName(scratchDir() + QStringLiteral("/no-print-service.sock")));
    Receipt receipt;
    receipt.salon = QStringLiteral("Салон «Лада»");
    receipt.title = QStringLiteral("Чек");
    for (int i = 0; i < 10; ++i)
        receipt.lines.append({QStringLiteral("Строка %1").arg(i), QStringLiteral("Значение %1").arg(i)});
    QObject owner;
    measure(QStringLiteral("receipt"), [&] { return printReceipt(receipt, 58, &owner); });

    // A busy month: 3,000 sessions.
    QString text = QStringLiteral("Дата\tНачало\tВремя\tКонец\tКлиент\tУслуга\tСумма\n");
    for (int i = 0; i < 3000; ++i)
        text += QStringLiteral("%1.12.2026\t10:00:00\t0:30:00\t10:30:00\tКлиентка %2\tСтрижка\t60,00\n")
                    .arg(1 + i % 30, 2, 10, QLatin1Char('0'))
                    .arg(i);
    const StringLines lines(text);
    const QFont font(QStringLiteral("DejaVu Sans Mono"), 9);
    measure(QStringLiteral("report of 3,000 lines"), [&] {
        return PrintJob::start(
            QLatin1String(ReportJobKind), QStringLiteral("Отчет о работе"),
            [&](QDataStream &out) { writeReportJob(out, lines, font, QStringLiteral("Отчет")); }, &owner);
    });
}
