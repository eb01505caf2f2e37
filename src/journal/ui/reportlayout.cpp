#include "reportlayout.h"

#include "common/core/errors.h"

#include <QPainter>
#include <QPrinter>
#include <algorithm>
#include <cmath>
#include <limits>

namespace bilmeko {

namespace {

constexpr QStringView HeaderStart = u"Время\t\t\t";
constexpr QStringView HeaderFirst = u"Время";

// Calls f(line) for every line of a text ('\n' separated, a '\r' before it
// dropped), or of lines given one at a time.
template<typename F>
void forEachLine(QStringView text, F &&f)
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

template<typename F>
void forEachLine(const TextLines &lines, F &&f)
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

ReportColumns::ReportColumns(const QFontMetricsF &metrics)
    : m_metrics(metrics)
    , m_advances(65536, -1.0f)
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

void printReportText(const QString &text, const QFont &font, QPrinter &printer)
{
    printReportText(StringLines(text), font, printer);
}

void printReportText(const TextLines &text, const QFont &font, QPrinter &printer)
{
    QFont base(font);
    // The window's font is set in pixels of a 96 dpi screen; paper needs points.
    if (base.pixelSize() > 0)
        base.setPointSizeF(base.pixelSize() * 72.0 / 96.0);

    QPainter painter;
    if (!painter.begin(&printer))
        throw Error(QStringLiteral("Printing failed"));

    const QRectF page = printer.pageRect(QPrinter::DevicePixel);
    const qreal pageW = page.width();
    const qreal pageH = page.height();

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
    const qreal lineH = fm.lineSpacing();
    const qreal ascent = fm.ascent();

    qreal y = 0;
    auto room = [&] {
        if (y > 0 && y + lineH > pageH) {
            if (!printer.newPage())
                throw Error(QStringLiteral("Printing failed"));
            y = 0;
        }
    };
    auto draw = [&](qreal x, QStringView s) {
        painter.drawText(QPointF(x, y + ascent), s.toString());
    };

    forEachLine(text, [&](QStringView line) {
        room();
        const QList<QStringView> parts = pieces(line);
        const QList<qreal> starts = columns->cellStarts(line, stops);
        qreal shift = 0;
        for (qsizetype i = 0; i < parts.size(); ++i) {
            QStringView part = parts[i];
            qreal x = starts[i] - shift;
            qreal w = columns->width(part);
            if (x > 0 && x + w > pageW) {
                // Goes on in a further row rather than off the paper.
                y += lineH;
                room();
                shift = starts[i];
                x = 0;
            }
            while (w > pageW && part.size() > 1) {
                qsizetype n = 0;
                qreal used = 0;
                while (n < part.size()) {
                    const qreal a = columns->width(part.mid(n, 1));
                    if (n > 0 && used + a > pageW)
                        break;
                    used += a;
                    ++n;
                }
                // Break after a blank where there is one, else mid-word.
                if (n < part.size()) {
                    const qsizetype blank = part.left(n).lastIndexOf(QLatin1Char(' '));
                    if (blank > 0)
                        n = blank + 1;
                }
                draw(0, part.left(n));
                part = part.mid(n);
                w = columns->width(part);
                y += lineH;
                room();
                shift = starts[i];
                x = 0;
            }
            draw(x, part);
        }
        y += lineH;
    });

    if (!painter.end())
        throw Error(QStringLiteral("Printing failed"));
}

} // namespace bilmeko
