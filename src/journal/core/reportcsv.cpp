#include "reportcsv.h"

#include "common/core/atomicfile.h"
#include "common/core/errors.h"
#include "common/core/formats.h"

#include <QDir>
#include <QFileInfo>
#include <cmath>

namespace bilmeko {

namespace {

QString twoDigits(qint64 v)
{
    return QString::number(v).rightJustified(2, QLatin1Char('0'));
}

// HH:mm:ss of the time of day the report shows for a value.
QString timeField(double v)
{
    const qint64 s = timeOfDayMs(v) / 1000;
    return twoDigits(s / 3600) + QLatin1Char(':') + twoDigits(s / 60 % 60) + QLatin1Char(':') + twoDigits(s % 60);
}

QString dateTimeField(double v)
{
    // The date and time of day as the report's first column takes them.
    const qint64 ms = roundToMs(v);
    qint64 day = ms / MsPerDay;
    qint64 inDay = ms % MsPerDay;
    if (inDay < 0) {
        inDay += MsPerDay;
        --day;
    }
    const QDate date = epochDate().addDays(day);
    const qint64 s = inDay / 1000;
    return QStringLiteral("%1.%2.%3 ")
               .arg(twoDigits(date.day()), twoDigits(date.month()))
               .arg(date.year(), 4, 10, QLatin1Char('0'))
           + twoDigits(s / 3600) + QLatin1Char(':') + twoDigits(s / 60 % 60) + QLatin1Char(':') + twoDigits(s % 60);
}

bool put(QIODevice &out, const QStringList &fields)
{
    QString row;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            row += QLatin1Char(';');
        row += csvField(fields[i]);
    }
    row += QLatin1String("\r\n");
    const QByteArray bytes = row.toUtf8();
    return out.write(bytes) == bytes.size();
}

} // namespace

QStringList csvColumns(bool withJournal)
{
    QStringList c = reportHeader().split(QLatin1Char('\t'), Qt::SkipEmptyParts);
    if (withJournal)
        c << QStringLiteral("Журнал");
    return c;
}

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString q = text;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QStringList csvRecordFields(const LogRecord &r)
{
    return {dateTimeField(r.written), r.clientName,          r.service,
            Formats::money(r.pricePerMin), timeField(r.startTime), timeField(r.elapsed),
            timeField(r.endTime),   Formats::money(r.amount), r.note,
            r.status};
}

bool writeReportCsv(QIODevice &out, const QList<ReportDesk> &desks)
{
    const bool several = desks.size() > 1;
    if (out.write("\xEF\xBB\xBF", 3) != 3 || !put(out, csvColumns(several)))
        return false;
    for (const ReportDesk &desk : desks) {
        bool ok = true;
        desk.report.forEachSelected([&](qsizetype, const LogRecord &r) {
            if (!ok)
                return;
            QStringList fields = csvRecordFields(r);
            if (several)
                fields << desk.name;
            ok = put(out, fields);
        });
        if (!ok)
            return false;
    }
    return true;
}

bool writeReportCsv(QIODevice &out, const PeriodReport &report)
{
    return writeReportCsv(out, QList<ReportDesk>{{report, QString()}});
}

QString reportNotSavedMessage(const QString &path, const QString &reason)
{
    return QStringLiteral("Отчет не сохранен в файл «%1»: %2")
        .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()), reason);
}

void saveReportCsv(const QString &path, const PeriodReport &report)
{
    try {
        AtomicFile file(path);
        QIODevice &out = file.open();
        if (!writeReportCsv(out, report))
            throw Error(reportNotSavedMessage(path, out.errorString()));
        file.commit();
    } catch (const AtomicFileError &e) {
        throw Error(reportNotSavedMessage(path, e.message()));
    }
}

} // namespace bilmeko
