#pragma once
// Shipping a desk's journal, its shift file and its live state to the
// ledger without ever making the desk wait: one worker thread owns the
// connection; the window's thread only posts to it.
//
// At its start the worker connects, learns the desk's name (its login
// role, session_user: a Desk= that differs is refused, naming both, and
// nothing is shipped), asks the ledger where this desk's shipping ended and
// catches up in batches; after that every journalGrew() ships what was
// appended. The shift file beside the journal (Bilmeko.shifts) goes after
// the records the same way, from the last line the ledger holds of it,
// whenever the worker wakes (journalGrew, a change, the beat): a line
// appended there needs only a journalGrew(). A ledger that keeps no shifts
// (version 1, or a version 2 made before: run init) gets none. publishLive() hands it the running sessions; only the
// latest state is sent (states that piled up meanwhile are dropped), in one transaction that replaces the desk's rows
// of bilmeko.running and its row of bilmeko.desks, then NOTIFY bilmeko_live.
//
// Deadlines: a batch not committed within 60 s is abandoned and its
// connection closed (the server rolls it back); a look at an idle
// connection not answered within 10 s closes it. Every 30 s the desk's row
// is refreshed (the owner's board shows a desk seen within a minute
// green), which is that look. A connection that sent nothing but those
// for 3 minutes is let go; from then on each beat or change connects
// again and, with nothing more to send, lets go right after, so a quiet
// desk holds a server connection for milliseconds every 30 s. A server that is down, unreachable, refusing
// or of another schema is retried with growing pauses (1 s doubling to a
// minute); the journal stays the source of truth, so nothing is lost
// meanwhile. A version-1 ledger still takes the records; the state then
// says to run init.
//
// Destroying the shipper returns within a fraction of a second whatever
// the server does: the worker is asked to stop, its waits end within
// 100 ms, its connection is closed, not rolled back.
//
//     LedgerShipper s(settings, journalPath);
//     connect(&s, &LedgerShipper::stateChanged, label, ...);
//     s.start();
//     s.journalGrew();              // after each record is on disk
//     s.publishLive(sessionsNow);   // after each change of the running sessions

#include "ledgersettings.h"
#include "livesession.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

class QThread;

namespace bilmeko {

struct LedgerState
{
    bool connected = false; // the server answered within the deadline
    QString reason; // why not connected; empty while connected or connecting
    qint64 pending = -1; // whole records not yet in the ledger; -1: unknown
    qint64 damaged = 0; // records not shipped: checksum wrong
    int retryInSeconds = 0; // when not connected: the next attempt
    QString desk; // the desk's name in the ledger (its role), once known
    bool needsInit = false; // the ledger's schema is older: run bilmeko-ledger init
    int schema = 0; // the ledger's version, once known
    QString shiftProblem; // why the shift file is not read (records and live state go on)
};

// The waits and pauses of the worker; tests make them short.
struct LedgerTiming
{
    int batchDeadlineMs = 60'000;
    int answerDeadlineMs = 10'000;
    int heartbeatMs = 30'000;
    int idleReleaseMs = 180'000;
};

class LedgerWorker;

class LedgerShipper : public QObject
{
    Q_OBJECT
public:
    LedgerShipper(LedgerSettings settings, QString journalPath, QObject *parent = nullptr);
    // Stops the worker: at most a fraction of a second, whatever the server does.
    ~LedgerShipper() override;

    // Before start().
    void setTiming(const LedgerTiming &t) { m_timing = t; }
    void start();
    const LedgerSettings &settings() const { return m_settings; }
    LedgerState state() const { return m_state; }
    // The text for the indicator's tooltip.
    static QString describe(const LedgerState &s, const LedgerSettings &settings);

public slots:
    // A record was appended to the journal, or a line to the shift file (and flushed).
    void journalGrew();
    // The running sessions now; returns at once (a copy is posted).
    void publishLive(const QList<bilmeko::LiveSession> &sessions);

signals:
    void stateChanged(const bilmeko::LedgerState &state);
    void wake();
    void live(const QList<bilmeko::LiveSession> &sessions);

private:
    LedgerSettings m_settings;
    QString m_journalPath;
    LedgerTiming m_timing;
    LedgerState m_state;
    QThread *m_thread = nullptr;
    LedgerWorker *m_worker = nullptr;
};

} // namespace bilmeko

Q_DECLARE_METATYPE(bilmeko::LedgerState)
Q_DECLARE_METATYPE(bilmeko::LiveSession)
