#include "reportcsv.h"

#include "common/core/atomicfile.h"
#include "common/core/errors.h"

#include <QDir>
#include <QFileInfo>

namespace bilmeko {

bool writeReportCsv(QIODevice &out, const QList<ReportDesk> &desks)
{
    const bool several = desks.size() > 1;
    DeviceOutput bytes(out);
    CsvWriter csv(bytes);
    csv.header(several);
    for (const ReportDesk &desk : desks) {
        const QByteArray source = CsvWriter::sourceField(desk.name);
        for (qsizetype i = 0; i < desk.report.recordCount() && !bytes.failed(); ++i) {
            const char *plain = desk.report.plainRecord(i);
            RecordFields f = plain ? RecordFields::fromPlain(plain) : RecordFields{.written = desk.report.written(i)};
            f.uncounted = !desk.report.counted(i);
            if (several)
                csv.row(f, std::string_view(source.constData(), static_cast<size_t>(source.size())));
            else
                csv.row(f);
        }
    }
    return bytes.flush();
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
