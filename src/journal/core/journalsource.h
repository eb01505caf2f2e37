#pragma once
// Where a report's journal bytes come from: an open journal file, read from
// its start in large pieces (holes of a sparse file skipped where the caller
// allows it), or bytes already in memory. Both can read a piece again later,
// which the window does for the lines it shows.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

namespace bilmeko {

class JournalSource
{
public:
    virtual ~JournalSource() = default;
    // The length the journal had when it was opened; nothing beyond is read.
    virtual qint64 size() const = 0;
    // Up to n bytes at an offset; the count read, -1 on a failure.
    virtual qint64 readAt(qint64 offset, char *out, qint64 n) const = 0;
    // Where the data after `offset` starts when a hole (bytes never written,
    // reading as zeros) lies there; `offset` when none does.
    virtual qint64 dataFrom(qint64 offset) const { return offset; }
};

class MemorySource : public JournalSource
{
public:
    explicit MemorySource(const QByteArray &bytes) : m_bytes(bytes) {}
    qint64 size() const override { return m_bytes.size(); }
    qint64 readAt(qint64 offset, char *out, qint64 n) const override;

private:
    QByteArray m_bytes;
};

class FileSource : public JournalSource
{
public:
    // Opens a journal for reading only. Anything but a regular file (a
    // pipe, a device, a folder) is refused at once, without waiting for a
    // writer: Error with a message naming the file. IoError when it cannot
    // be opened.
    static std::unique_ptr<FileSource> openForReading(const QString &path);
    // Takes an open descriptor (closed with the source); refuses it as
    // openForReading does when it is not a regular file.
    FileSource(int fd, const QString &path);
    ~FileSource() override;
    FileSource(const FileSource &) = delete;
    FileSource &operator=(const FileSource &) = delete;

    qint64 size() const override { return m_size; }
    qint64 readAt(qint64 offset, char *out, qint64 n) const override;
    qint64 dataFrom(qint64 offset) const override;

private:
    int m_fd;
    qint64 m_size = 0;
};

// A buffer for pieces of a journal, aligned to a page.
class PieceBuffer
{
public:
    explicit PieceBuffer(qint64 size);
    ~PieceBuffer();
    PieceBuffer(const PieceBuffer &) = delete;
    PieceBuffer &operator=(const PieceBuffer &) = delete;
    char *data() const { return m_data; }

private:
    char *m_data;
};

// The message for a journal that is not a regular file.
QString notAJournalFileMessage(const QString &path);

// What the reading reports as it goes: bytes done of the whole.
using ReadProgress = std::function<void(qint64 done, qint64 total)>;

// Reads a journal's whole records from its start (or the record at
// `from`, a multiple of the record size) to its length, a piece at a time,
// giving each piece to `take` (count records from `offset`). With
// `skipHoles` the whole records inside holes are not read (they would be
// all zeros). False when a read failed or the file came out shorter than
// it was: the records before that were taken. A fragment shorter than a
// record at the end is not read; the caller tells it from the length.
bool scanJournal(const JournalSource &source, bool skipHoles,
                 const std::function<void(const char *records, qint64 count, qint64 offset)> &take,
                 const ReadProgress &progress = {}, qint64 from = 0);

} // namespace bilmeko
