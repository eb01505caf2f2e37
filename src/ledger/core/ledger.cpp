#include "ledger.h"

#include "journal/core/logrecord.h"
#include "journal/core/periodreport.h"

#include <QFile>
#include <cmath>
#include <cstring>
#include <limits>

namespace bilmeko {

namespace {

// Only one init at a time migrates; the number is the program's own.
constexpr const char *InitLock = "SELECT pg_advisory_xact_lock(7240518301)";

const char *const SchemaV1[] = {
    "CREATE SCHEMA IF NOT EXISTS bilmeko",
    "CREATE TABLE bilmeko.records ("
    " desk text NOT NULL,"
    " session_id bigint,"
    " reversal boolean NOT NULL DEFAULT false,"
    " journal_offset bigint NOT NULL CHECK (journal_offset >= 0),"
    " written timestamp,"
    " price_per_min numeric,"
    " start_time interval,"
    " elapsed interval,"
    " end_time interval,"
    " amount numeric,"
    " client_name text,"
    " service text,"
    " note text,"
    " status text,"
    " raw bytea NOT NULL CHECK (length(raw) = 168),"
    " shipped timestamptz NOT NULL DEFAULT now())",
    // A session's record, and the record taking it back when a Stop was
    // undone; the session may then end again, later: its written time
    // tells the two ends apart.
    "CREATE UNIQUE INDEX records_session ON bilmeko.records (desk, session_id, reversal, written)"
    " WHERE session_id IS NOT NULL",
    "CREATE UNIQUE INDEX records_old_offset ON bilmeko.records (desk, journal_offset) WHERE session_id IS NULL",
    "CREATE INDEX records_desk_offset ON bilmeko.records (desk, journal_offset)",
    "CREATE INDEX records_written ON bilmeko.records (written)",
    "DO $$ BEGIN"
    " IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'bilmeko_desk') THEN CREATE ROLE bilmeko_desk NOLOGIN; END IF;"
    " IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'bilmeko_owner') THEN CREATE ROLE bilmeko_owner NOLOGIN; END IF;"
    " END $$",
    "REVOKE ALL ON bilmeko.records FROM PUBLIC",
    "GRANT USAGE ON SCHEMA bilmeko TO bilmeko_desk, bilmeko_owner",
    "GRANT SELECT ON bilmeko.schema_version TO bilmeko_desk, bilmeko_owner",
    // A desk reads and adds its own rows; nobody but the tables' owner
    // changes or deletes any.
    "GRANT SELECT, INSERT ON bilmeko.records TO bilmeko_desk",
    "GRANT SELECT ON bilmeko.records TO bilmeko_owner",
    "ALTER TABLE bilmeko.records ENABLE ROW LEVEL SECURITY",
    "CREATE POLICY desk_adds_own ON bilmeko.records FOR INSERT TO bilmeko_desk WITH CHECK (desk = current_user::text)",
    "CREATE POLICY desk_reads_own ON bilmeko.records FOR SELECT TO bilmeko_desk USING (desk = current_user::text)",
    "CREATE POLICY owner_reads_all ON bilmeko.records FOR SELECT TO bilmeko_owner USING (true)",
};

const char StageTable[] =
    "CREATE TEMP TABLE IF NOT EXISTS ledger_stage ("
    " desk text, session_id bigint, reversal boolean, journal_offset bigint, written timestamp, price_per_min numeric,"
    " start_time interval, elapsed interval, end_time interval, amount numeric,"
    " client_name text, service text, note text, status text, raw bytea) ON COMMIT DELETE ROWS";

int schemaVersion(PgConnection &c)
{
    const PgResult t = c.exec("SELECT to_regclass('bilmeko.schema_version') IS NOT NULL");
    if (t.text(0, 0) != QLatin1String("t"))
        return 0;
    const PgResult v = c.exec("SELECT coalesce(max(version), 0) FROM bilmeko.schema_version");
    return int(v.number(0, 0));
}

QString newerMessage(int version)
{
    return QStringLiteral("схема базы новее, чем знает эта программа (версия %1, программа знает %2): "
                          "обновите программу")
        .arg(version)
        .arg(ledger::SchemaVersion);
}

void appendEscaped(QByteArray &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    for (char ch : utf8) {
        switch (ch) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\0': out += ' '; break; // text cannot hold it; the raw bytes keep it
        default: out += ch;
        }
    }
}

const char Hex[] = "0123456789abcdef";

void appendNumeric(QByteArray &out, double v)
{
    if (!std::isfinite(v)) {
        out += "\\N";
        return;
    }
    out += QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
}

// A day fraction as an interval of whole microseconds.
void appendInterval(QByteArray &out, double days)
{
    if (!std::isfinite(days) || std::fabs(days) > 1e6) {
        out += "\\N";
        return;
    }
    out += QByteArray::number(std::llround(days * 86'400'000'000.0));
    out += " microseconds";
}

void appendTimestamp(QByteArray &out, double v)
{
    constexpr qint64 DayUs = 86'400'000'000LL;
    if (!std::isfinite(v) || std::fabs(v) > 3'000'000) {
        out += "\\N";
        return;
    }
    const qint64 us = std::llround(v * double(DayUs));
    qint64 day = us / DayUs, rest = us % DayUs;
    if (rest < 0) {
        rest += DayUs;
        --day;
    }
    const QDate d = epochDate().addDays(day);
    if (!d.isValid() || d.year() < 1 || d.year() > 9999) {
        out += "\\N";
        return;
    }
    char buf[40];
    const qint64 s = rest / 1'000'000;
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02lld:%02lld:%02lld.%06lld", d.year(), d.month(), d.day(),
                  s / 3600, s / 60 % 60, s % 60, rest % 1'000'000);
    out += buf;
}

} // namespace

InitOutcome initLedger(PgConnection &c)
{
    InitOutcome o;
    c.exec("BEGIN");
    try {
        c.exec(InitLock);
        o.versionBefore = schemaVersion(c);
        if (o.versionBefore > ledger::SchemaVersion)
            throw LedgerError(LedgerError::Schema, newerMessage(o.versionBefore));
        if (o.versionBefore == 0) {
            c.exec("CREATE SCHEMA IF NOT EXISTS bilmeko");
            c.exec("CREATE TABLE bilmeko.schema_version (version integer NOT NULL)");
            c.exec("REVOKE ALL ON bilmeko.schema_version FROM PUBLIC");
            for (const char *sql : SchemaV1)
                c.exec(sql);
            c.exec("INSERT INTO bilmeko.schema_version VALUES (1)");
        }
        // Later versions: one step per version here, each from the one before.
        o.versionAfter = schemaVersion(c);
        c.exec("COMMIT");
    } catch (...) {
        if (c.ok())
            c.exec("ROLLBACK");
        throw;
    }
    return o;
}

void checkLedgerSchema(PgConnection &c)
{
    const int v = schemaVersion(c);
    if (v == 0)
        throw LedgerError(LedgerError::Schema,
                          QStringLiteral("в базе нет таблиц Bilmeko: выполните bilmeko-ledger init"));
    if (v > ledger::SchemaVersion)
        throw LedgerError(LedgerError::Schema, newerMessage(v));
}

QByteArray copyField(const QString &text)
{
    QByteArray out;
    appendEscaped(out, text);
    return out;
}

QByteArray ledgerCopyLine(const QByteArray &deskField, const char *stored, qint64 offset)
{
    if (!trustedRecord(stored))
        return {};
    RecordBytes plain;
    std::memcpy(plain.data(), stored, RecordSize);
    ScrambleRecord(plain);
    const LogRecord r = deserializeRecord(plain.data());
    const std::uint64_t id = recordSeal(stored) == RecordSeal::Good ? storedSessionId(stored) : 0;

    QByteArray out;
    out.reserve(640);
    out += deskField;
    out += '\t';
    if (id != 0 && id <= std::uint64_t(std::numeric_limits<qint64>::max()))
        out += QByteArray::number(qulonglong(id));
    else
        out += "\\N";
    out += id != 0 && isReversalRecord(stored) ? "\tt\t" : "\tf\t";
    out += QByteArray::number(offset);
    out += '\t';
    appendTimestamp(out, r.written);
    out += '\t';
    appendNumeric(out, r.pricePerMin);
    out += '\t';
    appendInterval(out, r.startTime);
    out += '\t';
    appendInterval(out, r.elapsed);
    out += '\t';
    appendInterval(out, r.endTime);
    out += '\t';
    appendNumeric(out, r.amount);
    for (const QString *t : {&r.clientName, &r.service, &r.note, &r.status}) {
        out += '\t';
        appendEscaped(out, *t);
    }
    out += "\t\\\\x";
    for (int i = 0; i < RecordSize; ++i) {
        const auto b = static_cast<unsigned char>(stored[i]);
        out += Hex[b >> 4];
        out += Hex[b & 15];
    }
    out += '\n';
    return out;
}

qint64 resumeOffset(PgConnection &c, const QString &desk, const QString &journalPath)
{
    const PgResult last = c.exec("SELECT journal_offset, raw FROM bilmeko.records WHERE desk = $1"
                                 " ORDER BY journal_offset DESC LIMIT 1",
                                 {desk});
    if (last.rows() == 0)
        return 0;
    const qint64 offset = last.number(0, 0);
    const QByteArray held = last.bytes(0, 1);
    QFile f(journalPath);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset) || f.read(RecordSize) != held)
        return 0;
    return offset + RecordSize;
}

