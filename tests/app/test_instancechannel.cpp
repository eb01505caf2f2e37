// A second start on the same data folder brings the running window to the
// front: two processes and a real local socket.

#include "app/core/singleinstance.h"
#include "app/ui/form1.h"
#include "app/ui/instancechannel.h"
#include "testsupport_ui.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#ifndef BILMEKO_EXE
#error "BILMEKO_EXE must name the program under test"
#endif

using namespace bilmeko;

class TestInstanceChannel : public QObject
{
    Q_OBJECT

private slots:
    void init() { test::pinRussian(); }

    // The running window is hidden in the tray; the program started again
    // from the same folder shows it and ends with 0.
    void secondStartShowsTheRunningWindow()
    {
        QTemporaryDir folder, runtime;

        // This process is the running program: the lock, the window, the line.
        InstanceLock lock;
        QCOMPARE(lock.tryAcquire(folder.path() + QLatin1Char('/')), InstanceLock::Result::Acquired);
        TForm1 form(folder.path() + QLatin1Char('/'));
        form.showCentred();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.hide();
        InstanceChannel channel(form.directory());
        connect(&channel, &InstanceChannel::showRequested, &form, &TForm1::bringToFront);
        QVERIFY(channel.listen());

        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("BILMEKO_DATA_DIR"));
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(BILMEKO_EXE), {QStringLiteral("--data-dir"), folder.path()});
        QVERIFY(second.waitForStarted());
        // The second start waits for the answer, so this loop must run.
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 10000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(form.isVisible());
        QCOMPARE(QGuiApplication::focusWindow(), form.windowHandle());
    }

    // A socket file left behind by a crashed run is replaced; with nobody
    // listening, asking fails at once instead of hanging.
    void staleSocketIsReplaced()
    {
        QTemporaryDir folder;
        const QString name = InstanceChannel::socketNames(folder.path()).first();
        QCOMPARE(name, folder.filePath(QStringLiteral(".Bilmeko.sock")));
        QFile stale(name);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        QElapsedTimer t;
        t.start();
        QVERIFY(!InstanceChannel::askToShow(folder.path(), 5000));
        QVERIFY(t.elapsed() < 1000);

        InstanceChannel channel(folder.path());
        QSignalSpy shown(&channel, &InstanceChannel::showRequested);
        QVERIFY(channel.listen());
        QLocalSocket s;
        s.connectToServer(name);
        QVERIFY(s.waitForConnected(2000));
        s.write("show\n");
        QTRY_COMPARE(shown.count(), 1);
    }

    // Only the request itself shows the window; other bytes are dropped.
    void foreignBytesDoNothing()
    {
        QTemporaryDir folder;
        InstanceChannel channel(folder.path());
        QSignalSpy shown(&channel, &InstanceChannel::showRequested);
        QVERIFY(channel.listen());
        for (const QByteArray &bytes : {QByteArray("hello\n"), QByteArray(70000, 'x'), QByteArray("sho")}) {
            QLocalSocket s;
            s.connectToServer(InstanceChannel::socketNames(folder.path()).first());
            QVERIFY(s.waitForConnected(2000));
            s.write(bytes);
            s.waitForBytesWritten(2000);
            QTest::qWait(50);
        }
        QCOMPARE(shown.count(), 0);
        QLocalSocket s;
        s.connectToServer(InstanceChannel::socketNames(folder.path()).first());
        QVERIFY(s.waitForConnected(2000));
        s.write("show\n");
        QTRY_COMPARE(shown.count(), 1);
        QTRY_COMPARE(s.bytesAvailable(), qint64(6));
        QCOMPARE(s.readAll(), QByteArray("shown\n"));
    }

    // A folder whose path is too long for a socket uses a name made from it
    // in the runtime folder; different folders never share a name.
    void longFoldersGetANameOfTheirOwn()
    {
        const QString deep = QStringLiteral("/srv/") + QString(120, QLatin1Char('d'));
        const QStringList names = InstanceChannel::socketNames(deep);
        QCOMPARE(names.size(), 1);
        QVERIFY(!names[0].startsWith(deep));
        QVERIFY(QFile::encodeName(names[0]).size() < 108);
        QVERIFY(names != InstanceChannel::socketNames(deep + QStringLiteral("x")));
        QCOMPARE(InstanceChannel::socketNames(QStringLiteral("/srv/a")).size(), 2);
    }
};

QTEST_MAIN(TestInstanceChannel)
#include "test_instancechannel.moc"
