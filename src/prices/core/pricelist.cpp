#include "pricelist.h"

#include "common/core/codepage.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "common/core/memtable.h"
#include "pricetable.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <charconv>
#include <optional>
#include <vector>

namespace bilmeko {

namespace {

// A name with its letter case folded. Latin and Russian letters are folded
// here (the same as toCaseFolded gives them, for a fraction of its cost at
// start with thousands of names); any other letter goes to Qt.
QString folded(const QString &name)
{
    QString out = name;
    char16_t *c = reinterpret_cast<char16_t *>(out.data());
    for (qsizetype i = 0, n = out.size(); i < n; ++i) {
        const char16_t u = c[i];
        if (u < 0x80) {
            if (u >= u'A' && u <= u'Z')
                c[i] = u + 0x20;
        } else if (u >= 0x410 && u <= 0x42F) {
            c[i] = u + 0x20;
        } else if (u >= 0x400 && u <= 0x40F) {
            c[i] = u + 0x50;
        } else if (!(u >= 0x430 && u <= 0x45F)) {
            return name.toCaseFolded();
        }
    }
    return out;
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

namespace {

// The common form, digits with an optional comma and digits, read without
// the general parser: a price list of thousands of lines is read at start.
// Anything else (blanks, a sign, an exponent) goes the general way; both
// round the same, to the nearest double.
std::optional<double> plainPrice(const QString &text)
{
    const qsizetype n = text.size();
    if (n == 0 || n > 32)
        return std::nullopt;
    char buf[33];
    bool comma = false;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c >= u'0' && c <= u'9') {
            buf[i] = static_cast<char>(c);
        } else if (c == u',' && !comma && i > 0) {
            comma = true;
            buf[i] = '.';
        } else {
            return std::nullopt;
        }
    }
    double v = 0;
    const auto r = std::from_chars(buf, buf + n, v);
    if (r.ec != std::errc() || r.ptr != buf + n)
        return std::nullopt;
    return v;
}

} // namespace

std::optional<double> priceOfText(const QString &text)
{
    std::optional<double> v = plainPrice(text);
    if (!v)
        v = Formats::parseFloat(text);
    if (!v || !isValidPrice(*v))
        return std::nullopt;
    return v;
}

QStringList loadPriceList(const ProfileFile &ini, QStringList &carrier, MemTable &prices)
{
    if (carrier.isEmpty())
        carrier << CarrierTitle;

    // The carrier, split once into names and values. A key of the file
    // enters it as "key=value" with the value of the name's first line
    // (letter case ignored; an empty one enters nothing), replacing the
    // line of the same name or appended. Lines without '=' have no name.
    // One lookup a line: thousands of lines are read at start.
    struct CarrierLine
    {
        QString key;
        QString value;
        bool named = false; // the line has an '='
    };
    struct Name
    {
        qsizetype line = -1;  // its line in the carrier
        bool inFile = false;  // the file has named it
        QString firstValue;   // the value of the file's first line of it
    };
    std::vector<CarrierLine> lines;
    QHash<QString, Name> names;
    for (const QString &c : std::as_const(carrier)) {
        const qsizetype eq = c.indexOf(QLatin1Char('='));
        if (eq < 0) {
            lines.push_back({c, {}, false});
            continue;
        }
        lines.push_back({c.left(eq), c.mid(eq + 1), true});
        Name &n = names[folded(lines.back().key)];
        if (n.line < 0)
            n.line = static_cast<qsizetype>(lines.size() - 1);
    }

    bool fromUtf8 = false;
    const profile::ProfileText text = ini.text(&fromUtf8);
    const QList<qsizetype> entryLines = text.entryLines(PriceSection);
    lines.reserve(lines.size() + static_cast<size_t>(entryLines.size()));
    names.reserve(names.size() + entryLines.size());
    for (qsizetype at : entryLines) {
        const profile::Line &l = text.lines()[static_cast<size_t>(at)];
        QString key = text.keyOf(l);
        Name &n = names[folded(key)];
        if (!n.inFile) {
            n.inFile = true;
            n.firstValue = text.valueOf(l);
        }
        if (n.firstValue.isEmpty())
            continue;
        if (n.line >= 0) {
            lines[static_cast<size_t>(n.line)] = {std::move(key), n.firstValue, true};
        } else {
            lines.push_back({std::move(key), n.firstValue, true});
            n.line = static_cast<qsizetype>(lines.size() - 1);
        }
    }
    names.clear();

    // The rows, each in front of the one before.
    QStringList bad;
    qsizetype badCount = 0;
    struct Row
    {
        QString name;
        double price;
    };
    std::vector<Row> rows;
    rows.reserve(lines.size());
    carrier.clear();
    carrier.reserve(static_cast<qsizetype>(lines.size()));
    for (size_t i = 0; i < lines.size(); ++i) {
        const CarrierLine &c = lines[i];
        carrier << (c.named ? c.key + QLatin1Char('=') + c.value : c.key);
        if (i == 0 || !c.named)
            continue;
        const std::optional<double> price = priceOfText(c.value);
        if (!price) {
            // A service without a valid price would be sold for nothing.
            if (++badCount <= MaxNamedServices)
                bad << QStringLiteral("«%1» = %2").arg(quoted(c.key), quoted(c.value));
            continue;
        }
        rows.push_back({c.key, *price});
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
