// The billing tick over a full day's worth of running sessions: the board
// alone, the board under the main window's grid, against a plain loop over
// the same rows of the table.

#include "bench.h"

#include "app/core/sessionboard.h"
#include "app/ui/form1.h"
#include "common/core/clock.h"
#include "common/core/formats.h"
#include "common/core/memtable.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QTableView>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <stdexcept>

using namespace bilmeko;
using namespace bilmeko::bench;

namespace {

constexpr int Sessions = 1000;
constexpr int Ticks = 1000;
constexpr int TickSecs = 20;

const QStringList Clients = {
    QStringLiteral("Иванова Мария"), QStringLiteral("Петров"),   QStringLiteral("Сидоренко А. В."),
    QStringLiteral("Кузнецов Пётр"), QStringLiteral("Смирнова"), QStringLiteral("Новикова Елена"),
};
const QStringList Services
    = {QStringLiteral("Солярий"), QStringLiteral("Массаж спины"), QStringLiteral("Маникюр"), QStringLiteral("Стрижка")};
const double Prices[] = {12.5, 25, 18, 15.75};

// 1,000 sessions started a second apart, each booked for 12 hours: none
// ends during the ticks that follow (1,000 x 20 s is under 6 hours).
void fillBoard(SessionBoard &board, FixedClock *clock)
{
    for (int i = 0; i < Sessions; ++i) {
        const int s = i % Services.size();
        board.addSession(Clients[i % Clients.size()], i % 3 == 0 ? QStringLiteral("абонемент") : QString(), Services[s],
                         Prices[s], 12, 0);
        if (clock)
            clock->advanceSecs(1);
    }
    if (board.curLog().rowCount() != Sessions)
        throw std::runtime_error("the board did not take every session");
}

// The least a tick must do: visit every row once, read its end, start and
// price, write its time left and amount. Field positions found once, the
// clock read once, the views held back.
void plainLoop(MemTable &t, DateTimeValue now)
{
    const int dEnd = t.fieldIndex(curlog::DEnd);
    const int dBeg = t.fieldIndex(curlog::DBeg);
    const int price = t.fieldIndex(curlog::Price);
    const int tLeft = t.fieldIndex(curlog::TLeft);
    const int summ = t.fieldIndex(curlog::Summ);
    const std::int64_t nowMs = roundToMs(now);
    t.holdUpdates();
    for (int row = 0, n = t.rowCount(); row < n; ++row) {
        const std::int64_t endMs = roundToMs(t.value(row, dEnd).toDouble());
        const std::int64_t begMs = roundToMs(t.value(row, dBeg).toDouble());
        const MinuteCharge c = minuteCharge(nowMs - begMs, t.value(row, price).toDouble());
        t.setValue(row, tLeft, static_cast<double>(endMs - nowMs) / MsPerDay);
        t.setValue(row, summ, c.amount);
    }
    t.resumeUpdates();
}

// The amount of the first row, to see that ticks really charged.
double firstAmount(const MemTable &t)
{
    return t.value(0, t.fieldIndex(curlog::Summ)).toDouble();
}

void requireRows(const MemTable &t)
{
    if (t.rowCount() != Sessions)
        throw std::runtime_error("a session ended during the ticks");
}

struct GridTicks
{
    Samples tick; // the tick as the main window's timer runs it, then the redraw
    Samples redraw; // the grid's redraw alone
    Samples columns; // the redraw of the two columns a tick changes, alone
    Samples plain; // the plain loop over the rows
    Samples changed; // the plain loop, then the redraw of exactly the cells it changed
    double redrawsPerTick = 0;
};

// The main window of a folder of its own with 1,000 sessions, shown; ticks
// 20 s apart on the fixed clock, or on the system clock when there is none.
GridTicks gridTicks(FixedClock *clock, const QString &sub)
{
    const QString dir = scratchDir() + QLatin1Char('/') + sub;
    QDir().mkpath(dir);
    TForm1 form(dir);
    // Only the ticks measured here.
    for (const char *name : {"Timer1", "Timer2"})
        if (auto *timer = form.findChild<QTimer *>(QLatin1String(name)))
            timer->stop();
    fillBoard(form.board(), clock);
    form.showCentred();
    for (int i = 0; i < 100 && !(form.windowHandle() && form.windowHandle()->isExposed()); ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    QApplication::processEvents();

    // Every redraw of the grid's cells is counted: a tick must bring one.
    auto *grid = form.findChild<QTableView *>(QStringLiteral("RxDBGrid1"));
    if (!grid)
        throw std::runtime_error("no grid");
    struct PaintCounter : QObject
    {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint)
                ++paints;
            return false;
        }
    } counter;
    grid->viewport()->installEventFilter(&counter);

