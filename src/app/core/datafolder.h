#pragma once
// Where the program keeps Bilmeko.ini and Bilmeko.log.
//
// In this order: the folder named on the command line (--data-dir DIR or
// --data-dir=DIR), the folder named by BILMEKO_DATA_DIR, the executable's
// own folder when it is writable and the program is not installed (a copy
// in a folder keeps its files beside it), else the user's data folder.
// An installed program (its sample price list under ../share/bilmeko) never
// writes beside its executable, even as root.

#include <QString>
#include <QStringList>
#include <functional>

namespace bilmeko {

inline constexpr char DataDirOption[] = "--data-dir";
inline constexpr char DataDirVariable[] = "BILMEKO_DATA_DIR";

struct DataFolderInputs
{
    QString exeDir; // the running executable's folder
    QStringList args; // the command line, the program first
    QString variable; // BILMEKO_DATA_DIR, empty when not set
    QString userDir; // the user's data folder for the program
    QString workDir; // the current folder, for relative names
    QString sample; // the installed sample price list; empty when not installed

    // The inputs of this process.
    static DataFolderInputs current(const QStringList &args);
    // The price list a fresh data folder starts with: the installed sample,
    // or the one beside a copy of the program on a read-only medium.
    QString seed() const;
};

struct DataFolder
{
    enum class Source { Option, Variable, Executable, User };

    QString path; // absolute, ending in '/'
    Source source = Source::Executable;
    QString error; // the command line names no folder; path then empty
};

// Whether files can be created in this existing folder.
bool isWritableFolder(const QString &dir);

DataFolder resolveDataFolder(const DataFolderInputs &in,
                             const std::function<bool(const QString &)> &writable = isWritableFolder);

// Makes the folder (with its parents) and, in a fresh folder (no price list
// and no journal), puts a copy of the sample price list. Returns the message
// to show when the folder cannot be made or written; a sample that cannot be
// copied is not an error (the program starts with an empty price list).
QString prepareDataFolder(const QString &dir, const QString &sample);

// The installed sample price list relative to the executable's folder, or
// empty when there is none (the program runs from a build or a copy).
QString installedSample(const QString &exeDir);

} // namespace bilmeko
