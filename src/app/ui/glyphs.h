#pragma once
// The program's pictures, painted in code: the button glyphs, the logo and
// the tray icon.

#include <QIcon>
#include <QPixmap>

namespace bilmeko::glyphs {

QIcon newSession();    // green disc with a plus
QIcon extendSession(); // clock face with an arrow
QIcon stopSession();   // red octagon
QIcon okTick();        // green tick
QIcon appIcon();
// A fresh drawing of the application icon (appIcon() keeps one).
QIcon drawAppIcon();       // the tray and window icon
QPixmap logo();        // 120 x 26

} // namespace bilmeko::glyphs
