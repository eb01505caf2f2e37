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
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bilmeko {

namespace {

const QLatin1Char Newline('\n');

// Where the listed records lie in the journal, and the date each had when
// it was read (to tell the same record when it is read again). Positions
// are runs of consecutive records: a period of a journal in time order is
// one run however many records it holds. The dates are kept in blocks, so
// a million of them are never copied to make room.
class ListedRecords
{
public:
    qint64 count() const { return m_count; }

    // `record`: the record's number in the journal (its offset / 168).
    void add(qint64 record, double written)
    {
        if (record != m_next)
            m_runs.push_back({record, m_count});
        m_next = record + 1;
        const auto slot = static_cast<size_t>(m_count) & (BlockSize - 1);
        if (slot == 0) {
            m_blocks.push_back(std::make_unique_for_overwrite<double[]>(BlockSize));
            m_block = m_blocks.back().get();
        }
        m_block[slot] = written;
        ++m_count;
    }

    double written(qint64 i) const
    {
        return m_blocks[static_cast<size_t>(i) / BlockSize][static_cast<size_t>(i) & (BlockSize - 1)];
    }

    qint64 record(qint64 i) const
    {
        // Lines are mostly read in order: the run of the last look-up first.
        size_t r = m_lastRun;
        if (r >= m_runs.size() || m_runs[r].listed > i || (r + 1 < m_runs.size() && m_runs[r + 1].listed <= i)) {
            const auto after = std::upper_bound(m_runs.begin(), m_runs.end(), i,
                                                [](qint64 v, const Run &run) { return v < run.listed; });
            r = static_cast<size_t>(after - m_runs.begin()) - 1;
            m_lastRun = r;
        }
        return m_runs[r].record + (i - m_runs[r].listed);
    }

private:
    static constexpr size_t BlockSize = 65536; // 512 KiB of dates

    struct Run
    {
        qint64 record; // the first record of the run
        qint64 listed; // its number among the listed
    };
    std::vector<Run> m_runs;
    std::vector<std::unique_ptr<double[]>> m_blocks;
    double *m_block = nullptr;
    qint64 m_count = 0;
    qint64 m_next = -1;
    mutable size_t m_lastRun = 0;
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

// Texts already measured: a text seen before cannot widen its column
// again (client names, services, notes and statuses repeat). Keeps the
// stored bytes of a span of the record (a field, or several side by side)
// in slots chosen by a hash of all its bytes; the span was met before
// when its bytes are those of its slot.
template <int Offset, int Size, int Bits> class MeasuredSpans
{
public:
    // True when the span's bytes were met before; false the first time,
    // after which they count as met.
    bool seen(const char *stored)
    {
#if defined(__SSE2__)
        const char *span = stored + Offset;
        __m128i v[Loads];
#pragma GCC unroll 4
        for (int i = 0; i < Loads; ++i)
            v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(span + at(i)));
        __m128i mix = v[0];
#pragma GCC unroll 4
        for (int i = 1; i < Loads; ++i)
            mix = _mm_xor_si128(mix, _mm_slli_epi64(v[i], i));
        mix = _mm_xor_si128(mix, _mm_unpackhi_epi64(mix, mix));
        const auto hash = static_cast<std::uint64_t>(_mm_cvtsi128_si64(mix)) * 0x9E3779B97F4A7C15u;
        Slot &slot = m_slots[hash >> (64 - Bits)];
        __m128i same = _mm_cmpeq_epi8(v[0], slot.v[0]);
#pragma GCC unroll 4
        for (int i = 1; i < Loads; ++i)
            same = _mm_and_si128(same, _mm_cmpeq_epi8(v[i], slot.v[i]));
        if (slot.filled && _mm_movemask_epi8(same) == 0xFFFF)
            return true;
        for (int i = 0; i < Loads; ++i)
            slot.v[i] = v[i];
        slot.filled = true;
        return false;
#else
        (void)stored;
        return false;
#endif
    }

private:
#if defined(__SSE2__)
    // The span in 16-byte loads, the last ending at the span's end.
    static constexpr int Loads = (Size + 15) / 16;
    static constexpr int at(int i)
    {
        return i + 1 < Loads ? 16 * i : Size - 16;
    }
    static_assert(Size >= 16 && Offset + Size <= RecordSize);

    struct Slot
    {
        __m128i v[Loads];
        bool filled = false;
    };
    std::array<Slot, std::size_t(1) << Bits> m_slots{};
#endif
};

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
    uncounted += o.uncounted;
    damaged = damaged || o.damaged;
}

QString ReportTotals::damageMessage() const
{
    if (!damaged && leftOut == 0 && uncounted == 0)
        return {};
    QString m = QStringLiteral("Файл отчета разрушен");
    if (leftOut > 0)
        m += QStringLiteral(". Не вошло в отчет записей: %1").arg(leftOut);
    if (uncounted > 0)
        m += QStringLiteral(". Отмен без своего стопа (в отчете помечены «не учтена», в итог не вошли): %1")
                 .arg(uncounted);
    return m;
}

RecordFilter::RecordFilter(DateTimeValue dateBeg, DateTimeValue dateEnd) : m_beg(dateBeg), m_after(dateEnd + 1.0)
{
}

RecordFilter::Verdict RecordFilter::judge(const char *stored) const
{
    const double written = numberAt(stored, record::Written);
    if (!(written >= m_beg && written < m_after && saneWritten(written)))
        // A date no period holds: cannot tell where it belongs.
        return saneWritten(written) ? Outside : LeftOut;
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
    ListedRecords listed;
    // The listed reversals the totals leave out, in order: few in any
    // journal the desk wrote.
    std::vector<qint64> uncounted;
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
constexpr qint64 ScreenBytes = RecordSize * 256;

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
    ListedRecords &listed = d->listed;
    // The client apart; the service, note and status together, as they
    // mostly come in few combinations.
    auto clients = std::make_unique<MeasuredSpans<record::ClientName, record::ClientNameMax + 1, 10>>();
    auto others = std::make_unique<MeasuredSpans<record::Service, record::Checksum - record::Service, 7>>();
    CountedStops stops;
    constexpr double Inf = std::numeric_limits<double>::infinity();
    e.minPrice = e.minAmount = Inf;
    e.maxPrice = e.maxAmount = -Inf;
    const bool whole
        = scanJournal(*source, !filter.listsZeros(), [&](const char *records, qint64 count, qint64 offset) {
              // Held in registers over a piece; added in the same order as one
              // record at a time, so the totals are those of any other reading.
              long double amountSum = t.amount;
              long double timeSum = t.time;
              double minPrice = e.minPrice, maxPrice = e.maxPrice, minAmount = e.minAmount, maxAmount = e.maxAmount;
              std::array<float, 4> textWidths = e.textWidths;
              qint64 leftOut = 0;
              const qint64 first = offset / RecordSize;
              for (qint64 k = 0; k < count; ++k) {
                  const char *stored = records + k * RecordSize;
                  const RecordFilter::Verdict v = filter.judge(stored);
                  if (v != RecordFilter::Listed) {
                      leftOut += v == RecordFilter::LeftOut;
                      continue;
                  }
                  const double price = numberAt(stored, record::PricePerMin);
                  const double amount = numberAt(stored, record::Amount);
                  minPrice = std::min(minPrice, price);
                  maxPrice = std::max(maxPrice, price);
                  minAmount = std::min(minAmount, amount);
                  maxAmount = std::max(maxAmount, amount);
                  if (widths) {
                      // Texts met before, or too short to be wider than the
                      // widest so far even in the widest letters, are not measured.
                      auto measure = [&](int f) {
                          const int n = storedFieldLength(stored, TextFields[f][0], TextFields[f][1]);
                          if (static_cast<float>(n) * widest > textWidths[f])
                              textWidths[f] = std::max(
                                  textWidths[f], storedFieldWidth(stored, TextFields[f][0], TextFields[f][1], *widths));
                      };
                      if (!clients->seen(stored))
                          measure(0);
                      if (!others->seen(stored)) {
                          measure(1);
                          measure(2);
                          measure(3);
                      }
                  }
                  listed.add(first + k, numberAt(stored, record::Written));
                  if (!stops.counts(stored)) {
                      d->uncounted.push_back(listed.count() - 1);
                      continue;
                  }
                  amountSum += numberAt(stored, record::Amount);
                  timeSum += numberAt(stored, record::Elapsed);
              }
              t.amount = amountSum;
              t.time = timeSum;
              t.leftOut += leftOut;
              e.minPrice = minPrice;
              e.maxPrice = maxPrice;
              e.minAmount = minAmount;
              e.maxAmount = maxAmount;
              e.textWidths = textWidths;
          });
    t.listed = listed.count();
    t.uncounted = stops.uncounted();
    if (t.listed == 0)
        e.minPrice = e.maxPrice = e.minAmount = e.maxAmount = 0;
    // A failing read, or a fragment shorter than a record at the end.
    t.damaged = !whole || d->size % RecordSize != 0 || t.leftOut > 0 || t.uncounted > 0;
    return PeriodReport(d);
}

} // namespace

