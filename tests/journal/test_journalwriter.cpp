// Appending to the journal: the record's bytes on the disk, the scrambling,
// a trailing fragment, and journals that cannot be written.

#include "common/core/codepage.h"
#include "common/core/errors.h"
#include "common/core/systemcalls.h"
#include "journal/core/journalfile.h"
#include "journal/core/logrecord.h"
#include "journal/core/reporttext.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace bilmeko;

namespace {

LogRecord sample()
{
    LogRecord r;
    r.written = 46363.4620601852; // 7.12.2026 11:05:22
    r.pricePerMin = 1.0;
    r.startTime = 10.0 / 24;
    r.elapsed = (65 * 60 + 20) / 86400.0;
    r.endTime = r.startTime + r.elapsed;
    r.amount = 65;
    r.clientName = QStringLiteral("Иванова Мария");
    r.service = QStringLiteral("Маникюр");
    r.note = QStringLiteral("френч");
    r.status = QStringLiteral("Время вышло");
    return r;
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

// Record n of a journal, unscrambled.
RecordBytes plainRecord(const QByteArray &file, int n)
{
    RecordBytes r{};
    std::memcpy(r.data(), file.constData() + n * RecordSize, RecordSize);
    ScrambleRecord(r);
    return r;
}

QString appendError(const QString &path, const LogRecord &r)
{
    try {
        appendJournalRecord(path, r);
    } catch (const IoError &e) {
        return e.message();
    }
    return QString();
}

} // namespace

class TestJournalWriter : public QObject
{
    Q_OBJECT

private slots:
    void firstAppendCreatesOneRecord();
    void appendsFollowEachOther();
    void newJournalsFolderIsFlushed();
    void trailingFragmentIsOverwritten();
    void recordLayout();
    void textFieldLimits_data();
    void textFieldLimits();
    void stopReadsBackWithLengthFour();
    void scrambleTwiceIsIdentity();
    void unwritableJournal_data();
    void unwritableJournal();
    void failingCallKeepsRecordsWhole_data();
    void failingCallKeepsRecordsWhole();
    void readOnlyJournalStaysUnchanged();
    void readOnlyDirectoryCreatesNothing();
    void sealCarriesIdentifierAndFindsDamage_data();
    void sealCarriesIdentifierAndFindsDamage();
    void closeFailingAfterFlushStillCountsAsWritten();
    void appendWaitsForAnotherAppenderAndGoesAfterIt();
    void lockHeldTooLongGivesAccessDenied();
    void sessionsFoundInTheJournal();
    void checksumAgreesWithTheBytewiseOne();
};

void TestJournalWriter::firstAppendCreatesOneRecord()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
    appendJournalRecord(path, sample());
    const QByteArray file = test::readFile(path);
    QCOMPARE(file.size(), RecordSize);
    const LogRecord back = deserializeRecord(plainRecord(file, 0).data());
    QCOMPARE(back.clientName, sample().clientName);
    QCOMPARE(back.status, sample().status);
    QCOMPARE(back.amount, 65.0);
}

void TestJournalWriter::appendsFollowEachOther()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
    for (int i = 0; i < 3; ++i) {
        LogRecord r = sample();
        r.amount = i;
        appendJournalRecord(path, r);
    }
    const QByteArray file = test::readFile(path);
    QCOMPARE(file.size(), 3 * RecordSize);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(deserializeRecord(plainRecord(file, i).data()).amount, double(i));
}

// The first record's flush covers the journal's name in its folder too; a
// failing folder flush leaves no record (the session is written again), and
// the next append flushes the folder again.
void TestJournalWriter::newJournalsFolderIsFlushed()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
    QList<bool> flushed; // per flush: whether of a folder
    bool folderFails = true;
    SystemCalls calls;
    calls.fsync = [&](int fd) {
        struct stat st
        {
        };
        const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
        flushed << folder;
        if (folder && folderFails) {
            errno = EIO;
            return -1;
        }
        return ::fsync(fd);
    };
    ScopedSystemCalls scope(calls);
    QCOMPARE(appendError(path, sample()), IoError::fromErrno(EIO).message());
    QCOMPARE(flushed, (QList<bool>{false, true}));
    QCOMPARE(test::readFile(path).size(), 0);

    folderFails = false;
    flushed.clear();
    QCOMPARE(appendError(path, sample()), QString());
    QCOMPARE(appendError(path, sample()), QString());
    QCOMPARE(flushed, (QList<bool>{false, true, false}));
    QCOMPARE(test::readFile(path).size(), 2 * RecordSize);
}

