#include "ledgerboard.h"

#include "ledger.h"

#include <QSocketNotifier>

namespace bilmeko {

namespace {

QDateTime localStamp(const PgResult &r, int row, int col)
{
    return r.isNull(row, col) ? QDateTime() : QDateTime::fromString(r.text(row, col), Qt::ISODate);
}

} // namespace

QList<BoardDesk> readBoardDesks(PgConnection &c, const QDate &today)
{
    const PgResult r = c.exec(
        "SELECT d.desk, extract(epoch FROM d.last_seen)::bigint, extract(epoch FROM now() - d.last_seen)::bigint,"
        " d.records_written - d.records_shipped,"
        " EXISTS (SELECT FROM pg_stat_activity a WHERE a.usename = d.desk AND a.application_name = 'bilmeko'),"
        " d.running, d.running_due::float8, coalesce(t.sessions, 0), coalesce(t.takings, 0)::float8,"
        " coalesce(t.reversals, 0), coalesce(t.uncounted, 0),"
        " to_char((SELECT max(x.written) FROM bilmeko.records x WHERE x.desk = d.desk AND x.written >="
        "  (SELECT max(y.day) FROM bilmeko.day_summary y WHERE y.desk = d.desk)), 'YYYY-MM-DD\"T\"HH24:MI:SS'),"
        " coalesce(d.program_version, '')"
        " FROM bilmeko.desks d LEFT JOIN bilmeko.day_summary t ON t.desk = d.desk AND t.day = $1::date"
        " ORDER BY d.desk",
        {today.toString(Qt::ISODate)});
    QList<BoardDesk> out;
    out.reserve(r.rows());
    for (int i = 0; i < r.rows(); ++i) {
        BoardDesk d;
        d.desk = r.text(i, 0);
        d.lastSeen = QDateTime::fromSecsSinceEpoch(r.number(i, 1));
        d.secondsSinceSeen = r.number(i, 2);
        d.pending = r.isNull(i, 3) ? -1 : std::max<qint64>(0, r.number(i, 3));
        d.connected = r.text(i, 4) == QLatin1String("t");
        d.running = int(r.number(i, 5));
        d.runningDue = r.real(i, 6);
        d.todaySessions = r.number(i, 7);
        d.todayTakings = r.real(i, 8);
        d.todayReversals = r.number(i, 9);
        d.todayUncounted = r.number(i, 10);
        d.lastRecord = localStamp(r, i, 11);
        d.version = r.text(i, 12);
        out.append(d);
    }
    return out;
}

QList<BoardSession> readBoardRunning(PgConnection &c)
{
    const PgResult r = c.exec(
        "SELECT desk, session_id, client_name, service, price_per_min::float8,"
        " to_char(start_time, 'YYYY-MM-DD\"T\"HH24:MI:SS.MS'), to_char(booked_end, 'YYYY-MM-DD\"T\"HH24:MI:SS.MS'),"
        " paused, amount_due::float8, extract(epoch FROM updated)::bigint"
        " FROM bilmeko.running ORDER BY desk, start_time, session_id");
    QList<BoardSession> out;
    out.reserve(r.rows());
    for (int i = 0; i < r.rows(); ++i) {
        BoardSession s;
        s.desk = r.text(i, 0);
        s.session.id = quint64(r.number(i, 1));
        s.session.client = r.text(i, 2);
        s.session.service = r.text(i, 3);
        s.session.pricePerMin = r.real(i, 4);
        s.session.start = localStamp(r, i, 5);
        s.session.bookedEnd = localStamp(r, i, 6);
        s.session.paused = r.text(i, 7) == QLatin1String("t");
        s.session.amountDue = r.real(i, 8);
        s.updated = QDateTime::fromSecsSinceEpoch(r.number(i, 9));
        out.append(s);
    }
    return out;
}

QList<DeskPeriod> readDeskPeriods(PgConnection &c, const QDate &from, const QDate &to)
{
    const qint64 days = from.daysTo(to) + 1;
    const QDate before = from.addDays(-days);
    const PgResult r = c.exec(
        "SELECT desk, coalesce(sum(sessions) FILTER (WHERE day >= $1::date), 0),"
        " coalesce(sum(seconds) FILTER (WHERE day >= $1::date), 0)::float8 / 60,"
        " coalesce(sum(takings) FILTER (WHERE day >= $1::date), 0)::float8,"
        " coalesce(sum(reversals) FILTER (WHERE day >= $1::date), 0),"
        " coalesce(sum(sessions) FILTER (WHERE day < $1::date), 0),"
        " coalesce(sum(seconds) FILTER (WHERE day < $1::date), 0)::float8 / 60,"
        " coalesce(sum(takings) FILTER (WHERE day < $1::date), 0)::float8"
        " FROM bilmeko.day_summary WHERE day >= $3::date AND day <= $2::date GROUP BY desk ORDER BY desk",
        {from.toString(Qt::ISODate), to.toString(Qt::ISODate), before.toString(Qt::ISODate)});
    QList<DeskPeriod> out;
    for (int i = 0; i < r.rows(); ++i) {
        DeskPeriod p;
        p.desk = r.text(i, 0);
        p.sessions = r.number(i, 1);
        p.minutes = r.real(i, 2);
        p.takings = r.real(i, 3);
        p.reversals = r.number(i, 4);
        p.previousSessions = r.number(i, 5);
        p.previousMinutes = r.real(i, 6);
        p.previousTakings = r.real(i, 7);
        out.append(p);
    }
    return out;
}

LedgerListener::LedgerListener(const QString &conninfo, QObject *parent)
    : QObject(parent), m_conn(std::make_unique<PgConnection>(conninfo))
{
    m_conn->listen("bilmeko_live");
    m_notifier = new QSocketNotifier(qintptr(m_conn->socket()), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &LedgerListener::readable);
}

LedgerListener::~LedgerListener() = default;

void LedgerListener::readable()
{
    try {
        for (const PgNotification &n : m_conn->notifications())
            emit changed(n.payload);
    } catch (const LedgerError &e) {
        m_notifier->setEnabled(false);
        emit lost(e.message());
    }
}

} // namespace bilmeko
