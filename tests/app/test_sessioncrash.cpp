// The running sessions under SIGKILL: a child runs sessions through the real
// board, state file and journal, and is killed at a random moment, during
// New, Extend, Stop or the tick, hundreds of times. After each restart
// every session acknowledged to the child is either running or in the
// journal, exactly once, and none is charged more than its booked minutes.

#include "app/core/sessionboard.h"
#include "common/core/clock.h"
#include "journal/core/logrecord.h"
#include "testsupport.h"

#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdint>
#include <sys/wait.h>
#include <unistd.h>

using namespace bilmeko;

namespace {

const QDateTime Base(QDate(2026, 12, 7), QTime(9, 0));
constexpr int Rounds = 400;
constexpr int StepsPerChild = 60; // then the child waits for its end
constexpr qint64 StepMs = 20'000; // each tick is 20 s later

// One line of the child's report: an intent before a command, its
// acknowledgement after.
struct Message
{
    char op = 0; // n/N new, e/E extend, s/S stop, t/T tick, R restored, X failed
    std::uint64_t id = 0;
    std::int64_t bookedMs = 0;
};

void moveTo(FixedClock &clock, qint64 msSinceBase)
{
    clock.jumpWall(Base.addMSecs(msSinceBase));
    // One boot for the whole test: the monotonic clock runs with the wall.
    clock.reboot(1'000'000'000 + msSinceBase, "crash-test-boot");
}

[[noreturn]] void runChild(const QString &dir, int round, qint64 now, int fd)
{
    FixedClock clock;
    ScopedClock scoped(&clock);
    moveTo(clock, now);
    QRandomGenerator rng(static_cast<quint32>(round) * 7919u + 1);
    SessionBoard board(dir + QStringLiteral("/Bilmeko.log"));
    board.setStatePath(dir + QStringLiteral("/Bilmeko.sessions"));
    const auto say = [fd](char op, std::uint64_t id = 0, std::int64_t booked = 0) {
        const Message m{op, id, booked};
        if (::write(fd, &m, sizeof m) != sizeof m)
            ::_exit(1);
    };
    try {
        board.restoreSessions();
        say('R');
        for (int step = 0; step < StepsPerChild; ++step) {
            MemTable &t = board.curLog();
            const int what = rng.bounded(20);
            if (what < 5 || t.isEmpty()) {
                say('n');
                const int minutes = rng.bounded(1, 7);
                const auto row
                    = board.addSession(QStringLiteral("K%1").arg(step), QString(), QStringLiteral("S"), 1, 0, minutes);
                say('N', board.session(row)->id, minutes * 60'000LL);
            } else if (what < 8) {
                const auto row = t.rowId(rng.bounded(t.rowCount()));
                const Session s = *board.session(row);
                const int minutes = rng.bounded(1, 6);
                say('e', s.id, s.bookedMs + minutes * 60'000LL);
                board.extendSession(row, 0, minutes);
                say('E', s.id, s.bookedMs + minutes * 60'000LL);
            } else if (what < 10) {
                const auto row = t.rowId(rng.bounded(t.rowCount()));
                const std::uint64_t id = board.session(row)->id;
                say('s', id);
                board.stopSession(row);
                say('S', id);
            } else {
                say('t');
                now += StepMs;
                moveTo(clock, now);
                board.tick();
                say('T');
            }
        }
    } catch (...) {
        say('X');
    }
    for (;;)
        ::pause();
}

struct Known
{
    bool acknowledged = false; // New was acknowledged
    bool stopped = false; // Stop was acknowledged
    std::int64_t maxBookedMs = 0; // the most it may ever have been booked for
};

} // namespace

class TestSessionCrash : public QObject
{
    Q_OBJECT
private slots:
    void killedProgramLosesNoSessionAndWritesEachOnce();
};

void TestSessionCrash::killedProgramLosesNoSessionAndWritesEachOnce()
{
    test::pinRussian();
    QTemporaryDir dir;
    const QString journalPath = dir.filePath(QStringLiteral("Bilmeko.log"));
    auto *rng = QRandomGenerator::global();
    QHash<std::uint64_t, Known> known;
    QHash<char, int> killedDuring;
    int maxRunning = 0;
    qint64 now = 0; // the test's time: each child goes on from the last one

    for (int round = 0; round < Rounds; ++round) {
        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            ::close(fds[0]);
            runChild(dir.path(), round, now, fds[1]);
        }
        ::close(fds[1]);
        ::usleep(rng->bounded(300, 25000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        QVERIFY(WIFSIGNALED(status));

        char inFlight = 0;
        Message m;
        while (::read(fds[0], &m, sizeof m) == sizeof m) {
            QVERIFY2(m.op != 'X', "the child met an error");
            Known &k = known[m.id];
            switch (m.op) {
            case 'N':
                k.acknowledged = true;
                k.maxBookedMs = std::max(k.maxBookedMs, m.bookedMs);
                break;
            case 'e': k.maxBookedMs = std::max(k.maxBookedMs, m.bookedMs); break;
            case 'S': k.stopped = true; break;
            case 't': now += StepMs; break;
            default: break;
            }
            inFlight = (m.op >= 'a' && m.op <= 'z') ? m.op : 0;
        }
        ::close(fds[0]);
        known.remove(0);
        ++killedDuring[inFlight];

        // A session whose New was cut off after its save exists without an
        // acknowledgement; the state file says what it was booked for.
        SessionState onDisk;
        const QByteArray stateBytes = test::readFile(dir.filePath(QStringLiteral("Bilmeko.sessions")));
        QVERIFY(stateBytes.isEmpty() || parseSessionState(stateBytes, onDisk, nullptr));
        for (const SavedSession &s : onDisk.sessions)
            known[s.id].maxBookedMs = std::max(known[s.id].maxBookedMs, s.bookedMs);

        // The next start, as the program makes it.
        FixedClock clock;
        ScopedClock scoped(&clock);
        moveTo(clock, now);
        SessionBoard board(journalPath);
        board.setStatePath(dir.filePath(QStringLiteral("Bilmeko.sessions")));
        const RestoreReport report = board.restoreSessions();
        QVERIFY2(report.problems.isEmpty(), qPrintable(report.problems.join('\n')));
        QSet<std::uint64_t> running;
        for (int r = 0; r < board.curLog().rowCount(); ++r)
            running.insert(board.session(board.curLog().rowId(r))->id);
        maxRunning = std::max(maxRunning, int(running.size()));

        const QByteArray log = test::readFile(journalPath);
        QCOMPARE(log.size() % RecordSize, 0);
        QHash<std::uint64_t, int> written;
        for (qsizetype i = 0; i < log.size(); i += RecordSize) {
            const char *stored = log.constData() + i;
            QCOMPARE(recordSeal(stored), RecordSeal::Good);
            const std::uint64_t id = storedSessionId(stored);
            QVERIFY2(++written[id] == 1, "a session written twice");
            QVERIFY2(known.contains(id), "a record of no session the child started");
            RecordBytes plain;
            std::copy_n(stored, RecordSize, plain.begin());
            ScrambleRecord(plain);
            const LogRecord r = deserializeRecord(plain.data());
            QVERIFY2(roundToMs(r.elapsed) <= known[id].maxBookedMs, "charged beyond the booked time");
            QCOMPARE(r.amount, double(roundToMs(r.elapsed) / 60'000));
        }
        for (auto it = known.cbegin(); it != known.cend(); ++it) {
            const bool isRunning = running.contains(it.key());
            const bool isWritten = written.contains(it.key());
            QVERIFY2(!(isRunning && isWritten), "running and written");
            if (it->acknowledged)
                QVERIFY2(isRunning || isWritten, "an acknowledged session vanished");
            if (it->stopped)
                QVERIFY2(isWritten, "an acknowledged stop is not in the journal");
        }
        for (std::uint64_t id : running)
            QVERIFY2(known.contains(id), "a running session the child never started");
    }
    qInfo("%d kills: during New %d, Extend %d, Stop %d, tick %d, between commands %d; "
          "records %lld, at most %d running",
          Rounds, killedDuring.value('n'), killedDuring.value('e'), killedDuring.value('s'), killedDuring.value('t'),
          killedDuring.value(0), test::readFile(journalPath).size() / RecordSize, maxRunning);
}

QTEST_GUILESS_MAIN(TestSessionCrash)
#include "test_sessioncrash.moc"
