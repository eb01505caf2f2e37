#pragma once
// The report as a CSV file for a spreadsheet, written by CsvWriter
// (reporttext.h) straight from the journal's bytes.

#include "periodreport.h"

#include <QIODevice>
#include <QList>
#include <QString>

namespace bilmeko {

// One journal's report; `name` fills the last column when there are
// several (one desk per journal).
struct ReportDesk
{
    PeriodReport report;
    QString name;
};

// Writes the CSV; false when the device refuses the bytes.
bool writeReportCsv(QIODevice &out, const QList<ReportDesk> &desks);
bool writeReportCsv(QIODevice &out, const PeriodReport &report);

// The message of a report that could not be saved to the file.
QString reportNotSavedMessage(const QString &path, const QString &reason);

// Saves the CSV of a report to a file, atomically; throws Error with a
// message naming the file when it cannot.
void saveReportCsv(const QString &path, const PeriodReport &report);

} // namespace bilmeko
