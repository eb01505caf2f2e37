#include "updown.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace bilmeko {

UpDown::UpDown(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    m_repeat.setInterval(100);
    connect(&m_repeat, &QTimer::timeout, this, [this] {
        m_repeat.setInterval(100);
        if (m_pressed != 0)
            step(m_pressed > 0);
    });
}

void UpDown::setPosition(int position)
{
    m_position = std::clamp(position, m_min, m_max);
}

void UpDown::setRange(int min, int max)
{
    m_min = min;
    m_max = std::max(min, max);
    setPosition(m_position);
}

QRect UpDown::upRect() const
{
    return QRect(0, 0, width(), height() / 2);
}

QRect UpDown::downRect() const
{
    const int top = height() / 2;
    return QRect(0, top, width(), height() - top);
}

void UpDown::step(bool up)
{
    const int next = std::clamp(m_position + (up ? 1 : -1), m_min, m_max);
    if (next == m_position)
        return;
    m_position = next;
    emit clicked(up);
}

void UpDown::mousePressEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton || !isEnabled())
        return;
    m_pressed = upRect().contains(e->position().toPoint()) ? 1 : -1;
    update();
    step(m_pressed > 0);
    m_repeat.start(400);
}

void UpDown::mouseReleaseEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton)
        return;
    m_pressed = 0;
    m_repeat.stop();
    update();
}

void UpDown::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Up || e->key() == Qt::Key_Down) {
        step(e->key() == Qt::Key_Up);
        return;
    }
    QWidget::keyPressEvent(e);
}

void UpDown::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::EnabledChange && !isEnabled()) {
        m_pressed = 0;
        m_repeat.stop();
    }
    QWidget::changeEvent(e);
}

void UpDown::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const auto half = [&](const QRect &r, bool up) {
        QStyleOptionButton opt;
        opt.initFrom(this);
        opt.rect = r;
        const bool down = m_pressed == (up ? 1 : -1);
        opt.state |= down ? QStyle::State_Sunken : QStyle::State_Raised;
        if (!hasFocus())
            opt.state &= ~QStyle::State_HasFocus;
        style()->drawControl(QStyle::CE_PushButtonBevel, &opt, &p, this);
        // A small solid triangle.
        const QPoint c = r.center() + (down ? QPoint(1, 1) : QPoint());
        const QColor ink = isEnabled() ? palette().color(QPalette::ButtonText)
                                       : palette().color(QPalette::Disabled, QPalette::ButtonText);
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        QPolygon tri;
        if (up)
            tri << QPoint(c.x() - 3, c.y() + 2) << QPoint(c.x() + 4, c.y() + 2) << QPoint(c.x(), c.y() - 2);
        else
            tri << QPoint(c.x() - 3, c.y() - 1) << QPoint(c.x() + 4, c.y() - 1) << QPoint(c.x(), c.y() + 3);
        p.drawPolygon(tri);
    };
    half(upRect(), true);
    half(downRect(), false);
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

} // namespace bilmeko
