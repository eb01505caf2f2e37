#include "testsupport_ui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <memory>

namespace bilmeko::test {

void retype(QWidget *field, const QString &text)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    for (QChar c : text) {
        if (c.unicode() < 128)
            QTest::keyClick(field, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), {});
    }
}

void onNextModal(std::function<void(QWidget *)> action, int timeoutMs)
{
    // Owned by the application, so a watch still waiting when the test ends
    // goes with it.
    auto timer = new QTimer(QCoreApplication::instance());
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action, started, timeoutMs] {
        QWidget *w = QApplication::activeModalWidget();
        if (w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(w);
            return;
        }
        if (started->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

void answerNextMessageBox(QMessageBox::StandardButton button, QString *text, QString *title, int timeoutMs)
{
    onNextModal(
        [button, text, title](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box) {
                w->close();
                return;
            }
            if (text)
                *text = box->text();
            if (title)
                *title = box->windowTitle();
            if (QAbstractButton *b = box->button(button))
                b->click();
            else
                box->reject();
        },
        timeoutMs);
}

} // namespace bilmeko::test
