#include "reportlayout.h"

#include "common/core/errors.h"

#include <QDataStream>
#include <QPagedPaintDevice>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace bilmeko {

namespace {

constexpr QStringView HeaderStart = u"Время\t\t\t";
constexpr QStringView HeaderFirst = u"Время";

// Calls f(line) for every line of a text ('\n' separated, a '\r' before it
// dropped), or of lines given one at a time.
template <typename F> void forEachLine(QStringView text, F &&f)
{
    qsizetype pos = 0;
    for (;;) {
        qsizetype nl = text.indexOf(QLatin1Char('\n'), pos);
        const bool last = nl < 0;
        if (last)
            nl = text.size();
        QStringView line = text.mid(pos, nl - pos);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        f(line);
        if (last)
            break;
        pos = nl + 1;
    }
}

template <typename F> void forEachLine(const TextLines &lines, F &&f)
{
    for (qsizetype n = 0; n < lines.lineCount(); ++n) {
        const QString line = lines.line(n);
        f(QStringView(line));
    }
}

QList<QStringView> pieces(QStringView line)
{
    QList<QStringView> out;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype tab = line.indexOf(QLatin1Char('\t'), pos);
        if (tab < 0) {
            out << line.mid(pos);
            return out;
        }
        out << line.mid(pos, tab - pos);
        pos = tab + 1;
    }
}

} // namespace

ReportColumns::ReportColumns(const QFontMetricsF &metrics) : m_metrics(metrics), m_advances(65536, -1.0f)
{
    m_gap = std::max(metrics.horizontalAdvance(QStringLiteral("   ")), metrics.averageCharWidth() * 2);
    m_tabDistance = metrics.horizontalAdvance(QLatin1Char(' ')) * 8;
    if (m_tabDistance <= 0)
        m_tabDistance = 8;
}

qreal ReportColumns::advance(char16_t c)
{
    float &a = m_advances[c];
    if (a < 0)
        a = static_cast<float>(m_metrics.horizontalAdvance(QChar(c)));
    return a;
}

qreal ReportColumns::width(QStringView text)
{
    qreal w = 0;
    for (QChar c : text)
        w += advance(c.unicode());
    return w;
}

QList<qreal> ReportColumns::tabStops(QStringView text)
{
    Extent e;
    bool first = true;
    forEachLine(text, [&](QStringView line) {
        addLine(e, line, first);
        first = false;
    });
    return tabStops(e);
}

QList<qreal> ReportColumns::tabStops(const TextLines &lines)
{
    Extent e;
    for (qsizetype n = 0; n < lines.lineCount(); ++n)
        addLine(e, lines.line(n), n == 0);
    return tabStops(e);
}

void ReportColumns::addLine(Extent &e, QStringView line, bool first)
{
    const bool isHeader = first && line.startsWith(HeaderStart);
    std::vector<qreal> &lineWidths = m_lineWidths;
    lineWidths.clear();
    qreal w = 0;
    for (QChar c : line) {
        if (c == QLatin1Char('\t')) {
            lineWidths.push_back(w);
            w = 0;
        } else {
            w += advance(c.unicode());
        }
    }
    lineWidths.push_back(w);
    size_t column = 0;
    size_t from = 0;
    if (isHeader) {
        // "Время", two empty pieces, then the titles of columns 1 on.
        e.headerFirst = lineWidths[0];
        column = 1;
        from = 3;
    } else {
        if (lineWidths.size() < 3) {
            qreal w = (static_cast<qreal>(lineWidths.size()) - 1) * m_tabDistance;
            for (qreal piece : lineWidths)
                w += piece;
            e.freeWidth = std::max(e.freeWidth, w);
            return;
        }
        e.shortestFirst = std::min(e.shortestFirst, lineWidths[0]);
    }
    for (size_t i = from; i < lineWidths.size(); ++i, ++column) {
        if (e.widest.size() <= column)
            e.widest.resize(column + 1, 0);
        e.widest[column] = std::max(e.widest[column], lineWidths[i]);
    }
}

QList<qreal> ReportColumns::tabStops(const Extent &e)
{
    std::vector<qreal> widest = e.widest;
    const qreal headerFirst = e.headerFirst;
    const qreal shortestFirst = e.shortestFirst;
    QList<qreal> stops;
    m_contentWidth = e.freeWidth;
    if (widest.size() < 2 && headerFirst < 0) {
        if (!widest.empty())
            m_contentWidth = std::max(m_contentWidth, widest[0]);
        return stops;
    }
    if (widest.empty())
        widest.resize(1, 0);
    qreal x = widest[0];
    if (headerFirst >= 0) {
        qreal p1 = headerFirst + 1;
        qreal p2 = headerFirst + 2;
        if (std::isfinite(shortestFirst) && p2 >= shortestFirst) {
            // A first column narrower than the header's first word: keep
            // the records in line, the header comes second.
            p2 = std::max<qreal>(shortestFirst - 1, 0.5);
            p1 = p2 / 2;
        }
        stops << p1 << p2;
        x = std::max(x, std::max(p2, headerFirst));
    }
    x += m_gap;
    stops << x;
    for (size_t k = 1; k + 1 < widest.size(); ++k) {
        x += widest[k] + m_gap;
        stops << x;
    }
    m_contentWidth = std::max(m_contentWidth, x + (widest.size() > 1 ? widest.back() : 0));
    return stops;
}

