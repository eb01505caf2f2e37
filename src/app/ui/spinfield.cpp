#include "spinfield.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>
#include <limits>

namespace bilmeko {

namespace {
bool isSign(QChar c)
{
    return c == QLatin1Char('+') || c == QLatin1Char('-');
}

// Digits after the optional sign, without leading zeros.
QString significantDigits(const QString &text)
{
    qsizetype i = !text.isEmpty() && isSign(text.front()) ? 1 : 0;
    while (i < text.size() - 1 && text[i] == QLatin1Char('0'))
        ++i;
    return text.mid(i);
}
} // namespace

bool isSpinTypable(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || isSign(c);
}

bool isSpinWellFormed(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            continue;
        if (i == 0 && isSign(c))
            continue;
        return false;
    }
    return true;
}

std::optional<int> parseSpinNumber(const QString &text)
{
    if (!isSpinWellFormed(text))
        return std::nullopt;
    const QString digits = significantDigits(text);
    if (digits.isEmpty() || digits.size() > 10)
        return std::nullopt;
    qint64 v = digits.toLongLong();
    if (text.startsWith(QLatin1Char('-')))
        v = -v;
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(v);
}

int liveSpinValue(const QString &text)
{
    return parseSpinNumber(text).value_or(0);
}

int SpinRange::clamp(qint64 v) const
{
    return static_cast<int>(std::clamp<qint64>(v, min, max));
}

int SpinRange::stepped(const QString &text, int steps) const
{
    return clamp(qint64(liveSpinValue(text)) + qint64(steps) * step);
}

int SpinRange::settled(const QString &text) const
{
    if (const std::optional<int> v = parseSpinNumber(text))
        return clamp(*v);
    // Too many digits for a whole number still says which side it lies on.
    if (isSpinWellFormed(text) && !significantDigits(text).isEmpty())
        return text.startsWith(QLatin1Char('-')) ? min : max;
    return clamp(0);
}

SpinField::SpinField(SpinRange range, QWidget *parent) : QAbstractSpinBox(parent), m_range(range)
{
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setKeyboardTracking(true);
    lineEdit()->setText(QStringLiteral("0"));
    connect(lineEdit(), &QLineEdit::textChanged, this, &SpinField::textChanged);
}

QString SpinField::text() const
{
    return lineEdit()->text();
}

void SpinField::setText(const QString &text)
{
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
}

void SpinField::settle()
{
    const QString t = text();
    if (t.isEmpty())
        return;
    const QString settledText = QString::number(settledValue());
    if (t != settledText)
        setText(settledText);
}

void SpinField::stepBy(int steps)
{
    setValue(m_range.stepped(text(), steps));
    selectAll();
}

QValidator::State SpinField::validate(QString &input, int &) const
{
    return isSpinWellFormed(input) ? QValidator::Acceptable : QValidator::Invalid;
}

void SpinField::fixup(QString &) const
{
}

QAbstractSpinBox::StepEnabled SpinField::stepEnabled() const
{
    if (isReadOnly())
        return StepNone;
    return StepUpEnabled | StepDownEnabled;
}

void SpinField::keyPressEvent(QKeyEvent *event)
{
    const QString typed = event->text();
    const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (!command && typed.size() == 1 && typed[0].isPrint()) {
        bool refuse = !isSpinTypable(typed[0]);
        if (!refuse) {
            // A sign is welcome only where it leaves a whole-number text.
            QLineEdit *le = lineEdit();
            QString candidate = le->text();
            if (le->hasSelectedText())
                candidate.replace(le->selectionStart(), le->selectedText().size(), typed);
            else
                candidate.insert(le->cursorPosition(), typed);
            refuse = !isSpinWellFormed(candidate);
        }
        if (refuse) {
            QApplication::beep();
            event->accept();
            return;
        }
    }
    QAbstractSpinBox::keyPressEvent(event);
}

void SpinField::focusOutEvent(QFocusEvent *event)
{
    settle();
    QAbstractSpinBox::focusOutEvent(event);
    emit exited();
}

} // namespace bilmeko
