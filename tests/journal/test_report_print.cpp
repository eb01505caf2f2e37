// Printing the report: the window's print code drives a printer that writes
// a PDF file, and the text is read back from the pages.

#include "journal/core/periodreport.h"
#include "journal/ui/form5.h"
#include "journal/ui/reporttextedit.h"
#include "pdftestutil.h"
#include "reporttestutil.h"
#include "testsupport.h"

#include <QPrinter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace bilmeko;
using namespace bilmeko::test;

namespace {

const DateTimeValue Beg = at(2026, 12, 1);
const DateTimeValue End = at(2026, 12, 7);

// A printed row holding the pieces in this order.
bool hasRow(const QString &text, const QStringList &pieces)
{
    QStringList escaped;
    for (const QString &p : pieces)
        escaped << QRegularExpression::escape(p);
    const QRegularExpression re(QStringLiteral("(^|\\n)[^\\n]*") + escaped.join(QStringLiteral("\\s+"))
                                + QStringLiteral("[^\\n]*"));
    return re.match(text).hasMatch();
}

QString withoutBlanks(QString s)
{
    s.remove(QRegularExpression(QStringLiteral("\\s")));
    return s;
}

void printToPdf(const TForm5 &form, const QString &pdf)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setDocName(printJobTitle());
    form.printTo(printer);
}

// Types text the way a keyboard does, Cyrillic included.
void typeText(QWidget *w, const QString &text)
{
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_A, QString(c), Qt::NoModifier);
}

QList<LogRecord> guests(int n)
{
    QList<LogRecord> records;
    for (int i = 1; i <= n; ++i)
        records << sampleRecord(at(2026, 12, 2, 9) + i / 1440.0, i, 1.0 / 1440,
                                QStringLiteral("Гость %1").arg(i, 3, 10, QLatin1Char('0')));
    return records;
}

} // namespace

class TestReportPrint : public QObject
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

    void pageHoldsTheReport()
    {
        QTemporaryDir dir;
        LogRecord r = sampleRecord(at(2026, 12, 2, 10, 15), 1234.567, 1.0 / 24);
        LogRecord stop = sampleRecord(at(2026, 12, 3), 12.5, 0.5 / 24, QStringLiteral("Петров"));
        stop.status = QStringLiteral("Стоп");
        stop.note = QString();
        TForm5 form;
        form.setReport(buildPeriodReport(journalBytes({r, stop}), Beg, End));
        const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
        printToPdf(form, pdf);

        QCOMPARE(pdfPages(pdf), 1);
        const QString text = pdfText(pdf);
        QVERIFY2(
            hasRow(text,
                   {QStringLiteral("Время"), QStringLiteral("Клиент"), QStringLiteral("Услуга"), QStringLiteral("Цена"),
                    QStringLiteral("Начало"), QStringLiteral("Время"), QStringLiteral("Конец"), QStringLiteral("Сумма"),
                    QStringLiteral("Комент."), QStringLiteral("Статус")}),
            qPrintable(text));
        QVERIFY(hasRow(text,
                       {QStringLiteral("02.12.2026 10:15:00"), QStringLiteral("Иванова"), QStringLiteral("Солярий"),
                        QStringLiteral("2,50"), QStringLiteral("10:00:00"), QStringLiteral("1:00:00"),
                        QStringLiteral("11:00:00"), QStringLiteral("1234,57"), QStringLiteral("абонемент"),
                        QStringLiteral("Время вышло")}));
        QVERIFY(hasRow(text,
                       {QStringLiteral("03.12.2026"), QStringLiteral("Петров"), QStringLiteral("Солярий"),
                        QStringLiteral("2,50"), QStringLiteral("10:00:00"), QStringLiteral("0:30:00"),
                        QStringLiteral("11:00:00"), QStringLiteral("12,50"), QStringLiteral("Стоп")}));
        QVERIFY(hasRow(text,
                       {QStringLiteral("Итог:"), QStringLiteral("Сумма:"), QStringLiteral("1247,07"),
                        QStringLiteral("Время:"), QStringLiteral("1:30:0")}));
    }

    void operatorEditsArePrinted()
    {
        QTemporaryDir dir;
        TForm5 form;
        form.setReport(buildPeriodReport(journalBytes(guests(3)), Beg, End));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto *edit = form.findChild<ReportTextEdit *>(QStringLiteral("RichEdit1"));
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Return);
        typeText(edit, QStringLiteral("Проверено кассиром"));
        // And a guest struck out of the list.
        QTest::keyClick(edit, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Down);
        QTest::keyClick(edit, Qt::Key_End, Qt::ShiftModifier);
        QTest::keyClick(edit, Qt::Key_Delete);

        const QString pdf = dir.filePath(QStringLiteral("edited.pdf"));
        printToPdf(form, pdf);
        const QString text = pdfText(pdf);
        QVERIFY2(text.contains(QStringLiteral("Проверено кассиром")), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("Гость 001")));
        QVERIFY(text.contains(QStringLiteral("Гость 002")));
    }

    void longReportTakesSeveralPages()
    {
        QTemporaryDir dir;
        TForm5 form;
        const int n = 250;
        form.setReport(buildPeriodReport(journalBytes(guests(n)), Beg, End));
        const QString pdf = dir.filePath(QStringLiteral("long.pdf"));
        printToPdf(form, pdf);

        const int pages = pdfPages(pdf);
        QVERIFY2(pages >= 3, qPrintable(QString::number(pages)));
        QVERIFY(pdfText(pdf, 1).contains(QStringLiteral("Клиент")));
        QVERIFY(pdfText(pdf, 1).contains(QStringLiteral("Гость 001")));
        const QString last = pdfText(pdf, pages);
        QVERIFY(last.contains(QStringLiteral("Гость %1").arg(n)));
        QVERIFY(last.contains(QStringLiteral("Итог:")));
        // Every line once, none lost between pages.
        const QString all = pdfText(pdf);
        for (int i = 1; i <= n; ++i)
            QCOMPARE(all.count(QStringLiteral("Гость %1").arg(i, 3, 10, QLatin1Char('0'))), 1);
    }

    void wideTextIsNotCutOff()
    {
        QTemporaryDir dir;
        TForm5 form;
        form.setReport(buildPeriodReport(journalBytes(guests(2)), Beg, End));
        QStringList words;
        for (int i = 0; i < 120; ++i)
            words << QStringLiteral("слово%1").arg(i);
        const QString remark = words.join(QLatin1Char(' '));
        auto *edit = form.findChild<ReportTextEdit *>(QStringLiteral("RichEdit1"));
        edit->setPlainText(edit->toPlainText() + QLatin1Char('\n') + remark + QLatin1Char('\n')
                           + QStringLiteral("Ж").repeated(400));

        const QString pdf = dir.filePath(QStringLiteral("wide.pdf"));
        printToPdf(form, pdf);
        const QString text = withoutBlanks(pdfText(pdf));
        QVERIFY(text.contains(withoutBlanks(remark)));
        QVERIFY(text.contains(QStringLiteral("Ж").repeated(400)));
        QVERIFY(text.contains(QStringLiteral("Гость002")));
    }
};

QTEST_MAIN(TestReportPrint)
#include "test_report_print.moc"
