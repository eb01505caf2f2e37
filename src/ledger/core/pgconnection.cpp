#include "pgconnection.h"

#include <libpq-fe.h>

#include <QDeadlineTimer>
#include <cerrno>
#include <poll.h>

namespace bilmeko {

namespace {

constexpr int StepMs = 100;
// A statement the server does not answer within this long counts as a
// lost connection; the shipper then retries.
constexpr int QueryDeadlineMs = 120'000;

QString serverText(const char *s)
{
    return QString::fromUtf8(s).trimmed();
}

} // namespace

QString connectionReason(const QString &m)
{
    const QString text = m.trimmed();
    const auto has = [&](const char *s) { return text.contains(QLatin1String(s), Qt::CaseInsensitive); };
    QString reason;
    if (has("password authentication failed") || has("no password supplied"))
        reason = QStringLiteral("сервер не принял пароль");
    else if (has("could not translate host name"))
        reason = QStringLiteral("неизвестный сервер");
    else if (has("No such file or directory") || has("Connection refused"))
        reason = QStringLiteral("сервер не запущен или недоступен");
    else if (has("timeout expired"))
        reason = QStringLiteral("сервер не ответил вовремя");
    else if (has("does not exist"))
        reason = QStringLiteral("нет такой базы или роли");
    else if (has("definition of service"))
        reason = QStringLiteral("нет такой службы в pg_service.conf");
    else if (has("certificate") || has("SSL"))
        reason = QStringLiteral("ошибка защищенного соединения");
    else
        reason = QStringLiteral("нет соединения с сервером");
    return text.isEmpty() ? reason : reason + QStringLiteral(" (") + text.section(QLatin1Char('\n'), 0, 0) + QLatin1Char(')');
}

PgResult::PgResult(pg_result *r) : m_r(r, PQclear) {}
int PgResult::rows() const { return m_r ? PQntuples(m_r.get()) : 0; }
bool PgResult::isNull(int row, int col) const { return PQgetisnull(m_r.get(), row, col); }
QString PgResult::text(int row, int col) const { return QString::fromUtf8(PQgetvalue(m_r.get(), row, col)); }
qint64 PgResult::number(int row, int col) const { return QByteArray(PQgetvalue(m_r.get(), row, col)).toLongLong(); }
double PgResult::real(int row, int col) const { return QByteArray(PQgetvalue(m_r.get(), row, col)).toDouble(); }

qint64 PgResult::affected() const { return QByteArray(PQcmdTuples(m_r.get())).toLongLong(); }

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
    // The string's own settings win; these fill what it leaves out.
    const char *keys[] = {"connect_timeout", "client_encoding", "application_name", "dbname", nullptr};
    const char *values[] = {"10", "UTF8", "bilmeko", info.constData(), nullptr};
    m_conn = PQconnectStartParams(keys, values, 1);
    if (!m_conn)
        throw LedgerError(LedgerError::Connection, QStringLiteral("нет памяти для соединения"));
    if (PQstatus(m_conn) == CONNECTION_BAD) {
        // The destructor does not run for a constructor that throws.
        const QString m = serverText(PQerrorMessage(m_conn));
        PQfinish(m_conn);
        m_conn = nullptr;
        throw LedgerError(LedgerError::Connection, connectionReason(m));
    }
    QDeadlineTimer deadline(30'000);
    PostgresPollingStatusType st = PGRES_POLLING_WRITING;
    for (;;) {
        if (st == PGRES_POLLING_OK)
            break;
        if (st == PGRES_POLLING_FAILED) {
            const QString m = serverText(PQerrorMessage(m_conn));
            PQfinish(m_conn);
            m_conn = nullptr;
            throw LedgerError(LedgerError::Connection, connectionReason(m));
        }
        if (deadline.hasExpired()) {
            PQfinish(m_conn);
            m_conn = nullptr;
            throw LedgerError(LedgerError::Connection, QStringLiteral("сервер не ответил вовремя"));
        }
        try {
            waitSocket(st == PGRES_POLLING_WRITING);
        } catch (...) {
            PQfinish(m_conn);
            m_conn = nullptr;
            throw;
        }
        st = PQconnectPoll(m_conn);
    }
    PQsetnonblocking(m_conn, 0);
    // Notices (such as "relation already exists, skipping") are not the
    // operator's business.
    PQsetNoticeProcessor(m_conn, [](void *, const char *) {}, nullptr);
}

PgConnection::~PgConnection()
{
    if (m_conn)
        PQfinish(m_conn);
}

bool PgConnection::ok() const
{
    return m_conn && PQstatus(m_conn) == CONNECTION_OK;
}

QString PgConnection::user() const
{
    return QString::fromUtf8(PQuser(m_conn));
}

int PgConnection::socket() const
{
    return m_conn ? PQsocket(m_conn) : -1;
}

QStringList PgConnection::takeNotifications()
{
    if (!PQconsumeInput(m_conn))
        failQuery("ошибка сервера");
    QStringList out;
    while (PGnotify *n = PQnotifies(m_conn)) {
        out << QString::fromUtf8(n->extra);
        PQfreemem(n);
    }
    return out;
}

void PgConnection::waitSocket(bool forWrite)
{
    pollfd p{};
    p.fd = PQsocket(m_conn);
    p.events = forWrite ? POLLOUT : POLLIN;
    if (p.fd < 0)
        throw LedgerError(LedgerError::Connection, QStringLiteral("соединение с сервером потеряно"));
    for (;;) {
        if (m_stop && m_stop())
            throw LedgerError(LedgerError::Connection, QStringLiteral("отправка остановлена"));
        const int n = ::poll(&p, 1, StepMs);
        if (n > 0)
            return;
        if (n < 0 && errno != EINTR)
            throw LedgerError(LedgerError::Connection, QStringLiteral("соединение с сервером потеряно"));
    }
}

void PgConnection::failQuery(const char *what, pg_result *r)
{
    QString m = serverText(r ? PQresultErrorMessage(r) : PQerrorMessage(m_conn));
    const QByteArray state = r ? QByteArray(PQresultErrorField(r, PG_DIAG_SQLSTATE)) : QByteArray();
    const bool lost = PQstatus(m_conn) != CONNECTION_OK;
    if (r)
        PQclear(r);
    // Drain what is left of this statement so the connection stays usable.
    while (pg_result *rest = PQgetResult(m_conn))
        PQclear(rest);
    if (lost)
        throw LedgerError(LedgerError::Connection, QStringLiteral("соединение с сервером потеряно: ") + m);
    throw LedgerError(LedgerError::Query, QString::fromUtf8(what) + QStringLiteral(": ") + m, state);
}

pg_result *PgConnection::nextResult()
{
    QDeadlineTimer deadline(QueryDeadlineMs);
    while (PQisBusy(m_conn)) {
        if (deadline.hasExpired())
            throw LedgerError(LedgerError::Connection, QStringLiteral("сервер не ответил вовремя"));
        waitSocket(false);
        if (!PQconsumeInput(m_conn))
            failQuery("ошибка сервера");
    }
    return PQgetResult(m_conn);
}

PgResult PgConnection::exec(const char *sql, const QList<QString> &params, bool binary)
{
    QList<QByteArray> utf8;
    std::vector<const char *> values;
    utf8.reserve(params.size());
    for (const QString &p : params) {
        utf8.append(p.toUtf8());
        values.push_back(p.isNull() ? nullptr : utf8.back().constData());
    }
    if (!PQsendQueryParams(m_conn, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, binary ? 1 : 0))
        failQuery("запрос не отправлен");
    pg_result *r = nextResult();
    const ExecStatusType st = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
        failQuery("ошибка сервера", r);
    PgResult out(r);
    while (pg_result *rest = nextResult())
        PQclear(rest);
    return out;
}

void PgConnection::copyIn(const char *sql, const QByteArray &data)
{
    if (!PQsendQueryParams(m_conn, sql, 0, nullptr, nullptr, nullptr, nullptr, 0))
        failQuery("запрос не отправлен");
    pg_result *r = nextResult();
    if (!r || PQresultStatus(r) != PGRES_COPY_IN)
        failQuery("ошибка сервера", r);
    PQclear(r);
    constexpr qsizetype Piece = 1 << 20;
    for (qsizetype at = 0; at < data.size(); at += Piece) {
        const int n = int(std::min(Piece, data.size() - at));
        if (PQputCopyData(m_conn, data.constData() + at, n) != 1)
            failQuery("данные не отправлены");
        if (m_stop && m_stop())
            throw LedgerError(LedgerError::Connection, QStringLiteral("отправка остановлена"));
    }
    if (PQputCopyEnd(m_conn, nullptr) != 1)
        failQuery("данные не отправлены");
    r = nextResult();
    if (!r || PQresultStatus(r) != PGRES_COMMAND_OK)
        failQuery("ошибка сервера", r);
    PQclear(r);
    while (pg_result *rest = nextResult())
        PQclear(rest);
}

} // namespace bilmeko
