#include "receiptprint.h"

#include "app/core/receipt.h"
#include "common/core/atomicfile.h"
#include "common/core/errors.h"
#include "common/core/printjob.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>

namespace bilmeko {

namespace {

// The roll's margin on each side: what a roll printer cannot print on.
double marginMm(int widthMm)
{
    return (widthMm - receiptPrintableMm(widthMm)) / 2;
}
constexpr double FontPt = 8;

struct Placed
{
    QString text;
    bool right = false; // a value, right-aligned
    bool bold = false;
    bool centred = false;
};

} // namespace

void paintReceipt(const Receipt &receipt, int widthMm, QPagedPaintDevice &printer)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(FontPt);
    QFont bold(font);
    bold.setBold(true);
    const QFontMetricsF fm(bold, &printer);
    const double perMm = printer.logicalDpiX() / 25.4;
    const double MarginMm = marginMm(widthMm);
    const double width = receiptPrintableMm(widthMm) * perMm;

    // A label and its value share a line when both fit, else the value
    // goes on a line of its own.
    QList<QList<Placed>> rows;
    rows.append({{receipt.salon, false, true, true}});
    rows.append({{receipt.title, false, false, true}});
    for (const auto &[label, value] : receipt.lines) {
        const QString l = label + QLatin1Char(':');
        if (fm.horizontalAdvance(l + QStringLiteral("  ") + value) <= width) {
            rows.append({{l}, {value, true}});
        } else {
            rows.append({{l}});
            rows.append({{fm.elidedText(value, Qt::ElideRight, width), true}});
        }
    }
    // The footer, centred, broken between words where the roll is narrow.
    QString part;
    for (const QString &word : receipt.footer.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString longer = part.isEmpty() ? word : part + QLatin1Char(' ') + word;
        if (part.isEmpty() || fm.horizontalAdvance(longer) <= width) {
            part = longer;
            continue;
        }
        rows.append({{fm.elidedText(part, Qt::ElideRight, width), false, false, true}});
        part = word;
    }
    if (!part.isEmpty())
        rows.append({{fm.elidedText(part, Qt::ElideRight, width), false, false, true}});
    const double line = fm.lineSpacing();
    const double heightMm = 2 * MarginMm + (rows.size() + 1) * line / perMm;

    printer.setPageLayout(
        QPageLayout(QPageSize(QSizeF(widthMm, heightMm), QPageSize::Millimeter,
                              QStringLiteral("Чековая лента %1 мм").arg(widthMm), QPageSize::ExactMatch),
                    QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    QPainter p;
    if (!p.begin(&printer))
        throw Error(QStringLiteral("печать не началась"));
    const double left = MarginMm * perMm;
    double y = MarginMm * perMm;
    for (int i = 0; i < rows.size(); ++i) {
        for (const Placed &piece : rows[i]) {
            p.setFont(piece.bold ? bold : font);
            const int align = piece.centred ? Qt::AlignHCenter : piece.right ? Qt::AlignRight : Qt::AlignLeft;
            p.drawText(QRectF(left, y, width, line), align | Qt::AlignVCenter | Qt::TextSingleLine, piece.text);
        }
        y += line;
        if (i == 1) {
            // A rule under the heading.
            p.drawLine(QPointF(left, y + line / 4), QPointF(left + width, y + line / 4));
            y += line / 2;
        }
    }
    if (!p.end())
        throw Error(ReceiptRefused);
}

PrintJob *printReceipt(const Receipt &receipt, int widthMm, QObject *owner)
{
    return PrintJob::start(
        QLatin1String(ReceiptJobKind), QStringLiteral("Чек"),
        [&](QDataStream &out) { writeReceiptJob(out, receipt, widthMm); }, owner);
}

void writeReceiptJob(QDataStream &out, const Receipt &receipt, int widthMm)
{
    out << qint32(widthMm) << receipt.salon << receipt.title << qint32(receipt.lines.size());
    for (const auto &[label, value] : receipt.lines)
        out << label << value;
    out << receipt.footer;
}

bool readReceiptJob(QDataStream &in, Receipt &receipt, int &widthMm)
{
    // A receipt has a dozen lines; anything far beyond is no receipt.
    constexpr qint32 MaxLines = 1000;
    qint32 width = 0;
    qint32 count = 0;
    in >> width >> receipt.salon >> receipt.title >> count;
    if (in.status() != QDataStream::Ok || width < 20 || width > 1000 || count < 0 || count > MaxLines)
        return false;
    for (qint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString label;
        QString value;
        in >> label >> value;
        receipt.lines.append({label, value});
    }
    in >> receipt.footer;
    widthMm = width;
    return in.status() == QDataStream::Ok;
}

void saveReceiptPdf(const Receipt &receipt, int widthMm, const QString &path)
{
    try {
        AtomicFile file(path);
        file.open(); // the name is ours; the printer writes it anew
        // A PDF writer, not a printer: a printer object asks the print
        // service for its default printer even to write a file.
        QPdfWriter pdf(file.tempPath());
        pdf.setResolution(1200);
        pdf.setTitle(QStringLiteral("Чек"));
        pdf.setCreator(QCoreApplication::applicationName());
        paintReceipt(receipt, widthMm, pdf);
        file.commit();
    } catch (const Error &e) {
        throw Error(
            QStringLiteral("Чек не сохранён в файл \"%1\": %2").arg(QDir::toNativeSeparators(path), e.message()));
    }
}

} // namespace bilmeko
