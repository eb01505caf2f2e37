#pragma once
// The [Ledger] section of Bilmeko.ini: Connection= (a libpq connection
// string; empty: no ledger) and Desk= (this desk's name in the ledger,
// the host name when empty). Passwords belong in ~/.pgpass, not here.

#include <QString>

namespace bilmeko {

class ProfileFile;

struct LedgerSettings
{
    QString connection;
    QString desk;
    bool enabled() const { return !connection.isEmpty(); }
};

inline const QString LedgerSection = QStringLiteral("Ledger");

LedgerSettings readLedgerSettings(const ProfileFile &ini);
void writeLedgerSettings(const ProfileFile &ini, const LedgerSettings &s);

} // namespace bilmeko