qreal nextTabStop(qreal x, const QList<qreal> &stops, qreal defaultDistance)
{
    for (qreal s : stops)
        if (s > x)
            return s;
    return (std::floor(x / defaultDistance) + 1) * defaultDistance;
}

QList<qreal> ReportColumns::cellStarts(QStringView line, const QList<qreal> &stops)
{
    QList<qreal> starts;
    qreal x = 0;
    const QList<QStringView> parts = pieces(line);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        starts << x;
        if (i + 1 < parts.size())
            x = nextTabStop(x + width(parts[i]), stops, m_tabDistance);
    }
    return starts;
}

qreal ReportColumns::lineWidth(QStringView line, const QList<qreal> &stops)
{
    const QList<qreal> starts = cellStarts(line, stops);
    return starts.last() + width(pieces(line).last());
}

namespace {

struct Cell
{
    qreal x;
    QStringView text;
};
// A printed line: its rows, each a run of cells.
using Rows = std::vector<std::vector<Cell>>;

// Lays a line out on rows no wider than the page: columns at their stops;
// a piece that would pass the right edge starts a further row, and a piece
// wider than the page is broken after a blank where there is one.
// Whether a piece of a line is an amount of money set flush right on
// paper: the price and the amount of a record line, and their titles.
bool flushRight(const QList<QStringView> &parts, qsizetype i)
{
    if (parts.size() == 13) // the column titles: "Время" and two empty pieces first
        return i == 5 || i == 9;
    if (parts.size() != 11 || (i != 3 && i != 7))
        return false;
    for (QChar c : parts[i])
        if (!c.isDigit() && c != QLatin1Char(',') && c != QLatin1Char('-'))
            return false;
    return !parts[i].isEmpty();
}

void layOutLine(QStringView line, ReportColumns &columns, const QList<qreal> &stops, qreal pageW, Rows &rows)
{
    rows.assign(1, {});
    const QList<QStringView> parts = pieces(line);
    const QList<qreal> starts = columns.cellStarts(line, stops);
    qreal shift = 0;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QStringView part = parts[i];
        qreal w = columns.width(part);
        // Flush right against the next column, where the column is wide
        // enough for it.
        const qreal right = i + 1 < parts.size() ? starts[i + 1] - columns.gap() : 0;
        qreal x = (flushRight(parts, i) && right - w > starts[i] ? right - w : starts[i]) - shift;
        if (x > 0 && x + w > pageW) {
            rows.emplace_back();
            shift = starts[i];
            x = 0;
        }
        while (w > pageW && part.size() > 1) {
            qsizetype n = 0;
            qreal used = 0;
            while (n < part.size()) {
                const qreal a = columns.width(part.mid(n, 1));
                if (n > 0 && used + a > pageW)
                    break;
                used += a;
                ++n;
            }
            if (n < part.size()) {
                const qsizetype blank = part.left(n).lastIndexOf(QLatin1Char(' '));
                if (blank > 0)
                    n = blank + 1;
            }
            rows.back().push_back({0, part.left(n)});
            part = part.mid(n);
            w = columns.width(part);
            rows.emplace_back();
            shift = starts[i];
            x = 0;
        }
        rows.back().push_back({x, part});
    }
}

// Puts rows on pages: the title on the first, the column titles again at
// the top of every further one, the page number at the foot of each. Run
// once without a painter to count the pages, then again to draw them.
class Pager
{
public:
    struct Metrics
    {
        qreal pageW;
        qreal pageH;
        qreal lineH;
        qreal ascent;
    };

    Pager(const Metrics &m, QPainter *painter, QPagedPaintDevice &printer, int pageCount)
        : m_m(m), m_painter(painter), m_printer(printer), m_pageCount(pageCount)
    {
        // Room for a gap and the page number below the text.
        m_bodyBottom = m.pageH - m.lineH * 1.5;
    }

    void title(const Rows &rows, const QFont &font)
    {
        QFont normal;
        if (m_painter) {
            normal = m_painter->font();
            m_painter->setFont(font);
        }
        for (const auto &row : rows)
            put(row);
        if (m_painter)
            m_painter->setFont(normal);
        m_y += m_m.lineH / 2;
    }

    void setRepeatedHeader(const Rows &rows)
    {
        // Only when the titles leave room for text below them.
        if (static_cast<qreal>(rows.size() + 1) * m_m.lineH <= m_bodyBottom)
            m_header = rows;
    }

    void line(const Rows &rows)
    {
        // A line of several rows is kept on one page when a page holds it.
        const qreal height = static_cast<qreal>(rows.size()) * m_m.lineH;
        const qreal freshTop = static_cast<qreal>(m_header.size()) * m_m.lineH;
        if (rows.size() > 1 && m_y > m_top && m_y + height > m_bodyBottom && freshTop + height <= m_bodyBottom)
            nextPage();
        for (const auto &row : rows)
            put(row);
    }

