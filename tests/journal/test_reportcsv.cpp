// The report as CSV: read back by a CSV reader of its own it gives the
// records field by field and the report's totals; a save is whole or absent.

#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journal/core/reportcsv.h"
#include "reporttestutil.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace bilmeko;
using namespace bilmeko::test;

namespace {

const DateTimeValue Beg = at(2026, 12, 1);
const DateTimeValue End = at(2026, 12, 7);

// RFC 4180 as a spreadsheet reads it: ';' between fields, quoted fields may
// hold ';', line breaks and doubled quotes; rows end in CR LF.
QList<QStringList> readCsv(const QString &text, bool *wellFormed)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    bool wasQuoted = false;
    *wellFormed = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            if (!field.isEmpty() || wasQuoted)
                *wellFormed = false; // a quote inside an unquoted field
            quoted = wasQuoted = true;
        } else if (c == QLatin1Char(';')) {
            row << field;
            field.clear();
            wasQuoted = false;
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) {
            row << field;
            rows << row;
            row.clear();
            field.clear();
            wasQuoted = false;
            ++i;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            *wellFormed = false; // a bare line break outside quotes
            field += c;
        } else {
            field += c;
        }
    }
    if (quoted || !field.isEmpty() || !row.isEmpty())
        *wellFormed = false; // the last row must end in CR LF
    return rows;
}

double moneyOf(const QString &field)
{
    return Formats::parseFloat(field).value_or(std::nan(""));
}

} // namespace

class TestReportCsv : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { pinRussian(); }

    void roundTrip()
    {
        QList<LogRecord> records;
        LogRecord a = sampleRecord(at(2026, 12, 2, 9, 5, 7), 1234.5, 0.5, QStringLiteral("Ким; \"Оля\""));
        a.note = QStringLiteral("две\nстроки");
        a.pricePerMin = 12.25;
        LogRecord b = sampleRecord(at(2026, 12, 3), 0.005, 1.0 / 24, QStringLiteral("Ёлкина Щ."));
        b.note = QStringLiteral("\"");
        b.service = QStringLiteral("Маникюр\r");
        b.status = QStringLiteral("Стоп");
        b.sessionId = 42; // sealed: the method is kept
        b.payment = Payment::Card;
        LogRecord c = sampleRecord(at(2026, 12, 7, 23, 59, 59), 99999.994, 2.0 / 24, QString());
        c.note.clear();
        c.sessionId = 43; // drawn on an abonement
        c.abonement = true;
        LogRecord outside = sampleRecord(at(2026, 12, 9), 7);
        records << a << outside << b << c;
        const PeriodReport report = buildPeriodReport(journalBytes(records), Beg, End);

        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(writeReportCsv(buffer, report));
        const QByteArray bytes = buffer.data();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        bool ok = false;
        const QList<QStringList> rows = readCsv(QString::fromUtf8(bytes.mid(3)), &ok);
        QVERIFY(ok);
        QCOMPARE(rows.size(), 1 + 3); // header, three records, no totals
        QCOMPARE(rows[0],
                 QStringList({"Время", "Клиент", "Услуга", "Цена", "Начало", "Время", "Конец", "Сумма", "Комент.",
                              "Статус", "Оплата"}));
        QCOMPARE(rows[1],
                 QStringList({"02.12.2026 09:05:07", "Ким; \"Оля\"", "Солярий", "12,25", "10:00:00", "12:00:00",
                              "11:00:00", "1234,50", "две\nстроки", "Время вышло", "не указано"}));
        QCOMPARE(rows[2][0], QStringLiteral("03.12.2026 00:00:00"));
        QCOMPARE(rows[2][1], QStringLiteral("Ёлкина Щ."));
        QCOMPARE(rows[2][2], QStringLiteral("Маникюр\r"));
        QCOMPARE(rows[2][8], QStringLiteral("\""));
        QCOMPARE(rows[2][9], QStringLiteral("Стоп"));
        QCOMPARE(rows[2][10], QStringLiteral("карта"));
        QCOMPARE(rows[3][1], QString());
        QCOMPARE(rows[3][7], QStringLiteral("99999,99"));
        QCOMPARE(rows[3][10], QStringLiteral("абонемент"));

        // The totals of the CSV are the report's.
        double sum = 0;
        for (qsizetype i = 1; i < rows.size(); ++i)
            sum += moneyOf(rows[i][7]);
        QCOMPARE(Formats::money(sum), report.sumText());
    }

    void severalDesksNameTheirJournal()
    {
        const PeriodReport one = buildPeriodReport(journalBytes({sampleRecord(at(2026, 12, 2), 5)}), Beg, End);
        const PeriodReport two = buildPeriodReport(journalBytes({sampleRecord(at(2026, 12, 3), 6)}), Beg, End);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(
            writeReportCsv(buffer, {{one, QStringLiteral("стойка1/Bilmeko.log")}, {two, QStringLiteral("b;c.log")}}));
        bool ok = false;
        const QList<QStringList> rows = readCsv(QString::fromUtf8(buffer.data().mid(3)), &ok);
        QVERIFY(ok);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0].last(), QStringLiteral("Журнал"));
        QCOMPARE(rows[1].last(), QStringLiteral("стойка1/Bilmeko.log"));
        QCOMPARE(rows[2].last(), QStringLiteral("b;c.log"));
        QCOMPARE(rows[2][7], QStringLiteral("6,00"));
    }

    // A save goes whole to its name or not at all: an existing file stays
    // as it was, no temporary file is left, the message names the file.
    void saveIsWholeOrNothing()
    {
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(
            dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        const PeriodReport report = buildPeriodReport(journalBytes({sampleRecord(at(2026, 12, 2), 5)}), Beg, End);
        const QString path = dir.filePath(QStringLiteral("отчет.csv"));
        writeFile(path, "old");
        saveReportCsv(path, report);
        QVERIFY(readFile(path).startsWith("\xEF\xBB\xBF"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("отчет.csv")});

        const QString sub = dir.filePath(QStringLiteral("закрыта"));
        QVERIFY(QDir().mkdir(sub));
        const QString inside = QDir(sub).filePath(QStringLiteral("r.csv"));
        writeFile(inside, "old");
        QVERIFY(QFile::setPermissions(sub, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        QString message;
        {
            AsUnprivileged nobody;
            try {
                saveReportCsv(inside, report);
            } catch (const Error &e) {
                message = e.message();
            }
        }
        QVERIFY2(message.startsWith(QStringLiteral("Отчет не сохранен в файл «%1»: ").arg(inside)),
                 qPrintable(message));
        QCOMPARE(readFile(inside), QByteArray("old"));
        QCOMPARE(QDir(sub).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("r.csv")});

        // A device that takes no more than 40 bytes.
        class Failing : public QBuffer
        {
        protected:
            qint64 writeData(const char *data, qint64 n) override
            {
                return size() + n > 40 ? -1 : QBuffer::writeData(data, n);
            }
        } failing;
        failing.open(QIODevice::WriteOnly);
        QVERIFY(!writeReportCsv(failing, report));
    }
};

QTEST_GUILESS_MAIN(TestReportCsv)
#include "test_reportcsv.moc"
