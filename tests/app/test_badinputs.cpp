// The program meets files that are not what they should be: each gives a
// clear message or a plain empty result, never a crash, and nothing that was
// there is lost.

#include "app/core/sessionboard.h"
#include "app/ui/form1.h"
#include "common/core/clock.h"
#include "common/core/codepage.h"
#include "common/core/memtable.h"
#include "journal/core/logrecord.h"
#include "journal/core/periodreport.h"
#include "prices/core/pricelist.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace bilmeko;

namespace {

QByteArray randomBytes(int n, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray out(n, '\0');
    for (char &c : out)
        c = static_cast<char>(rng.bounded(256));
    return out;
}

} // namespace

class TestBadInputs : public QObject
{
    Q_OBJECT
    FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 0))};

private slots:
    void initTestCase()
    {
        test::pinRussian();
        Clock::setCurrent(&clock);
    }
    void cleanupTestCase() { Clock::setCurrent(nullptr); }

    // Start-up with a settings file that is not a plain readable list: the
    // window comes up, the version label is set, the message (if any) says
    // what is wrong, and the file is left as it was.
    void settingsFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("rows");
        QTest::newRow("a folder") << "dir"
                                  << "Cannot open file \"%1\"." << 0;
        QTest::newRow("unreadable") << "unreadable"
                                    << "Cannot open file \"%1\"." << 0;
        QTest::newRow("binary junk") << "junk" << QString() << -1;
        QTest::newRow("over the limit") << "huge" << QStringLiteral("Файл «%1» больше 4 МиБ") << 0;
        QTest::newRow("empty") << "empty" << QString() << 0;
    }
    void settingsFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QFETCH(int, rows);
        QTemporaryDir tmp;
        QFile::setPermissions(tmp.path(), QFileDevice::Permissions(0x7777));
        const QString dir = tmp.path() + "/";
        const QString ini = dir + "Bilmeko.ini";
        QByteArray before;
        if (kind == "dir") {
            QVERIFY(QDir().mkpath(ini));
        } else if (kind == "unreadable") {
            test::writeFile(ini, "[Price]\r\nA=1\r\n");
            QFile::setPermissions(ini, QFileDevice::WriteOwner);
        } else if (kind == "junk") {
            test::writeFile(ini, "[Price]\r\n" + randomBytes(64 * 1024, 7));
        } else if (kind == "huge") {
            QByteArray text = "[Price]\r\n";
            for (int i = 0; text.size() <= ProfileFile::MaxBytes; ++i)
                text += "Service number " + QByteArray::number(i).rightJustified(6, '0')
                    + " with a long tail of words=" + QByteArray::number(i % 97) + ",5\r\n";
            test::writeFile(ini, text);
        } else {
            test::writeFile(ini, QByteArray());
        }
        if (kind != "dir")
            before = test::readFile(ini);

        test::ErrorRecorder errors;
        std::unique_ptr<TForm1> form;
        {
            test::AsUnprivileged user;
            form = std::make_unique<TForm1>(dir);
        }
        QCOMPARE(form->findChild<QLabel *>("LabelV")->text(), QStringLiteral("Bilmeko: 1.0"));
        if (message.isEmpty()) {
            QVERIFY2(errors.messages.size() <= 5, qPrintable(errors.messages.join('|')));
        } else if (kind == "huge") {
            QCOMPARE(errors.messages.size(), 1);
            QVERIFY2(errors.messages[0].startsWith(message.arg(ini)), qPrintable(errors.messages[0]));
            // A later save of the (empty) list must not replace the file.
            QVERIFY_THROWS_EXCEPTION(Error, savePriceList(ProfileFile(ini), form->prices()));
        } else {
            QCOMPARE(errors.messages, QStringList{message.arg(ini)});
        }
        if (rows >= 0)
            QCOMPARE(form->prices().rowCount(), rows);
        // The names are cut to 20 characters; repeated names merge.
        for (int r = 0; r < form->prices().rowCount(); ++r)
            QVERIFY(form->prices().value(r, 0).toString().size() <= 20);
        if (kind != "dir") {
            QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QCOMPARE(test::readFile(ini), before);
        }
    }

    // Names the code page has no letters for are kept with '?' in their
    // place; the rest of the record is whole.
    void namesOutsideTheCodePage()
    {
        QTemporaryDir tmp;
        SessionBoard board(tmp.filePath("Bilmeko.log"));
        const auto row = board.addSession(QStringLiteral("Zoë 日本 Ёж"), QStringLiteral("😀 note"),
                                          QStringLiteral("Стрижка"), 5, 1, 0);
        clock.advanceSecs(120);
        QVERIFY(board.stopSession(row));
        const QByteArray bytes = test::readFile(tmp.filePath("Bilmeko.log"));
        QCOMPARE(bytes.size(), qsizetype(RecordSize));
        RecordBytes rec;
        std::copy_n(bytes.constData(), RecordSize, rec.begin());
        ScrambleRecord(rec);
        const LogRecord r = deserializeRecord(rec.data());
        QCOMPARE(r.clientName, QStringLiteral("Zo? ?? Ёж"));
        QCOMPARE(r.note, QStringLiteral("?? note"));
        QCOMPARE(r.amount, 10.0);
        clock.setTime(QTime(10, 0));
    }

    // The journal on a disk that is full: "Disk full", the session stays and
    // is ended again at the next tick; once there is room the file gets one
    // whole record and no piece of the failed one.
    void fullDiskKeepsTheSession()
    {
        if (!QFile::exists("/dev/full"))
            QSKIP("no /dev/full on this machine");
        QTemporaryDir tmp;
        SessionBoard board("/dev/full");
        int notices = 0;
        board.setNoticeHook([&](const Notice &) { ++notices; });
        board.addSession("Иванова", "", "Стрижка", 5, 0, 10);
        clock.setTime(QTime(10, 10, 5));
        test::ErrorRecorder errors;
        board.tick();
        QCOMPARE(errors.messages, QStringList{"Disk full."});
        QCOMPARE(board.curLog().rowCount(), 1);
        QCOMPARE(notices, 0);

        const QString journal = tmp.filePath("Bilmeko.log");
        test::writeFile(journal, QByteArray(50, 'x')); // a piece left by an earlier failure
        board.setJournalPath(journal);
        clock.setTime(QTime(10, 10, 25));
        board.tick();
        QCOMPARE(errors.messages.size(), 1);
        QCOMPARE(board.curLog().rowCount(), 0);
        QCOMPARE(notices, 1);
        QCOMPARE(test::readFile(journal).size(), qsizetype(RecordSize));
        clock.setTime(QTime(10, 0));
    }

    // Journals that hold no records, a fragment, or noise: the report says
    // what it can, marks the damage, and the file is not changed.
    void strangeJournals_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("damaged"); // 0 no, 1 yes, -1 either
        QTest::newRow("0 bytes") << QByteArray() << 0;
        QTest::newRow("167 bytes") << randomBytes(167, 1) << 1;
        QTest::newRow("random 1 MB") << randomBytes(1 << 20, 2) << -1;
    }
    void strangeJournals()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, damaged);
        QTemporaryDir tmp;
        const QString path = tmp.filePath("Bilmeko.log");
        test::writeFile(path, bytes);
        // The whole range of dates, so every record is looked at.
        const PeriodReport r = buildPeriodReport(path, -700000.0, 3000000.0);
        if (damaged >= 0)
            QCOMPARE(r.damaged(), damaged == 1);
        QCOMPARE(r.lines().size(), r.recordCount() + 2);
        QCOMPARE(test::readFile(path), bytes);
    }
};

QTEST_MAIN(TestBadInputs)
#include "test_badinputs.moc"
