// The entry of the owner's board module.

#include "ownermodule.h"
#include "ownerwindow.h"

#include "common/core/errors.h"
#include "ledger/core/ledgermodule.h"

#include <type_traits>

using namespace bilmeko;

extern "C" Q_DECL_EXPORT bool bilmekoOpenOwnerBoard(const LedgerHost *host, const QString *folder,
                                                    OwnerBoardWindow *out)
{
    if (!host || !host->adopt() || !folder || !out)
        return false;
    // Nothing thrown crosses into the program: its Error is another type.
    out->window = nullptr;
    guard([&] { out->window = new TOwnerBoard(*folder); });
    out->bringToFront = [](QMainWindow *w) { static_cast<TOwnerBoard *>(w)->bringToFront(); };
    return true;
}

static_assert(std::is_same_v<decltype(&bilmekoOpenOwnerBoard), OpenOwnerBoardFn>);
