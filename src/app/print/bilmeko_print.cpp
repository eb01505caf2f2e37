// The print helper: one job from its standard input (written by
// PrintJob::start) to the default printer. The program starts it for every
// receipt and report it prints and kills it at the deadline, so a print
// service that never answers holds up this process alone.
//
// Standard output: "printer\t<name>" once the printer is known,
// "error\t<why>" when the job fails. Exit status: PrintJob::HelperStatus.

#include "app/core/receipt.h"
#include "app/ui/receiptprint.h"
#include "common/core/errors.h"
#include "common/core/printjob.h"
#include "journal/ui/reportlayout.h"

#include <QDataStream>
#include <QFile>
#include <QGuiApplication>
#include <QPrinter>
#include <QPrinterInfo>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/prctl.h>
#include <unistd.h>

using namespace bilmeko;

namespace {

void say(const char *key, const QString &text)
{
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fprintf(stdout, "%s\t%s\n", key, line.toUtf8().constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    // Gone with the program that started it, however that ends.
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        return PrintJob::Failed;
    // Pages are painted for the printer, never shown: no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    // The whole document is read before the print service is asked anything.
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return PrintJob::BadDocument;
    QDataStream in(&input);
    in.setVersion(QDataStream::Qt_6_0);
    QByteArray magic;
    QString kind;
    QString title;
    in >> magic >> kind >> title;
    if (in.status() != QDataStream::Ok || magic != QByteArray(PrintJob::Magic)) {
        say("error", QStringLiteral("задание печати повреждено"));
        return PrintJob::BadDocument;
    }
    std::function<void(QPrinter &)> paint;
    Receipt receipt;
    int widthMm = 0;
    ReportJob report;
    if (kind == QLatin1String(ReceiptJobKind) && readReceiptJob(in, receipt, widthMm)) {
        paint = [&](QPrinter &printer) {
            printer.setFullPage(true);
            paintReceipt(receipt, widthMm, printer);
            if (printer.printerState() == QPrinter::Error)
                throw Error(ReceiptRefused);
        };
    } else if (kind == QLatin1String(ReportJobKind) && readReportJob(in, report)) {
        paint = [&](QPrinter &printer) { printReportText(report, report.font, printer, report.title); };
    } else {
        say("error", QStringLiteral("задание печати повреждено"));
        return PrintJob::BadDocument;
    }

    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        return PrintJob::NoPrinter;
    say("printer", info.printerName());
    try {
        QPrinter printer(info, QPrinter::HighResolution);
        printer.setDocName(title);
        paint(printer);
    } catch (const Error &e) {
        say("error", e.message());
        return PrintJob::Failed;
    }
    return PrintJob::Printed;
}
