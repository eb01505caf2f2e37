#pragma once
// The report as a CSV file for a spreadsheet: UTF-8 with a byte-order mark,
// ';' between fields, a header row, one row per listed record in the
// report's column order, money with two decimals and a decimal comma, dates
// as dd.MM.yyyy HH:mm:ss, no totals row; fields holding ';', '"' or a line
// break quoted, '"' doubled; rows end in CR LF.

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

// The header row's fields (plus "Журнал" with several desks).
QStringList csvColumns(bool withJournal);
// One field as written (quoted where it has to be).
QString csvField(const QString &text);
// The fields of one record's row.
QStringList csvRecordFields(const LogRecord &r);

// Writes the CSV; false when the device refuses the bytes.
bool writeReportCsv(QIODevice &out, const QList<ReportDesk> &desks);
bool writeReportCsv(QIODevice &out, const PeriodReport &report);

// The message of a report that could not be saved to the file.
QString reportNotSavedMessage(const QString &path, const QString &reason);

// Saves the CSV of a report to a file, atomically; throws Error with a
// message naming the file when it cannot.
void saveReportCsv(const QString &path, const PeriodReport &report);

} // namespace bilmeko
