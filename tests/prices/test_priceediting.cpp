#include "prices/core/priceediting.h"
#include "prices/core/pricetable.h"
#include "pricetestutil.h"
#include "testsupport.h"

#include <QTest>
#include <cmath>
#include <limits>
#include <memory>

using namespace bilmeko;
using namespace pricetest;

class TestPriceEditing : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { test::pinRussian(); }

    // A script of grid actions over A, B, C starting on `start`:
    // i insert, d down, u up, m<N> move to N, n<text> name, p<text> price,
    // x delete, l leave.
    void rules_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("current");

        QTest::newRow("insert in front of the current row")
            << 1 << QStringList{"i"} << QStringList{"A=1", "=", "B=2", "C=3"} << 1;
        QTest::newRow("untouched new row dropped when left down")
            << 1 << QStringList{"i", "d"} << QStringList{"A=1", "B=2", "C=3"} << 1;
        QTest::newRow("untouched new row dropped when moved past")
            << 0 << QStringList{"i", "m3"} << QStringList{"A=1", "B=2", "C=3"} << 2;
        QTest::newRow("untouched new row dropped on leave")
            << 2 << QStringList{"i", "l"} << QStringList{"A=1", "B=2", "C=3"} << 2;
        QTest::newRow("named new row kept")
            << 1 << QStringList{"i", "nX", "u"} << QStringList{"A=1", "X=", "B=2", "C=3"} << 0;
        QTest::newRow("priced new row kept")
            << 0 << QStringList{"i", "p4", "d"} << QStringList{"=4", "A=1", "B=2", "C=3"} << 1;
        QTest::newRow("down on the last row appends once")
            << 2 << QStringList{"d", "d", "d"} << QStringList{"A=1", "B=2", "C=3", "="} << 3;
        QTest::newRow("appended row dropped going up")
            << 2 << QStringList{"d", "u"} << QStringList{"A=1", "B=2", "C=3"} << 2;
        QTest::newRow("a kept row is no longer new")
            << 2 << QStringList{"d", "nX", "u", "d", "n", "u"} << QStringList{"A=1", "B=2", "C=3", "="} << 2;
        QTest::newRow("delete in the middle: the following row")
            << 1 << QStringList{"x"} << QStringList{"A=1", "C=3"} << 1;
        QTest::newRow("delete the last row: the preceding row")
            << 2 << QStringList{"x"} << QStringList{"A=1", "B=2"} << 1;
        QTest::newRow("delete everything") << 0 << QStringList{"x", "x", "x", "x"} << QStringList{} << -1;
        QTest::newRow("insert after deleting the new row")
            << 0 << QStringList{"i", "x", "i"} << QStringList{"=", "A=1", "B=2", "C=3"} << 0;
        QTest::newRow("name cut to 20") << 0 << QStringList{"nАбвгдежзийклмнопрстуф"}
                                        << QStringList{"Абвгдежзийклмнопрсту=1", "B=2", "C=3"} << 0;
        QTest::newRow("price emptied") << 0 << QStringList{"p "} << QStringList{"A=", "B=2", "C=3"} << 0;
    }

    void rules()
    {
        QFETCH(int, start);
        QFETCH(QStringList, script);
        QFETCH(QStringList, rows);
        QFETCH(int, current);
        std::unique_ptr<MemTable> t(makePriceTable());
        addRows(*t, {"A=1", "B=2", "C=3"});
        t->setCurrentRow(start);
        PriceEditing e(*t);
        for (const QString &step : script) {
            const QString arg = step.mid(1);
            switch (step[0].toLatin1()) {
            case 'i': e.insertRow(); break;
            case 'd': e.down(); break;
            case 'u': e.up(); break;
            case 'm': e.moveTo(arg.toInt()); break;
            case 'n': e.setName(t->currentRow(), arg); break;
            case 'p': e.setPrice(t->currentRow(), arg); break;
            case 'x': e.deleteCurrent(); break;
            case 'l': e.leave(); break;
            }
        }
        QCOMPARE(rowsOf(*t), rows);
        QCOMPARE(t->currentRow(), current);
    }

    void priceText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("decimal comma") << "2,5" << true << QVariant(2.5);
        QTest::newRow("blanks around") << " 7 " << true << QVariant(7.0);
        QTest::newRow("empty empties") << "" << true << QVariant();
        QTest::newRow("blanks empty") << "   " << true << QVariant();
        QTest::newRow("point refused") << "2.5" << false << QVariant();
        QTest::newRow("letters refused") << "abc" << false << QVariant();
        QTest::newRow("grouping refused") << "1 000" << false << QVariant();
        QTest::newRow("currency sign refused") << "5 ₽" << false << QVariant();
    }

    void priceText()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(QVariant, stored);
        std::unique_ptr<MemTable> t(makePriceTable());
        addRows(*t, {"A=9"});
        PriceEditing e(*t);
        if (accepted) {
            e.setPrice(0, text);
            QCOMPARE(t->value(0, 1), stored);
        } else {
            try {
                e.setPrice(0, text);
                QFAIL("accepted");
            } catch (const Error &err) {
                QCOMPARE(err.message(),
                         QString("'%1' is not a valid floating point value for field 'PPrice'").arg(text));
            }
            QCOMPARE(t->value(0, 1).toDouble(), 9.0);
        }
    }

    void shownAndEditedForms()
    {
        QCOMPARE(PriceEditing::priceEditText(2.5), QStringLiteral("2,50"));
        QCOMPARE(PriceEditing::priceEditText(1234.565), QStringLiteral("1234,57"));
        QCOMPARE(PriceEditing::priceEditText(QVariant()), QString());
        QCOMPARE(PriceEditing::priceDisplayText(1234.5), Formats::current().currency(1234.5));
        QCOMPARE(PriceEditing::priceDisplayText(QVariant()), QString());
    }

    void acceptableNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("ok");
        QTest::newRow("plain") << "Стрижка модельная" << true;
        QTest::newRow("20 characters") << QString(20, QChar(0x0416)) << true;
        QTest::newRow("21 characters") << QString(21, 'x') << false;
        QTest::newRow("empty while typing") << "" << true;
        QTest::newRow("blanks while typing") << "  " << true;
        QTest::newRow("equals sign") << "a=b" << false;
        QTest::newRow("section bracket first") << " [VIP]" << false;
        QTest::newRow("bracket later") << "VIP [1]" << true;
        QTest::newRow("comment mark first") << ";x" << false;
        QTest::newRow("outside the code page") << "日本" << false;
        QTest::newRow("euro sign is in the code page") << "€ 5" << true;
    }

    void acceptableNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, ok);
        QCOMPARE(PriceEditing::acceptableName(name), ok);
    }

    // Whether the close has anything to ask about: only a difference from
    // the list as it was at the opening counts.
    void changedSinceTheOpening_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<bool>("changed");
        QTest::newRow("nothing") << QStringList{} << false;
        QTest::newRow("moves only") << QStringList{"d", "u"} << false;
        QTest::newRow("untouched new row dropped") << QStringList{"i", "l"} << false;
        QTest::newRow("price changed") << QStringList{"p1,5"} << true;
        QTest::newRow("price changed and back") << QStringList{"p7", "p1"} << false;
        QTest::newRow("price emptied") << QStringList{"p"} << true;
        QTest::newRow("name changed") << QStringList{"nZ"} << true;
        QTest::newRow("row deleted") << QStringList{"x"} << true;
        QTest::newRow("named new row") << QStringList{"i", "nQ", "l"} << true;
    }

    void changedSinceTheOpening()
    {
        QFETCH(QStringList, script);
        QFETCH(bool, changed);
        std::unique_ptr<MemTable> t(makePriceTable());
        addRows(*t, {"A=1", "B=2"});
        PriceEditing editing(*t);
        for (const QString &step : script) {
            switch (step[0].toLatin1()) {
            case 'd': editing.down(); break;
            case 'u': editing.up(); break;
            case 'i': editing.insertRow(); break;
            case 'l': editing.leave(); break;
            case 'x': editing.deleteCurrent(); break;
            case 'n': editing.setName(t->currentRow(), step.mid(1)); break;
            case 'p': editing.setPrice(t->currentRow(), step.mid(1)); break;
            }
        }
        QCOMPARE(editing.changed(), changed);
    }

    void priceLimits_data()
    {
        QTest::addColumn<double>("price");
        QTest::addColumn<bool>("valid");
        QTest::newRow("zero") << 0.0 << true;
        QTest::newRow("the bound") << MaxPricePerMinute << true;
        QTest::newRow("above") << std::nextafter(MaxPricePerMinute, 2e6) << false;
        QTest::newRow("negative") << -0.01 << false;
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << false;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << false;
    }

    void priceLimits()
    {
        QFETCH(double, price);
        QFETCH(bool, valid);
        QCOMPARE(isValidPrice(price), valid);
        // A whole day at the highest price keeps its kopecks.
        QCOMPARE(Formats::money(1440 * MaxPricePerMinute), QStringLiteral("1440000000,00"));
    }
};

QTEST_GUILESS_MAIN(TestPriceEditing)
#include "test_priceediting.moc"
