#include "ledgerindicator.h"

namespace bilmeko {

LedgerIndicator::LedgerIndicator(LedgerShipper *shipper, QWidget *parent)
    : QLabel(parent), m_settings(shipper->settings())
{
    setObjectName(QStringLiteral("LedgerState"));
    connect(shipper, &LedgerShipper::stateChanged, this, &LedgerIndicator::show);
    show(shipper->state());
}

void LedgerIndicator::show(const LedgerState &s)
{
    QString text;
    if (!s.connected && s.reason.isEmpty())
        text = QStringLiteral("Центр: …");
    else if (!s.connected)
        text = QStringLiteral("Центр: нет связи");
    else if (s.pending > 0)
        text = QStringLiteral("Центр: отправка %1").arg(s.pending);
    else
        text = QStringLiteral("Центр: ✓");
    if (s.connected && s.needsInit)
        text += QStringLiteral(" (нужен init)");
    setText(text);
    setStyleSheet(s.connected || s.reason.isEmpty() ? QString() : QStringLiteral("color: #a00000"));
    setToolTip(LedgerShipper::describe(s, m_settings));
}

} // namespace bilmeko
