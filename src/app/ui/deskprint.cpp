#include "deskprint.h"

#include "cashdesk/core/shiftreport.h"
#include "common/core/errors.h"
#include "receiptprint.h"

#include <QApplication>
#include <QThreadPool>

namespace bilmeko {

void printInBackground(const Receipt &receipt, int widthMm)
{
    QThreadPool::globalInstance()->start([receipt, widthMm] {
        try {
            printReceipt(receipt, widthMm);
        } catch (const Error &e) {
            QMetaObject::invokeMethod(qApp, [message = e.message()] { showErrorBox(message); }, Qt::QueuedConnection);
        } catch (...) {
            QMetaObject::invokeMethod(qApp, [] { showErrorBox(QStringLiteral("Чек не напечатан.")); },
                                      Qt::QueuedConnection);
        }
    });
}

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
