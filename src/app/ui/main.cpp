#include "app/core/datafolder.h"
#include "app/core/quitsignals.h"
#include "app/core/singleinstance.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "common/core/printjob.h"
#include "common/ui/errorbox.h"
#include "form1.h"
#include "glyphs.h"
#include "instancechannel.h"
#include "ledger/core/ledgermodule.h"
#include "owner/ui/ownermodule.h"
#include "qttexts.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QMainWindow>
#include <QSessionManager>
#include <QThread>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char Usage[] = "Использование: bilmeko [--data-dir ПАПКА] [--owner]\n"
                     "\n"
                     "Поминутный учёт услуг салона: текущие сеансы, журнал, отчеты за период.\n"
                     "\n"
                     "  --data-dir ПАПКА  папка с прайс-листом, журналом и текущими сеансами\n"
                     "                    (иначе BILMEKO_DATA_DIR, папка программы или\n"
                     "                    ~/.local/share/Bilmeko).\n"
                     "  --owner           сводка владельца по всем стойкам сети из общей книги;\n"
                     "                    её настройки - в подпапке Owner папки данных.\n"
                     "  --help            показать эту справку.\n"
                     "  --version         показать версию программы.\n"
                     "\n"
                     "С одной папкой данных работает одна копия программы: повторный запуск\n"
                     "показывает окно уже работающей копии.\n"
                     "Код выхода: 0 - программа закрыта; 1 - программа не смогла начать работу;\n"
                     "2 - ошибка в параметрах.\n";

// Qt's own options, which QApplication takes off the command line: those
// followed by a value, and those standing alone.
bool isQtOption(const char *a, bool &takesValue)
{
    static const char *const withValue[]
        = {"-platform",     "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry",
           "-qwindowtitle", "-qwindowicon",        "-session",       "-style",  "-stylesheet",
           "-display",      "-geometry",           "-title",         "-name"};
    static const char *const alone[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};
    for (const char *o : withValue) {
        const size_t n = std::strlen(o);
        if (std::strncmp(a, o, n) == 0 && (a[n] == '\0' || a[n] == '=')) {
            takesValue = a[n] == '\0';
            return true;
        }
    }
    takesValue = false;
    for (const char *o : alone)
        if (std::strcmp(a, o) == 0)
            return true;
    return false;
}

enum class Parsed { Run, Done, Refused };

// --owner: the owner's board instead of a desk.
bool ownerBoard = false;

// Before any application object: --help and --version need no display, and
// a mistyped option must not start the program.
Parsed parseCommandLine(int argc, char **argv)
{
    const size_t optionLength = std::strlen(bilmeko::DataDirOption);
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        bool takesValue = false;
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(Usage, stdout);
            return Parsed::Done;
        }
        if (std::strcmp(a, "--version") == 0) {
            std::printf("bilmeko %d.%d.%d\n", BILMEKO_VERSION_MAJOR, BILMEKO_VERSION_MINOR, BILMEKO_VERSION_PATCH);
            return Parsed::Done;
        }
        if (std::strcmp(a, bilmeko::DataDirOption) == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "bilmeko: после %s нужна папка (см. --help)\n", bilmeko::DataDirOption);
                return Parsed::Refused;
            }
            ++i;
            continue;
        }
        if (std::strncmp(a, bilmeko::DataDirOption, optionLength) == 0 && a[optionLength] == '=')
            continue;
        if (std::strcmp(a, "--owner") == 0) {
            ownerBoard = true;
            continue;
        }
        if (isQtOption(a, takesValue)) {
            i += takesValue ? 1 : 0;
            continue;
        }
        std::fprintf(stderr, "bilmeko: неизвестный параметр \"%s\" (см. --help)\n", a);
        return Parsed::Refused;
    }
    return Parsed::Run;
}

// The lock is another copy's of this user: it is asked to show its window.
// It may be starting still (the lock comes before its window) or ending
// (the lock then comes free); an answer or the lock within a few seconds
// decides. False when neither came: that copy does not answer.
bool handOverOrAcquire(bilmeko::InstanceLock &instance, const QString &folder, bilmeko::InstanceLock::Result &lock)
{
    using Lock = bilmeko::InstanceLock::Result;
    QElapsedTimer waited;
    waited.start();
    while (lock == Lock::HeldByAnother) {
        if (bilmeko::InstanceChannel::askToShow(folder, 1000))
            return true;
        if (waited.elapsed() > 5000)
            return false;
        QThread::msleep(100);
        lock = instance.tryAcquire(folder);
    }
    return false;
}

QString notAnswering(const QString &folder)
{
    return QStringLiteral("С папкой данных \"%1\" уже работает другая копия программы, но она не отвечает. "
                          "Закройте её (или дождитесь, пока она закроется) и запустите программу снова.")
        .arg(QDir::toNativeSeparators(folder));
}

