#include "pricetable.h"

namespace bilmeko {

MemTable *makePriceTable(QObject *parent)
{
    return new MemTable({{QStringLiteral("PItem"), FieldKind::Text, PriceItemMax},
                         {QStringLiteral("PPrice"), FieldKind::Float, 0}},
                        parent);
}

} // namespace bilmeko
