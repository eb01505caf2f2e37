#pragma once
// What the owner's board reads from the ledger, each in one query that
// touches bilmeko.desks, bilmeko.running and the per-(desk, day) summary,
// never a scan of the records (1,000 desks answer in milliseconds), and a
// listener told of every desk's change within a second (LISTEN
// bilmeko_live; a desk NOTIFYs after each live update and each batch).
// All of it runs on whichever thread owns the connection, which must not
// be the window's: a board polls on a worker of its own.
//
//     PgConnection c(ownerConnection);              // a role in bilmeko_owner
//     LedgerListener listener(ownerConnection);      // on the worker's thread
//     QObject::connect(&listener, &LedgerListener::changed, worker, [&] {
//         emit rows(readBoardDesks(c, QDate::currentDate()), readBoardRunning(c));
//     });
//     const auto year = readDeskPeriods(c, QDate(2026, 1, 1), QDate(2026, 12, 31));

#include "ledgershipper.h"
#include "pgconnection.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>

class QSocketNotifier;

namespace bilmeko {

// A row of the board per desk: the light's inputs and today's figures.
struct BoardDesk
{
    QString desk;
    QDateTime lastSeen;     // the server's clock at the desk's last update; invalid: never
    qint64 secondsSinceSeen = -1; // by the server's clock, so the board's own clock does not matter
    qint64 pending = -1;    // records the desk has not shipped; -1: unknown
    bool connected = false; // it has a connection to the server now
    int running = 0;        // sessions running now
    double runningDue = 0;  // their amount due at the desk's last update
    qint64 todaySessions = 0;
    double todayTakings = 0;
    qint64 todayReversals = 0; // counted reversals
    qint64 todayUncounted = 0; // reversals listed but counting against no Stop
    QDateTime lastRecord;   // the desk's last record's time (local, as recorded)
    QString version;
};
QList<BoardDesk> readBoardDesks(PgConnection &c, const QDate &today);

struct BoardSession
{
    QString desk;
    LiveSession session;
    QDateTime updated; // when the desk sent it (the server's clock)
};
// Every running session of every desk, by desk and start.
QList<BoardSession> readBoardRunning(PgConnection &c);

// A desk's figures over a period and over the period of equal length just
// before it (for the change against it).
struct DeskPeriod
{
    QString desk;
    qint64 sessions = 0;
    double minutes = 0;
    double takings = 0;
    qint64 reversals = 0;
    qint64 previousSessions = 0;
    double previousMinutes = 0;
    double previousTakings = 0;
};
// From the summary: the sums of exactly the records of those days.
QList<DeskPeriod> readDeskPeriods(PgConnection &c, const QDate &from, const QDate &to);

// A connection that LISTENs to bilmeko_live and says which desk changed,
// driven by the event loop of the thread it lives in.
class LedgerListener : public QObject
{
    Q_OBJECT
public:
    // Connects (at most the connection's deadline) and LISTENs; throws LedgerError.
    explicit LedgerListener(const QString &conninfo, QObject *parent = nullptr);
    ~LedgerListener() override;

signals:
    void changed(const QString &desk);
    // The connection is gone; make a new listener to go on.
    void lost(const QString &reason);

private:
    void readable();
    std::unique_ptr<PgConnection> m_conn;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace bilmeko
