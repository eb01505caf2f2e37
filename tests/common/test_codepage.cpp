// Windows-1251: every byte read as Qt's own converter reads it, characters
// without a byte, and a text without a byte not spoiling the next.

#include "common/core/codepage.h"

#include <QStringDecoder>
#include <QTest>

using namespace bilmeko;

class TestCodePage : public QObject
{
    Q_OBJECT
private slots:
    void everyByteRoundTrips()
    {
        for (int b = 0; b < 256; ++b) {
            const char c = char(b);
            const QString s = cp1251::decode(&c, 1);
            QCOMPARE(s.size(), 1);
            QVERIFY2(cp1251::canEncode(s), qPrintable(QString::number(b, 16)));
            QCOMPARE(cp1251::encode(s), QByteArray(1, c));
        }
        QCOMPARE(cp1251::decode(QByteArray("\xC0\xFF\xA8\xB8\x98")), QStringLiteral(u"АяЁё\u0098"));
        // Texts decode as Qt's converter decodes them.
        QByteArray all;
        for (int b = 255; b >= 0; --b)
            all += char(b);
        QStringDecoder qt("windows-1251");
        if (!qt.isValid())
            QSKIP("this Qt has no converter of its own to compare with");
        QCOMPARE(cp1251::decode(all), qt.decode(all));
    }

    void charactersWithoutAByte_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("CJK") << QStringLiteral(u"日本") << QByteArray("??");
        QTest::newRow("mixed") << QStringLiteral(u"Анна 日 x") << QByteArray("\xC0\xED\xED\xE0 ? x");
        QTest::newRow("pair, one per unit") << QStringLiteral(u"a\U0001F600b") << QByteArray("a??b");
        QTest::newRow("SUB stays itself") << QStringLiteral(u"\u001A") << QByteArray("\x1A");
    }
    void charactersWithoutAByte()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(cp1251::encode(text), bytes);
        QCOMPARE(cp1251::canEncode(text), !bytes.contains('?'));
    }

    void aFailedConversionDoesNotSpoilTheNext()
    {
        QVERIFY(!cp1251::canEncode(QStringLiteral(u"日")));
        QVERIFY(cp1251::canEncode(QStringLiteral(u"Стоп")));
        QCOMPARE(cp1251::encode(QStringLiteral(u"日")), QByteArray("?"));
        QCOMPARE(cp1251::encode(QStringLiteral(u"Стоп")), QByteArray("\xD1\xF2\xEE\xEF"));
        QVERIFY(!cp1251::canEncode(QStringLiteral(u"€日")));
        QVERIFY(cp1251::canEncode(QStringLiteral(u"€")));
    }
};

QTEST_GUILESS_MAIN(TestCodePage)
#include "test_codepage.moc"
