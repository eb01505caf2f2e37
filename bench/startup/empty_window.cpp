// bilmeko-bench-empty-window: the least any Qt program showing a window of
// the main window's size does, ending as soon as its first frame is painted
// (see shown.h).

#include "shown.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(728, 410);
    bilmeko::bench::ShownReporter reporter(&window);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - QPoint(364, 205));
    window.show();
    return app.exec();
}
