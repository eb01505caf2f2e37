#pragma once
// The program's in-memory table: typed fields reached by name (letter case
// ignored), rows kept where they were placed, and one current row (the
// cursor) shared by everything bound to the table. Both the running
// sessions and the price list are such tables.

#include <QList>
#include <QObject>
#include <QString>
#include <QStringView>
#include <QVariant>
#include <vector>

namespace bilmeko {

enum class FieldKind {
    Text, // at most `size` characters; longer values are cut
    Money, // double
    Float, // double that may be empty (null)
    Time, // time of day, stored as milliseconds since midnight
    DateTime // a full date-time value, stored as it is
};

struct FieldDef
{
    QString name;
    FieldKind kind = FieldKind::Text;
    int size = 0; // maximum characters of a text field
};

class MemTable : public QObject
{
    Q_OBJECT
public:
    // A row's identity, stable while the row exists; 0 is "no row".
    using RowId = quint64;

    explicit MemTable(QList<FieldDef> fields, QObject *parent = nullptr);

    const QList<FieldDef> &fields() const { return m_fields; }
    // -1 when there is no such field.
    int fieldIndex(const QString &name) const;

    int rowCount() const { return static_cast<int>(m_ids.size()); }
    bool isEmpty() const { return m_ids.empty(); }

    // The current row, -1 when the table is empty.
    int currentRow() const { return m_current; }
    void setCurrentRow(int row);
    // Walking the table: first(), then next() until eof(). Past the last row
    // the cursor stays on the last row and eof() becomes true.
    void first();
    void next();
    bool eof() const { return m_eof; }

    // Values: text as QString, numbers and times as double (a time reads as a
    // day fraction in [0, 1)), an empty Float as a null QVariant.
    QVariant value(int row, int field) const;
    void setValue(int row, int field, const QVariant &v);
    // A text field's value, as setValue with that text.
    void setText(int row, int field, QStringView text);

    // The current row's fields by name. On an empty table a field reads as
    // empty (text "" or number 0). Unknown names throw.
    QVariant field(const QString &name) const;
    QString text(const QString &name) const;
    double number(const QString &name) const;
    bool isNull(const QString &name) const;
    void setField(const QString &name, const QVariant &v);

    // A new empty row in front of the current row (at the top of an empty
    // table); it becomes the current row. Returns its position.
    int insertRow();
    // A new empty row after the last row; it becomes the current row.
    int appendRow();
    // Deletes the current row. The following row becomes current, or the
    // preceding one if the last row was deleted (eof() is then true), or
    // none in an emptied table.
    void deleteRow();
    void deleteRowAt(int row);
    void clear();

    RowId rowId(int row) const;
    RowId currentId() const { return rowId(m_current); }
    // Position of a row by identity, -1 when it no longer exists.
    int rowOf(RowId id) const;
    // Makes a remembered row current again; if it is gone, the last row
    // becomes current, or none in an empty table.
    void restoreCurrent(RowId id);

    // Bytes the rows take in memory, slack of the arrays included.
    size_t storageBytes() const;

    // While held, no change reaches the views; resuming redraws them once.
    void holdUpdates();
    void resumeUpdates();
    bool updatesHeld() const { return m_hold > 0; }

signals:
    void rowInserted(int row);
    void rowRemoved(int row);
    void rowChanged(int row);
    // Everything may have changed (after held updates, clear()).
    void tableReset();
    // Values of existing rows changed while updates were held; no row came
    // or went. The rows from firstRow to lastRow hold every change; bit f
    // of fields is set when field f changed (all bits for fields past 63).
    void valuesChanged(int firstRow, int lastRow, quint64 fields);
    void currentChanged(int row);

private:
    // A cell is one 64-bit slot: a double's bits, a time's milliseconds, or
    // for text where its characters lie in m_text. A price list of
    // thousands of services is kept at about the size of its file.
    using Slot = quint64;
    int requireField(const QString &name) const;
    Slot stored(int field, const QVariant &v) const;
    Slot emptySlot(int field) const;
    QVariant read(int field, Slot s) const;
    Slot &cell(int row, int field) { return m_cells[static_cast<size_t>(row) * m_width + field]; }
    Slot cell(int row, int field) const { return m_cells[static_cast<size_t>(row) * m_width + field]; }
    Slot storeText(QStringView text);
    QString textOf(Slot s) const;
    static size_t textBytes(Slot s);
    bool sameText(Slot s, QStringView text) const;
    void noteChanged(int row, int field);
    void dropText(Slot s);
    void packText();
    void packTextIfMostlyGarbage();
    void insertCells(int at);
    void trimStorage();
    void noteCurrent();

    QList<FieldDef> m_fields;
    size_t m_width = 0; // fields a row
    // A row's identity, by position. Kept in 32 bits: four thousand
    // million rows made in one run is far beyond any table of the program.
    std::vector<quint32> m_ids;
    std::vector<Slot> m_cells; // m_width slots a row, row after row
    std::vector<char> m_text; // the texts' characters
    size_t m_textGarbage = 0; // bytes of m_text no cell uses any more
    int m_current = -1;
    bool m_eof = true;
    quint32 m_nextId = 1;
    int m_hold = 0;
    bool m_dirty = false; // something changed while held
    bool m_structural = false; // rows came or went while held
    int m_firstChanged = 0; // the rows and fields changed while held
    int m_lastChanged = -1;
    quint64 m_changedFields = 0;
};

} // namespace bilmeko
