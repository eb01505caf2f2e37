#include "app/ui/form2.h"
#include "app/ui/spinfield.h"
#include "common/core/formats.h"
#include "common/core/memtable.h"
#include "prices/core/pricetable.h"
#include "testsupport_ui.h"

#include <QClipboard>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>
#include <memory>

using namespace bilmeko;

namespace {

using test::retype;

std::unique_ptr<MemTable> prices(QList<QPair<QString, double>> items)
{
    std::unique_ptr<MemTable> t(makePriceTable());
    for (const auto &[item, price] : items) {
        t->appendRow();
        t->setField(QStringLiteral("PItem"), item);
        t->setField(QStringLiteral("PPrice"), price);
    }
    return t;
}

std::unique_ptr<MemTable> salonPrices()
{
    return prices({{QStringLiteral("Солярий"), 12.5}, {QStringLiteral("Массаж"), 20}, {QStringLiteral("Маникюр"), 7}});
}

template <typename W = QWidget> W *child(QWidget &d, const char *name)
{
    W *w = d.findChild<W *>(QString::fromLatin1(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}

QString money(double v)
{
    return Formats::current().currency2(v);
}

QString text(QWidget &d, const char *name)
{
    if (auto *s = d.findChild<SpinField *>(QString::fromLatin1(name)))
        return s->text();
    if (auto *l = d.findChild<QLabel *>(QString::fromLatin1(name)))
        return l->text();
    return child<QLineEdit>(d, name)->text();
}

} // namespace

class TestForm2 : public QObject
{
    Q_OBJECT
    std::unique_ptr<MemTable> m_prices;
    std::unique_ptr<TForm2> m_dialog;

    // A new-client dialog shown (not modal) and active.
    TForm2 &open(MemTable *table)
    {
        m_dialog = std::make_unique<TForm2>(table);
        m_dialog->show();
        if (!QTest::qWaitForWindowActive(m_dialog.get()))
            qWarning("dialog not active");
        return *m_dialog;
    }

private slots:
    void initTestCase() { test::pinRussian(); }

    void init()
    {
        m_prices = salonPrices();
        m_prices->setCurrentRow(2);
    }

    void cleanup() { m_dialog.reset(); }

    void openingState()
    {
        TForm2 &d = open(m_prices.get());
        QCOMPARE(d.windowTitle(), QStringLiteral("Новый клиент"));
        QCOMPARE(d.size(), QSize(374, 184));
        QCOMPARE(d.minimumSize(), d.maximumSize());
        QVERIFY(!child<QPushButton>(d, "BitBtn1")->isEnabled());
        QVERIFY(child<QPushButton>(d, "BitBtn2")->isEnabled());
        QCOMPARE(m_prices->currentRow(), 0);
        QCOMPARE(child<QComboBox>(d, "RxLookupEdit1")->currentText(), QStringLiteral("Солярий"));
        QCOMPARE(text(d, "Label1"), money(12.5));
        QCOMPARE(text(d, "Label2"), money(0));
        QCOMPARE(text(d, "CHours"), QStringLiteral("0"));
        QCOMPARE(text(d, "CMinuts"), QStringLiteral("0"));
        QCOMPARE(QApplication::focusWidget(), child(d, "CMinuts"));
        for (const char *name : {"Label1", "Label2", "Label3", "Label8", "BitBtn1", "BitBtn2"})
            QVERIFY2(child(d, name)->font().bold(), name);
        QCOMPARE(child(d, "Label1")->palette().color(QPalette::WindowText), QColor(Qt::blue));
        QCOMPARE(child(d, "Label2")->palette().color(QPalette::WindowText), QColor(Qt::blue));
        // The longest caption fits above the note field and inside the dialog.
        QVERIFY(child(d, "Label8")->geometry().bottom() < child(d, "Desk")->y());
        QVERIFY(child(d, "Label8")->geometry().right() < d.width());
    }

    void centredOnTheMainWindow()
    {
        QWidget main;
        main.setGeometry(60, 40, 728, 410);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        TForm2 d(m_prices.get(), &main);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QPoint offset = d.frameGeometry().center() - main.frameGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 4,
                 qPrintable(QStringLiteral("off by %1,%2").arg(offset.x()).arg(offset.y())));
    }

    void tabOrderStartsWithMinutes()
    {
        TForm2 &d = open(m_prices.get());
        retype(child(d, "CMinuts"), QStringLiteral("30")); // OK takes part once enabled
        QStringList order;
        for (int i = 0; i < 9; ++i) {
            order << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(order,
                 (QStringList{"CMinuts", "BitBtn1", "BitBtn2", "CHours", "Desk", "RxLookupEdit1", "Customer", "Payment",
                              "CMinuts"}));
    }

    void okFollowsTheDurations()
    {
        TForm2 &d = open(m_prices.get());
        auto *ok = child<QPushButton>(d, "BitBtn1");
        retype(child(d, "CMinuts"), QStringLiteral("5"));
        QVERIFY(ok->isEnabled());
        QCOMPARE(text(d, "Label2"), money(12.5 * 5));
        retype(child(d, "CMinuts"), QStringLiteral("0"));
        QVERIFY(!ok->isEnabled());
        QCOMPARE(text(d, "Label2"), money(0));
        retype(child(d, "CHours"), QStringLiteral("2"));
        QVERIFY(ok->isEnabled());
        QCOMPARE(text(d, "Label2"), money(12.5 * 120));
    }

    void clearingKeepsLabelsUntilLeaving()
    {
        TForm2 &d = open(m_prices.get());
        retype(child(d, "CHours"), QStringLiteral("1"));
        QCOMPARE(text(d, "Label2"), money(12.5 * 60));
        retype(child(d, "CHours"), QString());
        QCOMPARE(text(d, "CHours"), QString());
        QCOMPARE(text(d, "Label2"), money(12.5 * 60));
        QVERIFY(child(d, "BitBtn1")->isEnabled());
        child(d, "Customer")->setFocus();
        QCOMPARE(text(d, "CHours"), QStringLiteral("0"));
        QCOMPARE(text(d, "Label2"), money(0));
        QVERIFY(!child(d, "BitBtn1")->isEnabled());
    }

    void spinningStepsAndClamps()
    {
        TForm2 &d = open(m_prices.get());
        QWidget *minutes = child(d, "CMinuts");
        QStringList seen;
        for (int i = 0; i < 7; ++i) {
            QTest::keyClick(minutes, Qt::Key_Up);
            seen << text(d, "CMinuts");
        }
        QCOMPARE(seen, (QStringList{"10", "20", "30", "40", "50", "59", "59"}));
        seen.clear();
        for (int i = 0; i < 8; ++i) {
            QTest::keyClick(minutes, Qt::Key_Down);
            seen << text(d, "CMinuts");
        }
        QCOMPARE(seen, (QStringList{"49", "39", "29", "19", "9", "0", "0", "0"}));

        QWidget *hours = child(d, "CHours");
        hours->setFocus();
        QTest::keyClick(hours, Qt::Key_Down);
        QCOMPARE(text(d, "CHours"), QStringLiteral("0"));
        for (int i = 0; i < 30; ++i)
            QTest::keyClick(hours, Qt::Key_Up);
        QCOMPARE(text(d, "CHours"), QStringLiteral("23"));
        QCOMPARE(text(d, "Label2"), money(12.5 * 23 * 60));
    }

    void spinButtonsStepToo()
    {
        TForm2 &d = open(m_prices.get());
        auto *minutes = child<SpinField>(d, "CMinuts");
        QStyleOptionSpinBox opt;
        opt.initFrom(minutes);
        opt.subControls = QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown;
        opt.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
        const QRect up = minutes->style()->subControlRect(QStyle::CC_SpinBox, &opt, QStyle::SC_SpinBoxUp, minutes);
        QVERIFY(up.isValid());
        QTest::mouseClick(minutes, Qt::LeftButton, {}, up.center());
        QCOMPARE(minutes->text(), QStringLiteral("10"));
    }

    void leavingSettlesTheText_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown"); // before leaving
        QTest::addColumn<QString>("settled"); // after leaving
        QTest::newRow("75 minutes") << "CMinuts"
                                    << "75"
                                    << "75"
                                    << "59";
        QTest::newRow("30 hours") << "CHours"
                                  << "30"
                                  << "30"
                                  << "23";
        QTest::newRow("negative") << "CMinuts"
                                  << "-5"
                                  << "-5"
                                  << "0";
        QTest::newRow("lone minus") << "CMinuts"
                                    << "-"
                                    << "-"
                                    << "0";
        QTest::newRow("lone plus") << "CHours"
                                   << "+"
                                   << "+"
                                   << "0";
        QTest::newRow("plus sign") << "CHours"
                                   << "+5"
                                   << "+5"
                                   << "5";
        QTest::newRow("leading zeros") << "CMinuts"
                                       << "007"
                                       << "007"
                                       << "7";
        QTest::newRow("too many digits") << "CMinuts"
                                         << "99999999999999"
                                         << "99999999999999"
                                         << "59";
        QTest::newRow("too many, negative") << "CHours"
                                            << "-99999999999999"
                                            << "-99999999999999"
                                            << "0";
        QTest::newRow("letters refused") << "CMinuts"
                                         << "1a2,5"
                                         << "125"
                                         << "59";
        QTest::newRow("sign after digit refused") << "CHours"
                                                  << "1-2+"
                                                  << "12"
                                                  << "12";
        QTest::newRow("second sign refused") << "CHours"
                                             << "--3"
                                             << "-3"
                                             << "0";
        QTest::newRow("blank refused") << "CMinuts"
                                       << " 4 "
                                       << "4"
                                       << "4";
        QTest::newRow("empty") << "CMinuts"
                               << ""
                               << ""
                               << "0";
    }

    void leavingSettlesTheText()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, settled);
        TForm2 &d = open(m_prices.get());
        const QByteArray name = field.toLatin1();
        retype(child(d, name), typed);
        QCOMPARE(text(d, name), shown);
        child(d, "Desk")->setFocus();
        QCOMPARE(text(d, name), settled);
        QCOMPARE(field == "CHours" ? d.hours() : d.minutes(), settled.toInt());
    }

    // What OK hands to the command is always a whole number in range, even
    // when the click did not take the focus from the field first.
    void okNeverPassesUnsettledText_data()
    {
        QTest::addColumn<QString>("hours");
        QTest::addColumn<QString>("minutes");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("m");
        QTest::newRow("negative minutes alone") << "0"
                                                << "-5" << false << 0 << 0;
        QTest::newRow("lone sign hours") << "-"
                                         << "30" << true << 0 << 30;
        QTest::newRow("huge hours") << "99999999999"
                                    << "5" << true << 23 << 5;
        QTest::newRow("huge minutes") << "1"
                                      << "1234567890123" << true << 1 << 59;
        QTest::newRow("plain") << "1"
                               << "30" << true << 1 << 30;
    }

    void okNeverPassesUnsettledText()
    {
        QFETCH(QString, hours);
        QFETCH(QString, minutes);
        QFETCH(bool, accepted);
        QFETCH(int, h);
        QFETCH(int, m);
        TForm2 &d = open(m_prices.get());
        retype(child(d, "CHours"), hours);
        retype(child(d, "CMinuts"), minutes);
        auto *ok = child<QPushButton>(d, "BitBtn1");
        QVERIFY(ok->isEnabled());
        ok->click(); // focus stays in the minutes field
        QCOMPARE(d.result() == QDialog::Accepted, accepted);
        QCOMPARE(d.isVisible(), !accepted);
        QCOMPARE(d.hours(), h);
        QCOMPARE(d.minutes(), m);
        QCOMPARE(text(d, "CHours"), QString::number(h));
        QCOMPARE(text(d, "CMinuts"), QString::number(m));
        if (!accepted)
            QVERIFY(!ok->isEnabled());
    }

    void enterDoesNotClose()
    {
        TForm2 &d = open(m_prices.get());
        retype(child(d, "CMinuts"), QStringLiteral("30"));
        for (const char *name : {"CMinuts", "CHours", "Customer", "Desk", "RxLookupEdit1"}) {
            child(d, name)->setFocus();
            QTest::keyClick(child(d, name), Qt::Key_Return);
            QTest::keyClick(child(d, name), Qt::Key_Enter, Qt::KeypadModifier);
            QVERIFY2(d.isVisible(), name);
        }
        QVERIFY(!child<QPushButton>(d, "BitBtn1")->isDefault());
        QVERIFY(!child<QPushButton>(d, "BitBtn2")->isDefault());
        // On a button that holds the focus, Enter presses it.
        child(d, "BitBtn1")->setFocus();
        QTest::keyClick(child(d, "BitBtn1"), Qt::Key_Return);
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Accepted));
    }

    void waysToCancel_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("Esc in minutes") << 0;
        QTest::newRow("Esc in client") << 1;
        QTest::newRow("close box") << 2;
        QTest::newRow("Отменить") << 3;
    }

    void waysToCancel()
    {
        QFETCH(int, way);
        TForm2 d(m_prices.get());
        test::onNextModal([way](QWidget *w) {
            auto &dlg = *static_cast<TForm2 *>(w);
            retype(child(dlg, "CMinuts"), QStringLiteral("30"));
            switch (way) {
            case 0: QTest::keyClick(child(dlg, "CMinuts"), Qt::Key_Escape); break;
            case 1:
                child(dlg, "Customer")->setFocus();
                QTest::keyClick(child(dlg, "Customer"), Qt::Key_Escape);
                break;
            case 2: dlg.close(); break;
            case 3: QTest::mouseClick(child(dlg, "BitBtn2"), Qt::LeftButton); break;
            }
        });
        QCOMPARE(d.exec(), int(QDialog::Rejected));
    }

    void okByMouseAccepts()
    {
        TForm2 d(m_prices.get());
        test::onNextModal([](QWidget *w) {
            auto &dlg = *static_cast<TForm2 *>(w);
            retype(child(dlg, "CMinuts"), QStringLiteral("45"));
            retype(child(dlg, "Customer"), QStringLiteral("Петрова"));
            QTest::mouseClick(child(dlg, "BitBtn1"), Qt::LeftButton);
        });
        QCOMPARE(d.exec(), int(QDialog::Accepted));
        QCOMPARE(d.minutes(), 45);
        QCOMPARE(d.hours(), 0);
        QCOMPARE(d.customer(), QStringLiteral("Петрова"));
    }

    void pickerMovesThePriceTable()
    {
        TForm2 &d = open(m_prices.get());
        auto *picker = child<QComboBox>(d, "RxLookupEdit1");
        QVERIFY(!picker->isEditable());
        QCOMPARE(picker->count(), 3);
        QCOMPARE(picker->itemText(1), QStringLiteral("Массаж"));
        retype(child(d, "CMinuts"), QStringLiteral("10"));
        picker->setFocus();
        QTest::keyClick(picker, Qt::Key_Down);
        QCOMPARE(picker->currentText(), QStringLiteral("Массаж"));
        QCOMPARE(m_prices->currentRow(), 1);
        QCOMPARE(text(d, "Label1"), money(20));
        QCOMPARE(text(d, "Label2"), money(200));
        QTest::keyClick(picker, Qt::Key_Down);
        QCOMPARE(m_prices->currentRow(), 2);
        QCOMPARE(text(d, "Label1"), money(7));
        QCOMPARE(text(d, "Label2"), money(70));
    }

    void emptyPriceTable()
    {
        auto empty = prices({});
        TForm2 &d = open(empty.get());
        auto *picker = child<QComboBox>(d, "RxLookupEdit1");
        QCOMPARE(picker->currentText(), QString());
        // The hint is read whole in the field, not cut.
        QStyleOptionComboBox opt;
        opt.initFrom(picker);
        const QRect field
            = picker->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, picker);
        QVERIFY(!picker->placeholderText().isEmpty());
        QVERIFY(QFontMetrics(picker->font()).horizontalAdvance(picker->placeholderText()) < field.width());
        QCOMPARE(text(d, "Label1"), money(0));
        retype(child(d, "CMinuts"), QStringLiteral("20"));
        QVERIFY(child(d, "BitBtn1")->isEnabled());
        QCOMPARE(text(d, "Label2"), money(0));
    }

    // The client and the note take no more than a session keeps: typed or
    // pasted, a longer text is cut in the field, where the operator sees it.
    void textFieldsTakeWhatASessionKeeps_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("kept");
        const QString longName = QStringLiteral("Константинопольская-Заде Анна"); // 29
        QTest::newRow("client typed") << "Customer"
                                      << "type"
                                      << "Ivan Petrov Sidorov Jr"
                                      << "Ivan Petrov Sidorov ";
        QTest::newRow("client pasted") << "Customer"
                                       << "paste" << longName << longName.left(20);
        QTest::newRow("client of 20") << "Customer"
                                      << "paste" << longName.left(20) << longName.left(20);
        QTest::newRow("note pasted") << "Desk"
                                     << "paste" << QStringLiteral("постоянный клиент, скидка 5%")
                                     << QStringLiteral("постоянный клиент, с");
    }
    void textFieldsTakeWhatASessionKeeps()
    {
        QFETCH(QString, field);
        QFETCH(QString, how);
        QFETCH(QString, input);
        QFETCH(QString, kept);
        TForm2 &d = open(m_prices.get());
        auto *edit = child<QLineEdit>(d, field.toLatin1().constData());
        QTest::mouseClick(edit, Qt::LeftButton);
        if (how == QLatin1String("paste")) {
            QApplication::clipboard()->setText(input);
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        } else {
            QTest::keyClicks(edit, input);
        }
        QCOMPARE(edit->text(), kept);
        QCOMPARE(edit->maxLength(), 20);
    }

    void extendModeShowsOnlyTheDuration()
    {
        TForm2 d(nullptr);
        d.setExtendMode(QStringLiteral("Иванова"));
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QCOMPARE(d.windowTitle(), QStringLiteral("Добавить время Клиент \"Иванова\""));
        for (const char *name : {"RxLookupEdit1", "Customer", "Desk", "Label3", "Label4", "Label8", "Label9", "Label10",
                                 "Label11", "Label1", "Label2", "Bevel1"})
            QVERIFY2(!child(d, name)->isVisible(), name);
        for (const char *name : {"Label5", "CHours", "Label6", "CMinuts", "Label7", "BitBtn1", "BitBtn2"})
            QVERIFY2(child(d, name)->isVisible(), name);
        QCOMPARE(QApplication::focusWidget(), child(d, "CMinuts"));
        QVERIFY(!child(d, "BitBtn1")->isEnabled());
        retype(child(d, "CMinuts"), QStringLiteral("30"));
        QVERIFY(child(d, "BitBtn1")->isEnabled());
    }
};

QTEST_MAIN(TestForm2)
#include "test_form2.moc"
