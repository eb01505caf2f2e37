#pragma once
// The price table: services with their price per minute.

#include "common/core/memtable.h"

namespace bilmeko {

constexpr int PriceItemMax = 20;

// A new, empty price table with the fields PItem (text, 20) and PPrice
// (a double that may be empty).
MemTable *makePriceTable(QObject *parent = nullptr);

} // namespace bilmeko
