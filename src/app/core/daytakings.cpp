#include "daytakings.h"

#include "common/core/errors.h"
#include "common/core/formats.h"
#include "sessionboard.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace bilmeko {

namespace {

// Reads the whole of [offset, offset + size) or throws.
void readAt(int fd, char *to, size_t size, off_t offset)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, to + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw IoError::fromErrno(errno);
        if (n == 0)
            throw IoError(IoError::ReadBeyondEnd);
        done += static_cast<size_t>(n);
    }
}

} // namespace

void DayTakings::load(const QString &journalPath, const QDate &day)
{
    m_day = day;
    m_first = dateValue(day);
    m_sessions = 0;
    m_amount = 0;
    m_byMethod = {};
    m_read = 0;
    m_lastFinished.reset();
    const int fd = ::open(QFile::encodeName(journalPath).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return;
        throw IoError::fromErrno(errno);
    }
    struct FdCloser
    {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw IoError::fromErrno(errno);
    if (!S_ISREG(st.st_mode))
        return; // the journal's own readers say what is wrong with it

    static constexpr qint64 ChunkRecords = 256;
    std::vector<char> buffer(ChunkRecords * RecordSize);
    qint64 next = st.st_size / RecordSize; // records before this one are still to read
    int older = 0;
    // Sessions whose Stop a later reversal took back: they run again.
    std::vector<std::uint64_t> takenBack;
    int sessions = 0;
    double amount = 0;
    while (next > 0 && older < OrderSlack) {
        const qint64 count = std::min(next, ChunkRecords);
        next -= count;
        readAt(fd, buffer.data(), static_cast<size_t>(count * RecordSize), static_cast<off_t>(next * RecordSize));
        m_read += count;
        for (qint64 k = count - 1; k >= 0 && older < OrderSlack; --k) {
            const char *rec = buffer.data() + k * RecordSize;
            if (!m_lastFinished)
                lookForLastFinished(rec, takenBack);
            const double written = readDouble(rec, record::Written);
            if (written < m_first) {
                ++older;
                continue;
            }
            if (!holds(written))
                continue; // ahead of the day: a clock set back
            older = 0;
            const double a = readDouble(rec, record::Amount);
            // A damaged record is left out, as the report leaves it out.
            if (recordSeal(rec) == RecordSeal::Bad || !std::isfinite(a) || std::fabs(a) > 1e15)
                continue;
            sessions += isReversalRecord(rec) ? -1 : 1;
            amount += a;
            m_byMethod[static_cast<size_t>(storedPayment(rec))] += a;
        }
    }
    m_sessions = sessions;
    m_amount = amount;
}

void DayTakings::lookForLastFinished(const char *rec, std::vector<std::uint64_t> &takenBack)
{
    if (recordSeal(rec) == RecordSeal::Bad)
        return;
    const std::uint64_t id = storedSessionId(rec);
    if (isReversalRecord(rec)) {
        if (id != 0)
            takenBack.push_back(id);
        return;
    }
    if (id != 0) {
        const auto it = std::find(takenBack.begin(), takenBack.end(), id);
        if (it != takenBack.end()) {
            takenBack.erase(it);
            return;
        }
    }
    RecordBytes plain;
    std::memcpy(plain.data(), rec, RecordSize);
    ScrambleRecord(plain);
    m_lastFinished = finishedFromRecord(deserializeRecord(plain.data()));
}

void DayTakings::add(const LogRecord &record)
{
    if (!holds(record.written) || !std::isfinite(record.amount))
        return;
    m_sessions += record.reversal ? -1 : 1;
    m_amount += record.amount;
    m_byMethod[static_cast<size_t>(record.payment) & 3] += record.amount;
}

RunningFigures runningFigures(const SessionBoard &board)
{
    RunningFigures f;
    const MemTable &log = board.curLog();
    const int price = log.fieldIndex(curlog::Price);
    for (int r = 0; r < log.rowCount(); ++r) {
        const MemTable::RowId id = log.rowId(r);
        const RunningSession *s = board.session(id);
        if (!s)
            continue;
        ++f.sessions;
        f.owed += s->charge(std::min(board.elapsedMs(id), s->bookedMs), log.value(r, price).toDouble()).amount;
    }
    return f;
}

QString sessionsWord(int n)
{
    const int m = std::abs(n) % 100;
    if (m >= 11 && m <= 14)
        return QStringLiteral("сеансов");
    switch (m % 10) {
    case 1:
        return QStringLiteral("сеанс");
    case 2:
    case 3:
    case 4:
        return QStringLiteral("сеанса");
    default:
        return QStringLiteral("сеансов");
    }
}

QString takingsText(const DayTakings &day, const RunningFigures &running)
{
    const Formats &f = Formats::current();
    // Split by method once a method is known; a journal of old records
    // alone keeps the short text.
    QStringList methods;
    if (day.amount(Payment::Cash) != 0 || day.amount(Payment::Card) != 0 || day.amount(Payment::Transfer) != 0)
        for (Payment p : {Payment::Cash, Payment::Card, Payment::Transfer, Payment::Unknown})
            if (p == Payment::Cash || p == Payment::Card || day.amount(p) != 0)
                methods << paymentShortText(p) + QLatin1Char(' ') + f.currency2(day.amount(p));
    const QString split = methods.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(methods.join(QStringLiteral(", ")));
    return QStringLiteral("Сегодня: %1 %2, %3%4 · идут: %5, %6")
        .arg(day.sessions())
        .arg(sessionsWord(day.sessions()), f.currency2(day.amount()), split)
        .arg(running.sessions)
        .arg(f.currency2(running.owed));
}

} // namespace bilmeko
