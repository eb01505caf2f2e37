#pragma once
// The grid of running sessions in the main window: its view, the cells'
// painting, the row indicator, the column titles and the style under them.
// The main window builds the grid from these; the data is CurLog's, shown
// through a MemTableModel.

#include <QAbstractItemView>
#include <QAccessible>
#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolTip>
#include <algorithm>
#include <functional>
#include <utility>

namespace bilmeko {

// The row-indicator column: a small arrow at the current row.
class RowIndicator : public QHeaderView
{
public:
    explicit RowIndicator(QTableView *view) : QHeaderView(Qt::Vertical, view), m_view(view)
    {
        setSectionsClickable(false);
        setHighlightSections(false);
        setSectionResizeMode(QHeaderView::Fixed);
        setFixedWidth(12);
    }

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        if (logicalIndex != m_view->currentIndex().row())
            return;
        painter->save();
        // The base painting may leave an empty clip behind.
        painter->setClipRect(rect);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(Qt::black);
        const QPointF c = QRectF(rect).center();
        painter->drawPolygon(QPolygonF({c + QPointF(-2.5, -4), c + QPointF(2.5, 0), c + QPointF(-2.5, 4)}));
        painter->restore();
    }

private:
    QTableView *m_view;
};

// Cells as the grid draws them: white on the grid's button-face background,
// a 2-pixel margin, money right-aligned. A text too long for its cell ends
// in an ellipsis and shows whole in a tooltip.
class GridDelegate : public QStyledItemDelegate
{
public:
    GridDelegate(QList<int> rightAligned, std::function<bool(int)> marked, std::function<bool(int)> paused,
                 QObject *parent)
        : QStyledItemDelegate(parent),
          m_right(std::move(rightAligned)),
          m_marked(std::move(marked)),
          m_paused(std::move(paused))
    {
    }

    // The "Осталось" column, which reads "пауза" while a session is paused.
    static constexpr int LeftColumn = 5;

    // A session in its last minutes: a warm background (dark when selected,
    // with white text, so it stays legible), bold text and a "!" before the
    // client's name for those who do not tell the colours apart.
    static QColor markedBackground(bool selected) { return selected ? QColor(150, 55, 0) : QColor(255, 214, 120); }

    // The text a cell shows: the one place that says it, for the painting,
    // the tooltip and assistive tools alike.
    static QString cellText(const QModelIndex &index, const QString &text, bool marked, bool paused)
    {
        if (index.column() == 0 && marked)
            return QStringLiteral("! ") + text;
        if (index.column() == LeftColumn && paused)
            return QStringLiteral("пауза");
        return text;
    }
    QString cellText(const QModelIndex &index, const QString &text) const
    {
        return cellText(index, text, m_marked(index.row()), m_paused(index.row()));
    }

    // The text as the cell shows it.
    static QString shownText(const QFontMetrics &fm, const QString &text, const QRect &cell)
    {
        return fm.elidedText(text, Qt::ElideRight, cell.width() - 4);
    }

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override
    {
        if (event->type() != QEvent::ToolTip)
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QString text = cellText(index, index.data(Qt::DisplayRole).toString());
        if (shownText(option.fontMetrics, text, option.rect) != text)
            QToolTip::showText(event->globalPos(), text, view, option.rect);
        else
            QToolTip::hideText();
        return true;
    }

    // A tick redraws a column of cells: only what a cell shows is asked of
    // the model (not every role the style could use), and the painter's pen
    // and font are put back by hand rather than its whole state saved.
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        const bool marked = m_marked(index.row());
        const bool paused = m_paused(index.row());
        QString text = index.data(Qt::DisplayRole).toString();
        QFont font = option.font;
        QColor pen;
        if (marked) {
            painter->fillRect(option.rect, markedBackground(selected));
            pen = selected ? QColor(Qt::white) : QColor(Qt::black);
            font.setBold(true);
        } else {
            painter->fillRect(option.rect, selected ? option.palette.brush(QPalette::Highlight) : QBrush(Qt::white));
            pen = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        }
        if (paused) {
            // A paused session: its clock stands, its text is grey and italic.
            if (!selected)
                pen = QColor(110, 110, 110);
            font.setItalic(true);
        }
        text = cellText(index, text, marked, paused);
        const QPen oldPen = painter->pen();
        painter->setPen(pen);
        const bool ownFont = marked || paused || painter->font() != font;
        const QFont oldFont = ownFont ? painter->font() : QFont();
        if (ownFont)
            painter->setFont(font);
        const QFontMetrics fm = marked || paused ? QFontMetrics(font) : option.fontMetrics;
        const Qt::Alignment align
            = m_right.contains(index.column()) ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter;
        // The elided text fits the cell, so no clip is needed.
        painter->drawText(option.rect.adjusted(2, 0, -2, 0), int(align | Qt::TextSingleLine),
                          shownText(fm, text, option.rect));
        painter->setPen(oldPen);
        if (ownFont)
            painter->setFont(oldFont);
    }

