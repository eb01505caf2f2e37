// The report builder: which records a period lists, where the reading stops,
// what counts as damage, and the texts of the lines and totals.

#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journal/core/periodreport.h"
#include "journal/core/reportcsv.h"
#include "journal/core/revenuechart.h"
#include "reporttestutil.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <cstring>
#include <limits>
#include <sys/stat.h>

using namespace bilmeko;
using namespace bilmeko::test;

namespace {

const QString Header
    = QStringLiteral("Время\t\t\tКлиент\tУслуга\tЦена\tНачало\tВремя\tКонец\tСумма\tКомент.\tСтатус\tОплата");

// The period 1..7 December 2026.
const DateTimeValue Beg = at(2026, 12, 1);
const DateTimeValue End = at(2026, 12, 7);

QString column(const QString &line, int n)
{
    return line.split(QLatin1Char('\t')).value(n);
}

} // namespace

class TestPeriodReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { pinRussian(); }

    void noJournalCreatesAnEmptyOne()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
        const PeriodReport r = buildPeriodReport(path, Beg, End);
        QVERIFY(QFileInfo::exists(path));
        QCOMPARE(QFileInfo(path).size(), 0);
        QCOMPARE(r.lines(), QStringList({Header, QStringLiteral("Итог:    Сумма: 0,00\tВремя: 0:0:0")}));
        QCOMPARE(r.sumText(), QStringLiteral("0,00"));
        QCOMPARE(r.timeText(), QStringLiteral("0:0:0"));
        QCOMPARE(r.recordCount(), 0);
        QVERIFY(!r.damaged());
    }

    void journalThatCannotBeOpened()
    {
        QTemporaryDir dir;
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0777) == 0);
        const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
        const QByteArray bytes = journalBytes({sampleRecord(at(2026, 12, 2, 9))});
        writeFile(path, bytes);
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

        QString message;
        {
            AsUnprivileged nobody;
            try {
                buildPeriodReport(path, Beg, End);
            } catch (const IoError &e) {
                message = e.message();
            }
        }
        QCOMPARE(message, QStringLiteral("File access denied"));
        QCOMPARE(readFile(path), bytes);

        // A directory where the journal should be is no journal either.
        const QString sub = dir.filePath(QStringLiteral("sub"));
        QVERIFY(QDir().mkdir(sub));
        try {
            buildPeriodReport(sub, Beg, End);
            QFAIL("a directory was read as a journal");
        } catch (const IoError &e) {
            QCOMPARE(e.message(), QStringLiteral("File access denied"));
        }
    }

    void selection_data()
    {
        QTest::addColumn<QList<double>>("written");
        QTest::addColumn<int>("fragment");
        QTest::addColumn<QList<int>>("listed");
        QTest::addColumn<bool>("damaged");

        QTest::newRow("midnight bounds") << QList<double>{at(2026, 12, 1), at(2026, 12, 7, 23, 59, 59, 999),
                                                          at(2026, 12, 8), at(2026, 12, 7, 12)}
                                         << 0 << QList<int>{0, 1, 3} << false;
        QTest::newRow("a hair before the first day")
            << QList<double>{at(2026, 11, 30, 23, 59, 59, 999), at(2026, 11, 2), at(2026, 12, 2), at(2026, 12, 3)} << 0
            << QList<int>{2, 3} << false;
        // After a clock put right: records of the period on both sides of
        // records outside it, listed in journal order.
        QTest::newRow("out of time order")
            << QList<double>{at(2026, 12, 2),    at(2027, 1, 9),  at(2026, 12, 3),    at(2026, 11, 3),
                             at(2026, 12, 1, 8), at(2026, 12, 8), at(2026, 12, 7, 23)}
            << 0 << QList<int>{0, 2, 4, 6} << false;
        QTest::newRow("a later record first")
            << QList<double>{at(2026, 12, 9), at(2026, 12, 3), at(2026, 12, 2)} << 0 << QList<int>{1, 2} << false;
        QTest::newRow("fragment reached")
            << QList<double>{at(2026, 11, 20), at(2026, 12, 2), at(2026, 12, 3)} << 50 << QList<int>{1, 2} << true;
        QTest::newRow("fragment behind a later record")
            << QList<double>{at(2026, 12, 2), at(2026, 12, 8, 9)} << 50 << QList<int>{0} << true;
        QTest::newRow("only a fragment") << QList<double>{} << 167 << QList<int>{} << true;
        QTest::newRow("all before, then a fragment") << QList<double>{at(2026, 11, 1)} << 1 << QList<int>{} << true;
        QTest::newRow("empty") << QList<double>{} << 0 << QList<int>{} << false;
        QTest::newRow("all after") << QList<double>{at(2027, 1, 1), at(2026, 12, 9)} << 0 << QList<int>{} << false;
    }

    void selection()
    {
        QFETCH(QList<double>, written);
        QFETCH(int, fragment);
        QFETCH(QList<int>, listed);
        QFETCH(bool, damaged);

        QList<LogRecord> records;
        for (int i = 0; i < written.size(); ++i)
            records << sampleRecord(written[i], (i + 1) * 10, 1.0 / 24, QStringLiteral("Клиент%1").arg(i));
        const PeriodReport r = buildPeriodReport(journalBytes(records, fragment), Beg, End);

        QCOMPARE(r.damaged(), damaged);
        QCOMPARE(r.recordCount(), listed.size());
        QCOMPARE(r.header(), Header);
        const QStringList lines = r.recordLines();
        double sum = 0;
        for (int k = 0; k < listed.size(); ++k) {
            QCOMPARE(column(lines[k], 1), QStringLiteral("Клиент%1").arg(listed[k]));
            sum += (listed[k] + 1) * 10;
        }
        QCOMPARE(r.amountTotal(), sum);
        QCOMPARE(r.sumText(), Formats::money(sum));
        QCOMPARE(r.timeText(), QStringLiteral("%1:0:0").arg(listed.size()));
        QCOMPARE(r.totalsLine(),
                 QStringLiteral("Итог:    Сумма: %1\tВремя: %2:0:0").arg(Formats::money(sum)).arg(listed.size()));
        QCOMPARE(r.lines().size(), listed.size() + 2);
    }

    void lineLayout_data()
    {
        QTest::addColumn<double>("written");
        QTest::addColumn<double>("amount");
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("line");
        const QString rest = QStringLiteral(
            "\tИванова\tСолярий\t2,50\t10:00:00\t1:00:00\t11:00:00\t150,00\tабонемент\tВремя вышло\tне указано");
        const QString done = QStringLiteral("Время вышло");
        QTest::newRow("afternoon") << at(2026, 12, 7, 14, 5, 9) << 150.0 << 1.0 / 24 << done
                                   << QStringLiteral("07.12.2026 14:05:09") + rest;
        QTest::newRow("midnight shows the date only")
            << at(2026, 12, 7) << 150.0 << 1.0 / 24 << done << QStringLiteral("07.12.2026") + rest;
        QTest::newRow("a millisecond after midnight")
            << at(2026, 12, 7, 0, 0, 0, 1) << 150.0 << 1.0 / 24 << done << QStringLiteral("07.12.2026 0:00:00") + rest;
        // A Stop taken back: the same session with the opposite signs.
        QTest::newRow("a reversal") << at(2026, 12, 7, 14, 5, 9) << -150.0 << -1.0 / 24 << QStringLiteral("Отмена")
                                    << QStringLiteral("07.12.2026 14:05:09\tИванова\tСолярий\t2,50\t10:00:00\t"
                                                      "-1:00:00\t11:00:00\t-150,00\tабонемент\tОтмена\tне указано");
        QTest::newRow("less than a second back")
            << at(2026, 12, 7, 9) << -0.01 << -0.4 / 86400 << QStringLiteral("Отмена")
            << QStringLiteral("07.12.2026 9:00:00\tИванова\tСолярий\t2,50\t10:00:00\t"
                              "0:00:00\t11:00:00\t-0,01\tабонемент\tОтмена\tне указано");
    }

    void lineLayout()
    {
        QFETCH(double, written);
        QFETCH(double, amount);
        QFETCH(double, elapsed);
        QFETCH(QString, status);
        QFETCH(QString, line);
        LogRecord rec = sampleRecord(written, amount, elapsed);
        rec.status = status;
        const PeriodReport r = buildPeriodReport(journalBytes({rec}), Beg, End);
        QCOMPARE(r.recordLines(), QStringList{line});
        QCOMPARE(reportLine(rec), line);
        // The headless report streams the same line from the journal.
        QStringList streamed;
        LineWriter writer;
        const ReportTotals t
            = streamPeriodReport(MemorySource(journalBytes({rec})), Beg, End, [&](const char *plain, bool counted) {
                  QVERIFY(counted);
                  streamed << writer.line(RecordFields::fromPlain(plain));
              });
        QCOMPARE(streamed, QStringList{line});
        QCOMPARE(static_cast<double>(t.amount), amount);
    }

    void timeTotals_data()
    {
        QTest::addColumn<QList<double>>("elapsed");
        QTest::addColumn<QString>("hms");
        const double sec = 1.0 / 86400;
        QTest::newRow("1 d 2 h 3 min 4.9 s")
            << QList<double>{1 + (2 * 3600 + 3 * 60 + 4.9) * sec} << QStringLiteral("26:3:4");
        QTest::newRow("nothing") << QList<double>{} << QStringLiteral("0:0:0");
        // One hour as a day fraction lies a hair below 3600 s.
        QTest::newRow("exactly one hour") << QList<double>{1.0 / 24} << QStringLiteral("1:0:0");
        QTest::newRow("three times twenty minutes")
            << QList<double>{1.0 / 72, 1.0 / 72, 1.0 / 72} << QStringLiteral("1:0:0");
        QTest::newRow("seconds are cut, not rounded") << QList<double>{59.999 * sec} << QStringLiteral("0:0:59");
        QTest::newRow("negative total") << QList<double>{-0.5, 5.0 / 24 + 30 * 60 * sec} << QStringLiteral("-6:30:0");
        QTest::newRow("65536 hours") << QList<double>{65536.0 / 24} << QStringLiteral("65536:0:0");
        QTest::newRow("beyond 16 bits") << QList<double>{3000, 1200, 5 * sec} << QStringLiteral("100800:0:5");
    }

    void timeTotals()
    {
        QFETCH(QList<double>, elapsed);
        QFETCH(QString, hms);
        QList<LogRecord> records;
        for (int i = 0; i < elapsed.size(); ++i)
            records << sampleRecord(at(2026, 12, 2, 10, i), 1, elapsed[i]);
        const PeriodReport r = buildPeriodReport(journalBytes(records), Beg, End);
        QCOMPARE(r.timeText(), hms);
        QVERIFY2(r.totalsLine().endsWith(QStringLiteral("\tВремя: ") + hms), qPrintable(r.totalsLine()));
    }

    void hmsOfSmallNegatives()
    {
        QCOMPARE(hmsText(-1e-9L), QStringLiteral("0:0:0"));
        QCOMPARE(hmsText(-1.0L / 86400), QStringLiteral("-0:0:1"));
    }

    void moneyTexts_data()
    {
        QTest::addColumn<double>("amount");
        QTest::addColumn<QString>("text");
        QTest::newRow("cents rounded half up") << 1234.567 << QStringLiteral("1234,57");
        QTest::newRow("decimal half") << 1234.565 << QStringLiteral("1234,57");
        QTest::newRow("large, no exponent") << 123456.0 << QStringLiteral("123456,00");
        QTest::newRow("two hundred thousand") << 200000.0 << QStringLiteral("200000,00");
        QTest::newRow("zero") << 0.0 << QStringLiteral("0,00");
        QTest::newRow("one decimal") << 12.5 << QStringLiteral("12,50");
        QTest::newRow("a millionaire's day") << 98765432.1 << QStringLiteral("98765432,10");
        QTest::newRow("refund") << -3.5 << QStringLiteral("-3,50");
    }

    void moneyTexts()
    {
        QFETCH(double, amount);
        QFETCH(QString, text);
        const PeriodReport r = buildPeriodReport(journalBytes({sampleRecord(at(2026, 12, 3), amount)}), Beg, End);
        QCOMPARE(column(r.recordLines().value(0), 7), text);
        QCOMPARE(r.sumText(), text);
        QVERIFY(r.totalsLine().startsWith(QStringLiteral("Итог:    Сумма: ") + text + QLatin1Char('\t')));
    }

    // A reversal counts only against an earlier counted Stop of its session
    // that no reversal took back yet, with its written time and opposite
    // amount; any other is listed with a mark and left out of the totals,
    // in the window's lines, the streamed report, the CSV and the chart.
    // Records: "<id><kind><amount>", kind S a Stop, R its reversal, D a
    // Stop damaged by one byte after sealing.
    void reversalsCountOnlyAgainstTheirStop_data()
    {
        QTest::addColumn<QStringList>("records");
        QTest::addColumn<int>("before"); // other sessions' Stops in front of the last record
        QTest::addColumn<QString>("sum");
        QTest::addColumn<QList<int>>("marked"); // lines of the uncounted
        QTest::addColumn<int>("leftOut");
        QTest::newRow("a Stop and its reversal")
            << QStringList{"1S60", "2S30", "2R-30"} << 0 << "60,00" << QList<int>{} << 0;
        QTest::newRow("its Stop damaged") << QStringList{"1S60", "2D30", "2R-30"} << 0 << "60,00" << QList<int>{1} << 1;
        QTest::newRow("forged, no Stop") << QStringList{"1S90", "9R-1000000"} << 0 << "90,00" << QList<int>{1} << 0;
        QTest::newRow("before its Stop") << QStringList{"2R-30", "2S30"} << 0 << "30,00" << QList<int>{0} << 0;
        QTest::newRow("two for one Stop") << QStringList{"2S30", "2R-30", "2R-30"} << 0 << "0,00" << QList<int>{2} << 0;
        QTest::newRow("stopped again, taken back again")
            << QStringList{"2S30", "2R-30", "2S45", "2R-45"} << 0 << "0,00" << QList<int>{} << 0;
        QTest::newRow("another amount than its Stop's")
            << QStringList{"2S30", "2R-1000"} << 0 << "30,00" << QList<int>{1} << 0;
        QTest::newRow("a Stop of nothing") << QStringList{"2S0", "2R0"} << 0 << "0,00" << QList<int>{} << 0;
        QTest::newRow("its Stop a generation back")
            << QStringList{"2S30", "2R-30"} << CountedStops::GenerationStops + 10 << "0,00" << QList<int>{} << 0;
        QTest::newRow("its Stop beyond what is kept")
            << QStringList{"2S30", "2R-30"} << 2 * CountedStops::GenerationStops + 10 << "30,00" << QList<int>{1} << 0;
    }

    void reversalsCountOnlyAgainstTheirStop()
    {
        QFETCH(QStringList, records);
        QFETCH(int, before);
        QFETCH(QString, sum);
        QFETCH(QList<int>, marked);
        QFETCH(int, leftOut);
        QByteArray bytes;
        auto put = [&bytes](LogRecord r, bool damaged) {
            RecordBytes b = serializeRecord(r);
            ScrambleRecord(b);
            sealRecord(b);
            if (damaged)
                b[record::Note + 3] = static_cast<char>(b[record::Note + 3] ^ 0x04);
            bytes.append(b.data(), RecordSize);
        };
        for (qsizetype k = 0; k < records.size(); ++k) {
            const QString &row = records[k];
            const QChar kind = row.at(1);
            const double amount = row.mid(2).toDouble();
            LogRecord r = sampleRecord(at(2026, 12, 3, 12), amount, amount / 2.5 / 1440);
            r.sessionId = row.left(1).toULongLong();
            r.reversal = kind == u'R';
            r.status = r.reversal ? QStringLiteral("Отмена") : QStringLiteral("Стоп");
            if (k + 1 == records.size())
                for (int n = 0; n < before; ++n) {
                    LogRecord other = sampleRecord(at(2026, 12, 2), 0);
                    other.sessionId = 1000 + n;
                    put(other, false);
                }
            put(r, kind == u'D');
        }

        // The other sessions' Stops come before the last record.
        for (int &i : marked)
            i += i + 1 == records.size() ? before : 0;
        const PeriodReport r = buildPeriodReport(bytes, Beg, End);
        QCOMPARE(r.sumText(), sum);
        QCOMPARE(r.leftOut(), leftOut);
        QCOMPARE(r.totals().uncounted, marked.size());
        QCOMPARE(r.damaged(), leftOut + marked.size() > 0);
        if (!marked.isEmpty())
            QVERIFY2(r.damageMessage().endsWith(
                         QStringLiteral("Отмен без своего стопа (в отчете помечены «не учтена», в итог не вошли): %1")
                             .arg(marked.size())),
                     qPrintable(r.damageMessage()));
        const QStringList lines = r.recordLines();
        QList<int> shownMarked;
        for (int i = 0; i < lines.size(); ++i) {
            QCOMPARE(r.counted(i), !lines[i].contains(QStringLiteral("\tОтмена (не учтена)\t")));
            if (!r.counted(i))
                shownMarked << i;
        }
        QCOMPARE(shownMarked, marked);
        QCOMPARE(revenueOfReport(r).total(), r.amountTotal());

        // The headless report, streamed, counts the same.
        QList<int> streamedMarked;
        int n = 0;
        const ReportTotals t = streamPeriodReport(MemorySource(bytes), Beg, End, [&](const char *, bool counted) {
            if (!counted)
                streamedMarked << n;
            ++n;
        });
        QCOMPARE(streamedMarked, marked);
        QCOMPARE(Formats::money(static_cast<double>(t.amount)), sum);

        // The CSV marks the status field.
        QBuffer csv;
        csv.open(QIODevice::WriteOnly);
        QVERIFY(writeReportCsv(csv, r));
        QCOMPARE(csv.data().count("Отмена (не учтена);"), marked.size());
    }

    // Totals to the kopeck, however many records and reversals.
    void amountsAddUp_data()
    {
        QTest::addColumn<QList<double>>("amounts");
        QTest::addColumn<int>("times");
        QTest::addColumn<QString>("sum");
        QTest::addColumn<QString>("hms");
        QTest::newRow("ten dimes") << QList<double>{0.1} << 10 << QStringLiteral("1,00") << QStringLiteral("10:0:0");
        QTest::newRow("a stop and its reversal")
            << QList<double>{150, -150} << 1 << QStringLiteral("0,00") << QStringLiteral("0:0:0");
        QTest::newRow("reversals of odd amounts netting out")
            << QList<double>{1234567.89, 0.07, -1234567.89, 0.1, -0.07} << 2000 << QStringLiteral("200,00")
            << QStringLiteral("2000:0:0");
        QTest::newRow("more reversed than sold")
            << QList<double>{12.34, -20.01} << 3 << QStringLiteral("-23,01") << QStringLiteral("0:0:0");
    }

    void amountsAddUp()
    {
        QFETCH(QList<double>, amounts);
        QFETCH(int, times);
        QFETCH(QString, sum);
        QFETCH(QString, hms);
        QList<LogRecord> records;
        for (int k = 0; k < times; ++k)
            for (double a : amounts) {
                // A negative amount is a reversal, its time taken back too.
                LogRecord r = sampleRecord(at(2026, 12, 3, 9, k % 60), a, a < 0 ? -1.0 / 24 : 1.0 / 24);
                r.status = a < 0 ? QStringLiteral("Отмена") : QStringLiteral("Стоп");
                records << r;
            }
        const PeriodReport r = buildPeriodReport(journalBytes(records), Beg, End);
        QCOMPARE(r.sumText(), sum);
        QCOMPARE(r.timeText(), hms);
        QCOMPARE(r.recordCount(), records.size());
    }

    // A journal with a hole (bytes never written, read as zeros): the
    // records around it are listed, and the zeros are records of
    // 30.12.1899 for a report of that day, as a plain reading sees them.
    void sparseJournal()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
        writeFile(path, journalBytes({sampleRecord(at(2026, 12, 2), 5)}));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.seek(qint64(RecordSize) * 20000));
            f.write(journalBytes({sampleRecord(at(2026, 12, 3), 7)}));
        }
        const PeriodReport r = readPeriodReport(path, Beg, End);
        QCOMPARE(r.recordCount(), 2);
        QCOMPARE(r.sumText(), QStringLiteral("12,00"));
        QVERIFY(!r.damaged());
        const PeriodReport zeros
            = readPeriodReport(path, dateValue(QDate(1899, 12, 30)), dateValue(QDate(1899, 12, 30)));
        QCOMPARE(zeros.recordCount(), 19999);
    }

    void lengthByteAboveTheField()
    {
        LogRecord rec = sampleRecord(at(2026, 12, 4, 15));
        rec.clientName = QString(40, QChar(0x0416)); // Ж
        RecordBytes b = serializeRecord(rec);
        b[record::ClientName] = static_cast<char>(200);
        b[record::Status] = static_cast<char>(255);
        ScrambleRecord(b);
        const QByteArray bytes(b.data(), RecordSize);

        const PeriodReport r = buildPeriodReport(bytes, Beg, End);
        QVERIFY(!r.damaged());
        const QString line = r.recordLines().value(0);
        QCOMPARE(column(line, 1), QString(40, QChar(0x0416)));
        QCOMPARE(column(line, 2), QStringLiteral("Солярий"));
        // The status takes its 20 characters and nothing of the bytes after.
        QCOMPARE(column(line, 9).size(), 20);
        QVERIFY(column(line, 9).startsWith(QStringLiteral("Время вышло")));
    }

    // The widths of the text columns are taken while the journal is read,
    // a text met before not measured again: whatever repeats, the widest
    // listed text of each column must come out, and nothing unlisted.
    void textWidthsTakenWhileReading_data()
    {
        QTest::addColumn<QStringList>("clients");
        QTest::addColumn<QStringList>("notes");
        const QString longName = QStringLiteral("Константинопольская-Северная Е.");
        QTest::newRow("repeated, the widest last")
            << (QStringList(500, QStringLiteral("Ли")) << QStringLiteral("Щукина")) << QStringList{QString()};
        QTest::newRow("the same start, longer later")
            << QStringList{QStringLiteral("Иванова"), QStringLiteral("Иванова"),
                           QStringLiteral("Иванова Мария Петровна")}
            << QStringList{QStringLiteral("абонемент")};
        // Texts alike in their length and first 16 bytes; then more of them
        // than the memory of met texts has places.
        QTest::newRow("different past the first bytes")
            << QStringList{longName, longName.left(29) + QStringLiteral("РР"), longName}
            << QStringList{QStringLiteral("абонемент 1"), QStringLiteral("абонемент 1"), QStringLiteral("абонемент Р")};
        QStringList guests, cards;
        for (int i = 1000; i < 4000; ++i)
            guests << QStringLiteral("Постоянная гостья %1").arg(i);
        for (int i = 100; i < 400; ++i)
            cards << QStringLiteral("карта постоянная %1").arg(i);
        QTest::newRow("many alike") << guests << cards;
        QTest::newRow("two texts in turn")
            << QStringList{QStringLiteral("ЖЖЖЖ"), QStringLiteral("iiiiiii"), QStringLiteral("ЖЖЖЖ")}
            << QStringList{QStringLiteral("Ш"), QString(), QStringLiteral("Ш")};
    }

    void textWidthsTakenWhileReading()
    {
        QFETCH(QStringList, clients);
        QFETCH(QStringList, notes);
        // Whole numbers: sums in any order are exact.
        CharWidths w;
        for (int b = 0; b < 256; ++b)
            w[b] = float(1 + b % 11);
        QList<LogRecord> records;
        std::array<float, 4> widest{};
        for (qsizetype i = 0; i < clients.size(); ++i) {
            LogRecord r = sampleRecord(at(2026, 12, 2, 10, int(i % 60)), 10, 1.0 / 24, clients[i]);
            // The cards come round in another order than the guests.
            r.note = notes[(i * 7) % notes.size()];
            r.status = i % 3 == 0 ? QStringLiteral("Стоп") : QStringLiteral("Время вышло");
            records << r;
            const RecordBytes plain = serializeRecord(r);
            const int fields[4] = {record::ClientName, record::Service, record::Note, record::Status};
            for (int f = 0; f < 4; ++f) {
                float sum = 0;
                for (int k = 0; k < static_cast<unsigned char>(plain[fields[f]]); ++k)
                    sum += w[static_cast<unsigned char>(plain[fields[f] + 1 + k])];
                widest[f] = std::max(widest[f], sum);
            }
        }
        // Wider texts outside the period count for nothing.
        LogRecord outside = sampleRecord(at(2026, 11, 30), 10, 1.0 / 24, QString(40, QChar(0x0429)));
        outside.note = QString(20, QChar(0x0429));
        records.insert(1, outside);
        records << outside;

        const PeriodReport r = buildPeriodReport(journalBytes(records), Beg, End, &w);
        QCOMPARE(r.recordCount(), clients.size());
        QVERIFY(r.extent().measured);
        for (int f = 0; f < 4; ++f)
            QCOMPARE(r.extent().textWidths[size_t(f)], widest[size_t(f)]);
    }

    // Control characters in the text fields of a foreign or damaged journal
    // never split a record's line or shift its columns.
    void controlCharactersInTexts()
    {
        LogRecord rec = sampleRecord(at(2026, 12, 4, 15), 100, 1.0 / 24, QStringLiteral("Ива\nнова\t"));
        rec.status = QStringLiteral("Стоп\r\n");
        QList<LogRecord> many(300, rec); // past the line buffer's size too
        many.first().clientName = QString(40, QChar('\n'));
        const PeriodReport r = buildPeriodReport(journalBytes(many), Beg, End);
        QCOMPARE(r.recordCount(), 300);
        QCOMPARE(r.lines().size(), 302);
        const QString line = r.recordLines().value(1);
        QCOMPARE(line.count(QLatin1Char('\t')), 10);
        QCOMPARE(column(line, 1), QStringLiteral("Ива нова "));
        QCOMPARE(column(line, 9), QStringLiteral("Стоп  "));
        QCOMPARE(column(r.recordLines().value(0), 1), QString(40, QLatin1Char(' ')));
        QCOMPARE(reportLine(rec), line);
    }

    void recordThatCannotBeShown_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<double>("value");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("amount NaN") << record::Amount << nan;
        QTest::newRow("price infinite") << record::PricePerMin << -inf;
        QTest::newRow("elapsed of ages") << record::Elapsed << 1e200;
        QTest::newRow("start NaN") << record::StartTime << nan;
        QTest::newRow("amount of 1e13") << record::Amount << 1e13;
        QTest::newRow("amount of -1e13") << record::Amount << -1e13;
    }

    void recordThatCannotBeShown()
    {
        QFETCH(int, offset);
        QFETCH(double, value);
        LogRecord bad = sampleRecord(at(2026, 12, 3), 7);
        RecordBytes b = serializeRecord(bad);
        std::memcpy(b.data() + offset, &value, sizeof value);
        ScrambleRecord(b);
        QByteArray bytes = journalBytes({sampleRecord(at(2026, 12, 2), 5)});
        bytes.append(b.data(), RecordSize);
        bytes.append(journalBytes({sampleRecord(at(2026, 12, 4), 9)}));

        const PeriodReport r = buildPeriodReport(bytes, Beg, End);
        QVERIFY(r.damaged());
        QCOMPARE(r.leftOut(), 1);
        QCOMPARE(r.damageMessage(), QStringLiteral("Файл отчета разрушен. Не вошло в отчет записей: 1"));
        // Left out of the lines and the totals; the reading goes on.
        QCOMPARE(r.recordCount(), 2);
        QCOMPARE(r.sumText(), QStringLiteral("14,00"));
        QCOMPARE(r.timeText(), QStringLiteral("2:0:0"));
    }

    // Damage of several kinds in one journal: each untrusted record is
    // counted, none reaches the lines or totals, the good ones around them do.
    void untrustedRecordsAreCountedAndSkipped()
    {
        QCOMPARE(crc32("123456789", 9), 0xCBF43926u);
        // The dates a record may hold, as the rule beside the record has them.
        QCOMPARE(FirstWrittenValue, dateValue(QDate(1, 1, 1)));
        QCOMPARE(AfterLastWrittenValue, dateValue(QDate(9999, 12, 31)) + 1);

        auto stored = [](const LogRecord &r) {
            RecordBytes b = serializeRecord(r);
            ScrambleRecord(b);
            sealRecord(b);
            return b;
        };
        auto raw = [](const RecordBytes &b) { return QByteArray(b.data(), RecordSize); };
        LogRecord sealed = sampleRecord(at(2026, 12, 2), 11);
        sealed.sessionId = 77;
        QByteArray bytes = raw(stored(sealed)); // good, with a checksum

        RecordBytes flipped = stored(sealed); // a note byte changed after sealing
        flipped[record::Note + 2] = static_cast<char>(flipped[record::Note + 2] ^ 0x10);
        bytes += raw(flipped);
        RecordBytes badSum = stored(sealed); // the amount changed after sealing
        const double more = 1100;
        std::memcpy(badSum.data() + record::Amount, &more, sizeof more);
        bytes += raw(badSum);
        for (double w : {std::nan(""), -1e9, dateValue(QDate(9999, 12, 31)) + 1, 1e300}) {
            RecordBytes b = stored(sampleRecord(at(2026, 12, 3), 1000));
            std::memcpy(b.data() + record::Written, &w, sizeof w);
            bytes += raw(b);
        }
        bytes += journalBytes({sampleRecord(at(2026, 12, 4), 22), sampleRecord(at(2026, 11, 4), 5000)});

        const PeriodReport r = buildPeriodReport(bytes, Beg, End);
        QCOMPARE(r.leftOut(), 6);
        QVERIFY(r.damaged());
        QCOMPARE(r.damageMessage(), QStringLiteral("Файл отчета разрушен. Не вошло в отчет записей: 6"));
        QCOMPARE(r.recordCount(), 2);
        QCOMPARE(r.sumText(), QStringLiteral("33,00"));
        QCOMPARE(r.record(0).sessionId, quint64(77));
        QCOMPARE(r.record(1).amount, 22.0);

        // Damage outside the period is no damage of this report: only a
        // date no period can hold is.
        const PeriodReport other = buildPeriodReport(bytes, at(2026, 11, 1), at(2026, 11, 30));
        QCOMPARE(other.leftOut(), 4);
        QCOMPARE(other.recordCount(), 1);
    }

    // The lines are read again from the journal when they are needed; a
    // journal changed under the report in the meantime does not pass off
    // another record as the listed one.
    void linesReadAgainFromTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
        const QList<LogRecord> records{sampleRecord(at(2026, 12, 2), 1), sampleRecord(at(2026, 12, 3), 2)};
        writeFile(path, journalBytes(records));
        const PeriodReport r = buildPeriodReport(path, Beg, End);

        QList<LogRecord> replaced = records;
        replaced[1].written = at(2026, 12, 5);
        writeFile(path, journalBytes(replaced));
        QCOMPARE(r.recordLine(0), reportLine(records[0]));
        LogRecord back;
        QVERIFY(!r.readRecord(1, back));
        QCOMPARE(back.written, records[1].written);
        QVERIFY(r.recordLine(1).startsWith(QStringLiteral("03.12.2026\t")));
        QCOMPARE(r.sumText(), QStringLiteral("3,00")); // the totals of what was read
    }

    // The report remembers texts from line to line; whatever it remembers,
    // each line must read as the record formatted on its own.
    void everyLineAsFormattedAlone()
    {
        QRandomGenerator rng(20261207);
        QList<LogRecord> records;
        DateTimeValue t = Beg;
        for (int i = 0; i < 3000; ++i) {
            // Mostly seconds apart, sometimes days, sometimes exactly midnight.
            const int step = rng.bounded(10);
            t += step == 0 ? 0 : step < 8 ? rng.bounded(600000) / 86400000.0 : 0;
            if (step == 9)
                t = std::floor(t) + 1;
            if (t >= End + 1)
                break;
            LogRecord r = sampleRecord(t, rng.bounded(100000) / 100.0, rng.bounded(86400000) / 86400000.0 - 0.2,
                                       QStringLiteral("Гость %1").arg(i));
            r.pricePerMin = rng.bounded(3) == 0 ? 2.5 : rng.bounded(1000) / 10.0;
            r.startTime = rng.bounded(86400000) / 86400000.0;
            r.endTime = rng.bounded(86400000) / 86400000.0;
            records << r;
        }
        const PeriodReport rep = buildPeriodReport(journalBytes(records), Beg, End);
        QCOMPARE(rep.recordCount(), records.size());
        const QStringList lines = rep.recordLines();
        for (int i = 0; i < records.size(); ++i)
            QCOMPARE(lines[i], reportLine(records[i]));
    }

    // The report writes money without Formats::money; the texts must agree.
    void moneyWriterAgrees()
    {
        QRandomGenerator rng(42);
        QList<double> values{
            0.0,     -0.0,    0.004,    0.005,      -0.005,           0.015,  1.005, 2.675,    1234.565, 99.995,
            999.995, -99.995, 123456.0, 1e14 + 0.5, 999999999999.995, 1e-300, 5e-3,  0.1 + 0.2};
        for (int i = 0; i < 20000; ++i) {
            const int kind = rng.bounded(4);
            double v = kind == 0 ? rng.bounded(100000) / 100.0
                : kind == 1      ? rng.bounded(2000000) / 1000.0 - 1000
                : kind == 2      ? rng.bounded(100000) / 1000.0 + 0.0005
                                 : std::ldexp(rng.generateDouble(), rng.bounded(-20, 48));
            values << v;
        }
        for (double v : values) {
            char16_t buf[MoneyTextMax];
            const int n = writeMoney(v, buf);
            QCOMPARE(QStringView(buf, n).toString(), Formats::money(v));
        }
    }

    // Under a locale whose time format the report does not write itself
    // (AM/PM), the lines still read as the locale writes them.
    void otherTimeFormats()
    {
        const QList<QLocale> locales{QLocale(QLocale::English, QLocale::UnitedStates),
                                     QLocale(QLocale::German, QLocale::Germany),
                                     QLocale(QLocale::Japanese, QLocale::Japan)};
        for (const QLocale &l : locales) {
            Formats::setCurrent(Formats::fromLocale(l));
            QList<LogRecord> records;
            for (int i = 0; i < 50; ++i) {
                LogRecord r = sampleRecord(at(2026, 12, 2 + i % 3, i % 24, (i * 7) % 60, (i * 13) % 60, i), i * 1.25);
                r.startTime = (i * 1733) % 86400 / 86400.0;
                r.elapsed = (i * 977) % 86400 / 86400.0 + 0.0001;
                records << r;
            }
            const PeriodReport rep = buildPeriodReport(journalBytes(records), Beg, End);
            QCOMPARE(rep.recordCount(), records.size());
            const QStringList lines = rep.recordLines();
            for (int i = 0; i < records.size(); ++i)
                QCOMPARE(lines[i], reportLine(records[i]));
        }
        pinRussian();
    }

    // The journal is read a piece at a time; records and fragments that
    // straddle the pieces read as any other.
    void largeJournalFromTheFile_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("fragment");
        QTest::addColumn<int>("stopAt"); // index of a record after the period, -1 none
        QTest::addColumn<int>("listed");
        QTest::addColumn<bool>("damaged");
        QTest::newRow("many whole records") << 20000 << 0 << -1 << 20000 << false;
        QTest::newRow("a fragment after many") << 12289 << 100 << -1 << 12289 << true;
        QTest::newRow("one outside deep inside") << 20000 << 100 << 13000 << 19999 << true;
        QTest::newRow("one outside at the end") << 6145 << 0 << 6144 << 6144 << false;
    }

    void largeJournalFromTheFile()
    {
        QFETCH(int, records);
        QFETCH(int, fragment);
        QFETCH(int, stopAt);
        QFETCH(int, listed);
        QFETCH(bool, damaged);
        QList<LogRecord> list;
        for (int i = 0; i < records; ++i)
            list << sampleRecord(i == stopAt ? at(2026, 12, 9) : at(2026, 12, 2) + i / 86400.0, 1, 1.0 / 86400,
                                 QStringLiteral("Гость %1").arg(i));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
        const QByteArray bytes = journalBytes(list, fragment);
        writeFile(path, bytes);

        const PeriodReport fromFile = buildPeriodReport(path, Beg, End);
        QCOMPARE(fromFile.recordCount(), listed);
        QCOMPARE(fromFile.damaged(), damaged);
        QCOMPARE(fromFile.sumText(), Formats::money(listed));
        QCOMPARE(fromFile.text(), buildPeriodReport(bytes, Beg, End).text());
        QCOMPARE(readFile(path), bytes);
    }
};

QTEST_GUILESS_MAIN(TestPeriodReport)
#include "test_periodreport.moc"
