// Where the price list and the journal live: the choice of folder, the first
// start in a fresh folder, and real starts of an installed copy.

#include "app/core/datafolder.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

#ifndef BILMEKO_EXE
#error "BILMEKO_EXE must name the program under test"
#endif

using namespace bilmeko;
using Source = DataFolder::Source;

Q_DECLARE_METATYPE(DataFolder::Source)

namespace {

// A price list with Windows-1251 letters, to see it copied byte for byte.
const QByteArray SampleBytes = "[Price]\r\n\xD1\xE0\xF3\xED\xE0=8\r\nX=12,5\r\n";

// An installed tree under root: usr/bin and usr/share/bilmeko/Bilmeko.ini.
QString makeInstalledTree(const QString &root)
{
    QDir().mkpath(root + QStringLiteral("/usr/bin"));
    QDir().mkpath(root + QStringLiteral("/usr/share/bilmeko"));
    test::writeFile(root + QStringLiteral("/usr/share/bilmeko/Bilmeko.ini"), SampleBytes);
    return root + QStringLiteral("/usr/bin/");
}

bool waitForFile(const QString &path, int ms = 15000)
{
    QElapsedTimer t;
    t.start();
    while (!QFileInfo::exists(path) && t.elapsed() < ms)
        QTest::qWait(50);
    return QFileInfo::exists(path);
}

} // namespace

class TestDataFolder : public QObject
{
    Q_OBJECT

private slots:
    void resolve_data();
    void resolve();
    void freshFolderGetsSample_data();
    void freshFolderGetsSample();
    void unusableFolderIsReported();
    void writableFolder();
    void installedSampleIsFoundFromBinFolder();
    void installedProgramStarts_data();
    void installedProgramStarts();
};

void TestDataFolder::resolve_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("variable");
    QTest::addColumn<bool>("exeWritable");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("userDir");
    QTest::addColumn<QString>("path");
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("error");

    const QString user = QStringLiteral("/home/op/.local/share/Bilmeko");
    const QString userSlash = user + QLatin1Char('/');
    const QStringList prog{QStringLiteral("bilmeko")};
    const auto with = [&](std::initializer_list<const char *> more) {
        QStringList a = prog;
        for (const char *s : more)
            a << QString::fromUtf8(s);
        return a;
    };

    QTest::newRow("a copy in a writable folder keeps its files beside it")
        << prog << QString() << true << false << user << QStringLiteral("/opt/desk/") << Source::Executable
        << QString();
    QTest::newRow("a copy on a read-only medium uses the user's folder")
        << prog << QString() << false << false << user << userSlash << Source::User << QString();
    QTest::newRow("installed, even with a writable bin folder (root)")
        << prog << QString() << true << true << user << userSlash << Source::User << QString();
    QTest::newRow("option with the folder after it")
        << with({"--data-dir", "/srv/desk1"}) << QString() << true << false << user << QStringLiteral("/srv/desk1/")
        << Source::Option << QString();
    QTest::newRow("option with =") << with({"--data-dir=/srv/desk2/"}) << QString() << false << true << user
                                   << QStringLiteral("/srv/desk2/") << Source::Option << QString();
    QTest::newRow("option beats the variable")
        << with({"--data-dir", "/srv/a"}) << QStringLiteral("/srv/b") << true << false << user
        << QStringLiteral("/srv/a/") << Source::Option << QString();
    QTest::newRow("the last option counts")
        << with({"--data-dir", "/srv/a", "--data-dir=/srv/c"}) << QString() << true << false << user
        << QStringLiteral("/srv/c/") << Source::Option << QString();
    QTest::newRow("variable beats the executable's folder")
        << prog << QStringLiteral("/mnt/shared/bilmeko") << true << false << user
        << QStringLiteral("/mnt/shared/bilmeko/") << Source::Variable << QString();
    QTest::newRow("relative names are from the current folder")
        << with({"--data-dir", "desk"}) << QString() << true << false << user << QStringLiteral("/home/op/desk/")
        << Source::Option << QString();
    QTest::newRow("relative variable") << prog << QStringLiteral("../shared") << true << false << user
                                       << QStringLiteral("/home/shared/") << Source::Variable << QString();
    QTest::newRow("dots and double slashes are cleaned")
        << with({"--data-dir", "/srv//a/../b/"}) << QString() << true << false << user << QStringLiteral("/srv/b/")
        << Source::Option << QString();
    QTest::newRow("the toolkit's own options are left alone")
        << with({"-platform", "offscreen", "-style", "Fusion"}) << QString() << true << false << user
        << QStringLiteral("/opt/desk/") << Source::Executable << QString();
    QTest::newRow("a program named like the option is not the option")
        << QStringList{QStringLiteral("--data-dir"), QStringLiteral("/srv/x")} << QString() << true << false << user
        << QStringLiteral("/opt/desk/") << Source::Executable << QString();
    QTest::newRow("option with no folder after it")
        << with({"--data-dir"}) << QStringLiteral("/srv/b") << true << false << user << QString() << Source::Option
        << QStringLiteral("После --data-dir не указана папка данных.");
    QTest::newRow("option with an empty folder")
        << with({"--data-dir="}) << QString() << true << false << user << QString() << Source::Option
        << QStringLiteral("После --data-dir не указана папка данных.");
    QTest::newRow("no user folder to fall back on")
        << prog << QString() << false << false << QString() << QString() << Source::User
        << QStringLiteral("Не найдена папка данных пользователя: задайте папку в --data-dir или BILMEKO_DATA_DIR.");
}

