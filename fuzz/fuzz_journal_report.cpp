// Arbitrary journal bytes and bounds through the record reader and the
// period report: no crash, no read outside the data, consistent totals,
// every record counted once.

#include "common/core/formats.h"
#include "journal/core/logrecord.h"
#include "journal/core/periodreport.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace bilmeko;

namespace {
double boundFrom(const std::uint8_t *p)
{
    double v;
    std::memcpy(&v, p, sizeof v);
    // Mostly sensible days, sometimes the raw value (NaN, huge, negative).
    if (p[7] & 0x80)
        return v;
    return 36526.0 + static_cast<double>((p[0] | (p[1] << 8)) % 20000);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool init = [] {
        Formats::setCurrent(Formats::russian());
        return true;
    }();
    (void)init;
    if (size < 16)
        return 0;
    const double beg = boundFrom(data);
    const double end = boundFrom(data + 8);
    const QByteArray journal(reinterpret_cast<const char *>(data + 16), static_cast<qsizetype>(size - 16));

    for (qsizetype at = 0; at + RecordSize <= journal.size(); at += RecordSize) {
        RecordBytes rec;
        std::memcpy(rec.data(), journal.constData() + at, RecordSize);
        ScrambleRecord(rec);
        const LogRecord r = deserializeRecord(rec.data());
        if (r.clientName.size() > 40 || r.service.size() > 20 || r.note.size() > 20 || r.status.size() > 20)
            std::abort();
    }

    const PeriodReport report = buildPeriodReport(journal, beg, end);
    const QStringList lines = report.lines();
    if (lines.size() != report.recordCount() + 2)
        std::abort();
    if (report.recordCount() > journal.size() / RecordSize)
        std::abort();
    if (lines.first() != reportHeader() || lines.last() != report.totalsLine())
        std::abort();
    if (!report.damaged() && journal.size() % RecordSize != 0)
        std::abort(); // a fragment is damage
    if (report.recordCount() + report.leftOut() > journal.size() / RecordSize)
        std::abort(); // each record listed or left out at most once
    if ((report.leftOut() > 0) != report.damageMessage().contains(QStringLiteral("Не вошло")))
        std::abort();
    // Every listed record reads back whole, with the date it was listed by.
    for (qsizetype i = 0; i < report.recordCount(); ++i) {
        LogRecord r;
        if (!report.readRecord(i, r) || r.written != report.written(i))
            std::abort();
    }
    return 0;
}
