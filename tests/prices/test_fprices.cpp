#include "prices/core/pricetable.h"
#include "prices/ui/fprices.h"
#include "pricetestutil.h"
#include "testsupport_ui.h"

#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <memory>

using namespace bilmeko;
using namespace pricetest;

namespace {

// The price editor over a table of its own, shown and active.
struct Editor
{
    explicit Editor(const QStringList &rows)
    {
        addRows(*table, rows);
        dialog = new TFPrices(*table, ProfileFile(iniPath()));
        dialog->show();
        dialog->activateWindow();
        grid = dialog->findChild<QTableView *>("DBGrid1");
        close = dialog->findChild<QPushButton *>("BitBtn1");
        save = dialog->findChild<QPushButton *>("BitBtn2");
    }
    ~Editor() { delete dialog.data(); }

    QString iniPath() const { return dir.file("Bilmeko.ini"); }
    QStringList rows() const { return rowsOf(*table); }
    int row() const { return table->currentRow(); }
    int column() const { return grid->currentIndex().column(); }
    QLineEdit *cellEditor() const
    {
        auto *e = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        return e && grid->isAncestorOf(e) ? e : nullptr;
    }
    void clickRow(int row) const
    {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualRect(grid->model()->index(row, 0)).center());
    }

    OpenDir dir;
    std::unique_ptr<MemTable> table{makePriceTable()};
    QPointer<TFPrices> dialog;
    QTableView *grid = nullptr;
    QPushButton *close = nullptr;
    QPushButton *save = nullptr;
};

void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QWidget *w = QApplication::focusWidget();
    QVERIFY(w);
    QTest::keyClick(w, static_cast<Qt::Key>(k), mods);
}

// Types text into whatever has the focus, a character at a time (the first
// character in the grid opens the cell editor).
void type(const QString &text)
{
    for (QChar c : text) {
        QWidget *w = QApplication::focusWidget();
        QVERIFY(w);
        QTest::sendKeyEvent(QTest::Click, w, static_cast<Qt::Key>(c.toUpper().unicode()), QString(c), Qt::NoModifier);
    }
}

} // namespace

