#pragma once
// Prepaid minutes (abonements), a first step: the kinds on sale, the
// record of a sale, and a client's balance.
//
// The kinds: [Abonements] in the settings file, one `Name=minutes;price`
// line each ("10 часов=600;4500"). A sale is a journal record of its own
// with the status "Абонемент", the price as its amount (the money coming
// in, by its payment method), no time, the kind as its service, the client,
// and the minutes bought in its note ("600 мин"). A session drawn on an
// abonement is charged 0; its record keeps the minutes used as its time.
// Both carry the abonement flag (bit 6 of the mark byte), so a typed
// status or note can never count as one.
//
// A client's balance is a sum over the journal (names compared without
// case and outer blanks): minutes bought minus minutes used, reversals
// taking theirs back. No number is kept apart from the journal, so it
// cannot drift.

#include "journal/core/journalsource.h"
#include "journal/core/logrecord.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace bilmeko {

class ProfileFile;

inline const QString StatusAbonement = QStringLiteral("Абонемент");

struct AbonementKind
{
    QString name;
    int minutes = 0;
    double price = 0;
    bool operator==(const AbonementKind &) const = default;
};

struct AbonementKinds
{
    QList<AbonementKind> kinds;
    // One per line that cannot be used, naming the file and the line.
    QStringList messages;
};

// Minutes from 1 to 100 000; a price from 0 to 10 000 000, ',' or '.' as the
// decimal separator.
AbonementKinds readAbonementKinds(const ProfileFile &ini);

// The sale's record (without an identifier: the caller gives it one).
LogRecord abonementSale(const QString &client, const AbonementKind &kind, Payment payment, DateTimeValue now);
// The minutes a sale record carries in its note; 0 for any other record.
int soldMinutes(const LogRecord &r);

struct AbonementBalance
{
    qint64 bought = 0;
    qint64 used = 0;
    qint64 left() const { return bought - used; }
};
AbonementBalance abonementBalance(const JournalSource &journal, const QString &client);
// From the journal file; a missing one holds nothing. Throws Error naming it.
AbonementBalance abonementBalance(const QString &journalPath, const QString &client);

} // namespace bilmeko
