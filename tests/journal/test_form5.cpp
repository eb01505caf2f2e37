// The report window and the report command, driven through the window's
// named controls.

#include "common/core/errors.h"
#include "journal/core/journalfile.h"
#include "journal/core/periodreport.h"
#include "journal/ui/form5.h"
#include "journal/ui/reporttextedit.h"
#include "reporttestutil.h"
#include "testsupport_ui.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace bilmeko;
using namespace bilmeko::test;

namespace {

const DateTimeValue Beg = at(2026, 12, 1);
const DateTimeValue End = at(2026, 12, 7);

struct Seen
{
    bool shown = false;
    bool modal = false;
    QString text;
    QString sum;
    QString time;
    QPoint centre;
};

// Looks at the report window when it comes up modally, then closes it.
void closeReportWhenShown(Seen *seen)
{
    onNextModal([seen](QWidget *w) {
        auto *form = qobject_cast<TForm5 *>(w);
        if (!form) {
            w->close();
            return;
        }
        seen->shown = form->isVisible();
        seen->modal = form->isModal();
        seen->text = form->findChild<ReportTextEdit *>(QStringLiteral("RichEdit1"))->toPlainText();
        seen->sum = form->findChild<QLabel *>(QStringLiteral("LabelSum"))->text();
        seen->time = form->findChild<QLabel *>(QStringLiteral("LabelTime"))->text();
        seen->centre = form->geometry().center();
        form->close();
    });
}

// Counts the paint events a widget gets.
struct PaintCounter : QObject
{
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *e) override
    {
        count += e->type() == QEvent::Paint;
        return false;
    }
    int count = 0;
};

} // namespace

