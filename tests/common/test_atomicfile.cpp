// Whole-file replaces: each failing step leaves the old file and no
// temporary; a replace given up or interrupted leaves only names the start-up
// cleanup removes.

#include "common/core/atomicfile.h"
#include "common/core/systemcalls.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace bilmeko;
using namespace bilmeko::test;

namespace {

// Calls that fail for the test's scope.
SystemCalls failing(const QString &step, int err)
{
    SystemCalls c;
    if (step == "write")
        c.write = [err](int, const void *, size_t) -> ssize_t {
            errno = err;
            return -1;
        };
    else if (step == "short write")
        c.write = [](int, const void *, size_t) -> ssize_t { return 0; };
    else if (step == "flush")
        c.fsync = [err](int) {
            errno = err;
            return -1;
        };
    else if (step == "folder flush")
        c.fsync = [err, n = 0](int fd) mutable {
            if (++n % 2 == 1) // the file's; the folder's comes second
                return ::fsync(fd);
            errno = err;
            return -1;
        };
    else if (step == "rename")
        c.rename = [err](const char *, const char *) {
            errno = err;
            return -1;
        };
    else if (step == "close")
        c.close = [err](int fd) {
            ::close(fd);
            errno = err;
            return -1;
        };
    return c;
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

mode_t modeOf(const QString &path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(0);
}

void chmodPath(const QString &path, mode_t mode)
{
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

} // namespace

class TestAtomicFile : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        chmodPath(m_dir->path(), 0777); // reachable when the test drops root's rights
        m_target = m_dir->filePath(QStringLiteral("Bilmeko.ini"));
    }

    void cleanup()
    {
        ::chmod(QFile::encodeName(m_dir->path()).constData(), 0777);
        m_dir.reset();
    }

    void replacesAndLeavesOnlyTheFile()
    {
        replaceFileAtomically(m_target, "one");
        QCOMPARE(readFile(m_target), QByteArray("one"));
        replaceFileAtomically(m_target, QByteArray());
        QCOMPARE(readFile(m_target), QByteArray());
        QCOMPARE(entries(m_dir->path()), QStringList{QStringLiteral("Bilmeko.ini")});
    }

