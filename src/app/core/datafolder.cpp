#include "datafolder.h"

#include "common/core/atomicfile.h"
#include "prices/core/profilefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <unistd.h>

namespace bilmeko {

namespace {

QString withSlash(const QString &dir)
{
    QString clean = QDir::cleanPath(dir);
    if (!clean.endsWith(QLatin1Char('/')))
        clean += QLatin1Char('/');
    return clean;
}

QString absolute(const QString &workDir, const QString &dir)
{
    return withSlash(QDir(workDir).absoluteFilePath(dir));
}

// The last --data-dir on the command line; null when there is none, empty
// when it names no folder.
QString optionValue(const QStringList &args, bool &given)
{
    const QString option = QLatin1String(DataDirOption);
    const QString prefix = option + QLatin1Char('=');
    QString value;
    given = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == option) {
            given = true;
            value = i + 1 < args.size() ? args[++i] : QString();
        } else if (args[i].startsWith(prefix)) {
            given = true;
            value = args[i].mid(prefix.size());
        }
    }
    return value;
}

} // namespace

DataFolderInputs DataFolderInputs::current(const QStringList &args)
{
    DataFolderInputs in;
    // The executable from the system, not from argv[0], which may be a bare
    // name found on the PATH.
    QString exe = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    if (exe.isEmpty() && !args.isEmpty())
        exe = QFileInfo(args.first()).absoluteFilePath();
    in.exeDir = withSlash(QFileInfo(exe).absolutePath());
    in.args = args;
    in.variable = qEnvironmentVariable(DataDirVariable);
    in.userDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    in.workDir = QDir::currentPath();
    in.sample = installedSample(in.exeDir);
    return in;
}

QString DataFolderInputs::seed() const
{
    return sample.isEmpty() ? withSlash(exeDir) + QStringLiteral("Bilmeko.ini") : sample;
}

bool isWritableFolder(const QString &dir)
{
    const QFileInfo fi(dir);
    // The effective ids decide, as they do for the files made there.
    return fi.isDir()
        && ::faccessat(AT_FDCWD, QFile::encodeName(fi.absoluteFilePath()).constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

DataFolder resolveDataFolder(const DataFolderInputs &in, const std::function<bool(const QString &)> &writable)
{
    DataFolder out;
    bool given = false;
    const QString named = optionValue(in.args, given);
    if (given) {
        if (named.isEmpty()) {
            out.source = DataFolder::Source::Option;
            out.error = QStringLiteral("После %1 не указана папка данных.").arg(QLatin1String(DataDirOption));
            return out;
        }
        out.source = DataFolder::Source::Option;
        out.path = absolute(in.workDir, named);
        return out;
    }
    if (!in.variable.isEmpty()) {
        out.source = DataFolder::Source::Variable;
        out.path = absolute(in.workDir, in.variable);
        return out;
    }
    if (in.sample.isEmpty() && !in.exeDir.isEmpty() && writable(in.exeDir)) {
        out.source = DataFolder::Source::Executable;
        out.path = withSlash(in.exeDir);
        return out;
    }
    out.source = DataFolder::Source::User;
    if (in.userDir.isEmpty()) {
        out.error = QStringLiteral("Не найдена папка данных пользователя: задайте папку в %1 или %2.")
                        .arg(QLatin1String(DataDirOption), QLatin1String(DataDirVariable));
        return out;
    }
    out.path = absolute(in.workDir, in.userDir);
    return out;
}

QString prepareDataFolder(const QString &dir, const QString &sample)
{
    const QString shown = QDir::toNativeSeparators(dir);
    if (!QFileInfo(dir).isDir() && !QDir().mkpath(dir))
        return QStringLiteral("Не удалось создать папку данных \"%1\".").arg(shown);
    if (!isWritableFolder(dir))
        return QStringLiteral("Папка данных \"%1\" недоступна для записи.").arg(shown);

    const QString ini = dir + QStringLiteral("Bilmeko.ini");
    const QString log = dir + QStringLiteral("Bilmeko.log");
    const auto exists = [](const QString &p) { return QFileInfo::exists(p) || QFileInfo(p).isSymLink(); };
    if (sample.isEmpty() || exists(ini) || exists(log) || !QFileInfo(sample).isFile())
        return QString();
    const ProfileFile::ReadResult read = ProfileFile::readBytes(sample);
    if (read.status == ProfileFile::ReadStatus::Ok) {
        try {
            replaceFileAtomically(ini, read.bytes, 0666);
        } catch (const Error &) {
            // Without the sample the price list starts empty.
        }
    }
    return QString();
}

QString installedSample(const QString &exeDir)
{
    const QString sample = QDir::cleanPath(withSlash(exeDir) + QStringLiteral(BILMEKO_SAMPLE_FROM_BIN));
    return QFileInfo(sample).isFile() ? sample : QString();
}

} // namespace bilmeko
