// Saving the running sessions, as New, Extend and Stop do before they
// return, against the least a durable whole-file replace costs: write the
// same bytes to a new file, flush it, rename it over the old one.

#include "bench.h"

#include "app/core/sessionboard.h"
#include "app/core/sessionstate.h"
#include "common/core/clock.h"
#include "journal/core/logrecord.h"

#include <QDir>
#include <QFile>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

using namespace bilmeko;
using namespace bilmeko::bench;

namespace {

constexpr int Cycles = 300;
constexpr int Running = 10; // a busy afternoon

void bareReplace(const QByteArray &path, const QByteArray &tmp, const QByteArray &bytes, const char *folder)
{
    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bytes.constData(), bytes.size()) != bytes.size() || ::fsync(fd) != 0 || ::close(fd) != 0
        || ::rename(tmp.constData(), path.constData()) != 0)
        throw std::runtime_error("bare replace failed");
    if (folder) {
        const int d = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d < 0 || ::fsync(d) != 0 || ::close(d) != 0)
            throw std::runtime_error("folder flush failed");
    }
}

QByteArray readState(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("no state file");
    return f.readAll();
}

} // namespace

BILMEKO_BENCH(
    session_state_save,
    "the running sessions saved on New, Extend and Stop, against a bare write, flush and rename of the same bytes")
{
    const QString dir = scratchDir();
    FixedClock clock(QDateTime(QDate(2026, 12, 7), QTime(9, 0)));
    ScopedClock scoped(&clock);
    SessionBoard board(QDir(dir).filePath(QStringLiteral("Bilmeko.log")));
    const QString statePath = QDir(dir).filePath(QStringLiteral("Bilmeko.sessions"));
    board.setStatePath(statePath);
    for (int i = 0; i < Running - 1; ++i)
        board.addSession(QStringLiteral("Иванова Мария %1").arg(i), QStringLiteral("абонемент"),
                         QStringLiteral("Массаж спины"), 12.5, 2, 0);

    const QByteArray barePath = QFile::encodeName(QDir(dir).filePath(QStringLiteral("bare")));
    const QByteArray bareTmp = barePath + ".tmp";
    const QByteArray folder = QFile::encodeName(dir);
    Samples onNew, onExtend, bare, bareDurable;
    QByteArray bytes;
    const auto timeBare = [&] {
        bare.add(once([&] { bareReplace(barePath, bareTmp, bytes, nullptr); }));
        bareDurable.add(once([&] { bareReplace(barePath, bareTmp, bytes, folder.constData()); }));
    };
    for (int i = 0; i < Cycles; ++i) {
        // The same bytes as the board's last save; the order of the pair
        // alternates, so neither one always follows the previous flush.
        const bool bareFirst = i % 2 == 0;
        bytes = readState(statePath);
        MemTable::RowId row = 0;
        if (bareFirst)
            timeBare();
        onNew.add(once([&] {
            row = board.addSession(QStringLiteral("Петрова Анна"), QString(), QStringLiteral("Стрижка"), 20, 0, 45);
        }));
        bytes = readState(statePath);
        timeBare(); // after New and before Extend in either order
        onExtend.add(once([&] { board.extendSession(row, 0, 15); }));
        if (!bareFirst)
            timeBare();
        // Stop writes its journal record (measured in journal_append), then
        // the same save as New's.
        board.stopSession(row);
    }
    if (board.curLog().rowCount() != Running - 1)
        throw std::runtime_error("the board lost a session");

    figure(QStringLiteral("state file size"), double(QFile(statePath).size()), QStringLiteral("bytes"), 0);
    figure(QStringLiteral("bare write + fsync + rename"), bare);
    // What makes the rename itself survive a power cut.
    figure(QStringLiteral("the same + fsync of the folder"), bareDurable);
    figure(QStringLiteral("New with its save"), onNew);
    figure(QStringLiteral("Extend with its save"), onExtend);
    target(QStringLiteral("New / bare, medians"), onNew.wallMs(0.5) / bare.wallMs(0.5), QStringLiteral("x"), 1.5,
           QStringLiteral("<= 1.5"), 2);
    target(QStringLiteral("Extend / bare, medians"), onExtend.wallMs(0.5) / bare.wallMs(0.5), QStringLiteral("x"), 1.5,
           QStringLiteral("<= 1.5"), 2);
    figure(QStringLiteral("New / bare, 99th percentiles"), onNew.wallMs(0.99) / bare.wallMs(0.99), QStringLiteral("x"),
           2);
    figure(QStringLiteral("Extend / bare, 99th percentiles"), onExtend.wallMs(0.99) / bare.wallMs(0.99),
           QStringLiteral("x"), 2);
    figure(QStringLiteral("New / bare with folder fsync, medians"), onNew.wallMs(0.5) / bareDurable.wallMs(0.5),
           QStringLiteral("x"), 2);
}

