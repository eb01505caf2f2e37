#pragma once
// The price table: services with their price per minute.

#include "common/core/memtable.h"

namespace bilmeko {

constexpr int PriceItemMax = 20;

// The highest price per minute the program takes. A whole day at it,
// 1440 min x 1 000 000 = 1.44e9, keeps its kopecks exact in a double and
// fits every money column, so the grid, the notice and the report show
// every amount the program can charge exactly.
constexpr double MaxPricePerMinute = 1'000'000;

// A price that can be sold: a finite number from 0 to MaxPricePerMinute.
bool isValidPrice(double price);

// A new, empty price table with the fields PItem (text, 20) and PPrice
// (a double that may be empty).
MemTable *makePriceTable(QObject *parent = nullptr);

} // namespace bilmeko
