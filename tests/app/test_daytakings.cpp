// Today's takings: read once from the journal's end, then followed record
// by record through the board; the day's change; the receipt's text and the
// front desk's options.

#include "app/core/daytakings.h"
#include "app/core/receipt.h"
#include "app/core/sessionboard.h"
#include "app/core/shiftoptions.h"
#include "common/core/clock.h"
#include "journal/core/journalfile.h"
#include "journal/core/logrecord.h"
#include "prices/core/profilefile.h"
#include "testsupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace bilmeko;

namespace {

LogRecord entry(const QDateTime &written, double amount, std::uint64_t id = 1, bool reversal = false)
{
    LogRecord r;
    r.written = dateTimeValue(written);
    r.amount = amount;
    r.clientName = QStringLiteral("К");
    r.status = reversal ? StatusUndo : StatusStop;
    r.sessionId = id;
    r.reversal = reversal;
    return r;
}

QDateTime at(int day, int h, int m = 0, int sec = 0)
{
    return QDateTime(QDate(2026, 12, day), QTime(h, m, sec));
}

MemTable::RowId rowOf(const SessionBoard &board, const QString &client)
{
    const MemTable &t = board.curLog();
    for (int r = 0; r < t.rowCount(); ++r)
        if (t.value(r, t.fieldIndex(curlog::FIO)).toString() == client)
            return t.rowId(r);
    return 0;
}

} // namespace

