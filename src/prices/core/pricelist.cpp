#include "pricelist.h"

#include "common/core/codepage.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "common/core/memtable.h"
#include "pricetable.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
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
std::optional<double> plainPrice(QStringView text)
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

std::optional<double> priceOfText(QStringView text)
{
    std::optional<double> v = plainPrice(text);
    if (!v)
        v = Formats::parseFloat(text.toString());
    if (!v || !isValidPrice(*v))
        return std::nullopt;
    return v;
}

namespace {

// Each byte of the code page as its character with the letter case folded,
// as folded() gives it: the file's names are compared without making a
// string of each.
const std::array<char16_t, 256> &foldedBytes()
{
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            const QString one = cp1251::decode(&c, 1);
            const QString f = folded(one);
            t[static_cast<size_t>(b)] = (f.size() == 1 ? f : one).at(0).unicode();
        }
        return t;
    }();
    return table;
}

// The names met while loading, folded, each once: an open-addressing table
// over views of the folded text (thousands of names are read at start).
class NameTable
{
public:
    struct Name
    {
        std::u16string_view folded;
        qsizetype line = -1; // its line in the carrier
        bool inFile = false; // the file has named it
        QByteArrayView firstValue; // the value of the file's first line of it
    };

    explicit NameTable(size_t expected)
    {
        size_t n = 16;
        while (n < expected * 2)
            n *= 2;
        m_slots.assign(n, -1);
        m_names.reserve(expected);
    }

    Name &operator[](std::u16string_view folded)
    {
        size_t h = 1469598103934665603ull;
        for (char16_t c : folded)
            h = (h ^ c) * 1099511628211ull;
        const size_t mask = m_slots.size() - 1;
        for (size_t i = h & mask;; i = (i + 1) & mask) {
            qsizetype &slot = m_slots[i];
            if (slot < 0) {
                slot = static_cast<qsizetype>(m_names.size());
                m_names.push_back({folded, -1, false, {}});
                return m_names.back();
            }
            if (m_names[static_cast<size_t>(slot)].folded == folded)
                return m_names[static_cast<size_t>(slot)];
        }
    }

private:
    std::vector<qsizetype> m_slots;
    std::vector<Name> m_names;
};

} // namespace

QStringList loadPriceList(const ProfileFile &ini, QStringList &carrier, MemTable &prices)
{
    if (carrier.isEmpty())
        carrier << CarrierTitle;

    bool fromUtf8 = false;
    const std::shared_ptr<const profile::ProfileText> held = ini.text(&fromUtf8);
    const profile::ProfileText &text = *held;
    const QList<qsizetype> entryLines = text.entryLines(PriceSection);

    // The carrier, split once into names and values. A key of the file
    // enters it as "key=value" with the value of the name's first line
    // (letter case ignored; an empty one enters nothing), replacing the
    // line of the same name or appended. Lines without '=' have no name.
    // The file's names are taken as its bytes, and a line's text is made
    // only for the lines that enter.
    struct CarrierLine
    {
        QString text; // as the carrier had it, or "key=value" once made
        QByteArrayView key; // from the file: the key and value to make it of
        QByteArrayView value;
        qsizetype nameEnd = -1; // the length of its name; -1 for a line without '='
    };
    std::vector<CarrierLine> lines;
    lines.reserve(static_cast<size_t>(carrier.size() + entryLines.size()));
    NameTable names(static_cast<size_t>(carrier.size() + entryLines.size()));
    std::vector<QString> carrierFolded; // the views into them must stay put
    carrierFolded.reserve(static_cast<size_t>(carrier.size()));
    for (const QString &c : std::as_const(carrier)) {
        const qsizetype eq = c.indexOf(QLatin1Char('='));
        lines.push_back({c, {}, {}, eq});
        if (eq < 0)
            continue;
        carrierFolded.push_back(folded(c.left(eq)));
        const QString &f = carrierFolded.back();
        NameTable::Name &n = names[std::u16string_view(reinterpret_cast<const char16_t *>(f.constData()),
                                                       static_cast<size_t>(f.size()))];
        if (n.line < 0)
            n.line = static_cast<qsizetype>(lines.size() - 1);
    }

    const std::array<char16_t, 256> &fold = foldedBytes();
    std::u16string fileFolded; // every key of the file, folded, one after another
    qsizetype keyBytes = 0;
    for (qsizetype at : entryLines)
        keyBytes += text.keyBytes(text.lines()[static_cast<size_t>(at)]).size();
    fileFolded.reserve(static_cast<size_t>(keyBytes));
    for (qsizetype at : entryLines) {
        const profile::Line &l = text.lines()[static_cast<size_t>(at)];
        const QByteArrayView key = text.keyBytes(l);
        const size_t from = fileFolded.size();
        for (char b : key)
            fileFolded.push_back(fold[static_cast<unsigned char>(b)]);
        NameTable::Name &n = names[std::u16string_view(fileFolded).substr(from)];
        if (!n.inFile) {
            n.inFile = true;
            n.firstValue = text.valueBytes(l);
        }
        if (n.firstValue.isEmpty())
            continue;
        if (n.line >= 0) {
            lines[static_cast<size_t>(n.line)] = {{}, key, n.firstValue, key.size()};
        } else {
            lines.push_back({{}, key, n.firstValue, key.size()});
            n.line = static_cast<qsizetype>(lines.size() - 1);
        }
    }

    // The carrier's lines, and the rows, each in front of the one before.
    QStringList bad;
    qsizetype badCount = 0;
    struct Row
    {
        qsizetype line;
        double price;
    };
    std::vector<Row> rows;
    rows.reserve(lines.size());
    carrier.clear();
    carrier.reserve(static_cast<qsizetype>(lines.size()));
    for (size_t i = 0; i < lines.size(); ++i) {
        CarrierLine &c = lines[i];
        if (c.text.isNull() && c.nameEnd >= 0) {
            c.text = QString(c.key.size() + 1 + c.value.size(), Qt::Uninitialized);
            QChar *to = c.text.data();
            cp1251::decodeTo(c.key.data(), c.key.size(), to);
            to[c.key.size()] = QLatin1Char('=');
            cp1251::decodeTo(c.value.data(), c.value.size(), to + c.key.size() + 1);
        }
        carrier << c.text;
        if (i == 0 || c.nameEnd < 0)
            continue;
        const QStringView name = QStringView(c.text).left(c.nameEnd);
        const QStringView value = QStringView(c.text).mid(c.nameEnd + 1);
        const std::optional<double> price = priceOfText(value);
        if (!price) {
            // A service without a valid price would be sold for nothing.
            if (++badCount <= MaxNamedServices)
                bad << QStringLiteral("«%1» = %2").arg(quoted(name.toString()), quoted(value.toString()));
            continue;
        }
        rows.push_back({static_cast<qsizetype>(i), *price});
    }

    const int item = prices.fieldIndex(QStringLiteral("PItem"));
    const int price = prices.fieldIndex(QStringLiteral("PPrice"));
    const auto fill = [&](int at, const Row &r) {
        const CarrierLine &c = lines[static_cast<size_t>(r.line)];
        prices.setText(at, item, QStringView(c.text).left(c.nameEnd));
        prices.setValue(at, price, r.price);
    };
    prices.holdUpdates();
    if (prices.isEmpty()) {
        // Appending in reverse gives the same rows as inserting each at the
        // top, without moving every row each time.
        for (auto r = rows.rbegin(); r != rows.rend(); ++r)
            fill(prices.appendRow(), *r);
        if (!rows.empty())
            prices.setCurrentRow(0);
    } else {
        for (const Row &r : rows)
            fill(prices.insertRow(), r);
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
