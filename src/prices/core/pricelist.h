#pragma once
// The price list in the settings file: section "Price", one line per
// service, "name=price per minute" with ',' as the decimal separator.

#include "profilefile.h"

#include <QString>
#include <QStringList>

namespace bilmeko {

class MemTable;

inline const QString PriceSection = QStringLiteral("Price");
// The carrier's own first line.
inline const QString CarrierTitle = QStringLiteral("Prices");
// A broken file shows at most this many conversion messages.
constexpr int MaxLoadMessages = 5;

// Loads the section into the price table through the carrier lines (the
// main window's hidden text box, first line "Prices"): each key with a
// non-empty value enters the carrier as "key=value", replacing a line of the
// same name (letter case ignored) or appended; then every carrier line after
// the first becomes a row in front of the current row, so the rows come in
// the reverse of the file's order. A value that is not a number in the ','
// form is left out and gives the message "'<value>' is not a valid floating
// point value"; loading goes on. Returns the messages for the caller to
// show (showErrorBox), in file order.
QStringList loadPriceList(const ProfileFile &ini, QStringList &carrier, MemTable &prices);

// Whether a service name can be a key that reads back as itself: after
// trimming blanks it is not empty, holds no '=' and does not begin with
// '[' or ';'.
bool isStorableName(const QString &name);

// The section as the table would be saved: rows in table order, one key per
// distinct name (letter case ignored; a later row's price replaces an
// earlier one's, the first spelling stays), names trimmed of blanks, prices
// in the general number form, an empty price as an empty value. Rows whose
// name is not storable are not written.
QList<profile::Entry> priceEntries(const MemTable &prices);

// Replaces the section "Price" with the table's rows (priceEntries) in one
// atomic write. Throws Error("Unable to write to <path>"), the file then
// unchanged. Rows still being edited must be posted (or dropped) first.
void savePriceList(const ProfileFile &ini, const MemTable &prices);

} // namespace bilmeko
