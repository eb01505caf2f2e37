// Start-up: from the process start to the main window's first painted
// frame, and the memory it takes to get there, against an empty Qt window of
// the same size started the same way, and a window with one line of text
// (the font system's start is the larger part of what a window with text
// costs beyond an empty one). Both run from a folder of their own
// (the program reads its files beside its executable) with a free
// single-instance lock, on the offscreen platform.

#include "bench.h"

#include "app/core/daytakings.h"
#include "app/core/sessionboard.h"
#include "app/core/sessionstate.h"
#include "common/core/clock.h"
#include "common/core/codepage.h"
#include "common/core/datetime.h"
#include "journal/core/logrecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace bilmeko;
using namespace bilmeko::bench;

namespace {

constexpr int Rounds = 11;
constexpr int TimeoutMs = 60'000;

const char *const EmptyWindow = "bilmeko-bench-empty-window";
const char *const TextWindow = "bilmeko-bench-text-window";
const char *const MainWindow = "bilmeko-bench-main-window";
const char *const Program = "bilmeko";

long long monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

struct Start
{
    double wallMs = 0;
    double cpuMs = 0;
    double peakMiB = 0;
    double privateMiB = 0;
    double fileMiB = 0;
    int libraries = 0;
    bool libpq = false;
};

// The environment of every start: the offscreen platform and a runtime
// folder of the bench's own, so the single-instance lock is free.
class Launcher
{
public:
    Launcher(QString folder, const QString &runtimeDir, const QByteArray &extraEnv = {}) : m_folder(std::move(folder))
    {
        for (char **e = environ; *e; ++e) {
            const QByteArray v(*e);
            if (!v.startsWith("QT_QPA_PLATFORM=") && !v.startsWith("XDG_RUNTIME_DIR="))
                m_env.push_back(v);
        }
        m_env.push_back("QT_QPA_PLATFORM=offscreen");
        m_env.push_back("XDG_RUNTIME_DIR=" + QFile::encodeName(runtimeDir));
        if (!extraEnv.isEmpty())
            m_env.push_back(extraEnv);
        for (QByteArray &v : m_env)
            m_envp.push_back(v.data());
        m_envp.push_back(nullptr);
    }

    // Starts a program of the folder with its output on a pipe (and its
    // messages in a file); returns the process id, the read end in `out`.
    pid_t spawn(const char *name, int &out, long long &startNs)
    {
        const QByteArray path = QFile::encodeName(m_folder + QLatin1Char('/') + QLatin1String(name));
        const QByteArray messages = QFile::encodeName(m_folder + QStringLiteral("/messages.txt"));
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, messages.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        char *argv[] = {const_cast<char *>(path.constData()), nullptr};
        pid_t pid = -1;
        startNs = monotonicNs();
        const int rc = posix_spawn(&pid, path.constData(), &actions, nullptr, argv, m_envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) {
            ::close(fds[0]);
            throw std::runtime_error(std::string("cannot start ") + name + ": " + std::strerror(rc));
        }
        out = fds[0];
        return pid;
    }

