#pragma once
// A desk's running session as it goes to the ledger for the owner's board;
// the desk's window fills it, the shipper's thread sends it.

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace bilmeko {

// One running session as the ledger shows it to the owner.
struct LiveSession
{
    quint64 id = 0;
    QString client;
    QString service;
    double pricePerMin = 0;
    QDateTime start; // local, as the desk shows it
    QDateTime bookedEnd; // start + booked time + the pauses that are over; invalid: open-ended
    bool paused = false;
    double amountDue = 0; // at this update
    std::int64_t ranMs = 0; // time charged when taken (the monotonic clock's); the worker adds
                            // how long the state waited to be sent
    std::int64_t pausedMs = 0; // pauses that are over
    QDateTime pauseSince; // the pause going on began; invalid: none
};

} // namespace bilmeko
