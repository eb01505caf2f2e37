#include "logrecord.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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
        const auto method = static_cast<std::uint8_t>(static_cast<std::uint8_t>(r.payment) & 3);
        const std::uint8_t mark = (r.reversal ? record::ReversalMarkValue : record::SealMarkValue)
            | static_cast<std::uint8_t>(method << record::PaymentShift) | (r.abonement ? record::AbonementFlag : 0);
        out[record::SealMark] = static_cast<char>(mark);
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
    r.reversal = isReversalRecord(bytes);
    r.payment = storedPayment(bytes);
    r.abonement = isAbonementRecord(bytes);
    return r;
}

namespace {

const std::array<std::uint32_t, 256> &crcTable()
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

// The running register over bytes, one at a time.
std::uint32_t crcBytes(std::uint32_t c, const unsigned char *p, std::size_t size)
{
    const auto &t = crcTable();
    while (size-- > 0)
        c = t[(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define BILMEKO_CRC_CLMUL 1
__attribute__((target("pclmul,sse4.1"))) inline __m128i clmulFold(__m128i a, __m128i k, __m128i next)
{
    const __m128i lo = _mm_clmulepi64_si128(a, k, 0x00);
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x11), next), lo);
}

// x^n modulo the polynomial, bit-reflected and shifted as the carry-less
// multiply wants it: the constant that moves 64 bits of the register n - 32
// bits further along the message.
constexpr std::uint64_t foldConstant(int n)
{
    std::uint64_t r = 1;
    for (int i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x100000000u)
            r ^= 0x104C11DB7u;
    }
    std::uint64_t reflected = 0;
    for (int i = 0; i < 32; ++i)
        if ((r >> i) & 1)
            reflected |= std::uint64_t(1) << (31 - i);
    return reflected << 1;
}
static_assert(foldConstant(160) == 0x01751997d0 && foldConstant(96) == 0x00ccaa009e && foldConstant(544) == 0x0154442bd4
              && foldConstant(64) == 0x0163cd6124);

// The 128-bit register down to the 32-bit CRC register: to 64 bits, then
// Barrett reduction.
__attribute__((target("pclmul,sse4.1"))) inline std::uint32_t clmulReduce(__m128i x1)
{
    alignas(16) static const std::uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
    alignas(16) static const std::uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
    alignas(16) static const std::uint64_t poly[] = {0x01db710641, 0x01f7011641};
    __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i *>(k3k4));
    __m128i x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
    const __m128i x3 = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, x3), x0, 0x00), x2);
    x0 = _mm_load_si128(reinterpret_cast<const __m128i *>(poly));
    x2 = _mm_and_si128(x1, x3);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x10);
    x2 = _mm_and_si128(x2, x3);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

// Carry-less multiplication folds 64 bytes a step, then 16, then reduces
// (Barrett) to the 32-bit register: the report checks the checksum of every
// record it lists, a million of them in a big journal. `size` is at least 64
// and a multiple of 16; takes and gives the running register.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t crcClmul(std::uint32_t c, const unsigned char *p,
                                                                std::size_t size)
{
    alignas(16) static const std::uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
    alignas(16) static const std::uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
    auto load = [](const unsigned char *q) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(q)); };

    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i *>(k1k2));
    p += 64;
    size -= 64;
    while (size >= 64) {
        const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        const __m128i x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
        const __m128i x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
        const __m128i x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
        x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, x0, 0x11), x5), load(p));
        x2 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x2, x0, 0x11), x6), load(p + 16));
        x3 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x3, x0, 0x11), x7), load(p + 32));
        x4 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x4, x0, 0x11), x8), load(p + 48));
        p += 64;
        size -= 64;
    }
    x0 = _mm_load_si128(reinterpret_cast<const __m128i *>(k3k4));
    x1 = clmulFold(x1, x0, x2);
    x1 = clmulFold(x1, x0, x3);
    x1 = clmulFold(x1, x0, x4);
    while (size >= 16) {
        x1 = clmulFold(x1, x0, load(p));
        p += 16;
        size -= 16;
    }
    return clmulReduce(x1);
}

