#include "profilefile.h"

#include "common/core/atomicfile.h"
#include "common/core/errors.h"

#include <QDir>
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

private:
    int m_fd;
};

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
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        r.status = ReadStatus::Failed;
        return r;
    }
    if (st.st_size > maxBytes) {
        r.status = ReadStatus::TooLarge;
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
            r.status = ReadStatus::TooLarge;
            return r;
        }
        bytes.append(buf, n);
    }
    r.status = ReadStatus::Ok;
    r.bytes = std::move(bytes);
    return r;
}

QString ProfileFile::tooLargeMessage(const QString &path)
{
    return QStringLiteral("Файл «%1» больше %2 МиБ и не читается как файл настроек: цены из него не "
                          "загружены, и записать в него ничего нельзя. Файл оставлен как есть.")
        .arg(QDir::toNativeSeparators(path))
        .arg(MaxBytes / (1024 * 1024));
}

std::shared_ptr<const ProfileFile::Read> ProfileFile::read() const
{
    if (m_held)
        return m_held;
    ReadResult r = readBytes(m_path);
    profile::CodePageBytes b = profile::toCodePage(r.status == ReadStatus::Ok ? std::move(r.bytes) : QByteArray());
    return std::make_shared<const Read>(Read{r.status, b.fromUtf8, profile::ProfileText(std::move(b.bytes))});
}

void ProfileFile::holdText()
{
    m_held = nullptr;
    m_held = read();
}

void ProfileFile::releaseText()
{
    m_held = nullptr;
}

ProfileFile::ReadStatus ProfileFile::readStatus() const
{
    return m_held ? m_held->status : readBytes(m_path).status;
}

std::shared_ptr<const profile::ProfileText> ProfileFile::text(bool *fromUtf8) const
{
    std::shared_ptr<const Read> r = read();
    if (fromUtf8)
        *fromUtf8 = r->fromUtf8;
    const profile::ProfileText *text = &r->text;
    return std::shared_ptr<const profile::ProfileText>(std::move(r), text);
}

profile::ProfileText ProfileFile::loadForUpdate() const
{
    ReadResult r = readBytes(m_path);
    if (r.status == ReadStatus::TooLarge)
        throw Error(tooLargeMessage(m_path));
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
    m_held = nullptr;
    try {
        AtomicFile file(m_path);
        file.open().write(bytes);
        file.commit();
    } catch (const AtomicFileError &) {
        failWrite();
    }
}

QStringList ProfileFile::keys(const QString &section) const
{
    return read()->text.keys(section);
}

QString ProfileFile::readString(const QString &section, const QString &key) const
{
    return read()->text.value(section, key);
}

QList<profile::Entry> ProfileFile::readSection(const QString &section) const
{
    return read()->text.entries(section);
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
    if (r.status == ReadStatus::TooLarge)
        throw Error(tooLargeMessage(m_path));
    if (r.status == ReadStatus::Failed)
        failWrite();
    if (r.status == ReadStatus::Missing && entries.isEmpty())
        return; // an empty list needs no new file
    const profile::ProfileText text(profile::toCodePage(std::move(r.bytes)).bytes);
    commit(text.withSection(section, entries, keptLines ? keptLines(text) : QList<qsizetype>(), commentPrefix));
}

} // namespace bilmeko
