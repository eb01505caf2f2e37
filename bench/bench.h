#pragma once
// The bench's frame: cases register themselves by name, each runs in a
// process of its own (so its peak memory is its own), and prints its
// figures one per line with their units.

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <vector>

namespace bilmeko::bench {

struct Case
{
    const char *name;
    const char *about;
    void (*run)();
};

std::vector<Case> &cases();

struct Registration
{
    Registration(const char *name, const char *about, void (*run)()) { cases().push_back({name, about, run}); }
};

// BILMEKO_BENCH(report_ten_years, "what it measures") { ...body... }
#define BILMEKO_BENCH(id, about)                                                                                       \
    static void bench_##id();                                                                                          \
    static const ::bilmeko::bench::Registration bench_reg_##id(#id, about, bench_##id);                                \
    static void bench_##id()

// One figure a line: "name: value unit".
void figure(const QString &name, double value, const QString &unit, int decimals = 1);
void figure(const QString &name, const QString &text);
// A figure against its target, saying whether the target is met.
void target(const QString &name, double value, const QString &unit, double limit, const QString &limitText,
            int decimals = 1);

// Wall-clock time and the time this thread spent on the processor
// (itself and in the kernel for it). On a machine shared with other work
// the second says what the program costs; on an idle one they agree.
struct Timing
{
    double wallMs = 0;
    double cpuMs = 0;
};

// The fastest of `runs` runs of f (warm caches; the slowest runs say more
// about the machine than about the program), each clock on its own.
Timing best(int runs, const std::function<void()> &f);
// One run of f.
Timing once(const std::function<void()> &f);
// "name: 12.3 ms (processor 10.1 ms)".
void figure(const QString &name, const Timing &t);

// Many runs of one thing, each run's clocks kept: medians and tails.
class Samples
{
public:
    void add(const Timing &t);
    int size() const { return static_cast<int>(m_wall.size()); }
    // The q-quantile (0.5 the median, 0.99, 1 the slowest) of each clock.
    double wallMs(double q) const;
    double cpuMs(double q) const;

private:
    std::vector<double> m_wall;
    std::vector<double> m_cpu;
};
// The q-quantile of some values (nearest rank); 0 when there are none.
double quantile(std::vector<double> values, double q);
// "name: median 1.2 ms, 99th percentile 3.4 ms, slowest 5.6 ms (processor
// median 1.1 ms, ...)"; tail: the percentile shown beside the median.
void figure(const QString &name, const Samples &s, double tail = 0.99);

// Peak resident memory of this process so far, in MiB.
double peakMemoryMiB();
// Starts the peak over from what is resident now (after setting up a case's
// data, say); false where the system cannot.
bool resetPeakMemory();

// A folder for the case's files, removed when the case ends.
QString scratchDir();

} // namespace bilmeko::bench
