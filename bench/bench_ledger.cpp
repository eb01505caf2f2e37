// The central ledger on a PostgreSQL server of the bench's own (a Unix
// socket, syncing to the disk as in real use): a backlog of 1,000,000
// records caught up against psql's \copy of the same rows (and imported by
// bilmeko-ledger import), one record from
// the journal's flush to its commit, the tick while a backlog ships, and
// the report over 1,000,000 rows against psql running the same aggregate,
// and the owner's board's readings over 1,000 desks; a desk's live-state
// change: its processor time, and the time until the board shows it; a
// year's shift file shipped, against psql's \copy of the same lines.

#include "bench.h"

#include "../tests/ledger/pgserver.h"
#include "app/core/livestate.h"
#include "app/core/sessionboard.h"
#include "cashdesk/core/shiftbook.h"
#include "common/core/clock.h"
#include "common/core/datetime.h"
#include "journal/core/journalfile.h"
#include "journal/core/logrecord.h"
#include "journal/core/periodreport.h"
#include "ledger/core/ledger.h"
#include "ledger/core/ledgershipper.h"
#include "ledger/core/ownerqueries.h"
#include "owner/ui/ownerwindow.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTableView>
#include <QThread>
#include <chrono>
#include <cstring>
#include <ctime>
#include <stdexcept>

using namespace bilmeko;
using namespace bilmeko::bench;

namespace {

constexpr int Backlog = 1'000'000;

LogRecord benchRecord(QRandomGenerator &rng, qsizetype i, DateTimeValue firstDay)
{
    const int minutes = 10 + int(rng.bounded(110));
    LogRecord r;
    r.written = firstDay + double(i / 100) + 9.0 / 24 + (i % 100) * 7.0 / 1440;
    r.pricePerMin = 12.5 + (i % 5);
    r.elapsed = (minutes * 60 + rng.bounded(60)) / 86400.0;
    r.startTime = r.written - std::floor(r.written) - r.elapsed;
    r.endTime = r.written - std::floor(r.written);
    r.amount = minutes * r.pricePerMin;
    r.clientName = QStringLiteral("Клиент %1").arg(i % 977);
    r.service = QStringLiteral("Солярий");
    r.note = i % 4 ? QString() : QStringLiteral("абонемент");
    r.status = QStringLiteral("Время вышло");
    r.sessionId = quint64(i) + 1;
    return r;
}

void writeJournal(const QString &path, qsizetype count)
{
    QRandomGenerator rng(18);
    QByteArray bytes(count * RecordSize, Qt::Uninitialized);
    const DateTimeValue first = dateValue(QDate(2024, 1, 1));
    for (qsizetype i = 0; i < count; ++i) {
        RecordBytes b = serializeRecord(benchRecord(rng, i, first));
        ScrambleRecord(b);
        sealRecord(b);
        std::memcpy(bytes.data() + i * RecordSize, b.data(), RecordSize);
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write the journal");
}

QString database(test::PgServer &server, const QString &name)
{
    PgConnection admin(server.conninfo());
    admin.exec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name).toUtf8().constData());
    admin.exec(QStringLiteral("CREATE DATABASE %1").arg(name).toUtf8().constData());
    QString info = server.conninfo();
    info.replace(QStringLiteral("dbname=postgres"), QStringLiteral("dbname=") + name);
    PgConnection c(info);
    initLedger(c);
    return info;
}

void psql(test::PgServer &server, const QString &info, const QString &command)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(server.binDir() + QStringLiteral("psql"),
            {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
             QStringLiteral("-d"), info, QStringLiteral("-c"), command});
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        throw std::runtime_error("psql failed: " + p.readAll().toStdString());
    p.readAll();
}

void shipAll(const QString &info, const QString &desk, const QString &journal)
{
    PgConnection c(info);
    checkLedgerSchema(c);
    qint64 offset = resumeOffset(c, desk, journal);
    for (;;) {
        const ShipOutcome o = shipBatch(c, desk, journal, offset);
        offset = o.nextOffset;
        if (o.atEnd || o.offered == 0)
            break;
    }
}

