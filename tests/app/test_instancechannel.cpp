// A second start on the same data folder brings the running window to the
// front: two processes and a real local socket.

#include "app/core/singleinstance.h"
#include "app/ui/form1.h"
#include "app/ui/instancechannel.h"
#include "testsupport_ui.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#ifndef BILMEKO_EXE
#error "BILMEKO_EXE must name the program under test"
#endif

using namespace bilmeko;

namespace {

// A caller in this process: the listener's queue takes the connection at
// once, and nothing here blocks, so the channel's event loop keeps running.
class Client
{
public:
    explicit Client(const QString &name)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(name);
        std::memcpy(addr.sun_path, path.constData(), std::min<size_t>(path.size(), sizeof addr.sun_path - 1));
        m_connected = ::connect(m_fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
    }
    ~Client() { ::close(m_fd); }

    bool connected() const { return m_connected; }
    // As much as the socket takes now; the rest is dropped.
    void write(const QByteArray &bytes) { ::send(m_fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL); }
    // All received so far.
    QByteArray received()
    {
        char buf[64];
        ssize_t n;
        while ((n = ::recv(m_fd, buf, sizeof buf, 0)) > 0)
            m_got.append(buf, n);
        return m_got;
    }

private:
    int m_fd = -1;
    bool m_connected = false;
    QByteArray m_got;
};

} // namespace

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
        // Open to its owner alone.
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(name).constData(), &st), 0);
        QVERIFY(S_ISSOCK(st.st_mode));
        QCOMPARE(st.st_mode & 0777, 0600u);
        Client s(name);
        QVERIFY(s.connected());
        s.write("show\n");
        QTRY_COMPARE(shown.count(), 1);
    }

    // A folder whose path is too long for a socket listens under the name
    // in the runtime folder, and a second start finds it there. The socket
    // goes with the channel.
    void aLongFolderListensInTheRuntimeFolder()
    {
        QTemporaryDir base, runtime;
        const QString deep = base.filePath(QString(110, QLatin1Char('d')));
        QVERIFY(QDir().mkpath(deep));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        const QStringList names = InstanceChannel::socketNames(deep);
        QCOMPARE(names.size(), 1);
        QVERIFY(names[0].startsWith(runtime.path()));
        {
            InstanceChannel channel(deep);
            QSignalSpy shown(&channel, &InstanceChannel::showRequested);
            QVERIFY(channel.listen());
            QVERIFY(QFileInfo::exists(names[0]));
            Client s(names[0]);
            QVERIFY(s.connected());
            s.write("show\n");
            QTRY_COMPARE(shown.count(), 1);
            QTRY_COMPARE(s.received(), QByteArray("shown\n"));
        }
        QVERIFY(!QFileInfo::exists(names[0]));
        qunsetenv("XDG_RUNTIME_DIR");
    }

    // Only the request itself shows the window; other bytes are dropped.
    void foreignBytesDoNothing()
    {
        QTemporaryDir folder;
        InstanceChannel channel(folder.path());
        QSignalSpy shown(&channel, &InstanceChannel::showRequested);
        QVERIFY(channel.listen());
        for (const QByteArray &bytes : {QByteArray("hello\n"), QByteArray(70000, 'x'), QByteArray("sho")}) {
            Client s(InstanceChannel::socketNames(folder.path()).first());
            QVERIFY(s.connected());
            s.write(bytes);
            QTest::qWait(50);
        }
        QCOMPARE(shown.count(), 0);
        Client s(InstanceChannel::socketNames(folder.path()).first());
        QVERIFY(s.connected());
        s.write("show\n");
        QTRY_COMPARE(shown.count(), 1);
        QTRY_COMPARE(s.received(), QByteArray("shown\n"));
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
