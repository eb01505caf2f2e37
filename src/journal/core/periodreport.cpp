#include "periodreport.h"

#include "common/core/codepage.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journalfile.h"

#include <QFile>

#include <bit>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bilmeko {

namespace {

const QLatin1Char Tab('\t');
const QLatin1Char Newline('\n');

// Beyond these a number is not a value the program wrote but noise. Money
// of 1e13 and more has no exact cents in a double any more.
constexpr double MaxTimeDays = 1e6;
constexpr double MaxMoney = 1e13;

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
    return v >= first && v < after; // false for NaN
}

// A little-endian double of a record, as readDouble gives it, without the
// call: the report reads several for every record of the journal.
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

// The numbers after `Written` (none of them scrambled).
bool saneNumbers(const char *stored)
{
    return saneMoney(numberAt(stored, record::PricePerMin)) && saneTime(numberAt(stored, record::StartTime))
           && saneTime(numberAt(stored, record::Elapsed)) && saneTime(numberAt(stored, record::EndTime))
           && saneMoney(numberAt(stored, record::Amount));
}

// roundToMs(|v|) without the library call: the report rounds four values
// of every line it writes. Exact: cutting off the whole part of a double
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
        put(shownText(cp1251::decode(field + 1, n)));
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


// Formats the line of one record from its unscrambled bytes; exactly what
// reportLine gives for the record.
class LineWriter
{
public:
    LineWriter()
        : m_formats(Formats::current())
        , m_times(m_formats)
    {
    }

    QString line(const char *r)
    {
        LineBuffer &line = m_line;
        const double written = numberAt(r, record::Written);
        putDateTime(line, written);
        line.put(u'\t');
        line.putShortString(r + record::ClientName, record::ClientNameMax);
        line.put(u'\t');
        line.putShortString(r + record::Service, record::ShortMax);
        line.put(u'\t');
        putMoney(line, numberAt(r, record::PricePerMin));
        line.put(u'\t');
        m_times.put(line, msOfDay(numberAt(r, record::StartTime)));
        line.put(u'\t');
        m_times.put(line, msOfDay(numberAt(r, record::Elapsed)));
        line.put(u'\t');
        m_times.put(line, msOfDay(numberAt(r, record::EndTime)));
        line.put(u'\t');
        putMoney(line, numberAt(r, record::Amount));
        line.put(u'\t');
        line.putShortString(r + record::Note, record::ShortMax);
        line.put(u'\t');
        line.putShortString(r + record::Status, record::ShortMax);
        QString out;
        line.appendTo(out);
        return out;
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

    void putMoney(LineBuffer &line, double v)
    {
        char16_t *p = line.reserve(MoneyTextMax);
        line.commit(writeMoney(v, p));
    }

    const Formats &m_formats;
    TimeWriter m_times;
    LineBuffer m_line;
    qint64 m_day = 0;
    QString m_dateText;
};

// Where the journal's bytes come from when lines are read again.
class JournalSource
{
public:
    virtual ~JournalSource() = default;
    // Up to n bytes at an offset; the count read, -1 on a failure.
    virtual qint64 readAt(qint64 offset, char *out, qint64 n) const = 0;
};

class MemorySource : public JournalSource
{
public:
    explicit MemorySource(const QByteArray &bytes)
        : m_bytes(bytes)
    {
    }
    qint64 readAt(qint64 offset, char *out, qint64 n) const override
    {
        if (offset < 0 || offset >= m_bytes.size())
            return 0;
        n = std::min<qint64>(n, m_bytes.size() - offset);
        std::memcpy(out, m_bytes.constData() + offset, static_cast<size_t>(n));
        return n;
    }

private:
    QByteArray m_bytes;
};

class FileSource : public JournalSource
{
public:
    explicit FileSource(int fd)
        : m_fd(fd)
    {
    }
    ~FileSource() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int fd() const { return m_fd; }
    qint64 readAt(qint64 offset, char *out, qint64 n) const override
    {
        qint64 done = 0;
        while (done < n) {
            const ssize_t got = ::pread(m_fd, out + done, static_cast<size_t>(n - done), static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return done > 0 ? done : -1;
            if (got == 0)
                break;
            done += got;
        }
        return done;
    }

private:
    int m_fd;
};

struct Selected
{
    qint64 offset;
    double written; // as stored, to tell the same record when read again
};

// Text fields measured while reading: offset, maximum.
constexpr int TextFields[4][2] = {{record::ClientName, record::ClientNameMax},
                                  {record::Service, record::ShortMax},
                                  {record::Note, record::ShortMax},
                                  {record::Status, record::ShortMax}};

// The width of a short string field of the stored (scrambled) bytes.
inline float storedFieldWidth(const char *stored, int offset, int max, const CharWidths &w)
{
    const int n = std::min<int>(static_cast<unsigned char>(stored[offset]) ^ ScrambleKey, max);
    float sum = 0;
    for (int k = 1; k <= n; ++k) {
        const int at = offset + k;
        const unsigned char b = static_cast<unsigned char>(stored[at]) ^ (at <= record::ScrambleLast ? ScrambleKey : 0);
        sum += w[b];
    }
    return sum;
}

} // namespace

struct PeriodReport::Data
{
    std::shared_ptr<JournalSource> source;
    qint64 size = 0; // of the journal when it was read
    std::vector<Selected> selected;
    double amount = 0;
    long double time = 0;
    bool damaged = false;
    qsizetype leftOut = 0;
    ReportExtent extent;
    CharWidths widths{};
    DateTimeValue beg = 0;
    DateTimeValue end = 0;

