#pragma once
// The cash desk's slips on the receipt printer: a session's receipt, a
// reversal slip, a shift's report. Printed on a thread of the pool, so
// neither the tick nor the operator waits for the print service, and
// nothing takes the focus; only a failure shows, as an error box naming
// the printer.

#include "app/core/receipt.h"

namespace bilmeko {

struct ShiftSlip;

void printInBackground(const Receipt &receipt, int widthMm);

// A shift's report as the roll prints it.
Receipt shiftReceipt(const ShiftSlip &slip, const QString &salon);

} // namespace bilmeko
