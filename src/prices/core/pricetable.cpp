#include "pricetable.h"

#include <cmath>

namespace bilmeko {

bool isValidPrice(double price)
{
    return std::isfinite(price) && price >= 0 && price <= MaxPricePerMinute;
}

MemTable *makePriceTable(QObject *parent)
{
    return new MemTable(
        {{QStringLiteral("PItem"), FieldKind::Text, PriceItemMax}, {QStringLiteral("PPrice"), FieldKind::Float, 0}},
        parent);
}

} // namespace bilmeko
