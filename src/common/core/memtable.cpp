#include "memtable.h"

#include "datetime.h"
#include "errors.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace bilmeko {

MemTable::MemTable(QList<FieldDef> fields, QObject *parent)
    : QObject(parent), m_fields(std::move(fields)), m_width(static_cast<size_t>(m_fields.size()))
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
    if (m_ids.empty())
        row = -1;
    else
        row = std::clamp(row, 0, rowCount() - 1);
    m_eof = m_ids.empty();
    if (row == m_current)
        return;
    m_current = row;
    noteCurrent();
}

void MemTable::first()
{
    setCurrentRow(0);
    m_eof = m_ids.empty();
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

namespace {

// A text slot: its first byte in m_text (bits 0-31), its length in
// characters (bits 32-55) and how the characters are kept (bit 56). Most
// names are Russian or Latin: such a text keeps a byte a character, ASCII
// as itself and U+0400..U+047F as 0x80..0xFF; any other text keeps its
// UTF-16 units.
constexpr quint64 WideText = quint64(1) << 56;
constexpr quint64 MaxTextLength = (quint64(1) << 24) - 1;

quint32 textOffset(quint64 s)
{
    return static_cast<quint32>(s);
}
size_t textLength(quint64 s)
{
    return static_cast<size_t>((s >> 32) & MaxTextLength);
}

bool isNarrow(char16_t c)
{
    return c < 0x80 || (c >= 0x400 && c < 0x480);
}
char narrow(char16_t c)
{
    return static_cast<char>(c < 0x80 ? c : c - 0x400 + 0x80);
}
char16_t widen(char b)
{
    const auto u = static_cast<unsigned char>(b);
    return u < 0x80 ? u : static_cast<char16_t>(u - 0x80 + 0x400);
}

// An empty Float: a NaN no arithmetic makes (signalling, payload 1). A NaN
// stored as a value is kept as the quiet one, so it never reads as empty.
constexpr quint64 NullFloat = 0x7FF0'0000'0000'0001ull;
constexpr quint64 QuietNaN = 0x7FF8'0000'0000'0000ull;

quint64 bitsOf(double d)
{
    return d != d ? QuietNaN : std::bit_cast<quint64>(d);
}

} // namespace

size_t MemTable::textBytes(Slot s)
{
    return textLength(s) * (s & WideText ? 2 : 1);
}

MemTable::Slot MemTable::storeText(QStringView text)
{
    const size_t n = std::min<size_t>(static_cast<size_t>(text.size()), MaxTextLength);
    if (n == 0)
        return 0;
    const char16_t *c = text.utf16();
    const bool wide = !std::all_of(c, c + n, isNarrow);
    const size_t at = m_text.size();
    if (at + n * 2 > std::numeric_limits<quint32>::max())
        throw Error(QStringLiteral("Out of memory"));
    if (wide) {
        m_text.resize(at + n * 2);
        std::memcpy(m_text.data() + at, c, n * 2);
    } else {
        m_text.resize(at + n);
        std::transform(c, c + n, m_text.data() + at, narrow);
    }
    return static_cast<quint64>(at) | (static_cast<quint64>(n) << 32) | (wide ? WideText : 0);
}

QString MemTable::textOf(Slot s) const
{
    const size_t n = textLength(s);
    if (n == 0)
        return QString();
    const char *p = m_text.data() + textOffset(s);
    if (s & WideText)
        return QString(reinterpret_cast<const QChar *>(p), static_cast<qsizetype>(n));
    QString out(static_cast<qsizetype>(n), Qt::Uninitialized);
    std::transform(p, p + n, reinterpret_cast<char16_t *>(out.data()), widen);
    return out;
}

bool MemTable::sameText(Slot s, QStringView text) const
{
    const size_t n = textLength(s);
    if (static_cast<size_t>(text.size()) != n)
        return false;
    const char *p = m_text.data() + textOffset(s);
    const char16_t *c = text.utf16();
    if (s & WideText)
        return std::memcmp(p, c, n * 2) == 0;
    return std::equal(c, c + n, p, [](char16_t a, char b) { return a == widen(b); });
}

void MemTable::dropText(Slot s)
{
    m_textGarbage += textBytes(s);
    packTextIfMostlyGarbage();
}

// Edits and deletions leave old texts behind; once they are most of the
// store, the live ones are packed together again.
void MemTable::packTextIfMostlyGarbage()
{
    if (m_textGarbage > 4096 && m_textGarbage * 2 > m_text.size())
        packText();
}

void MemTable::packText()
{
    std::vector<char> packed;
    packed.reserve(m_text.size() - m_textGarbage);
    for (int f = 0; f < m_fields.size(); ++f) {
        if (m_fields[f].kind != FieldKind::Text)
            continue;
        for (int row = 0; row < rowCount(); ++row) {
            Slot &s = cell(row, f);
            const size_t bytes = textBytes(s);
            if (bytes == 0)
                continue;
            const size_t at = packed.size();
            packed.insert(packed.end(), m_text.begin() + textOffset(s), m_text.begin() + textOffset(s) + bytes);
            s = (s & ~quint64(0xFFFF'FFFFu)) | at;
        }
    }
    m_text = std::move(packed);
    m_textGarbage = 0;
}

MemTable::Slot MemTable::emptySlot(int field) const
{
    switch (m_fields[field].kind) {
    case FieldKind::Text:
    case FieldKind::Time: return 0;
    case FieldKind::Float: return NullFloat;
    default: return bitsOf(0.0);
    }
}

// A number's slot; texts go through setText.
MemTable::Slot MemTable::stored(int field, const QVariant &v) const
{
    switch (m_fields[field].kind) {
    case FieldKind::Text: return 0;
    case FieldKind::Money: return bitsOf(v.isNull() ? 0.0 : v.toDouble());
    case FieldKind::Float: return v.isNull() ? NullFloat : bitsOf(v.toDouble());
    case FieldKind::Time: return static_cast<quint32>(timeOfDayMs(v.toDouble()));
    case FieldKind::DateTime: return bitsOf(v.toDouble());
    }
    return 0;
}

QVariant MemTable::read(int field, Slot s) const
{
    switch (m_fields[field].kind) {
    case FieldKind::Text: return textOf(s);
    case FieldKind::Float:
        if (s == NullFloat)
            return QVariant();
        [[fallthrough]];
    case FieldKind::Money:
    case FieldKind::DateTime: return std::bit_cast<double>(s);
    case FieldKind::Time: return msToTimeValue(static_cast<qint32>(static_cast<quint32>(s)));
    }
    return {};
}

QVariant MemTable::value(int row, int field) const
{
    if (field < 0 || field >= m_fields.size())
        return {};
    if (row < 0 || row >= rowCount())
        return read(field, emptySlot(field));
    return read(field, cell(row, field));
}

void MemTable::setValue(int row, int field, const QVariant &v)
{
    if (row < 0 || row >= rowCount())
        throw Error(QStringLiteral("No current record"));
    if (m_fields[field].kind == FieldKind::Text) {
        setText(row, field, v.toString());
        return;
    }
    const Slot s = stored(field, v);
    // While held, only a real change is redrawn: most ticks leave the
    // amounts as they were.
    if (m_hold > 0 && s == cell(row, field))
        return;
    cell(row, field) = s;
    noteChanged(row, field);
}

void MemTable::setText(int row, int field, QStringView text)
{
    if (row < 0 || row >= rowCount())
        throw Error(QStringLiteral("No current record"));
    text = text.left(m_fields[field].size);
    if (m_hold > 0 && sameText(cell(row, field), text))
        return;
    const Slot old = cell(row, field);
    cell(row, field) = storeText(text);
    dropText(old);
    noteChanged(row, field);
}

void MemTable::noteChanged(int row, int field)
{
    if (m_hold == 0) {
        emit rowChanged(row);
        return;
    }
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
    insertCells(at);
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
        insertCells(m_current);
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
    for (int f = 0; f < m_fields.size(); ++f)
        if (m_fields[f].kind == FieldKind::Text)
            m_textGarbage += textBytes(cell(row, f));
    const auto first = m_cells.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(row) * m_width);
    m_cells.erase(first, first + static_cast<std::ptrdiff_t>(m_width));
    m_ids.erase(m_ids.begin() + row);
    if (m_ids.empty()) {
        m_text.clear();
        m_textGarbage = 0;
    } else {
        packTextIfMostlyGarbage();
    }
    if (m_current > row || (m_current == row && wasLast))
        --m_current;
    if (m_ids.empty())
        m_current = -1;
    if (m_ids.empty())
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
    m_eof = wasLast || m_ids.empty();
}

void MemTable::clear()
{
    m_ids.clear();
    m_cells.clear();
    m_text.clear();
    m_textGarbage = 0;
    trimStorage();
    m_current = -1;
    m_eof = true;
    if (m_hold > 0) {
        m_dirty = m_structural = true;
    } else {
        emit tableReset();
        emit currentChanged(-1);
    }
}

void MemTable::insertCells(int at)
{
    if (m_nextId == std::numeric_limits<quint32>::max())
        throw Error(QStringLiteral("Too many rows")); // an identity is never given twice
    m_ids.insert(m_ids.begin() + at, m_nextId);
    try {
        const auto first = m_cells.insert(
            m_cells.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(at) * m_width), m_width, Slot(0));
        for (int f = 0; f < m_fields.size(); ++f)
            first[f] = emptySlot(f);
    } catch (...) {
        m_ids.erase(m_ids.begin() + at);
        throw;
    }
    ++m_nextId;
}

// After rows came or went in bulk (a price list loaded, a table emptied) the
// arrays give back what they no longer need.
void MemTable::trimStorage()
{
    const auto trim = [](auto &v) {
        if (v.capacity() > v.size() + v.size() / 4 + 512)
            v.shrink_to_fit();
    };
    trim(m_ids);
    trim(m_cells);
    trim(m_text);
}

size_t MemTable::storageBytes() const
{
    return m_ids.capacity() * sizeof(quint32) + m_cells.capacity() * sizeof(Slot) + m_text.capacity();
}

MemTable::RowId MemTable::rowId(int row) const
{
    if (row < 0 || row >= rowCount())
        return 0;
    return m_ids[static_cast<size_t>(row)];
}

int MemTable::rowOf(RowId id) const
{
    if (id == 0)
        return -1;
    if (id > std::numeric_limits<quint32>::max())
        return -1;
    const auto it = std::find(m_ids.begin(), m_ids.end(), static_cast<quint32>(id));
    return it == m_ids.end() ? -1 : static_cast<int>(it - m_ids.begin());
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
        if (structural)
            trimStorage();
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
