#include "common/core/errors.h"
#include "common/core/formats.h"
#include "common/ui/errorbox.h"
#include "form1.h"
#include "glyphs.h"
#include "instancechannel.h"
#include "qttexts.h"
#include "app/core/datafolder.h"
#include "app/core/quitsignals.h"
#include "app/core/singleinstance.h"

#include <QApplication>
#include <QLocale>
#include <QSessionManager>
#include <cstdio>

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

    // Before anything else, so a second start on the same folder ends at
    // once with no window and no tray icon, after asking the running copy to
    // show its window. The lock is held until the process ends.
    using Lock = bilmeko::InstanceLock::Result;
    static bilmeko::InstanceLock instance;
    Lock lock = data.error.isEmpty() ? instance.tryAcquire(data.path) : Lock::Failed;
    if (lock == Lock::HeldByAnother) {
        QCoreApplication core(argc, argv);
        bilmeko::InstanceChannel::askToShow(data.path);
        return 0;
    }

    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("example.bilmeko.Bilmeko"));
    // The program lives on in the tray: closing the last window (a notice
    // while the main window is hidden) must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    bilmeko::installQtTexts(&app);
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
    // A folder made just now could not be locked before.
    if (lock != Lock::Acquired)
        lock = instance.tryAcquire(data.path);
    if (lock == Lock::HeldByAnother)
        return 0;
    if (lock == Lock::Failed) {
        // Also where a start from a terminal or a service manager shows it.
        std::fputs(qPrintable(instance.errorMessage() + QLatin1Char('\n')), stderr);
        bilmeko::showErrorBox(instance.errorMessage());
        return 1;
    }
    bilmeko::quitOnTerminationSignals();

    bilmeko::TForm1 form(data.path);
    QObject::connect(&form, &bilmeko::TForm1::closed, &app, [] { QCoreApplication::exit(0); });
    // Log-out or shut-down: the running sessions are on disk, so the
    // program lets the desktop session end without asking.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&form](QSessionManager &) { form.allowCloseWithoutQuestion(); });
    form.showCentred();
    bilmeko::InstanceChannel channel(form.directory());
    QObject::connect(&channel, &bilmeko::InstanceChannel::showRequested, &form, &bilmeko::TForm1::bringToFront);
    channel.listen();
    return app.exec();
}
