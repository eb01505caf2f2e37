#include "formbox.h"

#include "glyphs.h"
#include "app/core/sessionboard.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QWindow>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace bilmeko {

namespace {

void makeBlueBold(QLabel *label, int pointSize = 0)
{
    QFont f = label->font();
    f.setBold(true);
    if (pointSize > 0)
        f.setPointSize(pointSize);
    label->setFont(f);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Qt::blue);
    label->setPalette(pal);
}

} // namespace

TFormbox::TFormbox(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                          | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("Formbox"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(QStringLiteral("Время закончилось"));
    setFixedSize(310, 126);

    Label1 = new QLabel(QStringLiteral("Закончилось время у клиента"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    makeBlueBold(Label1, 11);
    Label1->setGeometry(8, 8, 297, 24);

    Customer = new QLabel(this);
    Customer->setObjectName(QStringLiteral("Customer"));
    Customer->move(132, 40);

    Stat = new QLabel(this);
    Stat->setObjectName(QStringLiteral("Stat"));
    makeBlueBold(Stat);
    Stat->move(8, 72);

    BitBtn1 = new QPushButton(glyphs::okTick(), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(100, 100, 133, 25);
    BitBtn1->setDefault(true);
    BitBtn1->setFocus();
    connect(BitBtn1, &QPushButton::clicked, this, &TFormbox::BitBtn1Click);
}

TFormbox *TFormbox::showNotice(const Notice &notice)
{
    // No parent widget: a notice outlives the dialog it may appear over.
    auto *box = new TFormbox;
    box->setCustomer(notice.customer);
    box->setStat(notice.stat);
    box->setWindowTitle(notice.caption);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        box->move(screen->availableGeometry().center() - box->rect().center());
    box->winId();
    box->joinModalWindow();
    box->show();
    box->raise();
    box->activateWindow();
    return box;
}

void TFormbox::joinModalWindow()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal == this || !windowHandle())
        return;
    modal->winId();
    windowHandle()->setTransientParent(modal->windowHandle());
}

bool TFormbox::event(QEvent *event)
{
    // A modal dialog opened after the notice: join it too, so the notice
    // keeps working and stays above it.
    if (event->type() == QEvent::WindowBlocked) {
        const bool done = QDialog::event(event);
        joinModalWindow();
        if (isVisible()) {
            raise();
        }
        return done;
    }
    return QDialog::event(event);
}

void TFormbox::setCustomer(const QString &name)
{
    // The text grows to the right from the label's left edge.
    Customer->setText(name);
    Customer->adjustSize();
}

void TFormbox::setStat(const QString &text)
{
    Stat->setText(text);
    Stat->adjustSize();
}

void TFormbox::BitBtn1Click()
{
    close();
}

void TFormbox::FormClose()
{
    setAttribute(Qt::WA_DeleteOnClose);
}

void TFormbox::closeEvent(QCloseEvent *event)
{
    FormClose();
    QDialog::closeEvent(event);
}

} // namespace bilmeko