std::unique_ptr<test::PgServer> server()
{
    auto s = std::make_unique<test::PgServer>(true);
    if (!s->missing().isEmpty())
        throw std::runtime_error(s->missing().toStdString());
    return s;
}

} // namespace

BILMEKO_BENCH(ledger_backlog, "a backlog of 1,000,000 records caught up, against psql's \\copy of the same rows")
{
    auto srv = server();
    const QString journal = scratchDir() + QStringLiteral("/Bilmeko.log");
    writeJournal(journal, Backlog);

    // The same rows as COPY data, for psql; written to a file the server's
    // user need not read (\copy reads it on the client side).
    const QString copyFile = scratchDir() + QStringLiteral("/rows.copy");
    {
        QFile in(journal), out(copyFile);
        if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write the COPY rows");
        const QByteArray all = in.readAll();
        const QByteArray desk = copyField(QStringLiteral("desk"));
        for (qsizetype i = 0; i < Backlog; ++i)
            out.write(recordCopyLine(desk, all.constData() + i * RecordSize, i * RecordSize));
    }

    const QString shipDb = database(*srv, QStringLiteral("backlog"));
    const Timing ship = once([&] { shipAll(shipDb, QStringLiteral("desk"), journal); });
    const QString copyDb = database(*srv, QStringLiteral("copied"));
    const Timing copy = once([&] {
        psql(*srv, copyDb,
             QStringLiteral("\\copy bilmeko.records (desk, journal_offset, raw) FROM '%1'").arg(copyFile));
    });
    if (PgConnection(shipDb).exec("SELECT count(*) FROM bilmeko.records").number(0, 0) != Backlog)
        throw std::runtime_error("the backlog did not arrive whole");
    figure(QStringLiteral("backlog shipped (1,000,000 records)"), ship);
    figure(QStringLiteral("records per second, shipped"), Backlog / (ship.wallMs / 1000), QStringLiteral("/s"), 0);
    figure(QStringLiteral("psql \\copy of the same rows"), copy);
    target(QStringLiteral("shipping against \\copy"), ship.wallMs / copy.wallMs, QStringLiteral("x"), 1.5,
           QStringLiteral("1.5x"), 2);
    // Again: everything is there, nothing is added.
    const Timing again = once([&] { shipAll(shipDb, QStringLiteral("desk"), journal); });
    figure(QStringLiteral("catching up again with nothing new"), again);

    // The same journal through the administrator's command, a program of
    // its own as psql is, into a fresh database.
    const QString importDb = database(*srv, QStringLiteral("imported"));
    const Timing imported = once([&] {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bilmeko-ledger"),
                {QStringLiteral("import"), importDb, QStringLiteral("--desk"), QStringLiteral("desk"), journal});
        if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            throw std::runtime_error("bilmeko-ledger import failed: " + p.readAll().toStdString());
    });
    if (PgConnection(importDb).exec("SELECT count(*) FROM bilmeko.records").number(0, 0) != Backlog)
        throw std::runtime_error("the import did not arrive whole");
    figure(QStringLiteral("bilmeko-ledger import of the same journal"), imported);
    target(QStringLiteral("import against \\copy"), imported.wallMs / copy.wallMs, QStringLiteral("x"), 1.3,
           QStringLiteral("1.3x"), 2);
}

BILMEKO_BENCH(ledger_one_record, "one record from the journal's flush to its commit in the ledger")
{
    auto srv = server();
    const QString info = database(*srv, QStringLiteral("one"));
    const QString journal = scratchDir() + QStringLiteral("/Bilmeko.log");
    PgConnection c(info);
    QRandomGenerator rng(7);
    Samples s;
    qint64 offset = 0;
    for (int i = 0; i < 300; ++i) {
        appendJournalRecord(journal, benchRecord(rng, i, dateValue(QDate(2026, 12, 7))));
        const Timing t = once([&] { offset = shipBatch(c, QStringLiteral("desk"), journal, offset).nextOffset; });
        if (i >= 20)
            s.add(t);
    }
    figure(QStringLiteral("flush to commit"), s);
}

