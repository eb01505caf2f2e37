// One running copy per data folder: the lock in-process, and real starts of
// the program, each copied into a folder of its own.

#include "app/core/singleinstance.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#ifndef BILMEKO_EXE
#error "BILMEKO_EXE must name the program under test"
#endif

using namespace bilmeko;
using Result = InstanceLock::Result;

namespace {

// Whether a process holds a flock on the file, as the kernel reports it.
bool holdsLock(qint64 pid, const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QString inode = QStringLiteral(":%1").arg(st.st_ino);
    for (const QByteArray &raw : locks.readAll().split('\n')) {
        const QStringList f = QString::fromLatin1(raw).simplified().split(QLatin1Char(' '));
        // "1: FLOCK ADVISORY WRITE <pid> <maj:min:inode> 0 EOF"
        if (f.size() >= 6 && f[1] == QLatin1String("FLOCK") && f[4] == QString::number(pid) && f[5].endsWith(inode))
            return true;
    }
    return false;
}

mode_t modeOf(const QString &path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(0);
}

// Another program holding the folder's lock, as this user or as "nobody"
// (the tests run as root); returns once the kernel shows the lock.
std::unique_ptr<QProcess> holdLockElsewhere(const QString &folder, bool asNobody)
{
    const QString lock = InstanceLock::lockPath(folder);
    if (!QFile::exists(lock)) {
        // As an earlier version left it: readable by all.
        QFile f(lock);
        if (!f.open(QIODevice::WriteOnly))
            return nullptr;
    }
    ::chmod(QFile::encodeName(lock).constData(), 0644);
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    auto p = std::make_unique<QProcess>();
    QStringList args = {QStringLiteral("flock"), asNobody ? QStringLiteral("-s") : QStringLiteral("-x"), lock,
                        QStringLiteral("sleep"), QStringLiteral("60")};
    if (asNobody)
        args = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                           QStringLiteral("--clear-groups")}
            + args;
    else
        args.removeFirst();
    p->start(asNobody ? QStringLiteral("setpriv") : QStringLiteral("flock"), args);
    if (!p->waitForStarted(10000))
        return nullptr;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000 && !holdsLock(p->processId(), lock)) {
        if (p->state() == QProcess::NotRunning)
            return nullptr;
        QTest::qWait(20);
    }
    return p;
}

// waitForFinished() reports false for a process that has already ended.
bool finished(QProcess &p)
{
    return p.state() == QProcess::NotRunning || p.waitForFinished(10000);
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lockInProcess();
    void lockThatCannotBeTakenSaysWhy_data();
    void lockThatCannotBeTakenSaysWhy();
    void secondStartOnTheFolderEndsSilentlyWhateverItsEnvironment_data();
    void secondStartOnTheFolderEndsSilentlyWhateverItsEnvironment();
    void startOnAnotherFolderRuns();
    void nextStartRunsAfterTheFirstIsKilled();
    void ofTwoSimultaneousStartsOneRuns();
    void unusableLockIsReportedNotSilent_data();
    void unusableLockIsReportedNotSilent();
    void ownerBoardWithoutItsModuleIsReported();
    void commandLineAnsweredWithoutADisplay_data();
    void commandLineAnsweredWithoutADisplay();
    void terminationSignalsEndTheProgramCleanly_data();
    void terminationSignalsEndTheProgramCleanly();

private:
    // A folder with a copy of the program in it.
    QString installCopy(QTemporaryDir &dir);
    std::unique_ptr<QProcess> start(const QString &exe, const QString &runtimeDir = QString(),
                                    const QStringList &args = {});
    bool waitForLock(QProcess &p, const QString &folder);

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<QTemporaryDir> m_runtime;
    QString m_exe;
};

void TestSingleInstance::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    m_runtime = std::make_unique<QTemporaryDir>();
    m_exe = installCopy(*m_folder);
}

void TestSingleInstance::cleanup()
{
    m_folder.reset();
    m_runtime.reset();
}

QString TestSingleInstance::installCopy(QTemporaryDir &dir)
{
    const QString exe = dir.filePath(QStringLiteral("bilmeko"));
    if (!QFile::exists(exe) && !QFile::copy(QStringLiteral(BILMEKO_EXE), exe))
        qFatal("cannot copy the program");
    return exe;
}

