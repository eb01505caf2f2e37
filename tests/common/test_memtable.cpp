#include "common/core/memtable.h"
#include "common/ui/memtablemodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <cmath>
#include <limits>

using namespace bilmeko;

namespace {
MemTable *makeTable()
{
    return new MemTable({{"Name", FieldKind::Text, 5},
                         {"Money", FieldKind::Money},
                         {"Maybe", FieldKind::Float},
                         {"T", FieldKind::Time}});
}
QStringList names(MemTable &t)
{
    QStringList out;
    for (int r = 0; r < t.rowCount(); ++r)
        out << t.value(r, 0).toString();
    return out;
}
} // namespace

class TestMemTable : public QObject
{
    Q_OBJECT
private slots:
    void storageRules()
    {
        std::unique_ptr<MemTable> t(makeTable());
        t->insertRow();
        t->setField("NAME", "abcdefgh");
        t->setField("money", 2.5);
        t->setField("t", 1.0 + 0.5);
        QCOMPARE(t->text("Name"), QStringLiteral("abcde"));
        QCOMPARE(t->number("MONEY"), 2.5);
        QCOMPARE(t->number("T"), 0.5);
        QVERIFY(t->isNull("Maybe"));
        QCOMPARE(t->number("Maybe"), 0.0);
        QCOMPARE(t->text("Maybe"), QString());
        QVERIFY_THROWS_EXCEPTION(std::exception, t->field("nope"));
    }

