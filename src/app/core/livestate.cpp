#include "livestate.h"

#include "sessionboard.h"

#include <QDateTime>

namespace bilmeko {

QList<LiveSession> liveSessions(const SessionBoard &board, std::int64_t monoMs)
{
    QList<LiveSession> now;
    now.reserve(board.runningCount());
    const MemTable &t = board.curLog();
    const auto local = [](std::int64_t utcMs) { return QDateTime::fromMSecsSinceEpoch(utcMs); };
    for (int row = 0; row < t.rowCount(); ++row) {
        const Session *s = board.session(t.rowId(row));
        if (!s)
            continue;
        LiveSession l;
        l.id = s->id;
        l.client = s->client;
        l.service = s->service;
        l.pricePerMin = s->price;
        l.start = local(s->startUtcMs);
        l.bookedEnd = local(s->startUtcMs + s->bookedMs + s->pausedMs);
        l.paused = s->paused;
        l.ranMs = s->runMs(monoMs);
        l.amountDue = s->charge(l.ranMs, s->price).amount;
        l.pausedMs = s->pausedMs;
        if (s->paused)
            l.pauseSince = local(s->pauseStartUtcMs);
        now.append(l);
    }
    return now;
}

} // namespace bilmeko
