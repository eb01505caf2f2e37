#include "zeperiod.h"

#include "common/core/clock.h"
#include "formc.h"

#include <QPointer>
#include <QWidget>

namespace bilmeko {

TZePeriod::TZePeriod(QObject *owner) : QObject(owner)
{
}

bool TZePeriod::Execute()
{
    QWidget *owner = qobject_cast<QWidget *>(parent());
    QPointer<TFormC> dialog = new TFormC(owner ? owner->window() : nullptr);
    if (FDateBeg == 0 || FDateEnd == 0) {
        const DateTimeValue today = dateValue(Clock::current().today());
        dialog->setDateBeg(today);
        dialog->setDateEnd(today);
    } else {
        dialog->setDateBeg(FDateBeg);
        dialog->setDateEnd(FDateEnd);
    }
    const bool ok = dialog->exec() == QDialog::Accepted;
    // The owner's window may have taken the dialog with it.
    if (!dialog)
        return false;
    if (ok) {
        FDateBeg = dialog->DateBeg();
        FDateEnd = dialog->DateEnd();
    }
    delete dialog;
    return ok;
}

} // namespace bilmeko
