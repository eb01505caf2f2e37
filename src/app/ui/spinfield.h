#pragma once
// A whole-number field with up and down buttons, as the client dialog uses
// for hours and minutes. The rules live in SpinRange and the free functions
// below; SpinField only routes keys, buttons and focus to them.

#include <QAbstractSpinBox>
#include <QString>
#include <optional>

namespace bilmeko {

// Characters the operator may type into a duration: digits and the signs.
bool isSpinTypable(QChar c);
// An optional leading sign followed by digits (possibly none). Anything else
// (a sign after a digit, two signs) is refused in the field.
bool isSpinWellFormed(const QString &text);
// The whole number a text stands for; nothing for an empty text, a lone
// sign, a malformed text or one beyond the range of a 32-bit integer.
std::optional<int> parseSpinNumber(const QString &text);
// The value the live labels and the OK button see: a text that is not a
// whole number counts as 0.
int liveSpinValue(const QString &text);

struct SpinRange
{
    int min = 0;
    int max = 0;
    int step = 1;

    int clamp(qint64 v) const;
    // One press of a button or arrow key (steps may be negative): the live
    // value moved by steps × step and brought into the range.
    int stepped(const QString &text, int steps) const;
    // The value a text settles to when the field is left: empty or a lone
    // sign gives 0, a number outside the range (however many digits) the
    // nearest bound. This is also what the commands read, so they always get
    // a whole number within the range.
    int settled(const QString &text) const;
};

class SpinField : public QAbstractSpinBox
{
    Q_OBJECT
public:
    SpinField(SpinRange range, QWidget *parent = nullptr);

    const SpinRange &range() const { return m_range; }
    // The typed text as it stands (may be empty or not yet in range).
    QString text() const;
    void setText(const QString &text);
    void setValue(int v) { setText(QString::number(v)); }
    // What the field holds once left.
    int settledValue() const { return m_range.settled(text()); }
    // Puts the settled value into a non-empty text that differs from it; an
    // empty text is left for the owner (the dialog's exit handlers).
    void settle();

    void stepBy(int steps) override;
    QValidator::State validate(QString &input, int &pos) const override;
    void fixup(QString &input) const override;

signals:
    void textChanged(const QString &text);
    // The field lost the focus, after its own correction.
    void exited();

protected:
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    SpinRange m_range;
};

} // namespace bilmeko
