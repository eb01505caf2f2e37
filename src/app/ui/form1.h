#pragma once
// The main window: the session grid, the three session buttons, the info
// panel and logo, the menus, the clock caption, the billing tick and the
// tray icon. Closing it only hides it; quitting is asked for when hidden.

#include "app/core/daytakings.h"
#include "app/core/receipt.h"
#include "app/core/shiftoptions.h"
#include "cashdesk/core/abonement.h"
#include "cashdesk/core/shiftbook.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <functional>
#include <memory>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QTableView;
class QTimer;
class QToolButton;

namespace bilmeko {

class MemTable;
class MemTableModel;
class DeskLedger;
struct Notice;
class ProfileFile;
class SessionBoard;
class SessionReminder;
struct FinishedSession;
struct Receipt;
class TForm5;
class TZePeriod;

class TForm1 : public QMainWindow
{
    Q_OBJECT
public:
    // dir: where Bilmeko.log and Bilmeko.ini live, ending in '/'; empty means
    // the executable's directory.
    explicit TForm1(const QString &dir = QString(), QWidget *parent = nullptr);
    ~TForm1() override;

    SessionBoard &board() { return *m_board; }
    MemTable &prices() { return *TPrices; }
    TZePeriod &period() { return *ZePeriod1; }
    const SessionReminder &reminder() const { return *m_reminder; }
    // The report window, made on the first report and reused afterwards.
    TForm5 *reportWindow();
    QString directory() const { return m_dir; }
    QString journalPath() const { return m_journalPath; }
    QString settingsPath() const { return m_settingsPath; }
    // Ships the journal to the ledger; nullptr when none is configured.
    DeskLedger *ledger() const { return m_ledger.get(); }

    // The narrowest grid column a time of day fits in whole, marked or not.
    static int timeCellWidth(const QFont &gridFont);

    // Shows the window centred on the desktop.
    void showCentred();
    // Shows the window if hidden and brings it to the front, activated: the
    // tray's click and "Открыть", and a second start of the program.
    void bringToFront();

    // The desktop session is ending: the next close request ends the
    // program without the quit question.
    void allowCloseWithoutQuestion() { m_closeWithoutQuestion = true; }
    // The quit question's text, with the running sessions counted.
    QString quitQuestion() const;

    // The maker's web site the logo opens.
    static QString makerSite();

    const DayTakings &takings() const { return m_takings; }
    const ShiftOptions &options() const { return m_options; }
    // Where "Сохранить чек в PDF" saves; unset, the file dialog asks.
    std::function<QString()> chooseReceiptPath;

    // The cash desk's day (deskcommands.cpp): shifts, numbered receipts,
    // abonements.
    ShiftBook &shifts() { return m_shifts; }
    QString desk() const { return m_desk; }
    // Where a shift's closing report is saved as PDF, beside the journal.
    QString shiftPdfPath(int shift) const;
    // "Смена → Открыть смену…", "Закрыть смену…", "Отчеты смен…",
    // "Продать абонемент…".
    void ShiftOpenClick();
    void ShiftCloseClick();
    void ShiftReportsClick();
    void AbonementSellClick();
    // Prints a finished session's receipt again (a copy when it has a
    // number already); from "За сегодня".
    void reprintReceipt(const LogRecord &record);
    // The receipt of a finished session with its number (taken now unless
    // it has one), the desk and the operator.
    Receipt numberedReceipt(const FinishedSession &f);
    // Where "Отчеты смен → Сохранить в PDF" saves; unset, the file dialog asks.
    std::function<QString()> chooseShiftPdfPath;
    // Where the cash desk's slips go (a reprinted receipt, a reversal slip,
    // a shift's report, an abonement's receipt); unset, to the receipt
    // printer through the print helper.
    std::function<void(const Receipt &)> slipPrinter;

