#pragma once
// Laying out the report's tab-separated text in columns, on the screen and
// on paper, and printing it page by page.

#include "journal/core/textlines.h"

#include <QFont>
#include <QFontMetricsF>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <limits>
#include <vector>

class QDataStream;
class QPagedPaintDevice;

namespace bilmeko {

// Where the tabs of the report text stop so that its columns line up.
// The header keeps its two extra tabs after "Время": its first two stops lie
// between the header's first word and the shortest first column of a
// record, so both reach the "Клиент" column.
class ReportColumns
{
public:
    explicit ReportColumns(const QFontMetricsF &metrics);

    // What the stops are fitted to: the widest piece of each column over
    // the lines that set stops, the header's first word, the narrowest
    // first column of a record, the widest line that sets no stops.
    struct Extent
    {
        std::vector<qreal> widest;
        qreal headerFirst = -1; // below 0: no header
        qreal shortestFirst = std::numeric_limits<qreal>::infinity();
        qreal freeWidth = 0;
    };

    // Stops for a text of lines; lines with fewer than two tabs (the
    // totals, a remark typed in) follow the stops without setting them.
    QList<qreal> tabStops(QStringView text);
    QList<qreal> tabStops(const TextLines &lines);
    // Stops for an extent measured elsewhere.
    QList<qreal> tabStops(const Extent &extent);

    // The width of a text without tabs.
    qreal width(QStringView text);
    // Where each tab-separated piece of a line starts, given the stops.
    // Past the last stop the tabs go on at the default distance.
    QList<qreal> cellStarts(QStringView line, const QList<qreal> &stops);
    // The width a line takes with those stops.
    qreal lineWidth(QStringView line, const QList<qreal> &stops);

    // How wide the text of the last tabStops() call is at most: the table
    // of its columns, or a longer line that sets no stops.
    qreal contentWidth() const { return m_contentWidth; }

    qreal gap() const { return m_gap; }
    qreal defaultTabDistance() const { return m_tabDistance; }

private:
    qreal advance(char16_t c);
    void addLine(Extent &e, QStringView line, bool first);

    QFontMetricsF m_metrics;
    std::vector<float> m_advances; // by UTF-16 code unit; < 0 not yet known
    qreal m_gap;
    qreal m_tabDistance;
    qreal m_contentWidth = 0;
    std::vector<qreal> m_lineWidths;
};

// The next stop after x: the first given one beyond it, then multiples of
// the default distance.
qreal nextTabStop(qreal x, const QList<qreal> &stops, qreal defaultDistance);

// Prints the text on the printer in the given font, lines as they are,
// columns at their stops, as many pages as it needs. The title (the report
// and its period) comes first, in bold; when the text starts with the
// column titles they are repeated at the top of every further page; each
// page ends with its number, "Стр. 2 из 5". A report wider than the page
// is printed smaller (down to 60 %); what still does not fit goes on in a
// further row. Throws Error when the printer cannot start.
void printReportText(const QString &text, const QFont &font, QPagedPaintDevice &printer, const QString &title);
void printReportText(const TextLines &lines, const QFont &font, QPagedPaintDevice &printer, const QString &title);

// The kind of print job a report is.
inline constexpr char ReportJobKind[] = "report";
// The report as the print job carries it: the font, the title, the lines
// as they stand (the operator's edits included).
struct ReportJob : TextLines
{
    QFont font;
    QString title;
    QStringList lines;
    qsizetype lineCount() const override { return lines.size(); }
    QString line(qsizetype n) const override { return lines.at(n); }
};
void writeReportJob(QDataStream &out, const TextLines &lines, const QFont &font, const QString &title);
// Read back by the print helper: false when the stream holds no report.
bool readReportJob(QDataStream &in, ReportJob &job);

} // namespace bilmeko
