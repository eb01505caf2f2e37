#include "periodreport.h"

#include "common/core/codepage.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journalfile.h"

#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
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

bool saneTime(double v)
{
    return std::isfinite(v) && std::fabs(v) < MaxTimeDays;
}

bool saneMoney(double v)
{
    return std::isfinite(v) && std::fabs(v) < MaxMoney;
}

// Dates from 1 January of the year 1 up to the end of 9999.
bool saneWritten(double v)
{
    static const double first = dateValue(QDate(1, 1, 1));
    static const double after = dateValue(QDate(9999, 12, 31)) + 1;
    return v > first - 1 && v < after; // false for NaN
}

bool showable(double written, double price, double start, double elapsed, double end, double amount)
{
    return saneWritten(written) && saneTime(start) && saneTime(elapsed) && saneTime(end)
           && saneMoney(price) && saneMoney(amount);
}

// A little-endian double of a record, as readDouble gives it, without the
// call: the report reads one for every record of the journal.
inline double numberAt(const char *bytes, int offset)
{
    if constexpr (std::endian::native == std::endian::little) {
        double v;
        std::memcpy(&v, bytes + offset, sizeof v);
        return v;
    } else {
        return readDouble(bytes, offset);
    }
}

// roundToMs(|v|) without the library call: the report rounds four values
// of every record it lists. Exact: cutting off the whole part of a double
// leaves its fraction exactly.
inline qint64 absMs(double v)
{
    const double y = std::fabs(v) * static_cast<double>(MsPerDay);
    const auto whole = static_cast<qint64>(y);
    return whole + (y - static_cast<double>(whole) >= 0.5 ? 1 : 0);
}

// Milliseconds of the time of day of a value, as timeOf takes them.
inline int msOfDay(double v)
{
    return static_cast<int>(absMs(v) % MsPerDay);
}

// A control character in a text field (a damaged or foreign journal) would
// break the line or its columns apart: the report shows a blank instead.
char16_t shownChar(char16_t c)
{
    return c < 0x20 || c == 0x7F ? u' ' : c;
}

QString shownText(QString text)
{
    for (QChar &c : text)
        c = QChar(shownChar(c.unicode()));
    return text;
}

// The Windows-1251 table of the program's code page, byte by byte, as the
// report shows the characters.
const std::array<char16_t, 256> &codePage()
{
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            t[static_cast<size_t>(b)] = shownChar(cp1251::decode(&c, 1).at(0).unicode());
        }
        return t;
    }();
    return table;
}

// Writes the pieces of one line into a buffer that is appended to the
// report as a whole.
class LineBuffer
{
public:
    void clear() { m_n = 0; }
    void put(QStringView s)
    {
        const int n = static_cast<int>(s.size());
        if (m_n + n > Size)
            return spill(s);
        const char16_t *from = s.utf16();
        for (int i = 0; i < n; ++i)
            m_buf[m_n + i] = from[i];
        m_n += n;
    }
    void put(char16_t c)
    {
        if (m_n >= Size)
            return spill(QStringView(&c, 1));
        m_buf[m_n++] = c;
    }
    // A short string field of an unscrambled record, read as the record
    // reader reads it: at most `max` characters, whatever its length byte.
    void putShortString(const char *field, int max)
    {
        const int n = std::min<int>(static_cast<unsigned char>(field[0]), max);
        if (m_n + n > Size)
            return spill(shownText(cp1251::decode(field + 1, n)));
        const auto &cp = codePage();
        for (int i = 0; i < n; ++i)
            m_buf[m_n++] = cp[static_cast<unsigned char>(field[1 + i])];
    }
    // Room for a piece written directly; see commit().
    char16_t *reserve(int n)
    {
        if (m_n + n > Size)
            flushTo(m_spilled);
        return m_buf + m_n;
    }
    void commit(int n) { m_n += n; }

    void appendTo(QString &out)
    {
        if (!m_spilled.isEmpty()) {
            out += m_spilled;
            m_spilled.clear();
        }
        out.append(QStringView(m_buf, m_n));
        m_n = 0;
    }

private:
    static constexpr int Size = 2048;
    void flushTo(QString &s)
    {
        s.append(QStringView(m_buf, m_n));
        m_n = 0;
    }
    void spill(QStringView s)
    {
        flushTo(m_spilled);
        m_spilled.append(s);
    }

    char16_t m_buf[Size];
    int m_n = 0;
    QString m_spilled;
};

