// One running instance: the lock in-process, and real starts of the program.

#include "app/core/singleinstance.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#ifndef BILMEKO_EXE
#error "BILMEKO_EXE must name the program under test"
#endif

using namespace bilmeko;

namespace {

// Whether a process holds a flock on the file, as the kernel reports it.
bool holdsLock(qint64 pid, const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QString inode = QStringLiteral(":%1").arg(st.st_ino);
    for (const QByteArray &raw : locks.readAll().split('\n')) {
        const QStringList f = QString::fromLatin1(raw).simplified().split(QLatin1Char(' '));
        // "1: FLOCK ADVISORY WRITE <pid> <maj:min:inode> 0 EOF"
        if (f.size() >= 6 && f[1] == QLatin1String("FLOCK") && f[4] == QString::number(pid)
            && f[5].endsWith(inode))
            return true;
    }
    return false;
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

    void lockPathFollowsRuntimeDir();
    void lockInProcess();
    void secondStartEndsSilently();
    void nextStartRunsAfterTheFirstIsKilled();
    void ofTwoSimultaneousStartsOneRuns();

private:
    std::unique_ptr<QProcess> start();
    bool waitForLock(QProcess &p);

    std::unique_ptr<QTemporaryDir> m_runtime;
    QString lockPath() const { return m_runtime->filePath(QStringLiteral("Bilmeko_CHECKEXIST.lock")); }
};

void TestSingleInstance::init()
{
    m_runtime = std::make_unique<QTemporaryDir>();
}

void TestSingleInstance::cleanup()
{
    m_runtime.reset();
}

std::unique_ptr<QProcess> TestSingleInstance::start()
{
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime->path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p->setProcessEnvironment(env);
    p->start(QStringLiteral(BILMEKO_EXE), {});
    return p;
}

bool TestSingleInstance::waitForLock(QProcess &p)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000) {
        if (p.state() == QProcess::NotRunning)
            return false;
        if (holdsLock(p.processId(), lockPath()))
            return true;
        QTest::qWait(20);
    }
    return false;
}

void TestSingleInstance::lockPathFollowsRuntimeDir()
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime->path()));
    QCOMPARE(instanceLockPath(), lockPath());
    qunsetenv("XDG_RUNTIME_DIR");
    QCOMPARE(instanceLockPath(), QStringLiteral("/tmp/Bilmeko_CHECKEXIST-%1.lock").arg(::getuid()));
    qputenv("XDG_RUNTIME_DIR", "/nonexistent-runtime-dir");
    QCOMPARE(instanceLockPath(), QStringLiteral("/tmp/Bilmeko_CHECKEXIST-%1.lock").arg(::getuid()));
    if (saved.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", saved);
}

void TestSingleInstance::lockInProcess()
{
    auto first = std::make_unique<InstanceLock>();
    InstanceLock second;
    QVERIFY(first->tryAcquire(lockPath()));
    QVERIFY(!second.tryAcquire(lockPath()));
    QVERIFY(!second.held());
    first.reset();
    QVERIFY(second.tryAcquire(lockPath()));

    InstanceLock nowhere;
    QVERIFY(!nowhere.tryAcquire(m_runtime->filePath(QStringLiteral("missing/x.lock"))));
}

void TestSingleInstance::secondStartEndsSilently()
{
    auto first = start();
    QVERIFY(waitForLock(*first));

    auto second = start();
    QVERIFY(finished(*second));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(second->readAllStandardOutput(), QByteArray());
    QCOMPARE(second->readAllStandardError(), QByteArray());

    // The running instance is unaffected.
    QCOMPARE(first->state(), QProcess::Running);
    QVERIFY(holdsLock(first->processId(), lockPath()));
    first->kill();
    QVERIFY(finished(*first));
}

void TestSingleInstance::nextStartRunsAfterTheFirstIsKilled()
{
    auto first = start();
    QVERIFY(waitForLock(*first));
    first->kill(); // however it ends, the lock goes with it
    QVERIFY(finished(*first));

    auto next = start();
    QVERIFY(waitForLock(*next));
    QTest::qWait(200);
    QCOMPARE(next->state(), QProcess::Running);
    next->kill();
    QVERIFY(finished(*next));
}

void TestSingleInstance::ofTwoSimultaneousStartsOneRuns()
{
    auto a = start();
    auto b = start();
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
    QVERIFY(waitForLock(*runner));
    QCOMPARE(runner->state(), QProcess::Running);
    runner->kill();
    QVERIFY(finished(*runner));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "test_singleinstance.moc"
