// The cash desk's day on real files: the shift file under damage and
// SIGKILL, receipt numbers that are never given twice, a shift's report
// against the records the session board wrote, abonement balances.

#include "app/core/sessionboard.h"
#include "cashdesk/core/abonement.h"
#include "cashdesk/core/shiftbook.h"
#include "cashdesk/core/shiftreport.h"
#include "common/core/clock.h"
#include "common/core/errors.h"
#include "journal/core/journalfile.h"
#include "prices/core/profilefile.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace bilmeko;

class TestCashDesk : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shiftsAndReceiptsReadBack();
    void damageIsReportedAndSkipped_data();
    void damageIsReportedAndSkipped();
    void killedShiftStaysOpenAndNumbersGoOn();
    void expectedCashIsTheSumOfTheShiftsCashRecords();
    void abonementKinds_data();
    void abonementKinds();
    void abonementBalanceIsASumOverTheJournal();

private:
    QString path(const char *name) const { return m_dir->filePath(QLatin1String(name)); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FixedClock> m_clock;
    std::unique_ptr<ScopedClock> m_scoped;
};

void TestCashDesk::init()
{
    test::pinRussian();
    m_dir = std::make_unique<QTemporaryDir>();
    m_clock = std::make_unique<FixedClock>(QDateTime(QDate(2026, 12, 7), QTime(9, 0)));
    m_scoped = std::make_unique<ScopedClock>(m_clock.get());
}

void TestCashDesk::cleanup()
{
    m_scoped.reset();
    m_clock.reset();
    m_dir.reset();
}

void TestCashDesk::shiftsAndReceiptsReadBack()
{
    ShiftBook book(path("Bilmeko.shifts"));
    QCOMPARE(book.load(), QString()); // no file: no shift yet, silently
    QVERIFY(!book.openShift());
    book.open(QStringLiteral("Анна\tМ."), 1500.5, 0);
    QVERIFY_THROWS_EXCEPTION(Error, book.open(QStringLiteral("Б"), 0, 0)); // one at a time
    // A receipt and its reversal's slip; then the session stopped again
    // after the undo: a record of its own, a number of its own.
    QCOMPARE(book.takeReceiptNumber({7, 1000, false}), 1);
    QCOMPARE(book.takeReceiptNumber({7, 1000, true}), 2);
    QCOMPARE(book.takeReceiptNumber({7, 5000, false}), 3);
    m_clock->advanceSecs(3600);
    book.close(1490, 3 * RecordSize);
    book.open(QStringLiteral("Борис"), 1490, 3 * RecordSize);

    ShiftBook again(path("Bilmeko.shifts"));
    QCOMPARE(again.load(), QString());
    QCOMPARE(again.shifts().size(), 2);
    const Shift &first = again.shifts()[0];
    QCOMPARE(first.number, 1);
    QCOMPARE(first.operatorName, QStringLiteral("Анна\tМ."));
    QCOMPARE(first.openingCash, 1500.5);
    QVERIFY(first.closed);
    QCOMPARE(first.countedCash, 1490.0);
    QCOMPARE(first.journalTo, qint64(3 * RecordSize));
    QCOMPARE(again.openShift()->number, 2);
    QCOMPARE(again.openShift()->journalFrom, qint64(3 * RecordSize));
    QCOMPARE(again.receiptNumber({7, 1000, false}), 1);
    QCOMPARE(again.receiptNumber({7, 1000, true}), 2);
    QCOMPARE(again.receiptNumber({7, 5000, false}), 3);
    QCOMPARE(again.receiptNumber({8, 1000, false}), 0);
    QCOMPARE(again.takeReceiptNumber({8, 1000, false}), 4);
    const QDateTime opened = QDateTime(QDate(2026, 12, 7), QTime(9, 30));
    QCOMPARE(again.shiftAt(opened.toMSecsSinceEpoch())->number, 1);
}

void TestCashDesk::damageIsReportedAndSkipped_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<int>("shifts");
    QTest::addColumn<int>("damaged"); // lines still damaged after the next line is written
    QTest::addColumn<int>("sound"); // lines the ledger is sent: a closing of no shift open is one
    // The file as written: open 1, receipt 1, close 1, open 2.
    QTest::newRow("a checksum that does not match")
        << QByteArray("open\t1\t") << QByteArray("open\t1\t1") << "1, 3" << 1 << 2 << 3;
    QTest::newRow("the last line cut short by a crash")
        << QByteArray("\nopen\t2") << QByteArray("\nopen\t2\n") << "" << 2 << 0 << 3;
    QTest::newRow("another program's line")
        << QByteArray("receipt\t1") << QByteArray("[Price]\nreceipt\t1") << "2" << 2 << 1 << 4;
    QTest::newRow("a closing of no shift open")
        << QByteArray("close\t1") << QByteArray("close\t9") << "3" << 2 << 1 << 3;
}

