#include "dateedit.h"

#include "common/core/errors.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>

namespace bilmeko {

namespace {

// Eats the mouse press that took the focus away from an edit that refused
// to be left, and its release, so the pressed control does not act. That
// press is the next mouse event; if something else comes first, the focus
// moved some other way and nothing is eaten.
class SwallowPress : public QObject
{
public:
    SwallowPress() : QObject(qApp) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject *obj, QEvent *e) override
    {
        if (!obj->isWidgetType())
            return false;
        switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: m_pressed = true; return true;
        case QEvent::MouseMove:
            if (m_pressed)
                return static_cast<QMouseEvent *>(e)->buttons() != Qt::NoButton;
            done();
            return false;
        case QEvent::MouseButtonRelease:
        case QEvent::Wheel: done(); return m_pressed;
        default: return false;
        }
    }

private:
    void done()
    {
        qApp->removeEventFilter(this);
        deleteLater();
    }

    bool m_pressed = false;
};

bool isLeaving(Qt::FocusReason reason)
{
    // Another window taking the activation (the error box, the calendar) or
    // a menu popping up is no leaving.
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && reason != Qt::NoFocusReason;
}

} // namespace

DateEdit::DateEdit(QWidget *parent) : QLineEdit(parent), m_mask(DateMask::forFormats())
{
    setInputMask(m_mask.inputMask());
    setMaxLength(m_mask.length());
}

QString DateEdit::editText() const
{
    return m_mask.fromDisplay(displayText());
}

void DateEdit::setEditText(const QString &text)
{
    setText(m_mask.toDisplay(text));
    setModified(false);
}

bool DateEdit::halfTyped() const
{
    return isModified() && !m_mask.satisfied(editText());
}

void DateEdit::focusInEvent(QFocusEvent *e)
{
    // The first focus ever always records the text Esc goes back to; the
    // focus coming back from another window (the error box, the calendar)
    // keeps what was typed unconfirmed.
    if (!m_keepingFocus && (isLeaving(e->reason()) || m_textOnFocus.isNull())) {
        m_textOnFocus = editText();
        setModified(false);
    }
    QLineEdit::focusInEvent(e);
}

void DateEdit::keyPressEvent(QKeyEvent *e)
{
    // The first key of new typing also records the text Esc goes back to:
    // the focus may come before the window is active, and its event only
    // after the typing has begun.
    if (!isModified())
        m_textOnFocus = editText();
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier && isModified()) {
        setEditText(m_textOnFocus);
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

void DateEdit::focusOutEvent(QFocusEvent *e)
{
    QLineEdit::focusOutEvent(e);
    // The focus widget is already the one taking the focus.
    if (m_freeExits.contains(QApplication::focusWidget()))
        return;
    if (isLeaving(e->reason()) && halfTyped())
        refuseExit(e->reason());
}

void DateEdit::refuseExit(Qt::FocusReason reason)
{
    QApplication::beep();
    // A mouse press took the focus: that press must not act.
    if (reason == Qt::MouseFocusReason)
        new SwallowPress;
    m_keepingFocus = true;
    setFocus(Qt::OtherFocusReason);
    m_keepingFocus = false;
    // The box comes once the focus change is over.
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            showErrorBox(invalidInputMessage());
    });
}

} // namespace bilmeko
