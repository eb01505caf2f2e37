#include "periodreport.h"

#include "common/errors.h"
#include "common/formats.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace bilmeko {

namespace {

const QLatin1Char Tab('\t');
const QLatin1Char Newline('\n');

// Beyond these a number is not a value the program wrote but noise.
constexpr double MaxTimeDays = 1e6;
constexpr double MaxMoney = 1e15;

// The texts of a record's line. Gives exactly what reportLine gives, but
// remembers the texts of the last date and of every second of the day: a
// report lists thousands of records written on a few hundred days.
class LineFormatter
{
public:
    LineFormatter()
        : m_formats(Formats::current())
    {
        const QString fmt = m_formats.longTimeFormat();
        // Only 'z' shows anything finer than a second.
        m_perSecond = !fmt.contains(QLatin1Char('z'), Qt::CaseInsensitive);
        if (m_perSecond)
            m_seconds.resize(86'400);
    }

    QString time(const QTime &t)
    {
        if (!m_perSecond)
            return m_formats.timeText(t);
        QString &slot = m_seconds[static_cast<size_t>(t.msecsSinceStartOfDay() / 1000)];
        if (slot.isNull())
            slot = m_formats.timeText(QTime(t.hour(), t.minute(), t.second()));
        return slot;
    }

    QString time(DateTimeValue v) { return time(timeOf(v)); }

    void appendDateTime(QString &out, DateTimeValue v)
    {
        const QDate d = dateOf(v);
        const qint64 day = d.toJulianDay();
        if (day != m_day || m_dateText.isNull()) {
            m_day = day;
            m_dateText = m_formats.dateText(d);
        }
        out += m_dateText;
        const QTime t = timeOf(v);
        if (t.msecsSinceStartOfDay() != 0) {
            out += QLatin1Char(' ');
            out += time(t);
        }
    }

    void appendMoney(QString &out, double v)
    {
        // Prices repeat from record to record.
        if (!(v == m_lastMoney && std::signbit(v) == std::signbit(m_lastMoney)) || m_moneyText.isNull()) {
            m_lastMoney = v;
            m_moneyText = Formats::money(v);
        }
        out += m_moneyText;
    }

    void appendLine(QString &out, const LogRecord &r)
    {
        appendDateTime(out, r.written);
        out += Tab;
        out += r.clientName;
        out += Tab;
        out += r.service;
        out += Tab;
        appendMoney(out, r.pricePerMin);
        out += Tab;
        out += time(r.startTime);
        out += Tab;
        out += time(r.elapsed);
        out += Tab;
        out += time(r.endTime);
        out += Tab;
        out += Formats::money(r.amount);
        out += Tab;
        out += r.note;
        out += Tab;
        out += r.status;
    }

private:
    const Formats &m_formats;
    bool m_perSecond = false;
    std::vector<QString> m_seconds;
    qint64 m_day = 0;
    QString m_dateText;
    double m_lastMoney = 0;
    QString m_moneyText;
};

bool saneTime(double v)
{
    return std::isfinite(v) && std::fabs(v) < MaxTimeDays;
}

bool saneMoney(double v)
{
    return std::isfinite(v) && std::fabs(v) < MaxMoney;
}

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

QString reportHeader()
{
    return QStringLiteral("Время\t\t\tКлиент\tУслуга\tЦена\tНачало\tВремя\tКонец\tСумма\tКомент.\tСтатус");
}

QString reportLine(const LogRecord &r)
{
    const Formats &f = Formats::current();
    QString s = f.dateTimeText(r.written);
    s += Tab + r.clientName + Tab + r.service + Tab + Formats::money(r.pricePerMin) + Tab
         + f.timeText(r.startTime) + Tab + f.timeText(r.elapsed) + Tab + f.timeText(r.endTime)
         + Tab + Formats::money(r.amount) + Tab + r.note + Tab + r.status;
    return s;
}

QString hmsText(long double days)
{
    if (!std::isfinite(days))
        return QStringLiteral("0:0:0");
    const bool negative = days < 0;
    // Whole milliseconds first: a sum of day fractions lands a hair below a
    // whole second (one hour is 0.041666...64 days), which cutting the
    // seconds off would turn into 0:59:59. Milliseconds are what the clock
    // gives, so nothing real is lost.
    const long double ms = std::round(std::fabs(days) * 86'400'000.0L);
    if (ms >= static_cast<long double>(LLONG_MAX))
        return QStringLiteral("0:0:0");
    const long long secs = static_cast<long long>(ms) / 1000;
    const long long s = secs % 60;
    const long long m = (secs / 60) % 60;
    const long long h = secs / 3600;
    QString out;
    if (negative && secs > 0)
        out += QLatin1Char('-');
    out += QString::number(h) + QLatin1Char(':') + QString::number(m) + QLatin1Char(':')
           + QString::number(s);
    return out;
}

QString totalsText(double amount, long double days)
{
    return QStringLiteral("Итог:    Сумма: ") + Formats::money(amount) + Tab
           + QStringLiteral("Время: ") + hmsText(days);
}

bool isShowable(const LogRecord &r)
{
    if (!std::isfinite(r.written) || std::fabs(r.written) > 3'000'000)
        return false;
    const QDate d = dateOf(r.written);
    if (!d.isValid() || d.year() < 1 || d.year() > 9999)
        return false;
    return saneTime(r.startTime) && saneTime(r.elapsed) && saneTime(r.endTime)
           && saneMoney(r.pricePerMin) && saneMoney(r.amount);
}

QString PeriodReport::header() const
{
    const qsizetype nl = text.indexOf(Newline);
    return nl < 0 ? text : text.left(nl);
}

QString PeriodReport::totalsLine() const
{
    return text.mid(text.lastIndexOf(Newline) + 1);
}

QStringList PeriodReport::recordLines() const
{
    return lines().mid(1, recordCount);
}

PeriodReport buildPeriodReport(const QByteArray &journal, DateTimeValue dateBeg,
                               DateTimeValue dateEnd)
{
    PeriodReport rep;
    const char *data = journal.constData();
    const qsizetype count = journal.size() / RecordSize;
    const bool fragment = journal.size() % RecordSize != 0;
    const double after = dateEnd + 1.0;

    // A first glance at the dates alone tells how long the text will be, so
    // that a large report is not copied over and over while it grows.
    qsizetype listed = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const double written = readDouble(data + i * RecordSize, record::Written);
        if (dateBeg > written)
            continue;
        if (after > written)
            ++listed;
        else
            break;
    }
    rep.text.reserve(reportHeader().size() + 1 + listed * 96 + 64);

