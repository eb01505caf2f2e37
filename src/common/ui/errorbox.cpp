#include "errorbox.h"

#include "common/core/errors.h"

#include <QApplication>
#include <QMessageBox>

namespace bilmeko {

void installErrorBox()
{
    setErrorPresenter([](const QString &text) {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
            return;
        QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok);
        box.setObjectName(QStringLiteral("ErrorBox"));
        box.exec();
    });
}

} // namespace bilmeko
