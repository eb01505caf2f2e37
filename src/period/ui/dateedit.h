#pragma once
// The period dialog's masked date edit. It checks its mask only when the
// user leaves it after changing it, and Esc there takes the changes back.

#include "period/core/periodrules.h"

#include <QLineEdit>

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
    // True when the user changed the text since the edit took the focus.
    bool changedSinceFocus() const { return isModified(); }

protected:
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    void refuseExit(Qt::FocusReason reason);

    DateMask m_mask;
    QString m_textOnFocus;
    bool m_keepingFocus = false;
};

} // namespace bilmeko