namespace {

// The journal append a Stop must make, and no more: open, write 168 bytes,
// flush, close.
void bareAppend(const QByteArray &path, const char *record)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, record, RecordSize) != RecordSize || ::fsync(fd) != 0 || ::close(fd) != 0)
        throw std::runtime_error("bare append failed");
}

} // namespace

BILMEKO_BENCH(session_stop_undo,
              "Stop and its undo with 1,000 running sessions, against the durable work they must do: the journal "
              "record appended and flushed, the state file replaced (write, fsync, rename, fsync of the folder)")
{
    constexpr int Many = 1000;
    constexpr int Pairs = 200;
    const QString dir = scratchDir();
    FixedClock clock(QDateTime(QDate(2026, 12, 7), QTime(9, 0)));
    ScopedClock scoped(&clock);
    SessionBoard board(QDir(dir).filePath(QStringLiteral("Bilmeko.log")));
    const QString statePath = QDir(dir).filePath(QStringLiteral("Bilmeko.sessions"));
    board.setStatePath(statePath);
    board.setUndoWindowMs(5 * 60'000);
    for (int i = 0; i < Many; ++i)
        board.addSession(QStringLiteral("Иванова Мария %1").arg(i), QStringLiteral("абонемент"),
                         QStringLiteral("Массаж спины"), 12.5, 12, 0);

    const QByteArray barePath = QFile::encodeName(QDir(dir).filePath(QStringLiteral("bare")));
    const QByteArray bareTmp = barePath + ".tmp";
    const QByteArray bareLog = QFile::encodeName(QDir(dir).filePath(QStringLiteral("bare.log")));
    const QByteArray folder = QFile::encodeName(dir);
    RecordBytes record{};
    Samples stop, undo, floorStop, floorUndo;
    for (int i = 0; i < Pairs; ++i) {
        clock.advanceSecs(20);
        const MemTable::RowId row = board.curLog().rowId(i % Many);
        stop.add(once([&] { board.stopSession(row); }));
        QByteArray bytes = readState(statePath);
        floorStop.add(once([&] {
            bareAppend(bareLog, record.data());
            bareReplace(barePath, bareTmp, bytes, folder.constData());
        }));
        undo.add(once([&] {
            if (!board.undoStop())
                throw std::runtime_error("nothing to undo");
        }));
        bytes = readState(statePath);
        floorUndo.add(once([&] {
            bareAppend(bareLog, record.data());
            bareReplace(barePath, bareTmp, bytes, folder.constData());
        }));
    }
    if (board.curLog().rowCount() != Many)
        throw std::runtime_error("the board lost a session");

    figure(QStringLiteral("state file size"), double(QFile(statePath).size()), QStringLiteral("bytes"), 0);
    figure(QStringLiteral("Stop"), stop);
    figure(QStringLiteral("its floor: append + replace"), floorStop);
    figure(QStringLiteral("undo of the Stop"), undo);
    figure(QStringLiteral("its floor: append + replace"), floorUndo);
    target(QStringLiteral("Stop / floor, processor medians"), stop.cpuMs(0.5) / floorStop.cpuMs(0.5),
           QStringLiteral("x"), 2, QStringLiteral("<= 2"), 2);
    target(QStringLiteral("undo / floor, processor medians"), undo.cpuMs(0.5) / floorUndo.cpuMs(0.5),
           QStringLiteral("x"), 2, QStringLiteral("<= 2"), 2);
    figure(QStringLiteral("Stop / floor, wall-clock medians"), stop.wallMs(0.5) / floorStop.wallMs(0.5),
           QStringLiteral("x"), 2);
    figure(QStringLiteral("undo / floor, wall-clock medians"), undo.wallMs(0.5) / floorUndo.wallMs(0.5),
           QStringLiteral("x"), 2);

    // What the save cost before each session's line was kept: the whole
    // file encoded again from the grid.
    SessionState whole = SessionStateFile(statePath).load().state;
    figure(QStringLiteral("the whole file of %1 sessions encoded").arg(whole.sessions.size()),
           best(21, [&] { (void)serializeSessionState(whole); }));
}
