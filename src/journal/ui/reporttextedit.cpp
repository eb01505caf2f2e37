#include "reporttextedit.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <memory>

namespace bilmeko {

namespace {

// The pieces of a line between its tabs, with where each begins in the line.
struct Piece
{
    int from;
    QStringView text;
};

QList<Piece> piecesOf(QStringView line)
{
    QList<Piece> out;
    int from = 0;
    for (;;) {
        const qsizetype tab = line.indexOf(QLatin1Char('\t'), from);
        if (tab < 0) {
            out.push_back({from, line.mid(from)});
            return out;
        }
        out.push_back({from, line.mid(from, tab - from)});
        from = static_cast<int>(tab) + 1;
    }
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

} // namespace

ReportTextEdit::ReportTextEdit(QWidget *parent) : QAbstractScrollArea(parent), m_blink(new QTimer(this))
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);
    connect(m_blink, &QTimer::timeout, this, [this] {
        // A while after the last key or click the caret stays still, and
        // the idle window draws nothing.
        if (--m_blinksLeft <= 0) {
            m_caretOn = true;
            m_blink->stop();
        } else {
            m_caretOn = !m_caretOn;
        }
        viewport()->update(caretRect().toAlignedRect().adjusted(-1, 0, 1, 0));
    });
    m_source = std::make_shared<StringLines>(QString());
    metricsChanged();
}

ReportTextEdit::~ReportTextEdit() = default;

QSize ReportTextEdit::sizeHint() const
{
    return {633, 345};
}

void ReportTextEdit::metricsChanged()
{
    const QFontMetricsF fm(font());
    m_lineHeight = std::ceil(fm.lineSpacing());
    m_ascent = fm.ascent();
    m_columns = std::make_unique<ReportColumns>(fm);
}

QString ReportTextEdit::line(int n) const
{
    if (m_lines.empty())
        return m_source->line(n);
    const qint64 l = m_lines[static_cast<size_t>(n)];
    if (l < 0)
        return m_own[static_cast<size_t>(-l - 1)];
    return m_source->line(l);
}

void ReportTextEdit::setPlainText(const QString &text)
{
    auto lines = std::make_shared<StringLines>(text);
    m_fit = nullptr;
    setSource(lines);
    m_stops = m_columns->tabStops(QStringView(text));
    m_contentWidth = m_columns->contentWidth();
    updateScrollBars();
}

void ReportTextEdit::setLines(std::shared_ptr<const TextLines> lines, const StopsFitter &fit)
{
    m_fit = fit;
    setSource(std::move(lines));
    fitStops();
}

void ReportTextEdit::fitStops()
{
    m_stops = m_fit ? m_fit(*m_columns) : m_columns->tabStops(Lines(*this));
    m_contentWidth = m_columns->contentWidth();
    updateScrollBars();
    viewport()->update();
}

int ReportTextEdit::fullWidth() const
{
    return static_cast<int>(std::ceil(m_contentWidth)) + 2 * Margin + 2 + verticalScrollBar()->sizeHint().width()
        + 2 * frameWidth();
}

void ReportTextEdit::wakeCaret()
{
    if (!m_caretWanted) {
        m_caretWanted = true;
        restartBlink();
    }
}

QRectF ReportTextEdit::caretRect() const
{
    const qreal x = Margin - horizontalScrollBar()->value() + xAt(m_cursor.line, m_cursor.column);
    return {x, rowOf(m_cursor.line) * m_lineHeight, 1, m_lineHeight};
}

void ReportTextEdit::setSource(std::shared_ptr<const TextLines> lines)
{
    // A new text is shown without a caret until the operator works in it.
    m_caretWanted = false;
    m_blink->stop();
    m_caretOn = false;
    m_source = std::move(lines);
    m_own.clear();
    m_lines.clear();
    m_lines.shrink_to_fit();
    if (m_source->lineCount() == 0)
        m_source = std::make_shared<StringLines>(QString());
    m_sourceLines = m_source->lineCount();
    m_cursor = m_anchor = Position{};
    m_wantedX = -1;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
}

QString ReportTextEdit::toPlainText() const
{
    QString out;
    for (int i = 0; i < lineCount(); ++i) {
        if (i > 0)
            out += QLatin1Char('\n');
        out += line(i);
    }
    return out;
}

QList<qreal> ReportTextEdit::pieceStarts(int n) const
{
    return m_columns->cellStarts(line(n), m_stops);
}