ReportTotals streamPeriodReport(const JournalSource &source, DateTimeValue dateBeg, DateTimeValue dateEnd,
                                const std::function<void(const char *plain, bool counted)> &listed,
                                const ReadProgress &progress)
{
    const RecordFilter filter(dateBeg, dateEnd);
    CountedStops stops;
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
                const bool counted = stops.counts(stored);
                if (counted)
                    addListed(t, stored);
                else
                    ++t.listed;
                unscrambleInto(stored, plain.data());
                listed(plain.data(), counted);
            }
        },
        progress);
    t.uncounted = stops.uncounted();
    t.damaged = !whole || source.size() % RecordSize != 0 || t.leftOut > 0 || t.uncounted > 0;
    return t;
}

PeriodReport::PeriodReport(std::shared_ptr<Data> data) : d(std::move(data))
{
}

PeriodReport::PeriodReport() : d(std::make_shared<Data>())
{
    d->source = std::make_shared<MemorySource>(QByteArray());
}

qsizetype PeriodReport::recordCount() const
{
    return static_cast<qsizetype>(d->listed.count());
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

bool PeriodReport::counted(qsizetype i) const
{
    return !std::binary_search(d->uncounted.begin(), d->uncounted.end(), static_cast<qint64>(i));
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
    return d->listed.written(i);
}

const char *PeriodReport::recordBytes(qsizetype i) const
{
    const char *stored = storedBytes(i);
    if (!stored)
        return nullptr;
    const double written = d->listed.written(i);
    if (std::memcmp(stored + record::Written, &written, sizeof written) != 0 || !trustedRecord(stored))
        return nullptr;
    std::memcpy(d->plain.data(), stored, RecordSize);
    ScrambleRecord(d->plain);
    return d->plain.data();
}

const char *PeriodReport::storedBytes(qsizetype i) const
{
    const qint64 offset = d->listed.record(i) * RecordSize;
    if (offset < d->cacheFrom || offset + RecordSize > d->cacheFrom + d->cacheSize) {
        if (!d->cache)
            d->cache = std::make_unique<PieceBuffer>(CacheBytes);
        // Reading on (printing, saving) takes large pieces; the first screen
        // or a jump back only what a screen shows.
        const qint64 piece = d->cacheSize > 0 && offset > d->cacheFrom ? CacheBytes : ScreenBytes;
        const qint64 want = std::min<qint64>(piece, d->size - offset);
        const qint64 got = d->source->readAt(offset, d->cache->data(), want);
        d->cacheFrom = offset;
        d->cacheSize = std::max<qint64>(got, 0);
        if (d->cacheSize < RecordSize)
            return nullptr;
    }
    return d->cache->data() + (offset - d->cacheFrom);
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
        const char *stored = storedBytes(i);
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
    RecordFields f = RecordFields::fromPlain(r);
    f.uncounted = !counted(i);
    return d->writer->line(f);
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
