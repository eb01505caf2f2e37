#include "pricelist.h"

#include "common/core/errors.h"
#include "common/core/formats.h"
#include "common/core/memtable.h"

#include <QHash>
#include <optional>
#include <vector>

namespace bilmeko {

namespace {

QString folded(const QString &name)
{
    return name.toCaseFolded();
}

} // namespace

QStringList loadPriceList(const ProfileFile &ini, QStringList &carrier, MemTable &prices)
{
    if (carrier.isEmpty())
        carrier << CarrierTitle;

    // Every key's value is the value of its first line (letter case ignored).
    const QList<profile::Entry> lines = ini.readSection(PriceSection);
    QHash<QString, QString> firstValue;
    for (const profile::Entry &e : lines) {
        const QString k = folded(e.key);
        if (!firstValue.contains(k))
            firstValue.insert(k, e.value);
    }

    // The carrier: a line per name, replaced in place by a later key of the
    // same name. Lines without '=' have no name.
    QHash<QString, qsizetype> carrierLine;
    for (qsizetype i = 0; i < carrier.size(); ++i) {
        const qsizetype eq = carrier[i].indexOf(QLatin1Char('='));
        if (eq >= 0) {
            const QString k = folded(carrier[i].left(eq));
            if (!carrierLine.contains(k))
                carrierLine.insert(k, i);
        }
    }
    for (const profile::Entry &e : lines) {
        const QString k = folded(e.key);
        const QString value = firstValue.value(k);
        if (value.isEmpty())
            continue;
        const QString line = e.key + QLatin1Char('=') + value;
        const auto at = carrierLine.constFind(k);
        if (at != carrierLine.cend()) {
            carrier[*at] = line;
        } else {
            carrierLine.insert(k, carrier.size());
            carrier << line;
        }
    }

    // The rows, each in front of the one before.
    QStringList messages;
    struct Row
    {
        QString name;
        double price;
    };
    std::vector<Row> rows;
    for (qsizetype i = 1; i < carrier.size(); ++i) {
        const qsizetype eq = carrier[i].indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString text = carrier[i].mid(eq + 1);
        const std::optional<double> price = Formats::parseFloat(text);
        if (!price) {
            // A service without a valid price would be sold for nothing.
            if (messages.size() < MaxLoadMessages)
                messages << Error::invalidFloat(text).message();
            continue;
        }
        rows.push_back({carrier[i].left(eq), *price});
    }

    const int item = prices.fieldIndex(QStringLiteral("PItem"));
    const int price = prices.fieldIndex(QStringLiteral("PPrice"));
    prices.holdUpdates();
    if (prices.isEmpty()) {
        // Appending in reverse gives the same rows as inserting each at the
        // top, without moving every row each time.
        for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
            const int at = prices.appendRow();
            prices.setValue(at, item, r->name);
            prices.setValue(at, price, r->price);
        }
        if (!rows.empty())
            prices.setCurrentRow(0);
    } else {
        for (const Row &r : rows) {
            const int at = prices.insertRow();
            prices.setValue(at, item, r.name);
            prices.setValue(at, price, r.price);
        }
    }
    prices.resumeUpdates();
    return messages;
}

bool isStorableName(const QString &name)
{
    const QString key = profile::trimBlanks(name);
    return !key.isEmpty() && !key.contains(QLatin1Char('=')) && !key.startsWith(QLatin1Char('['))
        && !key.startsWith(QLatin1Char(';'));
}

QList<profile::Entry> priceEntries(const MemTable &prices)
{
    const int item = prices.fieldIndex(QStringLiteral("PItem"));
    const int price = prices.fieldIndex(QStringLiteral("PPrice"));
    QList<profile::Entry> out;
    QHash<QString, qsizetype> at;
    for (int row = 0; row < prices.rowCount(); ++row) {
        const QString name = prices.value(row, item).toString();
        if (!isStorableName(name))
            continue;
        const QString key = profile::trimBlanks(name);
        const QVariant p = prices.value(row, price);
        const QString value = p.isNull() ? QString() : Formats::generalNumber(p.toDouble());
        const QString k = folded(key);
        const auto found = at.constFind(k);
        if (found != at.cend()) {
            out[*found].value = value;
        } else {
            at.insert(k, out.size());
            out.append({key, value});
        }
    }
    return out;
}

void savePriceList(const ProfileFile &ini, const MemTable &prices)
{
    ini.replaceSection(PriceSection, priceEntries(prices));
}

} // namespace bilmeko