bool haveClmul()
{
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}

// The constants that multiply each 16-byte block of a record's checksummed
// bytes (after the first) straight to the last block's place, two to a
// block; blocks 2i and 2i+1 side by side for the 256-bit multiply.
constexpr int RecordBlocks = (record::Checksum - 1) / 16;
static_assert(RecordBlocks == 10 && RecordBlocks * 16 + 1 == record::Checksum);
constexpr std::array<std::uint64_t, 2> recordFold(int block)
{
    const int distance = 128 * (RecordBlocks - 1 - block);
    return {foldConstant(distance + 32), foldConstant(distance - 32)};
}
alignas(32) constexpr std::array<std::uint64_t, 2> RecordFold[RecordBlocks - 1]
    = {recordFold(0), recordFold(1), recordFold(2), recordFold(3), recordFold(4),
       recordFold(5), recordFold(6), recordFold(7), recordFold(8)};

// The checksum of a record (its first 161 bytes), which the report checks
// for every record it lists. The first byte goes through the table; each of
// the ten 16-byte blocks after it is multiplied straight to the last
// block's place, so no block waits for the one before it and the processor
// works on several records at once.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t recordCrcClmul(const char *stored)
{
    const auto *p = reinterpret_cast<const unsigned char *>(stored);
    auto load = [](const unsigned char *q) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(q)); };
    const std::uint32_t c = crcBytes(0xFFFFFFFFu, p, 1);
    p += 1;
    __m128i x = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i a = load(p + 16 * (RecordBlocks - 1));
    __m128i b = _mm_setzero_si128();
#pragma GCC unroll 16
    for (int j = 0; j < RecordBlocks - 1; ++j) {
        const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i *>(RecordFold[j].data()));
        if (j > 0)
            x = load(p + 16 * j);
        // Two sums, so the additions do not wait for each other either.
        a = _mm_xor_si128(a, _mm_clmulepi64_si128(x, k, 0x00));
        b = _mm_xor_si128(b, _mm_clmulepi64_si128(x, k, 0x11));
    }
    return clmulReduce(_mm_xor_si128(a, b)) ^ 0xFFFFFFFFu;
}

// The same two blocks a multiply, where the processor has the 256-bit
// carry-less multiply.
__attribute__((target("vpclmulqdq,avx2,pclmul,sse4.1"))) std::uint32_t recordCrcClmul256(const char *stored)
{
    const auto *p = reinterpret_cast<const unsigned char *>(stored);
    const std::uint32_t c = crcBytes(0xFFFFFFFFu, p, 1);
    p += 1;
    __m256i a = _mm256_setzero_si256();
    __m256i b = _mm256_setzero_si256();
#pragma GCC unroll 16
    for (int j = 0; j < (RecordBlocks - 2) / 2; ++j) {
        __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32 * j));
        if (j == 0)
            x = _mm256_xor_si256(x, _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(c))));
        const __m256i k = _mm256_load_si256(reinterpret_cast<const __m256i *>(RecordFold[2 * j].data()));
        a = _mm256_xor_si256(a, _mm256_clmulepi64_epi128(x, k, 0x00));
        b = _mm256_xor_si256(b, _mm256_clmulepi64_epi128(x, k, 0x11));
    }
    a = _mm256_xor_si256(a, b);
    __m128i r = _mm_xor_si128(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * (RecordBlocks - 2)));
    const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i *>(RecordFold[RecordBlocks - 2].data()));
    r = _mm_xor_si128(r, _mm_clmulepi64_si128(x, k, 0x00));
    r = _mm_xor_si128(r, _mm_clmulepi64_si128(x, k, 0x11));
    r = _mm_xor_si128(r, _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * (RecordBlocks - 1))));
    return clmulReduce(r) ^ 0xFFFFFFFFu;
}
#endif

std::uint32_t recordCrcBytewise(const char *stored)
{
    return crc32Bytewise(stored, record::Checksum);
}

