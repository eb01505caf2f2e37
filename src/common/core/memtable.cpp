#include "memtable.h"

#include "datetime.h"
#include "errors.h"

#include <algorithm>

namespace bilmeko {

MemTable::MemTable(QList<FieldDef> fields, QObject *parent)
    : QObject(parent), m_fields(std::move(fields))
{
}

int MemTable::fieldIndex(const QString &name) const
{
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int MemTable::requireField(const QString &name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw Error(QStringLiteral("Field '%1' not found").arg(name));
    return i;
}

void MemTable::noteCurrent()
{
    if (m_hold > 0)
        m_dirty = true;
    else
        emit currentChanged(m_current);
}

void MemTable::setCurrentRow(int row)
{
    if (m_rows.empty())
        row = -1;
    else
        row = std::clamp(row, 0, rowCount() - 1);
    m_eof = m_rows.empty();
    if (row == m_current)
        return;
    m_current = row;
    noteCurrent();
}

void MemTable::first()
{
    setCurrentRow(0);
    m_eof = m_rows.empty();
}

void MemTable::next()
{
    if (m_current + 1 < rowCount()) {
        setCurrentRow(m_current + 1);
        m_eof = false;
    } else {
        m_eof = true;
    }
}

QVariant MemTable::emptyValue(int field) const
{
    switch (m_fields[field].kind) {
    case FieldKind::Text: return QString();
    case FieldKind::Float: return QVariant();
    case FieldKind::Time: return QVariant::fromValue<qint32>(0);
    default: return 0.0;
    }
}

QVariant MemTable::stored(int field, const QVariant &v) const
{
    const FieldDef &f = m_fields[field];
    switch (f.kind) {
    case FieldKind::Text:
        return v.toString().left(f.size);
    case FieldKind::Money:
        return v.isNull() ? 0.0 : v.toDouble();
    case FieldKind::Float:
        return v.isNull() ? QVariant() : QVariant(v.toDouble());
    case FieldKind::Time:
        return QVariant::fromValue<qint32>(timeOfDayMs(v.toDouble()));
    case FieldKind::DateTime:
        return v.toDouble();
    }
    return v;
}

QVariant MemTable::value(int row, int field) const
{
    if (row < 0 || row >= rowCount() || field < 0 || field >= m_fields.size()) {
        if (field >= 0 && field < m_fields.size()) {
            const QVariant e = emptyValue(field);
            return m_fields[field].kind == FieldKind::Time ? QVariant(0.0) : e;
        }
        return {};
    }
    const QVariant &v = m_rows[row].values[field];
    if (m_fields[field].kind == FieldKind::Time)
        return msToTimeValue(v.value<qint32>());
    return v;
}

void MemTable::setValue(int row, int field, const QVariant &v)
{
    if (row < 0 || row >= rowCount())
        throw Error(QStringLiteral("No current record"));
    QVariant &cell = m_rows[row].values[field];
    if (m_hold == 0) {
        cell = stored(field, v);
        emit rowChanged(row);
        return;
    }
    QVariant value = stored(field, v);
    // While held, only a real change is redrawn: most ticks leave the
    // amounts as they were.
    if (value == cell && value.typeId() == cell.typeId())
        return;
    cell = std::move(value);
    if (!m_dirty || m_lastChanged < 0) {
        m_firstChanged = m_lastChanged = row;
    } else {
        m_firstChanged = std::min(m_firstChanged, row);
        m_lastChanged = std::max(m_lastChanged, row);
    }
    m_changedFields |= field < 64 ? quint64(1) << field : ~quint64(0);
    m_dirty = true;
}

QVariant MemTable::field(const QString &name) const
{
    return value(m_current, requireField(name));
}

QString MemTable::text(const QString &name) const
{
    const QVariant v = field(name);
    if (v.isNull())
        return QString();
    if (v.typeId() == QMetaType::Double)
        return QString::number(v.toDouble(), 'g', 15);
    return v.toString();
}

double MemTable::number(const QString &name) const
{
    const QVariant v = field(name);
    return v.isNull() ? 0.0 : v.toDouble();
}

bool MemTable::isNull(const QString &name) const
{
    return field(name).isNull();
}

void MemTable::setField(const QString &name, const QVariant &v)
{
    setValue(m_current, requireField(name), v);
}

int MemTable::insertRow()
{
    const int at = m_current < 0 ? 0 : m_current;
    Row r{m_nextId++, {}};
    for (int i = 0; i < m_fields.size(); ++i)
        r.values.push_back(emptyValue(i));
    m_rows.insert(m_rows.begin() + at, std::move(r));
    m_current = at;
    m_eof = false;
    if (m_hold > 0) {
        m_dirty = m_structural = true;
    } else {
        emit rowInserted(at);
        emit currentChanged(at);
    }
    return at;
}

int MemTable::appendRow()
{
    m_current = rowCount() - 1;
    if (m_current >= 0) {
        // insert in front of a position past the end
        m_current = rowCount();
        Row r{m_nextId++, {}};
        r.values.reserve(static_cast<size_t>(m_fields.size()));
        for (int i = 0; i < m_fields.size(); ++i)
            r.values.push_back(emptyValue(i));
        m_rows.push_back(std::move(r));
        m_eof = false;
        if (m_hold > 0) {
            m_dirty = m_structural = true;
        } else {
            emit rowInserted(m_current);
            emit currentChanged(m_current);
        }
        return m_current;
    }
    return insertRow();
}

void MemTable::deleteRowAt(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    const bool wasLast = row == rowCount() - 1;
    m_rows.erase(m_rows.begin() + row);
    if (m_current > row || (m_current == row && wasLast))
        --m_current;
    if (m_rows.empty())
        m_current = -1;
    if (m_rows.empty())
        m_eof = true;
    if (m_hold > 0) {
        m_dirty = m_structural = true;
    } else {
        emit rowRemoved(row);
        emit currentChanged(m_current);
    }
}

void MemTable::deleteRow()
{
    if (m_current < 0)
        return;
    const bool wasLast = m_current == rowCount() - 1;
    deleteRowAt(m_current);
    m_eof = wasLast || m_rows.empty();
}

void MemTable::clear()
{
    m_rows.clear();
    m_current = -1;
    m_eof = true;
    if (m_hold > 0) {
        m_dirty = m_structural = true;
    } else {
        emit tableReset();
        emit currentChanged(-1);
    }
}

MemTable::RowId MemTable::rowId(int row) const
{
    if (row < 0 || row >= rowCount())
        return 0;
    return m_rows[row].id;
}

int MemTable::rowOf(RowId id) const
{
    if (id == 0)
        return -1;
    for (int i = 0; i < rowCount(); ++i)
        if (m_rows[i].id == id)
            return i;
    return -1;
}

void MemTable::restoreCurrent(RowId id)
{
    const int row = rowOf(id);
    setCurrentRow(row >= 0 ? row : rowCount() - 1);
}

void MemTable::holdUpdates()
{
    ++m_hold;
}

void MemTable::resumeUpdates()
{
    if (m_hold == 0)
        return;
    if (--m_hold == 0 && m_dirty) {
        const bool structural = m_structural;
        const int first = m_firstChanged;
        const int last = m_lastChanged;
        const quint64 fields = m_changedFields;
        m_dirty = m_structural = false;
        m_firstChanged = 0;
        m_lastChanged = -1;
        m_changedFields = 0;
        if (structural)
            emit tableReset();
        else if (last >= 0)
            emit valuesChanged(first, last, fields);
        emit currentChanged(m_current);
    }
}

} // namespace bilmeko
