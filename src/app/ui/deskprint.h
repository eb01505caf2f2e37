#pragma once
// The cash desk's slips on the receipt printer: a shift's report as a
// receipt. They are printed as every receipt is, through the print helper.

#include "app/core/receipt.h"

namespace bilmeko {

struct ShiftSlip;

// A shift's report as the roll prints it.
Receipt shiftReceipt(const ShiftSlip &slip, const QString &salon);

} // namespace bilmeko
