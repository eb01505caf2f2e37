#include "common/core/errors.h"
#include "common/core/formats.h"
#include "common/ui/errorbox.h"
#include "form1.h"
#include "glyphs.h"
#include "instancechannel.h"
#include "app/core/datafolder.h"
#include "app/core/singleinstance.h"

#include <QApplication>
#include <QLocale>

int main(int argc, char **argv)
{
    // The name gives the user's data folder, which is found before the
    // application object exists.
    QCoreApplication::setApplicationName(QStringLiteral("Bilmeko"));
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const auto where = bilmeko::DataFolderInputs::current(args);
    const bilmeko::DataFolder data = bilmeko::resolveDataFolder(where);

    // Before anything else, so a second start ends at once with no window and
    // no tray icon, after asking the running copy to show its window. The
    // lock is held until the process ends.
    static bilmeko::InstanceLock instance;
    if (!instance.tryAcquire(bilmeko::instanceLockPath())) {
        QCoreApplication core(argc, argv);
        if (data.error.isEmpty())
            bilmeko::InstanceChannel::askToShow(data.path);
        return 0;
    }

    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("example.bilmeko.Bilmeko"));
    // The program lives on in the tray: closing the last window (a notice
    // while the main window is hidden) must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    bilmeko::installErrorBox();
    QApplication::setWindowIcon(bilmeko::glyphs::appIcon());
    bilmeko::Formats::setCurrent(bilmeko::Formats::fromLocale(QLocale::system()));

    // Without a folder to write the journal in, no session could be kept.
    QString problem = data.error;
    if (problem.isEmpty())
        problem = bilmeko::prepareDataFolder(data.path, where.seed());
    if (!problem.isEmpty()) {
        bilmeko::showErrorBox(problem);
        return 1;
    }

    bilmeko::TForm1 form(data.path);
    QObject::connect(&form, &bilmeko::TForm1::closed, &app, [] { QCoreApplication::exit(0); });
    form.showCentred();
    bilmeko::InstanceChannel channel(form.directory());
    QObject::connect(&channel, &bilmeko::InstanceChannel::showRequested, &form, &bilmeko::TForm1::bringToFront);
    channel.listen();
    return app.exec();
}
