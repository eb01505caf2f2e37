#include "shiftbook.h"

#include "common/core/clock.h"
#include "common/core/errors.h"
#include "common/core/systemcalls.h"
#include "journal/core/logrecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <array>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace bilmeko {

namespace {

QByteArray crcField(const QByteArray &before)
{
    return QByteArray::number(crc32(before.constData(), static_cast<std::size_t>(before.size())), 16)
        .rightJustified(8, '0');
}

bool readWhole(QByteArrayView s, qint64 max, qint64 &out)
{
    if (s.isEmpty() || s.size() > 18)
        return false;
    out = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        out = out * 10 + (c - '0');
    }
    return out <= max;
}

bool readCash(QByteArrayView s, double &out)
{
    if (s.isEmpty() || s.size() > 40)
        return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == '+' || c == '-'))
            return false;
    bool ok = false;
    out = s.toByteArray().toDouble(&ok);
    return ok && std::isfinite(out) && out >= 0 && out <= ShiftBook::MaxCash;
}

// Lowercase hex digits, `digits` of them.
bool readHex(QByteArrayView s, qsizetype digits, std::uint64_t &out)
{
    if (s.size() != digits)
        return false;
    out = 0;
    for (char c : s) {
        if (c >= '0' && c <= '9')
            out = (out << 4) | std::uint64_t(c - '0');
        else if (c >= 'a' && c <= 'f')
            out = (out << 4) | std::uint64_t(c - 'a' + 10);
        else
            return false;
    }
    return true;
}

int flushFolder(const QString &file)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(file).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int rc = systemCalls().fsync(fd);
    const int err = rc != 0 ? errno : 0;
    ::close(fd);
    return err;
}

QString lineList(const QList<int> &lines, qint64 count)
{
    QStringList out;
    for (int line : lines)
        out << QString::number(line);
    if (count > lines.size())
        out << QStringLiteral("…");
    return out.join(QStringLiteral(", "));
}

// The lines of the file from an offset, one at a time, each at most
// MaxLine long: a longer one, and a last one cut short, are not whole.
class LineReader
{
public:
    LineReader(QFile &file, qint64 from) : m_file(file), m_pos(from), m_buffer(ShiftBook::MaxLine + 2)
    {
        m_ok = m_file.seek(from);
    }
    bool next()
    {
        if (!m_ok || m_file.atEnd())
            return false;
        m_offset = m_pos;
        const qint64 cap = qint64(m_buffer.size()) - 1;
        qint64 n = m_file.readLine(m_buffer.data(), cap + 1);
        if (n <= 0)
            return false;
        m_pos += n;
        m_whole = m_buffer[size_t(n) - 1] == '\n';
        m_length = m_whole ? n - 1 : n;
        // Longer than any line of ours: skipped up to its end.
        m_ended = m_whole;
        for (qint64 more = n; !m_ended && more == cap;) {
            more = m_file.readLine(m_buffer.data(), cap + 1);
            if (more <= 0)
                break;
            m_pos += more;
            m_ended = m_buffer[size_t(more) - 1] == '\n';
        }
        return true;
    }
    qint64 offset() const { return m_offset; }
    // After the line and its end.
    qint64 end() const { return m_pos; }
    // Ended by a line end and not too long: line() is then the line without its end.
    bool whole() const { return m_whole; }
    // Ended by a line end at all (false: the file ends inside it).
    bool ended() const { return m_ended; }
    QByteArrayView line() const { return QByteArrayView(m_buffer.data(), m_length); }

private:
    QFile &m_file;
    qint64 m_pos = 0;
    qint64 m_offset = 0;
    qint64 m_length = 0;
    bool m_ok = false;
    bool m_whole = false;
    bool m_ended = false;
    std::vector<char> m_buffer;
};

// A line (without its end) whose checksum matches, read field by field;
// nothing for damage or a line of another program.
struct ShiftLineFields
{
    enum Kind { Open, Close, Receipt } kind = Open;
    int number = 0;
    qint64 utcMs = 0;
    qint64 journalLength = 0;
    double cash = 0;
    QString operatorName;
    ReceiptKey receipt;
};

