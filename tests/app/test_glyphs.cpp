// The pictures come from the renderings of the SVG files in the
// resources, ready pixels: every one loads, draws something, stays sharp at a higher
// pixel density, and the main window uses them (the window and tray share
// the application icon) without loading an SVG engine or an image-format
// plugin. The version label tells the data folder.

#include "app/ui/form1.h"
#include "app/ui/glyphs.h"
#include "testsupport_ui.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QResource>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace bilmeko;

namespace {

// Pixels that are not fully transparent.
int inked(const QPixmap &pm)
{
    const QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += qAlpha(img.pixel(x, y)) > 0;
    return n;
}

} // namespace

class TestGlyphs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void mainWindowLoadsNoPicturePlugin();
    void everyRenderingHoldsThePixelsOfItsSize();
    void iconsDraw_data();
    void iconsDraw();
    void sessionButtonsHaveDisabledImages();
    void logoKeepsItsSizeAtAnyDensity_data();
    void logoKeepsItsSizeAtAnyDensity();
    void mainWindowUsesThePictures();
    void versionLabelTellsTheDataFolder();

private:
    QTemporaryDir m_dir;
};

void TestGlyphs::initTestCase()
{
    test::pinRussian();
    glyphs::installStyle();
}

// The first case, so nothing before it has loaded a plugin.
void TestGlyphs::mainWindowLoadsNoPicturePlugin()
{
    TForm1 form(m_dir.path() + QLatin1Char('/'));
    QVERIFY(!form.grab().isNull());
    QFile maps(QStringLiteral("/proc/self/maps"));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    for (const char *part : {"/iconengines/", "/imageformats/", "libQt6Svg"})
        QVERIFY2(!mapped.contains(part), part);

    // The menu bar's "»" button, whose picture the style reads only now.
    auto *more = form.menuBar()->findChild<QToolButton *>(QStringLiteral("qt_menubar_ext_button"));
    QVERIFY(more);
    QVERIFY(inked(more->icon().pixmap(QSize(16, 16), 2.0)) > 4);
}

void TestGlyphs::everyRenderingHoldsThePixelsOfItsSize()
{
    QStringList expected;
    for (const char *name : {"new-session", "extend-session", "stop-session", "pause-session", "ok-tick"})
        for (int side : {16, 32, 48})
            expected << QStringLiteral(":/pictures/%1/%2x%2.argb").arg(QLatin1String(name)).arg(side);
    for (int scale : {1, 2, 3})
        expected << QStringLiteral(":/pictures/logo/%1x%2.argb").arg(120 * scale).arg(26 * scale);
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256})
        expected << QStringLiteral(":/pictures/bilmeko/%1x%1.argb").arg(side);
    QStringList paths = glyphs::resourcePaths();
    paths.sort();
    expected.sort();
    QCOMPARE(paths, expected);
    for (const QString &path : paths) {
        const QStringList size = path.section(QLatin1Char('/'), -1).chopped(5).split(QLatin1Char('x'));
        const int width = size[0].toInt();
        const int height = size[1].toInt();
        // Stored as they are: shown from where they lie.
        const QResource resource(path);
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
        QCOMPARE(resource.size(), qint64(width) * height * 4);
        const QImage image(resource.data(), width, height, QImage::Format_ARGB32_Premultiplied);
        QVERIFY2(inked(QPixmap::fromImage(image)) > width * height / 8, qPrintable(path));
    }
}

void TestGlyphs::iconsDraw_data()
{
    QTest::addColumn<QIcon>("icon");
    QTest::newRow("Новый") << glyphs::newSession();
    QTest::newRow("Продлить") << glyphs::extendSession();
    QTest::newRow("Стоп") << glyphs::stopSession();
    QTest::newRow("OK") << glyphs::okTick();
    QTest::newRow("application") << glyphs::appIcon();
}

