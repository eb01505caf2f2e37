#pragma once
// The program's pictures: the button glyphs, the logo and the application
// icon. They are SVG files in the program's resources (src/app/ui/icons),
// so a designer changes them without touching code and they stay sharp on
// high-density screens.

#include <QIcon>
#include <QPixmap>
#include <QStringList>

namespace bilmeko::glyphs {

QIcon newSession();    // green disc with a plus
QIcon extendSession(); // clock face
QIcon stopSession();   // red octagon
QIcon pauseSession();  // blue disc with two bars
QIcon okTick();        // green tick
// The window, tray and desktop icon; loaded once and shared.
QIcon appIcon();
// 120 x 26 device-independent pixels, at the screen's pixel density.
QPixmap logo();

// Every picture's resource path, for the check that all of them load.
QStringList resourcePaths();

} // namespace bilmeko::glyphs
