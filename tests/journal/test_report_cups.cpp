// "Печать" through a real print queue: the default printer must be the
// cups-pdf queue (tools/start-printer.sh sets it up); the job must complete
// under the title "Отчет о работе" and leave a PDF holding the report.

#include "common/core/printjob.h"
#include "journal/core/periodreport.h"
#include "journal/ui/form5.h"
#include "reporttestutil.h"
#include "testsupport.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <pwd.h>
#include <unistd.h>

using namespace bilmeko;
using namespace bilmeko::test;

namespace {

QString run(const QString &program, const QStringList &args, int *exitCode = nullptr)
{
    QProcess p;
    p.start(program, args);
    const bool done = p.waitForFinished(30000);
    if (exitCode)
        *exitCode = done ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString userName()
{
    const passwd *pw = ::getpwuid(::getuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
}

QString homeDir()
{
    const passwd *pw = ::getpwuid(::getuid());
    return pw ? QString::fromLocal8Bit(pw->pw_dir) : QDir::homePath();
}

// Where cups-pdf puts its files: its "Out" setting with ${HOME} and ${USER}
// of the job's owner, and its folder for anonymous jobs.
QStringList pdfFolders()
{
    QString out = QStringLiteral("/var/spool/cups-pdf/${USER}");
    QString anon = QStringLiteral("/var/spool/cups-pdf/ANONYMOUS");
    QFile conf(QStringLiteral("/etc/cups/cups-pdf.conf"));
    if (conf.open(QIODevice::ReadOnly)) {
        for (const QByteArray &raw : conf.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw).trimmed();
            if (line.startsWith(QLatin1String("Out ")))
                out = line.mid(4).trimmed();
            else if (line.startsWith(QLatin1String("AnonDirName ")))
                anon = line.mid(12).trimmed();
        }
    }
    out.replace(QLatin1String("${HOME}"), homeDir());
    out.replace(QLatin1String("${USER}"), userName());
    return {out, anon};
}

QSet<QString> pdfsIn(const QStringList &folders)
{
    QSet<QString> found;
    for (const QString &f : folders) {
        QDirIterator it(f, {QStringLiteral("*.pdf")}, QDir::Files);
        while (it.hasNext())
            found << it.next();
    }
    return found;
}

QSet<QString> completedJobs(const QString &queue)
{
    QSet<QString> ids;
    const QString out = run(QStringLiteral("lpstat"),
                            {QStringLiteral("-W"), QStringLiteral("completed"), QStringLiteral("-o"), queue});
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ids << line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    return ids;
}

// The job's title as the print server keeps it, or a null string when it
// cannot be asked.
QString jobTitle(const QString &queue, const QString &jobId)
{
    const QString number = jobId.section(QLatin1Char('-'), -1);
    if (!QStandardPaths::findExecutable(QStringLiteral("ipptool")).isEmpty()) {
        QTemporaryDir dir;
        QFile test(dir.filePath(QStringLiteral("job.test")));
        if (test.open(QIODevice::WriteOnly)) {
            test.write(QStringLiteral("{\nOPERATION Get-Job-Attributes\n"
                                      "GROUP operation-attributes-tag\n"
                                      "ATTR charset attributes-charset utf-8\n"
                                      "ATTR naturalLanguage attributes-natural-language en\n"
                                      "ATTR uri printer-uri $uri\n"
                                      "ATTR integer job-id %1\n"
                                      "ATTR name requesting-user-name %2\n"
                                      "ATTR keyword requested-attributes job-name\n"
                                      "STATUS successful-ok\n"
                                      "DISPLAY job-name\n}\n")
                           .arg(number, userName())
                           .toUtf8());
            test.close();
            const QString out
                = run(QStringLiteral("ipptool"),
                      {QStringLiteral("-t"), QStringLiteral("ipp://localhost/printers/") + queue, test.fileName()});
            const QRegularExpressionMatch m
                = QRegularExpression(QStringLiteral("job-name \\([^)]*\\) = ([^\\n]*)")).match(out);
            if (m.hasMatch())
                return m.captured(1).trimmed();
        }
    }
    // The scheduler's own record of the job holds the title as it came.
    QFile control(QStringLiteral("/var/spool/cups/c%1").arg(number.toInt(), 5, 10, QLatin1Char('0')));
    if (control.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = control.readAll();
        const QByteArray title = printJobTitle().toUtf8();
        return bytes.contains(QByteArray("job-name")) && bytes.contains(title) ? printJobTitle() : QStringLiteral("?");
    }
    return QString();
}

// Dark pixels of the first page drawn at 40 dpi.
int inkPixels(const QString &pdf)
{
    QProcess p;
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(QStringLiteral("pdftoppm"),
            {QStringLiteral("-gray"), QStringLiteral("-r"), QStringLiteral("40"), QStringLiteral("-singlefile"), pdf});
    if (!p.waitForFinished(30000))
        return -1;
    const QImage page = QImage::fromData(p.readAllStandardOutput(), "PGM");
    int ink = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            ink += qGray(page.pixel(x, y)) < 128;
    return ink;
}

} // namespace

class TestReportCups : public QObject
{
    Q_OBJECT

