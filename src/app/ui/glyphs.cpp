#include "glyphs.h"

#include <QApplication>
#include <QIconEngine>
#include <QMultiHash>
#include <QPainter>
#include <QPixmapCache>
#include <QPointer>
#include <QProxyStyle>
#include <QResource>
#include <QStyleFactory>
#include <QStyleOption>
#include <algorithm>
#include <optional>

namespace bilmeko::glyphs {

namespace {

const char *const Names[]
    = {"new-session", "extend-session", "stop-session", "pause-session", "ok-tick", "bilmeko", "logo"};

struct Rendering
{
    QSize size;
    QString path;
};

// Every rendering the build made: "name:<width>x<height>", apart by spaces.
constexpr char Renderings[] = BILMEKO_RENDERINGS;

// A picture's renderings, smallest first, each in the resource file
// ":/pictures/<name>/<width>x<height>.argb". The list is read once.
QList<Rendering> renderingsOf(const char *name)
{
    static const QMultiHash<QString, Rendering> all = [] {
        QMultiHash<QString, Rendering> out;
        for (const QString &entry : QString::fromLatin1(Renderings).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const qsizetype colon = entry.indexOf(QLatin1Char(':'));
            const qsizetype x = entry.indexOf(QLatin1Char('x'), colon);
            const QSize pixels(QStringView(entry).sliced(colon + 1, x - colon - 1).toInt(),
                               QStringView(entry).sliced(x + 1).toInt());
            if (colon > 0 && !pixels.isEmpty())
                out.insert(
                    entry.first(colon),
                    {pixels, QStringLiteral(":/pictures/%1/%2.argb").arg(entry.first(colon), entry.sliced(colon + 1))});
        }
        return out;
    }();
    QList<Rendering> out = all.values(QLatin1String(name));
    std::sort(out.begin(), out.end(),
              [](const Rendering &a, const Rendering &b) { return a.size.width() < b.size.width(); });
    return out;
}

// The rendering's pixels where the resource holds them, premultiplied
// ARGB32 as the build wrote them; a null image when the resource is not
// that (missing, compressed, or of another size).
QImage pixelsOf(const Rendering &r)
{
    const QResource resource(r.path);
    const qint64 bytes = qint64(r.size.width()) * r.size.height() * 4;
    if (!resource.isValid() || resource.compressionAlgorithm() != QResource::NoCompression || resource.size() != bytes)
        return {};
    return QImage(resource.data(), r.size.width(), r.size.height(), r.size.width() * 4,
                  QImage::Format_ARGB32_Premultiplied);
}

// One picture at any size: the smallest rendering that covers the size
// asked (scaled down to it when not exact), or else the largest. Other
// modes than Normal are made from it by the style, as for any icon (the
// disabled button's grey).
class PictureEngine final : public QIconEngine
{
public:
    PictureEngine(const char *name, QList<Rendering> renderings)
        : m_name(QLatin1String(name)), m_renderings(std::move(renderings))
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        QPixmap pm = pixmap((QSizeF(rect.size()) * dpr).toSize(), mode, state);
        pm.setDevicePixelRatio(dpr);
        painter->drawPixmap(rect, pm);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State) override
    {
        if (size.isEmpty() || m_renderings.isEmpty())
            return {};
        const QString key = QStringLiteral("bilmeko-picture:%1:%2x%3:%4")
                                .arg(m_name)
                                .arg(size.width())
                                .arg(size.height())
                                .arg(int(mode));
        QPixmap pm;
        if (QPixmapCache::find(key, &pm))
            return pm;
        pm = rendered(size);
        if (mode != QIcon::Normal && !pm.isNull() && qobject_cast<QApplication *>(QCoreApplication::instance())) {
            QStyleOption option;
            option.palette = QGuiApplication::palette();
            pm = QApplication::style()->generatedIconPixmap(mode, pm, &option);
        }
        QPixmapCache::insert(key, pm);
        return pm;
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (const Rendering &r : m_renderings)
            sizes.append(r.size);
        return sizes;
    }