    MemTable &t = form.board().curLog();
    int leftColumn = -1;
    int summColumn = -1;
    for (int c = 0; c < grid->model()->columnCount(); ++c) {
        const QString title = grid->model()->headerData(c, Qt::Horizontal).toString();
        if (title == QStringLiteral("Осталось"))
            leftColumn = c;
        else if (title == QStringLiteral("Сумма"))
            summColumn = c;
    }
    if (leftColumn < 0 || summColumn != leftColumn + 1)
        throw std::runtime_error("the grid's columns have moved");
    GridTicks g;
    int tickPaints = 0;
    const int ticks = clock ? Ticks / 2 : Ticks / 4;
    for (int i = 0; i < ticks; ++i) {
        if (clock)
            clock->advanceSecs(TickSecs);
        const int before = counter.paints;
        g.tick.add(once([&] {
            form.Timer2Timer();
            QApplication::processEvents();
        }));
        tickPaints += counter.paints - before;
        g.redraw.add(once([&] {
            grid->viewport()->update();
            QApplication::processEvents();
        }));
        // What the grid would redraw if told only that the time left and
        // the amounts changed.
        g.columns.add(once([&] {
            QAbstractItemModel *m = grid->model();
            emit m->dataChanged(m->index(0, leftColumn), m->index(m->rowCount() - 1, summColumn));
            QApplication::processEvents();
        }));
        g.plain.add(once([&] { plainLoop(t, Clock::current().nowValue()); }));
        // The least a tick with the grid can cost: the loop, then a redraw
        // of the cells of "Осталось" and "Сумма" alone.
        g.changed.add(once([&] {
            plainLoop(t, Clock::current().nowValue());
            QAbstractItemModel *m = grid->model();
            grid->viewport()->update(grid->visualRect(m->index(0, leftColumn))
                                         .united(grid->visualRect(m->index(m->rowCount() - 1, summColumn)))
                                         .intersected(grid->viewport()->rect()));
            QApplication::processEvents();
        }));
    }
    requireRows(t);
    g.redrawsPerTick = double(tickPaints) / ticks;
    grid->viewport()->removeEventFilter(&counter);
    return g;
}

} // namespace

BILMEKO_BENCH(tick_sessions, "one billing tick over 1,000 running sessions, against a plain loop over the same rows")
{
    Formats::setCurrent(Formats::russian());
    FixedClock clock(QDateTime(QDate(2026, 12, 7), QTime(9, 0)));
    ScopedClock installed(&clock);
    SessionBoard board(QDir(scratchDir()).filePath(QStringLiteral("Bilmeko.log")));
    fillBoard(board, &clock);
    MemTable &t = board.curLog();
    figure(QStringLiteral("running sessions"), t.rowCount(), QString(), 0);

    // The two take turns, so a busy moment of the machine falls on both.
    Samples tick;
    Samples plain;
    for (int i = 0; i < Ticks; ++i) {
        clock.advanceSecs(TickSecs);
        tick.add(once([&] { board.tick(); }));
        plain.add(once([&] { plainLoop(t, clock.nowValue()); }));
    }
    requireRows(t);
    figure(QStringLiteral("amount of a session after the ticks"), firstAmount(t), QString(), 2);
    figure(QStringLiteral("plain loop over the rows"), plain);
    figure(QStringLiteral("tick"), tick);
    figure(QStringLiteral("tick / plain loop, processor medians"), tick.cpuMs(0.5) / plain.cpuMs(0.5),
           QStringLiteral("x"));
    target(QStringLiteral("tick, median"), tick.wallMs(0.5), QStringLiteral("ms"), 2, QStringLiteral("< 2 ms"), 3);
    target(QStringLiteral("tick, slowest processor time"), tick.cpuMs(1), QStringLiteral("ms"), 2,
           QStringLiteral("< 2 ms"), 3);

    // The program itself runs on the system clock, which the tick reads once
    // a row.
    Clock::setCurrent(nullptr);
    SessionBoard live(QDir(scratchDir()).filePath(QStringLiteral("Bilmeko2.log")));
    fillBoard(live, nullptr);
    Samples onSystem;
    for (int i = 0; i < Ticks / 4; ++i)
        onSystem.add(once([&] { live.tick(); }));
    requireRows(live.curLog());
    figure(QStringLiteral("tick on the system clock"), onSystem);
}

BILMEKO_BENCH(tick_grid, "one billing tick over 1,000 running sessions with the main window's grid shown and redrawn")
{
    Formats::setCurrent(Formats::russian());
    FixedClock clock(QDateTime(QDate(2026, 12, 7), QTime(9, 0)));
    Clock::setCurrent(&clock);
    GridTicks fixed = gridTicks(&clock, QStringLiteral("a/"));
    figure(QStringLiteral("grid redraws per tick"), fixed.redrawsPerTick, QString(), 2);
    figure(QStringLiteral("plain loop over the rows"), fixed.plain);
    figure(QStringLiteral("grid redrawn alone"), fixed.redraw);
    figure(QStringLiteral("grid's \"Осталось\" and \"Сумма\" columns redrawn alone"), fixed.columns);
    figure(QStringLiteral("tick with the grid redrawn"), fixed.tick);
    figure(QStringLiteral("plain loop + the changed cells redrawn"), fixed.changed);
    figure(QStringLiteral("tick with the grid / plain loop + changed cells, minimum"),
           fixed.tick.cpuMs(0) / fixed.changed.cpuMs(0), QStringLiteral("x"), 2);
    target(QStringLiteral("tick with the grid / plain loop + changed cells, processor medians"),
           fixed.tick.cpuMs(0.5) / fixed.changed.cpuMs(0.5), QStringLiteral("x"), 1.3, QStringLiteral("<= 1.3 x"), 2);
    target(QStringLiteral("tick with the grid redrawn, median"), fixed.tick.wallMs(0.5), QStringLiteral("ms"), 2,
           QStringLiteral("< 2 ms"), 3);
    target(QStringLiteral("tick with the grid redrawn, 99th percentile of processor time"), fixed.tick.cpuMs(0.99),
           QStringLiteral("ms"), 2, QStringLiteral("<= 2 ms"), 3);

    // As the program runs it: the system clock, read once a row.
    Clock::setCurrent(nullptr);
    GridTicks live = gridTicks(nullptr, QStringLiteral("b/"));
    figure(QStringLiteral("tick with the grid redrawn, on the system clock"), live.tick);
    target(QStringLiteral("tick with the grid redrawn, on the system clock, median"), live.tick.wallMs(0.5),
           QStringLiteral("ms"), 2, QStringLiteral("< 2 ms"), 3);
}
