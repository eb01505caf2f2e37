// bilmeko-bench-main-window: the program's entry as it is, ending as soon
// as the main window's first frame is painted (see shown.h).

#include "shown.h"

#include "app/core/singleinstance.h"
#include "app/ui/form1.h"
#include "app/ui/glyphs.h"
#include "app/ui/instancechannel.h"
#include "common/core/formats.h"
#include "common/ui/errorbox.h"

#include <QApplication>
#include <QLocale>

int main(int argc, char **argv)
{
    static bilmeko::InstanceLock instance;
    if (instance.tryAcquire(bilmeko::executableFolder()) != bilmeko::InstanceLock::Result::Acquired)
        return 3; // the bench gives every run a folder of its own

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Bilmeko"));
    QApplication::setQuitOnLastWindowClosed(false);
    bilmeko::installErrorBox();
    bilmeko::glyphs::installStyle();
    QApplication::setWindowIcon(bilmeko::glyphs::appIcon());
    bilmeko::Formats::setCurrent(bilmeko::Formats::fromLocale(QLocale::system()));

    bilmeko::TForm1 form;
    QObject::connect(&form, &bilmeko::TForm1::closed, &app, [] { QCoreApplication::exit(0); });
    bilmeko::bench::ShownReporter reporter(&form);
    form.showCentred();
    bilmeko::InstanceChannel channel(form.directory());
    QObject::connect(&channel, &bilmeko::InstanceChannel::showRequested, &form, &bilmeko::TForm1::bringToFront);
    channel.listen();
    return app.exec();
}