BILMEKO_BENCH(ledger_tick, "the tick over 1,000 sessions while a backlog of 1,000,000 records ships, against without")
{
    auto srv = server();
    const QString info = database(*srv, QStringLiteral("tick"));
    const QString journal = scratchDir() + QStringLiteral("/Bilmeko.log");
    writeJournal(journal, Backlog);

    SessionBoard board(scratchDir() + QStringLiteral("/board.log"));
    for (int i = 0; i < 1000; ++i)
        board.addSession(QStringLiteral("Клиент %1").arg(i), QString(), QStringLiteral("Солярий"), 12.5, 12, 0);
    const auto ticks = [&](Samples &out, const std::function<bool()> &more) {
        for (int i = 0; i < 400 && more(); ++i) {
            out.add(once([&] { board.tick(); }));
            QCoreApplication::processEvents();
        }
    };
    Samples without, with;
    ticks(without, [] { return true; });

    LedgerShipper shipper({info, QStringLiteral("desk")}, journal);
    bool done = false;
    QObject::connect(&shipper, &LedgerShipper::stateChanged,
                     [&](const LedgerState &st) { done = st.connected && st.pending == 0; });
    shipper.start();
    ticks(with, [&] { return !done; });
    figure(QStringLiteral("tick without the ledger"), without);
    figure(QStringLiteral("tick while the backlog ships"), with);
    figure(QStringLiteral("ticks taken while shipping"), with.size(), QString(), 0);
    target(QStringLiteral("tick while shipping against without (median)"), with.wallMs(0.5) / without.wallMs(0.5),
           QStringLiteral("x"), 1.1, QStringLiteral("1.1x"), 2);
}

BILMEKO_BENCH(ledger_report, "the report over 1,000,000 rows in the ledger, against psql running the same aggregate")
{
    auto srv = server();
    const QString info = database(*srv, QStringLiteral("report"));
    const QString journal = scratchDir() + QStringLiteral("/Bilmeko.log");
    writeJournal(journal, Backlog);
    shipAll(info, QStringLiteral("desk"), journal);
    PgConnection(info).exec("ANALYZE bilmeko.records");
    // Every row: 10,000 days of 100 records from 1 January 2024.
    // The command as the owner runs it, its output thrown away.
    const QString command = QCoreApplication::applicationDirPath() + QStringLiteral("/bilmeko-report");
    qint64 lines = 0;
    const Timing report = once([&] {
        QProcess p;
        p.setStandardOutputFile(scratchDir() + QStringLiteral("/report.txt"));
        p.start(command,
                {QStringLiteral("--ledger"), info, QStringLiteral("2024-01-01"), QStringLiteral("2051-12-31")});
        if (!p.waitForFinished(-1) || p.exitCode() != 0)
            throw std::runtime_error("bilmeko-report --ledger failed: " + p.readAllStandardError().toStdString());
    });
    {
        QFile text(scratchDir() + QStringLiteral("/report.txt"));
        text.open(QIODevice::ReadOnly);
        while (!text.atEnd()) {
            text.readLine();
            ++lines;
        }
    }
    const Timing aggregate = once([&] {
        psql(*srv, info,
             QStringLiteral("SELECT count(*), sum(amount), extract(epoch FROM sum(elapsed)) FROM bilmeko.records"
                            " WHERE written >= '2024-01-01' AND written < '2052-01-01'"));
    });
    const Timing rows = once([&] {
        psql(*srv, info,
             QStringLiteral("\\copy (SELECT desk, raw FROM bilmeko.records WHERE written >= '2024-01-01'"
                            " AND written < '2052-01-01' ORDER BY desk, journal_offset) TO '/dev/null'"));
    });
    if (lines != Backlog + 2)
        throw std::runtime_error("the report did not list every row");
    figure(QStringLiteral("bilmeko-report --ledger, 1,000,000 lines written"), report);
    figure(QStringLiteral("psql: the same sums"), aggregate);
    figure(QStringLiteral("psql: the same rows, unformatted"), rows);
}