// The time text of the long time format. The usual formats (H, HH, m, mm,
// s, ss and literal text) are written digit by digit, after checking that
// this gives the same text as the locale does; any other format goes
// through the locale, remembering each second's text.
class TimeWriter
{
public:
    explicit TimeWriter(const Formats &formats)
        : m_formats(formats)
    {
        m_fast = compile(formats.longTimeFormat());
        if (m_fast) {
            static const int samples[] = {0, 1, 999, 1000, 59'999, 3'600'000, 3'661'001, 36'000'000,
                                          43'200'000, 46'800'000, 45'296'789, 86'399'999};
            char16_t buf[256];
            for (int ms : samples) {
                const int n = writeFast(ms, buf);
                if (n < 0 || QStringView(buf, n) != m_formats.timeText(QTime::fromMSecsSinceStartOfDay(ms))) {
                    m_fast = false;
                    break;
                }
            }
        }
        if (!m_fast) {
            m_perSecond = !formats.longTimeFormat().contains(QLatin1Char('z'), Qt::CaseInsensitive);
            if (m_perSecond)
                m_seconds.resize(86'400);
        }
    }

    void put(LineBuffer &line, int ms)
    {
        if (m_fast) {
            char16_t *p = line.reserve(m_maxLength);
            line.commit(writeFast(ms, p));
            return;
        }
        line.put(slow(ms));
    }

private:
    enum Kind { Literal, Hour, Hour2, Minute, Minute2, Second, Second2 };
    struct Token
    {
        Kind kind;
        QString text;
    };

    bool compile(const QString &fmt)
    {
        m_maxLength = 0;
        for (qsizetype i = 0; i < fmt.size();) {
            const QChar c = fmt[i];
            if (c == QLatin1Char('\'')) {
                // Quoted text; '' is a quote.
                QString lit;
                qsizetype j = i + 1;
                if (j < fmt.size() && fmt[j] == QLatin1Char('\'')) {
                    lit = QStringLiteral("'");
                    i = j + 1;
                } else {
                    while (j < fmt.size()) {
                        if (fmt[j] == QLatin1Char('\'')) {
                            if (j + 1 < fmt.size() && fmt[j + 1] == QLatin1Char('\'')) {
                                lit += QLatin1Char('\'');
                                j += 2;
                                continue;
                            }
                            break;
                        }
                        lit += fmt[j++];
                    }
                    i = j + 1;
                }
                addLiteral(lit);
                continue;
            }
            if (!c.isLetter()) {
                addLiteral(QString(c));
                ++i;
                continue;
            }
            qsizetype n = 1;
            while (i + n < fmt.size() && fmt[i + n] == c)
                ++n;
            if (n > 2)
                return false;
            const char16_t u = c.unicode();
            Kind k;
            if (u == u'H' || u == u'h')
                k = n == 1 ? Hour : Hour2;
            else if (u == u'm')
                k = n == 1 ? Minute : Minute2;
            else if (u == u's')
                k = n == 1 ? Second : Second2;
            else
                return false; // AM/PM, milliseconds, zones: left to the locale
            m_tokens.push_back({k, {}});
            m_maxLength += 2;
            i += n;
        }
        return true;
    }

    void addLiteral(const QString &lit)
    {
        if (!m_tokens.empty() && m_tokens.back().kind == Literal)
            m_tokens.back().text += lit;
        else
            m_tokens.push_back({Literal, lit});
        m_maxLength += static_cast<int>(lit.size());
    }

    int writeFast(int ms, char16_t *out) const
    {
        const int secs = ms / 1000;
        const int h = secs / 3600;
        const int m = secs / 60 % 60;
        const int s = secs % 60;
        int n = 0;
        auto num = [&](int v, bool two) {
            if (two || v >= 10)
                out[n++] = static_cast<char16_t>(u'0' + v / 10);
            out[n++] = static_cast<char16_t>(u'0' + v % 10);
        };
        for (const Token &t : m_tokens) {
            switch (t.kind) {
            case Literal:
                std::memcpy(out + n, t.text.utf16(), static_cast<size_t>(t.text.size()) * sizeof(char16_t));
                n += static_cast<int>(t.text.size());
                break;
            case Hour: num(h, false); break;
            case Hour2: num(h, true); break;
            case Minute: num(m, false); break;
            case Minute2: num(m, true); break;
            case Second: num(s, false); break;
            case Second2: num(s, true); break;
            }
        }
        return n;
    }

    QString slow(int ms)
    {
        const QTime t = QTime::fromMSecsSinceStartOfDay(ms);
        if (!m_perSecond)
            return m_formats.timeText(t);
        QString &slot = m_seconds[static_cast<size_t>(ms / 1000)];
        if (slot.isNull())
            slot = m_formats.timeText(t);
        return slot;
    }

    const Formats &m_formats;
    bool m_fast = false;
    std::vector<Token> m_tokens;
    int m_maxLength = 0;
    bool m_perSecond = false;
    std::vector<QString> m_seconds;
};

// Builds the lines of one report record by record. Gives exactly what
// reportLine gives for each record, without building the record's strings.
class ReportBuilder
{
public:
    ReportBuilder(DateTimeValue dateBeg, DateTimeValue dateEnd)
        : m_formats(Formats::current())
        , m_times(m_formats)
        , m_beg(dateBeg)
        , m_after(dateEnd + 1.0)
    {
        m_rep.text = reportHeader();
        m_rep.text += Newline;
    }

