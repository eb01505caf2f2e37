#pragma once
// The report window: the report text under the period's name, the totals
// of money and time, "Печать" and "Сохранить…". Reused for every report;
// it keeps the report's records only while it is shown.

#include "journal/core/periodreport.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

class QLabel;
class QPagedPaintDevice;
class QPushButton;

namespace bilmeko {

class ReportTextEdit;

class TForm5 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm5(QWidget *parent = nullptr);

    // Puts a report into the window: the period in the caption, the lines
    // (column stops fitted to them), the two totals.
    void setReport(const PeriodReport &report);
    // Widens the window to show every column of the report, as far as
    // the screen allows (the first report of a run opens so).
    void fitWidthToColumns();
    // Lets go of the report's records (the text area empties).
    void releaseReport();
    const PeriodReport &report() const { return m_report; }
    // Prints the text as it stands now, operator's edits included, on a
    // device set up by the caller (a printer or a PDF file).
    void printTo(QPagedPaintDevice &printer) const;

    // "Печать": the text to the default printer as one job titled
    // "Отчет о работе", no dialog, through the print helper: the window
    // never waits for the printer. A job that fails is reported when it
    // ends ("Принтер не установлен" when there is none).
    void Button1Click();
    // "Сохранить…": asks for a file and saves the report as CSV or PDF.
    void SaveButtonClick();
    // CSV (the listed records) or PDF (the pages of the printout), chosen by
    // the name's suffix; written whole or not at all. Throws Error with a
    // message naming the file.
    void saveTo(const QString &path);
    // Asks where to save; empty when the operator cancels. A file dialog
    // unless replaced (tests).
    std::function<QString()> chooseSavePath;

    // Prints a listed record's receipt again: set by the main window for
    // today's report; unset, the text's menu has no such item.
    std::function<void(const LogRecord &)> reprintHook;
    // The record shown on a line of the text (0 is the column titles), for
    // the menu's "Напечатать чек"; false for a line that is no finished
    // session's (a title, the totals, a reversal, a record the journal no
    // longer holds).
    bool recordOnLine(int line, LogRecord &out) const;
    // The menu's "Напечатать чек" on that line; false when it has no record.
    bool reprintLine(int line);

    // The widths the report measures its text columns with, in this
    // window's text font.
    CharWidths charWidths() const;
    // "График": the revenue chart of the report's period.
    void BtnChartClick();

    ReportTextEdit *RichEdit1;
    QLabel *LabelSum;
    QLabel *Label2;
    QLabel *Label3;
    QLabel *LabelTime;
    QPushButton *Button1;
    QPushButton *SaveButton;
    QPushButton *BtnChart;

protected:
    void resizeEvent(QResizeEvent *e) override;
    void hideEvent(QHideEvent *e) override;

private:
    void recordMenu(const QPoint &at);
    QString askSavePath();
    void placeControls();
    int placeTotals(int windowWidth, int dy);

    PeriodReport m_report;
    bool m_totalsSet = false; // the totals hold a report's texts
};

// The title of the print job.
QString printJobTitle();

// Where the revenue chart module is looked for, in order: beside the
// program (the build tree), then where it is installed.
QStringList chartModulePlaces();
// Loads the first of the places that exists and returns its entry
// (a ShowRevenueChartFn); the module stays loaded. Throws Error naming
// the file when none can be loaded.
void *loadChartModule(const QStringList &places);

// The report command once the period is chosen: clears the text, reads the
// journal (IoError when it cannot be opened, the window then not shown),
// says what damage it found, fills the window and shows it modally; the
// report's records are let go when the window closes.
void showPeriodReport(TForm5 *form5, const QString &journalPath, double dateBeg, double dateEnd);

} // namespace bilmeko
