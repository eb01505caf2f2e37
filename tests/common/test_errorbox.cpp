#include "common/core/errors.h"
#include "common/ui/errorbox.h"
#include "testsupport_ui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
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

};

QTEST_MAIN(TestErrorBox)
#include "test_errorbox.moc"
