#pragma once
// The error box: the standard message box every handler's failure reaches.

namespace bilmeko {

// Makes showErrorBox() open the real box (stop icon, OK, the application's
// title as caption). Called once by the program's entry.
void installErrorBox();

} // namespace bilmeko
