// "Печать" when no printer answers: no print service at all says so; a
// print service that takes the connection and never answers holds up the
// print helper alone, which is abandoned at the deadline (the print service
// named) or when the window goes (the program quits). The window never
// waits for either.

#include "common/core/printjob.h"
#include "journal/ui/form5.h"
#include "testsupport_ui.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

using namespace bilmeko;
using namespace bilmeko::test;

class TestReportNoPrinter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qunsetenv("PRINTER");
        qunsetenv("LPDEST");
        PrintJob::setHelperProgram(QStringLiteral(BILMEKO_PRINT_EXE));
        PrintJob::setDeadlineMs(2000);
    }

    void printWithoutAnAnswer_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::addColumn<bool>("closeWindow");
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("error");
        QTest::newRow("no print service") << false << false << "Принтер не установлен"
                                          << "";
        QTest::newRow("a print service that never answers")
            << true << false << ""
            << "Отчет не напечатан: служба печати «%1» не ответила за 2 с, печать отменена.";
        QTest::newRow("the program quits while it waits") << true << true << ""
                                                          << "";
    }
    void printWithoutAnAnswer()
    {
        QFETCH(bool, listening);
        QFETCH(bool, closeWindow);
        QFETCH(QString, plain);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString socket = dir.filePath(QStringLiteral("cups.sock"));
        SilentPrintServer silent;
        if (listening)
            QVERIFY(silent.listen(socket));
        qputenv("CUPS_SERVER", socket.toLocal8Bit());

        auto form = std::make_unique<TForm5>();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        ErrorRecorder errors;
        QString text;
        QString title;
        if (!plain.isEmpty())
            answerNextMessageBox(QMessageBox::Ok, &text, &title, 10000);
        QElapsedTimer clicked;
        clicked.start();
        QTest::mouseClick(form->findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
        // The window went on at once.
        QCOMPARE_LT(clicked.elapsed(), PrintJob::deadlineMs());
        if (closeWindow) {
            const auto *job = form->findChild<PrintJob *>();
            QVERIFY(job);
            QTest::qWait(300); // the helper is in the middle of asking
            const qint64 pid = job->helperPid();
            QVERIFY(pid > 0);
            form.reset();
            QCOMPARE_LT(clicked.elapsed(), PrintJob::deadlineMs());
            QCOMPARE(PrintJob::running(), 0);
            QCOMPARE(::kill(static_cast<pid_t>(pid), 0), -1); // killed and collected
            QVERIFY(errors.messages.isEmpty());
            return;
        }
        if (!plain.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(text, plain, 10000);
            QCOMPARE(title, applicationTitle());
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(errors.messages.size(), 1, 10000);
            QCOMPARE(errors.messages.first(), error.arg(socket));
        }
        QTRY_COMPARE(PrintJob::running(), 0);
        QVERIFY(form->isVisible());
    }
};

QTEST_MAIN(TestReportNoPrinter)
#include "test_report_noprinter.moc"
