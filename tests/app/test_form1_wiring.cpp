// The main window with the other subsystems plugged in: the price list it
// loads at start, the price editor behind "Цены", and the period report
// behind "Отчет за период".

#include "app/core/sessionboard.h"
#include "app/ui/form1.h"
#include "app/ui/qttexts.h"
#include "common/core/clock.h"
#include "common/core/codepage.h"
#include "common/core/memtable.h"
#include "journal/ui/form5.h"
#include "journal/ui/reporttextedit.h"
#include "period/ui/zeperiod.h"
#include "testsupport_ui.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

using namespace bilmeko;

namespace {

void writeIni(const QString &dir, const QString &text)
{
    test::writeFile(dir + "Bilmeko.ini", cp1251::encode(text));
}

QStringList services(MemTable &t)
{
    QStringList out;
    for (int r = 0; r < t.rowCount(); ++r)
        out << t.value(r, t.fieldIndex("PItem")).toString() + "="
                + QString::number(t.value(r, t.fieldIndex("PPrice")).toDouble());
    return out;
}

QString reportText(TForm5 *form5)
{
    return form5->RichEdit1->toPlainText();
}

} // namespace

class TestForm1Wiring : public QObject
{
    Q_OBJECT
    FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 0))};

private slots:
    void initTestCase()
    {
        test::pinRussian();
        Clock::setCurrent(&clock);
    }
    void cleanupTestCase() { Clock::setCurrent(nullptr); }

    void startLoadsThePriceListAndDropsTheCarrier()
    {
        QTemporaryDir tmp;
        const QString dir = tmp.path() + "/";
        writeIni(dir, "[Other]\r\nx=1\r\n[Price]\r\nСтрижка=5\r\nУкладка=2,5\r\nМаникюр=3\r\n");
        test::ErrorRecorder errors;
        TForm1 form(dir);
        QCOMPARE(services(form.prices()), (QStringList{"Маникюр=3", "Укладка=2.5", "Стрижка=5"}));
        QVERIFY(!form.findChild<QPlainTextEdit *>("Prices"));
        QVERIFY(errors.messages.isEmpty());
        QCOMPARE(form.findChild<QLabel *>("LabelV")->text(), QStringLiteral("Bilmeko: 1.0"));
    }

    // A bad price is reported, left out, and start-up still completes.
    void badPriceIsReportedAndStartGoesOn()
    {
        QTemporaryDir tmp;
        const QString dir = tmp.path() + "/";
        writeIni(dir, "[Price]\r\nA=1\r\nB=2.5\r\nC=3\r\n");
        test::ErrorRecorder errors;
        TForm1 form(dir);
        QCOMPARE(errors.messages.size(), 1);
        QVERIFY(errors.messages[0].startsWith(QStringLiteral("В файле «%1Bilmeko.ini» неверные цены").arg(dir)));
        QVERIFY(errors.messages[0].contains(QStringLiteral("«B» = 2.5")));
        QCOMPARE(services(form.prices()), (QStringList{"C=3", "A=1"}));
        QCOMPARE(form.findChild<QLabel *>("LabelV")->text(), QStringLiteral("Bilmeko: 1.0"));
    }

    void pricesMenuOpensTheEditorOverTheTable()
    {
        QTemporaryDir tmp;
        const QString dir = tmp.path() + "/";
        writeIni(dir, "[Price]\r\nСтрижка=5\r\n");
        TForm1 form(dir);
        QString caption;
        int rows = -1;
        test::onNextModal([&](QWidget *w) {
            caption = w->windowTitle();
            if (auto *save = w->findChild<QPushButton *>("BitBtn2")) {
                rows = form.prices().rowCount();
                save->click();
            } else {
                w->close();
            }
        });
        form.findChild<QAction *>("N3")->trigger();
        QCOMPARE(caption, QStringLiteral("Цены"));
        QCOMPARE(rows, 1);
        QFile f(dir + "Bilmeko.ini");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(cp1251::decode(f.readAll()).contains(QStringLiteral("Стрижка=5")));
    }

    // "Отчет за период": the period dialog, then the report of the day with
    // a session that ended on it.
    void reportMenuShowsTheJournalOfThePeriod()
    {
        QTemporaryDir tmp;
        const QString dir = tmp.path() + "/";
        TForm1 form(dir);
        clock.setTime(QTime(10, 0));
        const auto row = form.board().addSession("Иванова", "", "Стрижка", 5, 1, 0);
        clock.setTime(QTime(10, 30, 10));
        QVERIFY(form.board().stopSession(row));

        QString periodCaption;
        bool reportShown = false;
        QString text, sum;
        test::onNextModal([&](QWidget *w) {
            periodCaption = w->windowTitle();
            // OK confirms today's day; then the report window comes up.
            test::onNextModal([&](QWidget *report) {
                reportShown = report == form.reportWindow();
                text = reportText(form.reportWindow());
                sum = report->findChild<QLabel *>("LabelSum")->text();
                report->close();
            });
            w->findChild<QAbstractButton *>("BitBtn1")->click();
        });
        form.findChild<QAction *>("N5")->trigger();
        QCOMPARE(periodCaption, QStringLiteral("Выбор периода"));
        QVERIFY(reportShown);
        QVERIFY2(text.contains(QStringLiteral("Иванова\tСтрижка\t5,00\t10:00:00\t0:30:10\t10:30:10\t150,00\t\tСтоп")),
                 qPrintable(text));
        QCOMPARE(sum, QStringLiteral("150,00"));
    }

    void cancelledPeriodShowsNoReport()
    {
        QTemporaryDir tmp;
        TForm1 form(tmp.path() + "/");
        test::onNextModal([](QWidget *w) { w->findChild<QAbstractButton *>("BitBtn2")->click(); });
        form.findChild<QAction *>("N5")->trigger();
        QVERIFY(!form.reportWindow()->isVisible());
        QVERIFY(!QFile::exists(tmp.path() + "/Bilmeko.log"));
    }

    // The save dialog of a report and the standard buttons speak Russian too.
    void qtOwnTextsAreRussian()
    {
        if (!installQtTexts(qApp))
            QSKIP("Qt's Russian translation is not installed");
        auto *translator = qApp->findChild<QTranslator *>();
        QVERIFY(translator);
        QDialogButtonBox box(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
        QCOMPARE(box.button(QDialogButtonBox::Cancel)->text().remove('&'), QStringLiteral("Отмена"));
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        QCOMPARE(dialog.labelText(QFileDialog::Reject).remove('&'), QStringLiteral("Отмена"));
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
};

QTEST_MAIN(TestForm1Wiring)
#include "test_form1_wiring.moc"