std::optional<ShiftLineFields> readShiftLine(QByteArrayView line)
{
    const qsizetype lastTab = line.lastIndexOf('\t');
    std::uint64_t stored = 0;
    if (lastTab < 0 || !readHex(line.sliced(lastTab + 1), 8, stored)
        || stored != crc32(line.data(), static_cast<std::size_t>(lastTab + 1)))
        return std::nullopt;
    // At most six fields before the checksum; a seventh marks a foreign line.
    std::array<QByteArrayView, 7> f;
    qsizetype fields = 0;
    for (qsizetype from = 0; from <= lastTab && fields < qsizetype(f.size());) {
        const qsizetype tab = line.indexOf('\t', from);
        f[size_t(fields++)] = line.sliced(from, tab - from);
        from = tab + 1;
    }
    qint64 number = 0;
    ShiftLineFields out;
    if (fields < 4 || fields >= 7 || !readWhole(f[1], ShiftBook::MaxNumber, number) || number <= 0
        || !readWhole(f[2], 253'402'300'799'999LL, out.utcMs))
        return std::nullopt;
    out.number = static_cast<int>(number);
    if (f[0] == "open" && fields == 6 && readWhole(f[3], Q_INT64_C(1) << 60, out.journalLength)) {
        out.kind = ShiftLineFields::Open;
        const QByteArray name = QByteArray::fromPercentEncoding(f[5].toByteArray());
        out.operatorName = QString::fromUtf8(name);
        if (readCash(f[4], out.cash) && out.operatorName.toUtf8() == name)
            return out;
    } else if (f[0] == "close" && fields == 5 && readWhole(f[3], Q_INT64_C(1) << 60, out.journalLength)) {
        out.kind = ShiftLineFields::Close;
        if (readCash(f[4], out.cash))
            return out;
    } else if (f[0] == "receipt" && fields == 5 && (f[4] == "S" || f[4] == "R")) {
        out.kind = ShiftLineFields::Receipt;
        if (readHex(f[3], 16, out.receipt.sessionId)) {
            out.receipt.writtenMs = out.utcMs;
            out.receipt.reversal = f[4] == "R";
            return out;
        }
    }
    return std::nullopt;
}

} // namespace

QByteArray cashField(double cash)
{
    return QByteArray::number(cash, 'g', QLocale::FloatingPointShortest);
}

qint64 journalRecordsLength(const QString &journalPath)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(journalPath).constData(), &st) != 0) {
        if (errno == ENOENT)
            return 0;
        throw IoError::fromErrno(errno);
    }
    return (static_cast<qint64>(st.st_size) / RecordSize) * RecordSize;
}

ShiftBook::ShiftBook(QString path) : m_path(std::move(path))
{
}

const Shift *ShiftBook::openShift() const
{
    return !m_shifts.isEmpty() && !m_shifts.last().closed ? &m_shifts.last() : nullptr;
}

const Shift *ShiftBook::shiftAt(std::int64_t utcMs) const
{
    for (auto it = m_shifts.crbegin(); it != m_shifts.crend(); ++it)
        if (it->openedUtcMs <= utcMs && (!it->closed || utcMs < it->closedUtcMs))
            return &*it;
    return nullptr;
}

