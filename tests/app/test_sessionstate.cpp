// The running sessions on disk: the state file's format, damaged and
// missing files, the atomic replace, and what the next start restores.

#include "app/core/sessionboard.h"
#include "app/core/sessionstate.h"
#include "common/core/atomicfile.h"
#include "common/core/clock.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journal/core/journalfile.h"
#include "journal/core/logrecord.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <memory>
#include <unistd.h>

using namespace bilmeko;

namespace {

QString timeText(double v)
{
    return Formats::current().timeText(v);
}

SavedSession saved(std::uint64_t id, const QString &client)
{
    SavedSession s;
    s.id = id;
    s.startUtcMs = 1'796'637'600'000; // 2026-12-07 10:00 UTC
    s.hasStartMono = true;
    s.startMonoMs = 5000;
    s.bookedMs = 30 * 60'000;
    s.price = 12.5;
    s.client = client;
    s.service = QStringLiteral("Стрижка");
    s.note = QString();
    return s;
}

} // namespace

class TestSessionState : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formatAsDocumented();
    void roundTripKeepsEveryField_data();
    void roundTripKeepsEveryField();
    void damagedFileIsKeptAsideAndReported_data();
    void damagedFileIsKeptAsideAndReported();
    void missingFileIsAnEmptyGridWithoutMessage();
    void staleTemporariesRemovedAtStart();

    void restoreKeepsOrderAndFields();
    void restoreWithinOneBootUsesTheMonotonicClock();
    void restoreAfterRebootUsesUtcInstants();
    void sessionEndedWhileAwayIsWrittenWithItsBookedEnd();
    void sessionAlreadyInTheJournalIsNotRestoredNorWrittenAgain();
    void restoringTwiceChangesNothing();
    void versionOneStillLoads_data();
    void versionOneStillLoads();
    void restoredSessionFailingChecksIsKeptAside_data();
    void restoredSessionFailingChecksIsKeptAside();
    void clockSetBackKeepsEverySession_data();
    void clockSetBackKeepsEverySession();
    void startLooksAtTheJournalAfterTheSavedLength();
    void pauseSurvivesRestart_data();
    void pauseSurvivesRestart();
    void undoneStopIsReversedOnceAndSurvivesRestart_data();
    void undoneStopIsReversedOnceAndSurvivesRestart();
    void newAndExtendFailWhenTheStateCannotBeSaved();
    void closeFailingAfterFlushGivesOneRecord();

