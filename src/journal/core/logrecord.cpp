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
    if (r.sessionId != 0) {
        for (int i = 0; i < 8; ++i)
            out[record::SessionId + i] = static_cast<char>((r.sessionId >> (8 * i)) & 0xFF);
        out[record::SealMark] = static_cast<char>(record::SealMarkValue);
    }
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
    r.sessionId = storedSessionId(bytes);
    return r;
}

// Eight bytes a step ("slicing by 8"): the report checks the checksum of
// every record it lists, a million of them in a big journal.
std::uint32_t crc32(const char *data, std::size_t size)
{
    static const auto tables = [] {
        std::array<std::array<std::uint32_t, 256>, 8> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 8; ++k)
                t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
        return t;
    }();
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    std::uint32_t c = 0xFFFFFFFFu;
    while (size >= 8) {
        const std::uint32_t lo = c ^ (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16
                                      | std::uint32_t(p[3]) << 24);
        const std::uint32_t hi = std::uint32_t(p[4]) | std::uint32_t(p[5]) << 8 | std::uint32_t(p[6]) << 16
                                 | std::uint32_t(p[7]) << 24;
        c = tables[7][lo & 0xFF] ^ tables[6][(lo >> 8) & 0xFF] ^ tables[5][(lo >> 16) & 0xFF] ^ tables[4][lo >> 24]
            ^ tables[3][hi & 0xFF] ^ tables[2][(hi >> 8) & 0xFF] ^ tables[1][(hi >> 16) & 0xFF] ^ tables[0][hi >> 24];
        p += 8;
        size -= 8;
    }
    while (size-- > 0)
        c = tables[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::uint64_t storedSessionId(const char *stored)
{
    if (static_cast<unsigned char>(stored[record::SealMark]) != record::SealMarkValue)
        return 0;
    std::uint64_t id = 0;
    for (int i = 0; i < 8; ++i)
        id |= static_cast<std::uint64_t>(static_cast<unsigned char>(stored[record::SessionId + i])) << (8 * i);
    return id;
}

void sealRecord(char *stored)
{
    if (static_cast<unsigned char>(stored[record::SealMark]) != record::SealMarkValue)
        return;
    const std::uint32_t c = crc32(stored, record::Checksum);
    for (int i = 0; i < 4; ++i)
        stored[record::Checksum + i] = static_cast<char>((c >> (8 * i)) & 0xFF);
}

RecordSeal recordSeal(const char *stored)
{
    if (static_cast<unsigned char>(stored[record::SealMark]) != record::SealMarkValue)
        return RecordSeal::Absent;
    std::uint32_t c = 0;
    for (int i = 0; i < 4; ++i)
        c |= static_cast<std::uint32_t>(static_cast<unsigned char>(stored[record::Checksum + i])) << (8 * i);
    return c == crc32(stored, record::Checksum) ? RecordSeal::Good : RecordSeal::Bad;
}

void ScrambleRecord(char *rec)
{
    for (int i = record::ScrambleFirst; i <= record::ScrambleLast; ++i)
        rec[i] = static_cast<char>(static_cast<unsigned char>(rec[i]) ^ ScrambleKey);
}

} // namespace bilmeko