std::vector<RecordChecksumFn> availableRecordChecksums()
{
    std::vector<RecordChecksumFn> ways{recordCrcBytewise};
#ifdef BILMEKO_CRC_CLMUL
    if (haveClmul())
        ways.push_back(recordCrcClmul);
    if (haveClmul() && __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx2"))
        ways.push_back(recordCrcClmul256);
#endif
    return ways;
}

// The fastest way, chosen at the first call.
std::uint32_t recordCrc(const char *stored)
{
    static const RecordChecksumFn best = availableRecordChecksums().back();
    return best(stored);
}

} // namespace

std::vector<RecordChecksumFn> recordChecksumWays()
{
    return availableRecordChecksums();
}

std::uint32_t crc32(const char *data, std::size_t size)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    std::uint32_t c = 0xFFFFFFFFu;
#ifdef BILMEKO_CRC_CLMUL
    if (size >= 64 && haveClmul()) {
        const std::size_t bulk = size & ~std::size_t(15);
        c = crcClmul(c, p, bulk);
        p += bulk;
        size -= bulk;
    }
#endif
    return crcBytes(c, p, size) ^ 0xFFFFFFFFu;
}

std::uint32_t crc32Bytewise(const char *data, std::size_t size)
{
    return crcBytes(0xFFFFFFFFu, reinterpret_cast<const unsigned char *>(data), size) ^ 0xFFFFFFFFu;
}

namespace {

unsigned char markByte(const char *stored)
{
    return static_cast<unsigned char>(stored[record::SealMark]);
}

bool sealed(const char *stored)
{
    const unsigned char mark = markByte(stored) & record::SealMarkMask;
    return mark == record::SealMarkValue || mark == record::ReversalMarkValue;
}

} // namespace

QString paymentText(Payment p)
{
    switch (p) {
    case Payment::Cash: return QStringLiteral("наличные");
    case Payment::Card: return QStringLiteral("карта");
    case Payment::Transfer: return QStringLiteral("перевод");
    case Payment::Unknown: break;
    }
    return QStringLiteral("не указано");
}

QString paymentShortText(Payment p)
{
    return p == Payment::Cash ? QStringLiteral("нал.") : paymentText(p);
}

bool isReversalRecord(const char *stored)
{
    return (markByte(stored) & record::SealMarkMask) == record::ReversalMarkValue;
}

Payment storedPayment(const char *stored)
{
    if (!sealed(stored))
        return Payment::Unknown;
    return static_cast<Payment>((markByte(stored) & record::PaymentMask) >> record::PaymentShift);
}

bool isAbonementRecord(const char *stored)
{
    return sealed(stored) && (markByte(stored) & record::AbonementFlag) != 0;
}

std::uint64_t storedSessionId(const char *stored)
{
    if (!sealed(stored))
        return 0;
    std::uint64_t id = 0;
    for (int i = 0; i < 8; ++i)
        id |= static_cast<std::uint64_t>(static_cast<unsigned char>(stored[record::SessionId + i])) << (8 * i);
    return id;
}

void sealRecord(char *stored)
{
    if (!sealed(stored))
        return;
    const std::uint32_t c = crc32(stored, record::Checksum);
    for (int i = 0; i < 4; ++i)
        stored[record::Checksum + i] = static_cast<char>((c >> (8 * i)) & 0xFF);
}

RecordSeal recordSeal(const char *stored)
{
    if (!sealed(stored))
        return RecordSeal::Absent;
    std::uint32_t c = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&c, stored + record::Checksum, sizeof c);
    } else {
        for (int i = 0; i < 4; ++i)
            c |= static_cast<std::uint32_t>(static_cast<unsigned char>(stored[record::Checksum + i])) << (8 * i);
    }
    return c == recordCrc(stored) ? RecordSeal::Good : RecordSeal::Bad;
}

void ScrambleRecord(char *rec)
{
    for (int i = record::ScrambleFirst; i <= record::ScrambleLast; ++i)
        rec[i] = static_cast<char>(static_cast<unsigned char>(rec[i]) ^ ScrambleKey);
}

} // namespace bilmeko
