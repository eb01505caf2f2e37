#include "common/core/errors.h"
#include "common/ui/errorbox.h"
#include "testsupport_ui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTest>

using namespace bilmeko;

class TestErrorBox : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { installErrorBox(); }

    void guardShowsTheRealBoxAndGoesOn()
    {
        QCoreApplication::setApplicationName("Bilmeko");
        QString text, title;
        int icon = -1;
        test::onNextModal([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            QVERIFY(box);
            text = box->text();
            title = box->windowTitle();
            icon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        bool after = false;
        const bool ok = guard([] { throw IoError(IoError::DiskFull); });
        after = true;
        QVERIFY(!ok);
        QVERIFY(after);
        QCOMPARE(text, QStringLiteral("Disk full."));
        QCOMPARE(title, QStringLiteral("Bilmeko"));
        QCOMPARE(icon, int(QMessageBox::Critical));
    }

    // A failure that comes later (a print job's) shows on top while the
    // operator goes on typing where they were: not modal, no keyboard.
    void laterErrorTakesNoKeyboard()
    {
        QWidget desk;
        auto *field = new QLineEdit(&desk);
        desk.show();
        desk.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&desk));
        field->setFocus();
        // Keys go where the application's focus is, as the window system's do.
        QTest::keyClicks(static_cast<QWidget *>(nullptr), QStringLiteral("Pet"));

        showErrorNotice(QStringLiteral("Чек не напечатан: принтер не установлен"));
        QMessageBox *notice = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("ErrorNotice"))
                notice = qobject_cast<QMessageBox *>(w);
        QVERIFY(notice);
        QVERIFY(notice->isVisible());
        QVERIFY(!notice->isModal());
        QCOMPARE(notice->text(), QStringLiteral("Чек не напечатан: принтер не установлен."));
        QCOMPARE(notice->icon(), QMessageBox::Critical);
        QTest::qWait(100);
        QTRY_COMPARE(QApplication::activeWindow(), &desk);
        QTest::keyClicks(static_cast<QWidget *>(nullptr), QStringLiteral("rov"));
        QCOMPARE(field->text(), QStringLiteral("Petrov"));

        const QPointer<QMessageBox> gone(notice);
        notice->button(QMessageBox::Ok)->click();
        QTRY_VERIFY(!gone);
    }
};

QTEST_MAIN(TestErrorBox)
#include "test_errorbox.moc"
