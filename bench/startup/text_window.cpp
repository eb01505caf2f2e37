// bilmeko-bench-text-window: an empty window of the main window's size
// with one line of Russian text: the least any window showing text does,
// the font system's start included. Ends at its first painted frame (see
// shown.h).

#include "shown.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("Поминутный учёт услуг салона"));
    window.setAlignment(Qt::AlignCenter);
    window.resize(728, 410);
    bilmeko::bench::ShownReporter reporter(&window);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - QPoint(364, 205));
    window.show();
    return app.exec();
}
