#include "glyphs.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

namespace bilmeko::glyphs {

namespace {

// Button glyphs are drawn on a 20-pixel grid and scaled to their size.
constexpr int Size = 16;

QPixmap canvas(int w = Size, int h = Size)
{
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    return pm;
}

// A greyed copy for the disabled state.
QPixmap greyed(const QPixmap &src)
{
    QImage img = src.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            const int g = 128 + qGray(c.rgb()) / 4;
            img.setPixelColor(x, y, QColor(g, g, g, c.alpha()));
        }
    return QPixmap::fromImage(img);
}

QIcon withDisabled(const QPixmap &pm)
{
    QIcon icon;
    icon.addPixmap(pm, QIcon::Normal);
    icon.addPixmap(greyed(pm), QIcon::Disabled);
    return icon;
}

} // namespace

QIcon newSession()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(Size / 20.0, Size / 20.0);
    p.setPen(QPen(QColor(0, 100, 0), 1));
    p.setBrush(QColor(40, 170, 60));
    p.drawEllipse(QRectF(1.5, 1.5, 17, 17));
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(10, 5), QPointF(10, 15));
    p.drawLine(QPointF(5, 10), QPointF(15, 10));
    p.end();
    return withDisabled(pm);
}

QIcon extendSession()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(Size / 20.0, Size / 20.0);
    p.setPen(QPen(QColor(20, 60, 150), 1.5));
    p.setBrush(QColor(235, 242, 255));
    p.drawEllipse(QRectF(1.5, 1.5, 17, 17));
    p.setPen(QPen(QColor(20, 60, 150), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(10, 4.5));
    p.drawLine(QPointF(10, 10), QPointF(14, 12));
    p.end();
    return QIcon(pm);
}

QIcon stopSession()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(Size / 20.0, Size / 20.0);
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i) {
        const double a = qDegreesToRadians(22.5 + 45.0 * i);
        octagon << QPointF(10 + 9 * std::cos(a), 10 + 9 * std::sin(a));
    }
    p.setPen(QPen(QColor(120, 0, 0), 1));
    p.setBrush(QColor(210, 30, 30));
    p.drawPolygon(octagon);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(5, 8.5, 10, 3));
    p.end();
    return withDisabled(pm);
}

QIcon okTick()
{
    QPixmap pm = canvas(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 140, 0), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
    p.end();
    return QIcon(pm);
}

QIcon appIcon()
{
    // Drawn once: the window, the tray and the application share it.
    static const QIcon *const drawn = new QIcon(drawAppIcon());
    return *drawn;
}

QIcon drawAppIcon()
{
    QIcon icon;
    for (int s : {16, 22, 32, 48}) {
        QPixmap pm = canvas(s, s);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 80, 170));
        p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s / 5.0, s / 5.0);
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setBold(true);
        f.setPixelSize(qRound(s * 0.75));
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, QStringLiteral("B"));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

QPixmap logo()
{
    QPixmap pm = canvas(120, 26);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 26);
    g.setColorAt(0, QColor(60, 110, 200));
    g.setColorAt(1, QColor(20, 60, 140));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 119, 25), 5, 5);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(15);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, 120, 26), Qt::AlignCenter, QStringLiteral("BILMEKO"));
    p.end();
    return pm;
}

} // namespace bilmeko::glyphs