private:
    QList<int> m_right;
    std::function<bool(int)> m_marked;
    std::function<bool(int)> m_paused;
};

// The grid itself: a change to a block of cells (a tick's column of times
// and amounts) redraws those cells alone. The base view also takes in the
// grid lines around the block, and with them every cell of the columns on
// either side. With an assistive tool listening, or an editor open, the
// base view's handling stands.
class GridView : public QTableView
{
public:
    using QTableView::QTableView;

protected:
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles) override
    {
        if (topLeft == bottomRight || QAccessible::isActive() || state() == EditingState) {
            QTableView::dataChanged(topLeft, bottomRight, roles);
            return;
        }
        if (!isVisible())
            return;
        const QRect cells = (visualRect(topLeft) | visualRect(bottomRight)) & viewport()->rect();
        if (!cells.isEmpty())
            viewport()->update(cells);
    }
};

// The grid's style: the delegate paints every cell's background whole, so
// the row panel the style would paint under each cell first is left out.
class GridStyle : public QProxyStyle
{
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element == PE_PanelItemViewRow && qobject_cast<const QTableView *>(widget))
            return;
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

// Whether a style draws as Fusion, under any proxies.
inline bool drawsAsFusion(const QStyle *style)
{
    while (const auto *proxy = qobject_cast<const QProxyStyle *>(style))
        style = proxy->baseStyle();
    return style && style->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0;
}

// A column title's face, as the style draws it. Fusion draws a face's lines
// a pixel at a time, and Qt's painter hands a draw of more than 96 pixels
// to a pool of threads: the 117-pixel "Клиент" alone started two threads
// before the first frame, some 3 % of the start's processor time. Fusion's
// face is the same from left to right but for its right edge, so a wide one
// is drawn as narrower pieces, each covering the edge of the one before:
// together they make the very pixels of the whole face (a test holds them
// to it).
inline void drawTitleFace(const QStyle *style, QStyleOptionHeader opt, QPainter *painter, const QWidget *widget)
{
    constexpr int WidestPiece = 88;
    constexpr int Overlap = 8; // the edge's two lines and room to spare
    const QRect whole = opt.rect;
    if (whole.width() <= WidestPiece || !drawsAsFusion(style)) {
        style->drawControl(QStyle::CE_HeaderSection, &opt, painter, widget);
        return;
    }
    for (int left = whole.left();; left += WidestPiece - Overlap) {
        const int right = std::min(left + WidestPiece - 1, whole.right());
        opt.rect = QRect(QPoint(left, whole.top()), QPoint(right, whole.bottom()));
        style->drawControl(QStyle::CE_HeaderSection, &opt, painter, widget);
        if (right == whole.right())
            return;
    }
}

// Column titles drawn as buttons with the text centred and clipped, so the
// titles fit the narrow columns.
class TitleHeader : public QHeaderView
{
public:
    explicit TitleHeader(QWidget *parent) : QHeaderView(Qt::Horizontal, parent) {}

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        QStyleOptionHeader opt;
        initStyleOption(&opt);
        opt.rect = rect;
        opt.section = logicalIndex;
        opt.text.clear();
        drawTitleFace(style(), opt, painter, this);
        painter->save();
        painter->setClipRect(rect);
        painter->setPen(palette().color(QPalette::ButtonText));
        const QString title = model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString() : QString();
        painter->drawText(rect.adjusted(1, 0, -1, 0), int(Qt::AlignCenter | Qt::TextSingleLine), title);
        painter->restore();
    }

    // A title is drawn in the header's own font (above), so it is measured
    // in it too; the base class measures every title bold, as it would draw
    // a highlighted one, and lays each out in that font before the first
    // frame.
    QSize sectionSizeFromContents(int logicalIndex) const override
    {
        QStyleOptionHeader opt;
        initStyleOption(&opt);
        opt.section = logicalIndex;
        opt.text = model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString() : QString();
        opt.fontMetrics = fontMetrics();
        return style()->sizeFromContents(QStyle::CT_HeaderSection, &opt, QSize(), this);
    }
};

} // namespace bilmeko
