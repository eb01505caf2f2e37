// The session table and its billing tick: the minute rule, the storage
// rules, the walk over the rows, the end-of-session steps, midnight, and a
// journal that cannot be written.

#include "app/core/sessionboard.h"
#include "common/core/clock.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journal/core/logrecord.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace bilmeko;

namespace {

const QDate Day(2026, 12, 7);

QDateTime at(int h, int m, int s = 0, int ms = 0, int dayOffset = 0)
{
    return QDateTime(Day.addDays(dayOffset), QTime(h, m, s, ms));
}

QString timeText(double v)
{
    return Formats::current().timeText(v);
}

QString rub(const QString &digits)
{
    return digits + QChar(0x00A0) + QChar(0x20BD);
}

} // namespace

class TestSessionBoard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void minuteRule_data();
    void minuteRule();
    void elapsedTextBeyondADay();

    void newRowInFrontOfCurrent();
    void storageRules_data();
    void storageRules();
    void negativeDurationAddsNothing();

    void tickOnEmptyTable();
    void tickUpdatesRunningRows_data();
    void tickUpdatesRunningRows();
    void tickEndsAtExactlyTEnd();
    void twoSessionsEndInOneTick();
    void currentRowEndingMakesLastRowCurrent();
    void noticeShowsElapsedAndAmount();

    void sessionAcrossMidnight();
    void endJustBeforeMidnightSeenAfterIt();

    void failingJournalKeepsRowAndRetries();
    void tickDoesNotStartInsideItsErrorBox();

    void stopEndsThatRow();
    void stopWithFailingJournalKeepsRow();
    void extendMovesTheEnd();
    void extendAcrossMidnight();

private:
    // Records of the journal, unscrambled.
    QList<LogRecord> journal() const;
    QByteArray plainRecordBytes(int n) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FixedClock> m_clock;
    std::unique_ptr<ScopedClock> m_scoped;
    std::unique_ptr<SessionBoard> m_board;
    QList<Notice> m_notices;
};

void TestSessionBoard::init()
{
    test::pinRussian();
    m_dir = std::make_unique<QTemporaryDir>();
    m_clock = std::make_unique<FixedClock>(at(10, 0));
    m_scoped = std::make_unique<ScopedClock>(m_clock.get());
    m_board = std::make_unique<SessionBoard>(m_dir->filePath(QStringLiteral("Bilmeko.log")));
    m_notices.clear();
    m_board->setNoticeHook([this](const Notice &n) { m_notices << n; });
}

void TestSessionBoard::cleanup()
{
    m_board.reset();
    m_scoped.reset();
    m_clock.reset();
    m_dir.reset();
}

