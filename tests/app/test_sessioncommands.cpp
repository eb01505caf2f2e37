#include "app/core/sessionboard.h"
#include "app/ui/form2.h"
#include "app/ui/sessioncommands.h"
#include "cashdesk/core/abonement.h"
#include "common/core/clock.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "common/core/memtable.h"
#include "journal/core/journalfile.h"
#include "journal/core/logrecord.h"
#include "prices/core/pricetable.h"
#include "testsupport_ui.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace bilmeko;

namespace {

using test::retype;

const QDate Day(2026, 12, 7);

QDateTime at(int h, int m, int s = 0)
{
    return QDateTime(Day, QTime(h, m, s));
}

QString timeText(double v)
{
    return Formats::current().timeText(v);
}

QWidget *child(QWidget *w, const char *name)
{
    QWidget *c = w->findChild<QWidget *>(QString::fromLatin1(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}

struct Entry
{
    int hours = 0;
    int minutes = 0;
    QString customer;
    QString note;
    int service = 0; // rows below the first in the picker
    bool ok = true;
    QString payment; // "Оплата" as chosen; empty: left as offered
    bool abonement = false; // "По абонементу" ticked
};

// Fills the next client dialog as the operator would and closes it with
// "Ок" or "Отменить". The dialog's caption lands in *caption.
void answerClientDialog(Entry e, QString *caption = nullptr)
{
    test::onNextModal([e, caption](QWidget *w) {
        auto *d = qobject_cast<TForm2 *>(w);
        if (!d) {
            w->close();
            return;
        }
        if (caption)
            *caption = d->windowTitle();
        if (!d->isExtendMode()) {
            QWidget *picker = child(d, "RxLookupEdit1");
            picker->setFocus();
            for (int i = 0; i < e.service; ++i)
                QTest::keyClick(picker, Qt::Key_Down);
            retype(child(d, "Customer"), e.customer);
            retype(child(d, "Desk"), e.note);
        }
        if (!e.payment.isEmpty()) {
            auto *payment = qobject_cast<QComboBox *>(child(d, "Payment"));
            payment->setCurrentIndex(payment->findText(e.payment));
        }
        if (e.abonement)
            QTest::mouseClick(child(d, "Abonement"), Qt::LeftButton, {}, QPoint(4, 10));
        retype(child(d, "CHours"), QString::number(e.hours));
        retype(child(d, "CMinuts"), QString::number(e.minutes));
        QTest::mouseClick(child(d, e.ok ? "BitBtn1" : "BitBtn2"), Qt::LeftButton);
    });
}

} // namespace

class TestSessionCommands : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FixedClock> m_clock;
    std::unique_ptr<SessionBoard> m_board;
    std::unique_ptr<MemTable> m_prices;
    QList<Notice> m_notices;

    MemTable &log() { return m_board->curLog(); }

    QList<LogRecord> journal() const
    {
        QFile f(m_board->journalPath());
        QList<LogRecord> out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        const QByteArray bytes = f.readAll();
        for (qsizetype off = 0; off + RecordSize <= bytes.size(); off += RecordSize) {
            RecordBytes r;
            std::copy_n(bytes.constData() + off, RecordSize, r.begin());
            ScrambleRecord(r);
            out << deserializeRecord(r.data());
        }
        return out;
    }

    // A session started at the given moment by the board itself.
    void startSession(const QDateTime &when, const QString &fio, int hours, int minutes)
    {
        m_clock->set(when);
        m_board->addSession(fio, QStringLiteral("note"), QStringLiteral("Солярий"), 12.5, hours, minutes);
    }

    QStringList clients()
    {
        QStringList out;
        for (int r = 0; r < log().rowCount(); ++r)
            out << log().value(r, log().fieldIndex(QStringLiteral("FIO"))).toString();
        return out;
    }

    // Runs a command that must not open anything.
    template <typename F> bool opensNothing(F command)
    {
        auto opened = std::make_shared<bool>(false);
        test::onNextModal(
            [opened](QWidget *w) {
                *opened = true;
                w->close();
            },
            200);
        command();
        QTest::qWait(300);
        return !*opened;
    }

private slots:
    void initTestCase() { test::pinRussian(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_clock = std::make_unique<FixedClock>(at(10, 0));
        Clock::setCurrent(m_clock.get());
        m_board = std::make_unique<SessionBoard>(m_dir->filePath(QStringLiteral("Bilmeko.log")));
        m_notices.clear();
        m_board->setNoticeHook([this](const Notice &n) { m_notices << n; });
        m_prices.reset(makePriceTable());
        for (const auto &[item, price] : {std::pair{"Солярий", 12.5}, {"Массаж", 20.0}, {"Маникюр", 7.0}}) {
            m_prices->appendRow();
            m_prices->setField(QStringLiteral("PItem"), QString::fromUtf8(item));
            m_prices->setField(QStringLiteral("PPrice"), price);
        }
    }

    void cleanup()
    {
        m_board.reset();
        Clock::setCurrent(nullptr);
        m_clock.reset();
        m_dir.reset();
    }

    void newStartsASessionInFrontOfTheCurrentRow()
    {
        startSession(at(9, 0), QStringLiteral("Первый"), 2, 0);
        startSession(at(9, 10), QStringLiteral("Второй"), 2, 0);
        log().setCurrentRow(1); // "Первый"
        m_clock->set(at(10, 0));
        QString caption;
        answerClientDialog({1, 30, QStringLiteral("Иванова Мария"), QStringLiteral("у окна"), 1}, &caption);
        newSessionCommand(nullptr, *m_board, *m_prices);

        QCOMPARE(caption, QStringLiteral("Новый клиент"));
        QCOMPARE(clients(), (QStringList{"Второй", "Иванова Мария", "Первый"}));
        QCOMPARE(log().currentRow(), 1);
        QCOMPARE(log().text("FIO"), QStringLiteral("Иванова Мария"));
        QCOMPARE(log().text("Describe"), QStringLiteral("у окна"));
        QCOMPARE(log().text("PItem"), QStringLiteral("Массаж"));
        QCOMPARE(log().number("Price"), 20.0);
        QCOMPARE(timeText(log().number("TBeg")), QStringLiteral("10:00:00"));
        QCOMPARE(timeText(log().number("TEnd")), QStringLiteral("11:30:00"));
        QCOMPARE(timeText(log().number("TLeft")), QStringLiteral("1:30:00"));
        QCOMPARE(log().number("Summ"), 0.0);
        QVERIFY(journal().isEmpty());
    }

    void newAcrossMidnightCarriesTheDay()
    {
        m_clock->set(at(23, 30));
        answerClientDialog({1, 0, QStringLiteral("Полуночник"), {}, 0});
        newSessionCommand(nullptr, *m_board, *m_prices);
        QCOMPARE(timeText(log().number("TEnd")), QStringLiteral("0:30:00"));
        QCOMPARE(timeText(log().number("TLeft")), QStringLiteral("1:00:00"));
        m_clock->set(at(23, 30, 20));
        m_board->tick();
        QCOMPARE(clients(), QStringList{"Полуночник"});
        QVERIFY(journal().isEmpty());
    }

    void newCancelledAddsNothing()
    {
        answerClientDialog({1, 0, QStringLiteral("Никто"), {}, 0, false});
        newSessionCommand(nullptr, *m_board, *m_prices);
        QVERIFY(log().isEmpty());
    }

    void newWithAnEmptyPriceTable()
    {
        m_prices->clear();
        answerClientDialog({0, 20, QStringLiteral("Петров"), {}, 0});
        newSessionCommand(nullptr, *m_board, *m_prices);
        QCOMPARE(log().rowCount(), 1);
        QCOMPARE(log().text("PItem"), QString());
        QCOMPARE(log().number("Price"), 0.0);
        QCOMPARE(timeText(log().number("TEnd")), QStringLiteral("10:20:00"));
    }

    void extendMovesTheEndOfTheCurrentRow()
    {
        startSession(at(9, 0), QStringLiteral("Другой"), 3, 0);
        startSession(at(10, 0), QStringLiteral("Иванова"), 1, 30);
        m_clock->set(at(10, 5));
        m_board->tick();
        const double summ = log().number("Summ");
        QCOMPARE(summ, 5 * 12.5);
        m_clock->set(at(10, 10));
        QString caption;
        answerClientDialog({0, 30, {}, {}, 0, true, QStringLiteral("перевод")}, &caption);
        extendSessionCommand(nullptr, *m_board);
        QCOMPARE(m_board->session(log().currentId())->payment, Payment::Transfer); // changed as the client pays

        QCOMPARE(caption, QStringLiteral("Добавить время Клиент \"Иванова\""));
        QCOMPARE(log().text("FIO"), QStringLiteral("Иванова"));
        QCOMPARE(timeText(log().number("TEnd")), QStringLiteral("12:00:00"));
        QCOMPARE(timeText(log().number("TLeft")), QStringLiteral("1:50:00"));
        QCOMPARE(timeText(log().number("TBeg")), QStringLiteral("10:00:00"));
        QCOMPARE(log().number("Summ"), summ);
        QCOMPARE(timeText(log().value(1, log().fieldIndex("TEnd")).toDouble()), QStringLiteral("12:00:00"));
    }

    // "По абонементу": the journal's balance must cover the booked time;
    // the session is then charged nothing.
    void newDrawnOnAnAbonement_data()
    {
        QTest::addColumn<int>("bought");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("enough minutes") << 600 << QString();
        QTest::newRow("fewer than booked")
            << 30 << QStringLiteral("На абонементе клиента «Анна» 30 мин, а назначено 60 мин.");
        QTest::newRow("none bought") << 0 << QStringLiteral("На абонементе клиента «Анна» 0 мин, а назначено 60 мин.");
    }
    void newDrawnOnAnAbonement()
    {
        QFETCH(int, bought);
        QFETCH(QString, refusal);
        if (bought > 0) {
            LogRecord sale = abonementSale(QStringLiteral("Анна"), {QStringLiteral("Абонемент"), bought, 1000},
                                           Payment::Cash, dateTimeValue(at(9, 0)));
            sale.sessionId = 1;
            appendJournalRecord(m_board->journalPath(), sale);
        }
        answerClientDialog({1, 0, QStringLiteral("Анна"), {}, 0, true, QStringLiteral("карта"), true});
        QString error;
        try {
            newSessionCommand(nullptr, *m_board, *m_prices, Payment::Cash, true);
        } catch (const Error &e) {
            error = e.message();
        }
        QCOMPARE(error, refusal);
        QCOMPARE(log().rowCount(), refusal.isEmpty() ? 1 : 0);
        if (!refusal.isEmpty())
            return;
        const Session *s = m_board->session(log().currentId());
        QVERIFY(s->abonement);
        QCOMPARE(s->payment, Payment::Card);
        m_clock->set(at(10, 30));
        m_board->tick();
        QCOMPARE(log().number("Summ"), 0.0);
    }

    void extendCancelledChangesNothing()
    {
        startSession(at(10, 0), QStringLiteral("Иванова"), 1, 30);
        answerClientDialog({2, 0, {}, {}, 0, false});
        extendSessionCommand(nullptr, *m_board);
        QCOMPARE(timeText(log().number("TEnd")), QStringLiteral("11:30:00"));
    }

    void emptyTableOpensNothing()
    {
        QVERIFY(opensNothing([this] { extendSessionCommand(nullptr, *m_board); }));
        QVERIFY(opensNothing([this] { stopSessionCommand(nullptr, *m_board); }));
        QVERIFY(log().isEmpty());
        QVERIFY(journal().isEmpty());
        QVERIFY(m_notices.isEmpty());
    }

    void stopAsksThenEndsTheSession()
    {
        startSession(at(9, 30), QStringLiteral("Следующий"), 2, 0);
        startSession(at(10, 0), QStringLiteral("Иванова"), 1, 30);
        QCOMPARE(log().currentRow(), 0);
        m_clock->set(at(10, 0, 40));
        QString text, title;
        bool warningIcon = false, yesDefault = false, noOnEscape = false;
        QStringList buttons;
        test::onNextModal([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            QVERIFY(box);
            text = box->text();
            title = box->windowTitle();
            warningIcon = box->icon() == QMessageBox::Warning;
            yesDefault = box->defaultButton() == box->button(QMessageBox::Yes);
            noOnEscape = box->escapeButton() == box->button(QMessageBox::No);
            for (QAbstractButton *b : box->buttons())
                buttons << b->text();
            box->button(QMessageBox::Yes)->click();
        });
        stopSessionCommand(nullptr, *m_board);

        QCOMPARE(title, QStringLiteral("Warning"));
        QCOMPARE(text, QStringLiteral("Остановить Иванова"));
        QVERIFY(warningIcon);
        QVERIFY(yesDefault);
        QVERIFY(noOnEscape);
        buttons.sort();
        QCOMPARE(buttons, (QStringList{"&No", "&Yes"}));

        QCOMPARE(clients(), QStringList{"Следующий"});
        QCOMPARE(log().currentRow(), 0);
        QCOMPARE(m_notices.size(), 1);
        QCOMPARE(m_notices[0].customer, QStringLiteral("Иванова"));
        QCOMPARE(m_notices[0].stat, QStringLiteral("Время: 0:00:40 Сумма: ") + Formats::current().currency2(0));
        const QList<LogRecord> records = journal();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].status, QStringLiteral("Стоп"));
        QCOMPARE(records[0].clientName, QStringLiteral("Иванова"));
        QCOMPARE(records[0].service, QStringLiteral("Солярий"));
        QCOMPARE(records[0].note, QStringLiteral("note"));
        QCOMPARE(records[0].pricePerMin, 12.5);
        QCOMPARE(records[0].amount, 0.0);
        QCOMPARE(timeText(records[0].elapsed), QStringLiteral("0:00:40"));
    }

