#pragma once

namespace bilmeko {

// Hands the heap's free pages back to the system, where the C library can
// (glibc); elsewhere it does nothing. For after a burst of passing work,
// such as reading a long price list at start, whose pieces would otherwise
// stay resident for the whole run.
void releaseFreeMemory();

} // namespace bilmeko