    QString m_queue;

private slots:
    void initTestCase()
    {
        pinRussian();
        PrintJob::setHelperProgram(QStringLiteral(BILMEKO_PRINT_EXE));
        if (QStandardPaths::findExecutable(QStringLiteral("lpstat")).isEmpty())
            QSKIP("no print server tools (cups-client) on this machine");
        if (!run(QStringLiteral("lpstat"), {QStringLiteral("-r")}).startsWith(QLatin1String("scheduler is running")))
            QSKIP("the print server is not running (tools/start-printer.sh starts it, as root)");
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("system default destination: (\\S+)"))
                                              .match(run(QStringLiteral("lpstat"), {QStringLiteral("-d")}));
        if (!m.hasMatch())
            QSKIP("the print server has no default printer");
        m_queue = m.captured(1);
        // Never send test pages to a printer with paper in it.
        if (!run(QStringLiteral("lpstat"), {QStringLiteral("-v"), m_queue}).contains(QLatin1String("cups-pdf:")))
            QSKIP("the default printer is not a cups-pdf queue");
        if (QPrinterInfo::defaultPrinter().printerName() != m_queue)
            QSKIP("the print support does not see the server's default printer");
    }

    void printButtonPrintsOneJob()
    {
        const QStringList folders = pdfFolders();
        const QSet<QString> pdfsBefore = pdfsIn(folders);
        const QSet<QString> jobsBefore = completedJobs(m_queue);

        QList<LogRecord> records;
        for (int i = 0; i < 5; ++i)
            records << sampleRecord(at(2026, 12, 2, 10 + i), 100 + i, 1.0 / 24, QStringLiteral("Клиентка %1").arg(i));
        TForm5 form;
        form.setReport(buildPeriodReport(journalBytes(records), at(2026, 12, 1), at(2026, 12, 7)));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        ErrorRecorder errors;
        QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
        // The print helper hands the job over and ends without a word.
        QTRY_COMPARE_WITH_TIMEOUT(PrintJob::running(), 0, 30000);
        QVERIFY2(errors.messages.isEmpty(), qPrintable(errors.messages.join(QLatin1Char('\n'))));

        QElapsedTimer waited;
        waited.start();
        QSet<QString> newJobs;
        QSet<QString> newPdfs;
        while (waited.elapsed() < 90000) {
            newJobs = completedJobs(m_queue) - jobsBefore;
            newPdfs = pdfsIn(folders) - pdfsBefore;
            if (!newJobs.isEmpty() && !newPdfs.isEmpty())
                break;
            QTest::qWait(250);
        }
        QCOMPARE(newJobs.size(), 1);
        const QString title = jobTitle(m_queue, *newJobs.begin());
        if (title.isNull())
            qWarning("cannot read the job's title from the print server");
        else
            QCOMPARE(title, printJobTitle());

        QVERIFY2(newPdfs.size() == 1,
                 qPrintable(QStringLiteral("no new PDF in %1").arg(folders.join(QLatin1String(", ")))));
        const QString pdf = *newPdfs.begin();
        // The file may still be being written when it first shows up.
        qint64 size = -1;
        while (waited.elapsed() < 90000 && QFileInfo(pdf).size() != size) {
            size = QFileInfo(pdf).size();
            QTest::qWait(300);
        }
        QVERIFY(size > 0);
        // cups-pdf draws the glyphs anew, so the text cannot be read back;
        // the page must hold ink where the report is.
        QCOMPARE(run(QStringLiteral("pdfinfo"), {pdf}).contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))),
                 true);
        QCOMPARE(inkPixels(pdf) > 200, true);
        QFile::remove(pdf);
    }
};

QTEST_MAIN(TestReportCups)
#include "test_report_cups.moc"
