#include "prices/core/pricelist.h"
#include "prices/core/pricetable.h"
#include "pricetestutil.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QTest>
#include <memory>

using namespace bilmeko;
using namespace pricetest;

namespace {
std::unique_ptr<MemTable> table()
{
    return std::unique_ptr<MemTable>(makePriceTable());
}

// The one message about a file's bad prices.
QString badPrices(const QString &path, const QStringList &named, int more = 0)
{
    return QStringLiteral("В файле «%1» неверные цены (нужно число от 0 до 1000000, дробная часть через "
                          "запятую) у услуг:\n%2%3\nЭти услуги не загружены. При сохранении цен их строки "
                          "останутся в файле как комментарии.")
        .arg(path, named.join('\n'), more ? QStringLiteral("\n… и ещё %1").arg(more) : QString());
}

QString saveFailure(const ProfileFile &ini, const MemTable &t)
{
    try {
        savePriceList(ini, t);
    } catch (const Error &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}
} // namespace

class TestPriceList : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { test::pinRussian(); }

    void loading_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("carrier");

        QTest::newRow("reverse of the file's order")
            << crlf({"[Price]", "A=1", "B=2", "C=3"}) << QStringList{"C=3", "B=2", "A=1"} << QStringList{}
            << QStringList{"Prices", "A=1", "B=2", "C=3"};
        QTest::newRow("empty values enter nothing")
            << crlf({"[Price]", "A=1", "B=", "C=\"\"", "D=  ", "E=4"}) << QStringList{"E=4", "A=1"} << QStringList{}
            << QStringList{"Prices", "A=1", "E=4"};
        QTest::newRow("keys differing in case: one row where the first was, first value")
            << crlf({"[Price]", "a=1", "B=2", "A=5"}) << QStringList{"B=2", "A=1"} << QStringList{}
            << QStringList{"Prices", "A=1", "B=2"};
        QTest::newRow("Cyrillic keys differing in case")
            << crlf({"[Price]", "МАССАЖ=15", "Сауна=8", "массаж=99"}) << QStringList{"Сауна=8", "массаж=15"}
            << QStringList{} << QStringList{"Prices", "массаж=15", "Сауна=8"};
        QTest::newRow("Ё and Ukrainian letters differing in case")
            << crlf({"[Price]", "ёлка=1", "Ґанок=4", "ЁЛКА=2", "ґанок=3"}) << QStringList{"ґанок=4", "ЁЛКА=1"}
            << QStringList{} << QStringList{"Prices", "ЁЛКА=1", "ґанок=4"};
        QTest::newRow("price forms: leading zeros, trailing comma, sign")
            << crlf({"[Price]", "A=007", "B=5,", "C=+3", "D=1,50"}) << QStringList{"D=1,5", "C=3", "B=5", "A=7"}
            << QStringList{} << QStringList{"Prices", "A=007", "B=5,", "C=+3", "D=1,50"};
        QTest::newRow("21 characters cut to 20")
            << crlf({"[Price]", "Солярий вертикальный!=25"}) << QStringList{"Солярий вертикальный=25"} << QStringList{}
            << QStringList{"Prices", "Солярий вертикальный!=25"};
        QTest::newRow("malformed value in the middle is left out, the rest loads")
            << crlf({"[Price]", "A=1", "B=2.5", "C=3,5"}) << QStringList{"C=3,5", "A=1"} << QStringList{"«B» = 2.5"}
            << QStringList{"Prices", "A=1", "B=2.5", "C=3,5"};
        QTest::newRow("name with '=' saved by another program")
            << crlf({"[Price]", "Маникюр=люкс=10"}) << QStringList{} << QStringList{"«Маникюр» = люкс=10"}
            << QStringList{"Prices", "Маникюр=люкс=10"};
        QTest::newRow("blanks and quotes around values")
            << crlf({"[Price]", "  Педикюр  =  ' 12,5 ' "}) << QStringList{"Педикюр=12,5"} << QStringList{}
            << QStringList{"Prices", "Педикюр= 12,5 "};
        QTest::newRow("a key named like the carrier is a service")
            << crlf({"[Price]", "Prices=3"}) << QStringList{"Prices=3"} << QStringList{}
            << QStringList{"Prices", "Prices=3"};
        QTest::newRow("other sections are not read")
            << crlf({"[Old]", "X=1", "[Price]", "A=1", "[Other]", "B=2"}) << QStringList{"A=1"} << QStringList{}
            << QStringList{"Prices", "A=1"};
        QTest::newRow("no section") << crlf({"[Other]", "A=1"}) << QStringList{} << QStringList{}
                                    << QStringList{"Prices"};
        QTest::newRow("no file") << QByteArray("<none>") << QStringList{} << QStringList{} << QStringList{"Prices"};
        QTest::newRow("exponent numbers; a negative price is not one")
            << crlf({"[Price]", "A=-1,5", "B=1E2"}) << QStringList{"B=100"} << QStringList{"«A» = -1,5"}
            << QStringList{"Prices", "A=-1,5", "B=1E2"};
        QTest::newRow("price limits") << crlf(
            {"[Price]", "Free=0", "Top=1000000", "Over=1000000,01", "Huge=1e+14", "Inf=1E400", "Minus zero=-0"})
                                      << QStringList{"Minus zero=0", "Top=1000000", "Free=0"}
                                      << QStringList{"«Over» = 1000000,01", "«Huge» = 1e+14", "«Inf» = 1E400"}
                                      << QStringList{"Prices",     "Free=0",    "Top=1000000",  "Over=1000000,01",
                                                     "Huge=1e+14", "Inf=1E400", "Minus zero=-0"};
    }

    void loading()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, messages);
        QFETCH(QStringList, carrier);
        OpenDir dir;
        const QString path = dir.file("Bilmeko.ini");
        if (file != "<none>")
            writeFile(path, file);
        auto t = table();
        QStringList lines{"Prices"};
        const QStringList expected
            = messages.isEmpty() ? QStringList() : QStringList{badPrices(ProfileFile(path).path(), messages)};
        QCOMPARE(loadPriceList(ProfileFile(path), lines, *t), expected);
        QCOMPARE(rowsOf(*t), rows);
        QCOMPARE(lines, carrier);
        QCOMPARE(t->currentRow(), rows.isEmpty() ? -1 : 0);
    }

    void loadingIntoAFilledTableGoesInFrontOfTheCurrentRow()
    {
        OpenDir dir;
        writeFile(dir.file("Bilmeko.ini"), crlf({"[Price]", "A=1", "B=2"}));
        auto t = table();
        addRows(*t, {"X=9", "Y=8"});
        t->setCurrentRow(1);
        QStringList carrier; // an empty carrier gets its own first line
        QVERIFY(loadPriceList(ProfileFile(dir.file("Bilmeko.ini")), carrier, *t).isEmpty());
        QCOMPARE(carrier, (QStringList{"Prices", "A=1", "B=2"}));
        QCOMPARE(rowsOf(*t), (QStringList{"X=9", "B=2", "A=1", "Y=8"}));
        QCOMPARE(t->currentRow(), 1);
    }

    // One message for the whole file; a long list names the first services
    // and counts the rest.
    void aBrokenFileShowsOneMessage()
    {
        OpenDir dir;
        QStringList lines{"[Price]"}, named;
        for (int i = 0; i < MaxNamedServices + 7; ++i) {
            lines << QStringLiteral("K%1=%1.5").arg(i);
            if (i < MaxNamedServices)
                named << QStringLiteral("«K%1» = %1.5").arg(i);
        }
        lines << "Ok=1";
        writeFile(dir.file("Bilmeko.ini"), crlf(lines));
        auto t = table();
        QStringList carrier{"Prices"};
        const ProfileFile ini(dir.file("Bilmeko.ini"));
        QCOMPARE(loadPriceList(ini, carrier, *t), QStringList{badPrices(ini.path(), named, 7)});
        QCOMPARE(rowsOf(*t), QStringList{"Ok=1"});
    }

    // A bad line is not lost by the next save: it stays as a comment, which
    // the following start no longer reports; a new line of the same name is
    // read.
    void badLinesSurviveASave()
    {
        OpenDir dir;
        const QString path = dir.file("Bilmeko.ini");
        writeFile(path,
                  crlf({"[Price]", "; за минуту", "Маникюр=10.5", "Сауна=8", "маникюр=12", "Педикюр=-3", "[Other]",
                        "x=1", "[price]", "Стрижка=люкс", "Массаж=15"}));
        const ProfileFile ini(path);
        auto t = table();
        QStringList carrier{"Prices"};
        QCOMPARE(loadPriceList(ini, carrier, *t).size(), 1);
        QCOMPARE(rowsOf(*t), (QStringList{"Массаж=15", "Сауна=8"}));
        t->setValue(t->appendRow(), 0, QStringLiteral("Маникюр"));
        t->setValue(t->rowCount() - 1, 1, 11.0);
        savePriceList(ini, *t);
        // The new lines where the first old one was, those of a later
        // section of the same name after them.
        QCOMPARE(readFile(path),
                 crlf({"[Price]", "; за минуту", "Маникюр=11", "Сауна=8", "Массаж=15", "; неверная цена: Стрижка=люкс",
                       "; неверная цена: Маникюр=10.5", "; неверная цена: Педикюр=-3", "[Other]", "x=1"}));
        auto back = table();
        carrier = QStringList{"Prices"};
        QVERIFY(loadPriceList(ini, carrier, *back).isEmpty());
        QCOMPARE(rowsOf(*back), rowsOf(*t));
        savePriceList(ini, *back);
        QCOMPARE(readFile(path).count(cp("; неверная цена:")), 3);
    }

    // A text editor's UTF-8 file, with or without its mark, gives the same
    // table as the code page, with one message; the save writes the code
    // page. Plain ASCII and code-page text are read as they always were.
    void encodings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("utf8");
        const QString text = QStringLiteral("[Price]\r\nСтрижка=12,5\r\nЁлка «люкс»=3\r\n");
        QTest::newRow("Windows-1251") << cp(text) << false;
        QTest::newRow("UTF-8") << text.toUtf8() << true;
        QTest::newRow("UTF-8 with its mark") << QByteArray("\xEF\xBB\xBF") + text.toUtf8() << true;
    }

    void encodings()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, utf8);
        OpenDir dir;
        const QString path = dir.file("Bilmeko.ini");
        writeFile(path, file);
        const ProfileFile ini(path);
        auto t = table();
        QStringList carrier{"Prices"};
        const QStringList messages = loadPriceList(ini, carrier, *t);
        QCOMPARE(rowsOf(*t), (QStringList{"Ёлка «люкс»=3", "Стрижка=12,5"}));
        QCOMPARE(messages,
                 utf8 ? QStringList{QStringLiteral("Файл «%1» записан в кодировке UTF-8. Он прочитан "
                                                   "как UTF-8, а при сохранении цен будет записан "
                                                   "в кодировке Windows-1251.")
                                        .arg(ini.path())}
                      : QStringList{});
        savePriceList(ini, *t);
        QCOMPARE(readFile(path), crlf({"[Price]", "Стрижка=12,5", "Ёлка «люкс»=3"}));
    }

    void codePageOfTheBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("codePage");
        QTest::addColumn<bool>("fromUtf8");
        QTest::newRow("ASCII stays") << QByteArray("[Price]\nA=1\n") << QByteArray("[Price]\nA=1\n") << false;
        QTest::newRow("the mark alone") << QByteArray("\xEF\xBB\xBF[P]") << QByteArray("[P]") << true;
        QTest::newRow("code page that is not UTF-8") << cp("Сауна=8") << cp("Сауна=8") << false;
        QTest::newRow("UTF-8 outside the code page") << QString("Чай 茶=1").toUtf8() << cp("Чай ?=1") << true;
        QTest::newRow("broken UTF-8 is the code page")
            << QByteArray("\xD0\xA1\xD0") << QByteArray("\xD0\xA1\xD0") << false;
        QTest::newRow("overlong form is not UTF-8") << QByteArray("\xC0\xAF") << QByteArray("\xC0\xAF") << false;
    }

    void codePageOfTheBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, codePage);
        QFETCH(bool, fromUtf8);
        const profile::CodePageBytes got = profile::toCodePage(bytes);
        QCOMPARE(got.bytes, codePage);
        QCOMPARE(got.fromUtf8, fromUtf8);
    }

    void saving_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QByteArray>("section");

        QTest::newRow("reverse of the table's order")
            << QStringList{"C=3", "B=2", "A=1"} << crlf({"[Price]", "A=1", "B=2", "C=3"});
        QTest::newRow("general number form")
            << QStringList{"E=0,00001", "D=1234567,125", "C=0,1", "B=10", "A=2,5"}
            << crlf({"[Price]", "A=2,5", "B=10", "C=0,1", "D=1234567,125", "E=0,00001"});
        QTest::newRow("same name twice: one key, the later price, the first spelling")
            << QStringList{"Массаж=15", "Сауна=8", "МАССАЖ=20"} << crlf({"[Price]", "Сауна=8", "Массаж=20"});
        QTest::newRow("empty price written empty") << QStringList{"B=2", "A="} << crlf({"[Price]", "A=", "B=2"});
        QTest::newRow("rows without a name are not written")
            << QStringList{"=5", "   =6", "A=1"} << crlf({"[Price]", "A=1"});
        QTest::newRow("names that could not be keys are not written")
            << QStringList{"a=b=5", "[VIP]=6", ";x=7", "A=1"} << crlf({"[Price]", "A=1"});
        QTest::newRow("blanks around names dropped") << QStringList{"  A  =1"} << crlf({"[Price]", "A=1"});
        QTest::newRow("empty table: a section without entries") << QStringList{} << crlf({"[Price]"});
    }

    void saving()
    {
        QFETCH(QStringList, rows);
        QFETCH(QByteArray, section);
        OpenDir dir;
        const QString path = dir.file("Bilmeko.ini");
        writeFile(path, crlf({"[Price]", "Old=1"}));
        auto t = table();
        // addRows takes the text before the first '=' as the name; the
        // "a=b=5" row gets its name set directly.
        addRows(*t, rows);
        for (int r = 0; r < rows.size(); ++r)
            if (rows[r] == "a=b=5") {
                t->setValue(r, 0, "a=b");
                t->setValue(r, 1, 5.0);
            }
        savePriceList(ProfileFile(path), *t);
        QCOMPARE(readFile(path), section);
    }

    // What is saved reads back in the table's order.
    void savedListReadsBack_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("services") << QStringList{"Солярий=25", "Массаж=15,5", "Маникюр=0,33", "Сауна=1E-5"};
        QTest::newRow("blank name and emptied price drop out") << QStringList{"A=1", "=2", "B=", "C=3"};
        QTest::newRow("repeated names") << QStringList{"A=1", "a=2", "B=3"};
        QTest::newRow("empty") << QStringList{};
        QStringList many;
        for (int i = 0; i < 40; ++i)
            many << QStringLiteral("Услуга %1=%2").arg((i * 17) % 40).arg(i);
        QTest::newRow("forty in no order") << many;
    }

    void savedListReadsBack()
    {
        QFETCH(QStringList, rows);
        OpenDir dir;
        const ProfileFile ini(dir.file("Bilmeko.ini"));
        auto t = table();
        addRows(*t, rows);
        savePriceList(ini, *t);
        auto back = table();
        QStringList carrier{"Prices"};
        QVERIFY(loadPriceList(ini, carrier, *back).isEmpty());
        QStringList expected;
        for (const profile::Entry &e : priceEntries(*t))
            if (!e.value.isEmpty())
                expected.append(e.key + '=' + e.value);
        QCOMPARE(rowsOf(*back), expected);
    }

    void orderingRoundTrip()
    {
        OpenDir dir;
        const QString path = dir.file("Bilmeko.ini");
        writeFile(path, crlf({"[Price]", "A=1", "B=2", "C=3"}));
        const ProfileFile ini(path);
        auto first = table();
        QStringList carrier{"Prices"};
        loadPriceList(ini, carrier, *first);
        QCOMPARE(rowsOf(*first), (QStringList{"C=3", "B=2", "A=1"}));
        // Saving and the next start change nothing the owner sees.
        for (int run = 0; run < 2; ++run) {
            savePriceList(ini, *first);
            QCOMPARE(readFile(path), crlf({"[Price]", "A=1", "B=2", "C=3"}));
            first = table();
            carrier = QStringList{"Prices"};
            loadPriceList(ini, carrier, *first);
            QCOMPARE(rowsOf(*first), (QStringList{"C=3", "B=2", "A=1"}));
        }
    }

    void otherSectionsAndCommentsSurvive()
    {
        OpenDir dir;
        const QString path = dir.file("Bilmeko.ini");
        const QByteArray head
            = QByteArray("; Bilmeko settings\r\n[Window]\r\nTop=5\n\n") + cp("[Price]\r\n; за минуту\r\n");
        const QByteArray tail("\r\n[Zeta]\r\n  odd line without equals\r\nk = 'v'\r\n");
        writeFile(path, head + cp("Сауна=8\r\nМассаж=15\r\n") + tail);
        auto t = table();
        addRows(*t, {"Массаж=16", "Сауна=8", "Новая=1"});
        savePriceList(ProfileFile(path), *t);
        QCOMPARE(readFile(path), head + cp("Новая=1\r\nСауна=8\r\nМассаж=16\r\n") + tail);
        t->clear();
        savePriceList(ProfileFile(path), *t);
        QCOMPARE(readFile(path), head + tail);
    }

    void refusedSaveLeavesTheOldFile_data()
    {
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::newRow("read-only file") << false;
        QTest::newRow("read-only folder") << true;
    }

    void refusedSaveLeavesTheOldFile()
    {
        QFETCH(bool, readOnlyFolder);
        OpenDir dir;
        const QString path = dir.file("Bilmeko.ini");
        const QByteArray before = crlf({"[Price]", "A=1", "B=2"});
        writeFile(path, before);
        setMode(path, readOnlyFolder ? 0666 : 0444);
        if (readOnlyFolder)
            dir.setMode(0555);
        auto t = table();
        addRows(*t, {"C=3"});
        QString message;
        {
            test::AsUnprivileged nobody;
            message = saveFailure(ProfileFile(path), *t);
        }
        dir.setMode(0777);
        QCOMPARE(message, "Unable to write to " + QFileInfo(path).absoluteFilePath());
        QCOMPARE(errorBoxText(message), message + '.');
        QCOMPARE(readFile(path), before);
    }

    // Prices up to the size limit load whole; as much junk loads what it
    // holds and a few messages, never crash.
    void hugeFiles()
    {
        OpenDir dir;
        const QString path = dir.file("Bilmeko.ini");
        QByteArray big("[Price]\r\n");
        int n = 0;
        while (big.size() < ProfileFile::MaxBytes - 64)
            big += cp(QStringLiteral("Услуга номер %1 для проверки=1,5\r\n").arg(n++));
        writeFile(path, big);
        auto t = table();
        QStringList carrier{"Prices"};
        QVERIFY(loadPriceList(ProfileFile(path), carrier, *t).isEmpty());
        QCOMPARE(t->rowCount(), n);
        QCOMPARE(t->value(0, 0).toString(), QStringLiteral("Услуга номер %1 для").arg(n - 1).left(20));

        QByteArray junk(ProfileFile::MaxBytes, '\0');
        quint32 x = 12345;
        for (char &c : junk) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 24);
        }
        junk.replace(5000, 9, "\n[Price]\n");
        writeFile(path, junk);
        auto j = table();
        carrier = QStringList{"Prices"};
        const QStringList messages = loadPriceList(ProfileFile(path), carrier, *j);
        QVERIFY(messages.size() <= 1);
        for (const QString &row : rowsOf(*j))
            QVERIFY(!row.endsWith('=')); // no service without a price
    }

    void sampleListLoads()
    {
        auto t = table();
        QStringList carrier{"Prices"};
        QVERIFY(loadPriceList(ProfileFile(BILMEKO_SAMPLE_INI), carrier, *t).isEmpty());
        QVERIFY(t->rowCount() >= 3);
        QCOMPARE(t->value(0, 0).toString(), QStringLiteral("Солярий"));
        QCOMPARE(t->value(0, 1).toDouble(), 25.0);
        QVERIFY(readFile(BILMEKO_SAMPLE_INI).contains("\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestPriceList)
#include "test_pricelist.moc"
