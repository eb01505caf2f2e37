#include "testsupport.h"

#include "common/core/formats.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace bilmeko::test {

void pinRussian()
{
    Formats::setCurrent(Formats::russian());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

SystemCalls closeFailingFor(const QString &fileName)
{
    SystemCalls c;
    c.close = [fileName](int fd) {
        const bool hit
            = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd))).fileName() == fileName;
        const int rc = ::close(fd);
        if (!hit)
            return rc;
        errno = EIO;
        return -1;
    };
    return c;
}

ErrorRecorder::ErrorRecorder()
{
    m_previous = setErrorSink([this](const QString &t) { messages << t; });
}

ErrorRecorder::~ErrorRecorder()
{
    setErrorSink(m_previous);
}

AsUnprivileged::AsUnprivileged()
{
    if (::geteuid() == 0) {
        if (::setegid(65534) == 0 && ::seteuid(65534) == 0)
            m_dropped = true;
    }
}

AsUnprivileged::~AsUnprivileged()
{
    if (m_dropped) {
        if (::seteuid(0) != 0 || ::setegid(0) != 0)
            qFatal("cannot regain root after AsUnprivileged");
    }
}

bool SilentPrintServer::listen(const QString &path)
{
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const QByteArray name = path.toLocal8Bit();
    if (m_fd < 0 || name.size() >= qsizetype(sizeof a.sun_path))
        return false;
    std::memcpy(a.sun_path, name.constData(), name.size());
    return ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && ::listen(m_fd, 64) == 0;
}

SilentPrintServer::~SilentPrintServer()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace bilmeko::test