void TestCashDesk::damageIsReportedAndSkipped()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, lines);
    QFETCH(int, shifts);
    QFETCH(int, damaged);
    QFETCH(int, sound);
    const QString file = path("Bilmeko.shifts");
    {
        ShiftBook book(file);
        book.open(QStringLiteral("Анна"), 100, 0);
        book.takeReceiptNumber({1, 1000, false});
        book.close(100, 0);
        book.open(QStringLiteral("Борис"), 100, 0);
    }
    QByteArray bytes = test::readFile(file);
    if (QTest::currentDataTag() == QByteArrayLiteral("the last line cut short by a crash"))
        bytes.chop(9); // the end of the last line and its LF
    else
        bytes.replace(bytes.indexOf(from), from.size(), to);
    test::writeFile(file, bytes);

    ShiftBook book(file);
    const QString message = book.load();
    const QString expectLines = lines.isEmpty() ? QString::number(bytes.count('\n') + 1) : lines;
    QVERIFY2(message.contains(QDir::toNativeSeparators(file)) && message.contains(QStringLiteral("): ") + expectLines),
             qPrintable(message));
    QCOMPARE(int(book.shifts().size()), shifts - (lines.isEmpty() ? 1 : 0));
    QCOMPARE(test::readFile(file), bytes); // left as it is
    // What the ledger is sent: the sound lines, byte for byte where they lie;
    // a line cut short waits.
    const ShiftFileLines sent = readShiftFileLines(file, 0, 100);
    QCOMPARE(int(sent.lines.size()), sound);
    QCOMPARE(sent.damaged, bytes.count('\n') - sound);
    for (const ShiftFileLine &l : sent.lines)
        QCOMPARE(bytes.mid(l.offset, l.text.size() + 1), l.text + '\n');
    QCOMPARE(sent.next, bytes.lastIndexOf('\n') + 1);
    QVERIFY(sent.atEnd);

    // Whatever the damage, the book goes on: the next line on a line of its
    // own, or in the place of a line cut short (never acknowledged).
    const int number = book.takeReceiptNumber({2, 1000, false});
    QVERIFY(number >= 1);
    ShiftBook again(file);
    const QString after = again.load();
    if (damaged == 0)
        QCOMPARE(after, QString());
    else
        QVERIFY2(after.contains(QStringLiteral("(%1)").arg(damaged)), qPrintable(after)); // the same, no more
    QCOMPARE(again.receiptNumber({2, 1000, false}), number);
    // Shipping resumes where it ended: the new line and nothing else.
    const ShiftFileLines next = readShiftFileLines(file, sent.next, 100);
    QCOMPARE(next.lines.size(), 1);
    QVERIFY(next.lines[0].text.startsWith("receipt\t" + QByteArray::number(number) + '\t'));
    QCOMPARE(next.damaged, 0);
}

// A child opens a shift and takes receipt numbers, then is killed with
// SIGKILL: the shift is still open at the next start, and the next number
// follows the last one on the disk.
void TestCashDesk::killedShiftStaysOpenAndNumbersGoOn()
{
    const QString file = path("Bilmeko.shifts");
    int ready[2];
    QVERIFY(::pipe(ready) == 0);
    const pid_t pid = ::fork();
    QVERIFY(pid >= 0);
    if (pid == 0) {
        try {
            ShiftBook book(file);
            book.load();
            book.open(QStringLiteral("Вера"), 2500, 0);
            for (std::uint64_t id = 1; id <= 3; ++id)
                book.takeReceiptNumber({id, 1000, false});
        } catch (...) {
            ::_exit(1);
        }
        if (::write(ready[1], "x", 1) != 1)
            ::_exit(1);
        for (;;)
            ::pause();
    }
    char c = 0;
    QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
    ::kill(pid, SIGKILL);
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ::close(ready[0]);
    ::close(ready[1]);

    ShiftBook book(file);
    QCOMPARE(book.load(), QString());
    QVERIFY(book.openShift());
    QCOMPARE(book.openShift()->operatorName, QStringLiteral("Вера"));
    QCOMPARE(book.openShift()->openingCash, 2500.0);
    QCOMPARE(book.lastReceiptNumber(), 3);
    QCOMPARE(book.takeReceiptNumber({4, 1000, false}), 4);
}

