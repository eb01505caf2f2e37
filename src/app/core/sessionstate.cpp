#include "sessionstate.h"
#include "common/core/systemcalls.h"

#include "common/core/atomicfile.h"
#include "common/core/clock.h"
#include "common/core/errors.h"
#include "journal/core/logrecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace bilmeko {

namespace {

const QByteArray Magic = QByteArrayLiteral("Bilmeko sessions");

QByteArray hex16(std::uint64_t v)
{
    return QByteArray::number(static_cast<qulonglong>(v), 16).rightJustified(16, '0');
}

bool allDigits(const QByteArray &s, int maxLen)
{
    if (s.isEmpty() || s.size() > maxLen)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool allLowerHex(const QByteArray &s, int len)
{
    if (s.size() != len)
        return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

// A whole number of milliseconds within [0, max].
bool readMs(const QByteArray &s, std::int64_t max, std::int64_t &out)
{
    if (!allDigits(s, 18))
        return false;
    bool ok = false;
    const qlonglong v = s.toLongLong(&ok);
    if (!ok || v > max)
        return false;
    out = v;
    return true;
}

bool readPrice(const QByteArray &s, double &out)
{
    if (s.isEmpty() || s.size() > 40)
        return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e'))
            return false;
    bool ok = false;
    const double v = s.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

bool readText(const QByteArray &s, QString &out)
{
    // Percent-encoded: no raw byte outside the unreserved set.
    for (char c : s)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
              || c == '_' || c == '~' || c == '%'))
            return false;
    for (qsizetype i = 0; i < s.size(); ++i)
        if (s[i] == '%'
            && (i + 2 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i + 1]))
                || !std::isxdigit(static_cast<unsigned char>(s[i + 2]))))
            return false;
    const QByteArray utf8 = QByteArray::fromPercentEncoding(s);
    out = QString::fromUtf8(utf8);
    // Bytes that are not UTF-8 would not read back as they were written.
    return out.toUtf8() == utf8;
}

QString lineProblem(int line, const QString &what)
{
    return QStringLiteral("строка %1: %2").arg(line).arg(what);
}

struct WholeFile
{
    bool missing = false;
    QByteArray bytes;
    QString problem; // in Russian; empty when read
};

// The file's bytes, up to the largest state file; never blocks on a pipe.
WholeFile readWhole(const QString &path)
{
    WholeFile w;
    const QByteArray name = QFile::encodeName(path);
    const int fd = systemCalls().open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
    if (fd < 0 && errno == ENOENT) {
        w.missing = true;
        return w;
    }
    if (fd < 0) {
        w.problem = QStringLiteral("не удалось прочитать: %1").arg(IoError::fromErrno(errno).message());
        return w;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        w.problem = QStringLiteral("это не обычный файл");
    } else {
        char buf[65536];
        for (;;) {
            const ssize_t n = systemCalls().read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                w.problem = QStringLiteral("не удалось прочитать: %1").arg(IoError::fromErrno(errno).message());
                break;
            }
            if (n == 0)
                break;
            if (w.bytes.size() + n > sessionstate::MaxBytes) {
                w.problem = QStringLiteral("файл слишком велик");
                break;
            }
            w.bytes.append(buf, n);
        }
    }
    ::close(fd);
    return w;
}

// A name for a damaged copy that no earlier copy has.
QString freeDamagedName(const QString &path)
{
    const QString stamp = Clock::current().now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 1; n < 1000; ++n) {
        const QString to
            = path + QStringLiteral(".damaged-") + stamp + (n > 1 ? QStringLiteral("-%1").arg(n) : QString());
        struct stat st
        {
        };
        if (::lstat(QFile::encodeName(to).constData(), &st) != 0)
            return to; // never replace an earlier one
    }
    return QString();
}

QString keepAside(const QString &path, QString *keptAs)
{
    const QString to = freeDamagedName(path);
    if (to.isEmpty())
        return QStringLiteral("too many damaged copies");
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(to).constData()) != 0)
        return IoError::fromErrno(errno).message();
    *keptAs = to;
    return QString();
}

} // namespace

QByteArray serializeSessionLine(const SavedSession &s, bool withMonotonic)
{
    const auto number = [](std::int64_t v) { return QByteArray::number(static_cast<qlonglong>(v)); };
    const QByteArray dash("-");
    QByteArray out;
    out.reserve(160);
    out += "session\t" + hex16(s.id);
    out += '\t' + number(s.startUtcMs);
    out += '\t' + (withMonotonic && s.hasStartMono ? number(s.startMonoMs) : dash);
    out += '\t' + number(s.bookedMs);
    out += '\t' + number(s.pausedMs);
    out += '\t' + (s.paused ? number(s.pauseStartUtcMs) : dash);
    out += '\t' + (withMonotonic && s.paused && s.hasPauseStartMono ? number(s.pauseStartMonoMs) : dash);
    out += '\t' + QByteArray::number(s.price, 'g', QLocale::FloatingPointShortest);
    out += '\t' + s.client.toUtf8().toPercentEncoding();
    out += '\t' + s.service.toUtf8().toPercentEncoding();
    out += '\t' + s.note.toUtf8().toPercentEncoding();
    out += '\t' + QByteArray::number(static_cast<int>(s.payment));
    out += '\t' + QByteArray(s.abonement ? "1" : "0");
    out += '\n';
    return out;
}

