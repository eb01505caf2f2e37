#include "errorbox.h"

#include "common/core/errors.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>

namespace bilmeko {

namespace {
const QString ErrorBoxName = QStringLiteral("ErrorBox");

// The error box of an error that comes later: on top, not modal, and the
// keyboard stays where the operator is typing. A window system that
// activates a new window anyway gets the activation handed back at once.
class ErrorNotice : public QMessageBox
{
public:
    explicit ErrorNotice(const QString &text)
        : QMessageBox(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok),
          m_returnTo(QApplication::activeWindow())
    {
        setObjectName(QStringLiteral("ErrorNotice"));
        setAttribute(Qt::WA_DeleteOnClose);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setWindowFlag(Qt::WindowStaysOnTopHint);
        setModal(false);
        m_shown.start();
    }

protected:
    bool event(QEvent *e) override
    {
        // Activated on showing, against the request not to be; later
        // activations (a click) are the operator's own.
        constexpr qint64 GraceMs = 1000;
        if (e->type() == QEvent::WindowActivate && !m_handedBack && m_returnTo && m_shown.elapsed() < GraceMs) {
            m_handedBack = true;
            QMetaObject::invokeMethod(
                this,
                [to = m_returnTo] {
                    if (to && to->isVisible())
                        to->activateWindow();
                },
                Qt::QueuedConnection);
        }
        return QMessageBox::event(e);
    }

private:
    QPointer<QWidget> m_returnTo;
    QElapsedTimer m_shown;
    bool m_handedBack = false;
};

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
        QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok,
                                                    QApplication::activeModalWidget());
        box->setObjectName(ErrorBoxName);
        box->setWindowFlag(Qt::WindowStaysOnTopHint);
        box->exec();
        delete box;
    });
    setErrorNoticePresenter([](const QString &text) {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
            return;
        auto *notice = new ErrorNotice(text);
        notice->show();
        notice->raise();
    });
}

bool isErrorBox(const QWidget *window)
{
    return window && window->objectName() == ErrorBoxName && qobject_cast<const QMessageBox *>(window);
}

} // namespace bilmeko
