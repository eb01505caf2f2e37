#include "ownerqueries.h"

#include "ledger.h"

#include "common/core/clock.h"
#include "journal/core/logrecord.h"

#include <QHash>
#include <QSet>
#include <QSocketNotifier>
#include <QThread>
#include <QTimeZone>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstring>

namespace bilmeko {

namespace {

constexpr int FirstPauseMs = 1000;
constexpr int LongestPauseMs = 60'000;
// Every desk is read again this often: lights need no reading (the clock
// moves them), but a desk's connection and a new day's figures do.
constexpr int WholeReadingMs = 60'000;
// Desks shown one by one in the chart; the rest share one bar.
constexpr int ChartDesks = 11;

QString dayText(const QDate &d)
{
    return d.toString(QStringLiteral("yyyy-MM-dd"));
}

// A text[] parameter, every element quoted; a null string (SQL NULL) for none.
QString textArray(const QStringList &items)
{
    if (items.isEmpty())
        return {};
    QString out = QStringLiteral("{");
    for (qsizetype i = 0; i < items.size(); ++i) {
        QString e = items[i];
        e.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
        out += (i ? QStringLiteral(",\"") : QStringLiteral("\"")) + e + QLatin1Char('"');
    }
    return out + QLatin1Char('}');
}

double numeric(const PgResult &r, int row, int col)
{
    return r.isNull(row, col) ? 0.0 : r.text(row, col).toDouble();
}

QDateTime localTime(const PgResult &r, int row, int col)
{
    return r.isNull(row, col) ? QDateTime() : QDateTime::fromString(r.text(row, col), Qt::ISODate);
}

// A desk's wall time, sent as its milliseconds counted as if from 1970
// UTC, kept without a zone (as UTC): no zone of the board's applies, and
// placing 20,000 of them in the local zone would cost 20 ms.
QDateTime wallTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
}

bool hasTable(PgConnection &c, const char *name)
{
    return c.exec("SELECT to_regclass($1) IS NOT NULL", {QString::fromLatin1(name)}).text(0, 0) == QLatin1String("t");
}

// The desks read, with today's figures, their newest record (the newest
// summary day's, one probe of its key each) and whether the desk program
// has a connection open now. Sessions are net: a counted reversal takes
// its Stop back.
const char DesksSql[]
    = "WITH online AS (SELECT DISTINCT usename::text AS desk FROM pg_stat_activity"
      "  WHERE usename IS NOT NULL AND application_name = 'bilmeko')"
      " SELECT d.desk, coalesce(d.program_version, ''),"
      " greatest((extract(epoch FROM now() - d.last_seen) * 1000)::bigint, 0),"
      " coalesce(d.records_written, 0), coalesce(d.records_shipped, 0),"
      " to_char((SELECT y.last_written FROM bilmeko.day_summary y WHERE y.desk = d.desk ORDER BY y.day DESC LIMIT 1),"
      "  'YYYY-MM-DD\"T\"HH24:MI:SS'),"
      " o.desk IS NOT NULL,"
      " coalesce(s.sessions - s.reversals, 0), coalesce(s.takings, 0)::text, coalesce(s.reversals, 0)"
      " FROM bilmeko.desks d"
      " LEFT JOIN bilmeko.day_summary s ON s.desk = d.desk AND s.day = $1::date"
      " LEFT JOIN online o ON o.desk = d.desk"
      " WHERE $2::text[] IS NULL OR d.desk = ANY($2::text[])";

// The time run is the desk's (its monotonic clock) at its update, run on
// by the server's clock since unless paused; the booked time is what the
// desk's booked end says less the pauses that are over. No two clocks are
// compared. An open-ended session is booked as far as it ran. The start
// comes as the milliseconds of its wall time counted as if from 1970 UTC:
// date_part's double, not extract's numeric nor to_char, reads 20,000
// rows in 30 ms instead of 45 to 60.
const char RunningSql[]
    = "SELECT desk, session_id, client_name, service, price_per_min::text,"
      " (date_part('epoch', start_time) * 1000)::bigint, r.ran,"
      " coalesce(((date_part('epoch', booked_end) - date_part('epoch', start_time)) * 1000)::bigint - paused_ms, "
      "r.ran),"
      " paused"
      " FROM bilmeko.running,"
      " LATERAL (SELECT ran_ms + CASE WHEN paused THEN 0"
      "  ELSE greatest(((date_part('epoch', now()) - date_part('epoch', updated)) * 1000)::bigint, 0) END AS ran) r"
      " WHERE $1::text[] IS NULL OR desk = ANY($1::text[])";

const char PeriodSql[]
    = "WITH cur AS (SELECT desk, sum(sessions - reversals) AS sessions, sum(seconds) / 60 AS minutes,"
      "  sum(takings) AS takings, sum(reversals) AS reversals, sum(takings_cash) AS cash, sum(takings_card) AS card,"
      "  sum(takings_transfer) AS transfer FROM bilmeko.day_summary WHERE day BETWEEN $1::date AND $2::date"
      "  GROUP BY desk),"
      " prev AS (SELECT desk, sum(sessions - reversals) AS sessions, sum(takings) AS takings FROM bilmeko.day_summary"
      "  WHERE day BETWEEN $3::date AND $4::date GROUP BY desk),"
      " named AS (SELECT desk FROM bilmeko.desks UNION SELECT desk FROM cur UNION SELECT desk FROM prev)"
      " SELECT n.desk, coalesce(c.sessions, 0), coalesce(c.minutes, 0)::text, coalesce(c.takings, 0)::text,"
      " coalesce(c.reversals, 0), coalesce(p.sessions, 0), coalesce(p.takings, 0)::text,"
      " coalesce(c.cash, 0)::text, coalesce(c.card, 0)::text, coalesce(c.transfer, 0)::text"
      " FROM named n LEFT JOIN cur c ON c.desk = n.desk LEFT JOIN prev p ON p.desk = n.desk"
      " WHERE $5::text[] IS NULL OR n.desk = ANY($5::text[])";

} // namespace