class TestForm5 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { pinRussian(); }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("green");
        QTest::newRow("RichEdit1") << "RichEdit1" << QRect(0, 0, 633, 345) << QString() << 11 << false << false;
        QTest::newRow("LabelSum") << "LabelSum" << QRect(184, 352, 81, 20) << "LabelSum" << 16 << true << true;
        QTest::newRow("Label2") << "Label2" << QRect(288, 348, 63, 24) << "Время" << 19 << true << false;
        QTest::newRow("Label3") << "Label3" << QRect(116, 348, 64, 24) << "Сумма" << 19 << true << false;
        QTest::newRow("LabelTime") << "LabelTime" << QRect(356, 352, 83, 20) << "LabelTime" << 16 << true << true;
        QTest::newRow("Button1") << "Button1" << QRect(8, 348, 75, 25) << "Печать" << 11 << false << false;
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        QFETCH(int, pixels);
        QFETCH(bool, bold);
        QFETCH(bool, green);
        TForm5 form;
        auto *w = form.findChild<QWidget *>(name);
        QVERIFY(w);
        QCOMPARE(w->geometry(), geometry);
        QCOMPARE(w->font().bold(), bold);
        if (auto *l = qobject_cast<QLabel *>(w)) {
            QCOMPARE(l->text(), caption);
            // The design size, or smaller where this system's font is wider
            // than the label: the caption is never cut.
            QVERIFY(l->font().pixelSize() <= pixels && l->font().pixelSize() >= pixels - 4);
            if (!green) // the totals get their texts with the report
                QVERIFY(l->sizeHint().width() <= l->width());
        } else {
            QCOMPARE(w->font().pixelSize(), pixels);
        }
        if (auto *b = qobject_cast<QPushButton *>(w))
            QCOMPARE(b->text(), caption);
        QCOMPARE(w->palette().color(QPalette::WindowText) == QColor(0, 128, 0), green);
    }

    void window()
    {
        QWidget main;
        TForm5 form(&main);
        QCOMPARE(form.windowTitle(), QStringLiteral("Отчет о работе салона"));
        QCOMPARE(form.size(), QSize(632, 376));
        QCOMPARE(form.minimumSize(), QSize(632, 376));
        QVERIFY(form.maximumSize().width() > 632 && form.maximumSize().height() > 376);
        QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!form.isVisible());
        auto *edit = form.findChild<ReportTextEdit *>(QStringLiteral("RichEdit1"));
        QCOMPARE(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        // Tab order: the text, then the button.
        QWidget *next = edit->nextInFocusChain();
        while (next && next->focusPolicy() == Qt::NoFocus)
            next = next->nextInFocusChain();
        QCOMPARE(next, form.findChild<QWidget *>(QStringLiteral("Button1")));
        // And the Tab key goes that way too.
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form) || QTest::qWaitForWindowExposed(&form));
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form.findChild<QWidget *>(QStringLiteral("Button1")));
    }

    void reportWithoutJournal()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
        QWidget main;
        main.setGeometry(50, 40, 700, 500); // inside the 800 x 600 test screen
        main.show();
        TForm5 form(&main);
        Seen seen;
        closeReportWhenShown(&seen);
        showPeriodReport(&form, path, Beg, End);

        QVERIFY(seen.shown);
        QVERIFY(seen.modal);
        QCOMPARE(
            seen.text,
            QStringLiteral("Время\t\t\tКлиент\tУслуга\tЦена\tНачало\tВремя\tКонец\tСумма\tКомент.\tСтатус\tОплата\n"
                           "Итог:    Сумма: 0,00\tВремя: 0:0:0"));
        QCOMPARE(seen.sum, QStringLiteral("0,00"));
        QCOMPARE(seen.time, QStringLiteral("0:0:0"));
        QVERIFY2((seen.centre - main.geometry().center()).manhattanLength() <= 2,
                 qPrintable(QStringLiteral("%1,%2 vs %3,%4")
                                .arg(seen.centre.x())
                                .arg(seen.centre.y())
                                .arg(main.geometry().center().x())
                                .arg(main.geometry().center().y())));
        QVERIFY(QFileInfo::exists(path));
        QVERIFY(!form.isVisible());
    }

    void eachReportStartsAfresh()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
        writeFile(path,
                  journalBytes({sampleRecord(at(2026, 12, 2, 9), 10, 1.0 / 24, QStringLiteral("Первая")),
                                sampleRecord(at(2026, 12, 9, 9), 20, 2.0 / 24, QStringLiteral("Вторая"))}));
        TForm5 form;
        Seen first, second;
        closeReportWhenShown(&first);
        showPeriodReport(&form, path, Beg, End);
        closeReportWhenShown(&second);
        showPeriodReport(&form, path, at(2026, 12, 8), at(2026, 12, 31));

        QVERIFY(first.text.contains(QStringLiteral("Первая")));
        QVERIFY(!first.text.contains(QStringLiteral("Вторая")));
        QVERIFY(second.text.contains(QStringLiteral("Вторая")));
        QVERIFY(!second.text.contains(QStringLiteral("Первая")));
        QCOMPARE(second.sum, QStringLiteral("20,00"));
        QCOMPARE(second.time, QStringLiteral("2:0:0"));
        QCOMPARE(second.text.count(QLatin1Char('\n')), 2);
    }

    // While "Файл отчета разрушен" waits for the operator, the tick may
    // append a record; the report shows the journal as it was.
    void damagedJournal()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
        writeFile(path,
                  journalBytes({sampleRecord(at(2026, 12, 2, 9), 10, 1.0 / 24, QStringLiteral("Первая")),
                                sampleRecord(at(2026, 12, 3, 9), 20, 1.0 / 24, QStringLiteral("Вторая"))},
                               60));
        QWidget main;
        TForm5 form(&main);
        QString boxText;
        QString boxIcon;
        Seen seen;
        onNextModal([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box) {
                w->close();
                return;
            }
            boxText = box->text();
            boxIcon = box->icon() == QMessageBox::NoIcon ? QStringLiteral("none") : QStringLiteral("some");
            appendJournalRecord(path, sampleRecord(at(2026, 12, 4, 9), 30, 1.0 / 24, QStringLiteral("Третья")));
            closeReportWhenShown(&seen);
            box->button(QMessageBox::Ok)->click();
        });
        showPeriodReport(&form, path, Beg, End);

        QCOMPARE(boxText, QStringLiteral("Файл отчета разрушен"));
        QCOMPARE(boxIcon, QStringLiteral("none"));
        QVERIFY(seen.shown);
        QVERIFY(seen.text.contains(QStringLiteral("Первая")));
        QVERIFY(seen.text.contains(QStringLiteral("Вторая")));
        QVERIFY(!seen.text.contains(QStringLiteral("Третья")));
        QCOMPARE(seen.sum, QStringLiteral("30,00"));
        QCOMPARE(seen.time, QStringLiteral("2:0:0"));
        QCOMPARE(QFileInfo(path).size(), 3 * RecordSize);
    }

    void readOnlyJournal()
    {
        QTemporaryDir dir;
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0777) == 0);
        const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
        const QByteArray bytes = journalBytes({sampleRecord(at(2026, 12, 2, 9))});
        writeFile(path, bytes);
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

        TForm5 form;
        form.findChild<ReportTextEdit *>(QStringLiteral("RichEdit1"))->setPlainText(QStringLiteral("старый отчет"));
        bool anyModal = false;
        onNextModal(
            [&](QWidget *w) {
                anyModal = true;
                w->close();
            },
            500);
        ErrorRecorder errors;
        {
            AsUnprivileged nobody;
            guard([&] { showPeriodReport(&form, path, Beg, End); });
        }
        QTest::qWait(700);
        QCOMPARE(errors.messages, QStringList{QStringLiteral("File access denied.")});
        QVERIFY(!anyModal);
        QVERIFY(!form.isVisible());
        QCOMPARE(form.findChild<ReportTextEdit *>(QStringLiteral("RichEdit1"))->toPlainText(), QString());
        QCOMPARE(readFile(path), bytes);
    }

    // Totals of any length fit between "Печать" and "График" at the least
    // width the window allows, never cut; the first report opens wide
    // enough for all its columns.
    void totalsWiderThanTheirPlace_data()
    {
        QTest::addColumn<double>("amount");
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<QString>("sum");
        QTest::addColumn<QString>("time");
        QTest::newRow("a millionaire's month") << 24691357.25 << 3000.0 << "98765429,00"
                                               << "288000:0:0";
        QTest::newRow("seven-digit hours") << 12.5 << 11282.34375 << "50,00"
                                           << "1083105:0:0";
        QTest::newRow("both at their longest") << 2499999999.99 << 11282.34375 << "9999999999,96"
                                               << "1083105:0:0";
        QTest::newRow("reversals") << -2.5 << -1.0 / 24 << "-10,00"
                                   << "-4:0:0";
    }

    void totalsWiderThanTheirPlace()
    {
        QFETCH(double, amount);
        QFETCH(double, elapsed);
        QFETCH(QString, sum);
        QFETCH(QString, time);
        TForm5 form;
        QList<LogRecord> records;
        for (int i = 0; i < 4; ++i)
            records << sampleRecord(at(2026, 12, 3, 9, i), amount, elapsed);
        form.setReport(buildPeriodReport(journalBytes(records), Beg, End));
        form.resize(form.minimumSize());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.width() <= 700);
        auto *sumLabel = form.findChild<QLabel *>(QStringLiteral("LabelSum"));
        auto *timeLabel = form.findChild<QLabel *>(QStringLiteral("LabelTime"));
        QCOMPARE(sumLabel->text(), sum);
        QCOMPARE(timeLabel->text(), time);
        QCOMPARE(sumLabel->pos(), QPoint(184, 352));
        // Left to right, each whole and clear of the next.
        QList<QWidget *> row;
        for (const char *name : {"Button1", "Label3", "LabelSum", "Label2", "LabelTime", "BtnChart", "SaveButton"})
            row << form.findChild<QWidget *>(QLatin1String(name));
        for (qsizetype k = 0; k < row.size(); ++k) {
            QWidget *w = row[k];
            QVERIFY2(w->isVisible() && w->width() >= w->sizeHint().width() - (qobject_cast<QLabel *>(w) ? 0 : 30),
                     qPrintable(w->objectName()));
            const QWidget *next = k + 1 < row.size() ? row[k + 1] : nullptr;
            QVERIFY2(w->geometry().right() < (next ? next->x() : form.width()),
                     qPrintable(QStringLiteral("%1 ends at %2").arg(w->objectName()).arg(w->geometry().right())));
            QVERIFY(w->geometry().bottom() < form.height());
        }

        form.fitWidthToColumns();
        QApplication::processEvents();
        auto *edit = form.findChild<ReportTextEdit *>(QStringLiteral("RichEdit1"));
        if (form.screen()->availableGeometry().width() - 40 >= edit->fullWidth())
            QCOMPARE(edit->horizontalScrollBar()->maximum(), 0);
    }

    // A report nobody touches draws no caret and no frames while it waits;
    // a click in the text brings the caret.
    void idleWindowDrawsNothing()
    {
        TForm5 form;
        form.setReport(buildPeriodReport(journalBytes({sampleRecord(at(2026, 12, 3, 9))}), Beg, End));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto *edit = form.findChild<ReportTextEdit *>(QStringLiteral("RichEdit1"));
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        PaintCounter paints(edit->viewport());
        QTest::qWait(3 * QApplication::cursorFlashTime());
        QCOMPARE(paints.count, 0);
        QVERIFY(!edit->caretShown());

        QTest::mouseClick(edit->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QVERIFY(edit->caretShown());
    }

    // Every piece of every record line starts where the header's title of
    // its column starts, as the window lays the lines out.
    void columnsLineUp()
    {
        QList<LogRecord> records;
        records << sampleRecord(at(2026, 12, 2), 1.5, 0.01, QStringLiteral("Я"));
        records << sampleRecord(at(2026, 12, 2, 23, 59, 58), 123456.78, 0.5, QString(40, QChar(0x0428)));
        LogRecord r = sampleRecord(at(2026, 12, 3, 10, 11, 12), 7, 1.0 / 24, QStringLiteral("Ли"));
        r.service = QStringLiteral("Массаж спины и шеи");
        r.note = QString(20, QLatin1Char('W'));
        r.status = QStringLiteral("Стоп");
        records << r;
        TForm5 form;
        form.setReport(buildPeriodReport(journalBytes(records), Beg, End));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        auto *edit = form.findChild<ReportTextEdit *>(QStringLiteral("RichEdit1"));
        QCOMPARE(edit->lineCount(), records.size() + 2);
        // The header: "Время", two empty pieces, then a title per column.
        QList<qreal> header = edit->pieceStarts(0);
        QCOMPARE(header.size(), 13);
        header.remove(1, 2);
        for (int k = 0; k + 1 < header.size(); ++k)
            QVERIFY(header[k + 1] > header[k]);
        const QFontMetricsF fm(edit->font());
        for (int n = 1; n <= records.size(); ++n) {
            const QList<qreal> line = edit->pieceStarts(n);
            QCOMPARE(line.size(), 11);
            for (int k = 0; k < 10; ++k)
                QVERIFY2(qAbs(line[k] - header[k]) < 0.01,
                         qPrintable(
                             QStringLiteral("line %1 column %2: %3 vs %4").arg(n).arg(k).arg(line[k]).arg(header[k])));
            // No piece, drawn as the font shapes it, runs into the next column.
            const QStringList pieces = edit->line(n).split(QLatin1Char('\t'));
            for (int k = 0; k + 1 < 10; ++k)
                QVERIFY(line[k] + fm.horizontalAdvance(pieces[k]) + 2 < line[k + 1]);
        }
        // The whole table can be scrolled into view.
        QVERIFY(edit->horizontalScrollBar()->maximum() + edit->viewport()->width()
                >= header.last() + fm.horizontalAdvance(QStringLiteral("не указано")));
    }

    // The caption names the period; the window can be made larger, the text
    // takes the room, the row below stays at the bottom, and the next report
    // opens where and as large as the last one was left.
    void captionSizeAndPlace()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Bilmeko.log"));
        writeFile(path, journalBytes({sampleRecord(at(2026, 12, 2, 9))}));
        QWidget main;
        main.setGeometry(50, 40, 700, 500);
        main.show();
        TForm5 form(&main);
        QString caption;
        QRect left;
        onNextModal([&](QWidget *w) {
            caption = w->windowTitle();
            w->resize(760, 480);
            w->move(20, 30);
            QApplication::processEvents();
            auto *edit = w->findChild<ReportTextEdit *>(QStringLiteral("RichEdit1"));
            auto *print = w->findChild<QPushButton *>(QStringLiteral("Button1"));
            auto *save = w->findChild<QPushButton *>(QStringLiteral("SaveButton"));
            if (edit->width() >= 760 && edit->height() == 345 + 104 && print->y() == 348 + 104
                && save->geometry().right() < 760 && save->y() == print->y()
                && save->text() == QStringLiteral("Сохранить…"))
                left = w->geometry();
            w->close();
        });
        showPeriodReport(&form, path, at(2026, 10, 1), at(2026, 12, 31));
        QCOMPARE(caption, QStringLiteral("Отчет о работе салона: 01.10.2026 – 31.12.2026"));
        QVERIFY(left.isValid());

        QRect again;
        onNextModal([&](QWidget *w) {
            caption = w->windowTitle();
            again = w->geometry();
            w->close();
        });
        showPeriodReport(&form, path, at(2026, 12, 2), at(2026, 12, 2));
        QCOMPARE(caption, QStringLiteral("Отчет о работе салона: 02.12.2026"));
        QCOMPARE(again.size(), left.size());
        QCOMPARE(again.topLeft(), left.topLeft());
        // Closed, the window lets the report go.
        QCOMPARE(form.report().recordCount(), 0);
        QCOMPARE(form.RichEdit1->lineCount(), 1);
    }

    // The column titles stay in the top row while the lines scroll.
    void columnTitlesStayInView()
    {
        QList<LogRecord> records;
        for (int i = 0; i < 300; ++i)
            records << sampleRecord(at(2026, 12, 2) + i / 1440.0, i, 1.0 / 24, QStringLiteral("Гость %1").arg(i));
        TForm5 form;
        form.setReport(buildPeriodReport(journalBytes(records), Beg, End));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto *edit = form.findChild<ReportTextEdit *>(QStringLiteral("RichEdit1"));
        const int rowHeight = QFontMetrics(edit->font()).lineSpacing();
        const QImage top = edit->viewport()->grab().toImage().copy(0, 0, edit->viewport()->width(), rowHeight);

        // The scroll bar dragged to the end.
        QScrollBar *bar = edit->verticalScrollBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - bar->width() - 4));
        bar->setValue(bar->maximum());
        QVERIFY(bar->value() > 250);
        QCOMPARE(edit->lineAtRow(0), 0);
        QVERIFY(edit->lineAtRow(1) > 250);
        const QImage scrolled = edit->viewport()->grab().toImage();
        QCOMPARE(scrolled.copy(0, 0, edit->viewport()->width(), rowHeight), top);
        // A click in the top row is a click in the titles.
        QTest::mouseClick(edit->viewport(), Qt::LeftButton, {}, QPoint(30, rowHeight / 2));
        QCOMPARE(edit->cursorPosition().line, 0);
        // One row down is the first line in view under the titles.
        QTest::mouseClick(edit->viewport(), Qt::LeftButton, {}, QPoint(30, rowHeight + rowHeight / 2));
        QCOMPARE(edit->cursorPosition().line, edit->lineAtRow(1));
        QVERIFY(edit->line(edit->lineAtRow(1)).contains(QStringLiteral("Гость")));
    }

    // "Сохранить…": CSV or PDF by the name given, written whole; a folder
    // that refuses it gives a message naming the file and leaves nothing.
    void saveAsCsvAndPdf()
    {
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(
            dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        TForm5 form;
        form.setReport(buildPeriodReport(
            journalBytes({sampleRecord(at(2026, 12, 2, 9), 10, 1.0 / 24, QStringLiteral("Первая"))}), Beg, End));
        auto *save = form.findChild<QPushButton *>(QStringLiteral("SaveButton"));
        QString chosen;
        form.chooseSavePath = [&] { return chosen; };

        chosen = dir.filePath(QStringLiteral("отчет.csv"));
        QTest::mouseClick(save, Qt::LeftButton);
        const QByteArray csv = readFile(chosen);
        QVERIFY(csv.startsWith("\xEF\xBB\xBF\xD0\x92")); // the BOM, then "В"
        QVERIFY(QString::fromUtf8(csv).contains(QStringLiteral(";Первая;Солярий;2,50;")));

        chosen = dir.filePath(QStringLiteral("отчет.pdf"));
        QTest::mouseClick(save, Qt::LeftButton);
        QVERIFY(readFile(chosen).startsWith("%PDF"));
        if (!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) {
            QProcess p;
            p.start(QStringLiteral("pdftotext"), {chosen, QStringLiteral("-")});
            QVERIFY(p.waitForFinished(30000));
            QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).contains(QStringLiteral("Первая")));
        }

        chosen.clear(); // the dialog cancelled: nothing happens
        QTest::mouseClick(save, Qt::LeftButton);

        const QString closed = dir.filePath(QStringLiteral("закрыта"));
        QVERIFY(QDir().mkdir(closed));
        QVERIFY(QFile::setPermissions(closed, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        QStringList boxes;
        const ErrorSink before = setErrorSink([&](const QString &text) { boxes << text; });
        {
            AsUnprivileged nobody;
            for (const char *name : {"r.pdf", "r.csv"}) {
                chosen = QDir(closed).filePath(QLatin1String(name));
                QTest::mouseClick(save, Qt::LeftButton);
            }
        }
        setErrorSink(before);
        QCOMPARE(boxes.size(), 2);
        QVERIFY2(
            boxes[0].startsWith(
                QStringLiteral("Отчет не сохранен в файл «%1»").arg(QDir(closed).filePath(QStringLiteral("r.pdf")))),
            qPrintable(boxes[0]));
        QVERIFY(boxes[1].startsWith(QStringLiteral("Отчет не сохранен в файл «%1»").arg(chosen)));
        QCOMPARE(QDir(closed).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
};

QTEST_MAIN(TestForm5)
#include "test_form5.moc"
