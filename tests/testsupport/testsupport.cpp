#include "testsupport.h"

#include "common/formats.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <unistd.h>

namespace bilmeko::test {

void pinRussian()
{
    Formats::setCurrent(Formats::russian());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

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

ErrorRecorder::ErrorRecorder()
{
    m_previous = setErrorSink([this](const QString &t) { messages << t; });
}

ErrorRecorder::~ErrorRecorder()
{
    setErrorSink(m_previous);
}

void onNextModal(std::function<void(QWidget *)> action, int timeoutMs)
{
    auto timer = new QTimer;
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

void answerNextMessageBox(QMessageBox::StandardButton button, QString *text, QString *title)
{
    onNextModal([button, text, title](QWidget *w) {
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
    });
}

AsUnprivileged::AsUnprivileged()
{
    if (::geteuid() == 0) {
        if (::setegid(65534) == 0 && ::seteuid(65534) == 0)
            m_dropped = true;
    }
}

AsUnprivileged::~AsUnprivileged()
{
    if (m_dropped) {
        if (::seteuid(0) != 0 || ::setegid(0) != 0)
            qFatal("cannot regain root after AsUnprivileged");
    }
}

} // namespace bilmeko::test
