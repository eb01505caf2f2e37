// Arbitrary bytes as the shift file: the start reads what it can and
// reports the rest, never crashes; a line the desk appends afterwards
// always reads back, and the damage found stays the same but for a line
// cut short at the end, which the new line replaces. What the ledger is
// sent is each sound line where it lies, the same read at once or a few
// at a time from where the last read ended.

#include "cashdesk/core/shiftbook.h"
#include "common/core/clock.h"
#include "common/core/errors.h"

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

using namespace bilmeko;

namespace {

QString workDir()
{
    static const QString dir = [] {
        const QString d = QDir::tempPath() + QStringLiteral("/bilmeko-fuzz-shifts-%1").arg(::getpid());
        QDir().mkpath(d);
        return d;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FixedClock clock(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
    ScopedClock scoped(&clock);
    const QString path = workDir() + QStringLiteral("/Bilmeko.shifts");
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size)) != qint64(size))
            std::abort();
    }
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const ShiftFileLines all = readShiftFileLines(path, 0, 1 << 30);
    qint64 at = 0;
    qsizetype k = 0;
    for (ShiftFileLines part; !part.atEnd; at = part.next) {
        part = readShiftFileLines(path, at, 3);
        for (const ShiftFileLine &l : part.lines)
            if (k >= all.lines.size() || all.lines[k].offset != l.offset || all.lines[k++].text != l.text)
                std::abort();
    }
    if (k != all.lines.size() || at != all.next)
        std::abort();
    for (const ShiftFileLine &l : all.lines)
        if (bytes.sliced(l.offset).first(l.text.size() + 1) != QByteArray(l.text + '\n'))
            std::abort();

    ShiftBook book(path);
    const QString first = book.load();
    const int last = book.lastReceiptNumber();
    const qsizetype shifts = book.shifts().size();
    const bool wasOpen = book.openShift() != nullptr;

    // The desk goes on: its line lands on a line of its own and reads back.
    int number = 0;
    try {
        number = book.takeReceiptNumber({42, 1000, false});
    } catch (const Error &) {
        // Only a file at the last number refuses another (the fuzzer's
        // folder is always writable).
        if (last < ShiftBook::MaxNumber)
            std::abort();
        return 0;
    }
    if (number != last + 1)
        std::abort();
    ShiftBook again(path);
    const QString second = again.load();
    // A line cut short at the end is overwritten by the new one: its damage
    // goes with it.
    const bool cutShort = size > 0 && data[size - 1] != '\n';
    if ((second != first && !cutShort) || again.lastReceiptNumber() != number
        || again.receiptNumber({42, 1000, false}) != number || again.shifts().size() != shifts
        || (again.openShift() != nullptr) != wasOpen)
        std::abort();
    QFile::remove(path);
    return 0;
}
