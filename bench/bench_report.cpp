// The period report over large journals: the report command (the journal
// read, the records of the period selected and totalled, the window filled
// and its first screen drawn) against a plain read of the file, and the
// memory the report takes above the idle program and gives back.

#include "bench.h"

#include "common/core/datetime.h"
#include "common/core/formats.h"
#include "journal/core/logrecord.h"
#include "journal/core/periodreport.h"
#include "journal/ui/form5.h"
#include "journal/ui/reporttextedit.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace bilmeko;
using namespace bilmeko::bench;

namespace {

const QStringList Clients = {
    QStringLiteral("Иванова Мария"),   QStringLiteral("Петров"),
    QStringLiteral("Сидоренко А. В."), QStringLiteral("Ли"),
    QStringLiteral("Кузнецов Пётр"),   QStringLiteral("Смирнова"),
    QStringLiteral("Васильев Олег"),   QStringLiteral("Новикова Елена"),
    QStringLiteral("Морозов"),         QStringLiteral("Волкова Ирина"),
    QStringLiteral("Алексеев"),        QStringLiteral("Лебедева Анна"),
};
const QStringList Services = {QStringLiteral("Солярий"), QStringLiteral("Массаж спины"), QStringLiteral("Маникюр"),
                              QStringLiteral("Педикюр"), QStringLiteral("Стрижка")};
const double Prices[] = {12.5, 25, 18, 20, 15.75};

// Writes a journal of `count` records in time order, `perDay` a day from
// `firstDay` on, with the program's record layout, in one write.
void writeJournal(const QString &path, qsizetype count, DateTimeValue firstDay, int perDay)
{
    QByteArray bytes(count * RecordSize, Qt::Uninitialized);
    QRandomGenerator rng(1207);
    // The working day: 9:00 to 21:00, sessions spread evenly.
    const double open = 9.0 / 24;
    const double step = 12.0 / 24 / perDay;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype day = i / perDay;
        const int k = static_cast<int>(i % perDay);
        const double endTime = open + k * step + rng.bounded(1000) / 86'400'000.0;
        const int minutes = 10 + rng.bounded(110);
        const int s = rng.bounded(Services.size());
        LogRecord r;
        r.written = firstDay + day + endTime;
        r.pricePerMin = Prices[s];
        r.elapsed = (minutes * 60 + rng.bounded(60)) / 86400.0;
        r.startTime = endTime - r.elapsed;
        r.endTime = endTime;
        r.amount = minutes * r.pricePerMin;
        r.clientName = Clients[rng.bounded(Clients.size())];
        r.service = Services[s];
        r.note = rng.bounded(4) == 0 ? QStringLiteral("абонемент") : QString();
        r.status = rng.bounded(5) == 0 ? QStringLiteral("Стоп") : QStringLiteral("Время вышло");
        r.sessionId = static_cast<quint64>(i) + 1; // sealed, as the program writes them
        RecordBytes b = serializeRecord(r);
        ScrambleRecord(b);
        sealRecord(b);
        std::memcpy(bytes.data() + i * RecordSize, b.data(), RecordSize);
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write the journal");
}

// The least any report must do: read the file from start to end and look
// at one number of each record.
double plainRead(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot open the journal");
    // About 1 MiB, aligned to a page as the report's own buffers are: the
    // kernel copies into such a buffer several times faster.
    struct Aligned
    {
        char *p = static_cast<char *>(std::aligned_alloc(4096, RecordSize * 6144));
        ~Aligned() { std::free(p); }
        char *data() const { return p; }
        size_t size() const { return RecordSize * 6144; }
    };
    static thread_local Aligned buffer;
    double sum = 0;
    ssize_t n;
    size_t carry = 0;
    while ((n = ::read(fd, buffer.data() + carry, buffer.size() - carry)) > 0) {
        const size_t have = carry + static_cast<size_t>(n);
        const size_t whole = have / RecordSize;
        for (size_t i = 0; i < whole; ++i)
            sum += readDouble(buffer.data() + i * RecordSize, record::Amount);
        carry = have - whole * RecordSize;
        std::memmove(buffer.data(), buffer.data() + whole * RecordSize, carry);
    }
    ::close(fd);
    return sum;
}

// Resident memory of this process now and its high-water mark, in MiB.
double statusMiB(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// limit: the report command against the plain read, at most.
void reportCase(qsizetype count, int perDay, DateTimeValue firstDay, DateTimeValue dateBeg, DateTimeValue dateEnd,
                double limit)
{
    Formats::setCurrent(Formats::russian());
    const QString path = QDir(scratchDir()).filePath(QStringLiteral("Bilmeko.log"));
    const Timing write = once([&] { writeJournal(path, count, firstDay, perDay); });
    figure(QStringLiteral("journal"), QFileInfo(path).size() / 1048576.0, QStringLiteral("MiB"));
    figure(QStringLiteral("records in the journal"), count, QString(), 0);
    figure(QStringLiteral("journal generated and written"), write);

    volatile double sink = 0;
    const Timing plain = best(5, [&] { sink = sink + plainRead(path); });
    figure(QStringLiteral("plain read summing the amounts"), plain);

    // The idle program: the window made and shown once, empty.
    TForm5 form;
    form.show();
    QApplication::processEvents();
    form.hide();
    QApplication::processEvents();
    const double idle = statusMiB("VmRSS");
    resetPeakMemory();

    // As the report command does it: measure the window's font, read and
    // select, fill the window, show it and draw its first screen. Each run
    // right after a plain read, so both meet the machine in the same state.
    Timing command{INFINITY, INFINITY};
    Timing build{INFINITY, INFINITY};
    std::vector<double> ratios;
    qsizetype listed = 0;
    for (int run = 0; run < 7; ++run) {
        const Timing read = once([&] { sink = sink + plainRead(path); });
        PeriodReport report;
        Timing b{};
        const Timing t = once([&] {
            b = once([&] {
                const CharWidths widths = form.charWidths();
                report = buildPeriodReport(path, dateBeg, dateEnd, &widths);
            });
            form.setReport(report);
            form.show();
            QApplication::processEvents();
            form.RichEdit1->viewport()->repaint();
        });
        ratios.push_back(t.cpuMs / read.cpuMs);
        listed = report.recordCount();
        report = PeriodReport();
        form.hide();
        form.releaseReport();
        QApplication::processEvents();
        command.wallMs = std::min(command.wallMs, t.wallMs);
        command.cpuMs = std::min(command.cpuMs, t.cpuMs);
        build.wallMs = std::min(build.wallMs, b.wallMs);
        build.cpuMs = std::min(build.cpuMs, b.cpuMs);
    }
    const double peak = statusMiB("VmHWM");
    const double after = statusMiB("VmRSS");
    figure(QStringLiteral("records listed"), listed, QString(), 0);
    figure(QStringLiteral("report read and selected"), build);
    figure(QStringLiteral("report command (built + shown)"), command);
    figure(QStringLiteral("report command / plain read just before, processor, least of 7 pairs"), quantile(ratios, 0),
           QStringLiteral("x"));
    target(QStringLiteral("report command / plain read just before, processor, median of 7 pairs"),
           quantile(ratios, 0.5), QStringLiteral("x"), limit, QStringLiteral("<= %1 x").arg(limit));
    figure(QStringLiteral("idle program"), idle, QStringLiteral("MiB"));
    target(QStringLiteral("report's peak above the idle program"), peak - idle, QStringLiteral("MiB"), 150,
           QStringLiteral("<= 150 MiB"));
    figure(QStringLiteral("left in use after the window closed"), after - idle, QStringLiteral("MiB"));
}

} // namespace

BILMEKO_BENCH(report_ten_years, "a ten-year journal of 365,000 records, the report of the last year")
{
    const DateTimeValue first = dateValue(QDate(2016, 12, 1));
    reportCase(365'000, 100, first, first + 3285, first + 3649, 3);
}

BILMEKO_BENCH(report_million, "1,000,000 records, all of them in the period")
{
    const DateTimeValue first = dateValue(QDate(2026, 1, 1));
    reportCase(1'000'000, 2740, first, first, first + 365, 3);
}

namespace {

struct ChildRun
{
    int status = -1;
    double cpuMs = 0; // user and system time of the child
    double peakMiB = 0; // its resident high-water mark
};

// Runs a program of the build beside the bench, its standard output into
// `outPath`, and takes what it cost from the kernel's account of it.
ChildRun runChild(const QString &program, const QStringList &args, const QString &outPath)
{
    const QByteArray exe = QFile::encodeName(QCoreApplication::applicationDirPath() + QLatin1Char('/') + program);
    std::vector<QByteArray> held{exe};
    for (const QString &a : args)
        held.push_back(a.toUtf8());
    std::vector<char *> argv;
    for (QByteArray &a : held)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray out = QFile::encodeName(outPath);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0)
            ::_exit(127);
        ::execv(exe.constData(), argv.data());
        ::_exit(127);
    }
    ChildRun r;
    int status = 0;
    rusage ru{};
    if (pid < 0 || ::wait4(pid, &status, 0, &ru) != pid)
        return r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.cpuMs = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
    r.peakMiB = ru.ru_maxrss / 1024.0;
    return r;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString isoDay(DateTimeValue v)
{
    return dateOf(v).toString(QStringLiteral("yyyy-MM-dd"));
}

void ratioFigures(const QString &name, const std::vector<double> &ratios, double limit = 0)
{
    const QString text = QStringLiteral("least %1 x, median %2 x of %3 pairs")
                             .arg(quantile(ratios, 0), 0, 'f', 2)
                             .arg(quantile(ratios, 0.5), 0, 'f', 2)
                             .arg(ratios.size());
    if (limit > 0)
        target(name + QStringLiteral(", median of pairs (") + text + QLatin1Char(')'), quantile(ratios, 0.5),
               QStringLiteral("x"), limit, QStringLiteral("<= %1 x").arg(limit), 2);
    else
        figure(name, text);
}

} // namespace

BILMEKO_BENCH(report_csv,
              "bilmeko-report --csv over 1,000,000 records against a plain C writer of the same "
              "bytes and a plain read of the journal, processor time of each program, in pairs")
{
    const QString path = QDir(scratchDir()).filePath(QStringLiteral("Bilmeko.log"));
    const DateTimeValue first = dateValue(QDate(2026, 1, 1));
    writeJournal(path, 1'000'000, first, 2740);
    const DateTimeValue last = first + 365;
    const QStringList reportArgs{QStringLiteral("--csv"), QStringLiteral("--journal"), path, isoDay(first),
                                 isoDay(last)};
    const QStringList plainArgs{path, QString::number(first, 'f', 0), QString::number(last, 'f', 0)};
    const QStringList readArgs{QStringLiteral("--read"), path};

    // The same bytes, or the comparison says nothing.
    const QString ours = QDir(scratchDir()).filePath(QStringLiteral("report.csv"));
    const QString theirs = QDir(scratchDir()).filePath(QStringLiteral("plain.csv"));
    const ChildRun a = runChild(QStringLiteral("bilmeko-report"), reportArgs, ours);
    const ChildRun b = runChild(QStringLiteral("bilmeko-bench-plain-csv"), plainArgs, theirs);
    const QByteArray oursBytes = fileBytes(ours);
    figure(QStringLiteral("CSV"), oursBytes.size() / 1048576.0, QStringLiteral("MiB"));
    figure(QStringLiteral("the two outputs"),
           a.status == 0 && b.status == 0 && oursBytes == fileBytes(theirs) ? QStringLiteral("byte-identical")
                                                                            : QStringLiteral("DIFFERENT"));
    QFile::remove(ours);
    QFile::remove(theirs);

    const QString null = QStringLiteral("/dev/null");
    Samples report, plain, read;
    std::vector<double> vsPlain, vsRead;
    for (int run = 0; run < 7; ++run) {
        const ChildRun r = runChild(QStringLiteral("bilmeko-report"), reportArgs, null);
        const ChildRun p = runChild(QStringLiteral("bilmeko-bench-plain-csv"), plainArgs, null);
        const ChildRun q = runChild(QStringLiteral("bilmeko-bench-plain-csv"), readArgs, null);
        report.add({r.cpuMs, r.cpuMs});
        plain.add({p.cpuMs, p.cpuMs});
        read.add({q.cpuMs, q.cpuMs});
        vsPlain.push_back(r.cpuMs / p.cpuMs);
        vsRead.push_back(r.cpuMs / q.cpuMs);
    }
    figure(QStringLiteral("bilmeko-report --csv, processor"), report);
    figure(QStringLiteral("plain C writer, processor"), plain);
    figure(QStringLiteral("plain read of the journal, processor"), read);
    ratioFigures(QStringLiteral("bilmeko-report --csv / plain C writer"), vsPlain, 1.3);
    ratioFigures(QStringLiteral("bilmeko-report --csv / plain read"), vsRead);
}

BILMEKO_BENCH(report_memory,
              "bilmeko-report's peak memory at 100,000, 1,000,000 and 5,000,000 records, "
              "and over 1,000 journals")
{
    const DateTimeValue first = dateValue(QDate(2020, 1, 1));
    const QString path = QDir(scratchDir()).filePath(QStringLiteral("Bilmeko.log"));
    double most = 0;
    for (qsizetype count : {100'000, 1'000'000, 5'000'000}) {
        writeJournal(path, count, first, 2740);
        const DateTimeValue last = first + static_cast<double>(count / 2740 + 1);
        const ChildRun r
            = runChild(QStringLiteral("bilmeko-report"),
                       {QStringLiteral("--csv"), QStringLiteral("--journal"), path, isoDay(first), isoDay(last)},
                       QStringLiteral("/dev/null"));
        figure(QStringLiteral("peak at %1 records%2")
                   .arg(count)
                   .arg(r.status == 0 ? QString() : QStringLiteral(" (FAILED)")),
               r.peakMiB, QStringLiteral("MiB"));
        most = std::max(most, r.peakMiB);
        QFile::remove(path);
    }
    target(QStringLiteral("the highest of the three"), most, QStringLiteral("MiB"), 16, QStringLiteral("<= 16 MiB"));

    QStringList args{QStringLiteral("--csv")};
    for (int k = 0; k < 1000; ++k) {
        const QString one = QDir(scratchDir()).filePath(QStringLiteral("desk%1.log").arg(k));
        writeJournal(one, 1000, first, 100);
        args << QStringLiteral("--journal") << one;
    }
    args << isoDay(first) << isoDay(first + 20);
    const ChildRun r = runChild(QStringLiteral("bilmeko-report"), args, QStringLiteral("/dev/null"));
    figure(QStringLiteral("peak over 1,000 journals of 1,000 records%1")
               .arg(r.status == 0 ? QString() : QStringLiteral(" (FAILED)")),
           r.peakMiB, QStringLiteral("MiB"));
}
