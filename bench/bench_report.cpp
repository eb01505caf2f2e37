// The period report over large journals: the report command (the journal
// read, the records of the period selected and totalled, the window filled
// and its first screen drawn) against a plain read of the file, and the
// memory the report takes above the idle program and gives back.

#include "bench.h"

#include "common/core/datetime.h"
#include "common/core/formats.h"
#include "journal/ui/form5.h"
#include "journal/core/logrecord.h"
#include "journal/core/periodreport.h"
#include "journal/ui/reporttextedit.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

using namespace bilmeko;
using namespace bilmeko::bench;

namespace {

const QStringList Clients = {
    QStringLiteral("Иванова Мария"), QStringLiteral("Петров"), QStringLiteral("Сидоренко А. В."),
    QStringLiteral("Ли"), QStringLiteral("Кузнецов Пётр"), QStringLiteral("Смирнова"),
    QStringLiteral("Васильев Олег"), QStringLiteral("Новикова Елена"), QStringLiteral("Морозов"),
    QStringLiteral("Волкова Ирина"), QStringLiteral("Алексеев"), QStringLiteral("Лебедева Анна"),
};
const QStringList Services = {QStringLiteral("Солярий"), QStringLiteral("Массаж спины"),
                              QStringLiteral("Маникюр"), QStringLiteral("Педикюр"),
                              QStringLiteral("Стрижка")};
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
    static thread_local std::vector<char> buffer(RecordSize * 6144); // about 1 MiB
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
void reportCase(qsizetype count, int perDay, DateTimeValue firstDay, DateTimeValue dateBeg,
                DateTimeValue dateEnd, double limit)
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
    // select, fill the window, show it and draw its first screen.
    Timing command{INFINITY, INFINITY};
    Timing build{INFINITY, INFINITY};
    qsizetype listed = 0;
    for (int run = 0; run < 5; ++run) {
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
    figure(QStringLiteral("report command / plain read, wall clock"), command.wallMs / plain.wallMs, QStringLiteral("x"));
    target(QStringLiteral("report command / plain read, processor"), command.cpuMs / plain.cpuMs, QStringLiteral("x"),
           limit, QStringLiteral("<= %1 x").arg(limit));
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
    reportCase(1'000'000, 2740, first, first, first + 365, 5);
}
