#include "pricelist.h"

#include "common/core/codepage.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "common/core/memtable.h"
#include "pricetable.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <optional>
#include <vector>

namespace bilmeko {

namespace {

QString folded(const QString &name)
{
    return name.toCaseFolded();
}

// A name or value as a message quotes it: one line, not too long.
QString quoted(const QString &text)
{
    constexpr int Max = 40;
    QString t = text;
    for (QChar &c : t)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    if (t.size() > Max)
        t = t.left(Max - 1) + QChar(0x2026);
    return t;
}

QString badPricesMessage(const QString &path, const QStringList &lines, qsizetype total)
{
    QString m = QStringLiteral("В файле «%1» неверные цены (нужно число от 0 до %2, дробная часть "
                               "через запятую) у услуг:\n")
                    .arg(path, Formats::generalNumber(MaxPricePerMinute));
    m += lines.join(QLatin1Char('\n'));
    if (total > lines.size())
        m += QStringLiteral("\n… и ещё %1").arg(total - lines.size());
    m += QStringLiteral("\nЭти услуги не загружены. При сохранении цен их строки останутся в файле "
                        "как комментарии.");
    return m;
}

} // namespace

QByteArray badPriceComment()
{
    return cp1251::encode(QStringLiteral("; неверная цена: "));
}

std::optional<double> priceOfText(const QString &text)
{
    const std::optional<double> v = Formats::parseFloat(text);
    if (!v || !isValidPrice(*v))
        return std::nullopt;
    return v;
}

QStringList loadPriceList(const ProfileFile &ini, QStringList &carrier, MemTable &prices)
{
    if (carrier.isEmpty())
        carrier << CarrierTitle;

    // Every key's value is the value of its first line (letter case ignored).
    bool fromUtf8 = false;
    const QList<profile::Entry> lines = ini.text(&fromUtf8).entries(PriceSection);
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
    QStringList bad;
    qsizetype badCount = 0;
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
        const std::optional<double> price = priceOfText(text);
        if (!price) {
            // A service without a valid price would be sold for nothing.
            if (++badCount <= MaxNamedServices)
                bad << QStringLiteral("«%1» = %2").arg(quoted(carrier[i].left(eq)), quoted(text));
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

    QStringList messages;
    if (badCount > 0)
        messages << badPricesMessage(ini.path(), bad, badCount);
    if (fromUtf8)
        messages << QStringLiteral("Файл «%1» записан в кодировке UTF-8. Он прочитан как UTF-8, "
                                   "а при сохранении цен будет записан в кодировке Windows-1251.")
                        .arg(ini.path());
    return messages;
}

QList<qsizetype> badPriceLines(const profile::ProfileText &text)
{
    QList<qsizetype> out;
    QSet<QString> seen;
    for (qsizetype at : text.entryLines(PriceSection)) {
        const profile::Line &l = text.lines()[static_cast<size_t>(at)];
        const QString k = folded(text.keyOf(l));
        if (seen.contains(k))
            continue; // a repeated key was never read
        seen.insert(k);
        const QString value = text.valueOf(l);
        if (!value.isEmpty() && !priceOfText(value))
            out.append(at);
    }
    return out;
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
    QList<profile::Entry> entries = priceEntries(prices);
    std::reverse(entries.begin(), entries.end());
    ini.replaceSection(PriceSection, entries, &badPriceLines, badPriceComment());
}

} // namespace bilmeko
