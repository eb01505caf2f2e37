// The reminder before the booked end: its window over the sessions' time
// left, once per session, on the injectable clock through the real board,
// and its option in the settings file.

#include "app/core/daytakings.h"
#include "app/core/reminder.h"
#include "app/core/sessionboard.h"
#include "common/core/clock.h"
#include "prices/core/profilefile.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>

using namespace bilmeko;

namespace {
using Ids = QList<MemTable::RowId>;
constexpr qint64 Min = 60'000;
} // namespace

class TestReminder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { test::pinRussian(); }

    // Looks at sessions 1 and 2 with these times left, in turn; what each
    // look announces and what stays marked after the last.
    void window_data()
    {
        QTest::addColumn<int>("minutes");
        QTest::addColumn<QList<QList<qint64>>>("looks");
        QTest::addColumn<QList<Ids>>("announced");
        QTest::addColumn<Ids>("marked");

        QTest::newRow("outside, then at the edge, then inside: once")
            << 5 << QList<QList<qint64>>{{5 * Min + 1, 9 * Min}, {5 * Min, 9 * Min}, {Min, 9 * Min}}
            << QList<Ids>{{}, {1}, {}} << Ids{1};
        QTest::newRow("both at once") << 5 << QList<QList<qint64>>{{4 * Min, 3 * Min}} << QList<Ids>{{1, 2}}
                                      << Ids{1, 2};
        QTest::newRow("time up is no longer marked")
            << 5 << QList<QList<qint64>>{{Min, 9 * Min}, {0, 9 * Min}} << QList<Ids>{{1}, {}} << Ids{};
        QTest::newRow("extended out and back in: announced again")
            << 5 << QList<QList<qint64>>{{Min, 9 * Min}, {31 * Min, 9 * Min}, {4 * Min, 9 * Min}}
            << QList<Ids>{{1}, {}, {1}} << Ids{1};
        QTest::newRow("gone from the list: mark gone")
            << 5 << QList<QList<qint64>>{{Min, 2 * Min}, {-1, 2 * Min}} << QList<Ids>{{1, 2}, {}} << Ids{2};
        QTest::newRow("off") << 0 << QList<QList<qint64>>{{Min, 1}} << QList<Ids>{{}} << Ids{};
    }

    void window()
    {
        QFETCH(int, minutes);
        QFETCH(QList<QList<qint64>>, looks);
        QFETCH(QList<Ids>, announced);
        QFETCH(Ids, marked);
        SessionReminder r(minutes);
        for (qsizetype i = 0; i < looks.size(); ++i) {
            QList<TimeLeft> sessions;
            for (qsizetype s = 0; s < looks[i].size(); ++s)
                if (looks[i][s] >= 0)
                    sessions.append({MemTable::RowId(s + 1), looks[i][s]});
            QCOMPARE(r.update(sessions), announced[i]);
        }
        for (MemTable::RowId id : {1, 2})
            QCOMPARE(r.isMarked(id), marked.contains(id));
    }

    // Through the real board on the injectable clock: a 10-minute session
    // is marked from the first tick within its last five minutes, announced
    // once, and its mark leaves with the row.
    void onTheBoardsTicks()
    {
        FixedClock clock(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
        ScopedClock scoped(&clock);
        QTemporaryDir dir;
        SessionBoard board(dir.filePath("Bilmeko.log"));
        const MemTable::RowId id = board.addSession("Петров", "", "Массаж", 1, 0, 10);
        board.addSession("Иванова", "", "Массаж", 1, 1, 0);
        const MemTable::RowId paused = board.addSession("Сидоров", "", "Массаж", 2.5, 0, 20);
        SessionReminder r(5);
        QCOMPARE(r.update(timeLeftOf(board)), Ids{});
        int announcements = 0;
        for (int s = 20; s <= 10 * 60 + 20; s += 20) {
            clock.set(QDateTime(QDate(2026, 12, 7), QTime(10, 0)).addSecs(s));
            if (s == 150)
                QVERIFY(board.togglePause(paused));
            board.tick();
            // What the tick found is what a look of its own at the sessions
            // finds; the window follows the tick with it.
            const TickLook *look = board.lastTick();
            QVERIFY(look);
            QCOMPARE(look->left, timeLeftOf(board));
            const RunningFigures figures = runningFigures(board);
            QCOMPARE(look->sessions, figures.sessions);
            QCOMPARE(look->owed, figures.owed);
            announcements += r.update(look->left).size();
            const bool due = s >= 5 * 60 && s < 10 * 60;
            QCOMPARE(r.isMarked(id), due);
            if (s == 5 * 60)
                QCOMPARE(announcements, 1);
        }
        QCOMPARE(announcements, 1);
        QCOMPARE(board.curLog().rowCount(), 2); // Петров ended at 10:10
        QVERIFY(!r.anyMarked());
    }

    void option_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<bool>("reported");
        QTest::addColumn<QByteArray>("after");
        const QByteArray prices("[Price]\r\nA=1\r\n");
        QTest::newRow("no file") << QByteArray() << 5 << false << QByteArray();
        QTest::newRow("no value") << prices << 5 << false << prices;
        QTest::newRow("set") << prices + "[Options]\r\nReminderMinutes=10\r\n"
                             << 10 << false << prices + "[Options]\r\nReminderMinutes=10\r\n";
        QTest::newRow("off") << QByteArray("[options]\r\nremindermINUTES = 0\r\n") << 0 << false
                             << QByteArray("[options]\r\nremindermINUTES = 0\r\n");
        QTest::newRow("not a number") << prices + "[Options]\r\nReminderMinutes=пять\r\n"
                                      << 5 << true << prices + "[Options]\r\nReminderMinutes=5\r\n";
        QTest::newRow("negative") << QByteArray("[Options]\nReminderMinutes=-1\n") << 5 << true
                                  << QByteArray("[Options]\nReminderMinutes=5\r\n");
        QTest::newRow("too long") << QByteArray("[Options]\nReminderMinutes=121\n") << 5 << true
                                  << QByteArray("[Options]\nReminderMinutes=5\r\n");
    }

    void option()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, minutes);
        QFETCH(bool, reported);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        const QString path = dir.filePath("Bilmeko.ini");
        if (!file.isEmpty())
            test::writeFile(path, file);
        const ProfileFile ini(path);
        const ReminderOption o = readReminderOption(ini);
        QCOMPARE(o.minutes, minutes);
        QCOMPARE(!o.message.isEmpty(), reported);
        if (reported) {
            QVERIFY(o.message.contains(ini.path()));
            QVERIFY(o.message.contains("ReminderMinutes="));
        }
        QCOMPARE(test::readFile(path), after);
    }

    void badOptionInAReadOnlyFileIsStillReported()
    {
        QTemporaryDir dir;
        ::chmod(QFile::encodeName(dir.path()).constData(), 0777); // readable once rights are dropped
        const QString path = dir.filePath("Bilmeko.ini");
        const QByteArray bad("[Options]\r\nReminderMinutes=x\r\n");
        test::writeFile(path, bad);
        ::chmod(QFile::encodeName(path).constData(), 0444);
        ReminderOption o;
        {
            test::AsUnprivileged nobody;
            o = readReminderOption(ProfileFile(path));
        }
        QCOMPARE(o.minutes, 5);
        QVERIFY(o.message.endsWith(QStringLiteral("до конца сеанса.")));
        QCOMPARE(test::readFile(path), bad);
    }
};

QTEST_GUILESS_MAIN(TestReminder)
#include "test_reminder.moc"