qreal ReportTextEdit::xAt(int n, int column) const
{
    const QString text = line(n);
    const QList<Piece> pieces = piecesOf(text);
    const QList<qreal> starts = m_columns->cellStarts(text, m_stops);
    for (qsizetype i = pieces.size() - 1; i >= 0; --i) {
        if (column >= pieces[i].from) {
            const QFontMetricsF fm(font());
            const int inPiece = std::min<int>(column - pieces[i].from, static_cast<int>(pieces[i].text.size()));
            return starts[i] + fm.horizontalAdvance(pieces[i].text.left(inPiece).toString());
        }
    }
    return 0;
}

int ReportTextEdit::columnAtX(int n, qreal x) const
{
    const QString text = line(n);
    const QList<Piece> pieces = piecesOf(text);
    const QList<qreal> starts = m_columns->cellStarts(text, m_stops);
    qsizetype i = pieces.size() - 1;
    while (i > 0 && x < starts[i])
        --i;
    // Past the end of a piece but before the next one: the tab itself.
    const QFontMetricsF fm(font());
    const Piece &p = pieces[i];
    qreal at = starts[i];
    for (int k = 0; k < p.text.size(); ++k) {
        const qreal w = fm.horizontalAdvance(p.text[k]);
        if (x < at + w / 2)
            return p.from + k;
        at += w;
    }
    if (i + 1 < pieces.size() && x >= (at + starts[i + 1]) / 2)
        return pieces[i + 1].from; // after the tab
    return p.from + static_cast<int>(p.text.size());
}

int ReportTextEdit::visibleLines() const
{
    return std::max(1, static_cast<int>(viewport()->height() / m_lineHeight));
}

int ReportTextEdit::bodyRows() const
{
    return std::max(1, visibleLines() - 1);
}

int ReportTextEdit::firstBodyLine() const
{
    return verticalScrollBar()->value() + 1;
}

int ReportTextEdit::rowOf(int line) const
{
    return line == 0 ? 0 : line - firstBodyLine() + 1;
}

int ReportTextEdit::lineAtRow(int row) const
{
    return row <= 0 ? 0 : firstBodyLine() + row - 1;
}

void ReportTextEdit::updateScrollBars()
{
    QScrollBar *v = verticalScrollBar();
    v->setRange(0, std::max(0, lineCount() - 1 - bodyRows()));
    v->setPageStep(bodyRows());
    QScrollBar *h = horizontalScrollBar();
    const int width = static_cast<int>(std::ceil(m_contentWidth)) + 2 * Margin + 2;
    h->setRange(0, std::max(0, width - viewport()->width()));
    h->setPageStep(viewport()->width());
    h->setSingleStep(20);
}

void ReportTextEdit::resizeEvent(QResizeEvent *e)
{
    QAbstractScrollArea::resizeEvent(e);
    updateScrollBars();
}

void ReportTextEdit::changeEvent(QEvent *e)
{
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange) {
        metricsChanged();
        fitStops();
    }
}

void ReportTextEdit::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    p.setFont(font());
    const QPalette &pal = palette();
    const int first = firstBodyLine();
    const int last = std::min(lineCount() - 1, first + bodyRows());
    const qreal left = Margin - horizontalScrollBar()->value();
    const Position selFrom = std::min(m_anchor, m_cursor);
    const Position selTo = std::max(m_anchor, m_cursor);
    const QFontMetricsF fm(font());

    // The first line (the column titles) is drawn last, over the top row,
    // so the lines scrolling under it never show through.
    QList<int> rows;
    for (int n = first; n <= last; ++n)
        rows << n;
    rows << 0;
    for (int n : rows) {
        const qreal top = rowOf(n) * m_lineHeight;
        if (n == 0) {
            p.fillRect(QRectF(0, 0, viewport()->width(), m_lineHeight), pal.brush(QPalette::Base));
            if (lineCount() > 1) {
                p.setPen(pal.color(QPalette::Mid));
                p.drawLine(QPointF(0, m_lineHeight - 0.5), QPointF(viewport()->width(), m_lineHeight - 0.5));
            }
        }
        const QString text = line(n);
        const QList<Piece> pieces = piecesOf(text);
        const QList<qreal> starts = m_columns->cellStarts(text, m_stops);

        QRectF selected;
        if (hasSelection() && selFrom.line <= n && n <= selTo.line) {
            const qreal x1 = n == selFrom.line ? xAt(n, selFrom.column) : 0;
            qreal x2 = n == selTo.line
                ? xAt(n, selTo.column)
                : (pieces.isEmpty() ? 0 : starts.last() + fm.horizontalAdvance(pieces.last().text.toString()))
                    + fm.horizontalAdvance(QLatin1Char(' '));
            selected = QRectF(left + x1, top, x2 - x1, m_lineHeight);
            p.fillRect(selected, pal.brush(QPalette::Highlight));
        }
        for (int pass = 0; pass < (selected.isNull() ? 1 : 2); ++pass) {
            p.save();
            if (pass == 1) {
                p.setClipRect(selected);
                p.setPen(pal.color(QPalette::HighlightedText));
            } else {
                p.setPen(pal.color(QPalette::Text));
            }
            for (qsizetype i = 0; i < pieces.size(); ++i) {
                if (!pieces[i].text.isEmpty())
                    p.drawText(QPointF(left + starts[i], top + m_ascent), pieces[i].text.toString());
            }
            p.restore();
        }
    }

    if (hasFocus() && m_caretOn && (m_cursor.line == 0 || (m_cursor.line >= first && m_cursor.line <= last))) {
        const qreal x = left + xAt(m_cursor.line, m_cursor.column);
        const qreal top = rowOf(m_cursor.line) * m_lineHeight;
        p.fillRect(QRectF(x, top, 1, m_lineHeight), pal.color(QPalette::Text));
    }
}

