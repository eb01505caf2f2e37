#include "prices/core/profilefile.h"
#include "pricetestutil.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace bilmeko;
using namespace pricetest;

namespace {
const QString Price = QStringLiteral("Price");

QStringList folderEntries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QString writeFailure(const std::function<void()> &write)
{
    try {
        write();
    } catch (const Error &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}
} // namespace

class TestProfileFile : public QObject
{
    Q_OBJECT
private slots:
    void missingFileReadsEmptyAndIsCreated()
    {
        OpenDir dir;
        const ProfileFile ini(dir.file("Bilmeko.ini"));
        QCOMPARE(ini.path(), QFileInfo(dir.file("Bilmeko.ini")).absoluteFilePath());
        QVERIFY(ini.keys(Price).isEmpty());
        QCOMPARE(ini.readString(Price, "A"), QString());
        ini.eraseSection(Price);
        QVERIFY(!QFile::exists(ini.path())); // nothing to erase, nothing created
        ini.replaceSection(Price, {});
        QVERIFY(!QFile::exists(ini.path()));
        ini.writeString(Price, "Стрижка", "12,5");
        QCOMPARE(readFile(ini.path()), crlf({"[Price]", "Стрижка=12,5"}));
        QCOMPARE(folderEntries(dir.path()), QStringList{"Bilmeko.ini"});
    }

    // The start reads every section from one reading: what the file says
    // later is seen once the hold ends, and a write of the program's own
    // ends it at once, so a write is never read over with the old text.
    void heldReadsSeeOneReadingUntilAWrite()
    {
        OpenDir dir;
        const QString path = dir.file("Bilmeko.ini");
        writeFile(path, crlf({"[Price]", "A=1", "[Options]", "K=5"}));
        ProfileFile ini(path);
        ini.holdText();
        writeFile(path, crlf({"[Price]", "A=2"}));
        QCOMPARE(ini.readString(Price, "A"), QStringLiteral("1"));
        QCOMPARE(ini.readString("Options", "K"), QStringLiteral("5"));
        QCOMPARE(ini.readStatus(), ProfileFile::ReadStatus::Ok);
        ini.writeString("Options", "K", "7");
        QCOMPARE(readFile(path), crlf({"[Price]", "A=2", "[Options]", "K=7"}));
        QCOMPARE(ini.readString(Price, "A"), QStringLiteral("2"));
        ini.holdText();
        QFile::remove(path);
        QCOMPARE(ini.readString(Price, "A"), QStringLiteral("2"));
        ini.releaseText();
        QCOMPARE(ini.readStatus(), ProfileFile::ReadStatus::Missing);
        QCOMPARE(ini.readString(Price, "A"), QString());
    }

    void writesKeepTheRestByteForByte()
    {
        OpenDir dir;
        const QString path = dir.file("Bilmeko.ini");
        const QByteArray before("; made by hand\n[Window]\nLeft=10\n\n[Price]\nA=1\nB=2\n\n[Other]\nx=\"q\"\n");
        writeFile(path, before);
        setMode(path, 0640);
        const ProfileFile ini(path);
        ini.replaceSection(Price, {{"C", "3"}, {"B", "2"}, {"A", "1"}});
        QCOMPARE(readFile(path),
                 QByteArray("; made by hand\n[Window]\nLeft=10\n\n[Price]\nC=3\r\nB=2\r\nA=1\r\n\n[Other]\nx=\"q\"\n"));
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0640));
        QCOMPARE(ini.readString("other", "X"), QStringLiteral("q"));
        ini.eraseSection(Price);
        QCOMPARE(readFile(path), QByteArray("; made by hand\n[Window]\nLeft=10\n\n[Other]\nx=\"q\"\n"));
        QCOMPARE(folderEntries(dir.path()), QStringList{"Bilmeko.ini"}); // no temporary left
    }

    void linkStaysALink()
    {
        OpenDir dir;
        const QString real = dir.file("real.ini");
        writeFile(real, crlf({"[Price]", "A=1"}));
        const QString link = dir.file("Bilmeko.ini");
        QVERIFY(QFile::link(real, link));
        ProfileFile(link).writeString(Price, "A", "2");
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readFile(real), crlf({"[Price]", "A=2"}));
    }

    // A settings file that cannot be written: the message names the file,
    // and the old file is exactly as it was.
    void refusedWriteLeavesTheFile_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("read-only file") << "file";
        QTest::newRow("read-only folder") << "folder";
        QTest::newRow("unreadable file") << "unreadable";
        QTest::newRow("folder in its place") << "directory";
        QTest::newRow("missing folder") << "nofolder";
    }

    void refusedWriteLeavesTheFile()
    {
        QFETCH(QString, how);
        OpenDir dir;
        QString path = dir.file("Bilmeko.ini");
        const QByteArray before = crlf({"; keep", "[Price]", "A=1", "[X]", "k=v"});
        if (how == "directory") {
            QVERIFY(QDir(dir.path()).mkdir("Bilmeko.ini"));
        } else if (how == "nofolder") {
            path = dir.file("gone/Bilmeko.ini");
        } else {
            writeFile(path, before);
            setMode(path, how == "file" ? 0444 : how == "unreadable" ? 0200 : 0666);
        }
        if (how == "folder")
            dir.setMode(0555);
        const ProfileFile ini(path);
        const QString expected = QStringLiteral("Unable to write to ") + QFileInfo(path).absoluteFilePath();
        {
            test::AsUnprivileged nobody;
            if (how == "unreadable")
                QCOMPARE(ini.readSection(Price).size(), 0);
            QCOMPARE(writeFailure([&] { ini.replaceSection(Price, {{"B", "2"}}); }), expected);
            QCOMPARE(writeFailure([&] { ini.writeString(Price, "B", "2"); }), expected);
            if (how != "directory" && how != "nofolder")
                QCOMPARE(writeFailure([&] { ini.eraseSection(Price); }), expected);
        }
        dir.setMode(0777);
        if (how == "directory") {
            QVERIFY(QFileInfo(path).isDir());
        } else if (how != "nofolder") {
            setMode(path, 0644);
            QCOMPARE(readFile(path), before);
        }
        QCOMPARE(folderEntries(dir.path()).size(), how == "nofolder" ? 0 : 1);
    }

    // Odd things in the file's place read as an empty file and never hang.
    void oddFilesReadEmpty_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder") << "folder";
        QTest::newRow("pipe") << "pipe";
        QTest::newRow("unreadable") << "unreadable";
        QTest::newRow("too large") << "large";
    }

    void oddFilesReadEmpty()
    {
        QFETCH(QString, kind);
        OpenDir dir;
        const QString path = dir.file("Bilmeko.ini");
        if (kind == "folder")
            QVERIFY(QDir(dir.path()).mkdir("Bilmeko.ini"));
        if (kind == "pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0666), 0);
        if (kind == "unreadable" || kind == "large") {
            writeFile(path, crlf({"[Price]", "A=1"}));
            if (kind == "unreadable")
                setMode(path, 0200);
        }
        test::AsUnprivileged nobody;
        if (kind == "unreadable" && ::geteuid() == 0)
            QSKIP("root reads every file");
        if (kind == "large") {
            QCOMPARE(ProfileFile::readBytes(path, 10).status, ProfileFile::ReadStatus::TooLarge);
            return;
        }
        QCOMPARE(ProfileFile::readBytes(path).status, ProfileFile::ReadStatus::Failed);
        QVERIFY(ProfileFile(path).readSection(Price).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestProfileFile)
#include "test_priceprofile_file.moc"