    void stopRefusedChangesNothing_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("No") << 0;
        QTest::newRow("Esc") << 1;
        QTest::newRow("close box") << 2;
    }

    void stopRefusedChangesNothing()
    {
        QFETCH(int, way);
        startSession(at(10, 0), QStringLiteral("Иванова"), 1, 30);
        test::onNextModal([way](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            QVERIFY(box);
            switch (way) {
            case 0: QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton); break;
            case 1: QTest::keyClick(box, Qt::Key_Escape); break;
            case 2: box->close(); break;
            }
        });
        stopSessionCommand(nullptr, *m_board);
        QCOMPARE(clients(), QStringList{"Иванова"});
        QVERIFY(journal().isEmpty());
        QVERIFY(m_notices.isEmpty());
    }

    void stopWithAnUnwritableJournalKeepsTheRow()
    {
        startSession(at(10, 0), QStringLiteral("Иванова"), 1, 30);
        m_board->setJournalPath(m_dir->filePath(QStringLiteral("missing/Bilmeko.log")));
        test::ErrorRecorder errors;
        test::answerNextMessageBox(QMessageBox::Yes);
        QVERIFY(!guard([this] { stopSessionCommand(nullptr, *m_board); }));
        QCOMPARE(errors.messages.size(), 1);
        QCOMPARE(clients(), QStringList{"Иванова"});
        QVERIFY(m_notices.isEmpty()); // no notice for a session not billed
    }

    // The tick ends the session while its dialog waits for the operator: the
    // command must neither touch the next row nor write a second record.
    void tickEndsTheSessionDuringTheDialog_data()
    {
        QTest::addColumn<bool>("stop");
        QTest::newRow("Extend") << false;
        QTest::newRow("Stop") << true;
    }

    void tickEndsTheSessionDuringTheDialog()
    {
        QFETCH(bool, stop);
        startSession(at(9, 0), QStringLiteral("Другой"), 3, 0); // ends 12:00
        startSession(at(10, 0), QStringLiteral("Иванова"), 0, 30); // ends 10:30, current
        m_clock->set(at(10, 29, 50));
        test::onNextModal([this, stop](QWidget *w) {
            m_clock->set(at(10, 30, 5));
            m_board->tick();
            if (stop) {
                qobject_cast<QMessageBox *>(w)->button(QMessageBox::Yes)->click();
                return;
            }
            retype(child(w, "CMinuts"), QStringLiteral("50"));
            QTest::mouseClick(child(w, "BitBtn1"), Qt::LeftButton);
        });
        if (stop)
            stopSessionCommand(nullptr, *m_board);
        else
            extendSessionCommand(nullptr, *m_board);

        QCOMPARE(clients(), QStringList{"Другой"});
        QCOMPARE(timeText(log().number("TEnd")), QStringLiteral("12:00:00"));
        const QList<LogRecord> records = journal();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].clientName, QStringLiteral("Иванова"));
        QCOMPARE(records[0].status, QStringLiteral("Время вышло"));
        QCOMPARE(m_notices.size(), 1);
    }

    // Another row ends while the dialog is open; the command still acts on
    // the row it was opened for, not on whatever row is current afterwards.
    void commandsKeepTheirRowWhenTheCurrentRowMoves()
    {
        startSession(at(9, 0), QStringLiteral("Иванова"), 3, 0); // ends 12:00
        startSession(at(9, 50), QStringLiteral("Скорый"), 0, 40); // ends 10:30
        log().setCurrentRow(1); // "Иванова"
        m_clock->set(at(10, 29));
        test::onNextModal([this](QWidget *w) {
            log().setCurrentRow(0);
            retype(child(w, "CHours"), QStringLiteral("1"));
            retype(child(w, "CMinuts"), QStringLiteral("0"));
            QTest::mouseClick(child(w, "BitBtn1"), Qt::LeftButton);
        });
        extendSessionCommand(nullptr, *m_board);
        const int fioField = log().fieldIndex("FIO");
        const int endField = log().fieldIndex("TEnd");
        QCOMPARE(log().value(1, fioField).toString(), QStringLiteral("Иванова"));
        QCOMPARE(timeText(log().value(1, endField).toDouble()), QStringLiteral("13:00:00"));
        QCOMPARE(timeText(log().value(0, endField).toDouble()), QStringLiteral("10:30:00"));
    }
};

QTEST_MAIN(TestSessionCommands)
#include "test_sessioncommands.moc"
