#include "instancechannel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <unistd.h>

namespace bilmeko {

namespace {

const QByteArray Request = QByteArrayLiteral("show\n");
const QByteArray Answer = QByteArrayLiteral("shown\n");
// A socket path must fit sockaddr_un (108 bytes with its end).
constexpr int MaxSocketPath = 100;

} // namespace

InstanceChannel::InstanceChannel(const QString &dataDir, QObject *parent)
    : QObject(parent), m_names(socketNames(dataDir))
{
}

InstanceChannel::~InstanceChannel() = default;

QStringList InstanceChannel::socketNames(const QString &dataDir)
{
    const QString folder = QFileInfo(dataDir).absoluteFilePath();
    QStringList names;
    const QString beside = QDir(folder).filePath(QStringLiteral(".Bilmeko.sock"));
    if (QFile::encodeName(beside).size() <= MaxSocketPath)
        names << beside;
    // A folder with a long path, or on a file system without sockets.
    // Read directly: the standard paths would warn on standard error when
    // the variable is not set, and a second start says nothing.
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QFileInfo(runtime).isDir())
        runtime = QDir::tempPath();
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(QDir::cleanPath(folder)), QCryptographicHash::Sha1).toHex().left(16);
    names << QDir(runtime).filePath(QStringLiteral("bilmeko-%1-%2.sock").arg(::getuid()).arg(QLatin1String(hash)));
    return names;
}

bool InstanceChannel::listen()
{
    for (const QString &name : std::as_const(m_names)) {
        auto *server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::UserAccessOption);
        QLocalServer::removeServer(name);
        if (server->listen(name)) {
            m_server = server;
            connect(server, &QLocalServer::newConnection, this, &InstanceChannel::accept);
            return true;
        }
        delete server;
    }
    return false;
}

bool InstanceChannel::listening() const
{
    return m_server && m_server->isListening();
}

void InstanceChannel::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A caller that says nothing is dropped after a while.
        QTimer::singleShot(5000, socket, [socket] { socket->abort(); socket->deleteLater(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QByteArray got = socket->property("got").toByteArray();
            got += socket->read(Request.size() - got.size());
            socket->setProperty("got", got);
            if (!Request.startsWith(got)) {
                socket->abort();
                return;
            }
            if (got != Request)
                return;
            emit showRequested();
            socket->write(Answer);
            socket->disconnectFromServer();
        });
    }
}

bool InstanceChannel::askToShow(const QString &dataDir, int timeoutMs)
{
    for (const QString &name : socketNames(dataDir)) {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (!socket.waitForConnected(timeoutMs))
            continue;
        socket.write(Request);
        if (!socket.waitForBytesWritten(timeoutMs))
            continue;
        QByteArray reply;
        while (reply.size() < Answer.size() && socket.waitForReadyRead(timeoutMs))
            reply += socket.read(Answer.size() - reply.size());
        if (reply == Answer)
            return true;
    }
    return false;
}

} // namespace bilmeko