QByteArray serializeSessionState(const QByteArray &monotonicRun, qint64 journalFrom,
                                 const QList<const QByteArray *> &lines)
{
    qsizetype size = 64 + monotonicRun.size();
    for (const QByteArray *line : lines)
        size += line->size();
    QByteArray out;
    out.reserve(size + 16);
    out += Magic + '\t' + QByteArray::number(sessionstate::Version) + '\n';
    out += "boot\t" + (monotonicRun.isEmpty() ? QByteArray("-") : monotonicRun);
    if (journalFrom >= 0)
        out += '/' + QByteArray::number(journalFrom);
    out += '\n';
    for (const QByteArray *line : lines)
        out += *line;
    const std::uint32_t crc = crc32(out.constData(), static_cast<std::size_t>(out.size()));
    out += "crc32\t" + QByteArray::number(crc, 16).rightJustified(8, '0') + '\n';
    return out;
}

QByteArray serializeSessionState(const SessionState &state)
{
    QList<QByteArray> lines;
    QList<const QByteArray *> refs;
    lines.reserve(state.sessions.size());
    for (const SavedSession &s : state.sessions)
        lines.append(serializeSessionLine(s, true));
    for (const QByteArray &line : lines)
        refs.append(&line);
    return serializeSessionState(state.monotonicRun, state.journalFrom, refs);
}

bool parseSessionState(const QByteArray &bytes, SessionState &state, QString *problem)
{
    const auto fail = [problem](const QString &what) {
        if (problem)
            *problem = what;
        return false;
    };
    if (bytes.size() > sessionstate::MaxBytes)
        return fail(QStringLiteral("файл слишком велик"));
    if (!bytes.startsWith(Magic + '\t'))
        return fail(QStringLiteral("это не файл сеансов Bilmeko"));
    if (!bytes.endsWith('\n'))
        return fail(QStringLiteral("файл оборван"));

    // The checksum line is the last one; everything before it is covered.
    const qsizetype lastStart = bytes.lastIndexOf('\n', bytes.size() - 2) + 1;
    const QByteArray last = bytes.mid(lastStart, bytes.size() - 1 - lastStart);
    if (!last.startsWith("crc32\t") || !allLowerHex(last.mid(6), 8))
        return fail(QStringLiteral("файл оборван"));
    const std::uint32_t stored = last.mid(6).toUInt(nullptr, 16);
    if (stored != crc32(bytes.constData(), static_cast<std::size_t>(lastStart)))
        return fail(QStringLiteral("контрольная сумма не сходится"));

    SessionState st;
    QSet<std::uint64_t> ids;
    int version = 0;
    const QList<QByteArray> lines = bytes.left(lastStart).split('\n');
    // split() gives an empty piece after the final LF.
    const qsizetype count = lines.size() - 1;
    for (qsizetype i = 0; i < count; ++i) {
        const int lineNo = static_cast<int>(i + 1);
        const QList<QByteArray> f = lines[i].split('\t');
        if (i == 0) {
            version = f.size() == 2 && allDigits(f[1], 2) ? f[1].toInt() : 0;
            if (version < sessionstate::FirstVersion || version > sessionstate::Version
                || f[1] != QByteArray::number(version))
                return fail(QStringLiteral("неизвестная версия формата"));
            continue;
        }
        if (i == 1) {
            if (f.size() != 2 || f[0] != "boot" || f[1].isEmpty() || f[1].size() > 64)
                return fail(lineProblem(lineNo, QStringLiteral("нет строки boot")));
            for (char c : f[1])
                if (c <= ' ' || c > '~')
                    return fail(lineProblem(lineNo, QStringLiteral("нет строки boot")));
            QByteArray run = f[1];
            const qsizetype slash = run.lastIndexOf('/');
            if (slash >= 0 && allDigits(run.mid(slash + 1), 18)) {
                st.journalFrom = run.mid(slash + 1).toLongLong();
                run.truncate(slash);
            }
            st.monotonicRun = run == "-" ? QByteArray() : run;
            continue;
        }
        // Version 2 has the three pause fields after the booked duration.
        const int extra = version >= 2 ? 3 : 0;
        // Version 3 adds the payment method and the abonement flag at the end.
        const int tail = version >= 3 ? 2 : 0;
        if (f.size() != 9 + extra + tail || f[0] != "session")
            return fail(lineProblem(lineNo, QStringLiteral("ожидалась строка сеанса")));
        SavedSession s;
        if (!allLowerHex(f[1], 16))
            return fail(lineProblem(lineNo, QStringLiteral("неверный номер сеанса")));
        s.id = f[1].toULongLong(nullptr, 16);
        if (s.id == 0 || ids.contains(s.id))
            return fail(lineProblem(lineNo, QStringLiteral("неверный номер сеанса")));
        ids.insert(s.id);
        if (!readMs(f[2], sessionstate::MaxInstantMs, s.startUtcMs))
            return fail(lineProblem(lineNo, QStringLiteral("неверное время начала")));
        if (f[3] != "-") {
            if (!readMs(f[3], std::numeric_limits<std::int64_t>::max() / 2, s.startMonoMs))
                return fail(lineProblem(lineNo, QStringLiteral("неверное время начала")));
            s.hasStartMono = true;
        }
        if (!readMs(f[4], sessionstate::MaxBookedMs, s.bookedMs))
            return fail(lineProblem(lineNo, QStringLiteral("неверная длительность")));
        if (extra) {
            if (!readMs(f[5], sessionstate::MaxInstantMs, s.pausedMs))
                return fail(lineProblem(lineNo, QStringLiteral("неверная пауза")));
            if (f[6] != "-") {
                if (!readMs(f[6], sessionstate::MaxInstantMs, s.pauseStartUtcMs))
                    return fail(lineProblem(lineNo, QStringLiteral("неверная пауза")));
                s.paused = true;
            }
            if (f[7] != "-") {
                if (!s.paused || !readMs(f[7], std::numeric_limits<std::int64_t>::max() / 2, s.pauseStartMonoMs))
                    return fail(lineProblem(lineNo, QStringLiteral("неверная пауза")));
                s.hasPauseStartMono = true;
            }
        }
        if (!readPrice(f[5 + extra], s.price))
            return fail(lineProblem(lineNo, QStringLiteral("неверная цена")));
        if (!readText(f[6 + extra], s.client) || !readText(f[7 + extra], s.service) || !readText(f[8 + extra], s.note))
            return fail(lineProblem(lineNo, QStringLiteral("неверный текст")));
        if (tail) {
            const QByteArray &pay = f[9 + extra];
            const QByteArray &abon = f[10 + extra];
            if (pay.size() != 1 || pay[0] < '0' || pay[0] > '3' || (abon != "0" && abon != "1"))
                return fail(lineProblem(lineNo, QStringLiteral("неверный способ оплаты")));
            s.payment = static_cast<Payment>(pay[0] - '0');
            s.abonement = abon == "1";
        }
        st.sessions.append(std::move(s));
    }
    if (count < 2)
        return fail(QStringLiteral("файл оборван"));
    state = std::move(st);
    return true;
}

