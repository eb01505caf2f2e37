#include "instancechannel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace bilmeko {

namespace {

const QByteArray Request = QByteArrayLiteral("show\n");
const QByteArray Answer = QByteArrayLiteral("shown\n");
// A socket path must fit sockaddr_un (108 bytes with its end).
constexpr int MaxSocketPath = 100;
// A caller that says nothing is dropped after this long.
constexpr int CallerTimeoutMs = 5000;

bool socketAddress(const QString &name, sockaddr_un &addr)
{
    const QByteArray path = QFile::encodeName(name);
    if (path.isEmpty() || path.size() >= static_cast<qsizetype>(sizeof addr.sun_path))
        return false;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
    return true;
}

void closeFd(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for the events on fd until the deadline; false on timeout or error.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, msLeft(deadline));
        if (rc > 0)
            return true;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

// One connection to the running program: the request, then its answer.
bool askOnce(const QString &name, int timeoutMs)
{
    sockaddr_un addr;
    if (!socketAddress(name, addr))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool ok = false;
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0) {
            ok = true;
            break;
        }
        // A full queue of the listener: try again shortly. Anything else
        // (no file, nobody listening) fails at once.
        if ((errno != EAGAIN && errno != EINTR) || msLeft(deadline) == 0)
            break;
        ::poll(nullptr, 0, std::min(20, msLeft(deadline)));
    }
    qsizetype sent = 0;
    while (ok && sent < Request.size()) {
        const ssize_t n
            = ::send(fd, Request.constData() + sent, static_cast<size_t>(Request.size() - sent), MSG_NOSIGNAL);
        if (n > 0)
            sent += n;
        else if (n < 0 && (errno == EAGAIN || errno == EINTR))
            ok = waitFor(fd, POLLOUT, deadline);
        else
            ok = false;
    }
    QByteArray reply;
    while (ok && reply.size() < Answer.size()) {
        char buf[16];
        const ssize_t n = ::recv(fd, buf, static_cast<size_t>(Answer.size() - reply.size()), 0);
        if (n > 0)
            reply.append(buf, n);
        else if (n < 0 && (errno == EAGAIN || errno == EINTR))
            ok = waitFor(fd, POLLIN, deadline);
        else
            ok = false;
    }
    closeFd(fd);
    return ok && reply == Answer;
}

// A caller of the running program: reads the request, answers it once.
class Caller : public QObject
{
public:
    Caller(int fd, QObject *parent, std::function<void()> onRequest)
        : QObject(parent), m_fd(fd), m_onRequest(std::move(onRequest))
    {
        m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { read(); });
        QTimer::singleShot(CallerTimeoutMs, this, [this] { finish(); });
    }
    ~Caller() override { closeFd(m_fd); }

private:
    void read()
    {
        char buf[16];
        const ssize_t n = ::recv(m_fd, buf, static_cast<size_t>(Request.size() - m_got.size()), 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0) {
            finish();
            return;
        }
        m_got.append(buf, n);
        if (!Request.startsWith(m_got)) {
            finish();
            return;
        }
        if (m_got != Request)
            return;
        m_onRequest();
        ::send(m_fd, Answer.constData(), static_cast<size_t>(Answer.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        finish();
    }

    void finish()
    {
        m_notifier->setEnabled(false);
        closeFd(std::exchange(m_fd, -1));
        deleteLater();
    }

    int m_fd;
    std::function<void()> m_onRequest;
    QSocketNotifier *m_notifier;
    QByteArray m_got;
};

} // namespace

InstanceChannel::InstanceChannel(const QString &dataDir, QObject *parent)
    : QObject(parent), m_names(socketNames(dataDir))
{
}

InstanceChannel::~InstanceChannel()
{
    if (m_fd >= 0) {
        delete m_notifier;
        ::close(m_fd);
        ::unlink(QFile::encodeName(m_path).constData());
    }
}

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
    const QByteArray hash
        = QCryptographicHash::hash(QFile::encodeName(QDir::cleanPath(folder)), QCryptographicHash::Sha1)
              .toHex()
              .left(16);
    names << QDir(runtime).filePath(QStringLiteral("bilmeko-%1-%2.sock").arg(::getuid()).arg(QLatin1String(hash)));
    return names;
}

bool InstanceChannel::listen()
{
    if (m_fd >= 0)
        return true;
    for (const QString &name : std::as_const(m_names)) {
        sockaddr_un addr;
        if (!socketAddress(name, addr))
            continue;
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        // The socket file takes this mode (less the umask) when it is made,
        // so nobody else can connect even for a moment.
        ::fchmod(fd, S_IRUSR | S_IWUSR);
        // Only the holder of the instance lock gets here: whatever has the
        // name is left from an earlier run.
        struct stat st;
        if (::lstat(addr.sun_path, &st) == 0 && !S_ISDIR(st.st_mode))
            ::unlink(addr.sun_path);
        if (::bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0) {
            ::chmod(addr.sun_path, S_IRUSR | S_IWUSR);
            if (::listen(fd, 8) == 0) {
                m_fd = fd;
                m_path = name;
                m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
                connect(m_notifier, &QSocketNotifier::activated, this, &InstanceChannel::accept);
                return true;
            }
            ::unlink(addr.sun_path);
        }
        ::close(fd);
    }
    return false;
}

bool InstanceChannel::listening() const
{
    return m_fd >= 0;
}

void InstanceChannel::accept()
{
    for (;;) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        new Caller(fd, this, [this] { emit showRequested(); });
    }
}

bool InstanceChannel::askToShow(const QString &dataDir, int timeoutMs)
{
    for (const QString &name : socketNames(dataDir))
        if (askOnce(name, timeoutMs))
            return true;
    return false;
}

} // namespace bilmeko
