#include "periodreport.h"

#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journalfile.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>

namespace bilmeko {

namespace {

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


// The numbers after `Written` (none of them scrambled).
bool saneNumbers(const char *stored)
{
    return saneMoney(numberAt(stored, record::PricePerMin)) && saneTime(numberAt(stored, record::StartTime))
           && saneTime(numberAt(stored, record::Elapsed)) && saneTime(numberAt(stored, record::EndTime))
           && saneMoney(numberAt(stored, record::Amount));
}

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

// The length of a short string field of the stored (scrambled) bytes.
inline int storedFieldLength(const char *stored, int offset, int max)
{
    return std::min<int>(static_cast<unsigned char>(stored[offset]) ^ ScrambleKey, max);
}

// The width of a short string field of the stored (scrambled) bytes, in
// four sums, so the additions do not wait for each other.
inline float storedFieldWidth(const char *stored, int offset, int max, const CharWidths &w)
{
    const int n = storedFieldLength(stored, offset, max);
    const auto *p = reinterpret_cast<const unsigned char *>(stored) + offset + 1;
    // The status's last bytes lie past the scrambled range.
    const int scrambled = std::min(n, record::ScrambleLast - offset);
    float s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    int k = 0;
    for (; k + 4 <= scrambled; k += 4) {
        s0 += w[p[k] ^ ScrambleKey];
        s1 += w[p[k + 1] ^ ScrambleKey];
        s2 += w[p[k + 2] ^ ScrambleKey];
        s3 += w[p[k + 3] ^ ScrambleKey];
    }
    for (; k < scrambled; ++k)
        s0 += w[p[k] ^ ScrambleKey];
    for (; k < n; ++k)
        s1 += w[p[k]];
    return (s0 + s1) + (s2 + s3);
}

// The record's bytes with its texts unscrambled, as ScrambleRecord gives
// them, eight bytes a step: the headless report does it for every record.
inline void unscrambleInto(const char *stored, char *plain)
{
    std::memcpy(plain, stored, RecordSize);
    constexpr std::uint64_t key = 0x0101010101010101ull * ScrambleKey;
    int at = record::ScrambleFirst;
    for (; at + 8 <= record::ScrambleLast + 1; at += 8) {
        std::uint64_t w;
        std::memcpy(&w, plain + at, 8);
        w ^= key;
        std::memcpy(plain + at, &w, 8);
    }
    for (; at <= record::ScrambleLast; ++at)
        plain[at] = static_cast<char>(plain[at] ^ ScrambleKey);
}

// Adds a listed record's numbers to the totals.
inline void addListed(ReportTotals &t, const char *stored)
{
    ++t.listed;
    t.amount += numberAt(stored, record::Amount);
    t.time += numberAt(stored, record::Elapsed);
}

} // namespace

void ReportTotals::add(const ReportTotals &o)
{
    amount += o.amount;
    time += o.time;
    listed += o.listed;
    leftOut += o.leftOut;
    damaged = damaged || o.damaged;
}

QString ReportTotals::damageMessage() const
{
    if (!damaged && leftOut == 0)
        return {};
    QString m = QStringLiteral("Файл отчета разрушен");
    if (leftOut > 0)
        m += QStringLiteral(". Не вошло в отчет записей: %1").arg(leftOut);
    return m;
}

RecordFilter::RecordFilter(DateTimeValue dateBeg, DateTimeValue dateEnd)
    : m_beg(dateBeg)
    , m_after(dateEnd + 1.0)
{
}

RecordFilter::Verdict RecordFilter::judge(const char *stored) const
{
    const double written = numberAt(stored, record::Written);
    if (!saneWritten(written))
        return LeftOut; // a date no period holds: cannot tell where it belongs
    if (!(written >= m_beg && written < m_after))
        return Outside;
    if (!saneNumbers(stored) || recordSeal(stored) == RecordSeal::Bad)
        return LeftOut;
    return Listed;
}

bool RecordFilter::listsZeros() const
{
    return 0.0 >= m_beg && 0.0 < m_after;
}

struct PeriodReport::Data
{
    std::shared_ptr<JournalSource> source;
    qint64 size = 0; // of the journal when it was read
    std::vector<Selected> selected;
    ReportTotals totals;
    ReportExtent extent;
    CharWidths widths{};
    DateTimeValue beg = 0;
    DateTimeValue end = 0;

