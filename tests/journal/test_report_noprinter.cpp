// "Печать" on a machine without a printer says so instead of printing
// nowhere. The print server is pointed at a socket that does not exist.

#include "journal/ui/form5.h"
#include "testsupport_ui.h"

#include <QPrinterInfo>
#include <QPushButton>
#include <QTest>

using namespace bilmeko;
using namespace bilmeko::test;

namespace {
// Before the application starts and the print support looks for printers.
const bool noPrintServer = [] {
    qputenv("CUPS_SERVER", "/nonexistent/bilmeko-test/cups.sock");
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");
    return true;
}();
} // namespace

class TestReportNoPrinter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(noPrintServer);
        if (!QPrinterInfo::defaultPrinter().isNull())
            QSKIP("a default printer is still visible to the print support");
    }

    void printWithoutPrinter()
    {
        TForm5 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        ErrorRecorder errors;
        QString text;
        QString title;
        answerNextMessageBox(QMessageBox::Ok, &text, &title);
        QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
        QCOMPARE(text, QStringLiteral("Принтер не установлен"));
        QCOMPARE(title, applicationTitle());
        QVERIFY(errors.messages.isEmpty());
        QVERIFY(form.isVisible());
    }
};

QTEST_MAIN(TestReportNoPrinter)
#include "test_report_noprinter.moc"
