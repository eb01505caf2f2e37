// bilmeko-report run as a process with no display at all: text and CSV,
// one and two journals, each exit status, --help.

#include "common/core/formats.h"
#include "journal/core/periodreport.h"
#include "reporttestutil.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace bilmeko;
using namespace bilmeko::test;

namespace {

struct Run
{
    int status = -1;
    QByteArray out;
    QString err;
};

// Through env(1), as a shell without a desktop would start it.
Run report(const QStringList &args, const QString &dataDir = QString())
{
    QStringList envArgs{QStringLiteral("-u"), QStringLiteral("DISPLAY"),
                        QStringLiteral("-u"), QStringLiteral("WAYLAND_DISPLAY"),
                        QStringLiteral("-u"), QStringLiteral("QT_QPA_PLATFORM")};
    if (!dataDir.isEmpty())
        envArgs << QStringLiteral("BILMEKO_DATA_DIR=") + dataDir;
    envArgs << QCoreApplication::applicationDirPath() + QStringLiteral("/bilmeko-report") << args;
    QProcess p;
    p.start(QStringLiteral("env"), envArgs);
    Run r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.status = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QStringList textLines(const QByteArray &out)
{
    QStringList l = QString::fromUtf8(out).split(QLatin1Char('\n'));
    if (!l.isEmpty() && l.last().isEmpty())
        l.removeLast();
    return l;
}

} // namespace

class TestBilmekoReport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_one;
    QString m_two;
    QList<LogRecord> m_first;
    QList<LogRecord> m_second;

private slots:
    void initTestCase()
    {
        pinRussian();
        m_first = {sampleRecord(at(2026, 12, 2, 10), 100, 1.0 / 24, QStringLiteral("Иванова")),
                   sampleRecord(at(2027, 1, 5), 999), // after the period, between two of it
                   sampleRecord(at(2026, 12, 3, 11, 30), 50.5, 0.5 / 24, QStringLiteral("Ким; Оля"))};
        m_second = {sampleRecord(at(2026, 12, 31, 23, 59, 59), 20, 2.0 / 24, QStringLiteral("Петров"))};
        m_one = m_dir.filePath(QStringLiteral("стойка1.log"));
        m_two = m_dir.filePath(QStringLiteral("стойка2.log"));
        writeFile(m_one, journalBytes(m_first));
        writeFile(m_two, journalBytes(m_second));
        QCOMPARE(::mkfifo(QFile::encodeName(m_dir.filePath(QStringLiteral("канал"))).constData(), 0600), 0);
    }