private:
    std::unique_ptr<SessionBoard> makeBoard();
    QList<LogRecord> journal() const;
    QString statePath() const { return m_dir->filePath(QStringLiteral("Bilmeko.sessions")); }
    QString journalPath() const { return m_dir->filePath(QStringLiteral("Bilmeko.log")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FixedClock> m_clock;
    std::unique_ptr<ScopedClock> m_scoped;
};

void TestSessionState::init()
{
    test::pinRussian();
    m_dir = std::make_unique<QTemporaryDir>();
    m_clock = std::make_unique<FixedClock>(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
    m_scoped = std::make_unique<ScopedClock>(m_clock.get());
}

void TestSessionState::cleanup()
{
    setSystemCalls({});
    m_scoped.reset();
    m_clock.reset();
    m_dir.reset();
}

std::unique_ptr<SessionBoard> TestSessionState::makeBoard()
{
    auto b = std::make_unique<SessionBoard>(journalPath());
    b->setStatePath(statePath());
    return b;
}

QList<LogRecord> TestSessionState::journal() const
{
    QList<LogRecord> out;
    const QByteArray all = test::readFile(journalPath());
    for (int i = 0; i + RecordSize <= all.size(); i += RecordSize) {
        QByteArray rec = all.mid(i, RecordSize);
        if (recordSeal(rec.constData()) == RecordSeal::Bad)
            continue; // left out, as the report leaves it out
        const std::uint64_t id = storedSessionId(rec.constData());
        ScrambleRecord(rec.data());
        out << deserializeRecord(rec.constData());
        out.last().sessionId = id;
    }
    return out;
}

void TestSessionState::formatAsDocumented()
{
    SessionState st;
    st.monotonicRun = "boot-1";
    SavedSession s = saved(0xabc, QStringLiteral("Анна\tБ"));
    s.hasStartMono = false;
    s.note = QStringLiteral("50%");
    s.payment = Payment::Card;
    st.sessions << s;
    const QByteArray body
        = "Bilmeko sessions\t3\n"
          "boot\tboot-1\n"
          "session\t0000000000000abc\t1796637600000\t-\t1800000\t0\t-\t-\t12.5\t"
          "%D0%90%D0%BD%D0%BD%D0%B0%09%D0%91\t%D0%A1%D1%82%D1%80%D0%B8%D0%B6%D0%BA%D0%B0\t50%25\t2\t0\n";
    const QByteArray crc = QByteArray::number(crc32(body.constData(), body.size()), 16).rightJustified(8, '0');
    QCOMPARE(serializeSessionState(st), body + "crc32\t" + crc + "\n");
}

void TestSessionState::roundTripKeepsEveryField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("price");
    QTest::newRow("plain") << "Иванова" << 12.5;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("separators") << "a\tb\nc\r%d e" << 0.1;
    QTest::newRow("long price") << "x" << 1.0 / 3;
    QTest::newRow("large price") << "x" << 1e14;
}

void TestSessionState::roundTripKeepsEveryField()
{
    QFETCH(QString, text);
    QFETCH(double, price);
    SessionState st;
    st.monotonicRun = "8c7f6e1a-0000-4000-8000-000000000001";
    SavedSession a = saved(1, text);
    a.price = price;
    a.note = text;
    a.pausedMs = 90'000;
    a.paused = true;
    a.pauseStartUtcMs = a.startUtcMs + 600'000;
    a.hasPauseStartMono = true;
    a.pauseStartMonoMs = a.startMonoMs + 600'000;
    a.payment = Payment::Transfer;
    a.abonement = true;
    SavedSession b = saved(0xffffffffffffffffULL, QStringLiteral("B"));
    b.hasStartMono = false;
    b.startMonoMs = 0;
    b.paused = true; // paused, in a run whose monotonic clock is unknown
    b.pauseStartUtcMs = b.startUtcMs + 1;
    st.sessions << a << b;
    SessionState back;
    QString problem;
    QVERIFY2(parseSessionState(serializeSessionState(st), back, &problem), qPrintable(problem));
    QVERIFY(back == st);

    SessionStateFile file(statePath());
    file.save(st);
    const SessionStateFile::Loaded loaded = file.load();
    QCOMPARE(loaded.status, SessionStateFile::Status::Loaded);
    QVERIFY(loaded.state == st);
}

void TestSessionState::damagedFileIsKeptAsideAndReported_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("problem");

    SessionState st;
    st.monotonicRun = "b";
    st.sessions << saved(7, QStringLiteral("A"));
    const QByteArray good = serializeSessionState(st);
    const auto resealed = [](QByteArray body) {
        return body + "crc32\t" + QByteArray::number(crc32(body.constData(), body.size()), 16).rightJustified(8, '0')
            + "\n";
    };
    const QByteArray head = "Bilmeko sessions\t1\nboot\tb\n";
    const QByteArray line = "session\t0000000000000007\t1796637600000\t5000\t1800000\t12.5\tA\tB\tC\n";

    QTest::newRow("cut short") << good.left(good.size() - 5) << "файл оборван";
    QTest::newRow("one bit flipped") << QByteArray(good).replace("12.5", "12.6") << "контрольная сумма не сходится";
    QTest::newRow("something after the checksum") << good + "x\n"
                                                  << "файл оборван";
    QTest::newRow("another program's file") << QByteArray("[Price]\nx=1\n") << "это не файл сеансов Bilmeko";
    QTest::newRow("empty") << QByteArray() << "это не файл сеансов Bilmeko";
    QTest::newRow("later version") << resealed("Bilmeko sessions\t4\nboot\tb\n") << "неизвестная версия формата";
    QTest::newRow("version 1 with pauses")
        << resealed(head + QByteArray(line).replace("\t1800000\t", "\t1800000\t0\t-\t-\t"))
        << "строка 3: ожидалась строка сеанса";
    const QByteArray head2 = QByteArray(head).replace("sessions\t1", "sessions\t2");
    QTest::newRow("pause reading without its start")
        << resealed(head2 + QByteArray(line).replace("\t1800000\t", "\t1800000\t0\t-\t5000\t"))
        << "строка 3: неверная пауза";
    const QByteArray line3
        = QByteArray(line).replace("\t1800000\t", "\t1800000\t0\t-\t-\t").replace("\tC\n", "\tC\t1\t0\n");
    const QByteArray head3 = QByteArray(head).replace("sessions\t1", "sessions\t3");
    QTest::newRow("unknown payment method")
        << resealed(head3 + QByteArray(line3).replace("\t1\t0\n", "\t4\t0\n")) << "строка 3: неверный способ оплаты";
    QTest::newRow("abonement flag not 0 or 1")
        << resealed(head3 + QByteArray(line3).replace("\t1\t0\n", "\t1\t2\n")) << "строка 3: неверный способ оплаты";
    QTest::newRow("version 3 without payment")
        << resealed(head3 + QByteArray(line3).replace("\t1\t0\n", "\n")) << "строка 3: ожидалась строка сеанса";
    QTest::newRow("no boot line") << resealed("Bilmeko sessions\t1\n" + line) << "строка 2: нет строки boot";
    QTest::newRow("identifier zero") << resealed(head
                                                 + QByteArray(line).replace("0000000000000007", "0000000000000000"))
                                     << "строка 3: неверный номер сеанса";
    QTest::newRow("identifier twice") << resealed(head + line + line) << "строка 4: неверный номер сеанса";
    QTest::newRow("infinite price") << resealed(head + QByteArray(line).replace("12.5", "inf"))
                                    << "строка 3: неверная цена";
    QTest::newRow("negative start") << resealed(head + QByteArray(line).replace("\t1796637600000", "\t-5"))
                                    << "строка 3: неверное время начала";
    QTest::newRow("booked beyond ten years")
        << resealed(head + QByteArray(line).replace("\t1800000", "\t999999999999999"))
        << "строка 3: неверная длительность";
    QTest::newRow("raw text") << resealed(head + QByteArray(line).replace("\tA\t", "\tА Б\t"))
                              << "строка 3: неверный текст";
    QTest::newRow("not UTF-8") << resealed(head + QByteArray(line).replace("\tA\t", "\t%FF\t"))
                               << "строка 3: неверный текст";
    QTest::newRow("missing field") << resealed(head + QByteArray(line).replace("\tC\n", "\n"))
                                   << "строка 3: ожидалась строка сеанса";
    QTest::newRow("too large") << QByteArray("Bilmeko sessions\t1\n") + QByteArray(sessionstate::MaxBytes, 'x')
                               << "файл слишком велик";
}