    // One start of a program that ends at its first painted frame.
    Start measure(const char *name)
    {
        int out = -1;
        long long startNs = 0;
        const pid_t pid = spawn(name, out, startNs);
        QByteArray line;
        char buf[256];
        pollfd p{out, POLLIN, 0};
        while (::poll(&p, 1, TimeoutMs) > 0) {
            const ssize_t n = ::read(out, buf, sizeof buf);
            if (n <= 0)
                break;
            line.append(buf, n);
        }
        ::close(out);
        int status = 0;
        if (line.isEmpty())
            ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        const QList<QByteArray> parts = line.trimmed().split(' ');
        if (parts.size() != 8 || parts[0] != "shown" || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw std::runtime_error(std::string(name) + " did not show its window: " + line.toStdString()
                                     + messagesText());
        Start s;
        s.wallMs = (parts[1].toLongLong() - startNs) / 1e6;
        s.cpuMs = parts[2].toLongLong() / 1e6;
        s.peakMiB = parts[3].toLongLong() / 1024.0;
        s.privateMiB = parts[4].toLongLong() / 1024.0;
        s.fileMiB = parts[5].toLongLong() / 1024.0;
        s.libraries = parts[6].toInt();
        s.libpq = parts[7] == "1";
        return s;
    }

    // The program itself, left running for a while: its peak memory then
    // (it has no way to say when its window is up).
    double programPeakMiB(const char *name, int runMs)
    {
        int out = -1;
        long long startNs = 0;
        const pid_t pid = spawn(name, out, startNs);
        QThread::msleep(runMs);
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        long long kb = -1;
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray &l : status.readAll().split('\n'))
                if (l.startsWith("VmHWM:"))
                    kb = l.mid(6).trimmed().split(' ').value(0).toLongLong();
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ::close(out);
        if (kb < 0)
            throw std::runtime_error(std::string(name) + " ended early" + messagesText());
        return kb / 1024.0;
    }

private:
    std::string messagesText() const
    {
        QFile f(m_folder + QStringLiteral("/messages.txt"));
        return f.open(QIODevice::ReadOnly) ? "\n" + f.readAll().toStdString() : std::string();
    }

    QString m_folder;
    std::vector<QByteArray> m_env;
    std::vector<char *> m_envp;
};

// A copy of a program built beside the bench, in the start-up folder.
void copyProgram(const QString &folder, const char *name)
{
    const QString from = QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
    const QString to = folder + QLatin1Char('/') + QLatin1String(name);
    if (!QFile::copy(from, to))
        throw std::runtime_error(std::string("cannot copy ") + name + " (is it built?)");
}

// The salon's price list, as the program keeps it; with lines > 6, that
// many services (names and prices of the same kind). Returns its size.
qint64 writePriceList(const QString &folder, int lines = 6)
{
    QFile f(folder + QStringLiteral("/Bilmeko.ini"));
    QString text = QStringLiteral("[Price]\r\nСолярий=8\r\nМассаж спины=12,5\r\nМаникюр=10\r\n"
                                  "Педикюр=15\r\nСтрижка=25\r\nОкрашивание волос=35\r\n");
    if (lines > 6) {
        text = QStringLiteral("[Price]\r\n");
        const QStringList kinds = {QStringLiteral("Солярий"), QStringLiteral("Массаж"), QStringLiteral("Маникюр"),
                                   QStringLiteral("Стрижка"), QStringLiteral("Окрашивание")};
        for (int i = 0; i < lines; ++i)
            text += QStringLiteral("%1 %2=%3,%4\r\n")
                        .arg(kinds[i % kinds.size()])
                        .arg(i, 5, 10, QLatin1Char('0'))
                        .arg(5 + i % 40)
                        .arg(i % 2 ? 5 : 25);
    }
    const QByteArray bytes = cp1251::encode(text);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write the price list");
    return bytes.size();
}

struct Runs
{
    std::vector<double> wall, cpu, peak, priv, file;
    int libraries = 0;
    bool libpq = false;
    void add(const Start &s)
    {
        libraries = s.libraries;
        libpq = s.libpq;
        wall.push_back(s.wallMs);
        cpu.push_back(s.cpuMs);
        peak.push_back(s.peakMiB);
        priv.push_back(s.privateMiB);
        file.push_back(s.fileMiB);
    }
};

void show(const QString &name, const Runs &r)
{
    figure(name + QStringLiteral(", to the first frame (%1 starts)").arg(r.wall.size()),
           QStringLiteral("median %1 ms (fastest %2 ms, slowest %3 ms), processor median %4 ms")
               .arg(quantile(r.wall, 0.5), 0, 'f', 1)
               .arg(quantile(r.wall, 0), 0, 'f', 1)
               .arg(quantile(r.wall, 1), 0, 'f', 1)
               .arg(quantile(r.cpu, 0.5), 0, 'f', 1));
    figure(name + QStringLiteral(", peak memory"),
           QStringLiteral("median %1 MiB (least %2 MiB, most %3 MiB); resident at the first frame: "
                          "%4 MiB private, %5 MiB mapped from files")
               .arg(quantile(r.peak, 0.5), 0, 'f', 1)
               .arg(quantile(r.peak, 0), 0, 'f', 1)
               .arg(quantile(r.peak, 1), 0, 'f', 1)
               .arg(quantile(r.priv, 0.5), 0, 'f', 1)
               .arg(quantile(r.file, 0.5), 0, 'f', 1));
}

} // namespace

