#pragma once
// The period dialog's masked date edit. It checks its mask only when the
// user leaves it after changing it for another control of the dialog; the
// controls that leave the dialog without its dates may always be reached.
// Esc while it holds unconfirmed typing takes the typing back (the text it
// had when it got the focus) instead of closing the dialog.

#include "period/core/periodrules.h"

#include <QLineEdit>
#include <QList>

namespace bilmeko {

class DateEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit DateEdit(QWidget *parent = nullptr);

    const DateMask &mask() const { return m_mask; }
    // The text as the program reads it: separators kept, empty places as
    // blanks in front of their group's digits ("  .  .    " when empty).
    QString editText() const;
    // Puts a text in through the mask; the edit counts as unchanged after.
    void setEditText(const QString &text);
    // The user changed the text and it does not satisfy the mask (fewer
    // than four year digits): the edit may not be left that way.
    bool halfTyped() const;
    // A control the focus may go to without the mask check (the dialog's
    // cancel button).
    void addFreeExit(QWidget *w) { m_freeExits << w; }
    // Refuses to let the text go as it is: a beep, the focus kept here,
    // the mask message once the current event is over.
    void refuseExit(Qt::FocusReason reason = Qt::OtherFocusReason);

protected:
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    DateMask m_mask;
    QList<QWidget *> m_freeExits;
    // What Esc goes back to.
    QString m_textOnFocus;
    // The focus comes back after a refused exit: not a new start.
    bool m_keepingFocus = false;
};

} // namespace bilmeko
