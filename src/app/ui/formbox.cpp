#include "formbox.h"

#include "app/core/sessionboard.h"
#include "common/ui/errorbox.h"
#include "glyphs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

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

// The notice key, seen before any window of the program gets it, so it
// works over a modal dialog and whatever control has the focus.
class ReachKeyFilter : public QObject
{
public:
    explicit ReachKeyFilter(QObject *owner) : QObject(owner) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != TFormbox::ReachKey || key->isAutoRepeat()
            || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        return TFormbox::reachNewest();
    }
};

quint64 shownCount = 0;

// How long after showing an activation counts as the window system's, not
// the operator's.
constexpr qint64 ActivationGraceMs = 1000;

} // namespace

TFormbox::TFormbox(QWidget *parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("Formbox"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Shown over whatever the operator is typing in, never into it: the
    // window manager is told not to give it the focus (a zero user time).
    setAttribute(Qt::WA_ShowWithoutActivating);
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

namespace {

// Centred on the screen, unless that would cover the window the operator is
// typing in: then just below it, or just above it, so the field stays in view.
QPoint placeBeside(const QRect &screen, const QSize &size, const QWidget *active)
{
    QRect centred(QPoint(), size);
    centred.moveCenter(screen.center());
    if (!active || !active->isVisible())
        return centred.topLeft();
    const QRect typing = active->frameGeometry();
    if (!centred.intersects(typing))
        return centred.topLeft();
    const int gap = 8;
    QRect below = centred;
    below.moveTop(typing.bottom() + gap);
    if (screen.contains(below))
        return below.topLeft();
    QRect above = centred;
    above.moveBottom(typing.top() - gap);
    if (screen.contains(above))
        return above.topLeft();
    return centred.topLeft();
}

} // namespace

TFormbox *TFormbox::showNotice(const Notice &notice)
{
    TFormbox *box = nullptr;
    if (notice.sessionId != 0) {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *open = qobject_cast<TFormbox *>(w);
            if (open && open->isVisible() && open->m_sessionId == notice.sessionId)
                box = open;
        }
    }
    if (!box) {
        // No parent widget: a notice outlives the dialog it may appear over.
        box = new TFormbox;
        box->m_sessionId = notice.sessionId;
        if (QScreen *screen = QGuiApplication::primaryScreen())
            box->move(
                placeBeside(screen->availableGeometry(), box->frameGeometry().size(), QApplication::activeWindow()));
    }
    box->setCustomer(notice.customer);
    box->setStat(notice.stat);
    box->setWindowTitle(notice.caption);
    box->m_shownAt = ++shownCount;
    if (QWidget *active = QApplication::activeWindow(); active != box) {
        box->m_returnTo = active;
        box->m_reached = false;
        box->m_shown.start();
    }
    box->winId();
    box->joinModalWindow();
    box->show();
    box->raise();
    raiseErrorBox();
    return box;
}

TFormbox *TFormbox::newest()
{
    TFormbox *found = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<TFormbox *>(w);
        if (box && box->isVisible() && (!found || box->m_shownAt > found->m_shownAt))
            found = box;
    }
    return found;
}

bool TFormbox::reachNewest()
{
    TFormbox *box = newest();
    if (!box)
        return false;
    box->m_reached = true;
    box->joinModalWindow();
    box->raise();
    box->activateWindow();
    box->BitBtn1->setFocus(Qt::ShortcutFocusReason);
    return true;
}

void TFormbox::installReachKey(QObject *owner)
{
    new ReachKeyFilter(owner);
}

void TFormbox::joinModalWindow()
{
    QWidget *modal = QApplication::activeModalWidget();
    // An error box is opened over the dialog it interrupts: the notice
    // joins that dialog and stays below the box.
    while (modal && isErrorBox(modal))
        modal = modal->parentWidget() ? modal->parentWidget()->window() : nullptr;
    if (!modal || modal == this || !windowHandle())
        return;
    modal->winId();
    windowHandle()->setTransientParent(modal->windowHandle());
}

void TFormbox::raiseErrorBox()
{
    if (QWidget *modal = QApplication::activeModalWidget(); modal && isErrorBox(modal))
        modal->raise();
}

bool TFormbox::event(QEvent *event)
{
    // Activated on showing, against the request not to be: the keys go
    // back to where the operator was typing. Later activations (a click,
    // the notice key) are the operator's own.
    if (event->type() == QEvent::WindowActivate && !m_reached && m_returnTo && m_shown.isValid()
        && m_shown.elapsed() < ActivationGraceMs) {
        m_reached = true;
        QMetaObject::invokeMethod(
            this,
            [to = m_returnTo] {
                if (to && to->isVisible())
                    to->activateWindow();
            },
            Qt::QueuedConnection);
    }
    // A modal dialog opened after the notice: join it too, so the notice
    // keeps working and stays above it. An error box stays above.
    if (event->type() == QEvent::WindowBlocked) {
        const bool done = QDialog::event(event);
        joinModalWindow();
        if (isVisible()) {
            QWidget *modal = QApplication::activeModalWidget();
            if (modal && isErrorBox(modal))
                modal->raise();
            else
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
