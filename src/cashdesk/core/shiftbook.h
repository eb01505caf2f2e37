#pragma once
// The desk's shifts and receipt numbers: the file "Bilmeko.shifts" beside
// the journal. Append-only, like the journal: a line is written whole with
// one write under an exclusive flock, flushed to the disk (the folder too
// when the file is new) before the call returns, and never rewritten.
//
// UTF-8 text, LF line ends, TAB between fields; the last field of every
// line is the CRC-32 (8 lowercase hex digits) of the bytes before it, its
// TAB included:
//
//   open<TAB><shift><TAB><utc ms><TAB><journal bytes><TAB><cash><TAB><operator><TAB><crc>
//   close<TAB><shift><TAB><utc ms><TAB><journal bytes><TAB><counted cash><TAB><crc>
//   receipt<TAB><number><TAB><record's time><TAB><session id, 16 hex><TAB><S or R><TAB><crc>
//
// shift and number count from 1, each its own sequence. journal bytes: the
// journal's length in whole records when the line was written, so a record
// belongs to the shift open when it was written: it lies between the
// shift's opening and its closing length, whatever the clock said. A
// journal record itself names no operator. cash: the shortest decimal that
// reads back exactly ('.' as the point). operator: percent-encoded UTF-8.
// A receipt line takes a number before its slip is printed: a number is
// never given twice, not even after a kill. It names the record the slip
// is for: its session and written time (the journal's date value in whole
// milliseconds), S for a session's receipt, R for the slip of its
// reversal; a session stopped again after an undone Stop has a record of
// its own, so a receipt of its own.
//
// Damage (a checksum that does not match, a line cut short by a crash, a
// line of another program) is reported with its line numbers and skipped;
// it is never fatal and reading leaves the file as it is. A line cut short
// at the end was never acknowledged: the next line written takes its place
// (as a journal record takes a fragment's). A longer tail without a line
// end is kept, and the next line starts on a line of its own.
//
// Memory: the shifts (a few a day) are kept; of the receipts only the
// latest ReceiptMemory, for reprinting today's.

#include <QHash>
#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace bilmeko {

struct Shift
{
    int number = 0;
    QString operatorName;
    double openingCash = 0;
    std::int64_t openedUtcMs = 0;
    qint64 journalFrom = 0; // the journal's length at the opening
    bool closed = false;
    std::int64_t closedUtcMs = 0;
    qint64 journalTo = 0; // and at the closing
    double countedCash = 0; // what the operator counted in the drawer
};

// The record a receipt is for.
struct ReceiptKey
{
    std::uint64_t sessionId = 0;
    qint64 writtenMs = 0; // roundToMs of the record's written value
    bool reversal = false;
    bool operator==(const ReceiptKey &) const = default;
    friend size_t qHash(const ReceiptKey &k, size_t seed = 0)
    {
        return qHashMulti(seed, k.sessionId, k.writtenMs, k.reversal);
    }
};

class ShiftBook
{
public:
    // Cash above this (a billion) is not a drawer's: refused, and damage in
    // a file.
    static constexpr double MaxCash = 1e9;
    static constexpr int ReceiptMemory = 20000;
    // The largest shift and receipt number a file holds.
    static constexpr int MaxNumber = 1'000'000'000;
    // A line longer than this is damage; a file longer, the rest unread.
    static constexpr int MaxLine = 4096;
    static constexpr qint64 MaxBytes = 256LL * 1024 * 1024;

    explicit ShiftBook(QString path = QString());
    QString path() const { return m_path; }

    // Reads the file (a missing one is no shift yet). Returns the message
    // for the operator, naming the file and the damaged lines; empty when
    // all is well. Reading again starts over.
    QString load();

    const QList<Shift> &shifts() const { return m_shifts; }
    // The shift open now, or nullptr.
    const Shift *openShift() const;
    // The shift that was open at that instant, or nullptr (for a receipt
    // printed again: its operator).
    const Shift *shiftAt(std::int64_t utcMs) const;

    // Appends the opening; throws Error (naming the file) when it cannot be
    // written, or when a shift is open already, and changes nothing then.
    Shift open(const QString &operatorName, double cash, qint64 journalLength);
    // Appends the closing of the open shift.
    Shift close(double countedCash, qint64 journalLength);

    // The number a record's receipt (or its reversal's slip) already has;
    // 0 when none.
    int receiptNumber(const ReceiptKey &key) const;
    // The next number, on the disk before it is returned; throws Error.
    int takeReceiptNumber(const ReceiptKey &key);
    int lastReceiptNumber() const { return m_lastReceipt; }

private:
    void append(const QByteArray &fields);

    QString m_path;
    QList<Shift> m_shifts;
    int m_lastReceipt = 0;
    void remember(int number, const ReceiptKey &key);

    QHash<ReceiptKey, int> m_receipts;
    // The oldest first, to forget beyond ReceiptMemory.
    QList<std::pair<ReceiptKey, int>> m_receiptOrder;
};

// The file's name, in the journal's folder.
inline constexpr char ShiftFileName[] = "Bilmeko.shifts";

// A sound line of the file (its checksum matches and its fields read, as
// ShiftBook::load takes them) and where it starts: what the central ledger
// is sent, byte for byte.
struct ShiftFileLine
{
    qint64 offset = 0;
    QByteArray text; // without its line end
};
struct ShiftFileLines
{
    QList<ShiftFileLine> lines;
    qint64 next = 0; // after the last line read
    qint64 damaged = 0; // lines read and left out
    bool atEnd = false; // no more whole line in the file
};
// The sound lines from `from` (where a line starts) on, at most maxLines.
// A line the file ends inside is not read: `next` stays before it, as the
// next line written takes its place. A missing file has no lines; one that
// cannot be read throws Error naming it. Memory: maxLines lines.
ShiftFileLines readShiftFileLines(const QString &path, qint64 from, int maxLines);

// The length of a journal in whole records (a fragment at its end is
// overwritten by the next record); 0 for a missing one. Throws IoError.
qint64 journalRecordsLength(const QString &journalPath);

// "1500.5": cash as the file keeps it.
QByteArray cashField(double cash);

} // namespace bilmeko
