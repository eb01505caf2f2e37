#pragma once
// What the tests of the main window share: the window as on a desktop with a
// notification area, and the time-is-up notices on the screen.

#include "app/ui/form1.h"
#include "app/ui/formbox.h"

#include <QApplication>
#include <QList>

namespace bilmeko::test {

// The window as on a desktop with a notification area.
class TrayForm : public TForm1
{
public:
    using TForm1::TForm1;

protected:
    bool trayAvailable() const override { return true; }
};

// The notices shown now, oldest first as Qt lists them.
inline QList<TFormbox *> notices()
{
    QList<TFormbox *> out;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<TFormbox *>(w); box && box->isVisible())
            out << box;
    return out;
}

} // namespace bilmeko::test
