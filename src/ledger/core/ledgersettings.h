#pragma once
// The [Ledger] section of Bilmeko.ini: Connection= (a libpq connection
// string; empty: no ledger) and Desk= (optional: the desk's name in the
// ledger is its login role; a Desk= that names another is refused).
// Passwords belong in ~/.pgpass, not here.

#include <QString>

namespace bilmeko {

class ProfileFile;

struct LedgerSettings
{
    QString connection;
    QString desk; // empty: whatever the role is
    bool enabled() const { return !connection.isEmpty(); }
};

inline const QString LedgerSection = QStringLiteral("Ledger");

LedgerSettings readLedgerSettings(const ProfileFile &ini);
void writeLedgerSettings(const ProfileFile &ini, const LedgerSettings &s);

} // namespace bilmeko