ShipOutcome shipBatch(PgConnection &c, const QString &desk, const QString &journalPath, qint64 offset,
                      int maxRecords)
{
    ShipOutcome o;
    o.nextOffset = offset;
    QFile f(journalPath);
    if (!f.open(QIODevice::ReadOnly)) {
        // No journal yet: nothing to ship.
        o.atEnd = !f.exists();
        if (o.atEnd)
            return o;
        throw LedgerError(LedgerError::Query, QStringLiteral("журнал «%1» не читается: %2")
                                                  .arg(journalPath, f.errorString()));
    }
    const qint64 size = f.size();
    if (offset >= size - RecordSize + 1 || !f.seek(offset)) {
        o.atEnd = true;
        return o;
    }
    const qint64 whole = (size - offset) / RecordSize;
    const qint64 take = std::min<qint64>(whole, maxRecords);
    const QByteArray bytes = f.read(take * RecordSize);
    const qint64 got = bytes.size() / RecordSize;

    const QByteArray deskField = copyField(desk);
    QByteArray data;
    data.reserve(got * 620);
    for (qint64 i = 0; i < got; ++i) {
        const QByteArray line = ledgerCopyLine(deskField, bytes.constData() + i * RecordSize, offset + i * RecordSize);
        if (line.isEmpty())
            ++o.damaged;
        else
            data += line;
    }
    o.offered = got;
    if (!data.isEmpty()) {
        c.exec("BEGIN");
        try {
            // Straight into the table, as fast as a COPY goes: the rows
            // after where shipping resumed are normally not there yet.
            // When one is (a journal offered again, two shippers of one
            // desk), or the role may not COPY there, the batch goes
            // through the staging table and the keys keep each row once.
            c.exec("SAVEPOINT direct");
            try {
                c.copyIn("COPY bilmeko.records (desk, session_id, reversal, journal_offset, written, price_per_min,"
                         " start_time, elapsed, end_time, amount, client_name, service, note, status, raw) FROM STDIN",
                         data);
                o.inserted = got - o.damaged;
            } catch (const LedgerError &e) {
                // 23505: a row already there; 0A000: a desk's role, under
                // row-level security, may not COPY into the table.
                if (e.kind() != LedgerError::Query || (e.sqlState() != "23505" && e.sqlState() != "0A000"))
                    throw;
                c.exec("ROLLBACK TO SAVEPOINT direct");
                c.exec(StageTable);
                c.copyIn("COPY pg_temp.ledger_stage (desk, session_id, reversal, journal_offset, written,"
                         " price_per_min, start_time, elapsed, end_time, amount, client_name, service, note, status,"
                         " raw) FROM STDIN",
                         data);
                const PgResult ins = c.exec(
                    "INSERT INTO bilmeko.records (desk, session_id, reversal, journal_offset, written, price_per_min,"
                    " start_time, elapsed, end_time, amount, client_name, service, note, status, raw)"
                    " SELECT desk, session_id, reversal, journal_offset, written, price_per_min, start_time, elapsed,"
                    " end_time, amount, client_name, service, note, status, raw FROM pg_temp.ledger_stage"
                    " ON CONFLICT DO NOTHING");
                o.inserted = ins.affected();
            }
            c.exec("COMMIT");
        } catch (...) {
            if (c.ok())
                c.exec("ROLLBACK");
            throw;
        }
    }
    o.nextOffset = offset + got * RecordSize;
    o.atEnd = (size - o.nextOffset) < RecordSize;
    return o;
}

QList<DeskStatus> ledgerStatus(PgConnection &c)
{
    checkLedgerSchema(c);
    const PgResult r = c.exec("SELECT desk, count(*), to_char(max(written), 'YYYY-MM-DD\"T\"HH24:MI:SS'),"
                              " extract(epoch FROM max(shipped))::bigint"
                              " FROM bilmeko.records GROUP BY desk ORDER BY desk");
    QList<DeskStatus> out;
    for (int i = 0; i < r.rows(); ++i) {
        DeskStatus s;
        s.desk = r.text(i, 0);
        s.records = r.number(i, 1);
        if (!r.isNull(i, 2))
            s.lastWritten = QDateTime::fromString(r.text(i, 2), Qt::ISODate);
        if (!r.isNull(i, 3))
            s.lastShipped = QDateTime::fromSecsSinceEpoch(r.number(i, 3));
        out.append(s);
    }
    return out;
}

} // namespace bilmeko
