// bilmeko-render-picture: run by the build, never installed. Draws an SVG
// file at a size in pixels, as Qt's SVG icon engine draws an icon (the
// picture scaled into the size, its proportions kept, on transparency),
// and writes the pixels as they lie in a QImage of the premultiplied
// ARGB32 format on this machine: width x height 32-bit words, row after
// row. The program shows them without decoding anything.
//
//   bilmeko-render-picture <file.svg> <width> <height> <output>

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fputs("usage: bilmeko-render-picture <file.svg> <width> <height> <output>\n", stderr);
        return 2;
    }
    const QString svg = QString::fromLocal8Bit(argv[1]);
    const QSize size(QByteArray(argv[2]).toInt(), QByteArray(argv[3]).toInt());
    QSvgRenderer renderer(svg);
    if (!renderer.isValid() || size.isEmpty()) {
        std::fprintf(stderr, "bilmeko-render-picture: cannot draw %s at %sx%s\n", argv[1], argv[2], argv[3]);
        return 1;
    }
    const QSize drawn = renderer.defaultSize().scaled(size, Qt::KeepAspectRatio);
    if (drawn != size) {
        std::fprintf(stderr, "bilmeko-render-picture: %s is not %sx%s in proportion\n", argv[1], argv[2], argv[3]);
        return 1;
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(0);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();

    QFile out(QString::fromLocal8Bit(argv[4]));
    const qint64 bytes = qint64(size.width()) * size.height() * 4;
    if (!out.open(QIODevice::WriteOnly) || image.bytesPerLine() != size.width() * 4
        || out.write(reinterpret_cast<const char *>(image.constBits()), bytes) != bytes || !out.flush()) {
        std::fprintf(stderr, "bilmeko-render-picture: cannot write %s\n", argv[4]);
        return 1;
    }
    return 0;
}
