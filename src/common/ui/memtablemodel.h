#pragma once
// Shows a MemTable in a grid: one column per ColumnDef, the table's current
// row followed by the view and the view's clicks moving the table's cursor.

#include "common/core/memtable.h"

#include <QAbstractTableModel>
#include <functional>

class QAbstractItemView;

namespace bilmeko {

struct ColumnDef
{
    QString field;
    QString title;
    int width = -1; // pixels; -1 leaves the view's default
    // Display text of a stored value; empty uses QVariant::toString().
    std::function<QString(const QVariant &)> display;
    bool editable = false;
};

class MemTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    MemTableModel(MemTable *table, QList<ColumnDef> columns, QObject *parent = nullptr);

    MemTable *table() const { return m_table; }
    const QList<ColumnDef> &columns() const { return m_columns; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

    // True while the views are being told of inserted, removed or reset
    // rows; their current index then moves by their own rules.
    bool changingRows() const { return m_changing; }

    // What a cell shows when its view draws something else than the
    // value's text (a mark before a name, a word in place of a time): the
    // text assistive tools read is then the one on the screen.
    using ShownText = std::function<QString(const QModelIndex &index, const QString &text)>;
    void setShownText(ShownText shown) { m_shown = std::move(shown); }

    // Applies the column widths to a view showing this model.
    void applyWidths(QAbstractItemView *view) const;

private:
    MemTable *m_table;
    QList<ColumnDef> m_columns;
    QList<int> m_fieldOf;
    ShownText m_shown;
    int m_rows = 0; // the row count the views were last told
    bool m_changing = false;
};

// Keeps a view's current row and the table's cursor together, both ways.
void followCursor(QAbstractItemView *view, MemTable *table);

} // namespace bilmeko
