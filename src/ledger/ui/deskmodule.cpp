// The entry of the desk's ledger module: the shipper and its indicator.

#include "deskledger.h"
#include "ledgerindicator.h"

#include "common/core/errors.h"
#include "ledger/core/ledgermodule.h"
#include "ledger/core/ledgershipper.h"

#include <QPointer>
#include <QStatusBar>
#include <type_traits>

using namespace bilmeko;

namespace {

class ShippingDesk final : public DeskLedger
{
public:
    explicit ShippingDesk(LedgerShipper *shipper) : m_shipper(shipper) {}
    void journalGrew() override
    {
        if (m_shipper)
            m_shipper->journalGrew();
    }
    void publishLive(const QList<LiveSession> &sessions) override
    {
        if (m_shipper)
            m_shipper->publishLive(sessions);
    }

private:
    // The window's child: gone with the window, whatever the order.
    QPointer<LedgerShipper> m_shipper;
};

} // namespace

extern "C" Q_DECL_EXPORT DeskLedger *bilmekoStartDeskLedger(const LedgerHost *host, const ProfileFile *ini,
                                                            const QString *journalPath, QStatusBar *statusBar,
                                                            QWidget *window)
{
    if (!host || !host->adopt() || !ini || !journalPath || !statusBar || !window)
        return nullptr;
    // Nothing thrown crosses into the program: its Error is another type.
    LedgerShipper *shipper = nullptr;
    guard([&] {
        shipper = new LedgerShipper(readLedgerSettings(*ini), *journalPath, window);
        statusBar->addPermanentWidget(new LedgerIndicator(shipper, window));
        shipper->start();
    });
    return new ShippingDesk(shipper);
}
static_assert(std::is_same_v<decltype(&bilmekoStartDeskLedger), StartDeskLedgerFn>);