QString ShiftBook::load()
{
    m_shifts.clear();
    m_lastReceipt = 0;
    m_receipts.clear();
    m_receiptOrder.clear();
    QFile file(m_path);
    if (!file.exists())
        return QString();
    if (!QFileInfo(m_path).isFile() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("Файл смен \"%1\" не прочитан: %2. Смены не видны, пока он не будет исправлен.")
            .arg(QDir::toNativeSeparators(m_path), file.errorString());

    // The first damaged lines by number, all of them counted: a file of
    // garbage costs no more memory than a sound one.
    QList<int> damaged;
    qint64 damagedCount = 0;
    const auto damage = [&](int lineNo) {
        if (damaged.size() < 10)
            damaged << lineNo;
        ++damagedCount;
    };
    bool tooLarge = false;
    int lineNo = 0;
    LineReader lines(file, 0);
    while (lines.next()) {
        ++lineNo;
        if (lines.offset() > MaxBytes) {
            tooLarge = true;
            break;
        }
        const std::optional<ShiftLineFields> f = lines.whole() ? readShiftLine(lines.line()) : std::nullopt;
        if (f && f->kind == ShiftLineFields::Open) {
            // An opening while one is open (a file merged by hand): the
            // earlier ends where the later begins.
            if (!m_shifts.isEmpty() && !m_shifts.last().closed) {
                m_shifts.last().closed = true;
                m_shifts.last().closedUtcMs = f->utcMs;
                m_shifts.last().journalTo = f->journalLength;
                m_shifts.last().countedCash = std::nan("");
            }
            Shift s;
            s.number = f->number;
            s.openedUtcMs = f->utcMs;
            s.journalFrom = f->journalLength;
            s.openingCash = f->cash;
            s.operatorName = f->operatorName;
            m_shifts.append(s);
        } else if (f && f->kind == ShiftLineFields::Close && !m_shifts.isEmpty() && !m_shifts.last().closed
                   && m_shifts.last().number == f->number) {
            Shift &s = m_shifts.last();
            s.closed = true;
            s.closedUtcMs = f->utcMs;
            s.journalTo = std::max(f->journalLength, s.journalFrom);
            s.countedCash = f->cash;
        } else if (f && f->kind == ShiftLineFields::Receipt) {
            remember(f->number, f->receipt);
            m_lastReceipt = std::max(m_lastReceipt, f->number);
        } else {
            damage(lineNo);
        }
    }
    QStringList problems;
    if (damagedCount > 0)
        problems << QStringLiteral("В файле смен \"%1\" повреждены строки (%2): %3. Они пропущены, файл оставлен "
                                   "как есть.")
                        .arg(QDir::toNativeSeparators(m_path))
                        .arg(damagedCount)
                        .arg(lineList(damaged, damagedCount));
    if (tooLarge)
        problems << QStringLiteral("Файл смен \"%1\" больше %2 МиБ: прочитано только начало.")
                        .arg(QDir::toNativeSeparators(m_path))
                        .arg(MaxBytes / (1024 * 1024));
    return problems.join(QLatin1Char('\n'));
}

ShiftFileLines readShiftFileLines(const QString &path, qint64 from, int maxLines)
{
    ShiftFileLines out;
    out.next = from;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.atEnd = !file.exists();
        if (out.atEnd)
            return out;
        throw Error(
            QStringLiteral("Файл смен \"%1\" не прочитан: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    }
    LineReader lines(file, from);
    while (out.lines.size() < maxLines && lines.next()) {
        // A line the file ends inside was never acknowledged: the next
        // line written takes its place.
        if (!lines.ended())
            break;
        out.next = lines.end();
        // A zero byte cannot travel as text (nor is it ever ours).
        if (lines.whole() && readShiftLine(lines.line()) && !lines.line().contains('\0'))
            out.lines.append({lines.offset(), lines.line().toByteArray()});
        else
            ++out.damaged;
    }
    out.atEnd = out.lines.size() < maxLines || file.atEnd();
    return out;
}

void ShiftBook::remember(int number, const ReceiptKey &key)
{
    m_receipts.insert(key, number);
    m_receiptOrder.append({key, number});
    if (m_receiptOrder.size() > ReceiptMemory) {
        const auto [oldest, oldNumber] = m_receiptOrder.takeFirst();
        // Unless a later line for the same record took its place.
        if (m_receipts.value(oldest) == oldNumber)
            m_receipts.remove(oldest);
    }
}

void ShiftBook::append(const QByteArray &fields)
{
    const QByteArray body = fields + '\t';
    const QByteArray line = body + crcField(body) + '\n';
    const QByteArray name = QFile::encodeName(m_path);
    const auto fail = [this](int err) {
        throw Error(QStringLiteral("Не удалось записать в файл смен \"%1\": %2")
                        .arg(QDir::toNativeSeparators(m_path), IoError::fromErrno(err).message()));
    };
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0)
        fail(errno);
    struct Closer
    {
        int fd;
        ~Closer() { systemCalls().close(fd); }
    } closer{fd};
    for (int waited = 0; ::flock(fd, LOCK_EX | LOCK_NB) != 0; ++waited) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || waited >= 2000)
            fail(errno == EWOULDBLOCK ? EAGAIN : errno);
        const timespec ms{0, 1'000'000};
        ::nanosleep(&ms, nullptr);
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        fail(errno);
    QByteArray bytes = line;
    off_t base = st.st_size;
    if (base > 0) {
        // A line cut short by a crash was never acknowledged (a line is
        // flushed whole before its call returns): the new line takes its
        // place, as a record takes a journal fragment's. A longer tail
        // without an end is not ours: it stays, on a line of its own.
        const off_t tail = std::min<off_t>(base, MaxLine + 1);
        QByteArray end(static_cast<qsizetype>(tail), '\0');
        if (::pread(fd, end.data(), static_cast<size_t>(tail), base - tail) != tail)
            fail(errno != 0 ? errno : EIO);
        if (!end.endsWith('\n')) {
            const qsizetype lineEnd = end.lastIndexOf('\n');
            if (lineEnd >= 0 || tail == base) {
                base = base - tail + (lineEnd + 1);
                if (::ftruncate(fd, base) != 0)
                    fail(errno);
            } else {
                bytes.prepend('\n');
            }
        }
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = systemCalls().write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            // No half line where a whole one was expected.
            if (::ftruncate(fd, base) != 0) { /* best effort */
            }
            fail(err);
        }
        done += n;
    }
    if (systemCalls().fsync(fd) != 0) {
        const int err = errno;
        if (::ftruncate(fd, base) != 0) { /* best effort */
        }
        fail(err);
    }
    if (base == 0) {
        if (const int err = flushFolder(m_path); err != 0) {
            if (::ftruncate(fd, 0) != 0) { /* best effort */
            }
            fail(err);
        }
    }
}