    // Handlers.
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    // "Пауза" (F6): pauses the current session or resumes it.
    void SpeedButton4Click();
    void N3Click();
    void N5Click();
    // "Отчеты → За сегодня" (Ctrl+T): today's report at once.
    void N8Click();
    // "Отменить стоп" (Ctrl+Z): the latest Stop still within its minutes.
    void N10Click();
    // "Чек": the receipt of the last finished session on the default printer.
    void N11Click();
    // "Сохранить чек в PDF": the same receipt as a file.
    void N12Click();
    void Timer1Timer();
    void Timer2Timer();
    void RxTrayIcon1DblClick();
    // A single click on the tray icon (the only click some notification
    // areas report): shows and raises the window.
    void RxTrayIcon1Click();
    void N1Click();
    void N6Click();
    void Image1Click();
    void FormCreate();
    void FormCloseQuery(bool &canClose);
    void FormClose();
    void FormResize();

signals:
    // The close was allowed: the application ends (the entry quits on it).
    void closed();
    // Sessions came into their last minutes: the sound and the tray message
    // went out for them.
    void sessionsReminded(const QStringList &clients);
    // A time-is-up notice was shown and announced (beep, tray message).
    void noticeAnnounced(const QString &client);

protected:
    // Whether a hidden window can be reached again through a tray icon.
    virtual bool trayAvailable() const;
    // The quit question; true for Yes.
    virtual bool confirmQuit();

    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildGrid(QWidget *client);
    void buildButtons(QWidget *client);
    void buildPanel(QWidget *client);
    void buildMenus();
    void buildTray();
    // Loads the price list from the settings file into TPrices.
    void loadPriceList();
    // Marks the sessions in their last minutes and announces new ones; after
    // every tick and command.
    void updateReminders();
    void updateReminders(const QList<TimeLeft> &left);
    // The status bar's text, set only when it changed (a repaint).
    void showTakings(const RunningFigures &running);
    // Shows a time-is-up notice and announces it.
    void announceNotice(const Notice &n);
    // Brings back the sessions of the last run (before the first tick).
    void restoreSessions();
    // Today's figures from the journal, and the status bar's text.
    void loadTakings();
    void refreshTakings();
    // The session menu's items and the pause button's caption as the
    // sessions are now.
    void updateSessionActions();
    void sessionFinished(const FinishedSession &f);
    Receipt lastReceipt();
    void printReceiptLater(const Receipt &receipt);
    // The same for a slip printed on the way of another command: a job
    // that cannot start shows as a notice and the command goes on.
    void printSlipLater(const Receipt &receipt);
    void startLedger();
    // The cash desk: the shift file, operators, abonements and the desk's
    // name, read at start; the Shift menu; the status bar's shift.
    void loadDesk();
    void buildDeskMenu();
    void updateShiftLabel();
    // A line was appended to the shift file: the ledger ships it.
    void shiftLineWritten();
    ReceiptHeading headingFor(const LogRecord &record, bool reversal);
    void printReversalSlip(const FinishedSession &stopped);
    void printSlip(const Receipt &slip);

    QString m_dir;
    QString m_journalPath;
    QString m_settingsPath;
    bool m_closeWithoutQuestion = false;
    std::unique_ptr<DeskLedger> m_ledger;

    SessionBoard *m_board;
    std::unique_ptr<SessionReminder> m_reminder;
    MemTable *TPrices;
    TZePeriod *ZePeriod1;
    // The settings file, from FormCreate until the window closes.
    std::unique_ptr<ProfileFile> SettingsIni;
    // The report window: one, kept hidden between reports. It is made when
    // first needed, which keeps the start quick and small.
    TForm5 *Form5 = nullptr;
    MemTableModel *m_model = nullptr;
    DayTakings m_takings;
    ShiftOptions m_options;
    ShiftBook m_shifts;
    QString m_desk;
    QStringList m_operators;
    QList<AbonementKind> m_abonements;
    QLabel *ShiftLabel = nullptr;
    QAction *ShiftOpen = nullptr;
    QAction *ShiftClose = nullptr;
    QAction *ShiftReports = nullptr;
    QAction *AbonementSell = nullptr;

    QWidget *m_client = nullptr;
    QTableView *RxDBGrid1 = nullptr;
    QToolButton *SpeedButton1 = nullptr;
    QToolButton *SpeedButton2 = nullptr;
    QToolButton *SpeedButton3 = nullptr;
    QToolButton *SpeedButton4 = nullptr;
    QFrame *Panel1 = nullptr;
    QLabel *LabelV = nullptr;
    QLabel *Image1 = nullptr;
    QAction *N3 = nullptr;
    QAction *N5 = nullptr;
    QAction *N8 = nullptr;
    QAction *N9 = nullptr;
    QAction *N10 = nullptr;
    QAction *N11 = nullptr;
    QAction *N12 = nullptr;
    QLabel *TakingsLabel = nullptr;
    int m_takingsMargin = 0; // the label's width beyond its text's advance
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;
    QSystemTrayIcon *RxTrayIcon1 = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QAction *N1 = nullptr;
    QAction *N6 = nullptr;
    // Since a tray click showed the window: the double click it was part of
    // must not hide it again.
    QElapsedTimer m_shownByClick;
};

} // namespace bilmeko
