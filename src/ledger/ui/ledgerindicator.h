#pragma once
// The ledger's small indicator for the main window's status bar
// (objectName LedgerState): a short text, and a tooltip saying whether
// the desk is connected, why not, and how many records are still to ship.

#include "ledger/core/ledgershipper.h"

#include <QLabel>

namespace bilmeko {

class LedgerIndicator : public QLabel
{
    Q_OBJECT
public:
    LedgerIndicator(LedgerShipper *shipper, QWidget *parent = nullptr);

private:
    void show(const LedgerState &s);
    LedgerSettings m_settings;
};

} // namespace bilmeko
