#include "journalsource.h"
#include "common/core/systemcalls.h"

#include "common/core/errors.h"
#include "logrecord.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace bilmeko {

namespace {

// About 256 KiB: a piece stays in the processor's cache while its records
// are taken.
constexpr qint64 PieceBytes = RecordSize * 1536;

} // namespace

PieceBuffer::PieceBuffer(qint64 size)
    // Rounded up to whole pages: the kernel copies into a page-aligned
    // buffer several times faster than into one a few bytes off.
    : m_data(static_cast<char *>(std::aligned_alloc(4096, static_cast<size_t>((size + 4095) / 4096 * 4096))))
{
    if (!m_data)
        throw std::bad_alloc();
}

PieceBuffer::~PieceBuffer()
{
    std::free(m_data);
}

qint64 MemorySource::readAt(qint64 offset, char *out, qint64 n) const
{
    if (offset < 0 || offset >= m_bytes.size())
        return 0;
    n = std::min<qint64>(n, m_bytes.size() - offset);
    std::memcpy(out, m_bytes.constData() + offset, static_cast<size_t>(n));
    return n;
}

QString notAJournalFileMessage(const QString &path)
{
    return QStringLiteral("«%1» не обычный файл (папка, канал или устройство), журналом он быть не может")
        .arg(QDir::toNativeSeparators(path));
}

std::unique_ptr<FileSource> FileSource::openForReading(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    int fd;
    // Without O_NONBLOCK opening a pipe waits for its writer.
    do
        fd = systemCalls().open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw IoError::fromErrno(errno);
    return std::make_unique<FileSource>(fd, path);
}

FileSource::FileSource(int fd, const QString &path) : m_fd(fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        throw IoError::fromErrno(err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Error(notAJournalFileMessage(path));
    }
    // A regular file reads the same with or without it.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK))
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_size = st.st_size;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

FileSource::~FileSource()
{
    ::close(m_fd);
}

qint64 FileSource::readAt(qint64 offset, char *out, qint64 n) const
{
    qint64 done = 0;
    while (done < n) {
        const ssize_t got
            = systemCalls().pread(m_fd, out + done, static_cast<size_t>(n - done), static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return done > 0 ? done : -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

qint64 FileSource::dataFrom(qint64 offset) const
{
    const off_t data = ::lseek(m_fd, static_cast<off_t>(offset), SEEK_DATA);
    if (data >= 0)
        return std::min<qint64>(data, m_size);
    // ENXIO: nothing but a hole up to the end. Any other error: no
    // knowledge of holes, so everything is read.
    return errno == ENXIO ? m_size : offset;
}

bool scanJournal(const JournalSource &source, bool skipHoles,
                 const std::function<void(const char *, qint64, qint64)> &take, const ReadProgress &progress,
                 qint64 from)
{
    const qint64 whole = source.size() / RecordSize * RecordSize;
    PieceBuffer piece(PieceBytes);
    qint64 at = std::max<qint64>(from, 0) / RecordSize * RecordSize;
    while (at < whole) {
        if (skipHoles) {
            // Only whole records of zeros are passed over.
            const qint64 data = std::min(source.dataFrom(at), whole);
            at += (data - at) / RecordSize * RecordSize;
            if (at >= whole)
                break;
        }
        const qint64 want = std::min<qint64>(whole - at, PieceBytes);
        const qint64 got = source.readAt(at, piece.data(), want);
        const qint64 records = std::max<qint64>(got, 0) / RecordSize;
        if (records > 0)
            take(piece.data(), records, at);
        if (got < want)
            return false; // a read that fails or finds the file shorter than it was
        at += got;
        if (progress)
            progress(at, whole);
    }
    return true;
}

} // namespace bilmeko
