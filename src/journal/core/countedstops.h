#pragma once
// Which trusted records of a journal its sums count: every record but a
// reversal does; a reversal (an undone Stop) counts only when it takes back
// an earlier counted record of its session in the same journal, one that
// no reversal has taken back yet, with the same written time and the
// opposite amount and time (exactly what the desk writes). Any other
// reversal (its Stop damaged, missing, after it, or already taken back; a
// forged one) is listed, marked and left out of the sums. Every reader of
// a journal feeds its records through one CountedStops, in journal order:
//
//     CountedStops stops;
//     scanJournal(source, false, [&](const char *records, qint64 count, qint64) {
//         for (qint64 k = 0; k < count; ++k)
//             if (trustedRecord(rec(k)) && stops.counts(rec(k)))
//                 sum += amountOf(rec(k));
//     });
//
// Memory: the undo of a Stop is offered only by the running program, for
// at most UndoStopMinutes (60 at most) after the Stop, so a reversal
// follows its Stop by at most an hour of the desk's records. The Stops are
// kept in two generations of hash tables of 16 bytes a Stop: a generation
// is dropped only when the newer one holds 8,192 Stops (more than a desk
// ends in a day, let alone in the hour an undo is offered), so every Stop a
// real reversal can take back is found, and a journal of any length costs
// at most 512 KiB, small enough to stay in the processor's cache while the
// report reads millions of records.

#include "logrecord.h"

#include <QtGlobal>
#include <cstdint>
#include <memory>

namespace bilmeko {

class CountedStops
{
public:
    CountedStops();
    ~CountedStops();
    CountedStops(CountedStops &&) noexcept;
    CountedStops &operator=(CountedStops &&) noexcept;

    // The next trusted record of the journal (stored bytes): true when the
    // sums count it.
    bool counts(const char *stored)
    {
        const auto mark = static_cast<unsigned char>(stored[record::SealMark]) & record::SealMarkMask;
        if (mark != record::ReversalMarkValue) {
            if (mark == record::SealMarkValue)
                remember(stored);
            return true;
        }
        return takeBack(stored);
    }
    // The same for a record the desk has just written.
    bool counts(const LogRecord &r);

    // Reversals met that took back nothing.
    qint64 uncounted() const { return m_uncounted; }

    // The largest number of Stops a generation holds.
    static constexpr int GenerationStops = 8192;

private:
    struct Table;
    void remember(const char *stored);
    bool takeBack(const char *stored);

    std::unique_ptr<Table> m_new;
    std::unique_ptr<Table> m_old;
    qint64 m_uncounted = 0;
};

} // namespace bilmeko
