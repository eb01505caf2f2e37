#pragma once
// The program's pictures: the button glyphs, the logo and the application
// icon. They are drawn as SVG files (src/app/ui/icons), so a designer
// changes them without touching code; the build draws each at one, two and
// three times its size (the application icon at the sizes of menus and
// docks) into ready pixels in the program's resources. An icon shows the
// rendering that suits the size and pixel density asked, from where the
// resource lies: no SVG engine, image-format plugin or decoder is loaded.

#include <QIcon>
#include <QPixmap>
#include <QStringList>

namespace bilmeko::glyphs {

QIcon newSession(); // green disc with a plus
QIcon extendSession(); // clock face
QIcon stopSession(); // red octagon
QIcon pauseSession(); // blue disc with two bars
QIcon okTick(); // green tick
// The window, tray and desktop icon; made once and shared.
QIcon appIcon();
// 120 x 26 device-independent pixels, at the given pixel density (by
// default the screen's).
QPixmap logo(qreal devicePixelRatio = 0);

// Every rendering's resource path, for the check that all of them load.
QStringList resourcePaths();

// The application's style: the platform's own, except that the standard
// pictures it reads from image files (the menu bar's "»" button, which the
// menu bar makes with itself) are read when first drawn, not when made.
// Before the first window.
void installStyle();

} // namespace bilmeko::glyphs
