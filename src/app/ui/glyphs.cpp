#include "glyphs.h"

#include <QGuiApplication>

namespace bilmeko::glyphs {

namespace {

QString path(const char *name)
{
    return QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name));
}

// Disabled images come from the icon itself (the style greys it), so every
// glyph has both.
QIcon load(const char *name)
{
    return QIcon(path(name));
}

} // namespace

QIcon newSession() { return load("new-session"); }
QIcon extendSession() { return load("extend-session"); }
QIcon stopSession() { return load("stop-session"); }
QIcon pauseSession() { return load("pause-session"); }
QIcon okTick() { return load("ok-tick"); }

QIcon appIcon()
{
    static const QIcon *const icon = new QIcon(load("bilmeko"));
    return *icon;
}

QPixmap logo()
{
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    return load("logo").pixmap(QSize(120, 26), dpr);
}

QStringList resourcePaths()
{
    QStringList paths;
    for (const char *name : {"new-session", "extend-session", "stop-session", "pause-session", "ok-tick", "bilmeko", "logo"})
        paths << path(name);
    return paths;
}

} // namespace bilmeko::glyphs