// The print helper: beside the program (the build tree), then where it is
// installed, relative to the program before the absolute place.
void findPrintHelper()
{
    const QString name = QStringLiteral(BILMEKO_PRINT_HELPER);
    const QDir bin(QCoreApplication::applicationDirPath());
    for (const QString &path :
         {bin.filePath(name), QDir::cleanPath(bin.filePath(QStringLiteral(BILMEKO_PRINT_FROM_BIN "/") + name)),
          QStringLiteral(BILMEKO_PRINT_DIR "/") + name}) {
        if (QFileInfo(path).isExecutable()) {
            bilmeko::PrintJob::setHelperProgram(path);
            return;
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    switch (parseCommandLine(argc, argv)) {
    case Parsed::Done: return 0;
    case Parsed::Refused: return 2;
    case Parsed::Run: break;
    }

    // The name gives the user's data folder, which is found before the
    // application object exists.
    QCoreApplication::setApplicationName(QStringLiteral("Bilmeko"));
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const auto where = bilmeko::DataFolderInputs::current(args);
    bilmeko::DataFolder data = bilmeko::resolveDataFolder(where);
    // The board keeps its settings and its own lock beside a desk's, so
    // both run on one computer.
    if (ownerBoard && data.error.isEmpty())
        data.path += QStringLiteral("Owner/");

    // Before anything else, so a second start on the same folder ends at
    // once with no window and no tray icon, after asking the running copy to
    // show its window. The lock is held until the process ends.
    using Lock = bilmeko::InstanceLock::Result;
    static bilmeko::InstanceLock instance;
    Lock lock = data.error.isEmpty() ? instance.tryAcquire(data.path) : Lock::Failed;
    bool silent = true; // a copy that does not answer is reported below
    if (lock == Lock::HeldByAnother) {
        QCoreApplication core(argc, argv);
        if (handOverOrAcquire(instance, data.path, lock))
            return 0;
        silent = lock != Lock::HeldByAnother;
    }

    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(ownerBoard ? QStringLiteral("example.bilmeko.Owner")
                                                   : QStringLiteral("example.bilmeko.Bilmeko"));
    // The program lives on in the tray: closing the last window (a notice
    // while the main window is hidden) must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    bilmeko::installQtTexts(&app);
    bilmeko::installErrorBox();
    bilmeko::glyphs::installStyle();
    QApplication::setWindowIcon(bilmeko::glyphs::appIcon());
    bilmeko::Formats::setCurrent(bilmeko::Formats::fromLocale(QLocale::system()));

    // Without a folder to write the journal in, no session could be kept.
    QString problem = data.error;
    if (problem.isEmpty())
        problem = bilmeko::prepareDataFolder(data.path, ownerBoard ? QString() : where.seed());
    if (!problem.isEmpty()) {
        bilmeko::showErrorBox(problem);
        return 1;
    }
    // A folder made just now could not be locked before.
    if (lock != Lock::Acquired && silent)
        lock = instance.tryAcquire(data.path);
    if (lock == Lock::HeldByAnother && silent && handOverOrAcquire(instance, data.path, lock))
        return 0;
    if (lock == Lock::HeldByAnother) {
        const QString message = notAnswering(data.path);
        std::fputs(qPrintable(message + QLatin1Char('\n')), stderr);
        bilmeko::showErrorBox(message);
        return 1;
    }
    if (lock == Lock::Failed) {
        // Also where a start from a terminal or a service manager shows it.
        std::fputs(qPrintable(instance.errorMessage() + QLatin1Char('\n')), stderr);
        bilmeko::showErrorBox(instance.errorMessage());
        return 1;
    }
    bilmeko::quitOnTerminationSignals();
    findPrintHelper();

    if (ownerBoard) {
        // The board and libpq under it come with a module, so a desk
        // starts without them.
        bilmeko::OwnerBoardWindow board;
        try {
            const auto open = bilmeko::loadLedgerEntry<bilmeko::OpenOwnerBoardFn>(bilmeko::OwnerBoardModule,
                                                                                  bilmeko::OpenOwnerBoardSymbol);
            const bilmeko::LedgerHost host = bilmeko::LedgerHost::ofThisProgram();
            if (!open(&host, &data.path, &board))
                bilmeko::throwLedgerModuleRefused(QString::fromLatin1(bilmeko::OwnerBoardModule));
        } catch (const bilmeko::Error &e) {
            std::fputs(qPrintable(e.message() + QLatin1Char('\n')), stderr);
            bilmeko::showErrorBox(e.message());
            return 1;
        }
        if (!board.window) // the module showed why
            return 1;
        const std::unique_ptr<QMainWindow> window(board.window);
        window->show();
        bilmeko::InstanceChannel channel(data.path);
        QObject::connect(&channel, &bilmeko::InstanceChannel::showRequested, window.get(),
                         [&board] { board.bringToFront(board.window); });
        channel.listen();
        return app.exec();
    }

    bilmeko::TForm1 form(data.path);
    // A signal during a message box of the start closed that box only.
    if (bilmeko::quitRequested())
        return 0;
    QObject::connect(&form, &bilmeko::TForm1::closed, &app, [] { QCoreApplication::exit(0); });
    // Log-out or shut-down: the running sessions are on disk, so the
    // program lets the desktop session end without asking.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&form](QSessionManager &) { form.allowCloseWithoutQuestion(); });
    form.showCentred();
    bilmeko::InstanceChannel channel(form.directory());
    QObject::connect(&channel, &bilmeko::InstanceChannel::showRequested, &form, &bilmeko::TForm1::bringToFront);
    channel.listen();
    if (bilmeko::quitRequested())
        return 0;
    return app.exec();
}