    rep.text += reportHeader();
    rep.text += Newline;

    LineFormatter fmt;
    bool stopped = false;
    double amount = 0;
    long double time = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const char *at = data + i * RecordSize;
        const double written = readDouble(at, record::Written);
        if (dateBeg > written)
            continue;
        if (!(after > written)) {
            stopped = true;
            break;
        }
        RecordBytes bytes;
        std::memcpy(bytes.data(), at, RecordSize);
        ScrambleRecord(bytes);
        const LogRecord r = deserializeRecord(bytes.data());
        if (!isShowable(r)) {
            rep.damaged = true;
            stopped = true;
            break;
        }
        fmt.appendLine(rep.text, r);
        rep.text += Newline;
        amount += r.amount;
        time += r.elapsed;
        ++rep.recordCount;
    }
    if (!stopped && fragment)
        rep.damaged = true;

    rep.amountTotal = amount;
    rep.timeTotal = time;
    rep.sumText = Formats::money(amount);
    rep.timeText = hmsText(time);
    rep.text += totalsText(amount, time);
    return rep;
}

QByteArray readJournal(const QString &path)
{
    const QByteArray name = path.toLocal8Bit();
    Fd fd(::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (fd.get() < 0)
        throw IoError::fromErrno(errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        throw IoError::fromErrno(errno);
    if (S_ISDIR(st.st_mode))
        throw IoError(IoError::AccessDenied);

    QByteArray bytes(static_cast<qsizetype>(st.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd.get(), bytes.data() + done,
                                  static_cast<size_t>(bytes.size() - done), done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw IoError::fromErrno(errno);
        }
        if (n == 0)
            break; // cut short meanwhile: report what is there
        done += n;
    }
    bytes.truncate(done);
    return bytes;
}

PeriodReport buildPeriodReport(const QString &journalPath, DateTimeValue dateBeg,
                               DateTimeValue dateEnd)
{
    return buildPeriodReport(readJournal(journalPath), dateBeg, dateEnd);
}

} // namespace bilmeko