    // Takes the next 168 bytes of the journal as they are in the file;
    // false when the reading ends here.
    bool add(const char *stored)
    {
        const double written = numberAt(stored, record::Written);
        if (m_beg > written)
            return true;
        if (!(m_after > written))
            return false; // after the period: the journal is in time order
        RecordBytes rec;
        std::memcpy(rec.data(), stored, RecordSize);
        ScrambleRecord(rec);
        const char *r = rec.data();
        const double price = numberAt(r, record::PricePerMin);
        const double start = numberAt(r, record::StartTime);
        const double elapsed = numberAt(r, record::Elapsed);
        const double end = numberAt(r, record::EndTime);
        const double amount = numberAt(r, record::Amount);
        if (!showable(written, price, start, elapsed, end, amount)) {
            m_rep.damaged = true;
            return false;
        }

        LineBuffer &line = m_line;
        putDateTime(line, written);
        line.put(u'\t');
        line.putShortString(r + record::ClientName, record::ClientNameMax);
        line.put(u'\t');
        line.putShortString(r + record::Service, record::ShortMax);
        line.put(u'\t');
        putMoney(line, price, true);
        line.put(u'\t');
        m_times.put(line, msOfDay(start));
        line.put(u'\t');
        m_times.put(line, msOfDay(elapsed));
        line.put(u'\t');
        m_times.put(line, msOfDay(end));
        line.put(u'\t');
        putMoney(line, amount, false);
        line.put(u'\t');
        line.putShortString(r + record::Note, record::ShortMax);
        line.put(u'\t');
        line.putShortString(r + record::Status, record::ShortMax);
        line.put(u'\n');
        line.appendTo(m_rep.text);

        m_amount += amount;
        m_time += elapsed;
        ++m_rep.recordCount;
        return true;
    }

    void setDamaged() { m_rep.damaged = true; }

    PeriodReport finish()
    {
        m_rep.amountTotal = m_amount;
        m_rep.timeTotal = m_time;
        m_rep.sumText = Formats::money(m_amount);
        m_rep.timeText = hmsText(m_time);
        m_rep.text += totalsText(m_amount, m_time);
        return std::move(m_rep);
    }

private:
    void putDateTime(LineBuffer &line, double v)
    {
        const qint64 ms = absMs(v);
        // The whole days as dateOf counts them.
        const qint64 day = v < 0 ? -(ms / MsPerDay) : ms / MsPerDay;
        if (day != m_day || m_dateText.isNull()) {
            m_day = day;
            m_dateText = m_formats.dateText(dateOf(v));
        }
        line.put(m_dateText);
        if (ms % MsPerDay != 0) {
            line.put(u' ');
            m_times.put(line, static_cast<int>(ms % MsPerDay));
        }
    }

    void putMoney(LineBuffer &line, double v, bool remember)
    {
        // Prices repeat from record to record.
        if (remember && m_priceLength > 0 && std::memcmp(&v, &m_price, sizeof v) == 0) {
            line.put(QStringView(m_priceText, m_priceLength));
            return;
        }
        char16_t *p = line.reserve(MoneyTextMax);
        const int n = writeMoney(v, p);
        if (remember) {
            m_price = v;
            m_priceLength = n;
            std::memcpy(m_priceText, p, static_cast<size_t>(n) * sizeof(char16_t));
        }
        line.commit(n);
    }

    const Formats &m_formats;
    TimeWriter m_times;
    const double m_beg;
    const double m_after;
    PeriodReport m_rep;
    LineBuffer m_line;
    double m_amount = 0;
    long double m_time = 0;
    qint64 m_day = 0;
    QString m_dateText;
    double m_price = 0;
    char16_t m_priceText[MoneyTextMax];
    int m_priceLength = 0;
};


} // namespace