void TestDataFolder::resolve()
{
    QFETCH(QStringList, args);
    QFETCH(QString, variable);
    QFETCH(bool, exeWritable);
    QFETCH(bool, installed);
    QFETCH(QString, userDir);

    DataFolderInputs in;
    in.exeDir = QStringLiteral("/opt/desk/");
    in.args = args;
    in.variable = variable;
    in.userDir = userDir;
    in.workDir = QStringLiteral("/home/op");
    in.sample = installed ? QStringLiteral("/opt/share/bilmeko/Bilmeko.ini") : QString();
    QStringList asked;
    const DataFolder out = resolveDataFolder(in, [&](const QString &dir) {
        asked << dir;
        return exeWritable;
    });

    QTEST(out.path, "path");
    QTEST(out.source, "source");
    QTEST(out.error, "error");
    // Only the executable's folder is probed; named folders are the
    // operator's choice and are made when missing.
    for (const QString &dir : asked)
        QCOMPARE(dir, in.exeDir);
}

void TestDataFolder::freshFolderGetsSample_data()
{
    QTest::addColumn<QByteArray>("iniBefore"); // "-" for none
    QTest::addColumn<QByteArray>("logBefore"); // "-" for none
    QTest::addColumn<bool>("sampleThere");
    QTest::addColumn<QByteArray>("iniAfter"); // "-" for none

    QTest::newRow("fresh folder") << QByteArray("-") << QByteArray("-") << true << SampleBytes;
    QTest::newRow("own price list kept") << QByteArray("[Price]\r\nA=1\r\n") << QByteArray("-") << true
                                         << QByteArray("[Price]\r\nA=1\r\n");
    QTest::newRow("empty price list kept") << QByteArray("") << QByteArray("-") << true << QByteArray("");
    QTest::newRow("journal without price list: not a first start")
        << QByteArray("-") << QByteArray(168, '\0') << true << QByteArray("-");
    QTest::newRow("no sample installed") << QByteArray("-") << QByteArray("-") << false << QByteArray("-");
}

void TestDataFolder::freshFolderGetsSample()
{
    QFETCH(QByteArray, iniBefore);
    QFETCH(QByteArray, logBefore);
    QFETCH(bool, sampleThere);
    QFETCH(QByteArray, iniAfter);

    QTemporaryDir tmp;
    const QString sample = tmp.filePath(QStringLiteral("sample.ini"));
    if (sampleThere)
        test::writeFile(sample, SampleBytes);
    // Not there yet, two levels deep: made with its parents.
    const QString dir = tmp.filePath(QStringLiteral("home/.local/share/Bilmeko/"));
    if (iniBefore != "-" || logBefore != "-")
        QVERIFY(QDir().mkpath(dir));
    if (iniBefore != "-")
        test::writeFile(dir + QStringLiteral("Bilmeko.ini"), iniBefore);
    if (logBefore != "-")
        test::writeFile(dir + QStringLiteral("Bilmeko.log"), logBefore);

    QCOMPARE(prepareDataFolder(dir, sample), QString());
    QVERIFY(QFileInfo(dir).isDir());
    const QString ini = dir + QStringLiteral("Bilmeko.ini");
    if (iniAfter == "-")
        QVERIFY(!QFileInfo::exists(ini));
    else
        QCOMPARE(test::readFile(ini), iniAfter);
    // Running it again changes nothing.
    QCOMPARE(prepareDataFolder(dir, sample), QString());
    if (iniAfter != "-")
        QCOMPARE(test::readFile(ini), iniAfter);
    // Nothing else is left in the folder (no temporary file).
    QStringList expected;
    if (iniAfter != "-")
        expected << QStringLiteral("Bilmeko.ini");
    if (logBefore != "-")
        expected << QStringLiteral("Bilmeko.log");
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name), expected);
}

