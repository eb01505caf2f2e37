// One journal append with its flush to the disk, against the least any
// durable append costs: a 168-byte write and a flush on a descriptor kept
// open.

#include "bench.h"

#include "common/core/datetime.h"
#include "journal/core/journalfile.h"
#include "journal/core/logrecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/vfs.h>
#include <unistd.h>

using namespace bilmeko;
using namespace bilmeko::bench;

namespace {

constexpr int Appends = 1000;

QString fileSystemName(long type)
{
    switch (static_cast<unsigned long>(type)) {
    case 0xEF53: return QStringLiteral("ext2/3/4");
    case 0x58465342: return QStringLiteral("xfs");
    case 0x9123683E: return QStringLiteral("btrfs");
    case 0x794C7630: return QStringLiteral("overlay");
    case 0x01021994: return QStringLiteral("tmpfs");
    case 0x858458F6: return QStringLiteral("ramfs");
    default: return QStringLiteral("0x%1").arg(static_cast<unsigned long>(type), 0, 16);
    }
}

bool inMemory(long type)
{
    return static_cast<unsigned long>(type) == 0x01021994 || static_cast<unsigned long>(type) == 0x858458F6;
}

long fileSystemOf(const QString &dir)
{
    struct statfs fs
    {
    };
    if (::statfs(QFile::encodeName(dir).constData(), &fs) != 0)
        throw std::runtime_error("statfs failed");
    return static_cast<long>(fs.f_type);
}

// A flush to a file system in memory costs nothing and says nothing: the
// files then go beside the bench program.
QString diskFolder()
{
    QString dir = scratchDir();
    if (inMemory(fileSystemOf(dir))) {
        dir = QCoreApplication::applicationDirPath() + QStringLiteral("/bench-journal");
        QDir().mkpath(dir);
    }
    return dir;
}

LogRecord sampleRecord(int i)
{
    LogRecord r;
    r.written = dateTimeValue(QDate(2026, 12, 7), QTime(12, 0)) + i / 86400.0;
    r.pricePerMin = 12.5;
    r.elapsed = 45 * 60 / 86400.0;
    r.startTime = timeValue(QTime(11, 15));
    r.endTime = timeValue(QTime(12, 0));
    r.amount = 45 * 12.5;
    r.clientName = QStringLiteral("Иванова Мария Петровна");
    r.service = QStringLiteral("Массаж спины");
    r.note = QStringLiteral("абонемент");
    r.status = QStringLiteral("Время вышло");
    return r;
}

} // namespace

BILMEKO_BENCH(journal_append, "one journal append flushed to the disk, against a plain write and flush of 168 bytes")
{
    const QString dir = diskFolder();
    figure(QStringLiteral("folder"), QStringLiteral("%1 (%2)").arg(dir, fileSystemName(fileSystemOf(dir))));
    const QString journal = QDir(dir).filePath(QStringLiteral("Bilmeko.log"));
    const QString plainPath = QDir(dir).filePath(QStringLiteral("plain.log"));
    QFile::remove(journal);
    QFile::remove(plainPath);

    const int fd = ::open(QFile::encodeName(plainPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot open the plain file");
    RecordBytes bytes = serializeRecord(sampleRecord(0));
    ScrambleRecord(bytes);

    // The two take turns, so a busy moment of the disk falls on both.
    Samples append;
    Samples plain;
    for (int i = 0; i < Appends; ++i) {
        const LogRecord r = sampleRecord(i);
        append.add(once([&] { appendJournalRecord(journal, r); }));
        plain.add(once([&] {
            if (::pwrite(fd, bytes.data(), RecordSize, static_cast<off_t>(i) * RecordSize) != RecordSize
                || ::fsync(fd) != 0)
                throw std::runtime_error("plain write failed");
        }));
    }
    ::close(fd);
    if (QFileInfo(journal).size() != qint64(Appends) * RecordSize)
        throw std::runtime_error("the journal does not hold every record");

    figure(QStringLiteral("plain pwrite + fsync of 168 bytes"), plain);
    figure(QStringLiteral("journal append (open, write, fsync, close)"), append);
    figure(QStringLiteral("append / plain, medians"), append.wallMs(0.5) / plain.wallMs(0.5), QStringLiteral("x"), 2);
    figure(QStringLiteral("append / plain, 99th percentiles"), append.wallMs(0.99) / plain.wallMs(0.99),
           QStringLiteral("x"), 2);
    QFile::remove(journal);
    QFile::remove(plainPath);
}