std::unique_ptr<QProcess> TestSingleInstance::start(const QString &exe, const QString &runtimeDir,
                                                    const QStringList &args)
{
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (runtimeDir.isEmpty())
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    else
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p->setProcessEnvironment(env);
    p->start(exe, args);
    return p;
}

bool TestSingleInstance::waitForLock(QProcess &p, const QString &folder)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000) {
        if (p.state() == QProcess::NotRunning)
            return false;
        if (holdsLock(p.processId(), InstanceLock::lockPath(folder)))
            return true;
        QTest::qWait(20);
    }
    return false;
}

void TestSingleInstance::lockInProcess()
{
    const QString folder = m_folder->path();
    auto first = std::make_unique<InstanceLock>();
    InstanceLock second;
    QCOMPARE(first->tryAcquire(folder), Result::Acquired);
    QCOMPARE(first->tryAcquire(folder), Result::Acquired);
    QCOMPARE(second.tryAcquire(folder), Result::HeldByAnother);
    QVERIFY(!second.held());
    QVERIFY(second.errorMessage().isEmpty());
    QVERIFY(QFile::exists(folder + QStringLiteral("/Bilmeko.lock")));
    QCOMPARE(modeOf(InstanceLock::lockPath(folder)), mode_t(0600));

    InstanceLock elsewhere;
    QCOMPARE(elsewhere.tryAcquire(m_runtime->path()), Result::Acquired);

    first.reset();
    QCOMPARE(second.tryAcquire(folder), Result::Acquired);
}

void TestSingleInstance::lockThatCannotBeTakenSaysWhy_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no such folder") << "missing"
                                    << "папки нет";
    QTest::newRow("read-only folder") << "readonly"
                                      << "нет прав доступа";
    QTest::newRow("lock file is a folder") << "dir"
                                           << "на месте файла папка";
    QTest::newRow("held by another user's process") << "other user"
                                                    << "пользователя nobody";
    QTest::newRow("lock file of another user") << "foreign file"
                                               << "принадлежит пользователю root";
}

void TestSingleInstance::lockThatCannotBeTakenSaysWhy()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QString folder = m_folder->path();
    if (kind == "missing")
        folder = m_folder->filePath(QStringLiteral("nowhere"));
    if (kind == "dir")
        QVERIFY(QDir(folder).mkdir(QStringLiteral("Bilmeko.lock")));
    QDir ro(m_folder->filePath(QStringLiteral("ro")));
    if (kind == "readonly") {
        QVERIFY(ro.mkpath(QStringLiteral(".")));
        const auto readAndEnter = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(m_folder->path(), readAndEnter | QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(ro.path(), readAndEnter));
        folder = ro.path();
    }
    std::unique_ptr<QProcess> holder;
    if (kind == "other user") {
        if (::geteuid() != 0)
            QSKIP("needs root to run a process as another user");
        holder = holdLockElsewhere(folder, true);
        QVERIFY(holder);
    }
    if (kind == "foreign file") {
        if (::geteuid() != 0)
            QSKIP("needs root to own a file another user meets");
        QFile f(InstanceLock::lockPath(folder));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7755)));
    }
    InstanceLock lock;
    Result r;
    {
        // Root would write into a read-only folder regardless.
        std::unique_ptr<test::AsUnprivileged> user;
        if (kind == "readonly" || kind == "foreign file")
            user = std::make_unique<test::AsUnprivileged>();
        r = lock.tryAcquire(folder);
    }
    QCOMPARE(r, Result::Failed);
    QVERIFY(!lock.held());
    QVERIFY2(lock.errorMessage().contains(InstanceLock::lockPath(folder)), qPrintable(lock.errorMessage()));
    QVERIFY2(lock.errorMessage().contains(reason), qPrintable(lock.errorMessage()));
    if (holder) {
        // Taken from the lock file of an earlier version, open to all.
        QCOMPARE(modeOf(InstanceLock::lockPath(folder)), mode_t(0600));
        holder->kill();
        QVERIFY(finished(*holder));
    }
}

void TestSingleInstance::secondStartOnTheFolderEndsSilentlyWhateverItsEnvironment_data()
{
    QTest::addColumn<bool>("firstHasRuntime");
    QTest::addColumn<bool>("secondHasRuntime");
    QTest::newRow("same runtime folder") << true << true;
    QTest::newRow("first with a runtime folder, second without") << true << false;
    QTest::newRow("first without, second with") << false << true;
}

