#pragma once
// One libpq connection, owned by one thread, used non-blocking: every wait
// (connecting, sending a query or COPY data, reading a result) polls the
// socket in short steps, so the thread that owns it can be asked to stop at
// any time, and every wait has a deadline. A stop or a deadline closes the
// connection at once (PQfinish, which does not block on a non-blocking
// connection): nothing is ever sent into a COPY or a transaction whose
// server stopped answering. Values travel as parameters or COPY data only;
// the SQL text is always the program's own.
//
// Keepalives are on (idle 30 s, interval 10 s, count 3) and unacknowledged
// data count as a lost connection after 60 s, unless the connection string
// says otherwise: a network that drops packets without a reset is noticed.
//
// Messages never carry libpq's own texts, which may quote the connection
// string (a password among it): failures are told apart by the server's
// SQLSTATE, by how far the connection got and by libpq's status, and are
// said in Russian. A server's own error text (in its lc_messages) follows
// a query error after a colon.

#include "common/core/errors.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <string_view>

struct pg_conn;
struct pg_result;

namespace bilmeko {

// A failure talking to the ledger's server; the message is the operator's
// (Russian), the server's own words after a colon where they help.
class LedgerError : public Error
{
public:
    // Connection: the connection is gone (closed by the program when it
    // timed out or was stopped); Schema: the ledger is not one this program
    // ships to; Query: the server refused a statement, the connection stays.
    enum Kind { Connection, Schema, Query };
    LedgerError(Kind kind, QString message, QByteArray sqlState = {})
        : Error(std::move(message)), m_kind(kind), m_sqlState(std::move(sqlState))
    {
    }
    Kind kind() const { return m_kind; }
    // The server's error code ("23505": a key already there); empty when
    // the server gave none.
    const QByteArray &sqlState() const { return m_sqlState; }

private:
    Kind m_kind;
    QByteArray m_sqlState;
};

class PgResult
{
public:
    PgResult() = default;
    explicit PgResult(pg_result *r);
    int rows() const;
    bool isNull(int row, int col) const;
    QString text(int row, int col) const;
    QByteArray bytes(int row, int col) const; // a bytea column, decoded
    // A value of a binary result, without a copy: valid while the result is.
    std::string_view raw(int row, int col) const;
    qint64 number(int row, int col) const;
    double real(int row, int col) const;
    // Rows an INSERT, UPDATE or DELETE touched.
    qint64 affected() const;

private:
    std::shared_ptr<pg_result> m_r;
};

// A NOTIFY that arrived on a connection that LISTENs.
struct PgNotification
{
    QString channel;
    QString payload;
    int senderPid = 0;
};

class PgConnection
{
public:
    // Asked between waits; true ends the wait, closes the connection and
    // throws a Connection error.
    using StopCheck = std::function<bool()>;
    // A statement (or a COPY) the server has not answered within this long
    // counts as a lost connection, unless setDeadline() gave another.
    static constexpr int StatementDeadlineMs = 60'000;

    // Connects (connect_timeout of the string, else 10 s; 30 s at most in
    // all). Throws LedgerError(Connection) with the reason.
    explicit PgConnection(const QString &conninfo, StopCheck stop = {});
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // Runs one statement with text parameters (a null QString is SQL NULL).
    // binary: the result's values in the server's binary form (a bytea's
    // bytes as they are, a text's UTF-8): read them with raw().
    PgResult exec(const char *sql, const QList<QString> &params = {}, bool binary = false);
    // COPY ... FROM STDIN with the given data (text format). A COPY that
    // fails on the program's side is ended with an error message and its
    // results drained, as psql does; one that times out closes the
    // connection.
    void copyIn(const char *sql, const QByteArray &data);

    // The latest moment every wait must end by (a batch's deadline); an
    // expired one closes the connection. A default timer (forever) leaves
    // each statement its own StatementDeadlineMs.
    void setDeadline(QDeadlineTimer deadline) { m_deadline = deadline; }

    // LISTEN on a channel (a name of the program's own).
    void listen(const char *channel);
    // Waits up to `waitMs` (0: only what has arrived) for notifications and
    // returns those that came. Throws LedgerError(Connection) when the
    // connection is lost.
    QList<PgNotification> notifications(int waitMs = 0);
    // The socket, for a caller that waits on several things at once
    // (QSocketNotifier); -1 when closed.
    int socket() const;

    // The role the connection logged in as.
    QString user() const;
    bool ok() const;
    // Closes the connection now; ok() is false after it.
    void close();

private:
    void waitSocket(bool forWrite, const QDeadlineTimer &deadline);
    QDeadlineTimer statementDeadline() const;
    void flushAll(const QDeadlineTimer &deadline);
    pg_result *nextResult(const QDeadlineTimer &deadline);
    void drain(const QDeadlineTimer &deadline);
    [[noreturn]] void lost(const QString &why);
    [[noreturn]] void failQuery(const char *what, pg_result *r, const QDeadlineTimer &deadline);

    pg_conn *m_conn = nullptr;
    StopCheck m_stop;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};
};

// The Russian reason for a failed connection, from what is known of it:
// a SQLSTATE the server sent (or empty), whether the server asked for a
// password, whether the connection reached the server at all.
QString connectionReason(const QByteArray &sqlState, bool usedPassword, bool reachedServer);

// A transaction for the life of a scope: begun at construction, rolled
// back at its end unless commit() was reached (an exception on the way
// out leaves it rolled back, the exception itself unchanged).
//
//     PgTransaction tx(c, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
//     const PgResult r = c.exec(…);
//     tx.commit();
class PgTransaction
{
public:
    explicit PgTransaction(PgConnection &c, const char *begin = "BEGIN");
    ~PgTransaction();
    PgTransaction(const PgTransaction &) = delete;
    PgTransaction &operator=(const PgTransaction &) = delete;
    void commit();

private:
    PgConnection &m_c;
    bool m_open = true;
};

} // namespace bilmeko
