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
        QTest::newRow("21 characters cut to 20")
            << crlf({"[Price]", "Солярий вертикальный!=25"}) << QStringList{"Солярий вертикальный=25"}
            << QStringList{} << QStringList{"Prices", "Солярий вертикальный!=25"};
        QTest::newRow("malformed value in the middle is left out, the rest loads")
            << crlf({"[Price]", "A=1", "B=2.5", "C=3,5"}) << QStringList{"C=3,5", "A=1"}
            << QStringList{"'2.5' is not a valid floating point value"}
            << QStringList{"Prices", "A=1", "B=2.5", "C=3,5"};
        QTest::newRow("name with '=' saved by another program")
            << crlf({"[Price]", "Маникюр=люкс=10"}) << QStringList{}
            << QStringList{"'люкс=10' is not a valid floating point value"}
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
        QTest::newRow("negative and exponent numbers")
            << crlf({"[Price]", "A=-1,5", "B=1E2"}) << QStringList{"B=100", "A=-1,5"} << QStringList{}
            << QStringList{"Prices", "A=-1,5", "B=1E2"};
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
        QCOMPARE(loadPriceList(ProfileFile(path), lines, *t), messages);
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

    void aBrokenFileShowsAFewMessages()
    {
        OpenDir dir;
        QStringList lines{"[Price]"};
        for (int i = 0; i < 20; ++i)
            lines << QStringLiteral("K%1=%1.5").arg(i);
        lines << "Ok=1";
        writeFile(dir.file("Bilmeko.ini"), crlf(lines));
        auto t = table();
        QStringList carrier{"Prices"};
        const QStringList messages = loadPriceList(ProfileFile(dir.file("Bilmeko.ini")), carrier, *t);
        QCOMPARE(messages.size(), MaxLoadMessages);
        QCOMPARE(messages.first(), QStringLiteral("'0.5' is not a valid floating point value"));
        QCOMPARE(rowsOf(*t), QStringList{"Ok=1"});
    }

    void saving_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QByteArray>("section");

        QTest::newRow("table order") << QStringList{"C=3", "B=2", "A=1"} << crlf({"[Price]", "C=3", "B=2", "A=1"});
        QTest::newRow("general number form")
            << QStringList{"A=2,5", "B=10", "C=0,1", "D=1234567,125", "E=0,00001"}
            << crlf({"[Price]", "A=2,5", "B=10", "C=0,1", "D=1234567,125", "E=0,00001"});
        QTest::newRow("same name twice: one key, the later price, the first spelling")
            << QStringList{"Массаж=15", "Сауна=8", "МАССАЖ=20"} << crlf({"[Price]", "Массаж=20", "Сауна=8"});
        QTest::newRow("empty price written empty") << QStringList{"A=", "B=2"} << crlf({"[Price]", "A=", "B=2"});
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

    // What is saved reads back as saved, in reverse order.
    void savedListReadsBack_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("services") << QStringList{"Солярий=25", "Массаж=15,5", "Маникюр=0,33", "Сауна=1E-5"};
        QTest::newRow("blank name and emptied price drop out")
            << QStringList{"A=1", "=2", "B=", "C=3"};
        QTest::newRow("repeated names") << QStringList{"A=1", "a=2", "B=3"};
        QTest::newRow("empty") << QStringList{};
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
                expected.prepend(e.key + '=' + e.value);
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
        savePriceList(ini, *first);
        QCOMPARE(readFile(path), crlf({"[Price]", "C=3", "B=2", "A=1"}));
        auto second = table();
        carrier = QStringList{"Prices"};
        loadPriceList(ini, carrier, *second);
        QCOMPARE(rowsOf(*second), (QStringList{"A=1", "B=2", "C=3"}));
    }

    void otherSectionsAndCommentsSurvive()
    {
        OpenDir dir;
        const QString path = dir.file("Bilmeko.ini");
        const QByteArray head = QByteArray("; Bilmeko settings\r\n[Window]\r\nTop=5\n\n")
            + cp("[Price]\r\n; за минуту\r\n");
        const QByteArray tail("\r\n[Zeta]\r\n  odd line without equals\r\nk = 'v'\r\n");
        writeFile(path, head + cp("Сауна=8\r\nМассаж=15\r\n") + tail);
        auto t = table();
        addRows(*t, {"Массаж=16", "Сауна=8", "Новая=1"});
        savePriceList(ProfileFile(path), *t);
        QCOMPARE(readFile(path), head + cp("Массаж=16\r\nСауна=8\r\nНовая=1\r\n") + tail);
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

    // Ten megabytes of prices load whole; ten megabytes of junk load what
    // they hold and a few messages, never crash.
    void hugeFiles()
    {
        OpenDir dir;
        const QString path = dir.file("Bilmeko.ini");
        QByteArray big("[Price]\r\n");
        int n = 0;
        while (big.size() < 10 * 1024 * 1024)
            big += cp(QStringLiteral("Услуга номер %1 для проверки=1,5\r\n").arg(n++));
        writeFile(path, big);
        auto t = table();
        QStringList carrier{"Prices"};
        QVERIFY(loadPriceList(ProfileFile(path), carrier, *t).isEmpty());
        QCOMPARE(t->rowCount(), n);
        QCOMPARE(t->value(0, 0).toString(), QStringLiteral("Услуга номер %1 для").arg(n - 1).left(20));

        QByteArray junk(10 * 1024 * 1024, '\0');
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
        QVERIFY(messages.size() <= MaxLoadMessages);
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