// The report's expected cash is the opening cash and the shift's cash
// records, reversals included: records before the opening and after the
// closing, other methods and damaged records do not count.
void TestCashDesk::expectedCashIsTheSumOfTheShiftsCashRecords()
{
    const QString journal = path("Bilmeko.log");
    SessionBoard board(journal);
    board.setUndoWindowMs(5 * 60'000);
    const auto stopAfter = [&](const QString &client, double price, Payment p, int minutes) {
        const auto row = board.addSession(client, QString(), QStringLiteral("Стрижка"), price, 2, 0, p);
        m_clock->advanceSecs(minutes * 60);
        board.stopSession(row);
    };
    stopAfter(QStringLiteral("До смены"), 10, Payment::Cash, 5); // 50, before the shift
    ShiftBook book(path("Bilmeko.shifts"));
    book.open(QStringLiteral("Анна"), 1000, journalRecordsLength(journal));
    stopAfter(QStringLiteral("А"), 2, Payment::Cash, 30); // 60 cash
    stopAfter(QStringLiteral("Б"), 3, Payment::Card, 10); // 30 card
    stopAfter(QStringLiteral("В"), 5, Payment::Cash, 12); // 60 cash, then taken back
    m_clock->advanceSecs(60);
    QVERIFY(board.undoStop());
    board.stopSession(board.curLog().rowId(0)); // and stopped again: 60 cash
    LogRecord sale = abonementSale(QStringLiteral("Г"), {QStringLiteral("10 часов"), 600, 4500}, Payment::Cash,
                                   Clock::current().nowValue());
    sale.sessionId = 99;
    appendJournalRecord(journal, sale);
    // A damaged record in the shift: left out and counted.
    LogRecord damaged = sale;
    damaged.sessionId = 100;
    appendJournalRecord(journal, damaged);
    QByteArray bytes = test::readFile(journal);
    bytes[bytes.size() - RecordSize + record::Amount] ^= 0x40;
    test::writeFile(journal, bytes);

    const ShiftSummary open = summarizeShift(*book.openShift(), journal);
    const Shift closed = book.close(1700, journalRecordsLength(journal));
    stopAfter(QStringLiteral("После смены"), 10, Payment::Cash, 5); // not in it

    const ShiftSummary s = summarizeShift(closed, journal);
    QCOMPARE(open.expectedCash(), s.expectedCash());
    // The sum of the cash records between the shift's bounds, read apart.
    double cash = 0;
    const QByteArray all = test::readFile(journal);
    for (qint64 at = closed.journalFrom; at < closed.journalTo; at += RecordSize) {
        QByteArray rec = all.mid(at, RecordSize);
        if (recordSeal(rec.constData()) != RecordSeal::Good)
            continue;
        ScrambleRecord(rec.data());
        const LogRecord r = deserializeRecord(rec.constData());
        if (r.payment == Payment::Cash)
            cash += r.amount;
    }
    QCOMPARE(cash, 60.0 + 60 - 60 + 60 + 4500);
    QCOMPARE(s.expectedCash(), 1000 + cash);
    QCOMPARE(s.sessions, 3); // А, Б, В once; the sale apart
    QCOMPARE(s.minutes, qint64(30 + 10 + 12));
    QCOMPARE(s.abonementSales, 1);
    QCOMPARE(s.damaged, 1);
    QCOMPARE(s.takings[size_t(Payment::Card)], 30.0);
    QCOMPARE(s.reversals.size(), 1);
    QCOMPARE(s.reversals[0].client, QStringLiteral("В"));
    QCOMPARE(s.reversals[0].payment, Payment::Cash);

    const QString text = shiftSlip(s, QStringLiteral("Стойка 1")).text();
    for (const QString &line :
         {QStringLiteral("Отчет о смене 1"), QStringLiteral("Оператор: Анна"), QStringLiteral("Выручка, наличные: 4"),
          QStringLiteral("Выручка, карта: 30,00"), QStringLiteral("Отмены: 1"), QStringLiteral("Наличные по факту: 1"),
          QStringLiteral("Повреждено записей: 1")})
        QVERIFY2(text.contains(line), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral(" В: -60,00\u00A0₽, наличные\n")), qPrintable(text));

    // A reversal that takes back no Stop (forged, or its Stop lost) is left
    // out of the next shift's cash, as the report leaves it out.
    book.open(QStringLiteral("Борис"), 500, journalRecordsLength(journal));
    LogRecord forged = sale;
    forged.status = StatusUndo;
    forged.abonement = false;
    forged.reversal = true;
    forged.amount = -400;
    forged.sessionId = 101;
    appendJournalRecord(journal, forged);
    const ShiftSummary next = summarizeShift(*book.openShift(), journal);
    QCOMPARE(next.uncounted, 1);
    QCOMPARE(next.expectedCash(), 500.0);
    QVERIFY(next.reversals.isEmpty());
}