QByteArray TestSessionBoard::plainRecordBytes(int n) const
{
    QFile f(m_board->journalPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray all = f.readAll();
    QByteArray rec = all.mid(n * RecordSize, RecordSize);
    if (rec.size() == RecordSize)
        ScrambleRecord(rec.data());
    return rec;
}

QList<LogRecord> TestSessionBoard::journal() const
{
    QList<LogRecord> out;
    QFile f(m_board->journalPath());
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QByteArray all = f.readAll();
    for (int i = 0; i + RecordSize <= all.size(); i += RecordSize) {
        QByteArray rec = all.mid(i, RecordSize);
        ScrambleRecord(rec.data());
        out << deserializeRecord(rec.constData());
    }
    return out;
}

void TestSessionBoard::minuteRule_data()
{
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<qint64>("minutes");
    QTest::addColumn<double>("amount");

    QTest::newRow("nothing") << qint64(0) << qint64(0) << 0.0;
    QTest::newRow("59 s") << qint64(59'000) << qint64(0) << 0.0;
    QTest::newRow("59.999 s") << qint64(59'999) << qint64(0) << 0.0;
    QTest::newRow("60 s") << qint64(60'000) << qint64(1) << 2.5;
    QTest::newRow("1:59:59") << qint64(7'199'000) << qint64(119) << 297.5;
    QTest::newRow("23:59:59") << qint64(86'399'000) << qint64(1439) << 3597.5;
    QTest::newRow("25 h counts its real minutes") << qint64(90'000'000) << qint64(1500) << 3750.0;
    QTest::newRow("clock set back") << qint64(-5'000) << qint64(0) << 0.0;
}

void TestSessionBoard::minuteRule()
{
    QFETCH(qint64, elapsedMs);
    QFETCH(qint64, minutes);
    QFETCH(double, amount);
    const MinuteCharge c = minuteCharge(elapsedMs, 2.5);
    QCOMPARE(c.minutes, minutes);
    QCOMPARE(c.amount, amount);
}

void TestSessionBoard::elapsedTextBeyondADay()
{
    QCOMPARE(elapsedText(0), QStringLiteral("0:00:00"));
    QCOMPARE(elapsedText((65 * 60 + 20) * 1000), QStringLiteral("1:05:20"));
    QCOMPARE(elapsedText(((25 * 60 + 3) * 60 + 4) * qint64(1000)), QStringLiteral("25:03:04"));
}

void TestSessionBoard::newRowInFrontOfCurrent()
{
    MemTable &t = m_board->curLog();
    const auto a = m_board->addSession("A", "", "S", 1, 1, 0);
    const auto b = m_board->addSession("B", "", "S", 1, 1, 0);
    QCOMPARE(t.rowOf(b), 0);
    QCOMPARE(t.rowOf(a), 1);
    t.setCurrentRow(1);
    const auto c = m_board->addSession("C", "", "S", 1, 1, 0);
    QCOMPARE(t.rowOf(c), 1);
    QCOMPARE(t.currentRow(), 1);
    QCOMPARE(t.rowOf(a), 2);
}

void TestSessionBoard::storageRules_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("hours");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QString>("storedName");
    QTest::addColumn<QString>("tbeg");
    QTest::addColumn<QString>("tend");
    QTest::addColumn<QString>("tleft");

    QTest::newRow("1 h 30 min at 10:00") << at(10, 0) << "Иванова" << 1 << 30 << "Иванова"
                                         << "10:00:00"
                                         << "11:30:00"
                                         << "1:30:00";
    QTest::newRow("name of 25 kept as 20")
        << at(10, 0) << "Абвгдежзийклмнопрстуфхцчш" << 0 << 10 << "Абвгдежзийклмнопрсту"
        << "10:00:00"
        << "10:10:00"
        << "0:10:00";
    QTest::newRow("23:30 + 1 h") << at(23, 30) << "Ночь" << 1 << 0 << "Ночь"
                                 << "23:30:00"
                                 << "0:30:00"
                                 << "1:00:00";
    QTest::newRow("23 h 59 min") << at(10, 0, 15) << "Долго" << 23 << 59 << "Долго"
                                 << "10:00:15"
                                 << "9:59:15"
                                 << "23:59:00";
}

void TestSessionBoard::storageRules()
{
    QFETCH(QDateTime, start);
    QFETCH(QString, name);
    QFETCH(int, hours);
    QFETCH(int, minutes);
    QFETCH(QString, storedName);
    QFETCH(QString, tbeg);
    QFETCH(QString, tend);
    QFETCH(QString, tleft);

    m_clock->set(start);
    m_board->addSession(name, QString(30, QLatin1Char('n')), QString(21, QLatin1Char('s')), 5, hours, minutes);
    const MemTable &t = m_board->curLog();
    QCOMPARE(t.text(curlog::FIO), storedName);
    QCOMPARE(t.text(curlog::Describe).size(), 20);
    QCOMPARE(t.text(curlog::PItem).size(), 20);
    QCOMPARE(t.number(curlog::Price), 5.0);
    QCOMPARE(timeText(t.number(curlog::TBeg)), tbeg);
    QCOMPARE(timeText(t.number(curlog::TEnd)), tend);
    QCOMPARE(timeText(t.number(curlog::TLeft)), tleft);
    QCOMPARE(t.number(curlog::Summ), 0.0);
    // Time fields hold times of day only.
    QVERIFY(t.number(curlog::TEnd) < 1.0);

    // The session holds what its row shows, and its record is made from it.
    const Session *s = m_board->session(t.currentId());
    QVERIFY(s);
    QCOMPARE(s->client, storedName);
    QCOMPARE(s->note, t.text(curlog::Describe));
    QCOMPARE(s->service, t.text(curlog::PItem));
    QCOMPARE(s->price, 5.0);
    const double tbegValue = t.number(curlog::TBeg);
    QVERIFY(m_board->stopSession(t.currentId()));
    const QList<LogRecord> j = journal();
    QCOMPARE(j.size(), 1);
    QCOMPARE(j[0].clientName, storedName);
    QCOMPARE(j[0].note, QString(20, QLatin1Char('n')));
    QCOMPARE(j[0].service, QString(20, QLatin1Char('s')));
    QCOMPARE(j[0].pricePerMin, 5.0);
    QCOMPARE(j[0].startTime, tbegValue);
}

void TestSessionBoard::negativeDurationAddsNothing()
{
    QVERIFY_THROWS_EXCEPTION(Error, m_board->addSession("A", "", "S", 1, -1, 0));
    QVERIFY_THROWS_EXCEPTION(Error, m_board->addSession("A", "", "S", 1, 0, -5));
    QVERIFY(m_board->curLog().isEmpty());
}

void TestSessionBoard::tickOnEmptyTable()
{
    test::ErrorRecorder errors;
    m_board->tick();
    QVERIFY(errors.messages.isEmpty());
    QVERIFY(m_notices.isEmpty());
    QCOMPARE(m_board->curLog().currentRow(), -1);
    QVERIFY(!m_board->curLog().updatesHeld());
    QVERIFY(!QFile::exists(m_board->journalPath()));
}

void TestSessionBoard::tickUpdatesRunningRows_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("tleft");
    QTest::addColumn<double>("summ");

    QTest::newRow("5:20 in") << at(10, 5, 20) << "1:24:40" << 25.0;
    QTest::newRow("5:59.999 in") << at(10, 5, 59, 999) << "1:24:00" << 25.0;
    QTest::newRow("6:00 in") << at(10, 6) << "1:24:00" << 30.0;
    QTest::newRow("a second before the end") << at(11, 29, 59) << "0:00:01" << 445.0;
}

void TestSessionBoard::tickUpdatesRunningRows()
{
    QFETCH(QDateTime, now);
    QFETCH(QString, tleft);
    QFETCH(double, summ);

    m_board->addSession("A", "", "S", 5, 1, 30);
    m_clock->set(now);
    m_board->tick();
    const MemTable &t = m_board->curLog();
    QCOMPARE(t.rowCount(), 1);
    QCOMPARE(timeText(t.number(curlog::TLeft)), tleft);
    QCOMPARE(t.number(curlog::Summ), summ);
    QVERIFY(m_notices.isEmpty());
}

void TestSessionBoard::tickEndsAtExactlyTEnd()
{
    m_board->addSession("A", "note", "S", 3, 0, 10);
    m_clock->set(at(10, 9, 59, 999));
    m_board->tick();
    QCOMPARE(m_board->curLog().rowCount(), 1);

    m_clock->set(at(10, 10));
    m_board->tick();
    QVERIFY(m_board->curLog().isEmpty());
    QCOMPARE(m_notices.size(), 1);
    const QList<LogRecord> j = journal();
    QCOMPARE(j.size(), 1);
    QCOMPARE(j[0].status, StatusTimeUp);
    QCOMPARE(j[0].amount, 30.0);
    QCOMPARE(j[0].note, QStringLiteral("note"));
    QCOMPARE(j[0].service, QStringLiteral("S"));
}

void TestSessionBoard::twoSessionsEndInOneTick()
{
    MemTable &t = m_board->curLog();
    m_board->addSession("X", "", "S", 1, 1, 0);
    m_board->addSession("B", "", "S", 2, 0, 10);
    m_board->addSession("A", "", "S", 3, 0, 10); // table: A, B, X

    m_clock->set(at(10, 10, 30));
    m_board->tick();

    QCOMPARE(m_notices.size(), 2);
    QCOMPARE(m_notices[0].customer, QStringLiteral("A"));
    QCOMPARE(m_notices[1].customer, QStringLiteral("B"));
    const QList<LogRecord> j = journal();
    QCOMPARE(j.size(), 2);
    QCOMPARE(j[0].clientName, QStringLiteral("A"));
    QCOMPARE(j[0].amount, 30.0);
    QCOMPARE(j[1].clientName, QStringLiteral("B"));
    QCOMPARE(j[1].amount, 20.0);
    // The row after the ended ones was updated in the same tick.
    QCOMPARE(t.rowCount(), 1);
    QCOMPARE(t.text(curlog::FIO), QStringLiteral("X"));
    QCOMPARE(timeText(t.number(curlog::TLeft)), QStringLiteral("0:49:30"));
    QCOMPARE(t.number(curlog::Summ), 10.0);
    QVERIFY(!t.updatesHeld());
}

void TestSessionBoard::currentRowEndingMakesLastRowCurrent()
{
    MemTable &t = m_board->curLog();
    const auto q = m_board->addSession("Q", "", "S", 1, 1, 0);
    const auto a = m_board->addSession("A", "", "S", 1, 0, 10);
    const auto p = m_board->addSession("P", "", "S", 1, 1, 0); // P, A, Q
    t.setCurrentRow(t.rowOf(a));

    m_clock->set(at(10, 10));
    m_board->tick();
    QCOMPARE(t.rowCount(), 2);
    QCOMPARE(t.currentId(), q);

    // A remembered row that survives stays current.
    t.setCurrentRow(t.rowOf(p));
    m_clock->set(at(10, 20));
    m_board->tick();
    QCOMPARE(t.currentId(), p);
}

void TestSessionBoard::noticeShowsElapsedAndAmount()
{
    m_board->addSession("Иванова Мария", "", "S", 5, 1, 5);
    m_clock->set(at(11, 5, 20));
    m_board->tick();
    QCOMPARE(m_notices.size(), 1);
    QCOMPARE(m_notices[0].customer, QStringLiteral("Иванова Мария"));
    // Time up: the booked time, whenever the tick came.
    QCOMPARE(m_notices[0].stat, QStringLiteral("Время: 1:05:00 Сумма: ") + rub("325,00"));
    QCOMPARE(m_notices[0].caption, QStringLiteral("Время: 11:05:20"));
    QCOMPARE(journal().at(0).amount, 325.0);
}

void TestSessionBoard::sessionAcrossMidnight()
{
    MemTable &t = m_board->curLog();
    m_clock->set(at(23, 30));
    m_board->addSession("Ночь", "", "S", 2, 1, 0);

    m_clock->set(at(23, 50));
    m_board->tick();
    QCOMPARE(t.rowCount(), 1);
    QCOMPARE(timeText(t.number(curlog::TLeft)), QStringLiteral("0:40:00"));
    QCOMPARE(t.number(curlog::Summ), 40.0);

    m_clock->set(at(0, 10, 0, 0, 1));
    m_board->tick();
    QCOMPARE(t.rowCount(), 1);
    QCOMPARE(timeText(t.number(curlog::TLeft)), QStringLiteral("0:20:00"));
    QCOMPARE(t.number(curlog::Summ), 80.0);

    m_clock->set(at(0, 30, 10, 0, 1));
    m_board->tick();
    QVERIFY(t.isEmpty());
    QCOMPARE(m_notices.at(0).stat, QStringLiteral("Время: 1:00:00 Сумма: ") + rub("120,00"));
    // The record ends at the booked end, not at the tick that saw it.
    const LogRecord r = journal().at(0);
    QCOMPARE(timeText(r.startTime), QStringLiteral("23:30:00"));
    QCOMPARE(timeText(r.endTime), QStringLiteral("0:30:00"));
    QVERIFY(r.startTime < 1 && r.endTime < 1);
    QCOMPARE(roundToMs(r.elapsed), qint64(3'600'000));
    QCOMPARE(r.amount, 120.0);
    QCOMPARE(r.written, dateTimeValue(at(0, 30, 0, 0, 1)));
}

void TestSessionBoard::endJustBeforeMidnightSeenAfterIt()
{
    m_clock->set(at(22, 59, 50));
    m_board->addSession("A", "", "S", 1, 1, 0); // ends 23:59:50
    m_clock->set(at(0, 0, 5, 0, 1));
    m_board->tick();
    QVERIFY(m_board->curLog().isEmpty());
    const LogRecord r = journal().at(0);
    QCOMPARE(r.amount, 60.0);
    QCOMPARE(roundToMs(r.elapsed), qint64(3'600'000));
}

void TestSessionBoard::failingJournalKeepsRowAndRetries()
{
    MemTable &t = m_board->curLog();
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Bilmeko.log")));
    const auto x = m_board->addSession("X", "", "S", 1, 1, 0);
    const auto a = m_board->addSession("A", "", "S", 1, 0, 10);
    m_board->addSession("R", "", "S", 1, 1, 0); // R, A, X
    t.setCurrentRow(t.rowOf(x));

    test::ErrorRecorder errors;
    m_clock->set(at(10, 15));
    m_board->tick();
    QCOMPARE(errors.messages, QStringList{QStringLiteral("File access denied.")});
    QVERIFY(m_notices.isEmpty()); // nothing is billed yet
    QCOMPARE(t.rowCount(), 3);
    QVERIFY(t.rowOf(a) >= 0);
    // R was examined before the failure, X was not.
    QCOMPARE(t.value(0, t.fieldIndex(curlog::Summ)).toDouble(), 15.0);
    QCOMPARE(t.value(2, t.fieldIndex(curlog::Summ)).toDouble(), 0.0);
    // The error path restores the current row and the grid's updates.
    QCOMPARE(t.currentId(), x);
    QVERIFY(!t.updatesHeld());
    QVERIFY(!m_board->ticking());

    // The next tick tries again; still no notice while the disk refuses.
    m_clock->set(at(10, 15, 20));
    m_board->tick();
    QCOMPARE(errors.messages.size(), 2);
    QVERIFY(m_notices.isEmpty());

    QVERIFY(QDir(m_dir->path()).rmdir(QStringLiteral("Bilmeko.log")));
    m_clock->set(at(10, 15, 40));
    m_board->tick();
    QCOMPARE(errors.messages.size(), 2);
    QCOMPARE(t.rowOf(a), -1);
    QCOMPARE(journal().size(), 1);
    // The notice comes with the record, once, for that session.
    QCOMPARE(m_notices.size(), 1);
    QCOMPARE(m_notices[0].customer, QStringLiteral("A"));
    QCOMPARE(m_notices[0].sessionId, journal().at(0).sessionId);
    QCOMPARE(t.value(1, t.fieldIndex(curlog::Summ)).toDouble(), 15.0);
}

void TestSessionBoard::tickDoesNotStartInsideItsErrorBox()
{
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Bilmeko.log")));
    m_board->addSession("A", "", "S", 1, 0, 10);
    m_clock->set(at(10, 30));

    // The error box runs a nested event loop in which the timer fires again.
    int boxes = 0;
    bool tickingInsideBox = false;
    const ErrorSink previous = setErrorSink([&](const QString &) {
        ++boxes;
        tickingInsideBox = m_board->ticking();
        m_board->tick();
        m_board->tick();
    });
    m_board->tick();
    setErrorSink(previous);

    QCOMPARE(boxes, 1);
    QVERIFY(m_notices.isEmpty());
    QVERIFY(tickingInsideBox);
    QVERIFY(!m_board->ticking());
}

void TestSessionBoard::stopEndsThatRow()
{
    MemTable &t = m_board->curLog();
    const auto y = m_board->addSession("Y", "", "S", 1, 1, 0);
    const auto a = m_board->addSession("A", "", "S", 4, 1, 0);
    m_board->addSession("X", "", "S", 1, 1, 0); // X, A, Y; X current

    m_clock->set(at(10, 0, 40));
    QVERIFY(m_board->stopSession(a));
    QCOMPARE(t.rowCount(), 2);
    QCOMPARE(t.currentId(), y); // the row that followed
    QCOMPARE(m_notices.size(), 1);
    QCOMPARE(m_notices[0].stat, QStringLiteral("Время: 0:00:40 Сумма: ") + rub("0,00"));

    const QByteArray rec = plainRecordBytes(0);
    QCOMPARE(int(rec[record::Status]), 4);
    QCOMPARE(journal().at(0).status, QStringLiteral("Стоп"));
    QCOMPARE(journal().at(0).clientName, QStringLiteral("A"));

    QVERIFY(!m_board->stopSession(a));
    QCOMPARE(journal().size(), 1);
}

void TestSessionBoard::stopWithFailingJournalKeepsRow()
{
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Bilmeko.log")));
    const auto a = m_board->addSession("A", "", "S", 1, 1, 0);
    m_clock->set(at(10, 5));
    QVERIFY_THROWS_EXCEPTION(IoError, m_board->stopSession(a));
    QCOMPARE(m_board->curLog().rowOf(a), 0);
    QVERIFY(m_notices.isEmpty()); // the error box alone

    // Stop again once the disk takes it: the record, then its notice.
    QVERIFY(QDir(m_dir->path()).rmdir(QStringLiteral("Bilmeko.log")));
    m_board->setNoticeHook([this](const Notice &n) {
        QCOMPARE(journal().size(), 1);
        m_notices << n;
    });
    QVERIFY(m_board->stopSession(a));
    QCOMPARE(m_notices.size(), 1);
}

void TestSessionBoard::extendMovesTheEnd()
{
    MemTable &t = m_board->curLog();
    const auto a = m_board->addSession("A", "", "S", 1, 1, 30);
    m_board->addSession("B", "", "S", 1, 0, 10); // B current
    m_clock->set(at(10, 10));
    m_board->tick(); // B ends, A becomes current; Summ of A is 10
    const auto b2 = m_board->addSession("B2", "", "S", 1, 1, 0);

    QVERIFY(m_board->extendSession(a, 0, 30));
    QCOMPARE(t.currentId(), b2);
    const int row = t.rowOf(a);
    QCOMPARE(timeText(t.value(row, t.fieldIndex(curlog::TEnd)).toDouble()), QStringLiteral("12:00:00"));
    QCOMPARE(timeText(t.value(row, t.fieldIndex(curlog::TLeft)).toDouble()), QStringLiteral("1:50:00"));
    QCOMPARE(timeText(t.value(row, t.fieldIndex(curlog::TBeg)).toDouble()), QStringLiteral("10:00:00"));
    QCOMPARE(t.value(row, t.fieldIndex(curlog::Summ)).toDouble(), 10.0);

    // The session now ends at 12:00, not 11:30.
    m_clock->set(at(11, 45));
    m_board->tick();
    QVERIFY(t.rowOf(a) >= 0);

    QVERIFY(m_board->stopSession(a));
    QVERIFY(!m_board->extendSession(a, 1, 0));
}

void TestSessionBoard::extendAcrossMidnight()
{
    MemTable &t = m_board->curLog();
    m_clock->set(at(23, 0));
    const auto a = m_board->addSession("A", "", "S", 1, 0, 50);
    m_clock->set(at(23, 10));
    QVERIFY(m_board->extendSession(a, 1, 0));
    QCOMPARE(timeText(t.number(curlog::TEnd)), QStringLiteral("0:50:00"));
    QCOMPARE(timeText(t.number(curlog::TLeft)), QStringLiteral("1:40:00"));

    m_clock->set(at(23, 55));
    m_board->tick();
    QCOMPARE(t.rowCount(), 1);
    m_clock->set(at(0, 50, 0, 0, 1));
    m_board->tick();
    QVERIFY(t.isEmpty());
    QCOMPARE(journal().at(0).amount, 110.0);
}

QTEST_GUILESS_MAIN(TestSessionBoard)
#include "test_sessionboard.moc"
