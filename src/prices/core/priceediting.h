#pragma once
// The editing rules of the price grid over the price table, as a data grid
// keeps them: cell edits go into the current row, Insert and Down start a
// new empty row, and a new row that is left without any change is dropped.
// The table is only shared with modal windows, so an edit is in the table
// as soon as its cell is committed; "posting" a row means forgetting that it
// is new.

#include "common/core/memtable.h"

#include <QString>
#include <QVariant>
#include <optional>
#include <utility>

namespace bilmeko {

class PriceEditing
{
public:
    explicit PriceEditing(MemTable &table);

    MemTable &table() const { return m_table; }

    // The row that Insert or Down started and that has not been left yet;
    // -1 when there is none.
    int newRow() const;

    // Insert: a new empty row in front of the current row. Nothing happens
    // while the current row is itself a new row without any change.
    void insertRow();
    // Down: the next row; on the last row (or in an empty table) a new empty
    // row after it, unless the last row is an unchanged new row.
    void down();
    void up();
    // Makes `row` (a position before the move) current. Leaving an
    // unchanged new row drops it.
    void moveTo(int row);
    // The grid loses the focus, the dialog closes or the list is saved: an
    // unchanged new row is dropped, a changed one is kept.
    void leave();
    // Deletes the current row (after the operator confirmed).
    void deleteCurrent();

    // Whether the rows differ from what they were when editing began.
    bool changed() const;

    // Cell edits of a row. The name is cut to 20 characters; the price text
    // is a number in the ',' form or empty, anything else throws
    // Error("'<text>' is not a valid floating point value for field 'PPrice'")
    // and changes nothing. A number that is not a valid price (pricetable.h)
    // throws a Russian message naming the service, and changes nothing.
    void setName(int row, const QString &text);
    void setPrice(int row, const QString &text);

    // An empty price (nullopt inside) or a number; nullopt when the text is
    // neither.
    static std::optional<std::optional<double>> parsePrice(const QString &text);
    // The price cell's text in the grid: the currency format, empty if empty.
    static QString priceDisplayText(const QVariant &stored);
    // The price cell's text while edited: fixed point with the currency
    // decimals, ',' as separator, no grouping ("2,50"), empty if empty.
    static QString priceEditText(const QVariant &stored);
    // Whether the name cell accepts the text: at most 20 characters of the
    // file's code page, no '=', not beginning with '[' or ';' (such a name
    // could not be read back from the settings file).
    static bool acceptableName(const QString &text);

private:
    bool unchanged(int row) const;
    // Drops the new row if it is unchanged; returns the position it had, or
    // -1 if nothing was dropped.
    int dropUnchangedNew();
    void removeRow(int row);

    using Rows = QList<std::pair<QString, QVariant>>;
    Rows rows() const;

    MemTable &m_table;
    int m_item;
    int m_price;
    MemTable::RowId m_new = 0;
    Rows m_start;
};

} // namespace bilmeko
