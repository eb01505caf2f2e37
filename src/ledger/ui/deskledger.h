#pragma once
// A desk's link to the ledger, made by bilmeko-ledger-desk.so when
// [Ledger] Connection= is set (see ledger/core/ledgermodule.h): the shipper
// on its own thread and the indicator in the window's status bar. The
// window tells it what changed and never waits on it.
//
//     m_ledger = startDeskLedger(*SettingsIni, journalPath, statusBar(), this);
//     if (m_ledger) m_ledger->journalGrew();   // after each record is on disk
//     if (m_ledger) m_ledger->publishLive(sessions); // at each change of them

#include "ledger/core/livesession.h"

#include <QList>
#include <QString>
#include <memory>

class QStatusBar;
class QWidget;

namespace bilmeko {

class ProfileFile;
struct LedgerHost;

class DeskLedger
{
public:
    virtual ~DeskLedger() = default;
    // A record was appended to the journal, or a line to the shift file
    // beside it (and flushed).
    virtual void journalGrew() = 0;
    // The running sessions now (all of them); only the latest is sent.
    virtual void publishLive(const QList<LiveSession> &sessions) = 0;
};

// The module's entry: starts shipping the journal and puts the indicator
// (objectName LedgerState) into the status bar. The shipper is the
// window's child, so it stops with it. Null when it refuses the host.
using StartDeskLedgerFn = DeskLedger *(*)(const LedgerHost *host, const ProfileFile *ini, const QString *journalPath,
                                          QStatusBar *statusBar, QWidget *window);
inline constexpr char StartDeskLedgerSymbol[] = "bilmekoStartDeskLedger";

// Null when the settings name no ledger (the module is then not loaded);
// throws Error naming the module when it cannot be loaded.
std::unique_ptr<DeskLedger> startDeskLedger(const ProfileFile &ini, const QString &journalPath, QStatusBar *statusBar,
                                            QWidget *window);

} // namespace bilmeko