ReportTextEdit::Position ReportTextEdit::clampPosition(Position pos) const
{
    pos.line = std::clamp(pos.line, 0, lineCount() - 1);
    pos.column = std::clamp(pos.column, 0, static_cast<int>(line(pos.line).size()));
    return pos;
}

void ReportTextEdit::setCursorPosition(Position pos, bool keepAnchor)
{
    moveCursor(pos, keepAnchor);
    m_wantedX = -1;
}

void ReportTextEdit::moveCursor(Position pos, bool keepAnchor)
{
    m_cursor = clampPosition(pos);
    if (!keepAnchor)
        m_anchor = m_cursor;
    ensureCursorVisible();
    restartBlink();
    viewport()->update();
}

void ReportTextEdit::ensureCursorVisible()
{
    QScrollBar *v = verticalScrollBar();
    if (m_cursor.line > 0) {
        if (m_cursor.line < firstBodyLine())
            v->setValue(m_cursor.line - 1);
        else if (m_cursor.line >= firstBodyLine() + bodyRows())
            v->setValue(m_cursor.line - bodyRows());
    }
    QScrollBar *h = horizontalScrollBar();
    const int x = static_cast<int>(xAt(m_cursor.line, m_cursor.column)) + Margin;
    const int width = viewport()->width();
    if (x < h->value() + Margin)
        h->setValue(std::max(0, x - width / 3));
    else if (x > h->value() + width - Margin) {
        if (x > h->maximum() + width - Margin)
            h->setMaximum(x - width + width / 3);
        h->setValue(x - width + width / 3);
    }
}

void ReportTextEdit::restartBlink()
{
    m_caretOn = m_caretWanted;
    const int flash = QApplication::cursorFlashTime();
    if (m_caretWanted && hasFocus() && flash > 1) {
        m_blinksLeft = BlinkMs / (flash / 2);
        m_blink->start(flash / 2);
    } else {
        m_blink->stop();
    }
}

void ReportTextEdit::focusInEvent(QFocusEvent *e)
{
    QAbstractScrollArea::focusInEvent(e);
    restartBlink();
    viewport()->update();
}

void ReportTextEdit::focusOutEvent(QFocusEvent *e)
{
    QAbstractScrollArea::focusOutEvent(e);
    m_blink->stop();
    m_caretOn = false;
    viewport()->update();
}

QString ReportTextEdit::selectedText() const
{
    if (!hasSelection())
        return {};
    const Position from = std::min(m_anchor, m_cursor);
    const Position to = std::max(m_anchor, m_cursor);
    if (from.line == to.line)
        return line(from.line).mid(from.column, to.column - from.column);
    QString out = line(from.line).mid(from.column);
    for (int n = from.line + 1; n < to.line; ++n)
        out += QLatin1Char('\n') + line(n);
    out += QLatin1Char('\n') + line(to.line).left(to.column);
    return out;
}

void ReportTextEdit::selectAll()
{
    m_anchor = Position{};
    m_cursor = clampPosition(Position{lineCount() - 1, INT32_MAX});
    ensureCursorVisible();
    viewport()->update();
}

void ReportTextEdit::ownLineMap()
{
    if (!m_lines.empty())
        return;
    m_lines.resize(static_cast<size_t>(m_sourceLines));
    for (qsizetype i = 0; i < m_sourceLines; ++i)
        m_lines[static_cast<size_t>(i)] = i;
}

