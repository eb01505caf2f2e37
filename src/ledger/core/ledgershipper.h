#pragma once
// Shipping a desk's journal to the ledger without ever making the desk
// wait: one worker thread owns the connection. At its start it asks the
// ledger what it holds of this desk and catches up in batches; after that
// every journalGrew() ships what was appended. A server that is down,
// unreachable, refusing the password or of another schema is retried with
// growing pauses (1 s doubling to a minute); the journal stays the source
// of truth, so nothing is lost meanwhile.
//
//     LedgerShipper s(settings, journalPath);
//     connect(&s, &LedgerShipper::stateChanged, label, ...);
//     s.start();
//     s.journalGrew(); // after each record is on disk

#include "ledgersettings.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <memory>

class QThread;

namespace bilmeko {

struct LedgerState
{
    bool connected = false;
    QString reason;          // why not connected; empty while connected or connecting
    qint64 pending = -1;     // whole records not yet in the ledger; -1: unknown
    qint64 damaged = 0;      // records not shipped: checksum wrong
    int retryInSeconds = 0;  // when not connected: the next attempt
};

class LedgerWorker;

class LedgerShipper : public QObject
{
    Q_OBJECT
public:
    LedgerShipper(LedgerSettings settings, QString journalPath, QObject *parent = nullptr);
    // Stops the worker: at most a fraction of a second, whatever the server does.
    ~LedgerShipper() override;

    void start();
    const LedgerSettings &settings() const { return m_settings; }
    LedgerState state() const { return m_state; }
    // The text for the indicator's tooltip.
    static QString describe(const LedgerState &s, const LedgerSettings &settings);

public slots:
    // A record was appended to the journal (and flushed).
    void journalGrew();

signals:
    void stateChanged(const bilmeko::LedgerState &state);
    void wake();

private:
    LedgerSettings m_settings;
    QString m_journalPath;
    LedgerState m_state;
    QThread *m_thread = nullptr;
    LedgerWorker *m_worker = nullptr;
};

} // namespace bilmeko

Q_DECLARE_METATYPE(bilmeko::LedgerState)
