#pragma once
// The price list in the settings file: section "Price", one line per
// service, "name=price per minute" with ',' as the decimal separator.

#include "profilefile.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace bilmeko {

class MemTable;

inline const QString PriceSection = QStringLiteral("Price");
// The carrier's own first line.
inline const QString CarrierTitle = QStringLiteral("Prices");
// The message about bad prices names at most this many services, then
// says how many more there are.
constexpr int MaxNamedServices = 50;
// How a line with a bad price stays in the file when the list is saved.
QByteArray badPriceComment(); // "; неверная цена: " in the code page

// A price as the file holds it: a number in the ',' form that is a valid
// price (isValidPrice); nullopt for anything else.
std::optional<double> priceOfText(QStringView text);

// Loads the section into the price table through the carrier lines (first
// line "Prices"): each key with a
// non-empty value enters the carrier as "key=value", replacing a line of the
// same name (letter case ignored) or appended; then every carrier line after
// the first becomes a row in front of the current row, so the rows come in
// the reverse of the file's order. A value that is not a valid price is left
// out and loading goes on. Returns the messages for the caller to show
// (showErrorBox), at most two: one for the whole file naming it and every
// service left out with its value, and one when the file was read as UTF-8
// and will be saved in Windows-1251.
QStringList loadPriceList(const ProfileFile &ini, QStringList &carrier, MemTable &prices);

// The key lines of the section whose key's (first) value is not empty and
// not a valid price: the lines loading leaves out, which saving keeps in
// the file as comments (badPriceComment()) instead of dropping them.
QList<qsizetype> badPriceLines(const profile::ProfileText &text);

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
// atomic write, last row first: loading reverses the file's order, so the
// next start shows the rows in the order the editor showed them. Lines
// with a bad price stay as comments (badPriceLines). Throws
// Error("Unable to write to <path>"), the file then unchanged. Rows still
// being edited must be posted (or dropped) first.
void savePriceList(const ProfileFile &ini, const MemTable &prices);

} // namespace bilmeko
