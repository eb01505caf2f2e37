#include "atomicfile.h"

#include "common/core/errors.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace bilmeko {

namespace {

QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

bool syncPath(const QString &path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

AtomicFile::AtomicFile(const QString &target)
    : m_target(QFileInfo(target).absoluteFilePath())
{
    const QFileInfo info(m_target);
    m_temp = info.dir().filePath(QStringLiteral(".%1.%2.tmp")
                                     .arg(info.fileName())
                                     .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
}

AtomicFile::~AtomicFile()
{
    if (!m_done) {
        m_file.close();
        QFile::remove(m_temp);
    }
}

QString AtomicFile::failure(const QString &reason) const
{
    return QStringLiteral("Отчет не сохранен в файл «%1»: %2").arg(QDir::toNativeSeparators(m_target), reason);
}

void AtomicFile::fail(const QString &reason)
{
    m_file.close();
    QFile::remove(m_temp);
    m_done = true;
    throw Error(failure(reason));
}

QFile &AtomicFile::open()
{
    m_file.setFileName(m_temp);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        const QString reason = m_file.errorString();
        m_done = true; // nothing of ours to remove
        throw Error(failure(reason));
    }
    return m_file;
}

void AtomicFile::commit()
{
    if (m_file.isOpen()) {
        if (!m_file.flush() || m_file.error() != QFileDevice::NoError)
            fail(m_file.errorString());
        if (::fsync(m_file.handle()) != 0)
            fail(systemReason(errno));
        m_file.close();
        if (m_file.error() != QFileDevice::NoError)
            fail(m_file.errorString());
    } else if (!syncPath(m_temp, O_RDONLY)) {
        fail(systemReason(errno));
    }
    if (::rename(QFile::encodeName(m_temp).constData(), QFile::encodeName(m_target).constData()) != 0)
        fail(systemReason(errno));
    m_done = true;
    // The rename is done; a folder that cannot be flushed loses nothing
    // that was there before.
    syncPath(QFileInfo(m_target).absolutePath(), O_RDONLY | O_DIRECTORY);
}

} // namespace bilmeko