void TestSessionState::damagedFileIsKeptAsideAndReported()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, problem);
    test::writeFile(statePath(), bytes);
    m_clock->set(QDateTime(QDate(2026, 12, 7), QTime(9, 15, 30)));

    auto board = makeBoard();
    const RestoreReport report = board->restoreSessions();
    QVERIFY(board->curLog().isEmpty());
    QCOMPARE(report.problems.size(), 1);
    const QString kept = statePath() + QStringLiteral(".damaged-20261207-091530");
    QCOMPARE(report.problems[0],
             QStringLiteral("Файл идущих сеансов \"%1\" повреждён (%2). Он сохранён как \"%3\"; "
                            "сеансы из него не восстановлены, таблица начата пустой.")
                 .arg(statePath(), problem, kept));
    QVERIFY(!QFile::exists(statePath()));
    QCOMPARE(test::readFile(kept), bytes);

    // A second damaged file in the same second keeps the first one.
    test::writeFile(statePath(), "junk");
    QVERIFY(makeBoard()->restoreSessions().problems.at(0).contains(kept + QStringLiteral("-2")));
    QCOMPARE(test::readFile(kept), bytes);

    // The next change starts a new, good file.
    board->addSession(QStringLiteral("A"), QString(), QStringLiteral("S"), 1, 1, 0);
    QCOMPARE(SessionStateFile(statePath()).load().status, SessionStateFile::Status::Loaded);
}

