#pragma once
// One libpq connection, owned by one thread. Every wait (connecting, a
// query, a COPY) polls the socket in short steps, so the thread that owns
// it can be asked to stop at any time and a server that does not answer
// costs at most the deadline. Values travel as parameters or COPY data
// only; the SQL text is always the program's own.

#include "common/core/errors.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <string_view>
#include <memory>

struct pg_conn;
struct pg_result;

namespace bilmeko {

// A failure talking to the ledger's server; the message is the operator's
// (Russian), the server's own words after a colon where they help.
class LedgerError : public Error
{
public:
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

class PgConnection
{
public:
    // Asked between waits; true ends the wait with a Connection error.
    using StopCheck = std::function<bool()>;

    // Connects (connect_timeout of the string, else 10 s). Throws
    // LedgerError(Connection) with the reason.
    explicit PgConnection(const QString &conninfo, StopCheck stop = {});
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // Runs one statement with text parameters (a null QString is SQL NULL).
    // binary: the result's values in the server's binary form (a bytea's
    // bytes as they are, a text's UTF-8): read them with raw().
    PgResult exec(const char *sql, const QList<QString> &params = {}, bool binary = false);
    // COPY ... FROM STDIN with the given data (text format).
    void copyIn(const char *sql, const QByteArray &data);
    // The role the connection logged in as.
    QString user() const;
    // The connection's socket, for waiting on notifications in an event
    // loop; -1 when there is none.
    int socket() const;
    // Reads what the server sent without waiting and gives the payloads
    // of the NOTIFY messages that came (after a LISTEN) since the last call.
    QStringList takeNotifications();
    bool ok() const;

private:
    void waitSocket(bool forWrite);
    pg_result *nextResult();
    [[noreturn]] void failQuery(const char *what, pg_result *r = nullptr);

    pg_conn *m_conn = nullptr;
    StopCheck m_stop;
};

// The Russian message for a libpq connection failure text.
QString connectionReason(const QString &libpqMessage);

} // namespace bilmeko