void TestJournalWriter::trailingFragmentIsOverwritten()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
    QByteArray before(3 * RecordSize + 50, '\0');
    for (int i = 0; i < before.size(); ++i)
        before[i] = char(i * 7 + 1);
    writeAll(path, before);

    appendJournalRecord(path, sample());
    const QByteArray file = test::readFile(path);
    QCOMPARE(file.size(), 672);
    QCOMPARE(file.left(504), before.left(504));
    QCOMPARE(deserializeRecord(plainRecord(file, 3).data()).clientName, sample().clientName);
}

void TestJournalWriter::recordLayout()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
    appendJournalRecord(path, sample());
    const RecordBytes r = plainRecord(test::readFile(path), 0);

    // 1.0 as a little-endian double.
    const QByteArray one("\x00\x00\x00\x00\x00\x00\xF0\x3F", 8);
    QCOMPARE(QByteArray(r.data() + record::PricePerMin, 8), one);
    QCOMPARE(readDouble(r.data(), record::Written), sample().written);
    QCOMPARE(readDouble(r.data(), record::StartTime), sample().startTime);
    QCOMPARE(readDouble(r.data(), record::Elapsed), sample().elapsed);
    QCOMPARE(readDouble(r.data(), record::EndTime), sample().endTime);
    QCOMPARE(readDouble(r.data(), record::Amount), 65.0);

    // Short strings: a length byte, then Windows-1251 characters.
    const QByteArray name = cp1251::encode(sample().clientName);
    QCOMPARE(int(static_cast<unsigned char>(r[record::ClientName])), name.size());
    QCOMPARE(QByteArray(r.data() + record::ClientName + 1, name.size()), name);

    // Bytes without a meaning are zeros, never leftover memory.
    for (int i = record::Reserved; i < record::ClientName; ++i)
        QCOMPARE(int(r[i]), 0);
    for (int i = record::ClientName + 1 + name.size(); i < record::Service; ++i)
        QCOMPARE(int(r[i]), 0);
    for (int i = record::Alignment; i < RecordSize; ++i)
        QCOMPARE(int(r[i]), 0);
}

void TestJournalWriter::textFieldLimits_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("note");
    QTest::addColumn<int>("nameLength");
    QTest::addColumn<int>("statusLength");

    QTest::newRow("name of 20") << QString(20, QChar(0x0416)) << QStringLiteral("Стоп") << "x" << 20 << 4;
    QTest::newRow("name of 45") << QString(45, QLatin1Char('a')) << QStringLiteral("Стоп") << "x" << 40 << 4;
    QTest::newRow("status of 25") << "A" << QString(25, QChar(0x044F)) << "x" << 1 << 20;
    QTest::newRow("empty note") << "A" << QStringLiteral("Стоп") << "" << 1 << 4;
}

void TestJournalWriter::textFieldLimits()
{
    QFETCH(QString, name);
    QFETCH(QString, status);
    QFETCH(QString, note);
    QFETCH(int, nameLength);
    QFETCH(int, statusLength);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
    LogRecord r = sample();
    r.clientName = name;
    r.status = status;
    r.note = note;
    appendJournalRecord(path, r);
    const QByteArray raw = test::readFile(path);
    const RecordBytes plain = plainRecord(raw, 0);
    QCOMPARE(int(static_cast<unsigned char>(plain[record::ClientName])), nameLength);
    QCOMPARE(int(static_cast<unsigned char>(plain[record::Status])), statusLength);
    QCOMPARE(int(static_cast<unsigned char>(plain[record::Note])), note.size());
    // The note's length byte is scrambled like every covered byte.
    QCOMPARE(static_cast<unsigned char>(raw[record::Note]), static_cast<unsigned char>(note.size() ^ ScrambleKey));

    const LogRecord back = deserializeRecord(plain.data());
    QCOMPARE(back.clientName, name.left(nameLength));
    QCOMPARE(back.status, status.left(statusLength));
    QCOMPARE(back.note, note);
}

