#include "deskledger.h"

#include "ledger/core/ledgermodule.h"
#include "ledger/core/ledgersettings.h"

namespace bilmeko {

std::unique_ptr<DeskLedger> startDeskLedger(const ProfileFile &ini, const QString &journalPath, QStatusBar *statusBar,
                                            QWidget *window)
{
    if (!readLedgerSettings(ini).enabled())
        return nullptr;
    static const auto start = loadLedgerEntry<StartDeskLedgerFn>(LedgerDeskModule, StartDeskLedgerSymbol);
    const LedgerHost host = LedgerHost::ofThisProgram();
    std::unique_ptr<DeskLedger> ledger(start(&host, &ini, &journalPath, statusBar, window));
    if (!ledger)
        throwLedgerModuleRefused(QString::fromLatin1(LedgerDeskModule));
    return ledger;
}

} // namespace bilmeko