    // Lines are read again a piece of the journal at a time.
    std::unique_ptr<PieceBuffer> cache;
    qint64 cacheFrom = 0;
    qint64 cacheSize = 0;
    RecordBytes plain{};
    std::unique_ptr<LineWriter> writer;
};

namespace {

constexpr qint64 CacheBytes = RecordSize * 6144; // about 1 MiB

// Reads a journal from its start, keeping where the listed records lie and
// measuring what the window needs to fit its columns.
PeriodReport readJournal(std::shared_ptr<JournalSource> source, DateTimeValue dateBeg, DateTimeValue dateEnd,
                         const CharWidths *widths)
{
    auto d = std::make_shared<PeriodReport::Data>();
    d->source = source;
    d->size = source->size();
    d->beg = dateBeg;
    d->end = dateEnd;
    if (widths) {
        d->widths = *widths;
        d->extent.measured = true;
    }
    const RecordFilter filter(dateBeg, dateEnd);
    const float widest = widths ? *std::max_element(widths->begin(), widths->end()) : 0;
    ReportTotals &t = d->totals;
    ReportExtent &e = d->extent;
    const bool whole = scanJournal(*source, !filter.listsZeros(), [&](const char *records, qint64 count, qint64 offset) {
        for (qint64 k = 0; k < count; ++k) {
            const char *stored = records + k * RecordSize;
            const RecordFilter::Verdict v = filter.judge(stored);
            if (v != RecordFilter::Listed) {
                t.leftOut += v == RecordFilter::LeftOut;
                continue;
            }
            const double price = numberAt(stored, record::PricePerMin);
            const double amount = numberAt(stored, record::Amount);
            if (d->selected.empty()) {
                e.minPrice = e.maxPrice = price;
                e.minAmount = e.maxAmount = amount;
            } else {
                e.minPrice = std::min(e.minPrice, price);
                e.maxPrice = std::max(e.maxPrice, price);
                e.minAmount = std::min(e.minAmount, amount);
                e.maxAmount = std::max(e.maxAmount, amount);
            }
            if (widths) {
                // A text too short to be wider than the widest so far,
                // even in the widest letters, is not measured.
                for (int f = 0; f < 4; ++f) {
                    const int n = storedFieldLength(stored, TextFields[f][0], TextFields[f][1]);
                    if (static_cast<float>(n) * widest > e.textWidths[f])
                        e.textWidths[f] = std::max(e.textWidths[f], storedFieldWidth(stored, TextFields[f][0], TextFields[f][1], *widths));
                }
            }
            d->selected.push_back({offset + k * RecordSize, numberAt(stored, record::Written)});
            addListed(t, stored);
        }
    });
    // A failing read, or a fragment shorter than a record at the end.
    t.damaged = !whole || d->size % RecordSize != 0 || t.leftOut > 0;
    d->selected.shrink_to_fit();
    return PeriodReport(d);
}

} // namespace

ReportTotals streamPeriodReport(const JournalSource &source, DateTimeValue dateBeg, DateTimeValue dateEnd,
                                const std::function<void(const char *plain)> &listed, const ReadProgress &progress)
{
    const RecordFilter filter(dateBeg, dateEnd);
    ReportTotals t;
    RecordBytes plain;
    const bool whole = scanJournal(
        source, !filter.listsZeros(),
        [&](const char *records, qint64 count, qint64) {
            for (qint64 k = 0; k < count; ++k) {
                const char *stored = records + k * RecordSize;
                const RecordFilter::Verdict v = filter.judge(stored);
                if (v != RecordFilter::Listed) {
                    t.leftOut += v == RecordFilter::LeftOut;
                    continue;
                }
                addListed(t, stored);
                unscrambleInto(stored, plain.data());
                listed(plain.data());
            }
        },
        progress);
    t.damaged = !whole || source.size() % RecordSize != 0 || t.leftOut > 0;
    return t;
}

PeriodReport::PeriodReport(std::shared_ptr<Data> data)
    : d(std::move(data))
{
}

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
    return static_cast<double>(d->totals.amount);
}

long double PeriodReport::timeTotal() const
{
    return d->totals.time;
}

QString PeriodReport::sumText() const
{
    return Formats::money(amountTotal());
}

QString PeriodReport::timeText() const
{
    return hmsText(d->totals.time);
}

bool PeriodReport::damaged() const
{
    return d->totals.damaged;
}

qsizetype PeriodReport::leftOut() const
{
    return static_cast<qsizetype>(d->totals.leftOut);
}

QString PeriodReport::damageMessage() const
{
    return d->totals.damageMessage();
}

const ReportTotals &PeriodReport::totals() const
{
    return d->totals;
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
        if (!d->cache)
            d->cache = std::make_unique<PieceBuffer>(CacheBytes);
        const qint64 want = std::min<qint64>(CacheBytes, d->size - s.offset);
        const qint64 got = d->source->readAt(s.offset, d->cache->data(), want);
        d->cacheFrom = s.offset;
        d->cacheSize = std::max<qint64>(got, 0);
        if (d->cacheSize < RecordSize)
            return nullptr;
    }
    const char *stored = d->cache->data() + (s.offset - d->cacheFrom);
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
        const char *stored = d->cache->data() + (d->selected[static_cast<size_t>(i)].offset - d->cacheFrom);
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
    return d->writer->line(RecordFields::fromPlain(r));
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
    return totalsText(amountTotal(), d->totals.time);
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

PeriodReport buildPeriodReport(const QByteArray &journal, DateTimeValue dateBeg, DateTimeValue dateEnd,
                               const CharWidths *widths)
{
    return readJournal(std::make_shared<MemorySource>(journal), dateBeg, dateEnd, widths);
}

PeriodReport buildPeriodReport(const QString &journalPath, DateTimeValue dateBeg, DateTimeValue dateEnd,
                               const CharWidths *widths)
{
    JournalFile file(journalPath);
    const int fd = ::fcntl(file.fd(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        throw IoError::fromErrno(errno);
    // What the file holds now; anything appended later is not read. A pipe
    // or a device is refused before anything is read from it.
    return readJournal(std::make_shared<FileSource>(fd, journalPath), dateBeg, dateEnd, widths);
}

PeriodReport readPeriodReport(const QString &journalPath, DateTimeValue dateBeg, DateTimeValue dateEnd)
{
    return readJournal(FileSource::openForReading(journalPath), dateBeg, dateEnd, nullptr);
}

} // namespace bilmeko
