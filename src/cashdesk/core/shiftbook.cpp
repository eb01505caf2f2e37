#include "shiftbook.h"

#include "common/core/clock.h"
#include "common/core/errors.h"
#include "common/core/systemcalls.h"
#include "journal/core/logrecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <cerrno>
#include <array>
#include <cmath>
#include <vector>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

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

} // namespace

QByteArray cashField(double cash)
{
    return QByteArray::number(cash, 'g', QLocale::FloatingPointShortest);
}

qint64 journalRecordsLength(const QString &journalPath)
{
    struct stat st {};
    if (::stat(QFile::encodeName(journalPath).constData(), &st) != 0) {
        if (errno == ENOENT)
            return 0;
        throw IoError::fromErrno(errno);
    }
    return (static_cast<qint64>(st.st_size) / RecordSize) * RecordSize;
}

ShiftBook::ShiftBook(QString path) : m_path(std::move(path)) {}

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
    qint64 read = 0;
    std::vector<char> buffer(MaxLine + 2);
    while (!file.atEnd()) {
        if (read > MaxBytes) {
            tooLarge = true;
            break;
        }
        const qint64 n = file.readLine(buffer.data(), qint64(buffer.size()));
        if (n <= 0)
            break;
        read += n;
        ++lineNo;
        if (buffer[size_t(n) - 1] != '\n') {
            // Cut short by a crash (or longer than any line of ours): the
            // rest of an overlong one is skipped up to its end.
            damage(lineNo);
            for (qint64 more = n; more == qint64(buffer.size()) - 1 && buffer[size_t(more) - 1] != '\n';) {
                more = file.readLine(buffer.data(), qint64(buffer.size()));
                if (more <= 0)
                    break;
                read += more;
            }
            continue;
        }
        const QByteArrayView line(buffer.data(), n - 1);
        const qsizetype lastTab = line.lastIndexOf('\t');
        std::uint64_t stored = 0;
        if (lastTab < 0 || !readHex(line.sliced(lastTab + 1), 8, stored)
            || stored != crc32(line.data(), static_cast<std::size_t>(lastTab + 1))) {
            damage(lineNo);
            continue;
        }
        // At most six fields before the checksum; a seventh marks a foreign line.
        std::array<QByteArrayView, 7> f;
        qsizetype fields = 0;
        for (qsizetype from = 0; from <= lastTab && fields < qsizetype(f.size());) {
            const qsizetype tab = line.indexOf('\t', from);
            f[size_t(fields++)] = line.sliced(from, tab - from);
            from = tab + 1;
        }
        qint64 number = 0, utc = 0, length = 0;
        const bool head = fields >= 4 && fields < 7 && readWhole(f[1], MaxNumber, number) && number > 0
                          && readWhole(f[2], 253'402'300'799'999LL, utc);
        if (head && f[0] == "open" && fields == 6 && readWhole(f[3], Q_INT64_C(1) << 60, length)) {
            Shift s;
            s.number = static_cast<int>(number);
            s.openedUtcMs = utc;
            s.journalFrom = length;
            const QByteArray name = QByteArray::fromPercentEncoding(f[5].toByteArray());
            s.operatorName = QString::fromUtf8(name);
            if (readCash(f[4], s.openingCash) && s.operatorName.toUtf8() == name) {
                // An opening while one is open (a file merged by hand): the
                // earlier ends where the later begins.
                if (!m_shifts.isEmpty() && !m_shifts.last().closed) {
                    m_shifts.last().closed = true;
                    m_shifts.last().closedUtcMs = utc;
                    m_shifts.last().journalTo = length;
                    m_shifts.last().countedCash = std::nan("");
                }
                m_shifts.append(s);
                continue;
            }
        } else if (head && f[0] == "close" && fields == 5 && readWhole(f[3], Q_INT64_C(1) << 60, length)) {
            double counted = 0;
            if (readCash(f[4], counted) && !m_shifts.isEmpty() && !m_shifts.last().closed
                && m_shifts.last().number == number) {
                Shift &s = m_shifts.last();
                s.closed = true;
                s.closedUtcMs = utc;
                s.journalTo = std::max(length, s.journalFrom);
                s.countedCash = counted;
                continue;
            }
        } else if (head && f[0] == "receipt" && fields == 5 && (f[4] == "S" || f[4] == "R")) {
            std::uint64_t id = 0;
            if (readHex(f[3], 16, id)) {
                remember(static_cast<int>(number), {id, utc, f[4] == "R"});
                m_lastReceipt = std::max(m_lastReceipt, static_cast<int>(number));
                continue;
            }
        }
        damage(lineNo);
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
    struct stat st {};
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
            if (::ftruncate(fd, base) != 0) { /* best effort */ }
            fail(err);
        }
        done += n;
    }
    if (systemCalls().fsync(fd) != 0) {
        const int err = errno;
        if (::ftruncate(fd, base) != 0) { /* best effort */ }
        fail(err);
    }
    if (base == 0) {
        if (const int err = flushFolder(m_path); err != 0) {
            if (::ftruncate(fd, 0) != 0) { /* best effort */ }
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
