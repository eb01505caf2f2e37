#include "common/core/errors.h"
#include "common/core/formats.h"
#include "common/ui/errorbox.h"
#include "form1.h"
#include "glyphs.h"
#include "app/core/quitsignals.h"
#include "app/core/singleinstance.h"

#include <QApplication>
#include <QLocale>
#include <QSessionManager>
#include <cstdio>

int main(int argc, char **argv)
{
    // Before anything else, so a second start on the same folder ends at
    // once, silently, with no window and no tray icon. The lock is held
    // until the process ends.
    const QString folder = bilmeko::executableFolder();
    static bilmeko::InstanceLock instance;
    const bilmeko::InstanceLock::Result lock = instance.tryAcquire(folder);
    if (lock == bilmeko::InstanceLock::Result::HeldByAnother)
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Bilmeko"));
    // The program lives on in the tray: closing the last window (a notice
    // while the main window is hidden) must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    bilmeko::installErrorBox();
    QApplication::setWindowIcon(bilmeko::glyphs::appIcon());
    bilmeko::Formats::setCurrent(bilmeko::Formats::fromLocale(QLocale::system()));
    if (lock == bilmeko::InstanceLock::Result::Failed) {
        // Also where a start from a terminal or a service manager shows it.
        std::fputs(qPrintable(instance.errorMessage() + QLatin1Char('\n')), stderr);
        bilmeko::showErrorBox(instance.errorMessage());
        return 1;
    }
    bilmeko::quitOnTerminationSignals();

    bilmeko::TForm1 form(folder + QLatin1Char('/'));
    QObject::connect(&form, &bilmeko::TForm1::closed, &app, [] { QCoreApplication::exit(0); });
    // Log-out or shut-down: the running sessions are on disk, so the
    // program lets the desktop session end without asking.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&form](QSessionManager &) { form.allowCloseWithoutQuestion(); });
    form.showCentred();
    return app.exec();
}
