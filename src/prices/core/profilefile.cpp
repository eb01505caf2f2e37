#include "profilefile.h"

#include "common/core/errors.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bilmeko {

namespace {

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // Closes and tells whether the close (a late write error) succeeded.
    bool close()
    {
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc == 0;
    }

private:
    int m_fd;
};

bool writeAll(int fd, const char *data, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, static_cast<size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        done += n;
    }
    return true;
}

mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// The file a write must replace: a symbolic link is followed, so the link
// stays a link.
QString writeTarget(const QString &path)
{
    const QFileInfo fi(path);
    if (!fi.isSymLink())
        return fi.absoluteFilePath();
    const QString canonical = fi.canonicalFilePath();
    return canonical.isEmpty() ? fi.symLinkTarget() : canonical;
}

} // namespace

ProfileFile::ProfileFile(QString path) : m_path(QFileInfo(path).absoluteFilePath())
{
}

ProfileFile::ReadResult ProfileFile::readBytes(const QString &path, qint64 maxBytes)
{
    ReadResult r;
    const QByteArray name = QFile::encodeName(path);
    Fd fd(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        r.status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
        return r;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxBytes) {
        r.status = ReadStatus::Failed;
        return r;
    }
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            r.status = ReadStatus::Failed;
            return r;
        }
        if (n == 0)
            break;
        if (bytes.size() + n > maxBytes) {
            r.status = ReadStatus::Failed;
            return r;
        }
        bytes.append(buf, n);
    }
    r.status = ReadStatus::Ok;
    r.bytes = std::move(bytes);
    return r;
}

bool ProfileFile::replaceFile(const QString &path, const QByteArray &bytes)
{
    const QString target = writeTarget(path);
    const QByteArray targetName = QFile::encodeName(target);

    struct stat st {};
    const bool exists = ::stat(targetName.constData(), &st) == 0;
    if (!exists && errno != ENOENT)
        return false;
    if (exists) {
        if (!S_ISREG(st.st_mode))
            return false;
        // A read-only file stays read-only: renaming over it would not ask.
        Fd probe(::open(targetName.constData(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
        if (probe.get() < 0)
            return false;
    }

    const QFileInfo fi(target);
    QByteArray tmp = QFile::encodeName(fi.absolutePath() + QLatin1String("/.") + fi.fileName()
                                       + QLatin1String(".XXXXXX"));
    Fd fd(::mkostemp(tmp.data(), O_CLOEXEC));
    if (fd.get() < 0)
        return false;

    bool ok = writeAll(fd.get(), bytes.constData(), bytes.size());
    if (ok) {
        ok = ::fchmod(fd.get(), exists ? (st.st_mode & 07777) : newFileMode()) == 0;
        if (ok && exists && ::geteuid() == 0 && (st.st_uid != 0 || st.st_gid != 0)) {
            if (::fchown(fd.get(), st.st_uid, st.st_gid) != 0) { /* keeps root's ownership */ }
        }
    }
    ok = ok && ::fsync(fd.get()) == 0;
    ok = fd.close() && ok;
    ok = ok && ::rename(tmp.constData(), targetName.constData()) == 0;
    if (!ok) {
        ::unlink(tmp.constData());
        return false;
    }
    // The rename itself on the disk; a failure here no longer loses data.
    Fd dir(::open(QFile::encodeName(fi.absolutePath()).constData(),
                  O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return true;
}

profile::ProfileText ProfileFile::load() const
{
    return text();
}

profile::ProfileText ProfileFile::text(bool *fromUtf8) const
{
    ReadResult r = readBytes(m_path);
    profile::CodePageBytes b = profile::toCodePage(r.status == ReadStatus::Ok ? std::move(r.bytes) : QByteArray());
    if (fromUtf8)
        *fromUtf8 = b.fromUtf8;
    return profile::ProfileText(std::move(b.bytes));
}

profile::ProfileText ProfileFile::loadForUpdate() const
{
    ReadResult r = readBytes(m_path);
    if (r.status == ReadStatus::Failed)
        failWrite();
    return profile::ProfileText(profile::toCodePage(std::move(r.bytes)).bytes);
}

void ProfileFile::failWrite() const
{
    throw Error(QStringLiteral("Unable to write to ") + m_path);
}

void ProfileFile::commit(const QByteArray &bytes) const
{
    if (!replaceFile(m_path, bytes))
        failWrite();
}

QStringList ProfileFile::keys(const QString &section) const
{
    return load().keys(section);
}

QString ProfileFile::readString(const QString &section, const QString &key) const
{
    return load().value(section, key);
}

QList<profile::Entry> ProfileFile::readSection(const QString &section) const
{
    return load().entries(section);
}

void ProfileFile::writeString(const QString &section, const QString &key, const QString &value) const
{
    commit(loadForUpdate().withValue(section, key, value));
}

void ProfileFile::eraseSection(const QString &section) const
{
    const profile::ProfileText text = loadForUpdate();
    if (!text.hasSection(section))
        return; // nothing to erase, and a missing file stays missing
    commit(text.withoutSection(section));
}

void ProfileFile::replaceSection(const QString &section, const QList<profile::Entry> &entries,
                                 const LinePicker &keptLines, const QByteArray &commentPrefix) const
{
    ReadResult r = readBytes(m_path);
    if (r.status == ReadStatus::Failed)
        failWrite();
    if (r.status == ReadStatus::Missing && entries.isEmpty())
        return; // an empty list needs no new file
    const profile::ProfileText text(profile::toCodePage(std::move(r.bytes)).bytes);
    commit(text.withSection(section, entries, keptLines ? keptLines(text) : QList<qsizetype>(),
                            commentPrefix));
}

} // namespace bilmeko