void TestJournalWriter::stopReadsBackWithLengthFour()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
    LogRecord r = sample();
    r.status = QStringLiteral("Стоп");
    appendJournalRecord(path, r);
    const QByteArray raw = test::readFile(path);
    // On the disk the status is not readable as such.
    QVERIFY(!raw.contains(cp1251::encode(QStringLiteral("Стоп"))));
    const RecordBytes plain = plainRecord(raw, 0);
    QCOMPARE(int(plain[record::Status]), 4);
    QCOMPARE(QByteArray(plain.data() + record::Status + 1, 4), cp1251::encode(QStringLiteral("Стоп")));
    QCOMPARE(deserializeRecord(plain.data()).status, QStringLiteral("Стоп"));
}

void TestJournalWriter::scrambleTwiceIsIdentity()
{
    RecordBytes bytes;
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    const RecordBytes original = bytes;

    ScrambleRecord(bytes);
    for (int i = 0; i < RecordSize; ++i) {
        const bool covered = i >= 57 && i <= 157;
        QVERIFY2((bytes[i] != original[i]) == covered, qPrintable(QString::number(i)));
    }
    ScrambleRecord(bytes);
    QCOMPARE(bytes, original);
}

void TestJournalWriter::unwritableJournal_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("makeDirectory");
    QTest::addColumn<QString>("message");

    QTest::newRow("journal is a directory") << "Bilmeko.log" << true << "File access denied";
    QTest::newRow("directory missing") << "gone/Bilmeko.log" << false << "File not found";
}

void TestJournalWriter::unwritableJournal()
{
    QFETCH(QString, relative);
    QFETCH(bool, makeDirectory);
    QFETCH(QString, message);

    QTemporaryDir dir;
    const QString path = dir.filePath(relative);
    if (makeDirectory)
        QVERIFY(QDir(dir.path()).mkdir(relative));
    QCOMPARE(appendError(path, sample()), message);
}

// Every call an append makes can fail (the table of system calls): the
// error names what happened, no fragment is left behind where the failure
// allows it, and the next append still lands on a record's boundary.
void TestJournalWriter::failingCallKeepsRecordsWhole_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("err");
    QTest::addColumn<QString>("message");

    QTest::newRow("open: no rights") << "open" << EACCES << "File access denied";
    QTest::newRow("open: too many files") << "open" << EMFILE << "Too many open files";
    QTest::newRow("flock") << "flock" << ENOLCK << IoError::fromErrno(ENOLCK).message();
    QTest::newRow("half written, then full; truncation fails too") << "pwrite" << ENOSPC << "Disk full";
    QTest::newRow("flush fails, truncation fails too") << "fsync" << EIO << IoError::fromErrno(EIO).message();
}

void TestJournalWriter::failingCallKeepsRecordsWhole()
{
    QFETCH(QString, call);
    QFETCH(int, err);
    QFETCH(QString, message);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
    appendJournalRecord(path, sample());
    {
        SystemCalls calls;
        const auto fail = [err](auto result) {
            errno = err;
            return result;
        };
        if (call == QLatin1String("open"))
            calls.open = [&](const char *, int, mode_t) { return fail(-1); };
        if (call == QLatin1String("flock"))
            calls.flock = [&](int, int) { return fail(-1); };
        if (call == QLatin1String("pwrite")) {
            // Half a record reaches the file, then the disk is full.
            calls.pwrite = [&, first = true](int fd, const void *data, size_t size, off_t offset) mutable -> ssize_t {
                if (!first)
                    return fail(ssize_t(-1));
                first = false;
                return ::pwrite(fd, data, size / 2, offset);
            };
        }
        if (call == QLatin1String("fsync"))
            calls.fsync = [&](int) { return fail(-1); };
        calls.ftruncate = [&](int, off_t) { return fail(-1); };
        ScopedSystemCalls scope(calls);
        QCOMPARE(appendError(path, sample()), message);
    }
    // Whatever the failure left, the next record follows the first whole.
    QCOMPARE(appendError(path, sample()), QString());
    const QByteArray file = test::readFile(path);
    QVERIFY(file.size() == 2 * RecordSize || file.size() == 3 * RecordSize);
    QCOMPARE(deserializeRecord(plainRecord(file, file.size() / RecordSize - 1).data()).clientName, sample().clientName);
}