    bool isNull() override { return m_renderings.isEmpty(); }
    QString key() const override { return QStringLiteral("BilmekoPicture"); }
    QIconEngine *clone() const override { return new PictureEngine(*this); }

private:
    PictureEngine(const PictureEngine &) = default;

    QPixmap rendered(const QSize &size) const
    {
        const auto covers = std::find_if(m_renderings.cbegin(), m_renderings.cend(), [&](const Rendering &r) {
            return r.size.width() >= size.width() && r.size.height() >= size.height();
        });
        const Rendering &from = covers != m_renderings.cend() ? *covers : m_renderings.last();
        QImage image = pixelsOf(from);
        if (!image.isNull() && image.size() != size)
            image = image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        return QPixmap::fromImage(std::move(image));
    }

    QString m_name;
    QList<Rendering> m_renderings;
};

QIcon load(const char *name)
{
    return QIcon(new PictureEngine(name, renderingsOf(name)));
}

// A standard picture of the style, asked of it when first drawn or
// measured.
class StandardPictureEngine final : public QIconEngine
{
public:
    StandardPictureEngine(const QStyle *style, QStyle::StandardPixmap which, Qt::LayoutDirection direction)
        : m_style(style), m_which(which), m_direction(direction)
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, 1.0, mode, state);
    }
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        return icon().pixmap((QSizeF(size) / scale).toSize(), scale, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    // Every style has these pictures; asking would read them.
    bool isNull() override { return false; }
    QString key() const override { return QStringLiteral("BilmekoStandardPicture"); }
    QIconEngine *clone() const override { return new StandardPictureEngine(m_style, m_which, m_direction); }

private:
    const QIcon &icon()
    {
        if (!m_icon) {
            QStyleOption option;
            option.direction = m_direction;
            m_icon = m_style ? m_style->standardIcon(m_which, &option) : QIcon();
        }
        return *m_icon;
    }

    QPointer<const QStyle> m_style;
    QStyle::StandardPixmap m_which;
    Qt::LayoutDirection m_direction;
    std::optional<QIcon> m_icon;
};

class DeskStyle final : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    QIcon standardIcon(StandardPixmap which, const QStyleOption *option, const QWidget *widget) const override
    {
        if (which == SP_ToolBarHorizontalExtensionButton || which == SP_ToolBarVerticalExtensionButton) {
            Qt::LayoutDirection direction = QGuiApplication::layoutDirection();
            if (option)
                direction = option->direction;
            else if (widget)
                direction = widget->layoutDirection();
            return QIcon(new StandardPictureEngine(baseStyle(), which, direction));
        }
        return QProxyStyle::standardIcon(which, option, widget);
    }
};

} // namespace

QIcon newSession()
{
    return load("new-session");
}
QIcon extendSession()
{
    return load("extend-session");
}
QIcon stopSession()
{
    return load("stop-session");
}
QIcon pauseSession()
{
    return load("pause-session");
}
QIcon okTick()
{
    return load("ok-tick");
}

QIcon appIcon()
{
    static const QIcon *const icon = new QIcon(load("bilmeko"));
    return *icon;
}

QPixmap logo(qreal devicePixelRatio)
{
    if (devicePixelRatio <= 0)
        devicePixelRatio = qApp ? qApp->devicePixelRatio() : 1.0;
    return load("logo").pixmap(QSize(120, 26), devicePixelRatio);
}

QStringList resourcePaths()
{
    QStringList paths;
    for (const char *name : Names)
        for (const Rendering &r : renderingsOf(name))
            paths << r.path;
    return paths;
}

void installStyle()
{
    // The style the application would have (a -style option or
    // QT_STYLE_OVERRIDE included), under the proxy.
    QApplication::setStyle(new DeskStyle(QStyleFactory::create(QApplication::style()->name())));
}

} // namespace bilmeko::glyphs
