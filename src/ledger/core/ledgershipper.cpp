#include "ledgershipper.h"

#include "cashdesk/core/shiftbook.h"
#include "journal/core/logrecord.h"
#include "ledger.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <utility>

namespace bilmeko {

namespace {
constexpr int FirstPauseMs = 1000;
constexpr int LongestPauseMs = 60'000;

// A text[]-style array literal of the given elements (a null QString is NULL).
QString arrayLiteral(const QList<QString> &items)
{
    QString out = QStringLiteral("{");
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i)
            out += QLatin1Char(',');
        if (items[i].isNull()) {
            out += QStringLiteral("NULL");
            continue;
        }
        QString e = items[i];
        e.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
        out += QLatin1Char('"') + e + QLatin1Char('"');
    }
    return out + QLatin1Char('}');
}

QString stamp(const QDateTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) : QString();
}

QString money(double v)
{
    return std::isfinite(v) ? QString::number(v, 'f', 2) : QStringLiteral("0");
}

// The desk's running sessions and its row, replaced in one statement (so
// in one transaction), then the board told.
const char LiveSql[]
    = "WITH s AS (SELECT * FROM unnest($2::bigint[], $3::text[], $4::text[], $5::numeric[], $6::timestamp[],"
      "  $7::timestamp[], $8::boolean[], $9::numeric[], $13::bigint[], $14::bigint[], $15::timestamp[])"
      "  AS u(id, client, service, price, start, booked, paused, due, ran, paused_ms, pause_since)),"
      " gone AS (DELETE FROM bilmeko.running r WHERE r.desk = $1 AND r.session_id <> ALL ($2::bigint[])),"
      " put AS (INSERT INTO bilmeko.running AS r (desk, session_id, client_name, service, price_per_min, start_time,"
      "  booked_end, paused, amount_due, ran_ms, paused_ms, pause_since)"
      "  SELECT $1, id, client, service, price, start, booked, paused, due, ran, paused_ms, pause_since"
      "  FROM s ON CONFLICT (desk, session_id) DO UPDATE SET client_name = excluded.client_name,"
      "  service = excluded.service, price_per_min = excluded.price_per_min, start_time = excluded.start_time,"
      "  booked_end = excluded.booked_end, paused = excluded.paused, amount_due = excluded.amount_due,"
      "  ran_ms = excluded.ran_ms, paused_ms = excluded.paused_ms, pause_since = excluded.pause_since),"
      " d AS (INSERT INTO bilmeko.desks AS d (desk, program_version, records_written, records_shipped, running,"
      "  running_due) VALUES ($1, $10, $11, $12, cardinality($2::bigint[]), (SELECT coalesce(sum(due), 0) FROM s))"
      "  ON CONFLICT (desk) DO UPDATE SET program_version = excluded.program_version,"
      "  records_written = excluded.records_written, records_shipped = excluded.records_shipped,"
      "  running = excluded.running, running_due = excluded.running_due)"
      " SELECT pg_notify('bilmeko_live', $1)";

const char SeenSql[]
    = "WITH d AS (INSERT INTO bilmeko.desks AS d (desk, program_version, records_written, records_shipped)"
      " VALUES ($1, $2, $3, $4) ON CONFLICT (desk) DO UPDATE SET program_version = excluded.program_version,"
      " records_written = excluded.records_written, records_shipped = excluded.records_shipped)"
      " SELECT pg_notify('bilmeko_live', $1)";
} // namespace

// Lives in the shipper's thread; everything it does runs there.
class LedgerWorker : public QObject
{
    Q_OBJECT
public:
    LedgerWorker(LedgerSettings settings, QString journalPath, LedgerTiming timing)
        : m_settings(std::move(settings)),
          m_journalPath(std::move(journalPath)),
          m_shiftPath(QFileInfo(m_journalPath).dir().filePath(QLatin1String(ShiftFileName))),
          m_timing(timing)
    {
    }

public slots:
    void begin()
    {
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        connect(m_retry, &QTimer::timeout, this, &LedgerWorker::work);
        m_beat = new QTimer(this);
        m_beat->setInterval(m_timing.heartbeatMs);
        connect(m_beat, &QTimer::timeout, this, &LedgerWorker::heartbeat);
        m_beat->start();
        m_idle.start();
        work();
    }

