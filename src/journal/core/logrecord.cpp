#include "logrecord.h"

#include "common/core/codepage.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace bilmeko {

namespace {

void putDouble(char *out, int offset, double v)
{
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i)
        out[offset + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
}

void putShortString(char *out, int offset, int max, const QString &text)
{
    const QByteArray bytes = cp1251::encode(cp1251::cut(text, max));
    const int n = static_cast<int>(std::min<qsizetype>(bytes.size(), max));
    out[offset] = static_cast<char>(n);
    std::memcpy(out + offset + 1, bytes.constData(), static_cast<size_t>(n));
}

QString getShortString(const char *in, int offset, int max)
{
    const int n = std::min<int>(static_cast<unsigned char>(in[offset]), max);
    return cp1251::decode(in + offset + 1, n);
}

} // namespace

double readDouble(const char *bytes, int offset)
{
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i)
        bits |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    return std::bit_cast<double>(bits);
}

RecordBytes serializeRecord(const LogRecord &r)
{
    RecordBytes out{};
    putDouble(out.data(), record::Written, r.written);
    putDouble(out.data(), record::PricePerMin, r.pricePerMin);
    putDouble(out.data(), record::StartTime, r.startTime);
    putDouble(out.data(), record::Elapsed, r.elapsed);
    putDouble(out.data(), record::EndTime, r.endTime);
    putDouble(out.data(), record::Amount, r.amount);
    putShortString(out.data(), record::ClientName, record::ClientNameMax, r.clientName);
    putShortString(out.data(), record::Service, record::ShortMax, r.service);
    putShortString(out.data(), record::Note, record::ShortMax, r.note);
    putShortString(out.data(), record::Status, record::ShortMax, r.status);
    return out;
}

LogRecord deserializeRecord(const char *bytes)
{
    LogRecord r;
    r.written = readDouble(bytes, record::Written);
    r.pricePerMin = readDouble(bytes, record::PricePerMin);
    r.startTime = readDouble(bytes, record::StartTime);
    r.elapsed = readDouble(bytes, record::Elapsed);
    r.endTime = readDouble(bytes, record::EndTime);
    r.amount = readDouble(bytes, record::Amount);
    r.clientName = getShortString(bytes, record::ClientName, record::ClientNameMax);
    r.service = getShortString(bytes, record::Service, record::ShortMax);
    r.note = getShortString(bytes, record::Note, record::ShortMax);
    r.status = getShortString(bytes, record::Status, record::ShortMax);
    return r;
}

void ScrambleRecord(char *rec)
{
    for (int i = record::ScrambleFirst; i <= record::ScrambleLast; ++i)
        rec[i] = static_cast<char>(static_cast<unsigned char>(rec[i]) ^ ScrambleKey);
}

} // namespace bilmeko