class TestFPrices : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { test::pinRussian(); }

    void looksAsDesigned()
    {
        Editor e({"Солярий=25", "Массаж=15,5", "Пусто="});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        QCOMPARE(e.dialog->windowTitle(), QStringLiteral("Цены"));
        QCOMPARE(e.dialog->minimumSize(), QSize(406, 273));
        QCOMPARE(e.dialog->maximumSize(), QSize(406, 273));
        QVERIFY(e.dialog->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(e.grid->geometry(), QRect(4, 0, 233, 273));
        QAbstractItemModel *m = e.grid->model();
        QCOMPARE(m->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Услуга"));
        QCOMPARE(m->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Цена(мин.)"));
        QCOMPARE(e.grid->columnWidth(0), 129);
        QCOMPARE(m->index(1, 1).data().toString(), Formats::current().currency(15.5));
        QCOMPARE(m->index(1, 1).data().toString(), QString("15,50") + QChar(0xA0) + QChar(0x20BD));
        QCOMPARE(m->index(2, 1).data().toString(), QString());
        QCOMPARE(e.close->text(), QStringLiteral("Закрыть"));
        QCOMPARE(e.close->geometry(), QRect(240, 12, 165, 25));
        QCOMPARE(e.save->text(), QStringLiteral("Сохранить по умолчанию"));
        QCOMPARE(e.save->geometry(), QRect(244, 60, 161, 25));
        QVERIFY(!e.close->icon().isNull());
        QVERIFY(!e.save->icon().isNull());
        QCOMPARE(e.grid->currentIndex().row(), 0);
        QCOMPARE(QApplication::focusWidget(), e.grid);
    }

    void typingEditsInPlaceAndTabMovesBetweenCells()
    {
        Editor e({"Солярий=25", "Массаж=15"});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        type("Ванна");
        QVERIFY(e.cellEditor());
        QCOMPARE(e.cellEditor()->text(), QStringLiteral("Ванна"));
        key(Qt::Key_Tab);
        QCOMPARE(e.rows(), (QStringList{"Ванна=25", "Массаж=15"}));
        QCOMPARE(e.column(), 1);
        type("7,5");
        key(Qt::Key_Tab);
        QCOMPARE(e.rows(), (QStringList{"Ванна=7,5", "Массаж=15"}));
        QCOMPARE(e.row(), 1);
        QCOMPARE(e.column(), 0);
        key(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(e.row(), 0);
        QCOMPARE(e.column(), 1);
        key(Qt::Key_Tab);
        key(Qt::Key_Tab);
        QCOMPARE(e.row(), 1);
        QCOMPARE(e.column(), 1);
    }

    // Insert starts an empty row in front of the current one; leaving it
    // unchanged drops it, whichever way it is left.
    void untouchedNewRowIsDropped_data()
    {
        QTest::addColumn<QString>("leave");
        QTest::addColumn<QString>("current");
        QTest::newRow("Up") << "Up"
                            << "A=1";
        QTest::newRow("Down") << "Down"
                              << "B=2";
        QTest::newRow("click on another row") << "click"
                                              << "C=3";
        QTest::newRow("Закрыть") << "close"
                                 << "";
        QTest::newRow("focus to a button") << "focus"
                                           << "B=2";
    }

    void untouchedNewRowIsDropped()
    {
        QFETCH(QString, leave);
        QFETCH(QString, current);
        Editor e({"A=1", "B=2", "C=3"});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        key(Qt::Key_Down);
        key(Qt::Key_Insert);
        QCOMPARE(e.rows(), (QStringList{"A=1", "=", "B=2", "C=3"}));
        QCOMPARE(e.row(), 1);
        QCOMPARE(e.grid->model()->headerData(1, Qt::Vertical).toString(), QStringLiteral("*"));
        key(Qt::Key_Insert); // a second Insert on the untouched row adds nothing
        QCOMPARE(e.table->rowCount(), 4);
        if (leave == "Up")
            key(Qt::Key_Up);
        else if (leave == "Down")
            key(Qt::Key_Down);
        else if (leave == "click")
            e.clickRow(3);
        else if (leave == "close")
            QTest::mouseClick(e.close, Qt::LeftButton);
        else
            e.save->setFocus(Qt::TabFocusReason);
        QCOMPARE(e.rows(), (QStringList{"A=1", "B=2", "C=3"}));
        if (!current.isEmpty()) {
            QCOMPARE(e.rows().at(e.row()), current);
            QCOMPARE(e.grid->currentIndex().row(), e.row());
        } else {
            QTRY_VERIFY(e.dialog.isNull());
        }
        QVERIFY(!QFile::exists(e.iniPath()));
    }

    void downOnTheLastRowAppends()
    {
        Editor e({"A=1"});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        key(Qt::Key_Down);
        QCOMPARE(e.rows(), (QStringList{"A=1", "="}));
        QCOMPARE(e.row(), 1);
        key(Qt::Key_Down); // not another one while this one is untouched
        QCOMPARE(e.table->rowCount(), 2);
        type("Сауна");
        key(Qt::Key_Tab);
        type("8");
        key(Qt::Key_Down); // posts the row and appends the next
        QCOMPARE(e.rows(), (QStringList{"A=1", "Сауна=8", "="}));
        key(Qt::Key_Up);
        QCOMPARE(e.rows(), (QStringList{"A=1", "Сауна=8"}));
        QCOMPARE(e.row(), 1);
    }

    void emptyListGrowsWithDownOrInsert()
    {
        Editor e({});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        key(Qt::Key_Insert);
        QCOMPARE(e.table->rowCount(), 1);
        type("Массаж");
        key(Qt::Key_Tab);
        type("15");
        key(Qt::Key_Tab); // Tab past the last cell goes on to a new row
        QCOMPARE(e.rows(), (QStringList{"Массаж=15", "="}));
        QCOMPARE(e.column(), 0);
        // Insert right after typing a price: the next row starts with its
        // name, as with the add button, not in the price column.
        type("Сауна");
        key(Qt::Key_Tab);
        type("8");
        key(Qt::Key_Insert);
        QCOMPARE(e.column(), 0);
        type("Душ");
        key(Qt::Key_Tab);
        type("2");
        key(Qt::Key_Return);
        QCOMPARE(e.rows(), (QStringList{"Массаж=15", "Душ=2", "Сауна=8"}));
    }

    void ctrlDeleteAsks_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("OK deletes") << "ok" << QStringList{"A=1", "C=3"};
        QTest::newRow("Cancel keeps") << "cancel" << QStringList{"A=1", "B=2", "C=3"};
        QTest::newRow("Esc answers Cancel") << "esc" << QStringList{"A=1", "B=2", "C=3"};
    }

    void ctrlDeleteAsks()
    {
        QFETCH(QString, answer);
        QFETCH(QStringList, rows);
        Editor e({"A=1", "B=2", "C=3"});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        key(Qt::Key_Down);
        QString text, title;
        bool okIsDefault = false;
        test::onNextModal([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box) {
                w->close();
                return;
            }
            text = box->text();
            title = box->windowTitle();
            okIsDefault = box->defaultButton() == box->button(QMessageBox::Ok) && box->button(QMessageBox::Cancel);
            if (answer == "esc")
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->button(answer == "ok" ? QMessageBox::Ok : QMessageBox::Cancel)->click();
        });
        key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(text, QStringLiteral("Delete record?"));
        QCOMPARE(title, QStringLiteral("Confirm"));
        QVERIFY(okIsDefault);
        QCOMPARE(e.rows(), rows);
        QCOMPARE(e.rows().at(e.row()), answer == "ok" ? QStringLiteral("C=3") : QStringLiteral("B=2"));
    }

    void nameCellLimits()
    {
        Editor e({"A=1"});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        type("Абвгдежзийклмнопрстуфхцч"); // 24 letters
        key(Qt::Key_Return);
        QCOMPARE(e.rows(), QStringList{"Абвгдежзийклмнопрсту=1"});
        type("a=b");
        key(Qt::Key_Return);
        QCOMPARE(e.rows(), QStringList{"ab=1"});
        type("[VIP]");
        key(Qt::Key_Return);
        QCOMPARE(e.rows(), QStringList{"VIP]=1"});
    }

    void priceCellShowsCurrencyEditsFixedPoint()
    {
        Editor e({"A=0,333"});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        QCOMPARE(e.grid->model()->index(0, 1).data().toString(), Formats::current().currency(0.333));
        key(Qt::Key_Tab);
        key(Qt::Key_Return); // opens the cell
        QVERIFY(e.cellEditor());
        QCOMPARE(e.cellEditor()->text(), QStringLiteral("0,33"));
        key(Qt::Key_Return); // unchanged text keeps the stored price
        QCOMPARE(e.table->value(0, 1).toDouble(), 0.333);
        type("12,345");
        key(Qt::Key_Return);
        QCOMPARE(e.table->value(0, 1).toDouble(), 12.345);
        key(Qt::Key_Return);
        key(Qt::Key_Backspace);
        key(Qt::Key_Return); // empty text empties the price
        QVERIFY(e.table->value(0, 1).isNull());
    }

    // Text that is not a number is refused; the cell stays in editing
    // whichever way the operator tries to leave it.
    void badPriceIsRefused_data()
    {
        QTest::addColumn<QString>("leave");
        QTest::newRow("Tab") << "tab";
        QTest::newRow("Down") << "down";
        QTest::newRow("Enter") << "enter";
        QTest::newRow("click on another row") << "click";
        QTest::newRow("Сохранить по умолчанию") << "save";
        QTest::newRow("Закрыть") << "close";
    }

    void badPriceIsRefused()
    {
        QFETCH(QString, leave);
        Editor e({"A=1", "B=2"});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        key(Qt::Key_Tab);
        type("2.5");
        test::ErrorRecorder errors;
        if (leave == "tab")
            key(Qt::Key_Tab);
        else if (leave == "down")
            key(Qt::Key_Down);
        else if (leave == "enter")
            key(Qt::Key_Return);
        else if (leave == "click")
            e.clickRow(1);
        else
            QTest::mouseClick(leave == "save" ? e.save : e.close, Qt::LeftButton);
        QCOMPARE(errors.messages, QStringList{"'2.5' is not a valid floating point value for field 'PPrice'."});
        QVERIFY(!e.dialog.isNull() && e.dialog->isVisible());
        QVERIFY(e.cellEditor());
        QCOMPARE(e.cellEditor()->text(), QStringLiteral("2.5"));
        QCOMPARE(e.rows(), (QStringList{"A=1", "B=2"}));
        QCOMPARE(e.row(), 0);
        QVERIFY(!QFile::exists(e.iniPath()));
        // Mended, the text goes in.
        e.cellEditor()->selectAll();
        type("2,5");
        key(Qt::Key_Return);
        QCOMPARE(e.rows(), (QStringList{"A=2,5", "B=2"}));
        QCOMPARE(errors.messages.size(), 1);
    }

    void savePostsThePendingEditAndCloses()
    {
        Editor e({"Солярий=25", "Массаж=15"});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        key(Qt::Key_Down);
        key(Qt::Key_Tab);
        type("16");
        QVERIFY(e.cellEditor()); // still in the cell
        QTest::mouseClick(e.save, Qt::LeftButton);
        QTRY_VERIFY(e.dialog.isNull());
        // Written so that the next start shows the editor's order.
        QCOMPARE(readFile(e.iniPath()), crlf({"[Price]", "Массаж=16", "Солярий=25"}));
        QCOMPARE(e.rows(), (QStringList{"Солярий=25", "Массаж=16"}));
    }

    void failedSaveShowsTheMessageAndStillCloses()
    {
        Editor e({"A=1"});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        const QByteArray before = crlf({"[Price]", "Old=5"});
        writeFile(e.iniPath(), before);
        setMode(e.iniPath(), 0666);
        e.dir.setMode(0555);
        test::ErrorRecorder errors;
        {
            test::AsUnprivileged nobody;
            QTest::mouseClick(e.save, Qt::LeftButton);
        }
        e.dir.setMode(0777);
        QCOMPARE(errors.messages, QStringList{"Unable to write to " + QFileInfo(e.iniPath()).absoluteFilePath() + "."});
        QTRY_VERIFY(e.dialog.isNull());
        QCOMPARE(readFile(e.iniPath()), before);
    }

    void escWithoutChangesClosesWithoutAQuestion()
    {
        Editor e({"A=1"});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        type("B");
        key(Qt::Key_Escape); // the first Esc cancels the cell
        QCOMPARE(e.rows(), QStringList{"A=1"});
        QVERIFY(!e.dialog.isNull());
        type("C");
        key(Qt::Key_Backspace);
        type("A");
        key(Qt::Key_Tab); // the same text again: nothing changed
        key(Qt::Key_Escape);
        QTRY_VERIFY(e.dialog.isNull());
        QVERIFY(!QFile::exists(e.iniPath()));
    }

    // Closing with unsaved changes asks; every way of closing does.
    void closingWithChangesAsks_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<QByteArray>("file");
        const QByteArray saved = crlf({"[Price]", "C=1"});
        QTest::newRow("Закрыть, Сохранить") << "button"
                                            << "Сохранить" << true << saved;
        QTest::newRow("Esc, Сохранить") << "esc"
                                        << "Сохранить" << true << saved;
        QTest::newRow("Закрыть, Enter saves") << "button"
                                              << "enter" << true << saved;
        QTest::newRow("Закрыть, Не сохранять") << "button"
                                               << "Не сохранять" << true << QByteArray();
        QTest::newRow("Esc, Отмена") << "esc"
                                     << "Отмена" << false << QByteArray();
        QTest::newRow("Закрыть, Esc stays") << "button"
                                            << "esc" << false << QByteArray();
    }

    void closingWithChangesAsks()
    {
        QFETCH(QString, how);
        QFETCH(QString, answer);
        QFETCH(bool, closed);
        QFETCH(QByteArray, file);
        Editor e({"A=1"});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        type("C");
        key(Qt::Key_Tab);
        QString text;
        test::onNextModal([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            QVERIFY(box);
            QCOMPARE(box->objectName(), QStringLiteral("ConfirmSave"));
            text = box->text();
            if (answer == "esc" || answer == "enter") {
                QTest::keyClick(box, answer == "esc" ? Qt::Key_Escape : Qt::Key_Return);
                return;
            }
            for (QAbstractButton *b : box->buttons())
                if (b->text() == answer)
                    b->click();
        });
        if (how == "esc")
            key(Qt::Key_Escape);
        else
            QTest::mouseClick(e.close, Qt::LeftButton);
        QCOMPARE(text,
                 QStringLiteral("Цены изменены, но не сохранены в файле «%1». Сохранить их?\nЕсли не "
                                "сохранить, изменения действуют только до выхода из программы.")
                     .arg(QFileInfo(e.iniPath()).absoluteFilePath()));
        if (closed)
            QTRY_VERIFY(e.dialog.isNull());
        else
            QVERIFY(!e.dialog.isNull() && e.dialog->isVisible());
        QCOMPARE(e.rows(), QStringList{"C=1"}); // the edit stays for the run either way
        QCOMPARE(readFile(e.iniPath()), file.isEmpty() ? QByteArray("<unreadable>") : file);
    }

    // The buttons beside the grid do what Insert and Ctrl+Delete do, and sit
    // below the two the dialog always had.
    void addAndDeleteButtons()
    {
        Editor e({"A=1", "B=2"});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        auto *add = e.dialog->findChild<QPushButton *>("BitBtn3");
        auto *del = e.dialog->findChild<QPushButton *>("BitBtn4");
        QVERIFY(add && del && add->isVisible() && del->isVisible());
        for (QPushButton *b : {add, del}) {
            QVERIFY(!b->geometry().intersects(e.close->geometry()));
            QVERIFY(!b->geometry().intersects(e.save->geometry()));
            QVERIFY(!b->geometry().intersects(e.grid->geometry()));
            QVERIFY(e.dialog->rect().contains(b->geometry()));
        }
        QVERIFY(add->toolTip().contains("Insert"));
        QVERIFY(del->toolTip().contains("Ctrl+Delete"));
        key(Qt::Key_Down);
        QTest::mouseClick(add, Qt::LeftButton);
        QVERIFY(e.cellEditor()); // the new row's name, open for typing
        QCOMPARE(e.row(), 1);
        type("Новая");
        key(Qt::Key_Tab);
        type("3");
        key(Qt::Key_Return);
        QCOMPARE(e.rows(), (QStringList{"A=1", "Новая=3", "B=2"}));
        test::answerNextMessageBox(QMessageBox::Ok);
        QTest::mouseClick(del, Qt::LeftButton);
        QCOMPARE(e.rows(), (QStringList{"A=1", "B=2"}));
        e.dialog->activateWindow(); // the offscreen platform does not return it
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        // An added row left untouched goes, as with Insert.
        QTest::mouseClick(add, Qt::LeftButton);
        QCOMPARE(e.rows().size(), 3);
        key(Qt::Key_Escape);
        key(Qt::Key_Down);
        QCOMPARE(e.rows(), (QStringList{"A=1", "B=2"}));
    }

    // A number outside the prices the program takes is refused where it is
    // typed, naming the service.
    void priceOutsideTheLimitsIsRefused_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::newRow("negative") << "-5"
                                  << "";
        QTest::newRow("1e+14") << "1e+14"
                               << "";
        QTest::newRow("just over") << "1000000,01"
                                   << "";
        QTest::newRow("the bound") << "1000000"
                                   << "1000000";
        QTest::newRow("zero") << "0"
                              << "0";
    }

    void priceOutsideTheLimitsIsRefused()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        Editor e({"Стрижка=1"});
        QVERIFY(QTest::qWaitForWindowActive(e.dialog));
        key(Qt::Key_Tab);
        type(typed);
        test::ErrorRecorder errors;
        key(Qt::Key_Return);
        if (stored.isEmpty()) {
            QCOMPARE(errors.messages,
                     QStringList{QStringLiteral("Цена «%1» у услуги «Стрижка» не подходит: цена "
                                                "за минуту должна быть от 0 до 1000000.")
                                     .arg(typed)});
            QVERIFY(e.cellEditor());
            QCOMPARE(e.rows(), QStringList{"Стрижка=1"});
        } else {
            QVERIFY(errors.messages.isEmpty());
            QCOMPARE(e.rows(), QStringList{"Стрижка=" + stored});
        }
    }

    // The menu command's way: created, run modally, gone afterwards.
    void runsModallyAndFreesItself()
    {
        OpenDir dir;
        std::unique_ptr<MemTable> t(makePriceTable());
        addRows(*t, {"A=1"});
        QPointer<TFPrices> f = new TFPrices(*t, ProfileFile(dir.file("Bilmeko.ini")));
        bool wasModal = false;
        test::onNextModal([&](QWidget *w) {
            wasModal = w == f.data();
            type("Z");
            key(Qt::Key_Tab);
            QTest::mouseClick(w->findChild<QPushButton *>("BitBtn2"), Qt::LeftButton);
        });
        f->exec();
        QVERIFY(wasModal);
        QTRY_VERIFY(f.isNull());
        QCOMPARE(readFile(dir.file("Bilmeko.ini")), crlf({"[Price]", "Z=1"}));
    }
};

QTEST_MAIN(TestFPrices)
#include "test_fprices.moc"
