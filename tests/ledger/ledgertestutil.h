#pragma once
// Journals and ledger look-ups shared by the ledger's tests.

#include "../journal/reporttestutil.h"
#include "journal/core/periodreport.h"
#include "ledger/core/ledger.h"
#include "pgserver.h"

#include <QRandomGenerator>
#include <cstring>

namespace bilmeko::test {

// `count` records a few minutes apart from `first`, sealed with ids from
// firstId on, as the desk program writes them; old (unsealed, no id) ones
// when firstId is 0.
inline QByteArray deskJournal(int count, DateTimeValue first, std::uint64_t firstId, quint32 seed = 1)
{
    QRandomGenerator rng(seed);
    const QStringList clients = {QStringLiteral("Иванова"), QStringLiteral("Петров"), QStringLiteral("Сидорова\tА."),
                                 QStringLiteral("O'Brien \\ \"К\"")};
    QByteArray out;
    out.reserve(qsizetype(count) * RecordSize);
    for (int i = 0; i < count; ++i) {
        const int minutes = 10 + int(rng.bounded(110));
        LogRecord r
            = sampleRecord(first + i * 7.0 / 1440 + rng.bounded(1000) / 86'400'000.0, minutes * 12.35,
                           (minutes * 60 + rng.bounded(60)) / 86400.0, clients[int(rng.bounded(clients.size()))]);
        r.sessionId = firstId ? firstId + std::uint64_t(i) : 0;
        RecordBytes b = serializeRecord(r);
        ScrambleRecord(b);
        sealRecord(b);
        out.append(b.data(), RecordSize);
    }
    return out;
}

// One record as the desk stores it: scrambled and sealed; `payment` the
// method in bits 4..5 of the mark byte (0 not said, 1 cash, 2 card, 3
// transfer).
inline QByteArray storedRecord(const LogRecord &r, int payment = 0)
{
    RecordBytes b = serializeRecord(r);
    b[record::SealMark] = char(b[record::SealMark] | (payment << 4));
    ScrambleRecord(b);
    sealRecord(b);
    return QByteArray(b.data(), RecordSize);
}

// A line of a shift file with its checksum, without its line end.
inline QByteArray shiftFileLine(const QByteArray &fields)
{
    const QByteArray body = fields + '\t';
    return body + QByteArray::number(crc32(body.constData(), std::size_t(body.size())), 16).rightJustified(8, '0');
}

inline void appendFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append) || f.write(bytes) != bytes.size())
        qFatal("cannot append to %s", qPrintable(path));
}

// The desk's rows as (offset, stored bytes), in journal order.
inline QList<std::pair<qint64, QByteArray>> ledgerRows(PgConnection &c, const QString &desk)
{
    const PgResult r
        = c.exec("SELECT journal_offset, raw FROM bilmeko.records WHERE desk = $1 ORDER BY journal_offset", {desk});
    QList<std::pair<qint64, QByteArray>> out;
    for (int i = 0; i < r.rows(); ++i)
        out.append({r.number(i, 0), r.bytes(i, 1)});
    return out;
}

// What the ledger must hold of a journal: every whole record the report
// trusts, at its offset.
inline QList<std::pair<qint64, QByteArray>> shippable(const QByteArray &journal)
{
    QList<std::pair<qint64, QByteArray>> out;
    for (qint64 at = 0; at + RecordSize <= journal.size(); at += RecordSize)
        if (trustedRecord(journal.constData() + at))
            out.append({at, journal.mid(at, RecordSize)});
    return out;
}

// A fresh database with the schema, so each case starts empty.
inline QString freshLedger(PgServer &server, const QString &name, bool init = true)
{
    PgConnection admin(server.conninfo());
    admin.exec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name).toUtf8().constData());
    admin.exec(QStringLiteral("CREATE DATABASE %1").arg(name).toUtf8().constData());
    QString info = server.conninfo();
    info.replace(QStringLiteral("dbname=postgres"), QStringLiteral("dbname=") + name);
    if (init) {
        PgConnection c(info);
        initLedger(c);
    }
    return info;
}

inline QString withUser(QString info, const QString &user)
{
    return info.replace(QStringLiteral("user=postgres"), QStringLiteral("user=") + user);
}

// A desk's login role (roles are the server's, shared by its databases),
// and the connection string of the ledger as that desk.
inline QString deskLogin(const QString &info, const QString &desk)
{
    PgConnection admin(info);
    admin.exec("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'bilmeko_desk')"
               " THEN CREATE ROLE bilmeko_desk NOLOGIN; END IF; END $$");
    if (admin.exec("SELECT count(*) FROM pg_roles WHERE rolname = $1", {desk}).number(0, 0) == 0)
        admin.exec(QStringLiteral("CREATE ROLE \"%1\" LOGIN IN ROLE bilmeko_desk").arg(desk).toUtf8().constData());
    return withUser(info, QLatin1Char('\'') + desk + QLatin1Char('\''));
}

} // namespace bilmeko::test