void checkOwnerTables(PgConnection &c)
{
    if (checkLedgerSchema(c) < 2)
        throw LedgerError(
            LedgerError::Schema,
            QStringLiteral("в общей книге нет таблиц стоек (схема версии 1): выполните bilmeko-ledger init"));
}

LiveReading readLive(PgConnection &c, const QDate &today, const QStringList &desks)
{
    LiveReading out;
    out.whole = desks.isEmpty();
    out.named = desks;
    const QString names = textArray(desks);
    PgTransaction tx(c, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    const PgResult d = c.exec(DesksSql, {dayText(today), names});
    const PgResult r = c.exec(RunningSql, {names});
    const QHash<QString, OpenShift> open = readOpenShifts(c, names);
    tx.commit();
    out.readAtMs = Clock::current().monotonicMs();
    out.desks.reserve(d.rows());
    for (int i = 0; i < d.rows(); ++i) {
        DeskLive l;
        l.desk = d.text(i, 0);
        l.version = d.text(i, 1);
        l.seenAgoMs = d.number(i, 2);
        l.recordsWritten = d.number(i, 3);
        l.recordsShipped = d.number(i, 4);
        l.lastRecord = localTime(d, i, 5);
        l.connected = d.text(i, 6) == QLatin1String("t");
        l.todaySessions = d.number(i, 7);
        l.todayTakings = numeric(d, i, 8);
        l.todayReversals = d.number(i, 9);
        out.desks.append(l);
    }
    for (DeskLive &l : out.desks)
        if (const auto shift = open.constFind(l.desk); shift != open.cend()) {
            l.openShift = shift->number;
            l.shiftOperator = shift->operatorName;
        }
    // Desks and services repeat from row to row: one string each.
    QHash<QByteArrayView, QString> interned;
    const auto name = [&](int row, int col) {
        const std::string_view v = r.raw(row, col);
        const QByteArrayView key(v.data(), qsizetype(v.size()));
        auto it = interned.constFind(key);
        if (it == interned.constEnd())
            it = interned.insert(key, QString::fromUtf8(key));
        return *it;
    };
    out.running.reserve(r.rows());
    for (int i = 0; i < r.rows(); ++i) {
        RunningLive s;
        s.desk = name(i, 0);
        s.sessionId = r.number(i, 1);
        s.client = r.text(i, 2);
        s.service = name(i, 3);
        s.pricePerMin = r.real(i, 4);
        s.start = wallTime(r.number(i, 5));
        s.ranMs = r.number(i, 6);
        s.bookedMs = r.number(i, 7);
        s.paused = r.raw(i, 8) == "t";
        out.running.append(s);
    }
    return out;
}

QList<DeskPeriod> readDeskPeriods(PgConnection &c, const QDate &from, const QDate &to, const QStringList &desks)
{
    const QDate before = DeskSummary::previousFrom(from, to);
    const PgResult r
        = c.exec(PeriodSql, {dayText(from), dayText(to), dayText(before), dayText(from.addDays(-1)), textArray(desks)});
    QList<DeskPeriod> out;
    out.reserve(r.rows());
    for (int i = 0; i < r.rows(); ++i) {
        DeskPeriod p;
        p.desk = r.text(i, 0);
        p.sessions = r.number(i, 1);
        p.minutes = numeric(r, i, 2);
        p.takings = numeric(r, i, 3);
        p.reversals = r.number(i, 4);
        p.previousSessions = r.number(i, 5);
        p.previousTakings = numeric(r, i, 6);
        p.cash = numeric(r, i, 7);
        p.card = numeric(r, i, 8);
        p.transfer = numeric(r, i, 9);
        out.append(p);
    }
    return out;
}

QStringList unknownDesks(PgConnection &c, const QStringList &desks)
{
    if (desks.isEmpty())
        return {};
    const bool live = hasTable(c, "bilmeko.desks");
    const PgResult r = c.exec(live ? "SELECT n FROM unnest($1::text[]) WITH ORDINALITY AS u(n, k)"
                                     " WHERE NOT EXISTS (SELECT FROM bilmeko.desks WHERE desk = n)"
                                     " AND NOT EXISTS (SELECT FROM bilmeko.records WHERE desk = n) ORDER BY k"
                                   : "SELECT n FROM unnest($1::text[]) WITH ORDINALITY AS u(n, k)"
                                     " WHERE NOT EXISTS (SELECT FROM bilmeko.records WHERE desk = n) ORDER BY k",
                              {textArray(desks)});
    QStringList out;
    for (int i = 0; i < r.rows(); ++i)
        out << r.text(i, 0);
    return out;
}

QByteArray readDeskRecords(PgConnection &c, const QString &desk, const QDate &from, const QDate &to, qint64 maxRecords)
{
    const QList<QString> params = {desk, dayText(from), dayText(to)};
    QByteArray out;
    PgTransaction tx(c, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    const PgResult n = c.exec("SELECT count(*) FROM bilmeko.records WHERE desk = $1"
                              " AND written >= $2::date AND written < $3::date + 1",
                              params);
    if (n.number(0, 0) > maxRecords)
        throw Error(QStringLiteral("У стойки «%1» за период %2 записей, больше %3: выберите период короче")
                        .arg(desk)
                        .arg(n.number(0, 0))
                        .arg(maxRecords));
    out.reserve(n.number(0, 0) * RecordSize);
    c.exec("SET LOCAL cursor_tuple_fraction = 1.0");
    c.exec("DECLARE desk_rows NO SCROLL BINARY CURSOR FOR SELECT raw FROM bilmeko.records WHERE desk = $1"
           " AND written >= $2::date AND written < $3::date + 1 ORDER BY journal_offset, written",
           params);
    for (;;) {
        const PgResult piece = c.exec("FETCH 20000 FROM desk_rows", {}, true);
        if (piece.rows() == 0)
            break;
        for (int i = 0; i < piece.rows(); ++i) {
            // A row of another length is no record: the report counts
            // what is left out, a length it cannot tell.
            const std::string_view raw = piece.raw(i, 0);
            if (raw.size() == size_t(RecordSize) && out.size() < maxRecords * RecordSize)
                out.append(raw.data(), RecordSize);
        }
    }
    tx.commit();
    return out;
}

RevenueChart readDeskChart(PgConnection &c, const QDate &from, const QDate &to)
{
    const PgResult r = c.exec(
        "WITH top AS (SELECT desk FROM bilmeko.day_summary WHERE day BETWEEN $1::date AND $2::date"
        "  GROUP BY desk ORDER BY sum(takings) DESC, desk LIMIT $3::int)"
        " SELECT to_char(day, 'YYYY-MM-DD'), CASE WHEN desk IN (SELECT desk FROM top) THEN desk END, sum(takings)::text"
        " FROM bilmeko.day_summary WHERE day BETWEEN $1::date AND $2::date GROUP BY 1, 2 ORDER BY 1, 2",
        {dayText(from), dayText(to), QString::number(ChartDesks)});
    RevenueChart chart(dateValue(from), dateValue(to));
    for (int i = 0; i < r.rows(); ++i) {
        LogRecord rec;
        // A day's takings stand at its noon: a one-day chart's hours say
        // nothing over the summary.
        rec.written = dateValue(QDate::fromString(r.text(i, 0), Qt::ISODate)) + 0.5;
        rec.service = r.isNull(i, 1) ? QStringLiteral("Прочие стойки") : r.text(i, 1);
        rec.amount = numeric(r, i, 2);
        chart.add(rec);
    }
    return chart;
}

// Lives in the feed's thread; everything it does runs there.
class OwnerWorker : public QObject
{
    Q_OBJECT
public:
    OwnerWorker(QString conninfo, OwnerFeed *feed) : m_conninfo(std::move(conninfo)), m_feed(feed) {}

    void begin()
    {
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        connect(m_retry, &QTimer::timeout, this, &OwnerWorker::connectNow);
        m_whole = new QTimer(this);
        m_whole->setInterval(WholeReadingMs);
        connect(m_whole, &QTimer::timeout, this, [this] {
            m_wholeWanted = true;
            readNow();
        });
        connectNow();
    }

    // Runs `f` with the connection, or says why there is none.
    void request(const std::function<void(PgConnection &)> &f)
    {
        if (!m_conn) {
            fail(QStringLiteral("нет связи с общей книгой: %1").arg(m_reason));
            return;
        }
        try {
            f(*m_conn);
        } catch (const LedgerError &e) {
            if (e.kind() == LedgerError::Connection)
                drop(e.message());
            fail(e.message());
            return;
        } catch (const Error &e) {
            fail(e.message());
            return;
        }
        takeNotifications();
    }

    template <typename F> void toFeed(F f) { QMetaObject::invokeMethod(m_feed, std::move(f), Qt::QueuedConnection); }

private:
    static bool stopping() { return QThread::currentThread()->isInterruptionRequested(); }

    void fail(const QString &message)
    {
        toFeed([feed = m_feed, message] { emit feed->requestFailed(message); });
    }

    void connectNow()
    {
        try {
            m_conn = std::make_unique<PgConnection>(m_conninfo, &OwnerWorker::stopping);
            checkOwnerTables(*m_conn);
            m_conn->exec((QByteArrayLiteral("LISTEN ") + LiveChannel).constData());
        } catch (const Error &e) {
            drop(e.message());
            return;
        }
        m_pause = FirstPauseMs;
        m_reason.clear();
        m_notifier = new QSocketNotifier(qintptr(m_conn->socket()), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &OwnerWorker::takeNotifications);
        toFeed([feed = m_feed] { emit feed->connectionChanged(true, {}); });
        m_whole->start();
        m_wholeWanted = true;
        readNow();
    }

    void drop(const QString &reason)
    {
        delete m_notifier;
        m_notifier = nullptr;
        m_conn.reset();
        m_whole->stop();
        if (stopping())
            return;
        m_reason = reason;
        toFeed([feed = m_feed, reason] { emit feed->connectionChanged(false, reason); });
        m_retry->start(m_pause);
        m_pause = std::min(m_pause * 2, LongestPauseMs);
    }

    // The socket has something: the names notified are read again, all
    // that came in one go in one reading.
    void takeNotifications()
    {
        if (!m_conn)
            return;
        try {
            const QList<PgNotification> heard = m_conn->notifications();
            if (heard.isEmpty())
                return;
            for (const PgNotification &n : heard)
                m_named.insert(n.payload);
        } catch (const Error &e) {
            drop(e.message());
            return;
        }
        if (!m_readQueued) {
            m_readQueued = true;
            QTimer::singleShot(0, this, &OwnerWorker::readNow);
        }
    }

    void readNow()
    {
        m_readQueued = false;
        if (!m_conn || (m_named.isEmpty() && !m_wholeWanted))
            return;
        const QStringList named = m_wholeWanted ? QStringList() : QStringList(m_named.begin(), m_named.end());
        m_wholeWanted = false;
        m_named.clear();
        try {
            LiveReading r = readLive(*m_conn, Clock::current().today(), named);
            toFeed([feed = m_feed, r = std::move(r)] { emit feed->reading(r); });
        } catch (const Error &e) {
            drop(e.message());
            return;
        }
        // What came while reading waited in the connection, not the socket.
        takeNotifications();
    }

    QString m_conninfo;
    OwnerFeed *m_feed;
    std::unique_ptr<PgConnection> m_conn;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_retry = nullptr;
    QTimer *m_whole = nullptr;
    QSet<QString> m_named;
    QString m_reason;
    int m_pause = FirstPauseMs;
    bool m_wholeWanted = false;
    bool m_readQueued = false;
};

OwnerFeed::OwnerFeed(QString conninfo, QObject *parent) : QObject(parent), m_conninfo(std::move(conninfo))
{
    connect(this, &OwnerFeed::connectionChanged, this, &OwnerFeed::onConnection);
}

OwnerFeed::~OwnerFeed()
{
    if (m_thread) {
        m_thread->requestInterruption();
        m_thread->quit();
        m_thread->wait();
    }
}

void OwnerFeed::onConnection(bool connected, const QString &reason)
{
    m_connected = connected;
    m_reason = reason;
}

void OwnerFeed::start()
{
    if (m_thread)
        return;
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("OwnerFeed"));
    m_worker = new OwnerWorker(m_conninfo, this);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_worker, &OwnerWorker::begin);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
}