void ReportTextEdit::setLine(int n, const QString &text)
{
    ownLineMap();
    qint64 &l = m_lines[static_cast<size_t>(n)];
    if (l < 0) {
        m_own[static_cast<size_t>(-l - 1)] = text;
    } else {
        m_own.push_back(text);
        l = -static_cast<qint64>(m_own.size());
    }
    m_contentWidth = std::max(m_contentWidth, m_columns->lineWidth(text, m_stops));
}

void ReportTextEdit::removeRange(Position from, Position to)
{
    if (to < from)
        std::swap(from, to);
    QString joined = line(from.line).left(from.column);
    joined += line(to.line).mid(to.column);
    setLine(from.line, joined);
    if (to.line > from.line)
        m_lines.erase(m_lines.begin() + from.line + 1, m_lines.begin() + to.line + 1);
    m_cursor = m_anchor = from;
}

void ReportTextEdit::insertText(const QString &text)
{
    if (hasSelection())
        removeRange(m_anchor, m_cursor);
    QString clean = text;
    clean.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    clean.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList parts = clean.split(QLatin1Char('\n'));
    const int n = m_cursor.line;
    const QString current = line(n);
    const QString before = current.left(m_cursor.column);
    const QString after = current.mid(m_cursor.column);
    if (parts.size() == 1) {
        setLine(n, before + parts[0] + after);
        m_cursor.column += static_cast<int>(parts[0].size());
    } else {
        ownLineMap();
        m_lines.insert(m_lines.begin() + n + 1, static_cast<size_t>(parts.size() - 1), qint64{0});
        setLine(n, before + parts.first());
        for (qsizetype i = 1; i + 1 < parts.size(); ++i)
            setLine(n + static_cast<int>(i), parts[i]);
        setLine(n + static_cast<int>(parts.size()) - 1, parts.last() + after);
        m_cursor = Position{n + static_cast<int>(parts.size()) - 1, static_cast<int>(parts.last().size())};
    }
    m_anchor = m_cursor;
    m_wantedX = -1;
    updateScrollBars();
    ensureCursorVisible();
    restartBlink();
    viewport()->update();
}

void ReportTextEdit::copySelection() const
{
    if (hasSelection())
        QApplication::clipboard()->setText(selectedText());
}