    // Ends the last page; the number of pages printed.
    int finish()
    {
        footer();
        return m_page;
    }

private:
    void put(const std::vector<Cell> &row)
    {
        if (m_y > m_top && m_y + m_m.lineH > m_bodyBottom)
            nextPage();
        draw(row);
    }

    void nextPage()
    {
        footer();
        if (m_painter && !m_printer.newPage())
            throw Error(QStringLiteral("печать не удалась"));
        ++m_page;
        m_y = 0;
        for (const auto &h : m_header)
            draw(h);
        m_top = m_y;
    }

    void draw(const std::vector<Cell> &row)
    {
        if (m_painter)
            for (const Cell &c : row)
                m_painter->drawText(QPointF(c.x, m_y + m_m.ascent), c.text.toString());
        m_y += m_m.lineH;
    }

    void footer()
    {
        if (!m_painter)
            return;
        const QString text = QStringLiteral("Стр. %1 из %2").arg(m_page).arg(m_pageCount);
        const QRectF box(0, m_m.pageH - m_m.lineH, m_m.pageW, m_m.lineH);
        m_painter->drawText(box, Qt::AlignHCenter | Qt::AlignBottom, text);
    }

    const Metrics m_m;
    QPainter *m_painter;
    QPagedPaintDevice &m_printer;
    const int m_pageCount;
    qreal m_bodyBottom;
    Rows m_header;
    qreal m_y = 0;
    qreal m_top = 0; // where the text of the current page starts
    int m_page = 1;
};

} // namespace

void printReportText(const QString &text, const QFont &font, QPagedPaintDevice &printer, const QString &title)
{
    printReportText(StringLines(text), font, printer, title);
}

void printReportText(const TextLines &text, const QFont &font, QPagedPaintDevice &printer, const QString &title)
{
    QFont base(font);
    // The window's font is set in pixels of a 96 dpi screen; paper needs points.
    if (base.pixelSize() > 0)
        base.setPointSizeF(base.pixelSize() * 72.0 / 96.0);

    QPainter painter;
    if (!painter.begin(&printer))
        throw Error(QStringLiteral("печать не удалась"));

    // What a printer's pageRect(DevicePixel) is, for any paged device.
    const QRectF page(printer.pageLayout().paintRectPixels(printer.logicalDpiX()));
    const qreal pageW = page.width();

    QFont f(base, &printer);
    auto columns = std::make_unique<ReportColumns>(QFontMetricsF(f, &printer));
    QList<qreal> stops = columns->tabStops(text);
    qreal natural = 0;
    forEachLine(text, [&](QStringView line) { natural = std::max(natural, columns->lineWidth(line, stops)); });
    if (natural > pageW) {
        const qreal scale = std::max<qreal>(0.6, pageW / natural);
        f.setPointSizeF(base.pointSizeF() * scale);
        columns = std::make_unique<ReportColumns>(QFontMetricsF(f, &printer));
        stops = columns->tabStops(text);
    }
    painter.setFont(f);
    const QFontMetricsF fm(f, &printer);
    QFont bold(f);
    bold.setBold(true);
    const QFontMetricsF boldMetrics(bold, &printer);
    const Pager::Metrics metrics{pageW, page.height(), std::max(fm.lineSpacing(), boldMetrics.lineSpacing()),
                                 std::max(fm.ascent(), boldMetrics.ascent())};

    ReportColumns titleColumns(boldMetrics);
    Rows titleRows;
    if (!title.isEmpty())
        layOutLine(title, titleColumns, {}, pageW, titleRows);
    Rows headerRows;
    if (text.lineCount() > 0) {
        const QString first = text.line(0);
        if (first.startsWith(HeaderStart))
            layOutLine(first, *columns, stops, pageW, headerRows);
    }

    auto run = [&](QPainter *p, int pageCount) {
        Pager pager(metrics, p, printer, pageCount);
        if (!titleRows.empty())
            pager.title(titleRows, bold);
        pager.setRepeatedHeader(headerRows);
        Rows rows;
        forEachLine(text, [&](QStringView line) {
            layOutLine(line, *columns, stops, pageW, rows);
            pager.line(rows);
        });
        return pager.finish();
    };
    // "Стр. N из M" needs M before the first page is drawn.
    const int pages = run(nullptr, 0);
    run(&painter, pages);

    if (!painter.end())
        throw Error(QStringLiteral("печать не удалась"));
}

void writeReportJob(QDataStream &out, const TextLines &lines, const QFont &font, const QString &title)
{
    const qsizetype n = lines.lineCount();
    out << font.toString() << title << qint64(n);
    for (qsizetype i = 0; i < n; ++i)
        out << lines.line(i);
}

bool readReportJob(QDataStream &in, ReportJob &job)
{
    QString font;
    qint64 count = -1;
    in >> font >> job.title >> count;
    if (in.status() != QDataStream::Ok || count < 0 || count > std::numeric_limits<int>::max()
        || !job.font.fromString(font))
        return false;
    for (qint64 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString line;
        in >> line;
        job.lines.append(line);
    }
    return in.status() == QDataStream::Ok;
}

} // namespace bilmeko
