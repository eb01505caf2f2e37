#include "ledgershipper.h"

#include "ledger.h"
#include "journal/core/logrecord.h"

#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <algorithm>

namespace bilmeko {

namespace {
constexpr int FirstPauseMs = 1000;
constexpr int LongestPauseMs = 60'000;
// While idle the connection is looked at this often, so the indicator
// does not say "connected" long after the server went away.
constexpr int IdleCheckMs = 30'000;
} // namespace

// Lives in the shipper's thread; everything it does runs there.
class LedgerWorker : public QObject
{
    Q_OBJECT
public:
    LedgerWorker(LedgerSettings settings, QString journalPath)
        : m_settings(std::move(settings)), m_journalPath(std::move(journalPath))
    {
    }

public slots:
    void begin()
    {
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        connect(m_retry, &QTimer::timeout, this, &LedgerWorker::work);
        m_idle = new QTimer(this);
        m_idle->setInterval(IdleCheckMs);
        connect(m_idle, &QTimer::timeout, this, &LedgerWorker::check);
        m_idle->start();
        work();
    }

    void check()
    {
        if (!m_conn || m_busy)
            return;
        try {
            m_conn->exec("SELECT 1");
        } catch (const Error &e) {
            fail(e.message());
        }
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
            } catch (const LedgerError &e) {
                fail(e.message());
                break;
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

    qint64 journalRecords() const
    {
        return QFileInfo(m_journalPath).size() / RecordSize;
    }

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

    void shipAll()
    {
        if (!m_conn) {
            m_conn = std::make_unique<PgConnection>(m_settings.connection, &LedgerWorker::stopping);
            checkLedgerSchema(*m_conn);
            m_position = resumeOffset(*m_conn, m_settings.desk, m_journalPath);
            m_state.damaged = 0; // counted again from where shipping resumes
            m_state.connected = true;
            m_state.reason.clear();
            m_state.retryInSeconds = 0;
            publish();
        }
        for (;;) {
            if (stopping())
                return;
            const ShipOutcome o = shipBatch(*m_conn, m_settings.desk, m_journalPath, m_position);
            m_position = o.nextOffset;
            m_state.damaged += o.damaged;
            publish();
            if (o.atEnd || o.offered == 0)
                return;
        }
    }

    LedgerSettings m_settings;
    QString m_journalPath;
    std::unique_ptr<PgConnection> m_conn;
    qint64 m_position = -1; // next offset to ship; -1 until the ledger said
    LedgerState m_state;
    QTimer *m_retry = nullptr;
    QTimer *m_idle = nullptr;
    int m_pause = FirstPauseMs;
    bool m_busy = false;
    bool m_again = false;
};

LedgerShipper::LedgerShipper(LedgerSettings settings, QString journalPath, QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_journalPath(std::move(journalPath))
{
    qRegisterMetaType<bilmeko::LedgerState>();
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
    m_worker = new LedgerWorker(m_settings, m_journalPath);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_worker, &LedgerWorker::begin);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(this, &LedgerShipper::wake, m_worker, &LedgerWorker::work);
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

QString LedgerShipper::describe(const LedgerState &s, const LedgerSettings &settings)
{
    QString t = QStringLiteral("Центральный журнал, стойка «%1»: ").arg(settings.desk);
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
    return t;
}

} // namespace bilmeko

#include "ledgershipper.moc"