void TestSingleInstance::secondStartOnTheFolderEndsSilentlyWhateverItsEnvironment()
{
    QFETCH(bool, firstHasRuntime);
    QFETCH(bool, secondHasRuntime);
    QTemporaryDir otherRuntime;
    auto first = start(m_exe, firstHasRuntime ? m_runtime->path() : QString());
    QVERIFY(waitForLock(*first, m_folder->path()));

    auto second = start(m_exe, secondHasRuntime ? otherRuntime.path() : QString());
    QVERIFY(finished(*second));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(second->readAllStandardOutput(), QByteArray());
    QCOMPARE(second->readAllStandardError(), QByteArray());

    // The running copy is unaffected.
    QCOMPARE(first->state(), QProcess::Running);
    QVERIFY(holdsLock(first->processId(), InstanceLock::lockPath(m_folder->path())));
    first->kill();
    QVERIFY(finished(*first));
}

void TestSingleInstance::startOnAnotherFolderRuns()
{
    QTemporaryDir other;
    const QString otherExe = installCopy(other);
    auto first = start(m_exe, m_runtime->path());
    QVERIFY(waitForLock(*first, m_folder->path()));
    auto second = start(otherExe, m_runtime->path());
    QVERIFY(waitForLock(*second, other.path()));
    QCOMPARE(first->state(), QProcess::Running);
    first->kill();
    second->kill();
    QVERIFY(finished(*first));
    QVERIFY(finished(*second));
}

void TestSingleInstance::nextStartRunsAfterTheFirstIsKilled()
{
    auto first = start(m_exe);
    QVERIFY(waitForLock(*first, m_folder->path()));
    first->kill(); // however it ends, the lock goes with it
    QVERIFY(finished(*first));

    auto next = start(m_exe);
    QVERIFY(waitForLock(*next, m_folder->path()));
    QTest::qWait(200);
    QCOMPARE(next->state(), QProcess::Running);
    next->kill();
    QVERIFY(finished(*next));
}

void TestSingleInstance::ofTwoSimultaneousStartsOneRuns()
{
    auto a = start(m_exe, m_runtime->path());
    auto b = start(m_exe);
    QVERIFY(a->waitForStarted(10000));
    QVERIFY(b->waitForStarted(10000));

    QElapsedTimer t;
    t.start();
    while (a->state() == QProcess::Running && b->state() == QProcess::Running && t.elapsed() < 20000)
        QTest::qWait(20);
    QProcess *quitter = a->state() == QProcess::Running ? b.get() : a.get();
    QProcess *runner = quitter == a.get() ? b.get() : a.get();
    QVERIFY(finished(*quitter));
    QCOMPARE(quitter->exitCode(), 0);
    QVERIFY(waitForLock(*runner, m_folder->path()));
    QCOMPARE(runner->state(), QProcess::Running);
    runner->kill();
    QVERIFY(finished(*runner));
}

void TestSingleInstance::unusableLockIsReportedNotSilent_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("said");
    QTest::newRow("lock file is a folder") << "dir"
                                           << "на месте файла папка";
    // Only a copy that answers lets a second start end without a word.
    QTest::newRow("held by a program that does not answer") << "silent holder"
                                                            << "не отвечает";
    QTest::newRow("held by another user's process") << "other user"
                                                    << "пользователя nobody";
}

void TestSingleInstance::unusableLockIsReportedNotSilent()
{
    QFETCH(QString, kind);
    QFETCH(QString, said);
    std::unique_ptr<QProcess> holder;
    if (kind == "dir") {
        QVERIFY(QDir(m_folder->path()).mkdir(QStringLiteral("Bilmeko.lock")));
    } else {
        if (kind == "other user" && ::geteuid() != 0)
            QSKIP("needs root to run a process as another user");
        holder = holdLockElsewhere(m_folder->path(), kind == "other user");
        QVERIFY(holder);
    }
    auto p = start(m_exe);
    QElapsedTimer t;
    t.start();
    QByteArray err;
    // Qt may say something of its own first.
    while (t.elapsed() < 20000 && !QString::fromLocal8Bit(err).contains(said)) {
        p->waitForReadyRead(100);
        err += p->readAllStandardError();
    }
    const QString text = QString::fromLocal8Bit(err);
    QVERIFY2(text.contains(QDir::toNativeSeparators(m_folder->path())), err.constData());
    QVERIFY2(text.contains(said), err.constData());
    if (holder) {
        holder->kill();
        QVERIFY(finished(*holder));
    }
    // It waits with its error box open instead of vanishing.
    QCOMPARE(p->state(), QProcess::Running);
    p->kill();
    QVERIFY(finished(*p));
}

