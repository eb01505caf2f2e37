#include "ledgermodule.h"

#include "common/core/errors.h"
#include "common/core/printjob.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace bilmeko {

LedgerHost LedgerHost::ofThisProgram()
{
    LedgerHost host;
    host.formats = &Formats::current();
    host.showErrorBox = &bilmeko::showErrorBox;
    host.showErrorNotice = &bilmeko::showErrorNotice;
    host.printHelper = PrintJob::helperProgram();
    host.printDeadlineMs = PrintJob::deadlineMs();
    return host;
}

bool LedgerHost::adopt() const
{
    if (version != CurrentVersion || size != int(sizeof(LedgerHost)) || !formats || !showErrorBox || !showErrorNotice
        || printDeadlineMs <= 0)
        return false;
    Formats::setCurrent(*formats);
    PrintJob::setHelperProgram(printHelper);
    PrintJob::setDeadlineMs(printDeadlineMs);
    // Through the program's own routing, so its test sink or its box shows
    // what happens in here.
    setErrorPresenter([show = showErrorBox](const QString &text) { show(text); });
    setErrorNoticePresenter([show = showErrorNotice](const QString &text) { show(text); });
    return true;
}

QStringList ledgerModulePlaces(const QString &module)
{
    const QDir bin(QCoreApplication::applicationDirPath());
    QStringList places{bin.filePath(module),
                       QDir::cleanPath(bin.filePath(QStringLiteral(BILMEKO_LEDGER_FROM_BIN "/") + module)),
                       QStringLiteral(BILMEKO_LEDGER_DIR "/") + module};
    places.removeDuplicates();
    return places;
}

void *loadLedgerModule(const QString &module, const char *symbol)
{
    const QStringList places = ledgerModulePlaces(module);
    for (const QString &path : places) {
        if (!QFileInfo(path).isFile())
            continue;
        // Never unloaded: the objects it makes live as long as the program.
        QLibrary library(path);
        if (!library.load())
            throw Error(QStringLiteral("Не удалось загрузить модуль общей книги %1: %2")
                            .arg(QDir::toNativeSeparators(path), library.errorString()));
        if (QFunctionPointer entry = library.resolve(symbol))
            return reinterpret_cast<void *>(entry);
        throw Error(QStringLiteral("Файл %1 не является модулем общей книги Bilmeko (нет %2)")
                        .arg(QDir::toNativeSeparators(path), QString::fromLatin1(symbol)));
    }
    throw Error(QStringLiteral("Не найден модуль общей книги %1: работа с общей книгой невозможна")
                    .arg(QDir::toNativeSeparators(places.value(places.size() - 1))));
}

void throwLedgerModuleRefused(const QString &module)
{
    throw Error(QStringLiteral("Модуль общей книги %1 не подходит к этой версии программы").arg(module));
}

} // namespace bilmeko
