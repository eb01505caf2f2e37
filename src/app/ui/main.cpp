#include "common/core/formats.h"
#include "common/ui/errorbox.h"
#include "form1.h"
#include "glyphs.h"
#include "instancechannel.h"
#include "app/core/singleinstance.h"

#include <QApplication>
#include <QLocale>

int main(int argc, char **argv)
{
    // Before anything else, so a second start ends at once with no window and
    // no tray icon, after asking the running copy to show its window. The
    // lock is held until the process ends.
    static bilmeko::InstanceLock instance;
    if (!instance.tryAcquire(bilmeko::instanceLockPath())) {
        QCoreApplication core(argc, argv);
        bilmeko::InstanceChannel::askToShow(QCoreApplication::applicationDirPath());
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Bilmeko"));
    // The program lives on in the tray: closing the last window (a notice
    // while the main window is hidden) must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    bilmeko::installErrorBox();
    QApplication::setWindowIcon(bilmeko::glyphs::appIcon());
    bilmeko::Formats::setCurrent(bilmeko::Formats::fromLocale(QLocale::system()));

    bilmeko::TForm1 form;
    QObject::connect(&form, &bilmeko::TForm1::closed, &app, [] { QCoreApplication::exit(0); });
    form.showCentred();
    bilmeko::InstanceChannel channel(form.directory());
    QObject::connect(&channel, &bilmeko::InstanceChannel::showRequested, &form, &bilmeko::TForm1::bringToFront);
    channel.listen();
    return app.exec();
}
