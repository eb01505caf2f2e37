#pragma once
// A vertical up-down control: two arrow buttons over a position of its own.
// An arrow counts only when it moves the position, which stays within its
// range and does not wrap.

#include <QTimer>
#include <QWidget>

namespace bilmeko {

class UpDown : public QWidget
{
    Q_OBJECT
public:
    explicit UpDown(QWidget *parent = nullptr);

    int position() const { return m_position; }
    void setPosition(int position);
    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    void setRange(int min, int max);

    // The half of the control an arrow occupies.
    QRect upRect() const;
    QRect downRect() const;

signals:
    // An arrow moved the position: up is true for the upper arrow.
    void clicked(bool up);

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void changeEvent(QEvent *e) override;

private:
    void step(bool up);

    int m_position = 0;
    int m_min = -32000;
    int m_max = 32000;
    int m_pressed = 0; // +1 upper arrow held, -1 lower, 0 none
    QTimer m_repeat;
};

} // namespace bilmeko
