// Arbitrary settings-file bytes: the price list loads without a crash, and
// what is saved from it loads back as the same list in the same order, with
// no message.

#include "common/core/memtable.h"
#include "prices/core/pricelist.h"
#include "prices/core/pricetable.h"
#include "prices/core/profilefile.h"
#include "prices/core/profiletext.h"

#include <QDir>
#include <QFile>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <unistd.h>

using namespace bilmeko;

namespace {

struct Row
{
    QString name;
    bool empty;
    double price;
};

QList<Row> rowsOf(const MemTable &t)
{
    QList<Row> out;
    const int n = t.fieldIndex("PItem"), p = t.fieldIndex("PPrice");
    for (int r = 0; r < t.rowCount(); ++r) {
        const QVariant v = t.value(r, p);
        out.append({t.value(r, n).toString(), v.isNull(), v.isNull() ? 0.0 : v.toDouble()});
    }
    return out;
}

bool samePrice(double a, double b)
{
    // The file keeps 15 significant digits.
    return a == b || std::fabs(a - b) <= 1e-14 * std::max(std::fabs(a), std::fabs(b));
}

QString workFile()
{
    static const QString path = [] {
        const QString dir = QDir::tempPath() + QStringLiteral("/bilmeko-fuzz-%1").arg(::getpid());
        QDir().mkpath(dir);
        return dir + QStringLiteral("/Bilmeko.ini");
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = workFile();
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    const ProfileFile ini(path);

    std::unique_ptr<MemTable> first(makePriceTable());
    QStringList carrier{QStringLiteral("Prices")};
    loadPriceList(ini, carrier, *first);
    const QList<profile::Entry> written = priceEntries(*first);

    savePriceList(ini, *first);

    std::unique_ptr<MemTable> second(makePriceTable());
    QStringList carrier2{QStringLiteral("Prices")};
    const QStringList messages = loadPriceList(ini, carrier2, *second);
    // Code-page bytes that happen to form UTF-8 (names like "Рµ") are read
    // as UTF-8 by rule; nothing else may be said about a file the program
    // wrote.
    bool utf8 = false;
    ini.text(&utf8);
    if (utf8)
        return 0;
    if (!messages.isEmpty())
        std::abort();

    // Every written entry with a price comes back, in the table's order.
    QList<profile::Entry> expected;
    for (const profile::Entry &e : written)
        if (!e.value.isEmpty())
            expected.append(e);
    const QList<Row> got = rowsOf(*second);
    if (got.size() != expected.size())
        std::abort();
    const QList<Row> before = rowsOf(*first);
    for (int i = 0; i < got.size(); ++i) {
        if (got[i].name != expected[i].key)
            std::abort();
        // The price is the one the first table held under that name.
        bool found = false;
        for (const Row &b : before)
            if (profile::trimBlanks(b.name).compare(got[i].name, Qt::CaseInsensitive) == 0 && !b.empty
                && samePrice(b.price, got[i].price))
                found = true;
        if (!found)
            std::abort();
    }
    return 0;
}