    // Lines are read again a piece of the journal at a time.
    std::vector<char> cache;
    qint64 cacheFrom = 0;
    qint64 cacheSize = 0;
    RecordBytes plain{};
    std::unique_ptr<LineWriter> writer;
};

// Takes the journal's records one by one as they come from the file.
class ReportReader
{
public:
    ReportReader(std::shared_ptr<PeriodReport::Data> d, DateTimeValue dateBeg, DateTimeValue dateEnd,
                 const CharWidths *widths)
        : m_d(std::move(d))
        , m_beg(dateBeg)
        , m_after(dateEnd + 1.0)
        , m_widths(widths)
    {
        m_d->beg = dateBeg;
        m_d->end = dateEnd;
        if (widths) {
            m_d->widths = *widths;
            m_d->extent.measured = true;
        }
    }

    void take(const char *stored, qint64 offset)
    {
        const double written = numberAt(stored, record::Written);
        if (!saneWritten(written)) {
            ++m_d->leftOut; // a date no period holds: cannot tell where it belongs
            return;
        }
        if (!(written >= m_beg && written < m_after))
            return;
        if (!saneNumbers(stored) || recordSeal(stored) == RecordSeal::Bad) {
            ++m_d->leftOut;
            return;
        }
        const double price = numberAt(stored, record::PricePerMin);
        const double amount = numberAt(stored, record::Amount);
        ReportExtent &e = m_d->extent;
        if (m_d->selected.empty()) {
            e.minPrice = e.maxPrice = price;
            e.minAmount = e.maxAmount = amount;
        } else {
            e.minPrice = std::min(e.minPrice, price);
            e.maxPrice = std::max(e.maxPrice, price);
            e.minAmount = std::min(e.minAmount, amount);
            e.maxAmount = std::max(e.maxAmount, amount);
        }
        if (m_widths) {
            for (int f = 0; f < 4; ++f)
                e.textWidths[f] = std::max(e.textWidths[f], storedFieldWidth(stored, TextFields[f][0], TextFields[f][1], *m_widths));
        }
        m_d->selected.push_back({offset, written});
        m_d->amount += amount;
        m_d->time += numberAt(stored, record::Elapsed);
    }

    void setDamaged() { m_d->damaged = true; }