    // The latest running sessions; sent once the queue of them is read.
    void takeLive(const QList<bilmeko::LiveSession> &sessions)
    {
        m_live = sessions;
        m_liveDirty = true;
        m_liveAge.start();
        if (!m_liveQueued) {
            m_liveQueued = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    m_liveQueued = false;
                    work();
                },
                Qt::QueuedConnection);
        }
    }

    void heartbeat()
    {
        if (m_busy || m_retry->isActive())
            return;
        // Every beat says the desk is there, so the owner's board shows a
        // quiet desk green (seen within a minute); a connection let go
        // while idle is made again for it and let go right after.
        m_seenDue = true;
        work();
    }

    void work()
    {
        if (m_busy) {
            m_again = true;
            return;
        }
        m_busy = true;
        do {
            m_again = false;
            try {
                shipAll();
                m_pause = FirstPauseMs;
            } catch (const Error &e) {
                fail(e.message());
                break;
            }
        } while (m_again && !stopping());
        m_busy = false;
    }

signals:
    void stateChanged(const bilmeko::LedgerState &state);

private:
    static bool stopping() { return QThread::currentThread()->isInterruptionRequested(); }

    qint64 journalRecords() const { return QFileInfo(m_journalPath).size() / RecordSize; }

    void publish()
    {
        m_state.pending = m_position < 0 ? -1 : std::max<qint64>(0, journalRecords() - m_position / RecordSize);
        emit stateChanged(m_state);
    }

    void fail(const QString &reason)
    {
        m_conn.reset();
        if (stopping())
            return;
        m_state.connected = false;
        m_state.reason = reason;
        m_state.retryInSeconds = m_pause / 1000;
        publish();
        m_retry->start(m_pause);
        m_pause = std::min(m_pause * 2, LongestPauseMs);
    }

    void connectNow()
    {
        auto conn = std::make_unique<PgConnection>(m_settings.connection, &LedgerWorker::stopping);
        conn->setDeadline(QDeadlineTimer(m_timing.batchDeadlineMs));
        m_schema = checkLedgerSchema(*conn);
        // The desk is its login role: a Desk= naming another is a mistake
        // of the setup, and nothing is shipped under either name.
        const QString role = conn->exec("SELECT session_user").text(0, 0);
        if (!m_settings.desk.isEmpty() && m_settings.desk != role)
            throw LedgerError(LedgerError::Schema,
                              QStringLiteral("в настройках стойка «%1», а вход в базу под ролью «%2»: стойка в журнале "
                                             "называется по роли; исправьте Desk= в [Ledger] или уберите его")
                                  .arg(m_settings.desk, role));
        // A transaction this connection leaves open (its network gone)
        // ends on the server within a minute.
        conn->exec("SET idle_in_transaction_session_timeout = '60s'");
        m_desk = role;
        m_position = resumeOffset(*conn, m_desk, m_journalPath, m_schema);
        m_shiftsKept = m_schema >= 2 && ledgerKeepsShifts(*conn);
        if (m_shiftsKept)
            m_shiftPosition = shiftResumeOffset(*conn, m_desk, m_shiftPath);
        m_shiftEnd = -1;
        conn->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
        m_conn = std::move(conn);
        m_state.damaged = 0; // counted again from where shipping resumes
        m_state.connected = true;
        m_state.reason.clear();
        m_state.retryInSeconds = 0;
        m_state.desk = m_desk;
        m_state.needsInit = m_schema < ledger::SchemaVersion || !m_shiftsKept;
        m_state.schema = m_schema;
        m_seenDue = true;
    }

    bool recordsWaiting() const { return m_position < 0 || journalRecords() > m_position / RecordSize; }

    // Lines may have been added to the shift file since it was last read to
    // its end (a line cut short there waits until the file changes).
    bool shiftsWaiting() const { return m_shiftsKept && QFileInfo(m_shiftPath).size() != m_shiftEnd; }

    void shipShifts()
    {
        const qint64 size = QFileInfo(m_shiftPath).size();
        // A file replaced by a shorter one is offered whole; the keys keep each line once.
        if (size < m_shiftPosition)
            m_shiftPosition = 0;
        while (size != m_shiftEnd && !stopping()) {
            m_conn->setDeadline(QDeadlineTimer(m_timing.batchDeadlineMs));
            ShipOutcome o;
            try {
                o = shipShiftBatch(*m_conn, m_desk, m_shiftPath, m_shiftPosition);
            } catch (const LedgerError &) {
                throw;
            } catch (const Error &e) {
                // The file, not the server: said, and tried again when it
                // changes; the records and the live state go on.
                m_conn->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
                m_shiftEnd = size;
                if (m_state.shiftProblem != e.message()) {
                    m_state.shiftProblem = e.message();
                    publish();
                }
                break;
            }
            if (!m_state.shiftProblem.isEmpty()) {
                m_state.shiftProblem.clear();
                publish();
            }
            m_conn->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
            m_shiftPosition = o.nextOffset;
            if (o.offered > 0)
                m_idle.start();
            if (o.atEnd)
                m_shiftEnd = size;
            else if (o.offered == 0)
                break;
        }
    }

    void shipAll()
    {
        const bool waiting = recordsWaiting() || shiftsWaiting() || m_liveDirty || m_seenDue;
        if (!m_conn) {
            if (!waiting)
                return;
            connectNow();
            publish();
        }
        for (;;) {
            if (stopping())
                return;
            m_conn->setDeadline(QDeadlineTimer(m_timing.batchDeadlineMs));
            const ShipOutcome o = shipBatch(*m_conn, m_desk, m_journalPath, m_position, ledger::BatchRecords, m_schema);
            m_conn->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
            m_position = o.nextOffset;
            m_state.damaged += o.damaged;
            if (o.offered > 0)
                m_idle.start();
            publish();
            if (o.atEnd || o.offered == 0)
                break;
        }
        if (m_shiftsKept)
            shipShifts();
        if (m_schema >= 2 && (m_liveDirty || m_seenDue)) {
            const qint64 written = journalRecords();
            const QString shipped = QString::number(std::min(written, m_position / RecordSize));
            const QString version = QCoreApplication::applicationVersion();
            m_conn->setDeadline(QDeadlineTimer(m_timing.answerDeadlineMs));
            if (m_liveDirty) {
                const QList<LiveSession> live = std::exchange(m_live, {});
                m_liveDirty = false;
                QList<QString> ids, clients, services, prices, starts, ends, paused, due, ran, pausedMs, pauseSince;
                const qint64 waited = m_liveAge.elapsed();
                for (const LiveSession &l : live) {
                    ids.append(QString::number(qint64(l.id)));
                    clients.append(l.client.isNull() ? QStringLiteral("") : l.client);
                    services.append(l.service.isNull() ? QStringLiteral("") : l.service);
                    prices.append(money(l.pricePerMin));
                    starts.append(stamp(l.start));
                    ends.append(stamp(l.bookedEnd));
                    paused.append(l.paused ? QStringLiteral("t") : QStringLiteral("f"));
                    due.append(money(l.amountDue));
                    ran.append(QString::number(l.ranMs + (l.paused ? 0 : waited)));
                    pausedMs.append(QString::number(l.pausedMs));
                    pauseSince.append(stamp(l.pauseSince));
                }
                m_conn->exec(LiveSql,
                             {m_desk, arrayLiteral(ids), arrayLiteral(clients), arrayLiteral(services),
                              arrayLiteral(prices), arrayLiteral(starts), arrayLiteral(ends), arrayLiteral(paused),
                              arrayLiteral(due), version, QString::number(written), shipped, arrayLiteral(ran),
                              arrayLiteral(pausedMs), arrayLiteral(pauseSince)});
                m_idle.start();
            } else {
                m_conn->exec(SeenSql, {m_desk, version, QString::number(written), shipped});
            }
            m_seenDue = false;
            m_conn->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
            if (!m_state.connected) {
                m_state.connected = true;
                publish();
            }
        } else if (m_seenDue) {
            // A version-1 ledger: the look at the connection is a plain query.
            m_conn->setDeadline(QDeadlineTimer(m_timing.answerDeadlineMs));
            m_conn->exec("SELECT 1");
            m_conn->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
            m_seenDue = false;
            m_liveDirty = false;
        }
        // Nothing sent for a while: let the connection go (a thousand
        // desks need not hold a thousand of the server's connections); the
        // next beat or change connects again for as long as it takes.
        if (m_idle.hasExpired(m_timing.idleReleaseMs) && !recordsWaiting() && !shiftsWaiting())
            m_conn.reset();
    }

    LedgerSettings m_settings;
    QString m_journalPath;
    QString m_shiftPath;
    LedgerTiming m_timing;
    std::unique_ptr<PgConnection> m_conn;
    int m_schema = ledger::SchemaVersion;
    QString m_desk;
    qint64 m_position = -1; // next offset to ship; -1 until the ledger said
    bool m_shiftsKept = false; // the ledger has bilmeko.shifts
    qint64 m_shiftPosition = 0; // the shift file's next line to ship
    qint64 m_shiftEnd = -1; // the file's size when it was last read to its end
    LedgerState m_state;
    QTimer *m_retry = nullptr;
    QTimer *m_beat = nullptr;
    QElapsedTimer m_idle; // since something was last sent
    QElapsedTimer m_liveAge; // since m_live was taken
    QList<LiveSession> m_live;
    bool m_liveDirty = false;
    bool m_liveQueued = false;
    bool m_seenDue = false;
    int m_pause = FirstPauseMs;
    bool m_busy = false;
    bool m_again = false;
};