    // Every step that can fail: the error number reaches the caller, the old
    // content stays, no temporary is left. A failed flush of the folder comes
    // after the rename, so the new content is already in place then.
    void failureKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("err");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("write fails") << "write" << EIO << QByteArray("old");
        QTest::newRow("disk full") << "write" << ENOSPC << QByteArray("old");
        QTest::newRow("write takes nothing") << "short write" << ENOSPC << QByteArray("old");
        QTest::newRow("flush fails") << "flush" << EIO << QByteArray("old");
        QTest::newRow("rename fails") << "rename" << EXDEV << QByteArray("old");
        QTest::newRow("close fails") << "close" << EIO << QByteArray("old");
        QTest::newRow("folder flush fails") << "folder flush" << EIO << QByteArray("new");
        QTest::newRow("folder cannot be flushed") << "folder flush" << EINVAL << QByteArray("new");
        QTest::newRow("read-only folder") << "folder" << EACCES << QByteArray("old");
        QTest::newRow("read-only file") << "file" << EACCES << QByteArray("old");
        QTest::newRow("folder in its place") << "directory" << EISDIR << QByteArray();
        QTest::newRow("pipe in its place") << "pipe" << EINVAL << QByteArray();
        QTest::newRow("missing folder") << "nofolder" << ENOENT << QByteArray();
    }

    void failureKeepsTheOldFile()
    {
        QFETCH(QString, how);
        QFETCH(int, err);
        QFETCH(QByteArray, after);
        QString path = m_target;
        if (how == "directory")
            QVERIFY(QDir().mkdir(path));
        else if (how == "pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0666), 0);
        else if (how == "nofolder")
            path = m_dir->filePath(QStringLiteral("gone/Bilmeko.ini"));
        else
            writeFile(path, "old");
        if (QFileInfo(path).isFile())
            chmodPath(path, how == "file" ? 0444 : 0666);
        if (how == "folder")
            chmodPath(m_dir->path(), 0555);
        const QStringList before = entries(m_dir->path());

        int got = 0;
        QString ioMessage;
        {
            ScopedSystemCalls calls(failing(how, err));
            AsUnprivileged nobody;
            try {
                AtomicFile file(path);
                file.open().write("new");
                file.commit();
            } catch (const AtomicFileError &e) {
                got = e.errorNumber();
                QCOMPARE(e.message(), QString::fromLocal8Bit(std::strerror(err)));
            }
            try {
                replaceFileAtomically(path, "new");
            } catch (const IoError &e) {
                ioMessage = e.message();
            }
        }
        const bool tolerated = how == "folder flush" && err == EINVAL;
        QCOMPARE(got, tolerated ? 0 : err);
        QCOMPARE(ioMessage, tolerated ? QString() : IoError::fromErrno(err).message());
        ::chmod(QFile::encodeName(m_dir->path()).constData(), 0777);
        if (!after.isEmpty()) {
            chmodPath(path, 0644);
            QCOMPARE(readFile(path), after);
        }
        QCOMPARE(entries(m_dir->path()), before);
    }

    // Another writer may fill the temporary file by its name; the device's
    // writes and theirs land in the same file.
    void anotherWriterFillsTheTemporary()
    {
        writeFile(m_target, "old");
        AtomicFile file(m_target);
        file.open();
        QVERIFY(file.tempPath().startsWith(m_dir->filePath(QStringLiteral(".Bilmeko.ini."))));
        QFile other(file.tempPath());
        QVERIFY(other.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(other.write("from the printer"), 16);
        other.close();
        QCOMPARE(readFile(m_target), QByteArray("old"));
        file.commit();
        QCOMPARE(readFile(m_target), QByteArray("from the printer"));
        QCOMPARE(entries(m_dir->path()), QStringList{QStringLiteral("Bilmeko.ini")});
    }

    // A replace given up (an error of the caller's own) leaves the old file;
    // one interrupted by a crash leaves a temporary the cleanup recognises.
    void givenUpOrInterrupted()
    {
        writeFile(m_target, "old");
        {
            AtomicFile file(m_target);
            file.open().write("half");
        }
        QCOMPARE(readFile(m_target), QByteArray("old"));
        QCOMPARE(entries(m_dir->path()), QStringList{QStringLiteral("Bilmeko.ini")});

        AtomicFile crashed(m_target);
        crashed.open().write("half");
        QCOMPARE(entries(m_dir->path()).size(), 2);
        QCOMPARE(removeStaleTemporaries(m_target), 1);
        QCOMPARE(entries(m_dir->path()), QStringList{QStringLiteral("Bilmeko.ini")});
        QCOMPARE(removeStaleTemporaries(m_target), 0); // twice changes nothing
    }

    void permissions_data()
    {
        QTest::addColumn<int>("existing"); // 0: no file yet
        QTest::addColumn<int>("newMode");
        QTest::addColumn<int>("expected");
        QTest::newRow("new, owner only") << 0 << 0600 << 0600;
        QTest::newRow("new, umask applied") << 0 << 0666 << 0644;
        QTest::newRow("existing keeps its own") << 0640 << 0600 << 0640;
        QTest::newRow("existing, open to all") << 0666 << 0600 << 0666;
    }

    void permissions()
    {
        QFETCH(int, existing);
        QFETCH(int, newMode);
        QFETCH(int, expected);
        if (existing != 0) {
            writeFile(m_target, "old");
            chmodPath(m_target, mode_t(existing));
        }
        const mode_t saved = ::umask(022);
        replaceFileAtomically(m_target, "new", mode_t(newMode));
        ::umask(saved);
        QCOMPARE(int(modeOf(m_target)), expected);
    }

    void linkStaysALink()
    {
        const QString real = m_dir->filePath(QStringLiteral("real.ini"));
        writeFile(real, "old");
        QVERIFY(QFile::link(QStringLiteral("real.ini"), m_target));
        replaceFileAtomically(m_target, "new");
        QVERIFY(QFileInfo(m_target).isSymLink());
        QCOMPARE(readFile(real), QByteArray("new"));
        writeFile(m_dir->filePath(QStringLiteral(".real.ini.tmp-Ab12Cd")), "left");
        QCOMPARE(removeStaleTemporaries(m_target), 1);
    }

    // Only the temporaries of this file's replaces go.
    void staleTemporaries_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("removed");
        QTest::newRow("temporary") << ".Bilmeko.ini.tmp-a1B2c3" << true;
        QTest::newRow("another file's") << ".Bilmeko.sessions.tmp-a1B2c3" << false;
        QTest::newRow("a user's backup") << ".Bilmeko.ini.backup" << false;
        QTest::newRow("a user's six letters") << ".Bilmeko.ini.a1B2c3" << false;
        QTest::newRow("suffix too long") << ".Bilmeko.ini.tmp-a1B2c3d" << false;
        QTest::newRow("suffix too short") << ".Bilmeko.ini.tmp-ab" << false;
        QTest::newRow("odd character") << ".Bilmeko.ini.tmp-a1B2-3" << false;
        QTest::newRow("not hidden") << "Bilmeko.ini.tmp-a1B2c3" << false;
        QTest::newRow("a folder") << ".Bilmeko.ini.tmp-Folder/" << false;
    }

    void staleTemporaries()
    {
        QFETCH(QString, name);
        QFETCH(bool, removed);
        const QString path = m_dir->filePath(name);
        if (name.endsWith(QLatin1Char('/')))
            QVERIFY(QDir().mkdir(path));
        else
            writeFile(path, "x");
        QCOMPARE(removeStaleTemporaries(m_target), removed ? 1 : 0);
        QCOMPARE(QFileInfo::exists(path), !removed);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_target;
};

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "test_atomicfile.moc"