    void textOfOneJournalIsTheWindowsText()
    {
        const Run r
            = report({QStringLiteral("--journal"), m_one, QStringLiteral("01.12.2026"), QStringLiteral("2026-12-31")});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.err, QString());
        const PeriodReport window = buildPeriodReport(journalBytes(m_first), at(2026, 12, 1), at(2026, 12, 31));
        QCOMPARE(textLines(r.out), window.lines());
        QCOMPARE(window.recordCount(), 2);
    }

    void twoJournalsAddUp()
    {
        const Run r = report({QStringLiteral("--journal"), m_one, QStringLiteral("--journal"), m_two,
                              QStringLiteral("1.12.2026"), QStringLiteral("31.12.2026")});
        QCOMPARE(r.status, 0);
        const QStringList lines = textLines(r.out);
        QCOMPARE(lines.size(), 1 + 3 + 1);
        QVERIFY(lines[0].endsWith(QStringLiteral("\tСтатус\tОплата\tЖурнал")));
        QVERIFY(lines[1].endsWith(QLatin1Char('\t') + m_one));
        QVERIFY(lines[2].endsWith(QLatin1Char('\t') + m_one));
        QVERIFY(lines[3].endsWith(QLatin1Char('\t') + m_two));
        QVERIFY(lines[3].contains(QStringLiteral("Петров")));
        QCOMPARE(lines[4], QStringLiteral("Итог:    Сумма: 170,50\tВремя: 3:30:0"));
    }

    void csvOfOneAndTwo()
    {
        const Run one = report({QStringLiteral("--csv"), QStringLiteral("--journal"), m_one,
                                QStringLiteral("2026-12-01"), QStringLiteral("2026-12-31")});
        QCOMPARE(one.status, 0);
        QVERIFY(one.out.startsWith("\xEF\xBB\xBF"));
        const QStringList rows = QString::fromUtf8(one.out.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 3);
        QVERIFY(rows[0].startsWith(QStringLiteral("Время;Клиент;")));
        QVERIFY(rows[2].contains(QStringLiteral(";\"Ким; Оля\";")));
        QVERIFY(rows[2].contains(QStringLiteral(";50,50;")));

        const Run two
            = report({QStringLiteral("--csv"), QStringLiteral("--journal"), m_one, QStringLiteral("--journal"), m_two,
                      QStringLiteral("2026-12-01"), QStringLiteral("2026-12-31")});
        QCOMPARE(two.status, 0);
        const QStringList rows2 = QString::fromUtf8(two.out.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(rows2.size(), 4);
        QVERIFY(rows2[0].endsWith(QStringLiteral(";Журнал")));
        QVERIFY(rows2[3].endsWith(QLatin1Char(';') + m_two));
    }

    // An undone Stop: its record and the reversal, sealed as the desk
    // program writes them, net out in the lines, the CSV and the totals. A
    // forged reversal (no Stop of its session) is listed marked, not summed.
    void reversalNetsOut()
    {
        LogRecord stop = sampleRecord(at(2026, 12, 4, 10, 30), 20, 10.0 / 1440, QStringLiteral("Сидоров"));
        stop.status = QStringLiteral("Стоп");
        stop.sessionId = 77;
        LogRecord undo = stop;
        undo.amount = -stop.amount;
        undo.elapsed = -stop.elapsed;
        undo.status = QStringLiteral("Отмена");
        undo.reversal = true;
        LogRecord again = stop;
        again.written = at(2026, 12, 4, 11);
        again.amount = 30;
        again.elapsed = 15.0 / 1440;
        LogRecord forged = undo;
        forged.sessionId = 99;
        forged.amount = -1'000'000;
        QByteArray bytes;
        for (const LogRecord &r : {stop, undo, again, forged}) {
            RecordBytes b = serializeRecord(r);
            ScrambleRecord(b);
            sealRecord(b);
            bytes.append(b.data(), RecordSize);
        }
        const QString path = m_dir.filePath(QStringLiteral("отмена.log"));
        writeFile(path, bytes);

        const Run text
            = report({QStringLiteral("--journal"), path, QStringLiteral("04.12.2026"), QStringLiteral("04.12.2026")});
        QCOMPARE(text.status, 1);
        QVERIFY2(text.err.contains(QStringLiteral("Отмен без своего стопа")), qPrintable(text.err));
        const QStringList lines = textLines(text.out);
        QCOMPARE(lines.size(), 1 + 4 + 1);
        QVERIFY2(lines[2].contains(QStringLiteral("\t-20,00\t"))
                     && lines[2].endsWith(QStringLiteral("\tОтмена\tне указано")),
                 qPrintable(lines[2]));
        QVERIFY2(lines[4].endsWith(QStringLiteral("\t-1000000,00\tабонемент\tОтмена (не учтена)\tне указано")),
                 qPrintable(lines[4]));
        QCOMPARE(lines[5], QStringLiteral("Итог:    Сумма: 30,00\tВремя: 0:15:0"));

        const Run csv = report({QStringLiteral("--csv"), QStringLiteral("--journal"), path,
                                QStringLiteral("2026-12-04"), QStringLiteral("2026-12-04")});
        QCOMPARE(csv.status, 1);
        const QStringList rows = QString::fromUtf8(csv.out.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 5);
        QVERIFY2(rows[4].endsWith(QStringLiteral(";Отмена (не учтена);не указано")), qPrintable(rows[4]));
        QVERIFY2(rows[2].contains(QStringLiteral(";-20,00;")) && rows[2].contains(QStringLiteral("Отмена")),
                 qPrintable(rows[2]));
    }

    void theDeskProgramsJournalByDefault()
    {
        QTemporaryDir data;
        writeFile(QDir(data.path()).filePath(QStringLiteral("Bilmeko.log")), journalBytes(m_second));
        const Run r = report({QStringLiteral("31.12.2026"), QStringLiteral("31.12.2026")}, data.path());
        QCOMPARE(r.status, 0);
        QCOMPARE(textLines(r.out).size(), 3);
        QVERIFY(textLines(r.out)[1].contains(QStringLiteral("Петров")));
    }

    // Installed (a sample price list under ../share/bilmeko), it reads the
    // journal in the user's data folder, as the installed desk program keeps it.
    void installedReadsTheUsersDataFolder()
    {
        QTemporaryDir tree;
        const QDir root(tree.path());
        QVERIFY(root.mkpath(QStringLiteral("bin")) && root.mkpath(QStringLiteral("share/bilmeko"))
                && root.mkpath(QStringLiteral("data/Bilmeko")));
        writeFile(root.filePath(QStringLiteral("share/bilmeko/Bilmeko.ini")), "[Price]\r\n");
        const QString exe = root.filePath(QStringLiteral("bin/bilmeko-report"));
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/bilmeko-report"), exe));
        writeFile(root.filePath(QStringLiteral("data/Bilmeko/Bilmeko.log")), journalBytes(m_second));
        QProcess p;
        p.start(QStringLiteral("env"),
                {QStringLiteral("-u"), QStringLiteral("BILMEKO_DATA_DIR"),
                 QStringLiteral("XDG_DATA_HOME=") + root.filePath(QStringLiteral("data")), exe,
                 QStringLiteral("31.12.2026"), QStringLiteral("31.12.2026")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        const QStringList lines = textLines(p.readAllStandardOutput());
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[1].contains(QStringLiteral("Петров")));
        QVERIFY(!QFile::exists(root.filePath(QStringLiteral("bin/Bilmeko.log"))));

        // Without its ledger module beside it or installed, --ledger is
        // refused naming the module; the journal's report above needed none.
        p.start(exe,
                {QStringLiteral("--ledger"), QStringLiteral("host=/nonexistent"), QStringLiteral("31.12.2026"),
                 QStringLiteral("31.12.2026")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 2);
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral("Не найден модуль общей книги"))
                     && err.contains(QStringLiteral("bilmeko-ledger-report.so")),
                 qPrintable(err));
    }

    // Many desks, each journal read in the order given; a Stop and its
    // reversal net out in the totals and both stay listed.
    void manyJournalsInOrder()
    {
        QTemporaryDir dir;
        QStringList args{QStringLiteral("--csv")};
        QStringList text;
        for (int k = 0; k < 60; ++k) {
            const QString path = dir.filePath(QStringLiteral("desk%1.log").arg(k));
            LogRecord stop
                = sampleRecord(at(2026, 12, 1 + k % 28, 9), 150, 1.0 / 24, QStringLiteral("Гость %1").arg(k));
            LogRecord back = stop;
            back.written += 1.0 / 1440;
            back.amount = -150;
            back.elapsed = -1.0 / 24;
            back.status = QStringLiteral("Отмена");
            writeFile(path, journalBytes(k % 2 ? QList<LogRecord>{stop, back} : QList<LogRecord>{stop}));
            args << QStringLiteral("--journal") << path;
            text << QStringLiteral("--journal") << path;
        }
        args << QStringLiteral("01.12.2026") << QStringLiteral("31.12.2026");
        text << QStringLiteral("01.12.2026") << QStringLiteral("31.12.2026");

        const Run csv = report(args);
        QCOMPARE(csv.status, 0);
        const QStringList rows = QString::fromUtf8(csv.out.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 1 + 60 + 30);
        int row = 1;
        for (int k = 0; k < 60; ++k) {
            const QString desk = QLatin1Char(';') + dir.filePath(QStringLiteral("desk%1.log").arg(k));
            QVERIFY2(rows[row].endsWith(desk) && rows[row].contains(QStringLiteral(";Гость %1;").arg(k)),
                     qPrintable(rows[row]));
            ++row;
            if (k % 2) {
                QVERIFY2(rows[row].contains(QStringLiteral(";-01:00:00;11:00:00;-150,00;абонемент;Отмена;")),
                         qPrintable(rows[row]));
                ++row;
            }
        }

        const Run lines = report(text);
        QCOMPARE(lines.status, 0);
        QCOMPARE(textLines(lines.out).size(), 1 + 90 + 1);
        QCOMPARE(textLines(lines.out).last(), QStringLiteral("Итог:    Сумма: 4500,00\tВремя: 30:0:0"));
    }

    void damagedJournalPrintsWhatItCanAndSaysSo()
    {
        const QString damaged = m_dir.filePath(QStringLiteral("damaged.log"));
        QByteArray bytes = journalBytes(m_first);
        const double nan = std::nan("");
        bytes += journalBytes({sampleRecord(at(2026, 12, 4), 1)});
        std::memcpy(bytes.data() + bytes.size() - RecordSize + record::Amount, &nan, sizeof nan);
        bytes += QByteArray(30, 'x');
        writeFile(damaged, bytes);
        const Run r = report(
            {QStringLiteral("--journal"), damaged, QStringLiteral("01.12.2026"), QStringLiteral("31.12.2026")});
        QCOMPARE(r.status, 1);
        QCOMPARE(textLines(r.out).size(), 4);
        QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
        QVERIFY(r.err.contains(QStringLiteral("Файл отчета разрушен. Не вошло в отчет записей: 1")));
        QVERIFY(r.err.contains(damaged));
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        QTest::newRow("no dates") << QStringList{} << "нужны две даты";
        QTest::newRow("one date") << QStringList{"01.12.2026"} << "нужны две даты";
        QTest::newRow("not a date") << QStringList{"01.13.2026", "31.12.2026"} << "01.13.2026";
        QTest::newRow("backwards") << QStringList{"31.12.2026", "01.12.2026"} << "раньше";
        QTest::newRow("unknown option") << QStringList{"--pdf", "01.12.2026", "31.12.2026"} << "--pdf";
        QTest::newRow("journal without a file") << QStringList{"01.12.2026", "31.12.2026", "--journal"} << "--journal";
        QTest::newRow("missing journal") << QStringList{"--journal", "/nonexistent/Bilmeko.log", "01.12.2026",
                                                        "31.12.2026"}
                                         << "/nonexistent/Bilmeko.log";
        QTest::newRow("a folder") << QStringList{"--journal", "/tmp", "01.12.2026", "31.12.2026"} << "/tmp";
        // Refused at once: nothing waits for a writer of the pipe.
        const QString fifo = m_dir.filePath(QStringLiteral("канал"));
        QTest::newRow("a pipe") << QStringList{"--journal", fifo, "01.12.2026", "31.12.2026"}
                                << "«" + fifo + "» не обычный файл";
        QTest::newRow("a device") << QStringList{"--csv", "--journal", "/dev/zero", "01.12.2026", "31.12.2026"}
                                  << "«/dev/zero» не обычный файл";
        QTest::newRow("unreadable among others") << QStringList{"--journal", m_one, "--journal",  "/nonexistent/2.log",
                                                                "--journal", m_two, "01.12.2026", "31.12.2026"}
                                                 << "журнал «/nonexistent/2.log» не читается: File not found";
    }

    void refusals()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        const Run r = report(args);
        QCOMPARE(r.status, 2);
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
        QVERIFY2(r.err.contains(says), qPrintable(r.err));
    }

    // Nothing of a window system is linked in, by the program or by the
    // module of its --ledger paths; PostgreSQL's client comes only with
    // that module.
    void linksNoWidgetsOrGui_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("libpq");
        QTest::newRow("program") << QStringLiteral("bilmeko-report") << false;
        QTest::newRow("ledger module") << QStringLiteral("bilmeko-ledger-report.so") << true;
    }
    void linksNoWidgetsOrGui()
    {
        QFETCH(QString, file);
        QFETCH(bool, libpq);
        QProcess ldd;
        ldd.start(QStringLiteral("ldd"), {QCoreApplication::applicationDirPath() + QLatin1Char('/') + file});
        if (!ldd.waitForFinished(30000) || ldd.exitCode() != 0)
            QSKIP("ldd cannot read the program");
        const QString libs = QString::fromUtf8(ldd.readAllStandardOutput());
        QVERIFY(libs.contains(QStringLiteral("libQt6Core")));
        for (const char *gui : {"libQt6Gui", "libQt6Widgets", "libQt6PrintSupport", "libX11", "libxcb", "libwayland"})
            QVERIFY2(!libs.contains(QLatin1String(gui)), gui);
        QCOMPARE(libs.contains(QStringLiteral("libpq.so")), libpq);
    }

    void help()
    {
        const Run r = report({QStringLiteral("--help")});
        QCOMPARE(r.status, 0);
        const QString text = QString::fromUtf8(r.out);
        QVERIFY(text.startsWith(QStringLiteral("Использование: bilmeko-report [--csv] [--journal ФАЙЛ]... С ПО")));
        QVERIFY(text.contains(QStringLiteral("метки порядка\n                  байтов (BOM)")));
    }
};

QTEST_GUILESS_MAIN(TestBilmekoReport)
#include "test_bilmeko_report.moc"