    PeriodReport finish(qint64 size)
    {
        m_d->size = size;
        m_d->selected.shrink_to_fit();
        if (m_d->leftOut > 0)
            m_d->damaged = true;
        PeriodReport r;
        r.d = m_d;
        return r;
    }

private:
    std::shared_ptr<PeriodReport::Data> m_d;
    const double m_beg;
    const double m_after;
    const CharWidths *m_widths;
};

namespace {

constexpr qint64 CacheBytes = RecordSize * 6144; // about 1 MiB

// Reads an open journal from the start up to `size`, record by record.
PeriodReport readJournal(std::shared_ptr<FileSource> source, qint64 size, DateTimeValue dateBeg,
                         DateTimeValue dateEnd, const CharWidths *widths)
{
    auto d = std::make_shared<PeriodReport::Data>();
    d->source = source;
    ReportReader reader(d, dateBeg, dateEnd, widths);
    std::vector<char> buffer(CacheBytes);
    qint64 at = 0;
    const qint64 whole = size / RecordSize * RecordSize;
    while (at < whole) {
        const qint64 want = std::min<qint64>(whole - at, CacheBytes);
        const qint64 got = source->readAt(at, buffer.data(), want);
        const qint64 records = std::max<qint64>(got, 0) / RecordSize;
        for (qint64 k = 0; k < records; ++k)
            reader.take(buffer.data() + k * RecordSize, at + k * RecordSize);
        if (got < want) {
            reader.setDamaged(); // a read that fails or finds the file shorter than it was
            return reader.finish(size);
        }
        at += got;
    }
    if (size != whole)
        reader.setDamaged(); // a fragment shorter than a record at the end
    return reader.finish(size);
}

} // namespace

PeriodReport::PeriodReport()
    : d(std::make_shared<Data>())
{
    d->source = std::make_shared<MemorySource>(QByteArray());
}

qsizetype PeriodReport::recordCount() const
{
    return static_cast<qsizetype>(d->selected.size());
}

double PeriodReport::amountTotal() const
{
    return d->amount;
}

long double PeriodReport::timeTotal() const
{
    return d->time;
}

QString PeriodReport::sumText() const
{
    return Formats::money(d->amount);
}

QString PeriodReport::timeText() const
{
    return hmsText(d->time);
}

bool PeriodReport::damaged() const
{
    return d->damaged;
}

qsizetype PeriodReport::leftOut() const
{
    return d->leftOut;
}

QString PeriodReport::damageMessage() const
{
    if (!d->damaged)
        return {};
    QString m = QStringLiteral("Файл отчета разрушен");
    if (d->leftOut > 0)
        m += QStringLiteral(". Не вошло в отчет записей: %1").arg(d->leftOut);
    return m;
}

const ReportExtent &PeriodReport::extent() const
{
    return d->extent;
}

DateTimeValue PeriodReport::dateBeg() const
{
    return d->beg;
}

DateTimeValue PeriodReport::dateEnd() const
{
    return d->end;
}

DateTimeValue PeriodReport::written(qsizetype i) const
{
    return d->selected[static_cast<size_t>(i)].written;
}

const char *PeriodReport::recordBytes(qsizetype i) const
{
    const Selected &s = d->selected[static_cast<size_t>(i)];
    if (s.offset < d->cacheFrom || s.offset + RecordSize > d->cacheFrom + d->cacheSize) {
        d->cache.resize(CacheBytes);
        const qint64 want = std::min<qint64>(CacheBytes, d->size - s.offset);
        const qint64 got = d->source->readAt(s.offset, d->cache.data(), want);
        d->cacheFrom = s.offset;
        d->cacheSize = std::max<qint64>(got, 0);
        if (d->cacheSize < RecordSize)
            return nullptr;
    }
    const char *stored = d->cache.data() + (s.offset - d->cacheFrom);
    if (std::memcmp(stored + record::Written, &s.written, sizeof s.written) != 0 || !trustedRecord(stored))
        return nullptr;
    std::memcpy(d->plain.data(), stored, RecordSize);
    ScrambleRecord(d->plain);
    return d->plain.data();
}

bool PeriodReport::readRecord(qsizetype i, LogRecord &out) const
{
    const char *r = recordBytes(i);
    if (!r) {
        out = LogRecord();
        out.written = written(i);
        return false;
    }
    out = deserializeRecord(r);
    return true;
}

LogRecord PeriodReport::record(qsizetype i) const
{
    LogRecord r;
    readRecord(i, r);
    return r;
}

void PeriodReport::forEachSelected(const std::function<void(qsizetype, const LogRecord &)> &f) const
{
    LogRecord r;
    for (qsizetype i = 0; i < recordCount(); ++i) {
        readRecord(i, r);
        f(i, r);
    }
}

std::array<float, 4> PeriodReport::measureTexts(const CharWidths &widths) const
{
    if (d->extent.measured && d->widths == widths)
        return d->extent.textWidths;
    std::array<float, 4> out{};
    for (qsizetype i = 0; i < recordCount(); ++i) {
        if (!recordBytes(i))
            continue;
        const char *stored = d->cache.data() + (d->selected[static_cast<size_t>(i)].offset - d->cacheFrom);
        for (int f = 0; f < 4; ++f)
            out[f] = std::max(out[f], storedFieldWidth(stored, TextFields[f][0], TextFields[f][1], widths));
    }
    return out;
}

QString PeriodReport::recordLine(qsizetype i) const
{
    const char *r = recordBytes(i);
    if (!r)
        return Formats::current().dateTimeText(written(i))
               + QStringLiteral("\t(запись журнала изменилась после построения отчета)");
    if (!d->writer)
        d->writer = std::make_unique<LineWriter>();
    return d->writer->line(r);
}

QString PeriodReport::line(qsizetype n) const
{
    if (n == 0)
        return header();
    if (n > recordCount())
        return totalsLine();
    return recordLine(n - 1);
}

QString PeriodReport::header() const
{
    return reportHeader();
}

QString PeriodReport::totalsLine() const
{
    return totalsText(d->amount, d->time);
}

QStringList PeriodReport::recordLines() const
{
    QStringList out;
    out.reserve(recordCount());
    for (qsizetype i = 0; i < recordCount(); ++i)
        out << recordLine(i);
    return out;
}

QStringList PeriodReport::lines() const
{
    QStringList out;
    out.reserve(lineCount());
    for (qsizetype n = 0; n < lineCount(); ++n)
        out << line(n);
    return out;
}

QString PeriodReport::text() const
{
    return lines().join(Newline);
}

bool trustedRecord(const char *stored)
{
    return saneWritten(numberAt(stored, record::Written)) && saneNumbers(stored)
           && recordSeal(stored) != RecordSeal::Bad;
}

QString reportTitle(DateTimeValue dateBeg, DateTimeValue dateEnd)
{
    const Formats &f = Formats::current();
    const QString from = f.dateText(dateBeg);
    const QString to = f.dateText(dateEnd);
    return QStringLiteral("Отчет о работе салона: ") + (from == to ? from : from + QStringLiteral(" – ") + to);
}

PeriodReport buildPeriodReport(const QByteArray &journal, DateTimeValue dateBeg, DateTimeValue dateEnd,
                               const CharWidths *widths)
{
    auto d = std::make_shared<PeriodReport::Data>();
    d->source = std::make_shared<MemorySource>(journal);
    ReportReader reader(d, dateBeg, dateEnd, widths);
    const qsizetype count = journal.size() / RecordSize;
    for (qsizetype i = 0; i < count; ++i)
        reader.take(journal.constData() + i * RecordSize, i * RecordSize);
    if (journal.size() % RecordSize != 0)
        reader.setDamaged();
    return reader.finish(journal.size());
}

PeriodReport buildPeriodReport(const QString &journalPath, DateTimeValue dateBeg, DateTimeValue dateEnd,
                               const CharWidths *widths)
{
    JournalFile file(journalPath);
    const int fd = ::fcntl(file.fd(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        throw IoError::fromErrno(errno);
    // What the file holds now; anything appended later is not read.
    return readJournal(std::make_shared<FileSource>(fd), file.size(), dateBeg, dateEnd, widths);
}

PeriodReport readPeriodReport(const QString &journalPath, DateTimeValue dateBeg, DateTimeValue dateEnd)
{
    const QByteArray name = QFile::encodeName(journalPath);
    int fd;
    do
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw IoError::fromErrno(errno);
    auto source = std::make_shared<FileSource>(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw IoError::fromErrno(errno);
    if (!S_ISREG(st.st_mode))
        throw IoError::fromErrno(EISDIR);
    return readJournal(source, st.st_size, dateBeg, dateEnd, nullptr);
}

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

} // namespace bilmeko
