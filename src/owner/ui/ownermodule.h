#pragma once
// The owner's board (bilmeko --owner) is a module of its own,
// bilmeko-owner.so (see ledger/core/ledgermodule.h): the desk's program
// starts without libpq, and loads the board only when asked for it.

#include <QString>

class QMainWindow;

namespace bilmeko {

struct LedgerHost;

struct OwnerBoardWindow
{
    QMainWindow *window = nullptr; // the caller's to show and delete
    void (*bringToFront)(QMainWindow *window) = nullptr;
};

// The module's entry: the board over the settings of that folder. False
// when it refuses the host (another build).
using OpenOwnerBoardFn = bool (*)(const LedgerHost *host, const QString *folder, OwnerBoardWindow *out);
inline constexpr char OpenOwnerBoardSymbol[] = "bilmekoOpenOwnerBoard";

} // namespace bilmeko