void TestGlyphs::iconsDraw()
{
    QFETCH(QIcon, icon);
    QVERIFY(!icon.isNull());
    for (qreal dpr : {1.0, 2.0, 3.0}) {
        const QPixmap pm = icon.pixmap(QSize(16, 16), dpr);
        // Drawn for the density asked, not a small picture blown up.
        QCOMPARE(pm.size(), QSize(qRound(16 * dpr), qRound(16 * dpr)));
        QCOMPARE(pm.devicePixelRatio(), dpr);
        const int ink = inked(pm);
        QVERIFY2(ink > pm.width() * pm.height() / 8, qPrintable(QString::number(ink)));
    }
    // The application icon at the sizes of menus and docks.
    if (QTest::currentDataTag() == QLatin1String("application"))
        QCOMPARE(icon.pixmap(QSize(256, 256), 1.0).size(), QSize(256, 256));
}

void TestGlyphs::sessionButtonsHaveDisabledImages()
{
    for (const QIcon &icon : {glyphs::newSession(), glyphs::stopSession()}) {
        const QImage normal = icon.pixmap(QSize(16, 16), 1.0, QIcon::Normal).toImage();
        const QImage disabled = icon.pixmap(QSize(16, 16), 1.0, QIcon::Disabled).toImage();
        QCOMPARE(disabled.size(), normal.size());
        QVERIFY(disabled != normal);
        // Greyed: no colour left.
        const QImage grey = disabled.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < grey.height(); ++y)
            for (int x = 0; x < grey.width(); ++x) {
                const QRgb c = grey.pixel(x, y);
                if (qAlpha(c) > 0)
                    QVERIFY(qAbs(qRed(c) - qGreen(c)) <= 2 && qAbs(qGreen(c) - qBlue(c)) <= 2);
            }
    }
}

void TestGlyphs::logoKeepsItsSizeAtAnyDensity_data()
{
    QTest::addColumn<qreal>("dpr");
    QTest::newRow("96 dpi") << 1.0;
    QTest::newRow("192 dpi") << 2.0;
}

void TestGlyphs::logoKeepsItsSizeAtAnyDensity()
{
    QFETCH(qreal, dpr);
    const QPixmap pm = glyphs::logo(dpr);
    QCOMPARE(pm.deviceIndependentSize(), QSizeF(120, 26));
    QCOMPARE(pm.size(), QSize(qRound(120 * dpr), qRound(26 * dpr)));
    // The white letters are there: the middle row has white pixels.
    const QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
    int white = 0;
    for (int x = 0; x < img.width(); ++x)
        white += img.pixel(x, img.height() / 2) == qRgb(255, 255, 255);
    QVERIFY(white >= 10 * dpr);
}

void TestGlyphs::mainWindowUsesThePictures()
{
    TForm1 form(m_dir.path() + QLatin1Char('/'));
    const qint64 app = glyphs::appIcon().cacheKey();
    QCOMPARE(form.windowIcon().cacheKey(), app);
    auto *tray = form.findChild<QSystemTrayIcon *>(QStringLiteral("RxTrayIcon1"));
    QVERIFY(tray);
    QCOMPARE(tray->icon().cacheKey(), app);

    auto *logo = form.findChild<QLabel *>(QStringLiteral("Image1"));
    QVERIFY(logo);
    QCOMPARE(logo->geometry(), QRect(593, 216, 120, 26));
    QVERIFY(inked(logo->pixmap()) > 0);

    for (const char *name : {"SpeedButton1", "SpeedButton2", "SpeedButton3", "SpeedButton4"}) {
        auto *b = form.findChild<QToolButton *>(QLatin1String(name));
        QVERIFY(b);
        QVERIFY(inked(b->icon().pixmap(QSize(16, 16))) > 16);
    }
}

void TestGlyphs::versionLabelTellsTheDataFolder()
{
    const QString dir = m_dir.path() + QStringLiteral("/desk 1/");
    TForm1 form(dir);
    auto *label = form.findChild<QLabel *>(QStringLiteral("LabelV"));
    QVERIFY(label);
    QCOMPARE(label->toolTip(), QStringLiteral("Папка данных: %1").arg(dir));
    QCOMPARE(form.journalPath(), dir + QStringLiteral("Bilmeko.log"));
}

QTEST_MAIN(TestGlyphs)
#include "test_glyphs.moc"
