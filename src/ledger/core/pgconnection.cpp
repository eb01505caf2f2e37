#include "pgconnection.h"

#include <libpq-fe.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <netdb.h>
#include <poll.h>

namespace bilmeko {

namespace {

constexpr int StepMs = 100;
// Connecting as a whole, whatever connect_timeout says per host.
constexpr int ConnectDeadlineMs = 30'000;

// The server's primary message of a result: its own words in its own
// language, never the connection string.
QString serverText(const pg_result *r)
{
    const char *m = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    return m ? QString::fromUtf8(m).trimmed() : QString();
}

// With PQERRORS_SQLSTATE a server's refusal reads "...: FATAL:  28P01":
// only the code is taken from it, never the text around it.
QByteArray trailingSqlState(const char *message)
{
    static const QRegularExpression code(QStringLiteral("(?:^|\\s)([0-9A-Z]{5})\\s*$"));
    const QRegularExpressionMatch m = code.match(QString::fromUtf8(message).trimmed());
    return m.hasMatch() ? m.captured(1).toLatin1() : QByteArray();
}

// Whether none of the named hosts resolves: a name the resolver does not
// know. Unix socket folders and addresses are not names.
bool noHostResolves(const QByteArray &hosts)
{
    bool anyName = false;
    for (const QByteArray &h : hosts.split(',')) {
        const QByteArray host = h.trimmed();
        unsigned char addr[16];
        if (host.isEmpty() || host.startsWith('/') || host.startsWith('@')
            || ::inet_pton(AF_INET, host.constData(), addr) == 1 || ::inet_pton(AF_INET6, host.constData(), addr) == 1)
            return false;
        anyName = true;
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        if (::getaddrinfo(host.constData(), nullptr, &hints, &found) == 0) {
            ::freeaddrinfo(found);
            return false;
        }
    }
    return anyName;
}

} // namespace

QString connectionReason(const QByteArray &state, bool usedPassword, bool reachedServer)
{
    if (state == "28P01" || (usedPassword && state.startsWith("28")))
        return QStringLiteral("сервер не принял пароль");
    if (state == "28000")
        return QStringLiteral("нет такой роли или ей нельзя входить");
    if (state == "3D000")
        return QStringLiteral("нет такой базы");
    if (state == "53300")
        return QStringLiteral("у сервера нет свободных соединений");
    if (state == "57P03")
        return QStringLiteral("сервер запускается или останавливается");
    if (!state.isEmpty())
        return QStringLiteral("сервер отказал в соединении (код %1)").arg(QString::fromLatin1(state));
    if (reachedServer)
        return QStringLiteral("сервер прервал соединение");
    return QStringLiteral("сервер не запущен или недоступен");
}

PgResult::PgResult(pg_result *r) : m_r(r, PQclear)
{
}
int PgResult::rows() const
{
    return m_r ? PQntuples(m_r.get()) : 0;
}
bool PgResult::isNull(int row, int col) const
{
    return PQgetisnull(m_r.get(), row, col);
}
QString PgResult::text(int row, int col) const
{
    return QString::fromUtf8(PQgetvalue(m_r.get(), row, col));
}
// Parsed in place: a board's reading has tens of thousands of values.
qint64 PgResult::number(int row, int col) const
{
    const std::string_view v = raw(row, col);
    qint64 n = 0;
    std::from_chars(v.data(), v.data() + v.size(), n);
    return n;
}
double PgResult::real(int row, int col) const
{
    const std::string_view v = raw(row, col);
    double d = 0;
    std::from_chars(v.data(), v.data() + v.size(), d);
    return d;
}

qint64 PgResult::affected() const
{
    return QByteArray(PQcmdTuples(m_r.get())).toLongLong();
}

std::string_view PgResult::raw(int row, int col) const
{
    return {PQgetvalue(m_r.get(), row, col), size_t(PQgetlength(m_r.get(), row, col))};
}

QByteArray PgResult::bytes(int row, int col) const
{
    size_t n = 0;
    unsigned char *b = PQunescapeBytea(reinterpret_cast<const unsigned char *>(PQgetvalue(m_r.get(), row, col)), &n);
    if (!b)
        return {};
    QByteArray out(reinterpret_cast<const char *>(b), qsizetype(n));
    PQfreemem(b);
    return out;
}

PgConnection::PgConnection(const QString &conninfo, StopCheck stop) : m_stop(std::move(stop))
{
    const QByteArray info = conninfo.toUtf8();
    // A string libpq cannot read is refused before anything is tried, and
    // without libpq's words: they quote the string, a password and all.
    char *parseError = nullptr;
    PQconninfoOption *parsed = PQconninfoParse(info.constData(), &parseError);
    if (!parsed) {
        if (parseError)
            PQfreemem(parseError);
        throw LedgerError(LedgerError::Connection,
                          QStringLiteral("строка соединения не читается: проверьте Connection= в [Ledger]"));
    }
    QByteArray hosts, service;
    for (const PQconninfoOption *o = parsed; o->keyword; ++o) {
        if (!o->val)
            continue;
        if (qstrcmp(o->keyword, "host") == 0)
            hosts = o->val;
        else if (qstrcmp(o->keyword, "service") == 0)
            service = o->val;
    }
    PQconninfoFree(parsed);

    // The string's own settings win (it is expanded last); these fill what
    // it leaves out.
    const char *keys[]
        = {"connect_timeout",     "client_encoding",  "application_name", "keepalives", "keepalives_idle",
           "keepalives_interval", "keepalives_count", "tcp_user_timeout", "dbname",     nullptr};
    const char *values[] = {"10", "UTF8", "bilmeko", "1", "30", "10", "3", "60000", info.constData(), nullptr};
    QElapsedTimer took;
    took.start();
    m_conn = PQconnectStartParams(keys, values, 1);
    if (!m_conn)
        throw LedgerError(LedgerError::Connection, QStringLiteral("нет памяти для соединения"));
    // A server's refusal then carries its code alone.
    PQsetErrorVerbosity(m_conn, PQERRORS_SQLSTATE);
    bool reached = false;
    const auto failed = [&](const QString &reason) {
        close();
        throw LedgerError(LedgerError::Connection, reason);
    };
    const auto refused = [&] {
        const QByteArray state = trailingSqlState(PQerrorMessage(m_conn));
        const bool usedPassword = PQconnectionUsedPassword(m_conn);
        if (state.isEmpty() && PQconnectionNeedsPassword(m_conn))
            failed(QStringLiteral("серверу нужен пароль: укажите его в ~/.pgpass"));
        if (state.isEmpty() && !reached && !service.isEmpty() && hosts.isEmpty())
            failed(QStringLiteral("нет соединения по службе «%1»: проверьте pg_service.conf")
                       .arg(QString::fromUtf8(service)));
        if (state.isEmpty() && !reached && noHostResolves(hosts))
            failed(QStringLiteral("неизвестный сервер"));
        if (state.isEmpty() && !reached && took.elapsed() >= 5'000)
            failed(QStringLiteral("сервер не ответил вовремя"));
        failed(connectionReason(state, usedPassword, reached));
    };
    if (PQstatus(m_conn) == CONNECTION_BAD)
        refused();
    PQsetnonblocking(m_conn, 1);
    const QDeadlineTimer deadline(ConnectDeadlineMs);
    PostgresPollingStatusType st = PGRES_POLLING_WRITING;
    while (st != PGRES_POLLING_OK) {
        if (st == PGRES_POLLING_FAILED)
            refused();
        try {
            waitSocket(st == PGRES_POLLING_WRITING, deadline);
        } catch (const LedgerError &) {
            close();
            throw;
        }
        st = PQconnectPoll(m_conn);
        switch (PQstatus(m_conn)) {
        case CONNECTION_AWAITING_RESPONSE:
        case CONNECTION_AUTH_OK:
        case CONNECTION_SSL_STARTUP:
        case CONNECTION_SETENV:
        case CONNECTION_CHECK_WRITABLE:
        case CONNECTION_CONSUME: reached = true; break;
        default: break;
        }
    }
    // Non-blocking from here on: a full socket never blocks a send.
    PQsetnonblocking(m_conn, 1);
    // Notices (such as "relation already exists, skipping") are not the
    // operator's business.
    PQsetNoticeProcessor(
        m_conn, [](void *, const char *) {}, nullptr);
    PQsetErrorVerbosity(m_conn, PQERRORS_DEFAULT);
}

PgConnection::~PgConnection()
{
    close();
}

void PgConnection::close()
{
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
}

bool PgConnection::ok() const
{
    return m_conn && PQstatus(m_conn) == CONNECTION_OK;
}

QString PgConnection::user() const
{
    return m_conn ? QString::fromUtf8(PQuser(m_conn)) : QString();
}

int PgConnection::socket() const
{
    return m_conn ? PQsocket(m_conn) : -1;
}

void PgConnection::lost(const QString &why)
{
    close();
    throw LedgerError(LedgerError::Connection, why);
}

QDeadlineTimer PgConnection::statementDeadline() const
{
    const QDeadlineTimer own(StatementDeadlineMs);
    return m_deadline.isForever() ? own : std::min(own, m_deadline);
}

void PgConnection::waitSocket(bool forWrite, const QDeadlineTimer &deadline)
{
    if (!m_conn || PQsocket(m_conn) < 0)
        lost(QStringLiteral("соединение с сервером потеряно"));
    pollfd p{};
    p.fd = PQsocket(m_conn);
    // Waiting to write, the server's answers are read meanwhile, so
    // neither side waits for the other.
    p.events = short(forWrite ? POLLOUT | POLLIN : POLLIN);
    for (;;) {
        if (m_stop && m_stop())
            lost(QStringLiteral("отправка остановлена"));
        if (deadline.hasExpired())
            lost(QStringLiteral("сервер не ответил вовремя"));
        const int n = ::poll(&p, 1, int(std::min<qint64>(StepMs, std::max<qint64>(1, deadline.remainingTime()))));
        if (n > 0)
            return;
        if (n < 0 && errno != EINTR)
            lost(QStringLiteral("соединение с сервером потеряно"));
    }
}

void PgConnection::flushAll(const QDeadlineTimer &deadline)
{
    for (;;) {
        const int r = PQflush(m_conn);
        if (r == 0)
            return;
        if (r < 0)
            lost(QStringLiteral("соединение с сервером потеряно"));
        waitSocket(true, deadline);
        if (!PQconsumeInput(m_conn))
            lost(QStringLiteral("соединение с сервером потеряно"));
    }
}

pg_result *PgConnection::nextResult(const QDeadlineTimer &deadline)
{
    flushAll(deadline);
    while (PQisBusy(m_conn)) {
        waitSocket(false, deadline);
        if (!PQconsumeInput(m_conn))
            lost(QStringLiteral("соединение с сервером потеряно"));
    }
    return PQgetResult(m_conn);
}

// What is left of a statement, read to its end so the connection stays
// usable; a COPY still waiting for data is ended with an error, as psql
// ends one whose source failed.
void PgConnection::drain(const QDeadlineTimer &deadline)
{
    while (pg_result *rest = nextResult(deadline)) {
        const bool copyIn = PQresultStatus(rest) == PGRES_COPY_IN;
        PQclear(rest);
        if (copyIn && PQputCopyEnd(m_conn, "отправка прервана") < 0)
            lost(QStringLiteral("соединение с сервером потеряно"));
    }
}

void PgConnection::failQuery(const char *what, pg_result *r, const QDeadlineTimer &deadline)
{
    if (!ok()) {
        if (r)
            PQclear(r);
        lost(QStringLiteral("соединение с сервером потеряно"));
    }
    QString m = serverText(r);
    QByteArray state = r ? QByteArray(PQresultErrorField(r, PG_DIAG_SQLSTATE)) : QByteArray();
    if (r)
        PQclear(r);
    // The error of a COPY the server ended is among what is left.
    while (pg_result *rest = nextResult(deadline)) {
        const ExecStatusType st = PQresultStatus(rest);
        if (state.isEmpty() && st == PGRES_FATAL_ERROR) {
            state = PQresultErrorField(rest, PG_DIAG_SQLSTATE);
            m = serverText(rest);
        }
        PQclear(rest);
        if (st == PGRES_COPY_IN && PQputCopyEnd(m_conn, "отправка прервана") < 0)
            lost(QStringLiteral("соединение с сервером потеряно"));
    }
    if (!ok())
        lost(QStringLiteral("соединение с сервером потеряно"));
    throw LedgerError(LedgerError::Query,
                      m.isEmpty() ? QString::fromUtf8(what) : QString::fromUtf8(what) + QStringLiteral(": ") + m,
                      state);
}

PgResult PgConnection::exec(const char *sql, const QList<QString> &params, bool binary)
{
    if (!m_conn)
        throw LedgerError(LedgerError::Connection, QStringLiteral("соединение с сервером закрыто"));
    const QDeadlineTimer deadline = statementDeadline();
    QList<QByteArray> utf8;
    std::vector<const char *> values;
    utf8.reserve(params.size());
    for (const QString &p : params) {
        utf8.append(p.toUtf8());
        values.push_back(p.isNull() ? nullptr : utf8.back().constData());
    }
    if (!PQsendQueryParams(m_conn, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, binary ? 1 : 0))
        failQuery("запрос не отправлен", nullptr, deadline);
    pg_result *r = nextResult(deadline);
    const ExecStatusType st = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
        failQuery("ошибка сервера", r, deadline);
    PgResult out(r);
    drain(deadline);
    return out;
}

void PgConnection::copyIn(const char *sql, const QByteArray &data)
{
    if (!m_conn)
        throw LedgerError(LedgerError::Connection, QStringLiteral("соединение с сервером закрыто"));
    const QDeadlineTimer deadline = statementDeadline();
    if (!PQsendQueryParams(m_conn, sql, 0, nullptr, nullptr, nullptr, nullptr, 0))
        failQuery("запрос не отправлен", nullptr, deadline);
    pg_result *r = nextResult(deadline);
    if (!r || PQresultStatus(r) != PGRES_COPY_IN)
        failQuery("ошибка сервера", r, deadline);
    PQclear(r);
    constexpr qsizetype Piece = 1 << 18;
    for (qsizetype at = 0; at < data.size();) {
        const int n = int(std::min(Piece, data.size() - at));
        const int sent = PQputCopyData(m_conn, data.constData() + at, n);
        if (sent < 0) // the server ended the COPY (its error follows) or the connection is gone
            failQuery("данные не отправлены", nullptr, deadline);
        if (sent == 0) {
            waitSocket(true, deadline);
            if (!PQconsumeInput(m_conn))
                lost(QStringLiteral("соединение с сервером потеряно"));
            continue;
        }
        at += n;
        if (m_stop && m_stop())
            lost(QStringLiteral("отправка остановлена"));
    }
    for (;;) {
        const int ended = PQputCopyEnd(m_conn, nullptr);
        if (ended < 0)
            failQuery("данные не отправлены", nullptr, deadline);
        if (ended == 1)
            break;
        waitSocket(true, deadline);
        if (!PQconsumeInput(m_conn))
            lost(QStringLiteral("соединение с сервером потеряно"));
    }
    r = nextResult(deadline);
    if (!r || PQresultStatus(r) != PGRES_COMMAND_OK)
        failQuery("ошибка сервера", r, deadline);
    PQclear(r);
    drain(deadline);
}

void PgConnection::listen(const char *channel)
{
    exec((QByteArrayLiteral("LISTEN ") + channel).constData());
}

QList<PgNotification> PgConnection::notifications(int waitMs)
{
    QList<PgNotification> out;
    const auto collect = [&] {
        if (!m_conn || !PQconsumeInput(m_conn))
            lost(QStringLiteral("соединение с сервером потеряно"));
        while (PGnotify *n = PQnotifies(m_conn)) {
            out.append({QString::fromUtf8(n->relname), QString::fromUtf8(n->extra), n->be_pid});
            PQfreemem(n);
        }
    };
    collect();
    if (out.isEmpty() && waitMs > 0) {
        pollfd p{};
        p.fd = PQsocket(m_conn);
        p.events = POLLIN;
        if (::poll(&p, 1, waitMs) > 0)
            collect();
    }
    return out;
}

PgTransaction::PgTransaction(PgConnection &c, const char *begin) : m_c(c)
{
    m_c.exec(begin);
}

PgTransaction::~PgTransaction()
{
    if (!m_open || !m_c.ok())
        return;
    try {
        m_c.exec("ROLLBACK");
    } catch (...) {
        // The connection is closed by then: the server rolls back itself.
    }
}

void PgTransaction::commit()
{
    m_c.exec("COMMIT");
    m_open = false;
}

} // namespace bilmeko
