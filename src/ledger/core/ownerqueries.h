#pragma once
// What the owner's board reads from the ledger, and the feed that keeps it
// live.
//
// The queries read the tables of the ledger's schema 2 (ledger.h):
// bilmeko.desks (a row per desk, written by the desk every 30 s and at
// every change), bilmeko.running (its running sessions: the time run by
// the desk's monotonic clock at its update, booked_end the start plus the
// booked time plus the pauses that are over, paused_ms those pauses) and
// bilmeko.day_summary (per desk and day, kept with the records), so a
// year over a thousand desks is a sum over the summary, never over the
// records. Durations come out measured on the server's clock ("seen 40 s
// ago", "ran 25 min"), which no desk's or owner's wrong clock can shift.
// The owner's role reads and writes nothing else.
//
// OwnerFeed: one worker thread owns the connection. It LISTENs on
// bilmeko_live, where every desk NOTIFYs its name after a change, and waits
// for the socket in its event loop (no polling): the desks named are read
// again at once, and every desk once a minute. A lost connection is
// retried after 1 s, 2 s, 4 s … up to a minute. Requests (a period's
// summary, a desk's records, the chart) are answered by signals; nothing
// the window's thread does waits on the server, and every wait of the
// worker has a deadline (PgConnection).
//
//     OwnerFeed feed(settings.connection);
//     connect(&feed, &OwnerFeed::reading, board, …);
//     feed.start();
//     feed.askSummary(from, to);   // later: summaryReady or requestFailed

#include "ownerboard.h"
#include "pgconnection.h"

#include "journal/core/revenuechart.h"

#include <QByteArray>
#include <QDate>
#include <QObject>
#include <QStringList>
#include <functional>

class QThread;

namespace bilmeko {

// The channel every desk NOTIFYs with its name after a change.
inline constexpr char LiveChannel[] = "bilmeko_live";

// Throws LedgerError(Schema) when the ledger has no desks' tables yet
// (a schema older than 2).
void checkOwnerTables(PgConnection &c);

// The desks (all when `desks` is empty) with today's figures, and their
// running sessions, in one snapshot.
LiveReading readLive(PgConnection &c, const QDate &today, const QStringList &desks = {});

// Every desk's figures from `from` to `to` (inclusive) and over the period
// of equal length before it; `desks` narrows them (empty: all).
QList<DeskPeriod> readDeskPeriods(PgConnection &c, const QDate &from, const QDate &to, const QStringList &desks = {});

// Of the names given, those the ledger knows no desk by (no live row and
// no record).
QStringList unknownDesks(PgConnection &c, const QStringList &desks);

// A desk's records of a period as their stored bytes, 168 each, in journal
// order: what the desk's own report reads from its journal. Throws Error
// when there are more than maxRecords.
QByteArray readDeskRecords(PgConnection &c, const QString &desk, const QDate &from, const QDate &to,
                           qint64 maxRecords = 2'000'000);

// The period's takings by day and desk for the chart: the largest desks
// one by one, the rest as one bar ("Прочие стойки").
RevenueChart readDeskChart(PgConnection &c, const QDate &from, const QDate &to);

class OwnerWorker;

class OwnerFeed : public QObject
{
    Q_OBJECT
public:
    explicit OwnerFeed(QString conninfo, QObject *parent = nullptr);
    // Stops the worker: at most a fraction of a second, whatever the server does.
    ~OwnerFeed() override;

    void start();
    bool connected() const { return m_connected; }
    QString reason() const { return m_reason; }

    void askSummary(const QDate &from, const QDate &to);
    void askDeskRecords(const QString &desk, const QDate &from, const QDate &to);
    void askChart(const QDate &from, const QDate &to);

signals:
    void reading(const bilmeko::LiveReading &reading);
    // reason: why not connected (Russian); empty when connected.
    void connectionChanged(bool connected, const QString &reason);
    void summaryReady(const bilmeko::DeskSummary &summary);
    void deskRecordsReady(const QString &desk, const QDate &from, const QDate &to, const QByteArray &stored);
    void chartReady(const bilmeko::RevenueChart &chart);
    void requestFailed(const QString &message);

private:
    void onConnection(bool connected, const QString &reason);
    // Runs f in the worker with its connection; a failure becomes requestFailed.
    void ask(std::function<void(PgConnection &, OwnerFeed *, OwnerWorker *)> f);

    QString m_conninfo;
    QThread *m_thread = nullptr;
    OwnerWorker *m_worker = nullptr;
    bool m_connected = false;
    QString m_reason;
};

} // namespace bilmeko