LedgerShipper::LedgerShipper(LedgerSettings settings, QString journalPath, QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_journalPath(std::move(journalPath))
{
    qRegisterMetaType<bilmeko::LedgerState>();
    qRegisterMetaType<QList<bilmeko::LiveSession>>();
}

LedgerShipper::~LedgerShipper()
{
    if (m_thread) {
        m_thread->requestInterruption();
        m_thread->quit();
        m_thread->wait();
    }
}

void LedgerShipper::start()
{
    if (m_thread || !m_settings.enabled())
        return;
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("LedgerShipper"));
    m_worker = new LedgerWorker(m_settings, m_journalPath, m_timing);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_worker, &LedgerWorker::begin);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(this, &LedgerShipper::wake, m_worker, &LedgerWorker::work);
    connect(this, &LedgerShipper::live, m_worker, &LedgerWorker::takeLive);
    connect(m_worker, &LedgerWorker::stateChanged, this, [this](const LedgerState &s) {
        m_state = s;
        emit stateChanged(s);
    });
    m_thread->start();
}

void LedgerShipper::journalGrew()
{
    if (m_thread)
        emit wake();
}

void LedgerShipper::publishLive(const QList<LiveSession> &sessions)
{
    if (m_thread)
        emit live(sessions);
}

QString LedgerShipper::describe(const LedgerState &s, const LedgerSettings &settings)
{
    const QString desk = !s.desk.isEmpty() ? s.desk : settings.desk;
    QString t = desk.isEmpty() ? QStringLiteral("Центральный журнал: ")
                               : QStringLiteral("Центральный журнал, стойка «%1»: ").arg(desk);
    if (s.connected)
        t += QStringLiteral("подключено");
    else if (s.reason.isEmpty())
        t += QStringLiteral("подключение устанавливается");
    else
        t += QStringLiteral("нет подключения: ") + s.reason;
    if (!s.connected && s.retryInSeconds > 0)
        t += QStringLiteral("\nСледующая попытка через %1 с").arg(s.retryInSeconds);
    t += QStringLiteral("\nЕще не отправлено записей: ")
        + (s.pending < 0 ? QStringLiteral("неизвестно") : QString::number(s.pending));
    if (s.damaged > 0)
        t += QStringLiteral("\nНе отправлено поврежденных записей: %1").arg(s.damaged);
    if (!s.shiftProblem.isEmpty())
        t += QStringLiteral("\nСмены не отправляются: ") + s.shiftProblem;
    if (s.needsInit && s.schema < 2)
        t += QStringLiteral("\nСхема базы старее программы: выполните bilmeko-ledger init "
                            "(записи пока отправляются, идущие сеансы и смены - нет)");
    else if (s.needsInit)
        t += QStringLiteral("\nВ базе нет таблицы смен: выполните bilmeko-ledger init "
                            "(записи и идущие сеансы отправляются, смены - нет)");
    return t;
}

} // namespace bilmeko

#include "ledgershipper.moc"
