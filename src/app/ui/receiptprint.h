#pragma once
// A receipt painted for a narrow roll (58 or 80 mm wide, as long as its
// lines need), printed through the system's print service or saved as PDF.

#include <QString>

class QPrinter;

namespace bilmeko {

struct Receipt;

// Sets the printer's page to the roll and paints the receipt on it. Throws
// Error when the printer cannot be painted on.
void paintReceipt(const Receipt &receipt, int widthMm, QPrinter &printer);
// One job on the default printer; throws Error naming the printer when
// there is none or it refuses the job.
void printReceipt(const Receipt &receipt, int widthMm);
// The same receipt as a PDF file, replaced whole; throws Error naming it.
void saveReceiptPdf(const Receipt &receipt, int widthMm, const QString &path);

} // namespace bilmeko
