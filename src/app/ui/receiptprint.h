#pragma once
// A receipt painted for a narrow roll (58 or 80 mm wide, as long as its
// lines need), printed through the print helper or saved as PDF.

#include <QString>

class QDataStream;
class QObject;
class QPagedPaintDevice;

namespace bilmeko {

class PrintJob;
struct Receipt;

// The kind of print job a receipt is.
inline constexpr char ReceiptJobKind[] = "receipt";

// Sets the device's page to the roll and paints the receipt on it. Throws
// Error when the device cannot be painted on. A printer is set to full
// page first (the roll painted from its very edge, as on a PDF page) and
// its state looked at after, by the print helper: the program itself
// draws on no printer and links no print support.
void paintReceipt(const Receipt &receipt, int widthMm, QPagedPaintDevice &device);
// What the error says when the printer does not take the receipt.
inline const QString ReceiptRefused = QStringLiteral("принтер не принял задание");
// One job on the default printer, printed by the print helper: returns at
// once, the job says how it ended. Throws Error when it cannot start.
PrintJob *printReceipt(const Receipt &receipt, int widthMm, QObject *owner);
// The receipt as the print job carries it, and read back by the helper
// (false when the stream does not hold one).
void writeReceiptJob(QDataStream &out, const Receipt &receipt, int widthMm);
bool readReceiptJob(QDataStream &in, Receipt &receipt, int &widthMm);
// The same receipt as a PDF file, replaced whole; throws Error naming it.
// No print service is asked anything.
void saveReceiptPdf(const Receipt &receipt, int widthMm, const QString &path);

} // namespace bilmeko
