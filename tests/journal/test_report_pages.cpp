// The printed pages of the report: the period named on the first line, the
// column titles at the top of every page, every page numbered. Printed to
// a PDF file and read back with pdftotext.

#include "journal/core/periodreport.h"
#include "journal/ui/form5.h"
#include "journal/ui/reportlayout.h"
#include "journal/ui/reporttextedit.h"
#include "pdftestutil.h"
#include "reporttestutil.h"
#include "testsupport.h"

#include <QMultiMap>
#include <QPrinter>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace bilmeko;
using namespace bilmeko::test;

namespace {

const QString Title = QStringLiteral("Отчет о работе салона: 01.10.2026 – 31.12.2026");

const QString HeaderRow = QStringLiteral("Время Клиент Услуга Цена Начало Время Конец Сумма Комент. Статус Оплата");

QList<LogRecord> guests(int n)
{
    QList<LogRecord> records;
    for (int i = 1; i <= n; ++i)
        records << sampleRecord(at(2026, 11, 2, 9) + i / 1440.0, i, 1.0 / 1440,
                                QStringLiteral("Гость %1").arg(i, 3, 10, QLatin1Char('0')));
    return records;
}

QString printed(const QString &dir, const QString &text, const QString &title, const QFont &font = QFont())
{
    const QString pdf = dir + QStringLiteral("/report.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printReportText(text, font, printer, title);
    return pdf;
}

} // namespace

class TestReportPages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        pinRussian();
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
            QSKIP("pdftotext and pdfinfo (poppler-utils) are not installed");
    }

    // The window prints its caption, which names the period, as the first line.
    void theWindowPrintsItsPeriodFirst()
    {
        QTemporaryDir dir;
        TForm5 form;
        form.setReport(buildPeriodReport(journalBytes(guests(2)), at(2026, 10, 1), at(2026, 12, 31)));
        form.setWindowTitle(Title);
        const QString pdf = dir.filePath(QStringLiteral("window.pdf"));
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        form.printTo(printer);

        QCOMPARE(pdfPages(pdf), 1);
        const QStringList rows = pageRows(pdf, 1);
        QVERIFY2(rows.size() == 6, qPrintable(rows.join(QLatin1Char('\n'))));
        QCOMPARE(rows[0], Title);
        QCOMPARE(rows[1], HeaderRow);
        QVERIFY(rows[2].contains(QStringLiteral("Гость 001")));
        QVERIFY(rows[3].contains(QStringLiteral("Гость 002")));
        QCOMPARE(rows[4], QStringLiteral("Итог: Сумма: 3,00 Время: 0:2:0"));
        QCOMPARE(rows[5], QStringLiteral("Стр. 1 из 1"));
    }

    // Prices and amounts stand flush right in their columns, as figures
    // in a table do, their titles with them.
    void amountsStandFlushRight()
    {
        QTemporaryDir dir;
        QList<LogRecord> records = guests(2);
        records[1].amount = 12345.67;
        records[1].pricePerMin = 1250;
        const PeriodReport report = buildPeriodReport(journalBytes(records), at(2026, 10, 1), at(2026, 12, 31));
        const QString pdf = printed(dir.path(), report.text(), Title);
        const QString boxes = runTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
        // The right edge of each word as printed, by its text.
        QMultiMap<QString, double> right;
        const QRegularExpression word(
            QStringLiteral("<word xMin=\"[^\"]*\" yMin=\"[^\"]*\" xMax=\"([^\"]*)\"[^>]*>([^<]*)</word>"));
        for (auto m = word.globalMatch(boxes); m.hasNext();) {
            const QRegularExpressionMatch w = m.next();
            right.insert(w.captured(2), w.captured(1).toDouble());
        }
        auto edge = [&](const QString &text) { return right.values(text).value(0, -1); };
        const QList<double> sums{edge(QStringLiteral("1,00")), edge(QStringLiteral("12345,67")),
                                 edge(QStringLiteral("Сумма"))};
        const QList<double> prices{edge(QStringLiteral("2,50")), edge(QStringLiteral("1250,00")),
                                   edge(QStringLiteral("Цена"))};
        for (const QList<double> &column : {sums, prices}) {
            QVERIFY2(column[0] > 0 && column[1] > 0 && column[2] > 0, qPrintable(boxes.left(3000)));
            QVERIFY2(qAbs(column[0] - column[1]) < 0.5 && qAbs(column[0] - column[2]) < 0.5,
                     qPrintable(QStringLiteral("%1 %2 %3").arg(column[0]).arg(column[1]).arg(column[2])));
        }
    }

    // A long report: the title once, the column titles and "Стр. N из M" on
    // every page, every line printed once and in order.
    void everyPageHasTheTitlesAndItsNumber_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("pixelSize");
        QTest::newRow("250 lines") << 250 << 11;
        QTest::newRow("a large font") << 60 << 40;
    }
    void everyPageHasTheTitlesAndItsNumber()
    {
        QFETCH(int, count);
        QFETCH(int, pixelSize);
        QTemporaryDir dir;
        QFont font;
        font.setPixelSize(pixelSize);
        const PeriodReport report = buildPeriodReport(journalBytes(guests(count)), at(2026, 10, 1), at(2026, 12, 31));
        const QString pdf = printed(dir.path(), report.text(), Title, font);

        const int pages = pdfPages(pdf);
        QVERIFY2(pages >= 3, qPrintable(QString::number(pages)));
        int next = 1;
        for (int page = 1; page <= pages; ++page) {
            const QStringList rows = pageRows(pdf, page);
            const QString where = QStringLiteral("page %1: ").arg(page) + rows.join(QLatin1Char('\n'));
            QVERIFY2(rows.size() >= 3, qPrintable(where));
            QCOMPARE(rows.count(Title), page == 1 ? 1 : 0);
            // The titles, on as many rows as they take, before the records.
            const qsizetype top = page == 1 ? 1 : 0;
            qsizetype firstRecord = top;
            while (firstRecord < rows.size() && !rows[firstRecord].startsWith(QStringLiteral("02.11.2026")))
                ++firstRecord;
            QVERIFY2(rows.mid(top, firstRecord - top).join(QLatin1Char(' ')) == HeaderRow, qPrintable(where));
            QCOMPARE(rows.last(), QStringLiteral("Стр. %1 из %2").arg(page).arg(pages));
            for (const QString &row : rows) {
                const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Гость (\\d+)")).match(row);
                if (m.hasMatch())
                    QVERIFY2(m.captured(1).toInt() == next++, qPrintable(where));
            }
            if (page < pages)
                QVERIFY(!rows.join(QLatin1Char('\n')).contains(QStringLiteral("Итог:")));
        }
        QCOMPARE(next, count + 1);
        QVERIFY(pageRows(pdf, pages).join(QLatin1Char('\n')).contains(QStringLiteral("Итог:")));
    }

    // When the operator took the column titles out of the text, nothing is
    // repeated; the pages are still numbered.
    void withoutColumnTitlesNothingIsRepeated()
    {
        QTemporaryDir dir;
        const PeriodReport report = buildPeriodReport(journalBytes(guests(250)), at(2026, 10, 1), at(2026, 12, 31));
        const QString text = report.text().mid(report.text().indexOf(QLatin1Char('\n')) + 1);
        const QString pdf = printed(dir.path(), text, QString());
        const int pages = pdfPages(pdf);
        QVERIFY(pages >= 2);
        for (int page = 1; page <= pages; ++page) {
            const QStringList rows = pageRows(pdf, page);
            QVERIFY(!rows.contains(HeaderRow));
            QCOMPARE(rows.last(), QStringLiteral("Стр. %1 из %2").arg(page).arg(pages));
        }
        QVERIFY(pageRows(pdf, 1).first().contains(QStringLiteral("Гость 001")));
    }
};

QTEST_MAIN(TestReportPages)
#include "test_report_pages.moc"