Shift ShiftBook::open(const QString &operatorName, double cash, qint64 journalLength)
{
    if (const Shift *s = openShift())
        throw Error(QStringLiteral("Смена %1 (%2) уже открыта.").arg(s->number).arg(s->operatorName));
    if (!std::isfinite(cash) || cash < 0 || cash > MaxCash)
        throw Error(QStringLiteral("Сумма в кассе %1 вне пределов от 0 до 1 000 000 000.").arg(cash));
    if (!m_shifts.isEmpty() && m_shifts.last().number >= MaxNumber)
        throw Error(QStringLiteral("Номера смен в файле \"%1\" исчерпаны.").arg(QDir::toNativeSeparators(m_path)));
    Shift s;
    s.number = m_shifts.isEmpty() ? 1 : m_shifts.last().number + 1;
    s.operatorName = operatorName.trimmed();
    s.openingCash = cash;
    s.openedUtcMs = Clock::current().now().toMSecsSinceEpoch();
    s.journalFrom = journalLength;
    append("open\t" + QByteArray::number(s.number) + '\t' + QByteArray::number(s.openedUtcMs) + '\t'
           + QByteArray::number(journalLength) + '\t' + cashField(cash) + '\t'
           + s.operatorName.toUtf8().toPercentEncoding());
    m_shifts.append(s);
    return s;
}

Shift ShiftBook::close(double countedCash, qint64 journalLength)
{
    if (!openShift())
        throw Error(QStringLiteral("Смена не открыта."));
    if (!std::isfinite(countedCash) || countedCash < 0 || countedCash > MaxCash)
        throw Error(QStringLiteral("Сумма в кассе %1 вне пределов от 0 до 1 000 000 000.").arg(countedCash));
    Shift s = m_shifts.last();
    s.closed = true;
    s.closedUtcMs = Clock::current().now().toMSecsSinceEpoch();
    s.journalTo = std::max(journalLength, s.journalFrom);
    s.countedCash = countedCash;
    append("close\t" + QByteArray::number(s.number) + '\t' + QByteArray::number(s.closedUtcMs) + '\t'
           + QByteArray::number(s.journalTo) + '\t' + cashField(countedCash));
    m_shifts.last() = s;
    return s;
}

int ShiftBook::receiptNumber(const ReceiptKey &key) const
{
    return m_receipts.value(key, 0);
}

int ShiftBook::takeReceiptNumber(const ReceiptKey &key)
{
    if (key.writtenMs < 0 || key.writtenMs > 253'402'300'799'999LL)
        throw Error(QStringLiteral("Чек не получил номера: у записи неверная дата."));
    if (m_lastReceipt >= MaxNumber)
        throw Error(QStringLiteral("Номера чеков в файле \"%1\" исчерпаны.").arg(QDir::toNativeSeparators(m_path)));
    const int number = m_lastReceipt + 1;
    append("receipt\t" + QByteArray::number(number) + '\t' + QByteArray::number(key.writtenMs) + '\t'
           + QByteArray::number(static_cast<qulonglong>(key.sessionId), 16).rightJustified(16, '0') + '\t'
           + (key.reversal ? "R" : "S"));
    m_lastReceipt = number;
    remember(number, key);
    return number;
}

} // namespace bilmeko