void OwnerFeed::askSummary(const QDate &from, const QDate &to)
{
    ask([from, to](PgConnection &c, OwnerFeed *feed, OwnerWorker *w) {
        DeskSummary s(from, to, readDeskPeriods(c, from, to));
        w->toFeed([feed, s] { emit feed->summaryReady(s); });
    });
}

void OwnerFeed::askDeskRecords(const QString &desk, const QDate &from, const QDate &to)
{
    ask([desk, from, to](PgConnection &c, OwnerFeed *feed, OwnerWorker *w) {
        QByteArray stored = readDeskRecords(c, desk, from, to);
        w->toFeed([feed, desk, from, to, stored = std::move(stored)] {
            emit feed->deskRecordsReady(desk, from, to, stored);
        });
    });
}

void OwnerFeed::askChart(const QDate &from, const QDate &to)
{
    ask([from, to](PgConnection &c, OwnerFeed *feed, OwnerWorker *w) {
        RevenueChart chart = readDeskChart(c, from, to);
        w->toFeed([feed, chart = std::move(chart)] { emit feed->chartReady(chart); });
    });
}

void OwnerFeed::ask(std::function<void(PgConnection &, OwnerFeed *, OwnerWorker *)> f)
{
    if (!m_worker) {
        emit requestFailed(QStringLiteral("нет связи с общей книгой"));
        return;
    }
    QMetaObject::invokeMethod(m_worker, [w = m_worker, feed = this, f = std::move(f)] {
        w->request([&](PgConnection &c) { f(c, feed, w); });
    });
}

} // namespace bilmeko

#include "ownerqueries.moc"