BILMEKO_BENCH(startup, "start-up to the main window's first frame and its peak memory, against an empty Qt window")
{
    const QString folder = scratchDir() + QStringLiteral("/app");
    const QString runtime = scratchDir() + QStringLiteral("/run");
    if (!QDir().mkpath(folder) || !QDir().mkpath(runtime) || ::chmod(QFile::encodeName(runtime), 0700) != 0)
        throw std::runtime_error("cannot make the start-up folders");
    for (const char *name : {EmptyWindow, TextWindow, MainWindow, Program})
        copyProgram(folder, name);
    writePriceList(folder);

    Launcher launcher(folder, runtime);
    // The main window with PostgreSQL's client library loaded before it, as
    // a program linking the ledger's code had it: the same start, the cost
    // of that library and the ones under it.
    Launcher withLibpq(folder, runtime, "LD_PRELOAD=libpq.so.5");
    // Files and fonts into the system's caches first.
    const char *const programs[] = {EmptyWindow, TextWindow, MainWindow};
    for (const char *name : programs)
        launcher.measure(name);
    withLibpq.measure(MainWindow);

    // Turns, each in another order, so that a busy moment of the machine
    // falls on all alike.
    Runs runs[4];
    for (int i = 0; i < Rounds; ++i)
        for (int k = 0; k < 4; ++k) {
            const int which = (i + k) % 4;
            runs[which].add(which == 3 ? withLibpq.measure(MainWindow) : launcher.measure(programs[which]));
        }
    const Runs &empty = runs[0];
    const Runs &text = runs[1];
    const Runs &main = runs[2];
    const Runs &preloaded = runs[3];
    show(QStringLiteral("empty window"), empty);
    show(QStringLiteral("window with one line of text"), text);
    show(QStringLiteral("main window"), main);
    show(QStringLiteral("main window with libpq loaded, as when it was linked"), preloaded);

    const double wallRatio = quantile(main.wall, 0.5) / quantile(empty.wall, 0.5);
    const double cpuRatio = quantile(main.cpu, 0.5) / quantile(empty.cpu, 0.5);
    const double peakRatio = quantile(main.peak, 0.5) / quantile(empty.peak, 0.5);
    target(QStringLiteral("start-up / empty window, wall-clock medians"), wallRatio, QStringLiteral("x"), 1.3,
           QStringLiteral("<= 1.3 x"), 2);
    target(QStringLiteral("start-up / empty window, processor medians"), cpuRatio, QStringLiteral("x"), 1.3,
           QStringLiteral("<= 1.3 x"), 2);
    target(QStringLiteral("peak memory / empty window, medians"), peakRatio, QStringLiteral("x"), 1.3,
           QStringLiteral("<= 1.3 x"), 2);
    figure(QStringLiteral("private memory / empty window, medians"),
           quantile(main.priv, 0.5) / quantile(empty.priv, 0.5), QStringLiteral("x"), 2);
    figure(QStringLiteral("text window / empty window, processor and memory medians"),
           QStringLiteral("%1 x, %2 x")
               .arg(quantile(text.cpu, 0.5) / quantile(empty.cpu, 0.5), 0, 'f', 2)
               .arg(quantile(text.peak, 0.5) / quantile(empty.peak, 0.5), 0, 'f', 2));
    figure(QStringLiteral("main window / text window, processor and memory medians"),
           QStringLiteral("%1 x, %2 x")
               .arg(quantile(main.cpu, 0.5) / quantile(text.cpu, 0.5), 0, 'f', 2)
               .arg(quantile(main.peak, 0.5) / quantile(text.peak, 0.5), 0, 'f', 2));
    target(QStringLiteral("main window / text window, processor medians"),
           quantile(main.cpu, 0.5) / quantile(text.cpu, 0.5), QStringLiteral("x"), 1.3, QStringLiteral("<= 1.3 x"), 2);
    figure(QStringLiteral("main window with libpq / text window, processor and memory medians"),
           QStringLiteral("%1 x, %2 x")
               .arg(quantile(preloaded.cpu, 0.5) / quantile(text.cpu, 0.5), 0, 'f', 2)
               .arg(quantile(preloaded.peak, 0.5) / quantile(text.peak, 0.5), 0, 'f', 2));
    figure(QStringLiteral("shared libraries mapped at the first frame"),
           QStringLiteral("empty window %1, text window %2, main window %3 (libpq %4), with libpq %5")
               .arg(empty.libraries)
               .arg(text.libraries)
               .arg(main.libraries)
               .arg(main.libpq ? QStringLiteral("mapped") : QStringLiteral("not mapped"))
               .arg(preloaded.libraries));

    // The program itself, to see that the start-up program above stands
    // for it: its peak memory once its window has long been up.
    const int settleMs = std::max(1000, static_cast<int>(5 * quantile(main.wall, 1)));
    std::vector<double> program;
    for (int i = 0; i < 3; ++i)
        program.push_back(launcher.programPeakMiB(Program, settleMs));
    figure(QStringLiteral("the program itself, peak memory in its first %1 s (median of 3)")
               .arg(settleMs / 1000.0, 0, 'f', 1),
           quantile(program, 0.5), QStringLiteral("MiB"));
}

