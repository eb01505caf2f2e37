// The journal under hostile conditions: a writer killed at random moments,
// a disk that fills up, files that are not what they should be.

#include "common/core/errors.h"
#include "journal/core/journalfile.h"
#include "journal/core/logrecord.h"
#include "testsupport.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace bilmeko;

namespace {

LogRecord numbered(int n)
{
    LogRecord r;
    r.written = 46000 + n / 1000.0;
    r.pricePerMin = 5;
    r.startTime = 0.25;
    r.elapsed = 1.0 / 24;
    r.endTime = 0.25 + 1.0 / 24;
    r.amount = n;
    r.clientName = QStringLiteral("Клиент %1").arg(n);
    r.service = QStringLiteral("Стрижка");
    r.note = QString();
    r.status = QStringLiteral("Время вышло");
    return r;
}

// Every whole record of the file, checked against what was appended.
int verifyWholeRecords(const QByteArray &data)
{
    const int whole = static_cast<int>(data.size() / RecordSize);
    for (int i = 0; i < whole; ++i) {
        RecordBytes rec;
        std::copy_n(data.constData() + i * RecordSize, RecordSize, rec.begin());
        ScrambleRecord(rec);
        const LogRecord r = deserializeRecord(rec.data());
        if (r.amount != i || r.clientName != QStringLiteral("Клиент %1").arg(i)
            || r.status != QStringLiteral("Время вышло"))
            return -1 - i;
    }
    return whole;
}

} // namespace

class TestJournalCrash : public QObject
{
    Q_OBJECT
private slots:
    // A child appends numbered records and reports each success through a
    // pipe; it is killed with SIGKILL at a random moment. Afterwards the
    // journal holds only whole, valid records (at most one fragment after
    // them), every reported append is there, and the next append is clean.
    void killedWriterLosesNothingReported()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Bilmeko.log");
        auto *rng = QRandomGenerator::global();
        int kills = 0, fragments = 0;
        for (int round = 0; round < 100; ++round) {
            if (round % 5 == 4) {
                // A fragment left by some earlier failure: overwritten by the
                // next append, never counted as a record.
                QFile f(path);
                QVERIFY(f.open(QIODevice::Append));
                f.write(QByteArray(rng->bounded(1, RecordSize), '\x5A'));
            }
            int fds[2];
            QVERIFY(::pipe(fds) == 0);
            const pid_t pid = ::fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                ::close(fds[0]);
                const QByteArray existing = test::readFile(path);
                int n = static_cast<int>(existing.size() / RecordSize);
                for (;;) {
                    appendJournalRecord(path, numbered(n));
                    const int done = n++;
                    if (::write(fds[1], &done, sizeof done) != sizeof done)
                        ::_exit(1);
                }
            }
            ::close(fds[1]);
            ::usleep(rng->bounded(200, 20000));
            ::kill(pid, SIGKILL);
            int status = 0;
            ::waitpid(pid, &status, 0);
            QVERIFY(WIFSIGNALED(status));
            ++kills;
            int lastReported = -1, v = 0;
            while (::read(fds[0], &v, sizeof v) == sizeof v)
                lastReported = v;
            ::close(fds[0]);

            const QByteArray data = test::readFile(path);
            const int whole = verifyWholeRecords(data);
            QVERIFY2(whole >= 0, qPrintable(QStringLiteral("bad record %1").arg(-1 - whole)));
            QVERIFY2(whole > lastReported, "an append reported as done is missing");
            if (data.size() % RecordSize != 0)
                ++fragments;
            // The parent appends the next record itself; the file is then clean.
            appendJournalRecord(path, numbered(whole));
            const QByteArray after = test::readFile(path);
            QCOMPARE(after.size(), qsizetype(whole + 1) * RecordSize);
            QCOMPARE(verifyWholeRecords(after), whole + 1);
        }
        qInfo("kills: %d, trailing fragments seen: %d, records: %lld", kills, fragments,
              test::readFile(path).size() / RecordSize);
    }

    // Two programs append to one journal at once, each record flushed: the
    // lock keeps them from measuring the same end, so no record is lost.
    void twoForeignAppendersLoseNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Bilmeko.log");
        constexpr int PerWriter = 1500;
        pid_t pids[2];
        for (int w = 0; w < 2; ++w) {
            pids[w] = ::fork();
            QVERIFY(pids[w] >= 0);
            if (pids[w] == 0) {
                LogRecord r = numbered(0);
                for (int i = 0; i < PerWriter; ++i) {
                    r.sessionId = std::uint64_t(w + 1) << 32 | std::uint64_t(i + 1);
                    try {
                        appendJournalRecord(path, r);
                    } catch (...) {
                        ::_exit(1);
                    }
                }
                ::_exit(0);
            }
        }
        for (pid_t pid : pids) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            QVERIFY(WIFEXITED(status));
            QCOMPARE(WEXITSTATUS(status), 0);
        }
        const QByteArray data = test::readFile(path);
        QCOMPARE(data.size(), qsizetype(2 * PerWriter) * RecordSize);
        QSet<std::uint64_t> ids;
        for (qsizetype i = 0; i < data.size(); i += RecordSize) {
            QCOMPARE(recordSeal(data.constData() + i), RecordSeal::Good);
            ids.insert(storedSessionId(data.constData() + i));
        }
        QCOMPARE(ids.size(), 2 * PerWriter);
    }

    // A journal that cannot grow fails with "Disk full" and keeps no part
    // of the record; once there is room the next append is whole.
    void fileSizeLimitGivesDiskFullAndNoFragment()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Bilmeko.log");
        for (int i = 0; i < 3; ++i)
            appendJournalRecord(path, numbered(i));

        struct sigaction ignore
        {
        }, old{};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &ignore, &old);
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit tight = saved;
        tight.rlim_cur = 3 * RecordSize + 100; // room for part of a record
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &tight) == 0);
        QString message;
        try {
            appendJournalRecord(path, numbered(3));
        } catch (const IoError &e) {
            message = e.message();
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::sigaction(SIGXFSZ, &old, nullptr);

        QCOMPARE(message, QStringLiteral("Disk full"));
        QCOMPARE(test::readFile(path).size(), qsizetype(3 * RecordSize));
        appendJournalRecord(path, numbered(3));
        QCOMPARE(verifyWholeRecords(test::readFile(path)), 4);
    }

    void deviceWithoutSpaceGivesDiskFull()
    {
        if (!QFile::exists("/dev/full"))
            QSKIP("no /dev/full on this machine");
        QString message;
        try {
            appendJournalRecord("/dev/full", numbered(0));
        } catch (const IoError &e) {
            message = e.message();
        }
        QCOMPARE(message, QStringLiteral("Disk full"));
    }

    void badJournalPaths_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("directory") << "dir"
                                   << "File access denied";
        QTest::newRow("missing folder") << "missing"
                                        << "File not found";
    }
    void badJournalPaths()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QString path = dir.filePath("Bilmeko.log");
        if (kind == "dir")
            QVERIFY(QDir().mkpath(path));
        else
            path = dir.filePath("nowhere/Bilmeko.log");
        QString got;
        try {
            appendJournalRecord(path, numbered(0));
        } catch (const IoError &e) {
            got = e.message();
        }
        QCOMPARE(got, message);
    }
};

QTEST_GUILESS_MAIN(TestJournalCrash)
#include "test_journalcrash.moc"