class TestDayTakings : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        test::pinRussian();
        m_dir = std::make_unique<QTemporaryDir>();
        m_clock = std::make_unique<FixedClock>(at(7, 10));
        m_scoped = std::make_unique<ScopedClock>(m_clock.get());
    }
    void cleanup()
    {
        m_scoped.reset();
        m_clock.reset();
        m_dir.reset();
    }

    // What the start reads from a journal of several days, some records out
    // of time order, one damaged, one taken back.
    void loadReadsTheDayFromTheEnd()
    {
        const QString path = journalPath();
        QList<LogRecord> records(3 * DayTakings::OrderSlack, entry(at(5, 12), 1000));
        records << entry(at(7, 9), 100, 10) << entry(at(6, 23, 50), 7) // ended while the program was down
                << entry(at(7, 9, 30), 50, 11) << entry(at(7, 9, 40), 25, 12)
                << entry(at(7, 9, 30), -50, 11, true) // the Stop of 11 undone
                << entry(at(8, 9), 9) // a clock set back: not today
                << entry(at(7, 9, 50), 500, 13);
        QByteArray bytes;
        for (const LogRecord &r : records) {
            RecordBytes b = serializeRecord(r);
            ScrambleRecord(b);
            sealRecord(b);
            bytes.append(b.data(), RecordSize);
        }
        bytes[bytes.size() - RecordSize + 45] ^= 1; // the last record's amount damaged
        bytes.append("fragment");
        test::writeFile(path, bytes);

        DayTakings day;
        day.load(path, QDate(2026, 12, 7));
        QCOMPARE(day.sessions(), 2);
        QCOMPARE(day.amount(), 125.0);
        // It stopped well before the start of a long journal.
        QVERIFY2(day.recordsRead() <= DayTakings::OrderSlack + 2 * 256, qPrintable(QString::number(day.recordsRead())));

        day.load(path, QDate(2026, 12, 5));
        QCOMPARE(day.sessions(), 3 * DayTakings::OrderSlack);
        day.load(journalPath() + QStringLiteral(".none"), QDate(2026, 12, 7));
        QCOMPARE(day.sessions(), 0);
    }

    // A reversal counts only against an earlier counted Stop of its session
    // (as the report counts): "<id><kind><amount>", kind S a Stop, R a
    // reversal, D a Stop with one byte damaged.
    void reversalsCountOnlyAgainstTheirStop_data()
    {
        QTest::addColumn<QStringList>("records");
        QTest::addColumn<QString>("text");
        const QString running = QStringLiteral(" · идут: 0, 0,00\u00A0₽");
        QTest::newRow("its Stop damaged") << QStringList{"1S60", "2D30", "2R-30"}
                                          << QStringLiteral("Сегодня: 1 сеанс, 60,00\u00A0₽") + running;
        QTest::newRow("forged") << QStringList{"1S60", "2S30", "9R-1000000"}
                                << QStringLiteral("Сегодня: 2 сеанса, 90,00\u00A0₽") + running;
        QTest::newRow("before its Stop") << QStringList{"2R-30", "2S30"}
                                         << QStringLiteral("Сегодня: 1 сеанс, 30,00\u00A0₽") + running;
        QTest::newRow("two for one Stop") << QStringList{"1S60", "2S30", "2R-30", "2R-30"}
                                          << QStringLiteral("Сегодня: 1 сеанс, 60,00\u00A0₽") + running;
    }
    void reversalsCountOnlyAgainstTheirStop()
    {
        QFETCH(QStringList, records);
        QFETCH(QString, text);
        QByteArray bytes;
        for (const QString &row : records) {
            const double amount = row.mid(2).toDouble();
            RecordBytes b = serializeRecord(entry(at(7, 9), amount, row.left(1).toULongLong(), row.at(1) == u'R'));
            ScrambleRecord(b);
            sealRecord(b);
            if (row.at(1) == u'D')
                b[record::Status + 2] = static_cast<char>(b[record::Status + 2] ^ 1);
            bytes.append(b.data(), RecordSize);
        }
        test::writeFile(journalPath(), bytes);
        DayTakings day;
        day.load(journalPath(), QDate(2026, 12, 7));
        QCOMPARE(takingsText(day, RunningFigures()), text);
    }

    // Stops, time-ups and an undone Stop, followed as they are appended, give
    // what a fresh reading of the journal gives; the next day starts at zero.
    void followingAppendsMatchesReading()
    {
        SessionBoard board(journalPath());
        board.setUndoWindowMs(5 * 60'000);
        DayTakings day;
        day.load(journalPath(), m_clock->today());
        connect(&board, &SessionBoard::recordAppended, [&day](const LogRecord &r) { day.add(r); });

        const auto a = board.addSession("А", "", "S", 2, 1, 0, Payment::Card);
        board.addSession("Б", "", "S", 3, 0, 10, Payment::Cash);
        const auto c = board.addSession("В", "", "S", 1, 23, 0);
        m_clock->advanceSecs(10 * 60 + 5);
        board.tick(); // Б's time is up: 30
        board.stopSession(a); // 20
        QVERIFY(board.undoStop()); // taken back
        QCOMPARE(day.sessions(), 1);
        QCOMPARE(day.amount(), 30.0);
        const RunningFigures running = runningFigures(board);
        QCOMPARE(running.sessions, 2);
        QCOMPARE(running.owed, 30.0);
        // The card's Stop and its reversal net out in the card's part.
        QCOMPARE(takingsText(day, running),
                 QStringLiteral("Сегодня: 1 сеанс, 30,00\u00A0₽ (нал. 30,00\u00A0₽, "
                                "карта 0,00\u00A0₽) · идут: 2, 30,00\u00A0₽"));

        m_clock->set(at(7, 23, 59, 30));
        QVERIFY(board.stopSession(rowOf(board, QStringLiteral("А")))); // before midnight: 120
        DayTakings fresh;
        fresh.load(journalPath(), m_clock->today());
        QCOMPARE(day.sessions(), 2);
        QCOMPARE(day.amount(), 150.0);
        QCOMPARE(fresh.sessions(), day.sessions());
        QCOMPARE(fresh.amount(), day.amount());
        for (Payment p : {Payment::Unknown, Payment::Cash, Payment::Card, Payment::Transfer})
            QCOMPARE(fresh.amount(p), day.amount(p));
        QCOMPARE(day.amount(Payment::Card), 120.0);

        // After midnight a record belongs to the new day, which the form
        // reads afresh when the date changes.
        m_clock->set(at(8, 0, 0, 30));
        board.stopSession(c);
        QCOMPARE(day.sessions(), fresh.sessions());
        day.load(journalPath(), m_clock->today());
        QCOMPARE(day.sessions(), 1);
        QCOMPARE(day.amount(), 840.0);
    }

    void sessionsWordAgrees_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("word");
        for (int n : {1, 21, 101})
            QTest::addRow("%d", n) << n << "сеанс";
        for (int n : {2, 4, 22, 104})
            QTest::addRow("%d", n) << n << "сеанса";
        for (int n : {0, 5, 11, 12, 14, 20, 111, 114})
            QTest::addRow("%d", n) << n << "сеансов";
    }
    void sessionsWordAgrees()
    {
        QFETCH(int, n);
        QFETCH(QString, word);
        QCOMPARE(sessionsWord(n), word);
    }

    void receiptText()
    {
        FinishedSession f;
        f.session.client = QStringLiteral("Иванова");
        f.session.service = QStringLiteral("Стрижка");
        f.session.price = 12.5;
        f.session.startUtcMs = at(7, 10).toMSecsSinceEpoch();
        f.session.pausedMs = 5 * 60'000;
        f.endUtcMs = at(7, 10, 35).toMSecsSinceEpoch() + 20'000;
        f.charge = minuteCharge(30 * 60'000 + 20'000, f.session.price);
        f.session.payment = Payment::Card;
        const Receipt r = makeReceipt(f, QStringLiteral("Салон «Лада»"), at(7, 10, 36),
                                      {12, QStringLiteral("Стойка 1"), QStringLiteral("Петрова"), false});
        // Start + pauses + time = end, to the second; the minutes are the
        // time's whole ones.
        QCOMPARE(
            r.text(),
            QStringLiteral(
                "Салон «Лада»\nЧек № 12\nКасса: Стойка 1\nОператор: Петрова\n"
                "Клиент: Иванова\nУслуга: Стрижка\n"
                "Цена за минуту: 12,50\u00A0₽\nНачало: 07.12.2026 10:00:00\n"
                "Паузы: 0:05:00\nВремя: 0:30:20\nКонец: 07.12.2026 10:35:20\nМинут: 30\n"
                "Оплата: карта\nСумма: 375,00\u00A0₽\nНапечатано: 07.12.2026 10:36:00\n"
                "Не является фискальным документом"));
        const Receipt copy = makeReceipt(f, QString(), at(7, 10, 36), {12, QString(), QString(), true});
        QCOMPARE(copy.title, QStringLiteral("Чек № 12 (копия)"));
        QVERIFY(copy.text().contains(QStringLiteral("\nОператор: смена не открыта\n")));
        const Receipt slip
            = makeReversalSlip(f, QString(), at(7, 10, 40), {13, QString(), QStringLiteral("Петрова"), false}, 12);
        QCOMPARE(slip.title, QStringLiteral("Отмена № 13"));
        QVERIFY(slip.text().contains(QStringLiteral("Отменяет чек: № 12\n")));
        QVERIFY(slip.text().contains(QStringLiteral("Оплата: карта\nСумма: -375,00\u00A0₽\n")));
        f.session.pausedMs = 0;
        QVERIFY(!makeReceipt(f, QString(), at(7, 10, 36)).text().contains(QStringLiteral("Паузы")));
        QVERIFY(makeReceipt(f, QString(), at(7, 10, 36)).text().startsWith(QStringLiteral("Bilmeko\n")));
    }

    void options_data()
    {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<int>("undo");
        QTest::addColumn<bool>("receipt");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("reported");
        QTest::newRow("none") << QByteArray() << 5 << false << 58 << 0;
        QTest::newRow("set") << QByteArray("UndoStopMinutes=0\r\nReceipt=1\r\nReceiptWidth=80\r\nSalonName=Лада\r\n")
                             << 0 << true << 80 << 0;
        QTest::newRow("unusable") << QByteArray("UndoStopMinutes=61\r\nReceipt=да\r\nReceiptWidth=57\r\n") << 5 << false
                                  << 58 << 3;
    }
    void options()
    {
        QFETCH(QByteArray, options);
        QFETCH(int, undo);
        QFETCH(bool, receipt);
        QFETCH(int, width);
        QFETCH(int, reported);
        const QString path = m_dir->filePath(QStringLiteral("Bilmeko.ini"));
        const QByteArray file = "[Options]\r\n" + options;
        test::writeFile(path, file);
        const ShiftOptions o = readShiftOptions(ProfileFile(path));
        QCOMPARE(o.undoStopMinutes, undo);
        QCOMPARE(o.receipt, receipt);
        QCOMPARE(o.receiptWidthMm, width);
        QCOMPARE(o.messages.size(), reported);
        for (const QString &m : o.messages)
            QVERIFY(m.contains(path));
        QCOMPARE(test::readFile(path), file); // never rewritten
    }

private:
    QString journalPath() const { return m_dir->filePath(QStringLiteral("Bilmeko.log")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FixedClock> m_clock;
    std::unique_ptr<ScopedClock> m_scoped;
};

QTEST_GUILESS_MAIN(TestDayTakings)
#include "test_daytakings.moc"
