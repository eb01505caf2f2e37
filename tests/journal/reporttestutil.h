#pragma once
// Journals for the report tests, written byte by byte as the writer lays
// them out (scrambled records, optionally a fragment at the end).

#include "common/core/datetime.h"
#include "journal/core/logrecord.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

namespace bilmeko::test {

inline DateTimeValue at(int y, int m, int d, int h = 0, int min = 0, int s = 0, int ms = 0)
{
    return dateTimeValue(QDate(y, m, d), QTime(h, min, s, ms));
}

inline LogRecord sampleRecord(DateTimeValue written, double amount = 100, double elapsed = 1.0 / 24,
                              const QString &client = QStringLiteral("Иванова"))
{
    LogRecord r;
    r.written = written;
    r.pricePerMin = 2.5;
    r.startTime = 10.0 / 24;
    r.elapsed = elapsed;
    r.endTime = 11.0 / 24;
    r.amount = amount;
    r.clientName = client;
    r.service = QStringLiteral("Солярий");
    r.note = QStringLiteral("абонемент");
    r.status = QStringLiteral("Время вышло");
    return r;
}

inline QByteArray journalBytes(const QList<LogRecord> &records, int fragment = 0)
{
    QByteArray out;
    for (const LogRecord &r : records) {
        RecordBytes b = serializeRecord(r);
        ScrambleRecord(b);
        sealRecord(b); // as the writer does; nothing for a record without an identifier
        out.append(b.data(), RecordSize);
    }
    out.append(QByteArray(fragment, '\x11'));
    return out;
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace bilmeko::test