BILMEKO_BENCH(ledger_board,
              "the owner's board's refresh over 1,000 desks, 20,000 running sessions and 2.9 million "
              "shift lines, and a year's per-desk summary, against libpq fetching the bare rows")
{
    auto srv = server();
    const QString info = database(*srv, QStringLiteral("board"));
    PgConnection c(info);
    // Generated inside PostgreSQL: two years of per-(desk, day) summary
    // rows (what 200 records a day would leave) and 20 running sessions a
    // desk, as the desks' triggers and updates keep them.
    c.exec("INSERT INTO bilmeko.desks (desk, program_version, records_written, records_shipped)"
           " SELECT 'desk' || lpad(i::text, 4, '0'), '1.0.0', 73000, 73000 FROM generate_series(1, 1000) i");
    c.exec(
        "INSERT INTO bilmeko.day_summary (desk, day, sessions, seconds, takings, reversals, uncounted, takings_cash,"
        " takings_card, takings_transfer, last_written)"
        " SELECT 'desk' || lpad(i::text, 4, '0'), d::date, 200, 200 * 1800, 200 * 250 + i, 1, 0, 100 * 250,"
        " 50 * 250, 25 * 250, d + interval '20 hours'"
        " FROM generate_series(1, 1000) i, generate_series(date '2025-01-01', date '2026-12-31', interval '1 day') d");
    c.exec("INSERT INTO bilmeko.running (desk, session_id, client_name, service, price_per_min, start_time, booked_end,"
           " paused, paused_ms, ran_ms, amount_due)"
           " SELECT 'desk' || lpad(i::text, 4, '0'), j, 'Клиент ' || j, 'Солярий', 2.5, localtimestamp - j * interval"
           " '1 minute', localtimestamp + interval '1 hour', j % 5 = 0, 0, j * 60000, j * 2.5"
           " FROM generate_series(1, 1000) i, generate_series(1, 20) j");
    // Two years of two shifts a day a desk, the last one open (typed
    // directly, the trigger set aside: the readings use the typed columns).
    c.exec("ALTER TABLE bilmeko.shifts DISABLE TRIGGER shifts_derive");
    c.exec("INSERT INTO bilmeko.shifts (desk, line_offset, raw, raw_hash, kind, number, event_time, operator_name)"
           " SELECT 'desk' || lpad(i::text, 4, '0'), j * 60, j::text, md5(j::text)::uuid,"
           " CASE WHEN j % 2 = 1 THEN 'open' ELSE 'close' END, (j + 1) / 2,"
           " timestamptz '2025-01-01 09:00' + j * interval '6 hours', CASE WHEN j % 2 = 1 THEN 'Оператор ' || i END"
           " FROM generate_series(1, 1000) i, generate_series(1, 2919) j");
    c.exec("ALTER TABLE bilmeko.shifts ENABLE TRIGGER shifts_derive");
    c.exec("VACUUM ANALYZE");

    const QDate today(2026, 12, 7);
    Samples refresh, bare;
    for (int i = 0; i < 40; ++i) {
        LiveReading r;
        refresh.add(once([&] { r = readLive(c, today); }));
        if (r.desks.size() != 1000 || r.running.size() != 20'000 || r.desks[0].openShift != 1460)
            throw std::runtime_error("the board's reading is not whole");
        bare.add(once([&] {
            c.exec("SELECT * FROM bilmeko.desks");
            c.exec("SELECT * FROM bilmeko.running");
        }));
    }
    figure(QStringLiteral("board refresh: every desk and every running session"), refresh);
    figure(QStringLiteral("libpq: the bare rows of both tables"), bare);
    target(QStringLiteral("board refresh (median)"), refresh.wallMs(0.5), QStringLiteral("ms"), 100,
           QStringLiteral("<= 100 ms"));

    Samples year;
    for (int i = 0; i < 10; ++i) {
        QList<DeskPeriod> p;
        year.add(once([&] { p = readDeskPeriods(c, QDate(2026, 1, 1), QDate(2026, 12, 31)); }));
        if (p.size() != 1000 || p[0].sessions != 365 * 199)
            throw std::runtime_error("the year's summary is wrong");
    }
    const Timing sums = best(5, [&] {
        c.exec("SELECT desk, sum(sessions), sum(takings) FROM bilmeko.day_summary"
               " WHERE day BETWEEN '2026-01-01' AND '2026-12-31' GROUP BY desk");
    });
    figure(QStringLiteral("a year's per-desk summary and the year before"), year);
    figure(QStringLiteral("libpq: the year's bare sums per desk"), sums);
    target(QStringLiteral("a year's per-desk summary (median)"), year.wallMs(0.5), QStringLiteral("ms"), 1000,
           QStringLiteral("<= 1 s"));
}

namespace {

// Waits, handling events, until done() holds; throws after 10 s.
void waitFor(const std::function<bool()> &done)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.hasExpired(10'000))
            throw std::runtime_error("waited 10 s in vain");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
}

} // namespace

BILMEKO_BENCH(ledger_live,
              "a live-state change of a desk with 20 running sessions: the desk's processor time, and "
              "from the change to the owner's board showing it")
{
    auto srv = server();
    const QString info = database(*srv, QStringLiteral("live"));
    {
        PgConnection admin(info);
        admin.exec("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'live_desk')"
                   " THEN CREATE ROLE live_desk LOGIN IN ROLE bilmeko_desk; END IF;"
                   " IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'live_owner')"
                   " THEN CREATE ROLE live_owner LOGIN IN ROLE bilmeko_owner; END IF; END $$");
    }
    const auto as = [&](const char *role) {
        return QString(info).replace(QStringLiteral("user=postgres"), QStringLiteral("user=") + QLatin1String(role));
    };
    const QString journal = scratchDir() + QStringLiteral("/live.log");
    writeJournal(journal, 10);
    SessionBoard desk(journal);
    for (int i = 0; i < 20; ++i)
        desk.addSession(QStringLiteral("Клиент %1").arg(i), QString(), QStringLiteral("Солярий"), 2.5, 1, 0);

    LedgerShipper shipper({as("live_desk"), {}}, journal);
    shipper.start();
    waitFor([&] { return shipper.state().connected && shipper.state().pending == 0; });
    PgConnection listener(info);
    listener.listen(LiveChannel);
    const auto heard = [&] {
        QElapsedTimer t;
        t.start();
        while (listener.notifications(1000).isEmpty())
            if (t.hasExpired(10'000))
                throw std::runtime_error("no notification within 10 s");
    };

    // The desk's side alone: the window's share (the sessions read and
    // handed over) on its own thread's clock, and the whole process's
    // processor time from the change to the notification (the shipper's
    // thread sending it; the listener's own share is a poll and a read).
    const auto processCpuMs = [] {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
    };
    constexpr int Changes = 200;
    Samples window, notified;
    double processMs = 0;
    for (int i = 0; i < Changes; ++i) {
        desk.togglePause(desk.curLog().rowId(i % 20));
        Timing w;
        const double before = processCpuMs();
        notified.add(once([&] {
            w = once([&] { shipper.publishLive(liveSessions(desk, Clock::current().monotonicMs())); });
            heard();
        }));
        processMs += processCpuMs() - before;
        window.add(w);
    }
    figure(QStringLiteral("window's thread: the sessions read and handed to the shipper"), window);
    figure(QStringLiteral("from the change to its notification at a listener"), notified);
    target(QStringLiteral("the process's processor time per live change, every thread (mean)"), processMs / Changes,
           QStringLiteral("ms"), 0.5, QStringLiteral("<= 0.5 ms"));

    // To the owner's board on the screen: from the change to the sessions
    // grid of a board (the real window) showing the new number of rows.
    OwnerSettings owner;
    owner.connection = as("live_owner");
    TOwnerBoard board(owner, scratchDir() + QStringLiteral("/Owner.ini"));
    board.show();
    QAbstractItemModel *grid = board.SessionGrid->model();
    waitFor([&] { return grid->rowCount() == 20; });
    Samples toScreen;
    QList<MemTable::RowId> added;
    for (int i = 0; i < 50; ++i) {
        const bool add = i % 2 == 0;
        if (add)
            added.append(
                desk.addSession(QStringLiteral("Новая %1").arg(i), QString(), QStringLiteral("Солярий"), 2.5, 1, 0));
        else
            desk.stopSession(added.takeLast());
        const int rows = add ? 21 : 20;
        toScreen.add(once([&] {
            shipper.publishLive(liveSessions(desk, Clock::current().monotonicMs()));
            waitFor([&] { return grid->rowCount() == rows; });
        }));
    }
    figure(QStringLiteral("from the change to the board's grid"), toScreen);
    target(QStringLiteral("change to the board's grid (median)"), toScreen.wallMs(0.5), QStringLiteral("ms"), 1000,
           QStringLiteral("<= 1 s"));
}

// A chain's year in the ledger: 1,000 desks, 365 days, 200 records a day
// each (BILMEKO_BENCH_CHAIN_PER_DAY sets another number), generated inside
// PostgreSQL: shipping 73 million records through the desks' triggers
// would take hours on this machine. The rows are inserted with the derive
// trigger off, their typed columns generated directly (the raw bytes a
// constant of the right size), and the per-(desk, day) summary built from
// them with the same sums the trigger keeps. The year's per-desk summary,
// as the board asks for it, against psql computing the same figures for
// the same year from the rows.
BILMEKO_BENCH(ledger_chain,
              "a year's per-desk summary over 1,000 desks x 365 days x 200 records, generated inside "
              "PostgreSQL, against psql summing the rows")
{
    const int perDay = qEnvironmentVariableIsSet("BILMEKO_BENCH_CHAIN_PER_DAY")
        ? qEnvironmentVariableIntValue("BILMEKO_BENCH_CHAIN_PER_DAY")
        : 200;
    if (perDay < 1 || perDay > 1000)
        throw std::runtime_error("BILMEKO_BENCH_CHAIN_PER_DAY: 1 to 1000");
    // Not syncing to the disk: only the queries over the rows are timed.
    test::PgServer srv;
    if (!srv.missing().isEmpty())
        throw std::runtime_error(srv.missing().toStdString());
    const QString info = database(srv, QStringLiteral("chain"));
    PgConnection c(info);
    // Generating and indexing 73 million rows takes far longer than the
    // program gives a statement: psql runs them.
    const auto run = [&](const QString &sql) { psql(srv, info, sql); };
    run(QStringLiteral("ALTER TABLE bilmeko.records DISABLE TRIGGER USER"));
    run(QStringLiteral("DROP INDEX bilmeko.records_key"));
    run(QStringLiteral("DROP INDEX bilmeko.records_session"));
    run(QStringLiteral("DROP INDEX bilmeko.records_written"));
    const Timing generate = once([&] {
        run(QStringLiteral(
                "INSERT INTO bilmeko.records (desk, journal_offset, raw, raw_hash, session_id, reversal, counted,"
                " written, price_per_min, start_time, elapsed, end_time, amount, client_name, service, note,"
                " status, payment)"
                " SELECT 'desk' || lpad(d::text, 4, '0'), ((day * %1 + k) * 168)::bigint,"
                " decode(repeat('00', 168), 'hex'), md5(d || '/' || day || '/' || k)::uuid, (day * %1 + k)::bigint,"
                " false, true, timestamp '2026-01-01 09:00' + day * interval '1 day' + k * interval '3 minutes',"
                " 2.5, interval '9 hours' + k * interval '3 minutes', (10 + (k * 7 + d) % 50) * interval '1 minute',"
                " interval '9 hours 30 minutes' + k * interval '3 minutes', (10 + (k * 7 + d) % 50) * 2.5,"
                " 'Клиент ' || k, 'Солярий', '', 'Время вышло', 1 + k % 3"
                " FROM generate_series(1, 1000) d, generate_series(0, 364) day, generate_series(0, %2) k")
                .arg(perDay)
                .arg(perDay - 1));
        run(QStringLiteral(
            "SET maintenance_work_mem = '1GB'; CREATE UNIQUE INDEX records_key ON bilmeko.records (desk, raw_hash)"));
        run(QStringLiteral("SET maintenance_work_mem = '1GB'; CREATE INDEX records_session ON bilmeko.records (desk, "
                           "session_id) WHERE session_id IS NOT NULL"));
        run(QStringLiteral(
            "SET maintenance_work_mem = '1GB'; CREATE INDEX records_written ON bilmeko.records (written)"));
        run(QStringLiteral(
            "INSERT INTO bilmeko.day_summary (desk, day, sessions, seconds, takings, reversals, uncounted,"
            " takings_cash, takings_card, takings_transfer, last_written)"
            " SELECT desk, written::date, count(*) FILTER (WHERE NOT reversal),"
            " coalesce(sum(extract(epoch FROM elapsed)) FILTER (WHERE counted), 0),"
            " coalesce(sum(amount) FILTER (WHERE counted), 0),"
            " count(*) FILTER (WHERE reversal AND counted), count(*) FILTER (WHERE NOT counted),"
            " coalesce(sum(amount) FILTER (WHERE counted AND payment = 1), 0),"
            " coalesce(sum(amount) FILTER (WHERE counted AND payment = 2), 0),"
            " coalesce(sum(amount) FILTER (WHERE counted AND payment = 3), 0), max(written)"
            " FROM bilmeko.records GROUP BY desk, written::date"));
        run(QStringLiteral("ALTER TABLE bilmeko.records ENABLE TRIGGER USER"));
        run(QStringLiteral("VACUUM ANALYZE"));
    });
    const qint64 rows = c.exec("SELECT sum(sessions) FROM bilmeko.day_summary").number(0, 0);
    const qint64 bytes = c.exec("SELECT pg_total_relation_size('bilmeko.records')").number(0, 0);
    figure(QStringLiteral("records generated"), double(rows), QStringLiteral("rows"), 0);
    figure(QStringLiteral("the records' table with its indexes"), double(bytes) / (1 << 30), QStringLiteral("GiB"), 2);
    figure(QStringLiteral("generating them, their indexes and the summary"), generate);

    Samples year;
    QList<DeskPeriod> p;
    for (int i = 0; i < 10; ++i)
        year.add(once([&] { p = readDeskPeriods(c, QDate(2026, 1, 1), QDate(2026, 12, 31)); }));
    if (p.size() != 1000 || p[0].sessions != 365LL * perDay)
        throw std::runtime_error("the year's summary is wrong");
    figure(QStringLiteral("a year's per-desk summary and the year before, from the summary"), year);
    target(QStringLiteral("a year's per-desk summary (median)"), year.wallMs(0.5), QStringLiteral("ms"), 1000,
           QStringLiteral("<= 1 s"));
    // The same year's figures from the rows (two runs: the second with
    // whatever of the table the page cache kept).
    for (int pass = 1; pass <= 2; ++pass) {
        const Timing rowsSum = once([&] {
            psql(srv, info,
                 QStringLiteral("SELECT desk, count(*) FILTER (WHERE NOT reversal), sum(extract(epoch FROM elapsed))"
                                " FILTER (WHERE counted) / 60, sum(amount) FILTER (WHERE counted),"
                                " count(*) FILTER (WHERE reversal AND counted) FROM bilmeko.records"
                                " WHERE written >= '2026-01-01' AND written < '2027-01-01' GROUP BY desk"));
        });
        figure(QStringLiteral("psql: the same year's figures from the rows, run %1").arg(pass), rowsSum);
    }
}

BILMEKO_BENCH(ledger_shifts,
              "a year's shift file (2 shifts and 200 receipts a day) shipped, against psql's \\copy of "
              "the same lines; one line appended to its commit")
{
    auto srv = server();
    const QString path = scratchDir() + QLatin1Char('/') + QLatin1String(ShiftFileName);
    // The lines as the desk writes them, without a flush each.
    const auto line = [](const QByteArray &fields) {
        const QByteArray body = fields + '\t';
        return body + QByteArray::number(crc32(body.constData(), std::size_t(body.size())), 16).rightJustified(8, '0')
            + '\n';
    };
    QByteArray file, copy;
    const qint64 firstMs = QDateTime(QDate(2026, 1, 1), QTime(9, 0)).toMSecsSinceEpoch();
    int shift = 0, receipt = 0;
    for (int day = 0; day < 365; ++day) {
        for (int half = 0; half < 2; ++half) {
            const qint64 at = firstMs + day * 86'400'000LL + half * 21'600'000LL;
            QList<QByteArray> lines{line("open\t" + QByteArray::number(++shift) + '\t' + QByteArray::number(at)
                                         + "\t0\t1500\t%D0%90%D0%BD%D0%BD%D0%B0")};
            for (int i = 0; i < 100; ++i, ++receipt)
                lines << line(
                    "receipt\t" + QByteArray::number(receipt + 1) + '\t'
                    + QByteArray::number(3'974'000'000'000LL + receipt * 60'000LL) + '\t'
                    + QByteArray::number((quint64(receipt) + 1) * 0x9E3779B97F4A7C15ULL, 16).rightJustified(16, '0')
                    + "\tS");
            lines << line("close\t" + QByteArray::number(shift) + '\t' + QByteArray::number(at + 21'000'000)
                          + "\t0\t9000.5");
            for (const QByteArray &l : lines) {
                copy += "desk\t" + QByteArray::number(file.size()) + '\t' + QByteArray(l).replace('\t', "\\t");
                file += l;
            }
        }
    }
    const qint64 count = file.count('\n');
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(file) != file.size())
        throw std::runtime_error("cannot write the shift file");
    f.close();
    const QString copyFile = scratchDir() + QStringLiteral("/shifts.copy");
    QFile c(copyFile);
    if (!c.open(QIODevice::WriteOnly | QIODevice::Truncate) || c.write(copy) != copy.size())
        throw std::runtime_error("cannot write the COPY lines");
    c.close();

    const QString shipDb = database(*srv, QStringLiteral("shifts"));
    PgConnection conn(shipDb);
    const auto shipFrom = [&](qint64 offset) {
        for (;;) {
            const ShipOutcome o = shipShiftBatch(conn, QStringLiteral("desk"), path, offset);
            offset = o.nextOffset;
            if (o.atEnd)
                return offset;
        }
    };
    qint64 end = 0;
    const Timing ship = once([&] { end = shipFrom(0); });
    if (conn.exec("SELECT count(*) FROM bilmeko.shifts WHERE kind IS NOT NULL").number(0, 0) != count)
        throw std::runtime_error("the shift file did not arrive whole");
    const QString copyDb = database(*srv, QStringLiteral("shiftscopied"));
    const Timing copied = once([&] {
        psql(*srv, copyDb, QStringLiteral("\\copy bilmeko.shifts (desk, line_offset, raw) FROM '%1'").arg(copyFile));
    });
    figure(QStringLiteral("lines in the year's file"), double(count), QString(), 0);
    figure(QStringLiteral("shift file shipped"), ship);
    figure(QStringLiteral("psql \\copy of the same lines"), copied);
    figure(QStringLiteral("lines per second, shipped"), count / (ship.wallMs / 1000), QStringLiteral("/s"), 0);
    const Timing again = once([&] { shipFrom(0); });
    figure(QStringLiteral("offered again whole, nothing new"), again);

    Samples one;
    ShiftBook book(path);
    book.load();
    for (int i = 0; i < 200; ++i) {
        const Timing t = once([&] {
            book.takeReceiptNumber({quint64(i) + 1, 3'990'000'000'000LL + i, false});
            end = shipFrom(end);
        });
        one.add(t);
    }
    figure(QStringLiteral("one receipt line, from its flush to its commit"), one);
}
