#include "memtablemodel.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <algorithm>
#include <memory>

namespace bilmeko {

MemTableModel::MemTableModel(MemTable *table, QList<ColumnDef> columns, QObject *parent)
    : QAbstractTableModel(parent), m_table(table), m_columns(std::move(columns))
{
    for (const ColumnDef &c : m_columns)
        m_fieldOf << table->fieldIndex(c.field);
    m_rows = table->rowCount();

    connect(table, &MemTable::rowInserted, this, [this](int row) {
        m_changing = true;
        beginInsertRows({}, row, row);
        m_rows = m_table->rowCount();
        endInsertRows();
        m_changing = false;
    });
    connect(table, &MemTable::rowRemoved, this, [this](int row) {
        m_changing = true;
        beginRemoveRows({}, row, row);
        m_rows = m_table->rowCount();
        endRemoveRows();
        m_changing = false;
    });
    connect(table, &MemTable::rowChanged, this,
            [this](int row) { emit dataChanged(index(row, 0), index(row, columnCount() - 1)); });
    // One range per run of adjacent changed columns: a view redraws the
    // cells of those columns alone (a tick changes two of eight).
    connect(table, &MemTable::valuesChanged, this, [this](int first, int last, quint64 fields) {
        last = std::min(last, m_rows - 1);
        if (first > last)
            return;
        const auto changed = [&](int column) {
            const int f = m_fieldOf[column];
            return f >= 64 || (fields >> f) & 1;
        };
        for (int c = 0, n = columnCount(); c < n; ++c) {
            if (!changed(c))
                continue;
            const int from = c;
            while (c + 1 < n && changed(c + 1))
                ++c;
            emit dataChanged(index(first, from), index(last, c));
        }
    });
    connect(table, &MemTable::tableReset, this, [this] {
        m_changing = true;
        beginResetModel();
        m_rows = m_table->rowCount();
        endResetModel();
        m_changing = false;
    });
}

int MemTableModel::rowCount(const QModelIndex &parent) const
{
    // While the table holds its updates the views keep the count they were
    // told; rows beyond the table's end read as empty.
    return parent.isValid() ? 0 : m_rows;
}

int MemTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant MemTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_table->rowCount())
        return {};
    const ColumnDef &c = m_columns[index.column()];
    const QVariant v = m_table->value(index.row(), m_fieldOf[index.column()]);
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
        const QString text = c.display ? c.display(v) : v.toString();
        return role == Qt::AccessibleTextRole && m_shown ? m_shown(index, text) : text;
    }
    if (role == Qt::EditRole)
        return v;
    return {};
}

QVariant MemTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_columns.size() ? m_columns[section].title : QVariant();
    return QString();
}

Qt::ItemFlags MemTableModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && m_columns[index.column()].editable)
        f |= Qt::ItemIsEditable;
    return f;
}

bool MemTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= m_table->rowCount())
        return false;
    m_table->setValue(index.row(), m_fieldOf[index.column()], value);
    return true;
}

void MemTableModel::applyWidths(QAbstractItemView *view) const
{
    auto *table = qobject_cast<QTableView *>(view);
    if (!table)
        return;
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].width > 0)
            table->setColumnWidth(i, m_columns[i].width);
}

void followCursor(QAbstractItemView *view, MemTable *table)
{
    auto sync = [view](int row) {
        QAbstractItemModel *m = view->model();
        if (!m)
            return;
        const int col = std::max(0, view->currentIndex().column());
        if (row < 0 || row >= m->rowCount()) {
            view->selectionModel()->clearCurrentIndex();
            view->selectionModel()->clearSelection();
            return;
        }
        const QModelIndex idx = m->index(row, col);
        if (view->currentIndex() != idx)
            view->selectionModel()->setCurrentIndex(idx,
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    };
    // While the view takes in a change of rows, its current index moves by
    // its own rules (and may name a row counted before the change); the
    // table's cursor is the truth then, and the view follows it afterwards.
    auto *tableModel = qobject_cast<MemTableModel *>(view->model());
    QAbstractItemModel *model = view->model();
    auto resync = [sync, table] { sync(table->currentRow()); };
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, view, resync);
    QObject::connect(model, &QAbstractItemModel::rowsInserted, view, resync);
    QObject::connect(model, &QAbstractItemModel::modelReset, view, resync);
    QObject::connect(table, &MemTable::currentChanged, view, sync);
    QObject::connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, table,
                     [table, tableModel](const QModelIndex &current) {
                         if (tableModel && tableModel->changingRows())
                             return;
                         if (current.isValid() && current.row() != table->currentRow()
                             && current.row() < table->rowCount())
                             table->setCurrentRow(current.row());
                     });
    sync(table->currentRow());
}

} // namespace bilmeko