void TestSessionState::missingFileIsAnEmptyGridWithoutMessage()
{
    auto board = makeBoard();
    const RestoreReport report = board->restoreSessions();
    QVERIFY(report.problems.isEmpty());
    QVERIFY(board->curLog().isEmpty());
    QVERIFY(!QFile::exists(statePath()));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

void TestSessionState::staleTemporariesRemovedAtStart()
{
    const QStringList stale = {".Bilmeko.sessions.tmp-a1B2c3", ".Bilmeko.ini.tmp-Zz9yY8"};
    const QStringList kept = {".Bilmeko.sessions.tmp-toolong1", "Bilmeko.sessions.tmp-a1B2c3",
                              ".Bilmeko.sessions.backup", ".Bilmeko.ini.backup"};
    for (const QString &n : stale + kept)
        test::writeFile(m_dir->filePath(n), "x");
    QCOMPARE(removeStaleTemporaries(m_dir->filePath(QStringLiteral("Bilmeko.ini"))), 1);
    makeBoard()->restoreSessions();
    for (const QString &n : stale)
        QVERIFY2(!QFile::exists(m_dir->filePath(n)), qPrintable(n));
    for (const QString &n : kept)
        QVERIFY2(QFile::exists(m_dir->filePath(n)), qPrintable(n));
}

void TestSessionState::restoreKeepsOrderAndFields()
{
    auto first = makeBoard();
    const auto c = first->addSession(QStringLiteral("C"), QStringLiteral("нота"), QStringLiteral("Маникюр"), 7.25, 1, 0,
                                     Payment::Transfer);
    m_clock->advanceSecs(60);
    first->addSession(QStringLiteral("B"), QString(), QStringLiteral("Стрижка"), 5, 0, 30);
    m_clock->advanceSecs(60);
    first->addSession(QStringLiteral("A"), QString(), QStringLiteral("Стрижка"), 5, 0, 20);
    QVERIFY(first->extendSession(c, 0, 15));
    const auto ids = [](const SessionBoard &b) {
        QList<std::uint64_t> out;
        for (int r = 0; r < b.curLog().rowCount(); ++r)
            out << b.session(b.curLog().rowId(r))->id;
        return out;
    };
    const QList<std::uint64_t> before = ids(*first);
    first.reset(); // the program ends however it ends

    m_clock->advanceSecs(3 * 60);
    auto next = makeBoard();
    const RestoreReport report = next->restoreSessions();
    QVERIFY(report.problems.isEmpty());
    QCOMPARE(report.restored, 3);
    const MemTable &t = next->curLog();
    QCOMPARE(ids(*next), before);
    QCOMPARE(t.currentRow(), 0);
    const int last = 2;
    QCOMPARE(t.value(last, t.fieldIndex(curlog::FIO)).toString(), QStringLiteral("C"));
    QCOMPARE(t.value(last, t.fieldIndex(curlog::Describe)).toString(), QStringLiteral("нота"));
    QCOMPARE(t.value(last, t.fieldIndex(curlog::PItem)).toString(), QStringLiteral("Маникюр"));
    QCOMPARE(t.value(last, t.fieldIndex(curlog::Price)).toDouble(), 7.25);
    QCOMPARE(timeText(t.value(last, t.fieldIndex(curlog::TBeg)).toDouble()), QStringLiteral("10:00:00"));
    QCOMPARE(timeText(t.value(last, t.fieldIndex(curlog::TEnd)).toDouble()), QStringLiteral("11:15:00"));
    QCOMPARE(timeText(t.value(last, t.fieldIndex(curlog::TLeft)).toDouble()), QStringLiteral("1:10:00"));
    QCOMPARE(t.value(last, t.fieldIndex(curlog::Summ)).toDouble(), 5 * 7.25);
    QCOMPARE(next->elapsedMs(t.rowId(0)), qint64(3 * 60'000));
    QCOMPARE(next->session(t.rowId(last))->payment, Payment::Transfer);
    QCOMPARE(next->session(t.rowId(0))->payment, Payment::Unknown);
}

void TestSessionState::restoreWithinOneBootUsesTheMonotonicClock()
{
    makeBoard()->addSession(QStringLiteral("A"), QString(), QStringLiteral("S"), 1, 1, 0);
    // While the program was down, 10 real minutes passed and the wall clock
    // was moved two hours ahead.
    m_clock->advanceSecs(10 * 60);
    m_clock->jumpWallSecs(2 * 3600);
    auto next = makeBoard();
    next->restoreSessions();
    QCOMPARE(next->curLog().rowCount(), 1);
    QCOMPARE(next->elapsedMs(next->curLog().rowId(0)), qint64(10 * 60'000));
}

void TestSessionState::restoreAfterRebootUsesUtcInstants()
{
    makeBoard()->addSession(QStringLiteral("A"), QString(), QStringLiteral("S"), 1, 1, 0);
    m_clock->advanceSecs(10 * 60);
    m_clock->reboot(42, "another-boot");
    auto next = makeBoard();
    next->restoreSessions();
    QCOMPARE(next->elapsedMs(next->curLog().rowId(0)), qint64(10 * 60'000));
    // From here on the new boot's monotonic clock measures it.
    m_clock->jumpWallSecs(-3600);
    m_clock->advanceSecs(50 * 60);
    next->tick();
    QVERIFY(next->curLog().isEmpty());
    QCOMPARE(journal().at(0).amount, 60.0);
}

void TestSessionState::sessionEndedWhileAwayIsWrittenWithItsBookedEnd()
{
    auto first = makeBoard();
    first->addSession(QStringLiteral("Долго"), QString(), QStringLiteral("S"), 1, 1, 0);
    m_clock->advanceSecs(60);
    first->addSession(QStringLiteral("Скоро"), QString(), QStringLiteral("Стрижка"), 2, 0, 30);
    first.reset();

    m_clock->advanceSecs(45 * 60); // down from 10:01 to 10:46
    auto next = makeBoard();
    QList<Notice> notices;
    next->setNoticeHook([&](const Notice &n) { notices << n; });
    const RestoreReport report = next->restoreSessions();
    QVERIFY(report.problems.isEmpty());
    QCOMPARE(report.restored, 1);
    QCOMPARE(report.endedAway.size(), 1);
    QVERIFY(notices.isEmpty()); // one notice lists them all: endedAwayText
    QCOMPARE(endedAwayText(report.endedAway),
             QStringLiteral("Пока программа не работала, закончилось время сеансов "
                            "(записаны в журнал с концом в назначенное время):\n"
                            "Скоро (Стрижка): конец 07.12.2026 10:31:00, 30 мин, 60,00")
                 + QChar(0x00A0) + QChar(0x20BD));

    const QList<LogRecord> j = journal();
    QCOMPARE(j.size(), 1);
    QCOMPARE(j[0].clientName, QStringLiteral("Скоро"));
    QCOMPARE(j[0].status, StatusTimeUp);
    QCOMPARE(j[0].amount, 60.0);
    QCOMPARE(timeText(j[0].endTime), QStringLiteral("10:31:00"));
    QCOMPARE(j[0].written, dateTimeValue(QDateTime(QDate(2026, 12, 7), QTime(10, 31))));
    QCOMPARE(SessionStateFile(statePath()).load().state.sessions.size(), 1);
}

void TestSessionState::sessionAlreadyInTheJournalIsNotRestoredNorWrittenAgain()
{
    // The program died after the record reached the journal and before the
    // state file was saved: the file still lists the session.
    SessionState st;
    st.monotonicRun = Clock::current().monotonicRun();
    st.sessions << saved(11, QStringLiteral("Записан")) << saved(12, QStringLiteral("Идёт"));
    st.sessions[0].startUtcMs = m_clock->now().toMSecsSinceEpoch() - 40 * 60'000;
    st.sessions[1].startUtcMs = m_clock->now().toMSecsSinceEpoch();
    st.sessions[0].hasStartMono = st.sessions[1].hasStartMono = false;
    SessionStateFile(statePath()).save(st);
    LogRecord r;
    r.clientName = QStringLiteral("Записан");
    r.sessionId = 11;
    appendJournalRecord(journalPath(), r);
    // A damaged record with the other's identifier does not count.
    r.sessionId = 12;
    appendJournalRecord(journalPath(), r);
    QByteArray bytes = test::readFile(journalPath());
    bytes[RecordSize + 10] = bytes[RecordSize + 10] ^ 1;
    test::writeFile(journalPath(), bytes);

    auto board = makeBoard();
    const RestoreReport report = board->restoreSessions();
    QCOMPARE(report.alreadyWritten, 1);
    QCOMPARE(report.endedAway.size(), 0);
    QCOMPARE(board->curLog().rowCount(), 1);
    QCOMPARE(board->curLog().text(curlog::FIO), QStringLiteral("Идёт"));
    QCOMPARE(test::readFile(journalPath()).size(), 2 * RecordSize);
    const SessionState after = SessionStateFile(statePath()).load().state;
    QCOMPARE(after.sessions.size(), 1);
    QCOMPARE(after.sessions[0].id, std::uint64_t(12));
}

void TestSessionState::restoringTwiceChangesNothing()
{
    auto first = makeBoard();
    first->addSession(QStringLiteral("A"), QString(), QStringLiteral("S"), 1, 0, 10);
    first->addSession(QStringLiteral("B"), QString(), QStringLiteral("S"), 1, 2, 0);
    first.reset();
    m_clock->advanceSecs(20 * 60);
    makeBoard()->restoreSessions();
    const QByteArray state = test::readFile(statePath());
    const QByteArray log = test::readFile(journalPath());
    QCOMPARE(log.size(), RecordSize);
    const RestoreReport again = makeBoard()->restoreSessions();
    QCOMPARE(again.restored, 1);
    QVERIFY(again.endedAway.isEmpty());
    QCOMPARE(test::readFile(statePath()), state);
    QCOMPARE(test::readFile(journalPath()), log);
}

void TestSessionState::versionOneStillLoads_data()
{
    QTest::addColumn<QByteArray>("body");
    // As the program wrote it before pauses existed, and before the payment
    // method was kept: no method given.
    QTest::newRow("version 1") << QByteArray(
        "Bilmeko sessions\t1\nboot\tb\n"
        "session\t0000000000000007\t1796637600000\t5000\t1800000\t12.5\tA\tB\tC\n");
    QTest::newRow("version 2") << QByteArray(
        "Bilmeko sessions\t2\nboot\tb\n"
        "session\t0000000000000007\t1796637600000\t5000\t1800000\t0\t-\t-\t12.5\tA\tB\tC\n");
}

void TestSessionState::versionOneStillLoads()
{
    QFETCH(QByteArray, body);
    test::writeFile(statePath(),
                    body + "crc32\t"
                        + QByteArray::number(crc32(body.constData(), body.size()), 16).rightJustified(8, '0') + "\n");
    const SessionStateFile::Loaded loaded = SessionStateFile(statePath()).load();
    QCOMPARE(loaded.status, SessionStateFile::Status::Loaded);
    SavedSession want = saved(7, QStringLiteral("A"));
    want.service = QStringLiteral("B");
    want.note = QStringLiteral("C");
    QCOMPARE(loaded.state.sessions.size(), 1);
    QVERIFY(loaded.state.sessions[0] == want);
}

void TestSessionState::restoredSessionFailingChecksIsKeptAside_data()
{
    QTest::addColumn<double>("price");
    QTest::addColumn<qint64>("startAheadMs");
    QTest::addColumn<qint64>("bookedMs");
    QTest::addColumn<QString>("client");
    QTest::addColumn<QString>("why");
    const qint64 halfHour = 30 * 60'000;
    const QString edited = QStringLiteral("Правленая");
    QTest::newRow("huge price") << 1e300 << qint64(-60'000) << halfHour << edited
                                << "цена 1e+300 вне пределов от 0 до 1000000";
    QTest::newRow("negative price") << -5.0 << qint64(-60'000) << halfHour << edited
                                    << "цена -5 вне пределов от 0 до 1000000";
    QTest::newRow("booked beyond a week")
        << 10.0 << qint64(-60'000) << qint64(8) * 24 * 3600'000 << edited << "назначено 192 ч, больше 168 ч";
    // A forged name of four million letters is cut in the message.
    QTest::newRow("a name of four million letters")
        << -5.0 << qint64(-60'000) << halfHour << QString(4'000'000, QLatin1Char('x'))
        << "цена -5 вне пределов от 0 до 1000000";
}

void TestSessionState::restoredSessionFailingChecksIsKeptAside()
{
    QFETCH(double, price);
    QFETCH(qint64, startAheadMs);
    QFETCH(qint64, bookedMs);
    QFETCH(QString, client);
    QFETCH(QString, why);
    // An edited file whose checksum was made to match.
    SessionState st;
    st.monotonicRun = "another-boot";
    st.sessions << saved(1, QStringLiteral("Хорошая")) << saved(2, client);
    for (SavedSession &s : st.sessions)
        s.startUtcMs = m_clock->now().toMSecsSinceEpoch() - 60'000;
    st.sessions[1].price = price;
    st.sessions[1].startUtcMs = m_clock->now().toMSecsSinceEpoch() + startAheadMs;
    st.sessions[1].bookedMs = bookedMs;
    const QByteArray bytes = serializeSessionState(st);
    test::writeFile(statePath(), bytes);

    auto board = makeBoard();
    const RestoreReport report = board->restoreSessions();
    QCOMPARE(report.restored, 1);
    QCOMPARE(report.refused, 1);
    QCOMPARE(board->curLog().text(curlog::FIO), QStringLiteral("Хорошая"));
    const QString kept = statePath() + QStringLiteral(".damaged-20261207-100000");
    QCOMPARE(
        report.problems,
        QStringList(QStringLiteral("В файле идущих сеансов \"%1\" есть сеансы, которые не прошли "
                                   "проверку, и они не восстановлены:\n«%4» (Стрижка): %2\n"
                                   "Файл в прежнем виде сохранён как \"%3\".")
                        .arg(statePath(), why, kept, client.size() > 60 ? client.left(60) + QChar(0x2026) : client)));
    QCOMPARE(test::readFile(kept), bytes);
    // Gone from the file, never written to the journal.
    const SessionState after = SessionStateFile(statePath()).load().state;
    QCOMPARE(after.sessions.size(), 1);
    QCOMPARE(after.sessions[0].id, std::uint64_t(1));
    QVERIFY(!QFile::exists(journalPath()));
}

void TestSessionState::clockSetBackKeepsEverySession_data()
{
    QTest::addColumn<bool>("reboot");
    QTest::newRow("same boot") << false;
    QTest::newRow("after a reboot") << true;
}

// Quit, the wall clock set back two minutes, start again: a running and a
// paused session both come back. Within the boot the monotonic clock
// measures them as if nothing happened; after a reboot a start the clock
// has not reached counts from now, and the operator is told.
void TestSessionState::clockSetBackKeepsEverySession()
{
    QFETCH(bool, reboot);
    auto first = makeBoard();
    first->addSession(QStringLiteral("Идёт"), QString(), QStringLiteral("S"), 1, 1, 0);
    const auto paused = first->addSession(QStringLiteral("Пауза"), QString(), QStringLiteral("S"), 2, 1, 0);
    m_clock->advanceSecs(15);
    QVERIFY(first->togglePause(paused));
    m_clock->advanceSecs(30);
    first.reset(); // 10:00:45
    m_clock->jumpWallSecs(-120);
    if (reboot)
        m_clock->reboot(42, "another-boot");

    auto next = makeBoard();
    const RestoreReport report = next->restoreSessions();
    QCOMPARE(report.restored, 2);
    QCOMPARE(report.refused, 0);
    if (reboot)
        QCOMPARE(report.problems,
                 QStringList(QStringLiteral(
                     "Начало этих сеансов позже текущего времени (часы компьютера переведены "
                     "назад?). Они восстановлены, их время считается с этой минуты:\n"
                     "«Пауза» (S): начало 07.12.2026 10:00:00\n«Идёт» (S): начало 07.12.2026 10:00:00")));
    else
        QVERIFY(report.problems.isEmpty());
    const MemTable &t = next->curLog();
    QCOMPARE(next->elapsedMs(t.rowId(0)), qint64(reboot ? 0 : 15'000));
    QVERIFY(next->isPaused(t.rowId(0)));
    QCOMPARE(next->elapsedMs(t.rowId(1)), qint64(reboot ? 0 : 45'000));

    // Both are charged what they run from here on.
    QVERIFY(next->togglePause(t.rowId(0)));
    m_clock->advanceSecs(10 * 60);
    QVERIFY(next->stopSession(t.rowId(0)));
    QVERIFY(next->stopSession(t.rowId(0)));
    const QList<LogRecord> j = journal();
    QCOMPARE(j.size(), 2);
    QCOMPARE(j[0].amount, 20.0); // ten minutes and what it ran before, if known
    QCOMPARE(j[1].amount, 10.0);
}

// The state file remembers the journal's length: the start reads only what
// came after it. A record before it is not looked at; a journal shorter
// than it is damage, said, and read whole; a Stop taken back keeps the
// length before its record, so a reversal that never landed leaves the
// Stop standing.
void TestSessionState::startLooksAtTheJournalAfterTheSavedLength()
{
    auto board = makeBoard();
    board->setUndoWindowMs(5 * 60'000);
    const auto a = board->addSession(QStringLiteral("А"), QString(), QStringLiteral("S"), 1, 1, 0);
    const auto b = board->addSession(QStringLiteral("Б"), QString(), QStringLiteral("S"), 1, 1, 0);
    m_clock->advanceSecs(60);
    QVERIFY(board->stopSession(a));
    SessionStateFile::Loaded loaded = SessionStateFile(statePath()).load();
    QCOMPARE(loaded.state.journalFrom, qint64(RecordSize));
    QVERIFY(test::readFile(statePath()).contains("\nboot\tfixed-clock-run/168\n"));

    // Б's identifier on a record before the mark: not looked at.
    LogRecord forged;
    forged.written = m_clock->nowValue();
    forged.sessionId = board->session(b)->id;
    QByteArray bytes = test::readFile(journalPath());
    {
        RecordBytes r = serializeRecord(forged);
        ScrambleRecord(r);
        sealRecord(r);
        bytes.prepend(r.data(), RecordSize);
    }
    test::writeFile(journalPath(), bytes.left(RecordSize));
    board.reset();
    board = makeBoard();
    RestoreReport report = board->restoreSessions();
    QCOMPARE(report.restored, 1);
    QVERIFY(report.problems.isEmpty());

    // A journal shorter than the mark: said, read whole, the forged record
    // then found.
    test::writeFile(journalPath(), QByteArray());
    SessionState st = SessionStateFile(statePath()).load().state;
    st.journalFrom = 2 * RecordSize;
    SessionStateFile(statePath()).save(st);
    test::writeFile(journalPath(), bytes.left(RecordSize));
    board.reset();
    board = makeBoard();
    report = board->restoreSessions();
    QCOMPARE(report.restored, 0);
    QCOMPARE(report.alreadyWritten, 1);
    QCOMPARE(report.problems,
             QStringList(
                 QStringLiteral("Журнал \"%1\" короче, чем был при последнем сохранении идущих сеансов "
                                "(было 336 байт): он повреждён или заменён другим файлом. Журнал просмотрен целиком.")
                     .arg(journalPath())));

    // A Stop undone, the program killed before its reversal landed.
    test::writeFile(journalPath(), QByteArray());
    board->setUndoWindowMs(5 * 60'000);
    const auto c = board->addSession(QStringLiteral("В"), QString(), QStringLiteral("S"), 1, 1, 0);
    board->addSession(QStringLiteral("Г"), QString(), QStringLiteral("S"), 1, 1, 0);
    m_clock->advanceSecs(60);
    QVERIFY(board->stopSession(c));
    QVERIFY(board->undoStop());
    QCOMPARE(SessionStateFile(statePath()).load().state.journalFrom, qint64(0));
    board.reset();
    test::writeFile(journalPath(), test::readFile(journalPath()).left(RecordSize));
    report = makeBoard()->restoreSessions();
    QCOMPARE(report.alreadyWritten, 1);
    QCOMPARE(report.restored, 1);
}

void TestSessionState::pauseSurvivesRestart_data()
{
    QTest::addColumn<bool>("reboot");
    QTest::newRow("same boot") << false;
    QTest::newRow("after a reboot") << true;
}

void TestSessionState::pauseSurvivesRestart()
{
    QFETCH(bool, reboot);
    auto first = makeBoard();
    const auto row = first->addSession(QStringLiteral("A"), QString(), QStringLiteral("S"), 2, 0, 30);
    m_clock->advanceSecs(10 * 60);
    QVERIFY(first->togglePause(row));
    m_clock->advanceSecs(5 * 60);
    first.reset(); // killed while paused

    m_clock->advanceSecs(40 * 60); // past the booked end, had it run
    if (reboot)
        m_clock->reboot(42, "another-boot");
    auto next = makeBoard();
    const RestoreReport report = next->restoreSessions();
    QVERIFY(report.problems.isEmpty());
    QVERIFY(report.endedAway.isEmpty());
    const MemTable &t = next->curLog();
    QCOMPARE(t.rowCount(), 1);
    const auto id = t.rowId(0);
    QVERIFY(next->isPaused(id));
    QCOMPARE(next->elapsedMs(id), qint64(10 * 60'000));
    QCOMPARE(timeText(t.value(0, t.fieldIndex(curlog::TLeft)).toDouble()), QStringLiteral("0:20:00"));
    QCOMPARE(timeText(t.value(0, t.fieldIndex(curlog::TEnd)).toDouble()), QStringLiteral("11:15:00"));
    next->tick(); // never time-up while paused
    QCOMPARE(t.rowCount(), 1);

    QVERIFY(next->togglePause(id));
    QCOMPARE(timeText(t.value(0, t.fieldIndex(curlog::TEnd)).toDouble()), QStringLiteral("11:15:00"));
    m_clock->advanceSecs(20 * 60);
    next->tick();
    QVERIFY(t.isEmpty());
    const LogRecord r = journal().at(0);
    QCOMPARE(r.status, StatusTimeUp);
    QCOMPARE(timeText(r.elapsed), QStringLiteral("0:30:00")); // the time charged
    QCOMPARE(r.amount, 60.0);
    QCOMPARE(timeText(r.startTime), QStringLiteral("10:00:00")); // the real instants
    QCOMPARE(timeText(r.endTime), QStringLiteral("11:15:00"));
}

void TestSessionState::undoneStopIsReversedOnceAndSurvivesRestart_data()
{
    QTest::addColumn<bool>("landed");
    QTest::newRow("failed write lost") << false;
    QTest::newRow("failed write reached the disk") << true;
}

void TestSessionState::undoneStopIsReversedOnceAndSurvivesRestart()
{
    QFETCH(bool, landed);
    auto board = makeBoard();
    board->setUndoWindowMs(5 * 60'000);
    board->addSession(QStringLiteral("Б"), QString(), QStringLiteral("S"), 1, 1, 0);
    const auto a = board->addSession(QStringLiteral("А"), QStringLiteral("нота"), QStringLiteral("Стрижка"), 2, 1, 0,
                                     Payment::Cash);
    m_clock->advanceSecs(10 * 60);
    QVERIFY(board->setPayment(a, Payment::Card)); // changed at the Stop
    QVERIFY(board->stopSession(a));
    QCOMPARE(board->undoableStop()->session.client, QStringLiteral("А"));
    const LogRecord stop = journal().at(0);
    m_clock->advanceSecs(2 * 60);

    // The journal cannot be written: the session stays stopped, on disk too.
    QVERIFY(QFile::rename(journalPath(), journalPath() + QStringLiteral(".away")));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Bilmeko.log")));
    QString message;
    try {
        board->undoStop();
    } catch (const Error &e) {
        message = e.message();
    }
    // Said in Russian, naming the file, and that the Stop stands.
    QCOMPARE(message,
             QStringLiteral("Стоп сеанса «А» не отменён: не удалось записать файл «%1» (нет доступа к файлу). "
                            "Стоп остаётся в силе, сеанс закончен.")
                 .arg(QDir::toNativeSeparators(journalPath())));
    QCOMPARE(board->curLog().rowCount(), 1);
    QCOMPARE(SessionStateFile(statePath()).load().state.sessions.size(), 1);
    QVERIFY(QDir(m_dir->path()).rmdir(QStringLiteral("Bilmeko.log")));
    QVERIFY(QFile::rename(journalPath() + QStringLiteral(".away"), journalPath()));
    if (landed) {
        LogRecord r = stop;
        r.amount = -r.amount;
        r.elapsed = -r.elapsed;
        r.status = StatusUndo;
        r.reversal = true;
        appendJournalRecord(journalPath(), r);
    }

    QVERIFY(board->undoStop());
    QVERIFY(!board->undoableStop());
    const MemTable &t = board->curLog();
    QCOMPARE(t.rowCount(), 2);
    QCOMPARE(t.currentRow(), 0); // back where it was
    QCOMPARE(t.text(curlog::FIO), QStringLiteral("А"));
    QCOMPARE(t.text(curlog::Describe), QStringLiteral("нота"));
    QCOMPARE(board->elapsedMs(t.currentId()), qint64(10 * 60'000)); // from where it stopped
    QCOMPARE(timeText(t.number(curlog::TEnd)), QStringLiteral("11:02:00"));
    const QList<LogRecord> records = journal();
    QCOMPARE(records.size(), 2); // one reversal, whatever the failed attempt did
    const LogRecord &undo = records.at(1);
    QCOMPARE(undo.status, StatusUndo);
    QVERIFY(undo.reversal);
    QCOMPARE(undo.sessionId, stop.sessionId);
    QCOMPARE(undo.clientName, stop.clientName);
    QCOMPARE(undo.service, stop.service);
    QCOMPARE(undo.amount, -20.0);
    QCOMPARE(undo.elapsed, -stop.elapsed);
    QCOMPARE(undo.written, stop.written);
    // The reversal carries its Stop's method, so the card takings net out.
    QCOMPARE(stop.payment, Payment::Card);
    QCOMPARE(undo.payment, Payment::Card);

    // The Stop's record is taken back: the next start restores the session.
    board.reset();
    board = makeBoard();
    board->setUndoWindowMs(5 * 60'000);
    QCOMPARE(board->restoreSessions().restored, 2);
    m_clock->advanceSecs(5 * 60);
    QVERIFY(board->stopSession(board->curLog().rowId(0)));
    QCOMPARE(journal().size(), 3);
    QCOMPARE(journal().at(2).amount, 30.0);
    // Too late to undo, and stopped for good at the next start.
    m_clock->advanceSecs(5 * 60 + 1);
    QVERIFY(!board->undoStop());
    board.reset();
    const RestoreReport again = makeBoard()->restoreSessions();
    QCOMPARE(again.restored, 1);
    QCOMPARE(journal().size(), 3);
}

void TestSessionState::newAndExtendFailWhenTheStateCannotBeSaved()
{
    auto board = makeBoard();
    const auto a = board->addSession(QStringLiteral("A"), QString(), QStringLiteral("S"), 1, 0, 10);
    const QByteArray saved = test::readFile(statePath());
    // Something that cannot be replaced stands where the file should be.
    QVERIFY(QFile::remove(statePath()));
    QVERIFY(QDir().mkpath(statePath()));

    QString message;
    try {
        board->addSession(QStringLiteral("B"), QString(), QStringLiteral("S"), 1, 0, 10);
    } catch (const Error &e) {
        message = e.message();
    }
    QCOMPARE(message,
             QStringLiteral("Не удалось сохранить идущие сеансы в файл \"%1\": File access denied").arg(statePath()));
    QCOMPARE(board->curLog().rowCount(), 1);
    QCOMPARE(board->curLog().currentId(), a);

    QVERIFY_THROWS_EXCEPTION(Error, board->extendSession(a, 1, 0));
    QCOMPARE(board->session(a)->bookedMs, qint64(10 * 60'000));
    QCOMPARE(timeText(board->curLog().number(curlog::TEnd)), QStringLiteral("10:10:00"));

    QVERIFY(QDir().rmdir(statePath()));
    test::writeFile(statePath(), saved);
    QVERIFY(board->extendSession(a, 1, 0));
    QCOMPARE(SessionStateFile(statePath()).load().state.sessions.at(0).bookedMs, qint64(70 * 60'000));
}

void TestSessionState::closeFailingAfterFlushGivesOneRecord()
{
    auto board = makeBoard();
    const auto a = board->addSession(QStringLiteral("A"), QString(), QStringLiteral("S"), 1, 0, 10);
    board->addSession(QStringLiteral("B"), QString(), QStringLiteral("S"), 1, 0, 20);
    setSystemCalls(test::closeFailingFor(QStringLiteral("Bilmeko.log")));
    test::ErrorRecorder errors;
    m_clock->advanceSecs(5 * 60);
    QVERIFY(board->stopSession(a));
    m_clock->advanceSecs(15 * 60);
    board->tick();
    board->tick();
    setSystemCalls({});
    QVERIFY(errors.messages.isEmpty());
    QVERIFY(board->curLog().isEmpty());
    const QList<LogRecord> j = journal();
    QCOMPARE(j.size(), 2);
    QCOMPARE(j[0].clientName, QStringLiteral("A"));
    QCOMPARE(j[1].clientName, QStringLiteral("B"));
    QVERIFY(j[0].sessionId != 0 && j[1].sessionId != 0 && j[0].sessionId != j[1].sessionId);
    // Nothing left to restore.
    QCOMPARE(makeBoard()->restoreSessions().restored, 0);
    QCOMPARE(journal().size(), 2);
}

QTEST_GUILESS_MAIN(TestSessionState)
#include "test_sessionstate.moc"
