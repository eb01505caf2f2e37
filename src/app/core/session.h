#pragma once
// One session as the desk handles it, and the minute charge rule.

#include "journal/core/logrecord.h"

#include <QString>
#include <cstdint>

namespace bilmeko {

// The minute charge rule: whole minutes of the elapsed time are charged, a
// started minute is not. A negative elapsed time (the clock set back) is
// charged nothing.
struct MinuteCharge
{
    std::int64_t minutes = 0;
    double amount = 0;
};
MinuteCharge minuteCharge(std::int64_t elapsedMs, double pricePerMinute);

// A running session: the one value the board keeps for it. Its row in
// CurLog is written from it (SessionBoard::writeRow) and never read back;
// its line in the state file (sessionstate.h) is how it is written, and
// its journal record is made from it.
struct Session
{
    QString client; // as the grid keeps them: at most 20
    QString service; // characters
    QString note;
    double price = 0; // per minute
    std::uint64_t id = 0; // nonzero, random; also in its journal record
    std::int64_t startUtcMs = 0; // the start instant
    std::int64_t startMonoMs = 0; // the monotonic clock's reading at the start
    std::int64_t bookedMs = 0; // the booked duration, extensions included
    std::int64_t pausedMs = 0; // pauses that are over
    bool paused = false; // a pause is going on, since:
    std::int64_t pauseStartUtcMs = 0;
    std::int64_t pauseStartMonoMs = 0;
    Payment payment = Payment::Unknown;
    // Draws on the client's abonement: charged nothing, its minutes used.
    bool abonement = false;

    // What it owes for a charged time at a price: nothing on an abonement.
    MinuteCharge charge(std::int64_t chargedMs, double pricePerMinute) const;
    // The time the session ran up to a monotonic reading: what it is charged.
    std::int64_t runMs(std::int64_t mono) const;
    // All its pauses up to that reading, the one going on included.
    std::int64_t pauseMs(std::int64_t mono) const;

    bool operator==(const Session &) const = default;
};

} // namespace bilmeko
