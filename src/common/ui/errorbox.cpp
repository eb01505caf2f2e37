#include "errorbox.h"

#include "common/core/errors.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

namespace bilmeko {

namespace {
const QString ErrorBoxName = QStringLiteral("ErrorBox");
} // namespace

void installErrorBox()
{
    setErrorPresenter([](const QString &text) {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
            return;
        // Over the dialog it interrupts, whose child it is, so the notices
        // that dialog lets through know to stay below the box. That dialog
        // may go while the box is open (a tick ends its session): the box
        // then goes with it.
        QPointer<QMessageBox> box =
            new QMessageBox(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok,
                            QApplication::activeModalWidget());
        box->setObjectName(ErrorBoxName);
        box->setWindowFlag(Qt::WindowStaysOnTopHint);
        box->exec();
        delete box;
    });
}

bool isErrorBox(const QWidget *window)
{
    return window && window->objectName() == ErrorBoxName && qobject_cast<const QMessageBox *>(window);
}

} // namespace bilmeko
