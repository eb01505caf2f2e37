#pragma once
// The error box: the standard message box every handler's failure reaches.
// It stands above every other window of the program, the time-is-up
// notices included.

class QWidget;

namespace bilmeko {

// Makes showErrorBox() open the real box (stop icon, OK, the application's
// title as caption), and showErrorNotice() the same box without taking the
// keyboard. Called once by the program's entry.
void installErrorBox();

// Whether the window is such an error box.
bool isErrorBox(const QWidget *window);

} // namespace bilmeko