SessionStateFile::Loaded SessionStateFile::load() const
{
    Loaded r;
    const WholeFile read = readWhole(m_path);
    if (read.missing)
        return r;
    QString problem = read.problem;
    if (problem.isEmpty() && parseSessionState(read.bytes, r.state, &problem)) {
        r.status = Status::Loaded;
        return r;
    }

    r.status = Status::Damaged;
    r.state = SessionState();
    const QString aside = keepAside(m_path, &r.keptAs);
    const QString file = QDir::toNativeSeparators(m_path);
    if (aside.isEmpty())
        r.message = QStringLiteral("Файл идущих сеансов \"%1\" повреждён (%2). Он сохранён как \"%3\"; "
                                   "сеансы из него не восстановлены, таблица начата пустой.")
                        .arg(file, problem, QDir::toNativeSeparators(r.keptAs));
    else
        r.message = QStringLiteral("Файл идущих сеансов \"%1\" повреждён (%2), и его не удалось "
                                   "переименовать (%3). Сеансы из него не восстановлены, таблица начата пустой.")
                        .arg(file, problem, aside);
    return r;
}

QString SessionStateFile::keepCopy() const
{
    const WholeFile read = readWhole(m_path);
    const QString to = freeDamagedName(m_path);
    QString why = read.problem;
    if (why.isEmpty() && to.isEmpty())
        why = QStringLiteral("too many damaged copies");
    if (why.isEmpty()) {
        try {
            replaceFileAtomically(to, read.bytes);
            return to;
        } catch (const Error &e) {
            why = e.message();
        }
    }
    throw Error(
        QStringLiteral("Не удалось сохранить копию файла \"%1\": %2").arg(QDir::toNativeSeparators(m_path), why));
}

void SessionStateFile::save(const SessionState &state) const
{
    save(serializeSessionState(state));
}

void SessionStateFile::save(const QByteArray &bytes) const
{
    try {
        replaceFileAtomically(m_path, bytes);
    } catch (const Error &e) {
        throw Error(QStringLiteral("Не удалось сохранить идущие сеансы в файл \"%1\": %2")
                        .arg(QDir::toNativeSeparators(m_path), e.message()));
    }
}

} // namespace bilmeko
