#pragma once
// The period picker: Execute() runs the period dialog and, on OK, keeps the
// chosen first and last day. A value t lies in the period when
// DateBeg() <= t < DateEnd() + 1.

#include "common/core/datetime.h"

#include <QObject>

namespace bilmeko {

class TZePeriod : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double DateBeg READ DateBeg WRITE setDateBeg)
    Q_PROPERTY(double DateEnd READ DateEnd WRITE setDateEnd)
public:
    // The dialog opens over the owner's window when the owner is a widget.
    explicit TZePeriod(QObject *owner = nullptr);

    // Shows the dialog modally; true when it closed with OK (the bounds then
    // hold the new period), false otherwise (the bounds stay).
    virtual bool Execute();

    DateTimeValue DateBeg() const { return FDateBeg; }
    DateTimeValue DateEnd() const { return FDateEnd; }
    void setDateBeg(DateTimeValue v) { FDateBeg = v; }
    void setDateEnd(DateTimeValue v) { FDateEnd = v; }

private:
    DateTimeValue FDateBeg = 0;
    DateTimeValue FDateEnd = 0;
};

} // namespace bilmeko
