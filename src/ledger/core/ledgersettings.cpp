#include "ledgersettings.h"

#include "prices/core/profilefile.h"

namespace bilmeko {

LedgerSettings readLedgerSettings(const ProfileFile &ini)
{
    LedgerSettings s;
    s.connection = ini.readString(LedgerSection, QStringLiteral("Connection")).trimmed();
    s.desk = ini.readString(LedgerSection, QStringLiteral("Desk")).trimmed();
    return s;
}

void writeLedgerSettings(const ProfileFile &ini, const LedgerSettings &s)
{
    ini.writeString(LedgerSection, QStringLiteral("Connection"), s.connection);
    ini.writeString(LedgerSection, QStringLiteral("Desk"), s.desk);
}

} // namespace bilmeko