void TestJournalWriter::readOnlyJournalStaysUnchanged()
{
    QTemporaryDir dir;
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0777) == 0);
    const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
    appendJournalRecord(path, sample());
    const QByteArray before = test::readFile(path);
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);

    QString message;
    {
        test::AsUnprivileged user;
        message = appendError(path, sample());
    }
    QCOMPARE(message, QStringLiteral("File access denied"));
    QCOMPARE(test::readFile(path), before);
}

void TestJournalWriter::readOnlyDirectoryCreatesNothing()
{
    QTemporaryDir dir;
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0555) == 0);
    const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
    QString message;
    {
        test::AsUnprivileged user;
        message = appendError(path, sample());
    }
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0700) == 0);
    QCOMPARE(message, QStringLiteral("File access denied"));
    QVERIFY(!QFile::exists(path));
}

void TestJournalWriter::sealCarriesIdentifierAndFindsDamage_data()
{
    QTest::addColumn<quint64>("id");
    QTest::addColumn<int>("flipAt"); // -1: nothing damaged
    QTest::addColumn<int>("seal");
    // The mark byte's other bits: written, and read back as written.
    QTest::addColumn<int>("payment");
    QTest::addColumn<bool>("reversal");
    QTest::addColumn<bool>("abonement");
    QTest::addColumn<QString>("paymentText");
    // An old record has no mark byte at all: whatever is asked, "не указано".
    QTest::newRow("old record") << quint64(0) << -1 << int(RecordSeal::Absent) << int(Payment::Card) << false << false
                                << QStringLiteral("не указано");
    QTest::newRow("sealed") << quint64(0x0123456789ABCDEF) << -1 << int(RecordSeal::Good) << int(Payment::Unknown)
                            << false << false << QStringLiteral("не указано");
    QTest::newRow("cash") << quint64(5) << -1 << int(RecordSeal::Good) << int(Payment::Cash) << false << false
                          << QStringLiteral("наличные");
    QTest::newRow("reversal of a card payment")
        << quint64(5) << -1 << int(RecordSeal::Good) << int(Payment::Card) << true << false << QStringLiteral("карта");
    QTest::newRow("transfer on an abonement, taken back")
        << quint64(5) << -1 << int(RecordSeal::Good) << int(Payment::Transfer) << true << true
        << QStringLiteral("перевод");
    QTest::newRow("amount damaged") << quint64(7) << record::Amount + 3 << int(RecordSeal::Bad) << 0 << false << false
                                    << QString();
    QTest::newRow("name damaged") << quint64(7) << record::ClientName + 2 << int(RecordSeal::Bad) << 0 << false << false
                                  << QString();
    QTest::newRow("identifier damaged") << quint64(7) << record::SessionId << int(RecordSeal::Bad) << 0 << false
                                        << false << QString();
    QTest::newRow("checksum damaged") << quint64(7) << record::Checksum + 1 << int(RecordSeal::Bad) << 0 << false
                                      << false << QString();
    // The method's bits are covered by the checksum: a flipped one is damage.
    QTest::newRow("payment bits damaged")
        << quint64(7) << record::SealMark << int(RecordSeal::Bad) << int(Payment::Cash) << false << false << QString();
}

void TestJournalWriter::sealCarriesIdentifierAndFindsDamage()
{
    QFETCH(quint64, id);
    QFETCH(int, flipAt);
    QFETCH(int, seal);
    QFETCH(int, payment);
    QFETCH(bool, reversal);
    QFETCH(bool, abonement);
    QFETCH(QString, paymentText);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
    LogRecord r = sample();
    r.sessionId = id;
    r.payment = Payment(payment);
    r.reversal = reversal;
    r.abonement = abonement;
    appendJournalRecord(path, r);
    QByteArray bytes = test::readFile(path);
    QCOMPARE(bytes.size(), RecordSize);
    if (flipAt >= 0)
        bytes[flipAt] = char(bytes[flipAt] ^ 0x10);
    QCOMPARE(int(recordSeal(bytes.constData())), seal);
    if (flipAt < 0) {
        QCOMPARE(storedSessionId(bytes.constData()), id);
        QCOMPARE(isReversalRecord(bytes.constData()), reversal && id != 0);
        QCOMPARE(bilmeko::paymentText(storedPayment(bytes.constData())), paymentText);
        ScrambleRecord(bytes.data());
        const LogRecord back = deserializeRecord(bytes.constData());
        QCOMPARE(back.sessionId, id);
        QCOMPARE(back.reversal, reversal && id != 0);
        QCOMPARE(back.abonement, abonement && id != 0);
        QCOMPARE(bilmeko::paymentText(back.payment), paymentText);
        // The report's line ends in the method; a session drawn on an
        // abonement shows that instead.
        QVERIFY(reportLine(back).endsWith(QLatin1Char('\t') + (abonement ? QStringLiteral("абонемент") : paymentText)));
    }
}

