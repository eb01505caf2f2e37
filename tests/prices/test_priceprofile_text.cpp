#include "prices/core/profiletext.h"
#include "pricetestutil.h"

#include <QRandomGenerator>
#include <QTest>

using namespace bilmeko;
using namespace bilmeko::profile;
using pricetest::cp;
using pricetest::crlf;

Q_DECLARE_METATYPE(QList<bilmeko::profile::Entry>)

namespace {
QStringList pairs(const QList<Entry> &entries)
{
    QStringList out;
    for (const Entry &e : entries)
        out << e.key + QLatin1Char('=') + e.value;
    return out;
}
} // namespace

class TestProfileText : public QObject
{
    Q_OBJECT
private slots:
    void reading_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QStringList>("entries"); // every key line, file order
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value"); // first line of the key wins

        const QByteArray basic = crlf({"[Price]", "A=1", "B=2", "C=3"});
        QTest::newRow("file order") << basic << "Price" << QStringList{"A=1", "B=2", "C=3"} << "B"
                                    << "2";
        QTest::newRow("section name in any case") << basic << "pRICE" << QStringList{"A=1", "B=2", "C=3"} << "c"
                                                  << "3";
        QTest::newRow("missing key reads empty") << basic << "Price" << QStringList{"A=1", "B=2", "C=3"} << "D"
                                                 << "";
        QTest::newRow("missing section") << basic << "Other" << QStringList{} << "A"
                                         << "";
        QTest::newRow("LF alone reads the same")
            << QByteArray("[Price]\nA=1\nB=2\nC=3") << "Price" << QStringList{"A=1", "B=2", "C=3"} << "C"
            << "3";
        QTest::newRow("repeated key: first line wins")
            << crlf({"[Price]", "a=1", "B=2", "A=5"}) << "Price" << QStringList{"a=1", "B=2", "A=5"} << "A"
            << "1";
        QTest::newRow("Cyrillic names without regard to case")
            << crlf({"[Цены]", "СТРИЖКА=5", "ёлка=1"}) << "цЕНЫ" << QStringList{"СТРИЖКА=5", "ёлка=1"} << "стрижка"
            << "5";
        QTest::newRow("Ё folds with ё") << crlf({"[Price]", "ЁЛКА=7"}) << "Price" << QStringList{"ЁЛКА=7"} << "ёлка"
                                        << "7";
        QTest::newRow("blanks around names and values") << crlf({"  [  Price  ]  ", " \tкрасивое имя \t=  2,5  "})
                                                        << "Price" << QStringList{"красивое имя=2,5"} << "красивое имя"
                                                        << "2,5";
        QTest::newRow("enclosing quotes removed")
            << crlf({"[Price]", "d=\" 1 \"", "s='2'", "mixed=\"3'", "lone=\"", "inner=a\"b\""}) << "Price"
            << QStringList{"d= 1 ", "s=2", "mixed=\"3'", "lone=\"", "inner=a\"b\""} << "s"
            << "2";
        QTest::newRow("value keeps later '='") << crlf({"[Price]", "a=b=c"}) << "Price" << QStringList{"a=b=c"} << "a"
                                               << "b=c";
        QTest::newRow("comments, empty keys and bare words are no keys")
            << crlf({"[Price]", "; note=1", "=5", "  =6", "bare", "", "A=1"}) << "Price" << QStringList{"A=1"} << "A"
            << "1";
        QTest::newRow("lines before the first section belong to none")
            << crlf({"A=9", "[Price]", "B=2"}) << "Price" << QStringList{"B=2"} << "A"
            << "";
        QTest::newRow("sections of one name read as one")
            << crlf({"[Price]", "A=1", "[Other]", "A=7", "[PRICE]", "B=2", "a=3"}) << "Price"
            << QStringList{"A=1", "B=2", "a=3"} << "a"
            << "1";
        QTest::newRow("header without closing bracket")
            << crlf({"[Price", "A=1"}) << "Price" << QStringList{"A=1"} << "A"
            << "1";
        QTest::newRow("empty value") << crlf({"[Price]", "A=", "B=\"\""}) << "Price" << QStringList{"A=", "B="} << "A"
                                     << "";
        QTest::newRow("empty text") << QByteArray() << "Price" << QStringList{} << "A"
                                    << "";
    }

    void reading()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, section);
        QFETCH(QStringList, entries);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const ProfileText t(text);
        QCOMPARE(pairs(t.entries(section)), entries);
        QStringList keys;
        for (const QString &e : entries)
            keys << e.left(e.indexOf(QLatin1Char('=')));
        QCOMPARE(t.keys(section), keys);
        QCOMPARE(t.value(section, key), value);
    }

    void editing_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<int>(
            "op"); // 0 withValue(Price, key, value), 1 withoutSection(Price), 2 withSection(Price, entries)
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<QByteArray>("after");

        const QList<Entry> none;
        const QList<Entry> cba{{"C", "3"}, {"B", "2"}, {"A", "1"}};

        QTest::newRow("write replaces the first line in place, other bytes kept")
            << QByteArray("; top\n[Price]\nA=1\nb = 2 \nB=9\n[X]\nk=v\n") << 0 << "B"
            << "5" << none << QByteArray("; top\n[Price]\nA=1\nB=5\r\nB=9\n[X]\nk=v\n");
        QTest::newRow("write appends to the end of its section, before the gap")
            << crlf({"[Price]", "A=1", "; last", "", "[X]", "k=v"}) << 0 << "Б"
            << "2" << none << crlf({"[Price]", "A=1", "; last", "Б=2", "", "[X]", "k=v"});
        QTest::newRow("write to a missing section appends it") << crlf({"[X]", "k=v"}) << 0 << "A"
                                                               << "1" << none << crlf({"[X]", "k=v", "[Price]", "A=1"});
        QTest::newRow("write after a last line without its end")
            << QByteArray("[X]\r\nk=v") << 0 << "A"
            << "1" << none << crlf({"[X]", "k=v", "[Price]", "A=1"});
        QTest::newRow("write into empty text") << QByteArray() << 0 << "A"
                                               << "1" << none << crlf({"[Price]", "A=1"});
        QTest::newRow("erase removes header and lines of every such section")
            << QByteArray("; c\r\n[Price]\r\nA=1\r\n; in\r\n\r\n[X]\nk=v\n[price]\nB=2\n") << 1 << ""
            << "" << none << QByteArray("; c\r\n[X]\nk=v\n");
        QTest::newRow("erase of a missing section changes nothing") << QByteArray("[X]\nk=v") << 1 << ""
                                                                    << "" << none << QByteArray("[X]\nk=v");
        QTest::newRow("section replaced in place; comments and the gap stay")
            << QByteArray("; head\n[X]\nk=v\n\n[Price]\n; per minute\nA=1\nB=2\n\n[Y]\nz=1\n") << 2 << ""
            << "" << cba << QByteArray("; head\n[X]\nk=v\n\n[Price]\n; per minute\nC=3\r\nB=2\r\nA=1\r\n\n[Y]\nz=1\n");
        QTest::newRow("section without entries gets them after its last text")
            << QByteArray("[Price]\n; nothing yet\n\n[Y]\n") << 2 << ""
            << "" << cba << QByteArray("[Price]\n; nothing yet\nC=3\r\nB=2\r\nA=1\r\n\n[Y]\n");
        QTest::newRow("later sections of the name go")
            << QByteArray("[Price]\nA=1\n[Y]\nz=1\n[PRICE]\nQ=7\n") << 2 << ""
            << "" << cba << QByteArray("[Price]\nC=3\r\nB=2\r\nA=1\r\n[Y]\nz=1\n");
        QTest::newRow("empty list keeps the header, clears the entries") << QByteArray("[Price]\nA=1\n[Y]\n") << 2 << ""
                                                                         << "" << none << QByteArray("[Price]\n[Y]\n");
        QTest::newRow("empty list adds no section") << QByteArray("[Y]\nz=1") << 2 << ""
                                                    << "" << none << QByteArray("[Y]\nz=1");
        QTest::newRow("missing section appended")
            << QByteArray("[Y]\nz=1") << 2 << ""
            << "" << cba << QByteArray("[Y]\nz=1\r\n[Price]\r\nC=3\r\nB=2\r\nA=1\r\n");
        QTest::newRow("Windows-1251 bytes written")
            << QByteArray() << 2 << ""
            << "" << QList<Entry>{{"Стрижка", "12,5"}, {"Пустая", ""}} << crlf({"[Price]", "Стрижка=12,5", "Пустая="});
    }

    void editing()
    {
        QFETCH(QByteArray, before);
        QFETCH(int, op);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QList<Entry>, entries);
        QFETCH(QByteArray, after);
        const ProfileText t(before);
        const QString price = QStringLiteral("Price");
        const QByteArray got = op == 0 ? t.withValue(price, key, value)
            : op == 1                  ? t.withoutSection(price)
                                       : t.withSection(price, entries);
        QCOMPARE(got, after);
        if (op == 0)
            QCOMPARE(ProfileText(got).value(price, key), value);
        if (op == 2)
            QCOMPARE(ProfileText(got).entries(price), entries);
    }

    // Whatever surrounds it, a written section reads back as written and
    // the rest of the text is unchanged.
    void sectionRoundTripOverJunk()
    {
        const QList<QByteArray> parts{"[Price]",
                                      "[PRICE ]",
                                      "[Other]",
                                      "[",
                                      "]",
                                      "A=1",
                                      "a = 2",
                                      "Б=3",
                                      "; c=1",
                                      "=",
                                      "  ",
                                      "\t",
                                      "x",
                                      "[Price",
                                      QByteArray("\0=\0", 3),
                                      "\r",
                                      "\xff\xfe=\x98",
                                      "[Прочее]",
                                      "key==v",
                                      "'q'='q'"};
        const QByteArray ends[] = {"\r\n", "\n", "\r\n", ""};
        QRandomGenerator rng(20261207);
        const QList<Entry> written{{"Солярий", "25"}, {"Массаж", "15,5"}, {"Prices", ""}, {"x y", "1E3"}};
        for (int round = 0; round < 2000; ++round) {
            QByteArray text;
            const int n = rng.bounded(12);
            for (int i = 0; i < n; ++i) {
                text += parts[rng.bounded(parts.size())];
                text += ends[rng.bounded(4)];
            }
            if (rng.bounded(4) == 0) {
                QByteArray junk(rng.bounded(64), '\0');
                for (char &c : junk)
                    c = static_cast<char>(rng.bounded(256));
                text += junk;
            }
            const ProfileText t(text);
            const QByteArray out = t.withSection(QStringLiteral("price"), written);
            const ProfileText back(out);
            QCOMPARE(back.entries(QStringLiteral("Price")), written);
            // Outside the section nothing changed (a last line may gain its end).
            const QByteArray restBefore = t.withoutSection(QStringLiteral("Price"));
            const QByteArray restAfter = back.withoutSection(QStringLiteral("Price"));
            QVERIFY2(restAfter == restBefore || restAfter == restBefore + "\r\n", text.toHex().constData());
            // Writing one key keeps the others.
            const QByteArray one
                = back.withValue(QStringLiteral("PRICE"), QStringLiteral("массаж"), QStringLiteral("7"));
            QList<Entry> expected = written;
            expected[1] = {QStringLiteral("массаж"), QStringLiteral("7")};
            QCOMPARE(ProfileText(one).entries(QStringLiteral("Price")), expected);
        }
    }

    void linesCoverTheBytes()
    {
        const QByteArray text("a\r\n\r\nb\rc\n\nlast");
        const std::vector<Line> lines = splitLines(text);
        QCOMPARE(lines.size(), size_t(5));
        qsizetype pos = 0;
        for (const Line &l : lines) {
            QCOMPARE(l.begin, pos);
            QVERIFY(l.begin <= l.end && l.end <= l.next);
            pos = l.next;
        }
        QCOMPARE(pos, text.size());
        QCOMPARE(text.mid(lines[2].begin, lines[2].end - lines[2].begin), QByteArray("b\rc"));
    }
};

QTEST_GUILESS_MAIN(TestProfileText)
#include "test_priceprofile_text.moc"
