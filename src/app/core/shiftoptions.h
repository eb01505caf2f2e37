#pragma once
// The front desk's options in [Options] of the settings file, beside
// ReminderMinutes:
//
//   UndoStopMinutes=5    how long a Stop can be undone (0: never)
//   Receipt=1            print a receipt at every Stop and time-up
//   SalonName=...        the name at the top of every receipt
//   ReceiptWidth=58      the receipt roll's width in mm: 58 or 80
//   Payment=наличные     the client dialog's payment method: наличные, карта
//                        or перевод (cash, card, transfer are read too)
//
// A missing value is the default. A value that cannot be used is reported
// and the default holds for the run; the file is left as it is.

#include "journal/core/logrecord.h"

#include <QString>
#include <QStringList>

namespace bilmeko {

class ProfileFile;

struct ShiftOptions
{
    static constexpr int DefaultUndoStopMinutes = 5;
    static constexpr int MaxUndoStopMinutes = 60;

    int undoStopMinutes = DefaultUndoStopMinutes;
    bool receipt = false;
    QString salonName;
    int receiptWidthMm = 58;
    Payment payment = Payment::Cash;

    // For the error box: one message per value that was not usable.
    QStringList messages;
};

ShiftOptions readShiftOptions(const ProfileFile &ini);

// A payment method as a settings file names it (either language, any
// case); Unknown for anything else.
Payment paymentFromName(const QString &name);

} // namespace bilmeko