// Network file systems may report a late error from close(); the record is
// flushed by then, and reporting the append as failed would have the
// session written again.
void TestJournalWriter::closeFailingAfterFlushStillCountsAsWritten()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Bilmeko.log");
    QString error;
    {
        ScopedSystemCalls failing(test::closeFailingFor(QStringLiteral("Bilmeko.log")));
        error = appendError(path, sample());
    }
    QCOMPARE(error, QString());
    QCOMPARE(test::readFile(path).size(), qsizetype(RecordSize));
}

// Another program holds the journal's lock while it appends a record: our
// append waits, measures the file afterwards and goes behind that record
// instead of over it.
void TestJournalWriter::appendWaitsForAnotherAppenderAndGoesAfterIt()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Bilmeko.log");
    appendJournalRecord(path, sample());
    int ready[2];
    QVERIFY(::pipe(ready) == 0);
    const pid_t pid = ::fork();
    QVERIFY(pid >= 0);
    if (pid == 0) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
            ::_exit(1);
        if (::write(ready[1], "x", 1) != 1)
            ::_exit(1);
        ::usleep(300'000);
        const QByteArray foreign(RecordSize, '\x11');
        if (::pwrite(fd, foreign.constData(), RecordSize, RecordSize) != RecordSize)
            ::_exit(1);
        ::_exit(0); // the lock goes with the process
    }
    char c;
    QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
    appendJournalRecord(path, sample());
    int status = 0;
    ::waitpid(pid, &status, 0);
    QCOMPARE(WEXITSTATUS(status), 0);
    const QByteArray file = test::readFile(path);
    QCOMPARE(file.size(), qsizetype(3 * RecordSize));
    QCOMPARE(file.mid(RecordSize, RecordSize), QByteArray(RecordSize, '\x11'));
    QCOMPARE(file.mid(2 * RecordSize), file.left(RecordSize));
    ::close(ready[0]);
    ::close(ready[1]);
}

void TestJournalWriter::lockHeldTooLongGivesAccessDenied()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Bilmeko.log");
    appendJournalRecord(path, sample());
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
    QVERIFY(fd >= 0);
    QVERIFY(::flock(fd, LOCK_EX) == 0);
    QCOMPARE(appendError(path, sample()), QStringLiteral("File access denied"));
    ::close(fd);
    QCOMPARE(test::readFile(path).size(), qsizetype(RecordSize));
    QCOMPARE(appendError(path, sample()), QString());
}

