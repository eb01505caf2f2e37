#include "countedstops.h"

#include <bit>
#include <cstring>
#include <vector>

namespace bilmeko {

namespace {

constexpr std::uint64_t TakenBit = 1;

// A number's bits, -0 as 0 (a reversal of a Stop of no time has -0).
inline std::uint64_t bitsOf(double v)
{
    return std::bit_cast<std::uint64_t>(v == 0 ? 0.0 : v);
}

inline std::uint64_t bitsAt(const char *stored, int offset)
{
    return bitsOf(numberAt(stored, offset));
}

// What a reversal must match of its Stop: the written time, the amount
// and the time, in 63 bits (the lowest says whether it was taken back).
inline std::uint64_t fingerprint(std::uint64_t written, std::uint64_t amount, std::uint64_t elapsed)
{
    std::uint64_t h = written * 0x9E3779B97F4A7C15u;
    h ^= std::rotl(amount * 0xC2B2AE3D27D4EB4Fu, 21);
    h ^= std::rotl(elapsed * 0x165667B19E3779F9u, 42);
    h ^= h >> 29;
    return h & ~TakenBit;
}

} // namespace

// Open addressing, linear probing; an identifier of 0 marks an empty slot
// (a record without an identifier cannot be taken back).
struct CountedStops::Table
{
    static constexpr int MaxBits = 14; // 2 * GenerationStops cells
    static_assert(std::size_t(1) << MaxBits == 2 * GenerationStops);

    struct Slot
    {
        std::uint64_t id;
        std::uint64_t print;
    };
    std::vector<Slot> cells = std::vector<Slot>(256, Slot{0, 0});
    int bits = 8;
    int count = 0;

    std::size_t home(std::uint64_t id) const { return (id * 0x9E3779B97F4A7C15u) >> (64 - bits); }
    std::size_t mask() const { return cells.size() - 1; }

    void put(std::uint64_t id, std::uint64_t print)
    {
        std::size_t i = home(id);
        while (cells[i].id != 0)
            i = (i + 1) & mask();
        cells[i] = {id, print};
        ++count;
    }

    bool full() const { return count >= GenerationStops; }

    void grow()
    {
        std::vector<Slot> old(cells.size() * 2, Slot{0, 0});
        old.swap(cells);
        ++bits;
        count = 0;
        for (const Slot &s : old)
            if (s.id != 0)
                put(s.id, s.print);
    }

    void clear()
    {
        std::memset(static_cast<void *>(cells.data()), 0, cells.size() * sizeof(Slot));
        count = 0;
    }

    // Marks the untaken Stop of that identifier and fingerprint taken.
    bool take(std::uint64_t id, std::uint64_t print)
    {
        for (std::size_t i = home(id); cells[i].id != 0; i = (i + 1) & mask())
            if (cells[i].id == id && cells[i].print == print) {
                cells[i].print |= TakenBit;
                return true;
            }
        return false;
    }
};

CountedStops::CountedStops() : m_new(std::make_unique<Table>())
{
}

CountedStops::~CountedStops() = default;
CountedStops::CountedStops(CountedStops &&) noexcept = default;
CountedStops &CountedStops::operator=(CountedStops &&) noexcept = default;

void CountedStops::remember(const char *stored)
{
    // Sealed: the identifier is there (little-endian, as storedSessionId reads it).
    std::uint64_t id;
    if constexpr (std::endian::native == std::endian::little)
        std::memcpy(&id, stored + record::SessionId, sizeof id);
    else
        id = storedSessionId(stored);
    if (id == 0)
        return;
    Table &t = *m_new;
    if (t.full()) {
        // The oldest generation goes; its table is reused.
        if (!m_old)
            m_old = std::make_unique<Table>();
        std::swap(m_new, m_old);
        m_new->clear();
        if (m_new->bits < Table::MaxBits) {
            m_new->cells.assign(m_old->cells.size(), Table::Slot{0, 0});
            m_new->bits = m_old->bits;
        }
    } else if (2 * (t.count + 1) > static_cast<int>(t.cells.size()) && t.bits < Table::MaxBits) {
        t.grow();
    }
    m_new->put(
        id,
        fingerprint(bitsAt(stored, record::Written), bitsAt(stored, record::Amount), bitsAt(stored, record::Elapsed)));
}

bool CountedStops::takeBack(const char *stored)
{
    const std::uint64_t id = storedSessionId(stored);
    // The Stop's amount and time are those of the reversal, signs turned.
    const std::uint64_t print = fingerprint(bitsAt(stored, record::Written), bitsOf(-numberAt(stored, record::Amount)),
                                            bitsOf(-numberAt(stored, record::Elapsed)));
    if (id != 0 && (m_new->take(id, print) || (m_old && m_old->take(id, print))))
        return true;
    ++m_uncounted;
    return false;
}

bool CountedStops::counts(const LogRecord &r)
{
    RecordBytes stored = serializeRecord(r);
    ScrambleRecord(stored);
    sealRecord(stored);
    return counts(stored.data());
}

} // namespace bilmeko
