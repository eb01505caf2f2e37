// The report's text area as the operator uses it: keys, mouse, clipboard,
// scrolling, and the text it gives back for printing.

#include "journal/ui/reporttextedit.h"
#include "testsupport.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>

using namespace bilmeko;

namespace {

using Pos = ReportTextEdit::Position;

const QString Sample = QStringLiteral("Время\t\t\tКлиент\tУслуга\n"
                                      "02.12.2026 10:00:00\tИванова\tСолярий\n"
                                      "02.12.2026\tЛи\tМассаж\n"
                                      "Итог:    Сумма: 10,00\tВремя: 1:0:0");

void type(QWidget *w, const QString &text)
{
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_A, QString(c), Qt::NoModifier);
}

} // namespace

class TestReportTextEdit : public QObject
{
    Q_OBJECT

    ReportTextEdit *m_edit = nullptr;

private slots:
    void init()
    {
        m_edit = new ReportTextEdit;
        m_edit->resize(633, 345);
        m_edit->setPlainText(Sample);
        m_edit->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_edit));
        m_edit->setFocus();
    }

    void cleanup()
    {
        delete m_edit;
        m_edit = nullptr;
    }

    void textComesBackAsGiven_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines");
        QTest::newRow("empty") << QString() << 1;
        QTest::newRow("one line") << QStringLiteral("abc") << 1;
        QTest::newRow("trailing newline") << QStringLiteral("a\nb\n") << 3;
        QTest::newRow("empty lines") << QStringLiteral("\n\n\t\n") << 4;
        QTest::newRow("report") << Sample << 4;
    }

    void textComesBackAsGiven()
    {
        QFETCH(QString, text);
        QFETCH(int, lines);
        m_edit->setPlainText(text);
        QCOMPARE(m_edit->lineCount(), lines);
        QCOMPARE(m_edit->toPlainText(), text);
    }

    void typingEnterBackspaceDelete()
    {
        m_edit->setCursorPosition(Pos{1, 19}); // after the time
        type(m_edit, QStringLiteral(" (доплата)"));
        QCOMPARE(m_edit->line(1), QStringLiteral("02.12.2026 10:00:00 (доплата)\tИванова\tСолярий"));

        QTest::keyClick(m_edit, Qt::Key_End);
        QTest::keyClick(m_edit, Qt::Key_Return);
        type(m_edit, QStringLiteral("примечание"));
        QCOMPARE(m_edit->lineCount(), 5);
        QCOMPARE(m_edit->line(2), QStringLiteral("примечание"));

        // Backspace at the start of a line joins it to the one above.
        QTest::keyClick(m_edit, Qt::Key_Home);
        QTest::keyClick(m_edit, Qt::Key_Backspace);
        QCOMPARE(m_edit->lineCount(), 4);
        QCOMPARE(m_edit->line(1), QStringLiteral("02.12.2026 10:00:00 (доплата)\tИванова\tСолярийпримечание"));
        QCOMPARE(m_edit->cursorPosition(),
                 (Pos{1, static_cast<int>(QStringLiteral("02.12.2026 10:00:00 (доплата)\tИванова\tСолярий").size())}));

        // Delete at the end of a line joins the next one.
        QTest::keyClick(m_edit, Qt::Key_End);
        QTest::keyClick(m_edit, Qt::Key_Delete);
        QCOMPARE(m_edit->lineCount(), 3);
        QVERIFY(m_edit->line(1).endsWith(QStringLiteral("примечание02.12.2026\tЛи\tМассаж")));

        QTest::keyClick(m_edit, Qt::Key_Backspace);
        QVERIFY(m_edit->line(1).endsWith(QStringLiteral("примечани02.12.2026\tЛи\tМассаж")));
    }

    void selectionIsReplacedAndDeleted()
    {
        m_edit->setCursorPosition(Pos{2, 11}); // start of "Ли"
        QTest::keyClick(m_edit, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(m_edit, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(m_edit->selectedText(), QStringLiteral("Ли"));
        type(m_edit, QStringLiteral("Ким"));
        QCOMPARE(m_edit->line(2), QStringLiteral("02.12.2026\tКим\tМассаж"));

        // Across lines.
        m_edit->setCursorPosition(Pos{1, 0});
        QTest::keyClick(m_edit, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(m_edit, Qt::Key_Delete);
        QCOMPARE(m_edit->lineCount(), 3);
        QCOMPARE(m_edit->line(1), QStringLiteral("02.12.2026\tКим\tМассаж"));

        QTest::keyClick(m_edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(m_edit, Qt::Key_Backspace);
        QCOMPARE(m_edit->toPlainText(), QString());
        QCOMPARE(m_edit->lineCount(), 1);
    }

    void clipboard()
    {
        m_edit->setCursorPosition(Pos{1, 0});
        QTest::keyClick(m_edit, Qt::Key_End, Qt::ShiftModifier);
        QTest::keyClick(m_edit, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("02.12.2026 10:00:00\tИванова\tСолярий"));

        QTest::keyClick(m_edit, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(m_edit, Qt::Key_Return);
        QTest::keyClick(m_edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(m_edit->lineCount(), 5);
        QCOMPARE(m_edit->line(4), m_edit->line(1));

        QApplication::clipboard()->setText(QStringLiteral("первая\r\nвторая"));
        m_edit->setCursorPosition(Pos{0, 0});
        QTest::keyClick(m_edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(m_edit->line(0), QStringLiteral("первая"));
        QCOMPARE(m_edit->line(1), QStringLiteral("втораяВремя\t\t\tКлиент\tУслуга"));
        QCOMPARE(m_edit->cursorPosition(), (Pos{1, 6}));

        m_edit->setCursorPosition(Pos{0, 0});
        QTest::keyClick(m_edit, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(m_edit, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("первая\n"));
        QCOMPARE(m_edit->line(0), QStringLiteral("втораяВремя\t\t\tКлиент\tУслуга"));
    }

    void caretMoves()
    {
        m_edit->setCursorPosition(Pos{1, 3});
        QTest::keyClick(m_edit, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(m_edit->cursorPosition(), (Pos{0, 0}));
        QTest::keyClick(m_edit, Qt::Key_Left);
        QCOMPARE(m_edit->cursorPosition(), (Pos{0, 0}));
        QTest::keyClick(m_edit, Qt::Key_End);
        QTest::keyClick(m_edit, Qt::Key_Right);
        QCOMPARE(m_edit->cursorPosition(), (Pos{1, 0}));
        QTest::keyClick(m_edit, Qt::Key_Left);
        QCOMPARE(m_edit->cursorPosition(), (Pos{0, static_cast<int>(m_edit->line(0).size())}));
        QTest::keyClick(m_edit, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(m_edit->cursorPosition(), (Pos{3, static_cast<int>(m_edit->line(3).size())}));
        QTest::keyClick(m_edit, Qt::Key_Down);
        QCOMPARE(m_edit->cursorPosition().line, 3);

        // Up and down keep to the column: from "Иванова" to "Ли" above it.
        m_edit->setCursorPosition(Pos{1, 20});
        QTest::keyClick(m_edit, Qt::Key_Down);
        QCOMPARE(m_edit->cursorPosition(), (Pos{2, 11}));
    }

    void mousePlacesTheCaret()
    {
        const QList<qreal> starts = m_edit->pieceStarts(2);
        const int lineHeight = QFontMetrics(m_edit->font()).lineSpacing();
        const QPoint at(4 + static_cast<int>(starts[1]) + 1, 2 * lineHeight + lineHeight / 2);
        QTest::mouseClick(m_edit->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(m_edit->cursorPosition(), (Pos{2, 11}));

        QTest::mouseDClick(m_edit->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(m_edit->selectedText(), QStringLiteral("Ли"));

        QTest::mouseClick(m_edit->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          QPoint(4 + static_cast<int>(starts[2]) + 1, at.y()));
        QCOMPARE(m_edit->selectedText(), QStringLiteral("Ли\t"));
    }

    void scrollsToTheCaret()
    {
        QString text;
        for (int i = 0; i < 1000; ++i)
            text += QStringLiteral("строка %1\tx\ty\n").arg(i);
        text += QStringLiteral("последняя ") + QString(300, QLatin1Char('w'));
        m_edit->setPlainText(text);
        QScrollBar *v = m_edit->verticalScrollBar();
        QScrollBar *h = m_edit->horizontalScrollBar();
        QCOMPARE(v->value(), 0);
        QVERIFY(v->maximum() > 950);
        QVERIFY(h->maximum() > 0);

        QTest::keyClick(m_edit, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(v->value(), v->maximum());
        QVERIFY(h->value() > 0);
        QTest::keyClick(m_edit, Qt::Key_PageUp);
        QVERIFY(m_edit->cursorPosition().line < 1000);
        QVERIFY(m_edit->cursorPosition().line >= v->value());
        QTest::keyClick(m_edit, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(v->value(), 0);
        QCOMPARE(h->value(), 0);
    }
};

QTEST_MAIN(TestReportTextEdit)
#include "test_reporttextedit.moc"