void TestJournalWriter::sessionsFoundInTheJournal()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Bilmeko.log");
    QCOMPARE(journalSessionsAmong(path, {1, 2}), QSet<std::uint64_t>());
    // More records than one read takes, a fragment at the end.
    LogRecord r = sample();
    QByteArray file;
    for (std::uint64_t id = 1; id <= 2000; ++id) {
        r.sessionId = id % 7 == 0 ? 0 : id;
        RecordBytes b = serializeRecord(r);
        ScrambleRecord(b);
        sealRecord(b);
        file.append(b.data(), RecordSize);
    }
    file[5 * RecordSize + 60] = file[5 * RecordSize + 60] ^ 1; // record of session 6 damaged
    // Reversals: of 1998 (taken back), of 1999 with another amount, of 4
    // twice (the second takes back nothing), of 3000 before its Stop.
    const auto sealed = [](LogRecord rec, double amount, bool reversal) {
        rec.amount = amount;
        rec.elapsed = reversal ? -rec.elapsed : rec.elapsed;
        rec.reversal = reversal;
        RecordBytes b = serializeRecord(rec);
        ScrambleRecord(b);
        sealRecord(b);
        return QByteArray(b.data(), RecordSize);
    };
    LogRecord of = r;
    for (auto [id, amount] : {std::pair<std::uint64_t, double>{1998, -r.amount},
                              {1999, -1e6},
                              {4, -r.amount},
                              {4, -r.amount},
                              {3000, -r.amount}}) {
        of.sessionId = id;
        file += sealed(of, amount, true);
    }
    of.sessionId = 3000;
    file += sealed(of, r.amount, false);
    file.append(QByteArray(100, '\0'));
    writeAll(path, file);
    const QSet<std::uint64_t> asked{6, 7, 1998, 1999, 2000, 2001, 5, 4, 3000};
    QCOMPARE(journalSessionsAmong(path, asked), (QSet<std::uint64_t>{1999, 2000, 5, 3000}));
    QCOMPARE(journalSessionsAmong(path, {}), QSet<std::uint64_t>());
    // From a length on: the records before it are not looked at (the
    // reversal of 4 then takes back nothing); a journal shorter than the
    // length is read whole, and says so.
    bool shorter = true;
    QCOMPARE(journalSessionsAmong(path, asked, 1000 * RecordSize, &shorter), (QSet<std::uint64_t>{1999, 2000, 3000}));
    QVERIFY(!shorter);
    QCOMPARE(journalSessionsAmong(path, asked, file.size() + RecordSize, &shorter),
             (QSet<std::uint64_t>{1999, 2000, 5, 3000}));
    QVERIFY(shorter);

    QVERIFY(QFile::remove(path));
    QVERIFY(QDir().mkpath(path));
    QVERIFY_THROWS_EXCEPTION(Error, journalSessionsAmong(path, {1}));
}

// The processor's carry-less multiply takes the bulk of long inputs; the
// result must be the byte-at-a-time CRC-32 for every length and alignment.
void TestJournalWriter::checksumAgreesWithTheBytewiseOne()
{
    QCOMPARE(crc32("123456789", 9), 0xCBF43926u);
    QRandomGenerator rng(20261207);
    QByteArray buffer(4096 + 16, Qt::Uninitialized);
    for (char &c : buffer)
        c = char(rng.bounded(256));
    for (int size = 0; size <= 600; ++size) {
        for (int start = 0; start < 16; start += 5)
            QCOMPARE(crc32(buffer.constData() + start, size), crc32Bytewise(buffer.constData() + start, size));
    }
    for (int size : {1024, 4095, 4096})
        QCOMPARE(crc32(buffer.constData() + 3, size), crc32Bytewise(buffer.constData() + 3, size));

    // A record's checksum is checked by ways of its own (all its blocks at
    // once, as far as the processor allows): each must agree with the
    // byte-at-a-time one at any alignment, and the seal must find any one
    // bit changed.
    const std::vector<RecordChecksumFn> ways = recordChecksumWays();
    QVERIFY(!ways.empty());
    for (int n = 0; n < 300; ++n) {
        char *rec = buffer.data() + n % 16;
        for (int i = 0; i < RecordSize; ++i)
            rec[i] = char(rng.bounded(256));
        rec[record::SealMark] = char(record::SealMarkValue);
        const std::uint32_t c = crc32Bytewise(rec, record::Checksum);
        for (RecordChecksumFn way : ways)
            QCOMPARE(way(rec), c);
        std::memcpy(rec + record::Checksum, &c, 4);
        QCOMPARE(recordSeal(rec), RecordSeal::Good);
        const int bit = rng.bounded((record::Checksum + 4) * 8);
        rec[bit / 8] = char(rec[bit / 8] ^ (1 << bit % 8));
        // A flipped bit of the seal mark unseals the record; one of the
        // payment method or the flags is damage like any other.
        QCOMPARE(recordSeal(rec), bit / 8 == record::SealMark && bit % 8 < 4 ? RecordSeal::Absent : RecordSeal::Bad);
    }
}

QTEST_GUILESS_MAIN(TestJournalWriter)
#include "test_journalwriter.moc"
