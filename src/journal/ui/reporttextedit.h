#pragma once
// The report window's text area: plain text in lines, tab-separated pieces
// drawn at column stops fitted to the text, both scroll bars, no wrapping,
// and editable (the operator may correct or annotate a report before
// printing it). The first line (the column titles) stays at the top while
// the others scroll under it. Lines come from a source one at a time and
// only those in view are drawn, so a report of a million lines is shown at
// once; a line the operator edits is kept as its own text. A report is
// shown without a caret; it appears when the operator clicks or types in
// the text, and stops blinking a while after, so an open window that
// nobody touches draws nothing.

#include "reportlayout.h"

#include <QAbstractScrollArea>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace bilmeko {

class ReportTextEdit : public QAbstractScrollArea
{
    Q_OBJECT
public:
    struct Position
    {
        int line = 0;
        int column = 0; // in UTF-16 code units
        bool operator==(const Position &o) const { return line == o.line && column == o.column; }
        bool operator<(const Position &o) const { return line < o.line || (line == o.line && column < o.column); }
    };

    explicit ReportTextEdit(QWidget *parent = nullptr);
    ~ReportTextEdit() override;

    // Replaces the text ('\n' between lines), fits the column stops to it,
    // puts the caret at its start.
    void setPlainText(const QString &text);
    // Shows lines given one at a time; `fit` gives the column stops for the
    // widget's font without reading every line (none: all lines are read).
    using StopsFitter = std::function<QList<qreal>(ReportColumns &columns)>;
    void setLines(std::shared_ptr<const TextLines> lines, const StopsFitter &fit = {});
    QString toPlainText() const;
    void clear() { setPlainText(QString()); }

    int lineCount() const
    {
        return static_cast<int>(m_lines.empty() ? m_sourceLines : static_cast<qsizetype>(m_lines.size()));
    }
    QString line(int n) const;
    // The lines as they stand now, the operator's edits included (valid
    // while the widget and its text are).
    class Lines : public TextLines
    {
    public:
        explicit Lines(const ReportTextEdit &edit) : m_edit(edit) {}
        qsizetype lineCount() const override { return m_edit.lineCount(); }
        QString line(qsizetype n) const override { return m_edit.line(static_cast<int>(n)); }

    private:
        const ReportTextEdit &m_edit;
    };
    // The line drawn in a row of the view (row 0: always the first line).
    int lineAtRow(int row) const;
    // The text position under a point of the viewport.
    Position positionAt(const QPoint &viewportPoint) const;

    const QList<qreal> &tabStops() const { return m_stops; }
    // Where the pieces of a line start, left to right, as they are drawn
    // (from the left edge of the text).
    QList<qreal> pieceStarts(int line) const;

    Position cursorPosition() const { return m_cursor; }
    void setCursorPosition(Position p, bool keepAnchor = false);
    bool hasSelection() const { return !(m_anchor == m_cursor); }
    QString selectedText() const;
    void selectAll();
    // Types text at the caret as the keyboard does (replacing a selection).
    void insertText(const QString &text);

    QSize sizeHint() const override;
    // The widget's width that shows the widest line whole.
    int fullWidth() const;
    // Whether the caret is drawn now (it shows once the operator clicks or
    // types in the text, and blinks only for a while after that).
    bool caretShown() const { return m_caretOn && hasFocus(); }

protected:
    void paintEvent(QPaintEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    void changeEvent(QEvent *e) override;
    void inputMethodEvent(QInputMethodEvent *e) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    void setSource(std::shared_ptr<const TextLines> lines);
    void fitStops();
    int bodyRows() const;
    int firstBodyLine() const;
    int rowOf(int line) const;

    void metricsChanged();
    void updateScrollBars();
    void ensureCursorVisible();
    void restartBlink();
    void wakeCaret();
    QRectF caretRect() const;
    Position clampPosition(Position p) const;
    int columnAtX(int line, qreal x) const;
    qreal xAt(int line, int column) const;
    int visibleLines() const;
    qreal lineHeight() const { return m_lineHeight; }
    void setLine(int n, const QString &text);
    void ownLineMap();
    void removeRange(Position from, Position to);
    void moveCursor(Position p, bool keepAnchor);
    void copySelection() const;

    std::shared_ptr<const TextLines> m_source;
    StopsFitter m_fit;
    // Per line: its number in the source, or below 0 -(index in m_own) - 1.
    // Empty while the text is the source's lines as they are (a million
    // of them cost nothing to show); made at the first edit.
    std::vector<qint64> m_lines;
    qsizetype m_sourceLines = 1;
    std::vector<QString> m_own;
    std::unique_ptr<ReportColumns> m_columns;
    QList<qreal> m_stops;
    qreal m_contentWidth = 0;
    qreal m_lineHeight = 14;
    qreal m_ascent = 11;
    Position m_cursor;
    Position m_anchor;
    qreal m_wantedX = -1; // where up and down try to stay
    bool m_caretOn = false;
    bool m_caretWanted = false;
    int m_blinksLeft = 0;
    QTimer *m_blink;
    static constexpr int BlinkMs = 10'000;
    static constexpr int Margin = 4;
};

} // namespace bilmeko
