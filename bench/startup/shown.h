#pragma once
// For the start-up programs: ends the process as soon as a window's first
// frame is painted, printing on one line the moment (monotonic clock, ns),
// the processor time used so far (ns), the peak resident memory so far (kB,
// the process's own high-water mark: the one wait4 reports also holds the
// parent's from before exec) and of what is resident then, the private part
// and the part mapped from files (libraries and fonts, shared with every
// other program using them), in kB; then how many shared libraries are
// mapped and whether PostgreSQL's client library is among them (1 or 0).

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QMetaObject>
#include <QObject>
#include <QWidget>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace bilmeko::bench {

inline long long clockNs(clockid_t id)
{
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<long long>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// "VmHWM 1234 RssAnon 567 RssFile 890" of /proc/self/status: the kB numbers.
inline QByteArray memoryKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return "-1 -1 -1";
    const QByteArray status = f.readAll();
    QByteArray out;
    for (const char *key : {"VmHWM:", "RssAnon:", "RssFile:"}) {
        const qsizetype at = status.indexOf(QByteArray("\n") + key);
        const QByteArray value = at < 0
            ? QByteArray("-1")
            : status.mid(at + 1 + qstrlen(key)).split('\n').value(0).trimmed().split(' ').value(0);
        out += (out.isEmpty() ? "" : " ") + value;
    }
    return out;
}

// "41 0": the shared libraries in /proc/self/maps, and 1 when libpq is one.
inline QByteArray librariesMapped()
{
    QFile f(QStringLiteral("/proc/self/maps"));
    if (!f.open(QIODevice::ReadOnly))
        return "-1 -1";
    QList<QByteArray> seen;
    bool libpq = false;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const qsizetype slash = line.indexOf('/');
        if (slash < 0)
            continue;
        const QByteArray path = line.mid(slash);
        const QByteArray name = path.mid(path.lastIndexOf('/') + 1);
        if (!name.contains(".so") || seen.contains(path))
            continue;
        seen.append(path);
        libpq = libpq || name.startsWith("libpq.so");
    }
    return QByteArray::number(seen.size()) + (libpq ? " 1" : " 0");
}

// The first paint of the window itself comes in the pass that draws the
// whole first frame; the report waits until that pass is over.
class ShownReporter : public QObject
{
public:
    explicit ShownReporter(QWidget *window) : m_window(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QMetaObject::invokeMethod(
                this, [] { report(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    static void report()
    {
        const long long wall = clockNs(CLOCK_MONOTONIC);
        const long long cpu = clockNs(CLOCK_PROCESS_CPUTIME_ID);
        std::printf("shown %lld %lld %s %s\n", wall, cpu, memoryKb().constData(), librariesMapped().constData());
        std::fflush(stdout);
        // Tearing the window down is no part of the start-up.
        _exit(0);
    }

    QWidget *m_window;
    bool m_seen = false;
};

} // namespace bilmeko::bench
