#include "common/core/errors.h"
#include "testsupport.h"

#include <QTest>
#include <cerrno>

using namespace bilmeko;

class TestErrors : public QObject
{
    Q_OBJECT
private slots:
    void ioMessages_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("reason"); // in the operator's words
        QTest::newRow("ENOENT") << ENOENT << "File not found"
                                << "файл или папка не найдены";
        QTest::newRow("EACCES") << EACCES << "File access denied"
                                << "нет доступа к файлу";
        QTest::newRow("EROFS") << EROFS << "File access denied"
                               << "нет доступа к файлу";
        QTest::newRow("EISDIR") << EISDIR << "File access denied"
                                << "нет доступа к файлу";
        QTest::newRow("ENOSPC") << ENOSPC << "Disk full"
                                << "на диске нет места";
        QTest::newRow("EMFILE") << EMFILE << "Too many open files"
                                << "открыто слишком много файлов";
        QTest::newRow("EIO") << EIO << QStringLiteral("I/O error %1").arg(EIO)
                             << QStringLiteral("ошибка ввода-вывода %1").arg(EIO);
    }
    void ioMessages()
    {
        QFETCH(int, err);
        QFETCH(QString, message);
        QFETCH(QString, reason);
        QCOMPARE(IoError::fromErrno(err).message(), message);
        QCOMPARE(reasonText(IoError::fromErrno(err)), reason);
    }

    void fullStopAddedOnlyWhenMissing()
    {
        test::ErrorRecorder rec;
        guard([] { throw Error::invalidDate("31.02.2026"); });
        guard([] { throw Error("Ends with a stop."); });
        QVERIFY(guard([] {}));
        QCOMPARE(rec.messages, (QStringList{"'31.02.2026' is not a valid date.", "Ends with a stop."}));
    }
};

QTEST_GUILESS_MAIN(TestErrors)
#include "test_errors.moc"