void TestDataFolder::unusableFolderIsReported()
{
    QTemporaryDir tmp;
    const QString sample = tmp.filePath(QStringLiteral("sample.ini"));
    test::writeFile(sample, SampleBytes);

    // A file where a folder would have to be.
    const QString file = tmp.filePath(QStringLiteral("plain"));
    test::writeFile(file, "x");
    QCOMPARE(prepareDataFolder(file + QStringLiteral("/desk/"), sample),
             QStringLiteral("Не удалось создать папку данных \"%1/desk/\".").arg(file));
    QCOMPARE(prepareDataFolder(file + QLatin1Char('/'), sample),
             QStringLiteral("Не удалось создать папку данных \"%1/\".").arg(file));

    // A folder the operator may not write in: reported, nothing copied.
    QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 0755) == 0);
    const QString locked = tmp.filePath(QStringLiteral("locked/"));
    QVERIFY(QDir().mkpath(locked));
    QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0555) == 0);
    {
        test::AsUnprivileged user;
        QCOMPARE(prepareDataFolder(locked, sample),
                 QStringLiteral("Папка данных \"%1\" недоступна для записи.").arg(locked));
        QCOMPARE(prepareDataFolder(locked + QStringLiteral("sub/"), sample),
                 QStringLiteral("Не удалось создать папку данных \"%1sub/\".").arg(locked));
    }
    QVERIFY(!QFileInfo::exists(locked + QStringLiteral("Bilmeko.ini")));
    ::chmod(QFile::encodeName(locked).constData(), 0755);
}

void TestDataFolder::writableFolder()
{
    QTemporaryDir tmp;
    QVERIFY(isWritableFolder(tmp.path()));
    QVERIFY(isWritableFolder(tmp.path() + QLatin1Char('/')));
    QVERIFY(!isWritableFolder(tmp.filePath(QStringLiteral("missing"))));
    test::writeFile(tmp.filePath(QStringLiteral("file")), "x");
    QVERIFY(!isWritableFolder(tmp.filePath(QStringLiteral("file"))));
    QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 0555) == 0);
    {
        test::AsUnprivileged user;
        QVERIFY(!isWritableFolder(tmp.path()));
    }
    ::chmod(QFile::encodeName(tmp.path()).constData(), 0700);
}

void TestDataFolder::installedSampleIsFoundFromBinFolder()
{
    QTemporaryDir tmp;
    const QString bin = makeInstalledTree(tmp.path());
    const QString sample = tmp.path() + QStringLiteral("/usr/share/bilmeko/Bilmeko.ini");
    QCOMPARE(installedSample(bin), sample);
    QCOMPARE(installedSample(tmp.path() + QStringLiteral("/usr/bin")), sample);
    // A build folder or a copy: nothing installed beside it.
    QCOMPARE(installedSample(tmp.path()), QString());
    QCOMPARE(installedSample(QString()), QString());
    // A folder by that name is not a price list.
    QVERIFY(QFile::remove(sample));
    QVERIFY(QDir().mkpath(sample));
    QCOMPARE(installedSample(bin), QString());
}

void TestDataFolder::installedProgramStarts_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("folder"); // under the scratch folder

    QTest::newRow("user's data folder") << QStringList() << QString() << QStringLiteral("home/.local/share/Bilmeko");
    QTest::newRow("--data-dir") << QStringList{QStringLiteral("--data-dir"), QStringLiteral("@/desk 1")} << QString()
                                << QStringLiteral("desk 1");
    QTest::newRow("BILMEKO_DATA_DIR") << QStringList() << QStringLiteral("@/shared/desk2")
                                      << QStringLiteral("shared/desk2");
}

// The program copied into an installed tree: a first start puts the sample
// price list into the chosen folder and writes nothing beside itself.
void TestDataFolder::installedProgramStarts()
{
    QFETCH(QStringList, args);
    QFETCH(QString, variable);
    QFETCH(QString, folder);

    QTemporaryDir tmp;
    const QString root = tmp.path();
    const QString bin = makeInstalledTree(root);
    const QString exe = bin + QStringLiteral("bilmeko");
    QVERIFY(QFile::copy(QStringLiteral(BILMEKO_EXE), exe));
    QDir().mkpath(root + QStringLiteral("/home"));
    QDir().mkpath(root + QStringLiteral("/run"));
    ::chmod(QFile::encodeName(root + QStringLiteral("/run")).constData(), 0700);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
    env.remove(QStringLiteral("XDG_DATA_HOME"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/run"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QString::fromLatin1(DataDirVariable));
    if (!variable.isEmpty())
        env.insert(QString::fromLatin1(DataDirVariable), variable.replace(QLatin1Char('@'), root));
    for (QString &a : args)
        a.replace(QLatin1Char('@'), root);

    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(root);
    p.start(exe, args);
    QVERIFY(p.waitForStarted());
    const QString ini = root + QLatin1Char('/') + folder + QStringLiteral("/Bilmeko.ini");
    const bool copied = waitForFile(ini);
    p.kill();
    p.waitForFinished();
    QVERIFY2(copied, qPrintable(p.readAllStandardError()));
    QCOMPARE(test::readFile(ini), SampleBytes);
    QCOMPARE(QDir(bin).entryList(QDir::Files), QStringList{QStringLiteral("bilmeko")});
}

QTEST_GUILESS_MAIN(TestDataFolder)
#include "test_datafolder.moc"