int writeMoney(double v, char16_t *out)
{
    // The same digits as Formats::money: the number's 15 significant
    // digits, rounded half up at the second decimal.
    if (!std::isfinite(v) || std::fabs(v) >= 1e20) {
        const QString s = Formats::money(v);
        const int n = static_cast<int>(std::min<qsizetype>(s.size(), MoneyTextMax));
        std::memcpy(out, s.utf16(), static_cast<size_t>(n) * sizeof(char16_t));
        return n;
    }
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, 14);
    // d.dddddddddddddde±XX
    char mant[15];
    mant[0] = buf[0];
    std::memcpy(mant + 1, buf + 2, 14);
    int exp = 0;
    std::from_chars(buf + 17 + (buf[17] == '+' ? 1 : 0), res.ptr, exp);

    // The digits of weights max(exp, 0) down to -2.
    int digits[24];
    int count = 0;
    for (int w = std::max(exp, 0); w >= -2; --w) {
        const int i = exp - w;
        digits[count++] = i >= 0 && i < 15 ? mant[i] - '0' : 0;
    }
    bool carried = false; // rounding 99,995 up gives a new leading 1
    const int next = exp + 3;
    if (next >= 0 && next < 15 && mant[next] >= '5') {
        int k = count - 1;
        while (k >= 0 && ++digits[k] == 10)
            digits[k--] = 0;
        carried = k < 0;
    }
    bool allZero = !carried;
    for (int i = 0; i < count && allZero; ++i)
        allZero = digits[i] == 0;

    int n = 0;
    if (v < 0 && !allZero)
        out[n++] = u'-';
    const int intCount = count - 2;
    int i = 0;
    if (carried)
        out[n++] = u'1';
    else
        while (i < intCount - 1 && digits[i] == 0)
            ++i;
    for (; i < intCount; ++i)
        out[n++] = static_cast<char16_t>(u'0' + digits[i]);
    out[n++] = u',';
    out[n++] = static_cast<char16_t>(u'0' + digits[count - 2]);
    out[n++] = static_cast<char16_t>(u'0' + digits[count - 1]);
    return n;
}

QString reportHeader()
{
    return QStringLiteral("Время\t\t\tКлиент\tУслуга\tЦена\tНачало\tВремя\tКонец\tСумма\tКомент.\tСтатус");
}

QString reportLine(const LogRecord &r)
{
    const Formats &f = Formats::current();
    QString s = f.dateTimeText(r.written);
    s += Tab + shownText(r.clientName) + Tab + shownText(r.service) + Tab
         + Formats::money(r.pricePerMin) + Tab + f.timeText(r.startTime) + Tab
         + f.timeText(r.elapsed) + Tab + f.timeText(r.endTime) + Tab + Formats::money(r.amount)
         + Tab + shownText(r.note) + Tab + shownText(r.status);
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
    ReportBuilder builder(dateBeg, dateEnd);
    const qsizetype count = journal.size() / RecordSize;
    qsizetype i = 0;
    while (i < count && builder.add(journal.constData() + i * RecordSize))
        ++i;
    if (i == count && journal.size() % RecordSize != 0)
        builder.setDamaged();
    return builder.finish();
}

PeriodReport buildPeriodReport(const QString &journalPath, DateTimeValue dateBeg,
                               DateTimeValue dateEnd)
{
    JournalFile file(journalPath);

    ReportBuilder builder(dateBeg, dateEnd);
    // What the file holds now; anything appended later is not read.
    off_t left = static_cast<off_t>(file.size());
    static constexpr size_t ChunkRecords = 768;
    std::vector<char> buffer(ChunkRecords * RecordSize);
    size_t carry = 0;
    bool stopped = false;
    while (left > 0 && !stopped) {
        const size_t want = static_cast<size_t>(std::min<off_t>(left, static_cast<off_t>(buffer.size() - carry)));
        const ssize_t n = ::read(file.fd(), buffer.data() + carry, want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A read that fails or finds the file shorter than it was.
            builder.setDamaged();
            stopped = true;
            break;
        }
        left -= n;
        const size_t have = carry + static_cast<size_t>(n);
        const size_t whole = have / RecordSize;
        for (size_t k = 0; k < whole; ++k) {
            if (!builder.add(buffer.data() + k * RecordSize)) {
                stopped = true;
                break;
            }
        }
        carry = have - whole * RecordSize;
        if (carry > 0 && !stopped)
            std::memmove(buffer.data(), buffer.data() + whole * RecordSize, carry);
    }
    if (!stopped && carry > 0)
        builder.setDamaged(); // a fragment shorter than a record at the end
    return builder.finish();
}

} // namespace bilmeko
