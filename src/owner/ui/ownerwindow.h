#pragma once
// The owner's board (bilmeko --owner): a row per desk with its light and a
// totals row, every running session of every desk in one grid that ticks
// like a desk's, "Период…" for a summary per desk, a double click on a desk
// for its records in the report window. Alerts go to the tray as messages
// (never activating a window) and are marked on their row. Everything it
// shows comes from the ledger through OwnerFeed; nothing here waits on the
// server.

#include "ledger/core/ownerqueries.h"

#include <QDialog>
#include <QMainWindow>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QSystemTrayIcon;
class QTableView;
class QTableWidget;
class QTimer;

namespace bilmeko {

class DeskModel;
class SessionModel;
class TForm5;

// The summary of a period per desk: the grid, "График", "Сохранить…" (CSV
// or PDF, by the name's suffix). A double click on a desk asks for its
// records of the period.
class TOwnerPeriod : public QDialog
{
    Q_OBJECT
public:
    explicit TOwnerPeriod(QWidget *parent = nullptr);

    void setSummary(const DeskSummary &summary);
    const DeskSummary *summary() const { return m_summary.get(); }
    // Written whole or not at all; throws Error naming the file.
    void saveTo(const QString &path) const;
    void SaveClick();
    // Asks where to save; a file dialog unless replaced (tests).
    std::function<QString()> chooseSavePath;

    QTableWidget *SummaryGrid;
    QPushButton *BtnChart;
    QPushButton *BtnSave;

signals:
    void chartWanted(const QDate &from, const QDate &to);
    void deskChosen(const QString &desk, const QDate &from, const QDate &to);

private:
    QString askSavePath() const;
    std::unique_ptr<DeskSummary> m_summary;
};

class TOwnerBoard : public QMainWindow
{
    Q_OBJECT
public:
    // The settings file of the board's folder.
    static QString settingsPath(const QString &folder);
    // Reads the folder's settings file (a fresh one gets the keys to fill
    // in) and starts the feed.
    explicit TOwnerBoard(const QString &folder, QWidget *parent = nullptr);
    TOwnerBoard(const OwnerSettings &settings, const QString &settingsFile, QWidget *parent = nullptr);
    ~TOwnerBoard() override;

    void bringToFront();
    OwnerBoard &board() { return m_board; }
    OwnerFeed *feed() const { return m_feed.get(); }
    TOwnerPeriod *periodWindow() const { return m_period; }
    TForm5 *reportWindow() const { return m_report; }

    // "Период…": asks for the period, then for its summary.
    void BtnPeriodClick();
    // A desk's records of a period in the report window (when they come).
    void showDeskReport(const QString &desk, const QDate &from, const QDate &to);
    // The period dialog unless replaced (tests): false when cancelled.
    std::function<bool(QDate &from, QDate &to)> choosePeriod;

    QTableView *DeskGrid;
    QTableView *SessionGrid;
    QPushButton *BtnPeriod;
    QLabel *FeedState;
    QLabel *LastAlert;
    QTimer *TickTimer;
    QTimer *LightTimer;
    QSystemTrayIcon *Tray = nullptr;

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    void build();
    void tick();
    void takeReading(const LiveReading &r);
    void showConnection(bool connected, const QString &reason);
    void showDeskRecords(const QString &desk, const QDate &from, const QDate &to, const QByteArray &stored);
    void showChart(const RevenueChart &chart);
    bool askPeriod(QDate &from, QDate &to);

    OwnerSettings m_settings;
    QString m_settingsFile;
    OwnerBoard m_board;
    std::unique_ptr<OwnerFeed> m_feed;
    DeskModel *m_desks = nullptr;
    SessionModel *m_sessions = nullptr;
    TOwnerPeriod *m_period = nullptr;
    TForm5 *m_report = nullptr;
    QDate m_lastFrom;
    QDate m_lastTo;
};

} // namespace bilmeko