// The owner's board comes from a module this copy of the program has not
// beside it: said naming the file, in a box and on standard error.
void TestSingleInstance::ownerBoardWithoutItsModuleIsReported()
{
    auto p = start(m_exe, m_runtime->path(), {QStringLiteral("--owner")});
    QElapsedTimer t;
    t.start();
    QByteArray err;
    while (t.elapsed() < 20000 && !err.contains("bilmeko-owner.so")) {
        p->waitForReadyRead(100);
        err += p->readAllStandardError();
    }
    QVERIFY2(QString::fromLocal8Bit(err).contains(QStringLiteral("Не найден модуль общей книги")), err.constData());
    QVERIFY2(err.contains("/bilmeko/bilmeko-owner.so"), err.constData());
    // It waits with its error box open instead of vanishing.
    QCOMPARE(p->state(), QProcess::Running);
    p->kill();
    QVERIFY(finished(*p));
}

void TestSingleInstance::commandLineAnsweredWithoutADisplay_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("--help") << QStringList{"--help"} << 0 << "Использование: bilmeko"
                            << "";
    QTest::newRow("--version") << QStringList{"--version"} << 0 << "bilmeko 1.0."
                               << "";
    QTest::newRow("--help after a folder") << QStringList{"--data-dir", "x", "--help"} << 0 << "--data-dir"
                                           << "";
    QTest::newRow("unknown option") << QStringList{"--verbose"} << 2 << ""
                                    << "неизвестный параметр \"--verbose\"";
    QTest::newRow("stray argument") << QStringList{"file.txt"} << 2 << ""
                                    << "неизвестный параметр \"file.txt\"";
    QTest::newRow("folder missing") << QStringList{"--data-dir"} << 2 << ""
                                    << "после --data-dir нужна папка";
}

// Answered before any window system is needed: no display, no platform.
void TestSingleInstance::commandLineAnsweredWithoutADisplay()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    p.setProcessEnvironment(env);
    p.start(m_exe, args);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), status);
    const QString stdoutText = QString::fromLocal8Bit(p.readAllStandardOutput());
    const QString stderrText = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(out.isEmpty() ? stdoutText.isEmpty() : stdoutText.contains(out), qPrintable(stdoutText));
    QVERIFY2(err.isEmpty() ? stderrText.isEmpty() : stderrText.contains(err), qPrintable(stderrText));
    // Nothing was started: no lock, no files.
    QVERIFY(!QFile::exists(InstanceLock::lockPath(m_folder->path())));
}

void TestSingleInstance::terminationSignalsEndTheProgramCleanly_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QByteArray>("settings");
    QTest::newRow("SIGTERM") << int(SIGTERM) << QByteArray();
    QTest::newRow("SIGINT") << int(SIGINT) << QByteArray();
    QTest::newRow("SIGHUP") << int(SIGHUP) << QByteArray();
    // The start stops at a message box about its settings: the signal
    // ends the program, not only the box.
    QTest::newRow("SIGTERM during a box of the start")
        << int(SIGTERM) << QByteArray("[Options]\r\nReminderMinutes=abc\r\nUndoStopMinutes=abc\r\n");
    // A ledger set up but its module not beside this copy of the program:
    // said in a box, and the desk runs on without it.
    QTest::newRow("SIGTERM during the box of a missing ledger module")
        << int(SIGTERM) << QByteArray("[Ledger]\r\nConnection=host=/nonexistent\r\n");
}

void TestSingleInstance::terminationSignalsEndTheProgramCleanly()
{
    QFETCH(int, signal);
    QFETCH(QByteArray, settings);
    if (!settings.isEmpty())
        test::writeFile(m_folder->filePath(QStringLiteral("Bilmeko.ini")), settings);
    auto p = start(m_exe);
    QVERIFY(waitForLock(*p, m_folder->path()));
    QTest::qWait(settings.isEmpty() ? 200 : 1000); // past the window's creation, or up to the box
    ::kill(static_cast<pid_t>(p->processId()), signal);
    QVERIFY(p->waitForFinished(10000));
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QCOMPARE(p->exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "test_singleinstance.moc"