namespace {

// A year of a busy salon: 365,000 records, a thousand a day, the last of
// them today, written as the program writes them.
void writeYearJournal(const QString &folder, int records)
{
    QFile f(folder + QStringLiteral("/Bilmeko.log"));
    if (!f.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the journal");
    const double today = dateValue(QDate::currentDate());
    const int perDay = 1000;
    QByteArray chunk;
    for (int i = 0; i < records; ++i) {
        const int daysBack = (records - 1 - i) / perDay;
        LogRecord r;
        r.written = today - daysBack + 0.3 + 0.0004 * (i % perDay);
        r.pricePerMin = 12.5;
        r.elapsed = 30.0 / 1440;
        r.amount = 375;
        r.clientName = QStringLiteral("Клиент %1").arg(i % 977);
        r.service = QStringLiteral("Стрижка");
        r.status = QStringLiteral("Стоп");
        r.sessionId = static_cast<std::uint64_t>(i) + 1;
        RecordBytes b = serializeRecord(r);
        ScrambleRecord(b);
        sealRecord(b);
        chunk.append(b.data(), RecordSize);
        if (chunk.size() >= (1 << 20) || i == records - 1) {
            if (f.write(chunk) != chunk.size())
                throw std::runtime_error("cannot write the journal");
            chunk.clear();
        }
    }
}

} // namespace

BILMEKO_BENCH(
    startup_journal,
    "start-up with a 365,000-record journal (today's takings read from it) against the same start with no journal")
{
    constexpr int Records = 365'000;
    const QString runtime = scratchDir() + QStringLiteral("/run");
    const QString bare = scratchDir() + QStringLiteral("/bare");
    const QString year = scratchDir() + QStringLiteral("/year");
    for (const QString &d : {runtime, bare, year})
        if (!QDir().mkpath(d))
            throw std::runtime_error("cannot make the start-up folders");
    if (::chmod(QFile::encodeName(runtime), 0700) != 0)
        throw std::runtime_error("cannot make the start-up folders");
    for (const QString &d : {bare, year}) {
        copyProgram(d, MainWindow);
        writePriceList(d);
    }
    writeYearJournal(year, Records);

    Launcher withNone(bare, runtime);
    Launcher withYear(year, runtime);
    withNone.measure(MainWindow);
    withYear.measure(MainWindow);
    Runs none, full;
    for (int i = 0; i < Rounds; ++i) {
        if (i % 2) {
            none.add(withNone.measure(MainWindow));
            full.add(withYear.measure(MainWindow));
        } else {
            full.add(withYear.measure(MainWindow));
            none.add(withNone.measure(MainWindow));
        }
    }
    show(QStringLiteral("main window, no journal"), none);
    show(QStringLiteral("main window, %1-record journal").arg(Records), full);
    target(QStringLiteral("start-up with the journal / without, processor medians"),
           quantile(full.cpu, 0.5) / quantile(none.cpu, 0.5), QStringLiteral("x"), 1.05, QStringLiteral("<= 1.05 x"),
           3);
    figure(QStringLiteral("start-up with the journal / without, wall-clock medians"),
           quantile(full.wall, 0.5) / quantile(none.wall, 0.5), QStringLiteral("x"), 3);
    figure(QStringLiteral("start-up with the journal / without, peak memory medians"),
           quantile(full.peak, 0.5) / quantile(none.peak, 0.5), QStringLiteral("x"), 3);

    // The reading itself, in this process: today's records from the end.
    DayTakings day;
    const QString journal = year + QStringLiteral("/Bilmeko.log");
    figure(QStringLiteral("today's figures read from the %1-record journal").arg(Records),
           best(21, [&] { day.load(journal, QDate::currentDate()); }));
    figure(QStringLiteral("records read for them (%1 of today's)").arg(day.sessions()),
           static_cast<double>(day.recordsRead()), QStringLiteral("records"), 0);
}

BILMEKO_BENCH(startup_running,
              "start-up with ten running sessions and a 3,650,000-record journal, against the same start with the "
              "journal and no running sessions")
{
    constexpr int Records = 3'650'000;
    constexpr int Running = 10;
    const QString runtime = scratchDir() + QStringLiteral("/run");
    const QString idle = scratchDir() + QStringLiteral("/idle");
    const QString busy = scratchDir() + QStringLiteral("/busy");
    for (const QString &d : {runtime, idle, busy})
        if (!QDir().mkpath(d))
            throw std::runtime_error("cannot make the start-up folders");
    if (::chmod(QFile::encodeName(runtime), 0700) != 0)
        throw std::runtime_error("cannot make the start-up folders");
    for (const QString &d : {idle, busy}) {
        copyProgram(d, MainWindow);
        writePriceList(d);
    }
    writeYearJournal(idle, Records);
    const QString journal = busy + QStringLiteral("/Bilmeko.log");
    if (!QFile::copy(idle + QStringLiteral("/Bilmeko.log"), journal))
        throw std::runtime_error("cannot copy the journal");
    // The sessions as the program saves them, on the system clock.
    const QString state = busy + QStringLiteral("/Bilmeko.sessions");
    {
        SessionBoard board(journal);
        board.setStatePath(state);
        for (int i = 0; i < Running; ++i)
            board.addSession(QStringLiteral("Клиент %1").arg(i), QString(), QStringLiteral("Стрижка"), 12.5, 12, 0);
    }

    Launcher withNone(idle, runtime);
    Launcher withSessions(busy, runtime);
    withNone.measure(MainWindow);
    withSessions.measure(MainWindow);
    Runs none, running;
    for (int i = 0; i < Rounds; ++i) {
        if (i % 2) {
            none.add(withNone.measure(MainWindow));
            running.add(withSessions.measure(MainWindow));
        } else {
            running.add(withSessions.measure(MainWindow));
            none.add(withNone.measure(MainWindow));
        }
    }
    show(QStringLiteral("main window, %1-record journal").arg(Records), none);
    show(QStringLiteral("the same with %1 running sessions").arg(Running), running);
    target(QStringLiteral("start-up with running sessions / without, processor medians"),
           quantile(running.cpu, 0.5) / quantile(none.cpu, 0.5), QStringLiteral("x"), 1.05, QStringLiteral("<= 1.05 x"),
           3);
    figure(QStringLiteral("start-up with running sessions / without, wall-clock medians"),
           quantile(running.wall, 0.5) / quantile(none.wall, 0.5), QStringLiteral("x"), 3);

    // The restore itself, in this process: from the journal length the
    // file remembers, and (as a file of the earlier version makes it) the
    // whole journal.
    const QByteArray saved = [&] {
        QFile f(state);
        if (!f.open(QIODevice::ReadOnly))
            throw std::runtime_error("no state file");
        return f.readAll();
    }();
    SessionState whole = SessionStateFile(state).load().state;
    whole.journalFrom = -1;
    const QByteArray wholeBytes = serializeSessionState(whole);
    for (const auto &[name, bytes] : {std::pair{QStringLiteral("restore from the saved length"), saved},
                                      std::pair{QStringLiteral("restore reading the whole journal"), wholeBytes}}) {
        figure(name, best(5, [&, bytes = bytes] {
                   SessionStateFile(state).save(bytes);
                   SessionBoard board(journal);
                   board.setStatePath(state);
                   if (board.restoreSessions().restored != Running)
                       throw std::runtime_error("sessions lost");
               }));
    }
    SessionStateFile(state).save(saved);
}

BILMEKO_BENCH(startup_prices, "start-up with a price list of 10,000 services, against the start with six")
{
    constexpr int Lines = 10'000;
    const QString runtime = scratchDir() + QStringLiteral("/run");
    if (!QDir().mkpath(runtime) || ::chmod(QFile::encodeName(runtime), 0700) != 0)
        throw std::runtime_error("cannot make the runtime folder");
    qint64 sizes[2] = {};
    std::vector<std::unique_ptr<Launcher>> launchers;
    for (int k = 0; k < 2; ++k) {
        const QString folder = scratchDir() + (k == 0 ? QStringLiteral("/six") : QStringLiteral("/many"));
        if (!QDir().mkpath(folder))
            throw std::runtime_error("cannot make the start-up folders");
        copyProgram(folder, MainWindow);
        sizes[k] = writePriceList(folder, k == 0 ? 6 : Lines);
        launchers.push_back(std::make_unique<Launcher>(folder, runtime));
        launchers.back()->measure(MainWindow);
    }
    Runs runs[2];
    for (int i = 0; i < Rounds; ++i)
        for (int k = 0; k < 2; ++k) {
            const int which = (i + k) % 2;
            runs[which].add(launchers[which]->measure(MainWindow));
        }
    show(QStringLiteral("main window, six services"), runs[0]);
    show(QStringLiteral("main window, %1 services").arg(Lines), runs[1]);
    figure(QStringLiteral("price list of %1 services").arg(Lines), sizes[1] / 1024.0, QStringLiteral("KiB"), 0);
    const double cpuRatio = quantile(runs[1].cpu, 0.5) / quantile(runs[0].cpu, 0.5);
    const double wallRatio = quantile(runs[1].wall, 0.5) / quantile(runs[0].wall, 0.5);
    target(QStringLiteral("start-up with %1 services / with six, processor medians").arg(Lines), cpuRatio,
           QStringLiteral("x"), 1.3, QStringLiteral("<= 1.3 x"), 2);
    figure(QStringLiteral("the same, wall-clock medians"), wallRatio, QStringLiteral("x"), 2);
    // What the longer list costs in memory, against the list's own size.
    const double peakKiB = (quantile(runs[1].peak, 0.5) - quantile(runs[0].peak, 0.5)) * 1024;
    const double privateKiB = (quantile(runs[1].priv, 0.5) - quantile(runs[0].priv, 0.5)) * 1024;
    figure(QStringLiteral("peak memory above the start with six, median"), peakKiB, QStringLiteral("KiB"), 0);
    target(QStringLiteral("private memory kept above the start with six / the list's size, medians"),
           privateKiB / (sizes[1] / 1024.0), QStringLiteral("x"), 2, QStringLiteral("<= 2 x"), 2);
}
