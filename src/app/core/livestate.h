#pragma once
// The desk's running sessions as the ledger's live state for the owner's
// board: what the desk sends at every change of them (the shipper's thread
// sends only the latest).

#include "ledger/core/livesession.h"

#include <QList>
#include <cstdint>

namespace bilmeko {

class SessionBoard;

// Every running session in the grid's order, their time run and amount
// due taken at the monotonic reading monoMs.
QList<LiveSession> liveSessions(const SessionBoard &board, std::int64_t monoMs);

} // namespace bilmeko