void TestCashDesk::abonementKinds_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("usable");
    QTest::newRow("plain") << QByteArray("10 часов=600;4500") << true;
    QTest::newRow("decimal comma") << QByteArray("Утро=60;450,50") << true;
    QTest::newRow("no price") << QByteArray("Утро=60") << false;
    QTest::newRow("no minutes") << QByteArray("Утро=;450") << false;
    QTest::newRow("too many minutes") << QByteArray("Год=1000000;1") << false;
    QTest::newRow("negative price") << QByteArray("Утро=60;-1") << false;
    QTest::newRow("words") << QByteArray("Утро=много;дешево") << false;
}

void TestCashDesk::abonementKinds()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, usable);
    test::writeFile(path("Bilmeko.ini"), "[Abonements]\r\n" + QString::fromUtf8(line).toUtf8() + "\r\n");
    const AbonementKinds kinds = readAbonementKinds(ProfileFile(path("Bilmeko.ini")));
    QCOMPARE(kinds.kinds.size(), usable ? 1 : 0);
    QCOMPARE(kinds.messages.size(), usable ? 0 : 1);
    if (!usable)
        QVERIFY(kinds.messages[0].contains(QStringLiteral("[Abonements]")));
}

// Bought minus used, by the client's name; a session taken back gives its
// minutes back; another client's, an unflagged record and a damaged one do
// not count.
void TestCashDesk::abonementBalanceIsASumOverTheJournal()
{
    const QString journal = path("Bilmeko.log");
    LogRecord sale = abonementSale(QStringLiteral("Анна"), {QStringLiteral("5 часов"), 300, 2000}, Payment::Card,
                                   Clock::current().nowValue());
    sale.sessionId = 1;
    appendJournalRecord(journal, sale);
    QCOMPARE(soldMinutes(sale), 300);
    SessionBoard board(journal);
    board.setUndoWindowMs(5 * 60'000);
    const auto drawn = board.addSession(QStringLiteral("анна "), QString(), QStringLiteral("Солярий"), 10, 1, 0,
                                        Payment::Unknown, true);
    m_clock->advanceSecs(40 * 60 + 30);
    QCOMPARE(board.session(drawn)->charge(40 * 60'000, 10).amount, 0.0);
    board.stopSession(drawn);
    QCOMPARE(abonementBalance(journal, QStringLiteral("Анна")).left(), qint64(300 - 40));
    QVERIFY(board.undoStop());
    QCOMPARE(abonementBalance(journal, QStringLiteral("Анна")).left(), qint64(300));
    board.stopSession(board.curLog().rowId(0));
    // A typed note or status is no sale: only the flag counts.
    LogRecord typed = sale;
    typed.abonement = false;
    typed.sessionId = 2;
    appendJournalRecord(journal, typed);
    LogRecord other = sale;
    other.clientName = QStringLiteral("Борис");
    other.sessionId = 3;
    appendJournalRecord(journal, other);
    // Nor does a reversal with no Stop of its own give minutes back.
    LogRecord forged = sale;
    forged.status = StatusUndo;
    forged.reversal = true;
    forged.elapsed = -100.0 / (24 * 60); // 100 minutes
    forged.amount = 0;
    forged.sessionId = 4;
    appendJournalRecord(journal, forged);
    const AbonementBalance b = abonementBalance(journal, QStringLiteral("АННА"));
    QCOMPARE(b.bought, qint64(300));
    QCOMPARE(b.used, qint64(40));
    QCOMPARE(abonementBalance(journal, QStringLiteral("Борис")).left(), qint64(300));
    QCOMPARE(abonementBalance(path("none.log"), QStringLiteral("Анна")).left(), qint64(0));
}

QTEST_GUILESS_MAIN(TestCashDesk)
#include "test_cashdesk.moc"
