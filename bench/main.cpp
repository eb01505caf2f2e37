// bilmeko-bench [--list] [case...]: runs the named cases (all by default),
// each in a child process of its own.

#include "bench.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bilmeko::bench {

std::vector<Case> &cases()
{
    static std::vector<Case> all;
    return all;
}

namespace {
std::unique_ptr<QTemporaryDir> &scratch()
{
    static std::unique_ptr<QTemporaryDir> dir;
    return dir;
}
} // namespace

void figure(const QString &name, double value, const QString &unit, int decimals)
{
    std::printf("  %s: %s%s%s\n", qPrintable(name), qPrintable(QString::number(value, 'f', decimals)),
                unit.isEmpty() ? "" : " ", qPrintable(unit));
    std::fflush(stdout);
}

void figure(const QString &name, const QString &text)
{
    std::printf("  %s: %s\n", qPrintable(name), qPrintable(text));
    std::fflush(stdout);
}

void target(const QString &name, double value, const QString &unit, double limit, const QString &limitText,
            int decimals)
{
    std::printf("  %s: %s %s (target %s: %s)\n", qPrintable(name), qPrintable(QString::number(value, 'f', decimals)),
                qPrintable(unit), qPrintable(limitText), value <= limit ? "met" : "NOT MET");
    std::fflush(stdout);
}

static double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

Timing once(const std::function<void()> &f)
{
    QElapsedTimer wall;
    const double cpu0 = threadCpuMs();
    wall.start();
    f();
    return {wall.nsecsElapsed() / 1e6, threadCpuMs() - cpu0};
}

Timing best(int runs, const std::function<void()> &f)
{
    Timing b{INFINITY, INFINITY};
    for (int i = 0; i < runs; ++i) {
        const Timing t = once(f);
        b.wallMs = std::min(b.wallMs, t.wallMs);
        b.cpuMs = std::min(b.cpuMs, t.cpuMs);
    }
    return b;
}

void figure(const QString &name, const Timing &t)
{
    std::printf("  %s: %s ms (processor %s ms)\n", qPrintable(name), qPrintable(QString::number(t.wallMs, 'f', 1)),
                qPrintable(QString::number(t.cpuMs, 'f', 1)));
    std::fflush(stdout);
}

void Samples::add(const Timing &t)
{
    m_wall.push_back(t.wallMs);
    m_cpu.push_back(t.cpuMs);
}

double Samples::wallMs(double q) const
{
    return quantile(m_wall, q);
}

double Samples::cpuMs(double q) const
{
    return quantile(m_cpu, q);
}

double quantile(std::vector<double> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(q * static_cast<double>(values.size()));
    const size_t at = static_cast<size_t>(std::clamp(rank, 1.0, static_cast<double>(values.size()))) - 1;
    return values[at];
}

void figure(const QString &name, const Samples &s, double tail)
{
    const auto ms = [](double v) { return QString::number(v, 'f', v < 10 ? 3 : 1); };
    const QString tailName = QStringLiteral("%1th percentile").arg(tail * 100, 0, 'g', 3);
    std::printf("  %s (%d runs): median %s ms, %s %s ms, slowest %s ms"
                " (processor: median %s ms, %s %s ms, slowest %s ms)\n",
                qPrintable(name), s.size(), qPrintable(ms(s.wallMs(0.5))), qPrintable(tailName),
                qPrintable(ms(s.wallMs(tail))), qPrintable(ms(s.wallMs(1))), qPrintable(ms(s.cpuMs(0.5))),
                qPrintable(tailName), qPrintable(ms(s.cpuMs(tail))), qPrintable(ms(s.cpuMs(1))));
    std::fflush(stdout);
}

double peakMemoryMiB()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss / 1024.0; // kilobytes on Linux
}

static bool peakWasReset = false;

bool resetPeakMemory()
{
    peakWasReset = true;
    // Linux: "5" clears the resident-set high-water mark.
    FILE *f = std::fopen("/proc/self/clear_refs", "w");
    if (!f)
        return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

QString scratchDir()
{
    auto &dir = scratch();
    if (!dir)
        dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/bilmeko-bench-XXXXXX"));
    return dir->path();
}

} // namespace bilmeko::bench

using namespace bilmeko::bench;

static int runCase(const Case &c, int argc, char **argv)
{
    // The window work needs no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    c.run();
    figure(peakWasReset ? QStringLiteral("peak memory after setting up") : QStringLiteral("peak memory"),
           peakMemoryMiB(), QStringLiteral("MiB"));
    scratch().reset();
    return 0;
}

int main(int argc, char **argv)
{
    std::vector<const Case *> chosen;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--list") == 0) {
            for (const Case &c : cases())
                std::printf("%s\t%s\n", c.name, c.about);
            return 0;
        }
        const Case *found = nullptr;
        for (const Case &c : cases())
            if (std::strcmp(c.name, argv[i]) == 0)
                found = &c;
        if (!found) {
            std::fprintf(stderr, "no such case: %s (see --list)\n", argv[i]);
            return 2;
        }
        chosen.push_back(found);
    }
    if (chosen.empty())
        for (const Case &c : cases())
            chosen.push_back(&c);

    int failed = 0;
    for (const Case *c : chosen) {
        std::printf("%s: %s\n", c->name, c->about);
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid < 0) {
            std::perror("fork");
            return 1;
        }
        if (pid == 0) {
            const int rc = runCase(*c, argc > 0 ? 1 : 0, argv);
            std::fflush(stdout);
            _exit(rc);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::printf("  FAILED (status %d)\n", status);
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}
