// The revenue chart window: opened from the report window's "График", its
// two charts with their series and totals, and the PNG it saves.

#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journal/core/revenuechart.h"
#include "journal/ui/chartwindow.h"
#include "journal/ui/form5.h"
#include "reporttestutil.h"
#include "testsupport_ui.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QDir>
#include <QFileDialog>
#include <QHorizontalBarSeries>
#include <QImage>
#include <QLegendMarker>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <dlfcn.h>

using namespace bilmeko;
using namespace bilmeko::test;

namespace {

QList<LogRecord> sales()
{
    QList<LogRecord> records;
    const std::pair<const char *, double> items[]
        = {{"Солярий", 12.5}, {"Массаж", 40}, {"Солярий", 7.5}, {"Маникюр", 15}};
    int day = 2;
    for (const auto &[service, amount] : items) {
        LogRecord r = sampleRecord(at(2026, 10, day++, 11), amount);
        r.service = QString::fromUtf8(service);
        records << r;
    }
    return records;
}

QStringList legend(QChart *chart)
{
    QStringList labels;
    for (QLegendMarker *m : chart->legend()->markers())
        labels << m->label();
    return labels;
}

// The names along an axis: every category, or the named points.
QStringList categories(QChart *chart, Qt::Orientation o)
{
    for (QAbstractAxis *a : chart->axes(o)) {
        if (auto *c = qobject_cast<QBarCategoryAxis *>(a))
            return c->categories();
        if (auto *c = qobject_cast<QCategoryAxis *>(a))
            return c->categoriesLabels();
    }
    return {};
}

} // namespace

class TestChartWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { pinRussian(); }

    void theReportWindowOpensTheChartWithItsSeries()
    {
        QTemporaryDir dir;
        const QString journal = dir.filePath(QStringLiteral("Bilmeko.log"));
        writeFile(journal, journalBytes(sales()));
        TForm5 form5;
        form5.setReport(buildPeriodReport(journal, at(2026, 10, 1), at(2026, 12, 31)));
        auto *button = form5.findChild<QPushButton *>(QStringLiteral("BtnChart"));
        QVERIFY(button);
        QCOMPARE(button->text(), QStringLiteral("График"));
        form5.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form5));
        // Beside "Печать", inside the window.
        QVERIFY(button->isVisible());
        QCOMPARE(button->y(), form5.findChild<QPushButton *>(QStringLiteral("Button1"))->y());
        QVERIFY(form5.rect().contains(button->geometry()));

        QString title;
        QStringList timeLegend, serviceLegend, days, services, methods;
        int timeBars = -1;
        QList<double> ranked;
        test::onNextModal([&](QWidget *w) {
            title = w->windowTitle();
            auto *time = w->findChild<QChartView *>(QStringLiteral("ChartTime"));
            auto *byService = w->findChild<QChartView *>(QStringLiteral("ChartServices"));
            if (!time || !byService || !w->isVisible()) {
                w->close();
                return;
            }
            auto *bars = qobject_cast<QBarSeries *>(time->chart()->series().value(0));
            auto *hbars = qobject_cast<QHorizontalBarSeries *>(byService->chart()->series().value(0));
            if (bars && bars->count() == 1)
                timeBars = bars->barSets().first()->count();
            if (hbars && hbars->count() == 1)
                for (int i = 0; i < hbars->barSets().first()->count(); ++i)
                    ranked << hbars->barSets().first()->at(i);
            timeLegend = legend(time->chart());
            serviceLegend = legend(byService->chart());
            days = categories(time->chart(), Qt::Horizontal);
            services = categories(byService->chart(), Qt::Vertical);
            if (auto *byMethod = w->findChild<QChartView *>(QStringLiteral("ChartMethods")))
                methods = categories(byMethod->chart(), Qt::Vertical);
            w->findChild<QPushButton *>(QStringLiteral("BtnClose"))->click();
        });
        QTest::mouseClick(button, Qt::LeftButton);

        // Through the module beside the program, not the copy built in here.
        const QByteArray module = QFile::encodeName(chartModulePlaces().first());
        QVERIFY(module.endsWith("/bilmeko-chart.so"));
        void *handle = dlopen(module.constData(), RTLD_LAZY | RTLD_NOLOAD);
        QVERIFY2(handle, module.constData());
        dlclose(handle);
        QCOMPARE(title, QStringLiteral("График выручки: 01.10.2026 – 31.12.2026"));
        QCOMPARE(timeBars, 92);
        // Every sixth day named, so the names stay readable.
        QCOMPARE(days.size(), 16);
        QCOMPARE(days.first(), QStringLiteral("01.10"));
        QCOMPARE(days[1], QStringLiteral("07.10"));
        QCOMPARE(days.last(), QStringLiteral("30.12"));
        QCOMPARE(timeLegend, QStringList{QStringLiteral("Итого за период: 75,00")});
        QCOMPARE(serviceLegend, QStringList{QStringLiteral("Итого по услугам: 75,00")});
        // From the bottom up: the largest on top.
        QCOMPARE(ranked, (QList<double>{15, 20, 40}));
        QCOMPARE(services,
                 (QStringList{QStringLiteral("Маникюр — 15,00"), QStringLiteral("Солярий — 20,00"),
                              QStringLiteral("Массаж — 40,00")}));
        // Records of old journals: their method is not known.
        QCOMPARE(methods, (QStringList{QStringLiteral("не указано — 75,00")}));
    }

    // The module writes dates in the program's formats, not in those of
    // its own start.
    void theModuleTakesTheProgramsFormats()
    {
        QTemporaryDir dir;
        const QString journal = dir.filePath(QStringLiteral("Bilmeko.log"));
        writeFile(journal, journalBytes(sales()));
        TForm5 form5;
        form5.setReport(buildPeriodReport(journal, at(2026, 10, 1), at(2026, 12, 31)));
        const Formats us = Formats::fromLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        Formats::setCurrent(us);
        QString title;
        test::onNextModal([&](QWidget *w) {
            title = w->windowTitle();
            w->close();
        });
        QTest::mouseClick(form5.BtnChart, Qt::LeftButton);
        pinRussian();
        QCOMPARE(title,
                 QStringLiteral("График выручки: ") + us.dateText(at(2026, 10, 1)) + QStringLiteral(" – ")
                     + us.dateText(at(2026, 12, 31)));
        QVERIFY(!title.contains(QStringLiteral("01.10.2026")));
    }

    // A module missing everywhere or not loadable: the message names the
    // file; the first place that exists is the one taken.
    void aMissingOrForeignModuleIsNamed()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("lib/bilmeko/bilmeko-chart.so"));
        const QString foreign = dir.filePath(QStringLiteral("bilmeko-chart.so"));
        writeFile(foreign, "not a library");
        QStringList messages;
        for (const QStringList &places :
             {QStringList{dir.filePath(QStringLiteral("nothing.so")), missing}, QStringList{foreign, missing}}) {
            try {
                loadChartModule(places);
            } catch (const Error &e) {
                messages << e.message();
            }
        }
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages[0],
                 QStringLiteral("Не найден модуль графика %1: график выручки показать нельзя").arg(missing));
        QVERIFY2(messages[1].startsWith(QStringLiteral("Не удалось загрузить модуль графика %1: ").arg(foreign)),
                 qPrintable(messages[1]));
        QVERIFY(loadChartModule({missing, chartModulePlaces().first()}));
    }

    void oneDayIsShownByHour()
    {
        RevenueChart revenue(at(2026, 10, 2), at(2026, 10, 2));
        for (const LogRecord &r : sales())
            revenue.add(r);
        TChartWindow w(revenue);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QChart *chart = w.ChartTime->chart();
        QCOMPARE(chart->title(), QStringLiteral("Выручка по часам: 02.10.2026 – 02.10.2026"));
        const QStringList hours = categories(chart, Qt::Horizontal);
        QCOMPARE(hours.size(), 24);
        QCOMPARE(hours.first(), QStringLiteral("0"));
        QCOMPARE(hours.last(), QStringLiteral("23"));
        auto *set = qobject_cast<QBarSeries *>(chart->series().first())->barSets().first();
        QCOMPARE(set->count(), 24);
        QCOMPARE(set->at(11), 12.5);
        QCOMPARE(set->sum(), 12.5);
        QCOMPARE(legend(chart), QStringList{QStringLiteral("Итого за период: 12,50")});
    }

    // The picture of both charts, written whole or not at all.
    void savesAPicture()
    {
        RevenueChart revenue(at(2026, 10, 1), at(2026, 12, 31));
        for (const LogRecord &r : sales())
            revenue.add(r);
        TChartWindow w(revenue);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Выручка.png"));
        writeFile(path, "an older file");
        w.saveTo(path);
        QImage image(path);
        QVERIFY(!image.isNull());
        QVERIFY(image.width() >= w.ChartTime->width());
        QVERIFY(image.height() >= w.ChartTime->height() + w.ChartServices->height());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Выручка.png")});

        const QString nowhere = dir.filePath(QStringLiteral("нет такой папки/график.png"));
        QString message;
        try {
            w.saveTo(nowhere);
        } catch (const Error &e) {
            message = e.message();
        }
        QVERIFY2(message.startsWith(QStringLiteral("Не удалось сохранить график в файл ")
                                    + QDir::toNativeSeparators(nowhere)),
                 qPrintable(message));
        QVERIFY(!QFile::exists(nowhere));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Выручка.png")});
    }

    void theSaveButtonAsksForTheFile()
    {
        RevenueChart revenue(at(2026, 10, 1), at(2026, 12, 31));
        TChartWindow w(revenue);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kvartal"));
        QString suggested;
        test::onNextModal([&](QWidget *m) {
            auto *dialog = qobject_cast<QFileDialog *>(m);
            if (!dialog) {
                m->close();
                return;
            }
            suggested = dialog->selectedFiles().value(0);
            // As the operator: to the folder, then the name typed and Enter.
            dialog->setDirectory(dir.path());
            QTest::qWait(300);
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (!name) {
                m->close();
                return;
            }
            name->selectAll();
            QTest::keyClicks(name, QStringLiteral("kvartal"));
            QTest::keyClick(name, Qt::Key_Return);
        });
        QTest::mouseClick(w.BtnSavePng, Qt::LeftButton);
        QVERIFY2(suggested.endsWith(QStringLiteral("Выручка 01.10.2026-31.12.2026.png")), qPrintable(suggested));
        // The suffix is added when none is typed.
        QVERIFY2(!QImage(path + QStringLiteral(".png")).isNull(),
                 qPrintable(QDir(dir.path()).entryList(QDir::Files).join(QLatin1Char(','))));
    }
};

QTEST_MAIN(TestChartWindow)
#include "test_chartwindow.moc"