    // Texts are kept packed a byte a character where they can be; whatever
    // they hold, they read back as set (cut to the field), through edits
    // and deletions that make the store pack itself again.
    void textsReadBackThroughEditsAndDeletions_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("latin") << QStringList{"Anna", "b c", "12345678"};
        QTest::newRow("russian") << QStringList{"Ёлка", "ёжик", "Щука", "Їжак", "абвгдеж"};
        QTest::newRow("other letters") << QStringList{"Café", "№ 5", "ß", "ΩΨ", "Zoë"};
        QTest::newRow("surrogates and controls")
            << QStringList{QString::fromUtf8("\xF0\x9F\x98\x80"), "a\tb", QString(QChar(0)) + "x", "Я😀"};
        QTest::newRow("empty") << QStringList{"", "x", ""};
    }
    void textsReadBackThroughEditsAndDeletions()
    {
        QFETCH(QStringList, texts);
        std::unique_ptr<MemTable> t(makeTable());
        QStringList want;
        for (int i = 0; i < 3000; ++i) {
            const QString s = (texts[i % texts.size()] + QString::number(i % 7)).left(5);
            if (i % 3 == 2 && !want.isEmpty()) {
                const int row = (i * 7) % static_cast<int>(want.size());
                t->deleteRowAt(row);
                want.removeAt(row);
            } else if (i % 3 == 1 && !want.isEmpty()) {
                const int row = (i * 13) % static_cast<int>(want.size());
                t->holdUpdates();
                t->setValue(row, 0, s);
                t->resumeUpdates();
                want[row] = s;
            } else {
                t->setCurrentRow(t->rowCount());
                t->appendRow();
                t->setValue(t->currentRow(), 0, s);
                t->setValue(t->currentRow(), 1, i);
                want.append(s);
            }
        }
        QCOMPARE(names(*t), want);
        // The store holds about what the live texts need, not every text
        // ever set.
        QVERIFY2(t->storageBytes() < static_cast<size_t>(t->rowCount()) * (8 + 4 * 8 + 2 * 5) * 2 + 16384,
                 QByteArray::number(qulonglong(t->storageBytes())));
        t->clear();
        QVERIFY(t->storageBytes() < 4096);
    }

    void numbersKeepEmptyAndNotANumberApart()
    {
        std::unique_ptr<MemTable> t(makeTable());
        t->insertRow();
        QVERIFY(t->isNull("Maybe"));
        t->setField("Maybe", std::numeric_limits<double>::quiet_NaN());
        QVERIFY(!t->isNull("Maybe"));
        QVERIFY(std::isnan(t->number("Maybe")));
        t->setField("Maybe", -0.0);
        QVERIFY(std::signbit(t->number("Maybe")));
        t->setField("Maybe", QVariant());
        QVERIFY(t->isNull("Maybe"));
        t->setField("Money", QVariant());
        QCOMPARE(t->number("Money"), 0.0);
        t->setField("Money", 1e300);
        QCOMPARE(t->number("Money"), 1e300);
    }

    void emptyTableReadsEmpty()
    {
        std::unique_ptr<MemTable> t(makeTable());
        QCOMPARE(t->currentRow(), -1);
        QCOMPARE(t->text("Name"), QString());
        QCOMPARE(t->number("Money"), 0.0);
        t->first();
        QVERIFY(t->eof());
    }

    void insertGoesInFrontOfCurrent()
    {
        std::unique_ptr<MemTable> t(makeTable());
        for (const char *n : {"A", "B", "C"}) {
            t->insertRow();
            t->setField("Name", n);
        }
        QCOMPARE(names(*t), (QStringList{"C", "B", "A"}));
        t->setCurrentRow(2);
        t->insertRow();
        t->setField("Name", "D");
        QCOMPARE(names(*t), (QStringList{"C", "B", "D", "A"}));
        QCOMPARE(t->currentRow(), 2);
    }

    void deleteMovesToFollowingOrPreceding()
    {
        std::unique_ptr<MemTable> t(makeTable());
        for (const char *n : {"C", "B", "A"}) {
            t->insertRow();
            t->setField("Name", n);
        }
        t->setCurrentRow(1);
        t->deleteRow();
        QCOMPARE(t->text("Name"), QStringLiteral("C"));
        QVERIFY(!t->eof());
        t->deleteRow();
        QCOMPARE(t->text("Name"), QStringLiteral("A"));
        QVERIFY(t->eof());
        t->deleteRow();
        QCOMPARE(t->currentRow(), -1);
    }

    void walkingAndDeletingVisitsEveryRowOnce()
    {
        std::unique_ptr<MemTable> t(makeTable());
        for (const char *n : {"E", "D", "C", "B", "A"}) {
            t->insertRow();
            t->setField("Name", n);
        }
        QStringList seen;
        t->first();
        while (!t->eof()) {
            const QString n = t->text("Name");
            seen << n;
            if (n == "B" || n == "C" || n == "E")
                t->deleteRow();
            else
                t->next();
        }
        QCOMPARE(seen, (QStringList{"A", "B", "C", "D", "E"}));
        QCOMPARE(names(*t), (QStringList{"A", "D"}));
    }

    void restoreCurrentFallsBackToLastRow()
    {
        std::unique_ptr<MemTable> t(makeTable());
        for (const char *n : {"C", "B", "A"}) {
            t->insertRow();
            t->setField("Name", n);
        }
        t->setCurrentRow(0);
        const auto id = t->currentId();
        t->setCurrentRow(2);
        t->restoreCurrent(id);
        QCOMPARE(t->currentRow(), 0);
        t->deleteRowAt(0);
        t->restoreCurrent(id);
        QCOMPARE(t->currentRow(), 1);
        t->clear();
        t->restoreCurrent(id);
        QCOMPARE(t->currentRow(), -1);
    }

    void heldUpdatesReachTheViewOnce()
    {
        std::unique_ptr<MemTable> t(makeTable());
        MemTableModel model(t.get(), {{"Name", "N"}, {"Money", "M"}, {"Maybe", "F"}, {"T", "T"}});
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTableView view;
        view.setModel(&model);
        followCursor(&view, t.get());
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
        t->holdUpdates();
        t->insertRow();
        t->setField("Name", "X");
        t->insertRow();
        QCOMPARE(model.rowCount(), 0);
        t->resumeUpdates();
        QCOMPARE(resets.size(), 1);
        QCOMPARE(changes.size(), 0);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(view.currentIndex().row(), 0);
        view.setCurrentIndex(model.index(1, 0));
        QCOMPARE(t->currentRow(), 1);
        QCOMPARE(model.data(model.index(1, 0), Qt::DisplayRole).toString(), QStringLiteral("X"));

        // Only values changed: the cells of the changed columns and rows are
        // redrawn, one range per run of adjacent columns; the view keeps its
        // place (no reset). A value set to what it was redraws nothing.
        const auto ranges = [&] {
            QStringList out;
            for (const QList<QVariant> &c : std::as_const(changes)) {
                const QModelIndex a = c[0].toModelIndex(), b = c[1].toModelIndex();
                out << QStringLiteral("%1,%2-%3,%4").arg(a.row()).arg(a.column()).arg(b.row()).arg(b.column());
            }
            changes.clear();
            return out.join(' ');
        };
        t->holdUpdates();
        t->setValue(0, 1, 5.0);
        t->setValue(1, 1, 6.0);
        t->resumeUpdates();
        QCOMPARE(resets.size(), 1);
        QCOMPARE(ranges(), QStringLiteral("0,1-1,1"));
        QCOMPARE(view.currentIndex().row(), 1);

        t->holdUpdates();
        t->setValue(1, 3, 0.5);
        t->setValue(1, 1, 7.0);
        t->setValue(0, 1, 5.0); // unchanged
        t->setValue(1, 0, "Y");
        t->resumeUpdates();
        QCOMPARE(ranges(), QStringLiteral("1,0-1,1 1,3-1,3"));

        t->holdUpdates();
        t->setValue(0, 1, 5.0);
        t->resumeUpdates();
        QCOMPARE(ranges(), QString());
    }

    // Deleting the current row of a bound view leaves the following row
    // current, as the table says, not whatever the view computed.
    void deletingUnderABoundViewKeepsTheTableCursor()
    {
        std::unique_ptr<MemTable> t(makeTable());
        MemTableModel model(t.get(), {{"Name", "N"}});
        QTableView view;
        view.setModel(&model);
        followCursor(&view, t.get());
        for (const char *n : {"C", "B", "A"}) {
            t->insertRow();
            t->setField("Name", n);
        }
        t->setCurrentRow(1);
        QCOMPARE(view.currentIndex().row(), 1);
        t->deleteRow();
        QCOMPARE(t->text("Name"), QStringLiteral("C"));
        QCOMPARE(view.currentIndex().row(), 1);
        t->setCurrentRow(0);
        t->insertRow();
        QCOMPARE(t->currentRow(), 0);
        QCOMPARE(view.currentIndex().row(), 0);
    }
};

QTEST_MAIN(TestMemTable)
#include "test_memtable.moc"
