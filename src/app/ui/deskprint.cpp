#include "deskprint.h"

#include "cashdesk/core/shiftreport.h"

namespace bilmeko {

Receipt shiftReceipt(const ShiftSlip &slip, const QString &salon)
{
    Receipt r;
    r.salon = salon.isEmpty() ? QStringLiteral("Bilmeko") : salon;
    r.title = slip.title;
    r.lines = slip.lines;
    r.footer = QStringLiteral("Не является фискальным документом");
    return r;
}

} // namespace bilmeko
