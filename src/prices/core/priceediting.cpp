#include "priceediting.h"

#include "common/core/codepage.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "pricelist.h"
#include "pricetable.h"

namespace bilmeko {

PriceEditing::PriceEditing(MemTable &table)
    : m_table(table),
      m_item(table.fieldIndex(QStringLiteral("PItem"))),
      m_price(table.fieldIndex(QStringLiteral("PPrice")))
{
    m_start = rows();
}

PriceEditing::Rows PriceEditing::rows() const
{
    Rows out;
    for (int r = 0; r < m_table.rowCount(); ++r)
        out.append({m_table.value(r, m_item).toString(), m_table.value(r, m_price)});
    return out;
}

bool PriceEditing::changed() const
{
    const Rows now = rows();
    if (now.size() != m_start.size())
        return true;
    for (qsizetype i = 0; i < now.size(); ++i) {
        const auto &[name, price] = now[i];
        const auto &[name0, price0] = m_start[i];
        if (name != name0 || price.isNull() != price0.isNull()
            || (!price.isNull() && price.toDouble() != price0.toDouble()))
            return true;
    }
    return false;
}

int PriceEditing::newRow() const
{
    return m_table.rowOf(m_new);
}

bool PriceEditing::unchanged(int row) const
{
    return m_table.value(row, m_item).toString().isEmpty() && m_table.value(row, m_price).isNull();
}

int PriceEditing::dropUnchangedNew()
{
    const int row = newRow();
    m_new = 0;
    if (row < 0 || !unchanged(row))
        return -1;
    removeRow(row);
    return row;
}

void PriceEditing::removeRow(int row)
{
    // A bound view picks its own new current row while the row goes (the
    // one after it, counted before the removal); the table's rule is set
    // again afterwards: the following row, or the preceding one at the end.
    const MemTable::RowId other = m_table.currentRow() == row ? 0 : m_table.currentId();
    m_table.deleteRowAt(row);
    if (m_table.isEmpty())
        return;
    if (other != 0)
        m_table.restoreCurrent(other);
    else
        m_table.setCurrentRow(std::min(row, m_table.rowCount() - 1));
}

void PriceEditing::insertRow()
{
    const int current = m_table.currentRow();
    if (current >= 0 && current == newRow() && unchanged(current))
        return;
    m_new = 0;
    m_table.insertRow();
    m_new = m_table.currentId();
}

void PriceEditing::down()
{
    const int current = m_table.currentRow();
    if (current + 1 < m_table.rowCount()) {
        moveTo(current + 1);
        return;
    }
    if (current >= 0 && current == newRow() && unchanged(current))
        return;
    m_new = 0;
    m_table.appendRow();
    m_new = m_table.currentId();
}

void PriceEditing::up()
{
    const int current = m_table.currentRow();
    if (current > 0)
        moveTo(current - 1);
}

void PriceEditing::moveTo(int row)
{
    const int current = m_table.currentRow();
    if (row == current || row < 0 || row >= m_table.rowCount())
        return;
    if (current >= 0 && current == newRow()) {
        const int dropped = dropUnchangedNew();
        if (dropped >= 0 && row > dropped)
            --row;
    }
    m_table.setCurrentRow(row);
}

void PriceEditing::leave()
{
    dropUnchangedNew();
}

void PriceEditing::deleteCurrent()
{
    if (m_table.currentRow() < 0)
        return;
    if (m_table.currentId() == m_new)
        m_new = 0;
    removeRow(m_table.currentRow());
}

void PriceEditing::setName(int row, const QString &text)
{
    m_table.setValue(row, m_item, cp1251::cut(text, PriceItemMax));
}

void PriceEditing::setPrice(int row, const QString &text)
{
    const auto price = parsePrice(text);
    if (!price)
        throw Error(QStringLiteral("'%1' is not a valid floating point value for field 'PPrice'").arg(text));
    if (*price && !isValidPrice(**price)) {
        const QString name = m_table.value(row, m_item).toString().trimmed();
        throw Error(QStringLiteral("Цена «%1» у услуги %2 не подходит: цена за минуту должна быть "
                                   "от 0 до %3.")
                        .arg(text.trimmed(),
                             name.isEmpty() ? QStringLiteral("без названия") : QStringLiteral("«%1»").arg(name),
                             Formats::generalNumber(MaxPricePerMinute)));
    }
    m_table.setValue(row, m_price, *price ? QVariant(**price) : QVariant());
}

std::optional<std::optional<double>> PriceEditing::parsePrice(const QString &text)
{
    if (text.trimmed().isEmpty())
        return std::optional<double>();
    const std::optional<double> v = Formats::parseFloat(text);
    if (!v)
        return std::nullopt;
    return v;
}

QString PriceEditing::priceDisplayText(const QVariant &stored)
{
    return stored.isNull() ? QString() : Formats::current().currency(stored.toDouble());
}

QString PriceEditing::priceEditText(const QVariant &stored)
{
    if (stored.isNull())
        return {};
    QString s = Formats::fixedHalfUp(stored.toDouble(), Formats::current().currencyDecimals());
    s.replace(QLatin1Char('.'), QLatin1Char(','));
    return s;
}

bool PriceEditing::acceptableName(const QString &text)
{
    if (text.size() > PriceItemMax || !cp1251::canEncode(text))
        return false;
    // Blanks alone are fine while typing; the rules are about what follows.
    const QString key = profile::trimBlanks(text);
    return key.isEmpty() || isStorableName(key);
}

} // namespace bilmeko