void ReportTextEdit::keyPressEvent(QKeyEvent *e)
{
    wakeCaret();
    if (e == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    if (e == QKeySequence::Copy) {
        copySelection();
        return;
    }
    if (e == QKeySequence::Cut) {
        copySelection();
        if (hasSelection()) {
            removeRange(m_anchor, m_cursor);
            updateScrollBars();
            moveCursor(m_cursor, false);
        }
        return;
    }
    if (e == QKeySequence::Paste) {
        const QString text = QApplication::clipboard()->text();
        if (!text.isEmpty())
            insertText(text);
        return;
    }

    const bool shift = e->modifiers() & Qt::ShiftModifier;
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    Position to = m_cursor;
    bool vertical = false;
    switch (e->key()) {
    case Qt::Key_Left:
        if (!shift && hasSelection()) {
            to = std::min(m_anchor, m_cursor);
        } else if (to.column > 0) {
            --to.column;
            if (ctrl) {
                const QString t = line(to.line);
                while (to.column > 0 && !isWordChar(t[to.column]))
                    --to.column;
                while (to.column > 0 && isWordChar(t[to.column - 1]))
                    --to.column;
            }
        } else if (to.line > 0) {
            --to.line;
            to.column = static_cast<int>(line(to.line).size());
        }
        break;
    case Qt::Key_Right:
        if (!shift && hasSelection()) {
            to = std::max(m_anchor, m_cursor);
        } else if (to.column < line(to.line).size()) {
            ++to.column;
            if (ctrl) {
                const QString t = line(to.line);
                while (to.column < t.size() && isWordChar(t[to.column - 1]))
                    ++to.column;
                while (to.column < t.size() && !isWordChar(t[to.column]))
                    ++to.column;
            }
        } else if (to.line + 1 < lineCount()) {
            ++to.line;
            to.column = 0;
        }
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        if (m_wantedX < 0)
            m_wantedX = xAt(m_cursor.line, m_cursor.column);
        const int step = e->key() == Qt::Key_Up || e->key() == Qt::Key_Down ? 1 : bodyRows();
        const bool up = e->key() == Qt::Key_Up || e->key() == Qt::Key_PageUp;
        to.line = std::clamp(to.line + (up ? -step : step), 0, lineCount() - 1);
        if (e->key() == Qt::Key_PageUp || e->key() == Qt::Key_PageDown) {
            QScrollBar *v = verticalScrollBar();
            v->setValue(v->value() + (up ? -step : step));
        }
        to.column = columnAtX(to.line, m_wantedX);
        vertical = true;
        break;
    }
    case Qt::Key_Home:
        to = ctrl ? Position{} : Position{to.line, 0};
        if (ctrl)
            verticalScrollBar()->setValue(0);
        break;
    case Qt::Key_End: to = ctrl ? Position{lineCount() - 1, INT32_MAX} : Position{to.line, INT32_MAX}; break;
    case Qt::Key_Backspace:
        if (hasSelection()) {
            removeRange(m_anchor, m_cursor);
        } else if (m_cursor.column > 0) {
            const int back = m_cursor.column >= 2 && line(m_cursor.line)[m_cursor.column - 1].isLowSurrogate() ? 2 : 1;
            removeRange(Position{m_cursor.line, m_cursor.column - back}, m_cursor);
        } else if (m_cursor.line > 0) {
            removeRange(Position{m_cursor.line - 1, static_cast<int>(line(m_cursor.line - 1).size())}, m_cursor);
        }
        updateScrollBars();
        moveCursor(m_cursor, false);
        m_wantedX = -1;
        return;
    case Qt::Key_Delete:
        if (hasSelection()) {
            removeRange(m_anchor, m_cursor);
        } else if (m_cursor.column < line(m_cursor.line).size()) {
            const int fwd = line(m_cursor.line)[m_cursor.column].isHighSurrogate() ? 2 : 1;
            removeRange(m_cursor, Position{m_cursor.line, m_cursor.column + fwd});
        } else if (m_cursor.line + 1 < lineCount()) {
            removeRange(m_cursor, Position{m_cursor.line + 1, 0});
        }
        updateScrollBars();
        moveCursor(m_cursor, false);
        m_wantedX = -1;
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter: insertText(QStringLiteral("\n")); return;
    default: {
        const QString text = e->text();
        if (!text.isEmpty() && !ctrl && text.at(0).isPrint()) {
            insertText(text);
            return;
        }
        QAbstractScrollArea::keyPressEvent(e);
        return;
    }
    }
    moveCursor(to, shift);
    if (!vertical)
        m_wantedX = -1;
}

ReportTextEdit::Position ReportTextEdit::positionAt(const QPoint &pt) const
{
    const int row = static_cast<int>(std::floor(pt.y() / m_lineHeight));
    const int n = row <= 0 ? 0 : std::clamp(firstBodyLine() + row - 1, 0, lineCount() - 1);
    const qreal x = pt.x() - Margin + horizontalScrollBar()->value();
    return Position{n, columnAtX(n, x)};
}

void ReportTextEdit::mousePressEvent(QMouseEvent *e)
{
    wakeCaret();
    if (e->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(e);
    setCursorPosition(positionAt(e->position().toPoint()), e->modifiers() & Qt::ShiftModifier);
}

void ReportTextEdit::mouseMoveEvent(QMouseEvent *e)
{
    if (e->buttons() & Qt::LeftButton)
        setCursorPosition(positionAt(e->position().toPoint()), true);
}

void ReportTextEdit::mouseDoubleClickEvent(QMouseEvent *e)
{
    wakeCaret();
    if (e->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseDoubleClickEvent(e);
    Position at = positionAt(e->position().toPoint());
    const QString t = line(at.line);
    int from = at.column;
    int to = at.column;
    while (from > 0 && isWordChar(t[from - 1]))
        --from;
    while (to < t.size() && isWordChar(t[to]))
        ++to;
    setCursorPosition(Position{at.line, from});
    setCursorPosition(Position{at.line, to}, true);
}

void ReportTextEdit::inputMethodEvent(QInputMethodEvent *e)
{
    wakeCaret();
    if (!e->commitString().isEmpty())
        insertText(e->commitString());
    e->accept();
}

QVariant ReportTextEdit::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled: return true;
    case Qt::ImCursorRectangle: {
        const qreal x = Margin - horizontalScrollBar()->value() + xAt(m_cursor.line, m_cursor.column);
        const qreal y = rowOf(m_cursor.line) * m_lineHeight;
        return QRectF(x, y, 1, m_lineHeight).toRect();
    }
    case Qt::ImCursorPosition: return m_cursor.column;
    case Qt::ImSurroundingText: return line(m_cursor.line);
    default: return QAbstractScrollArea::inputMethodQuery(query);
    }
}

} // namespace bilmeko
