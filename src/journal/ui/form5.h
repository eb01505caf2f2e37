#pragma once
// The report window: the report text, the totals of money and time, and the
// "Печать" button. Created hidden once and reused for every report.

#include <QDialog>
#include <QString>

class QLabel;
class QPrinter;
class QPushButton;

namespace bilmeko {

struct PeriodReport;
class ReportTextEdit;

class TForm5 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm5(QWidget *parent = nullptr);

    // Puts a report into the window: the text (column stops fitted to it)
    // and the two totals.
    void setReport(const PeriodReport &report);
    // Prints the text as it stands now, operator's edits included, on a
    // printer set up by the caller (a queue or a PDF file).
    void printTo(QPrinter &printer) const;

    // "Печать": the text to the default printer as one job titled
    // "Отчет о работе", no dialog.
    void Button1Click();
    // "График": the revenue chart of the report's period.
    void BtnChartClick();
    void setChartSource(const QString &journalPath, double dateBeg, double dateEnd);

    ReportTextEdit *RichEdit1;
    QLabel *LabelSum;
    QLabel *Label2;
    QLabel *Label3;
    QLabel *LabelTime;
    QPushButton *Button1;
    QPushButton *BtnChart;

private:
    QString m_journalPath;
    double m_dateBeg = 0;
    double m_dateEnd = 0;
};

// The title of the print job.
QString printJobTitle();

// The report command once the period is chosen: clears the text, reads the
// journal (IoError when it cannot be opened, the window then not shown),
// says "Файл отчета разрушен" when the journal is damaged, fills the window
// and shows it modally.
void showPeriodReport(TForm5 *form5, const QString &journalPath, double dateBeg, double dateEnd);

} // namespace bilmeko
