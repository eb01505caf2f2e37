#include "ownerwindow.h"

#include "ownermodels.h"

#include "common/core/atomicfile.h"
#include "common/core/clock.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "journal/core/periodreport.h"
#include "journal/core/reporttext.h"
#include "journal/core/textlines.h"
#include "journal/ui/chartmodule.h"
#include "journal/ui/form5.h"
#include "journal/ui/reportlayout.h"
#include "period/ui/zeperiod.h"
#include "prices/core/profilefile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace bilmeko {

namespace {

// The grid of running sessions is recomputed as often as a desk's.
constexpr int TickMs = 20'000;

QString windowCaption()
{
    return QStringLiteral("Bilmeko — сеть салонов");
}

QTableView *grid(const QString &name, QWidget *parent)
{
    auto *v = new QTableView(parent);
    v->setObjectName(name);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setSelectionMode(QAbstractItemView::SingleSelection);
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->verticalHeader()->hide();
    v->horizontalHeader()->setStretchLastSection(true);
    v->setWordWrap(false);
    return v;
}

// Every column at least as wide as its heading ("Выручка сегодня" whole);
// the rows never widen them (measuring 20,000 rows at each reading would
// cost more than the reading), the owner can.
void fitHeadings(QTableView *v)
{
    QHeaderView *h = v->horizontalHeader();
    for (int i = 0; i < h->count(); ++i)
        h->resizeSection(i, std::max(h->sectionSize(i), h->sectionSizeHint(i)));
}

} // namespace

// --- the period's summary -------------------------------------------------

TOwnerPeriod::TOwnerPeriod(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("OwnerPeriod"));
    resize(760, 420);
    SummaryGrid = new QTableWidget(this);
    SummaryGrid->setObjectName(QStringLiteral("SummaryGrid"));
    SummaryGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SummaryGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    SummaryGrid->verticalHeader()->hide();
    BtnChart = new QPushButton(QStringLiteral("График"), this);
    BtnChart->setObjectName(QStringLiteral("BtnChart"));
    BtnChart->setAutoDefault(false);
    BtnSave = new QPushButton(QStringLiteral("Сохранить…"), this);
    BtnSave->setObjectName(QStringLiteral("BtnSave"));
    BtnSave->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(BtnChart);
    buttons->addWidget(BtnSave);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(SummaryGrid);
    layout->addLayout(buttons);

    connect(BtnSave, &QPushButton::clicked, this, [this] { SaveClick(); });
    connect(BtnChart, &QPushButton::clicked, this, [this] {
        if (m_summary)
            emit chartWanted(m_summary->from(), m_summary->to());
    });
    connect(SummaryGrid, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        if (m_summary && row < m_summary->rows().size())
            emit deskChosen(m_summary->rows()[row].figures.desk, m_summary->from(), m_summary->to());
    });
    chooseSavePath = [this] { return askSavePath(); };
}

void TOwnerPeriod::setSummary(const DeskSummary &summary)
{
    m_summary = std::make_unique<DeskSummary>(summary);
    setWindowTitle(summary.title());
    const QStringList lines = summary.lines();
    const QStringList titles = lines.first().split(QLatin1Char('\t'));
    SummaryGrid->clear();
    SummaryGrid->setColumnCount(int(titles.size()));
    SummaryGrid->setHorizontalHeaderLabels(titles);
    SummaryGrid->setRowCount(int(lines.size() - 1));
    for (int row = 1; row < lines.size(); ++row) {
        const QStringList cells = lines[row].split(QLatin1Char('\t'));
        const bool totals = row == lines.size() - 1;
        for (int col = 0; col < cells.size(); ++col) {
            auto *item = new QTableWidgetItem(cells[col]);
            if (col > 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (totals) {
                QFont f = item->font();
                f.setBold(true);
                item->setFont(f);
            }
            SummaryGrid->setItem(row - 1, col, item);
        }
    }
    SummaryGrid->resizeColumnsToContents();
}

QString TOwnerPeriod::askSavePath() const
{
    const QString csv = QStringLiteral("Таблица CSV (*.csv)");
    const QString pdf = QStringLiteral("Документ PDF (*.pdf)");
    const Formats &f = Formats::current();
    QString name
        = QStringLiteral("Сводка по стойкам %1-%2.csv").arg(f.dateText(m_summary->from()), f.dateText(m_summary->to()));
    name.replace(QLatin1Char('/'), QLatin1Char('.'));
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QString filter = csv;
    QString path = QFileDialog::getSaveFileName(const_cast<TOwnerPeriod *>(this), QStringLiteral("Сохранить сводку"),
                                                QDir(folder).filePath(name), csv + QStringLiteral(";;") + pdf, &filter);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += filter == pdf ? QStringLiteral(".pdf") : QStringLiteral(".csv");
    return path;
}

void TOwnerPeriod::saveTo(const QString &path) const
{
    if (!m_summary)
        return;
    try {
        AtomicFile file(path);
        QIODevice &device = file.open();
        if (QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0) {
            // The printer writes the temporary file anew, by its name.
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(file.tempPath());
            printer.setDocName(m_summary->title());
            printReportText(StringLines(m_summary->lines().join(QLatin1Char('\n'))),
                            QFontDatabase::systemFont(QFontDatabase::GeneralFont), printer, m_summary->title());
        } else {
            DeviceOutput out(device);
            if (!m_summary->write(out, true))
                throw Error(device.errorString());
        }
        file.commit();
    } catch (const Error &e) {
        throw Error(
            QStringLiteral("Сводка не сохранена в файл \"%1\": %2").arg(QDir::toNativeSeparators(path), e.message()));
    }
}

void TOwnerPeriod::SaveClick()
{
    const QString path = chooseSavePath ? chooseSavePath() : QString();
    if (!path.isEmpty())
        guard([&] { saveTo(path); });
}

// --- the board ------------------------------------------------------------

QString TOwnerBoard::settingsPath(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("Bilmeko.ini"));
}

namespace {

OwnerSettings settingsOf(const QString &path)
{
    const ProfileFile ini(path);
    if (!QFileInfo::exists(path)) {
        try {
            writeOwnerSettingsTemplate(ini);
        } catch (const Error &) {
            // The board says below what is missing; the file is not needed to run.
        }
    }
    return readOwnerSettings(ini);
}

} // namespace

TOwnerBoard::TOwnerBoard(const QString &folder, QWidget *parent)
    : TOwnerBoard(settingsOf(settingsPath(folder)), settingsPath(folder), parent)
{
}

TOwnerBoard::TOwnerBoard(const OwnerSettings &settings, const QString &settingsFile, QWidget *parent)
    : QMainWindow(parent), m_settings(settings), m_settingsFile(settingsFile), m_board(settings.options)
{
    build();
    choosePeriod = [this](QDate &from, QDate &to) { return askPeriod(from, to); };
    if (!m_settings.problems.isEmpty())
        LastAlert->setText(
            QStringLiteral("Файл «%1»: %2")
                .arg(QDir::toNativeSeparators(m_settingsFile), m_settings.problems.join(QStringLiteral("; "))));
    if (m_settings.connection.isEmpty()) {
        FeedState->setText(QStringLiteral("Общая книга не задана: впишите Connection= в раздел [Ledger] файла «%1»")
                               .arg(QDir::toNativeSeparators(m_settingsFile)));
        BtnPeriod->setEnabled(false);
        return;
    }
    m_feed = std::make_unique<OwnerFeed>(m_settings.connection);
    connect(m_feed.get(), &OwnerFeed::reading, this, &TOwnerBoard::takeReading);
    connect(m_feed.get(), &OwnerFeed::connectionChanged, this, &TOwnerBoard::showConnection);
    connect(m_feed.get(), &OwnerFeed::summaryReady, this, [this](const DeskSummary &s) {
        if (!m_period) {
            m_period = new TOwnerPeriod(this);
            connect(m_period, &TOwnerPeriod::chartWanted, m_feed.get(), &OwnerFeed::askChart);
            connect(m_period, &TOwnerPeriod::deskChosen, this, &TOwnerBoard::showDeskReport);
        }
        m_period->setSummary(s);
        m_period->show();
        m_period->raise();
    });
    connect(m_feed.get(), &OwnerFeed::deskRecordsReady, this, &TOwnerBoard::showDeskRecords);
    connect(m_feed.get(), &OwnerFeed::chartReady, this, &TOwnerBoard::showChart);
    connect(m_feed.get(), &OwnerFeed::requestFailed, this, [](const QString &m) { showErrorBox(m); });
    FeedState->setText(QStringLiteral("Общая книга: подключение…"));
    m_feed->start();
}

TOwnerBoard::~TOwnerBoard() = default;

void TOwnerBoard::build()
{
    setObjectName(QStringLiteral("OwnerBoard"));
    setWindowTitle(windowCaption());
    resize(980, 640);

    auto *central = new QWidget(this);
    BtnPeriod = new QPushButton(QStringLiteral("Период…"), central);
    BtnPeriod->setObjectName(QStringLiteral("BtnPeriod"));
    connect(BtnPeriod, &QPushButton::clicked, this, [this] { BtnPeriodClick(); });
    auto *top = new QHBoxLayout;
    top->addWidget(BtnPeriod);
    top->addStretch();

    DeskGrid = grid(QStringLiteral("DeskGrid"), central);
    m_desks = new DeskModel(m_board, this);
    DeskGrid->setModel(m_desks);
    fitHeadings(DeskGrid);
    SessionGrid = grid(QStringLiteral("SessionGrid"), central);
    m_sessions = new SessionModel(m_board, this);
    SessionGrid->setModel(m_sessions);
    fitHeadings(SessionGrid);
    connect(DeskGrid, &QTableView::doubleClicked, this, [this](const QModelIndex &i) {
        const QString desk = m_desks->deskAt(i.row());
        const QDate today = Clock::current().today();
        if (!desk.isEmpty())
            showDeskReport(desk, today, today);
    });

    auto *split = new QSplitter(Qt::Vertical, central);
    split->setObjectName(QStringLiteral("BoardSplit"));
    split->addWidget(DeskGrid);
    split->addWidget(SessionGrid);
    auto *layout = new QVBoxLayout(central);
    layout->addLayout(top);
    layout->addWidget(split);
    setCentralWidget(central);

    FeedState = new QLabel(this);
    FeedState->setObjectName(QStringLiteral("FeedState"));
    LastAlert = new QLabel(this);
    LastAlert->setObjectName(QStringLiteral("LastAlert"));
    statusBar()->addWidget(FeedState, 1);
    statusBar()->addPermanentWidget(LastAlert);

    TickTimer = new QTimer(this);
    TickTimer->setObjectName(QStringLiteral("TickTimer"));
    TickTimer->setInterval(TickMs);
    connect(TickTimer, &QTimer::timeout, this, &TOwnerBoard::tick);
    TickTimer->start();
    LightTimer = new QTimer(this);
    LightTimer->setObjectName(QStringLiteral("LightTimer"));
    LightTimer->setSingleShot(true);
    connect(LightTimer, &QTimer::timeout, this, &TOwnerBoard::tick);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        Tray = new QSystemTrayIcon(QApplication::windowIcon(), this);
        Tray->setObjectName(QStringLiteral("OwnerTray"));
        Tray->setToolTip(windowCaption());
        connect(Tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
            if (r == QSystemTrayIcon::Trigger)
                bringToFront();
        });
        Tray->show();
    }
}

void TOwnerBoard::takeReading(const LiveReading &r)
{
    m_board.apply(r);
    tick();
}

void TOwnerBoard::tick()
{
    const QList<OwnerAlert> alerts = m_board.tick();
    m_desks->refresh();
    m_sessions->refresh();
    for (const OwnerAlert &a : alerts) {
        LastAlert->setText(a.text);
        // A message only: it takes neither the keyboard nor a window up.
        if (Tray && QSystemTrayIcon::supportsMessages())
            Tray->showMessage(windowCaption(), a.text, QSystemTrayIcon::Warning);
    }
    const std::int64_t next = m_board.msToNextChange();
    if (next >= 0)
        LightTimer->start(int(std::min<std::int64_t>(next + 5, TickMs)));
    else
        LightTimer->stop();
}

void TOwnerBoard::showConnection(bool connected, const QString &reason)
{
    FeedState->setText(connected ? QStringLiteral("Общая книга: на связи")
                                 : QStringLiteral("Общая книга: нет связи (%1)").arg(reason));
}

bool TOwnerBoard::askPeriod(QDate &from, QDate &to)
{
    TZePeriod period(this);
    const QDate today = Clock::current().today();
    period.setDateBeg(dateValue(m_lastFrom.isValid() ? m_lastFrom : QDate(today.year(), today.month(), 1)));
    period.setDateEnd(dateValue(m_lastTo.isValid() ? m_lastTo : today));
    if (!period.Execute())
        return false;
    from = dateOf(period.DateBeg());
    to = dateOf(period.DateEnd());
    return true;
}

void TOwnerBoard::BtnPeriodClick()
{
    QDate from, to;
    if (!m_feed || !choosePeriod || !choosePeriod(from, to))
        return;
    m_lastFrom = from;
    m_lastTo = to;
    m_feed->askSummary(from, to);
}

void TOwnerBoard::showDeskReport(const QString &desk, const QDate &from, const QDate &to)
{
    if (m_feed)
        m_feed->askDeskRecords(desk, from, to);
}

void TOwnerBoard::showDeskRecords(const QString &desk, const QDate &from, const QDate &to, const QByteArray &stored)
{
    guard([&] {
        if (!m_report) {
            m_report = new TForm5(this);
            m_report->setModal(false);
        }
        m_report->releaseReport();
        const CharWidths widths = m_report->charWidths();
        // The desk's own journal bytes, judged as the desk's report judges them.
        const PeriodReport report = buildPeriodReport(stored, dateValue(from), dateValue(to), &widths);
        m_report->setReport(report);
        m_report->setWindowTitle(m_report->windowTitle() + QStringLiteral(" — стойка «%1»").arg(desk));
        m_report->fitWidthToColumns();
        m_report->show();
        m_report->raise();
        if (report.damaged())
            LastAlert->setText(QStringLiteral("Стойка «%1»: %2").arg(desk, report.damageMessage()));
    });
}

void TOwnerBoard::showChart(const RevenueChart &chart)
{
    guard([&] {
        static ShowRevenueChartFn show = nullptr;
        if (!show)
            show = reinterpret_cast<ShowRevenueChartFn>(loadChartModule(chartModulePlaces()));
        ChartHost host;
        host.formats = &Formats::current();
        host.showErrorBox = &showErrorBox;
        QWidget *parent = m_period ? static_cast<QWidget *>(m_period) : this;
        if (!show(&host, parent, &chart))
            throw Error(QStringLiteral("Модуль графика не подходит к этой версии программы"));
    });
}

void TOwnerBoard::bringToFront()
{
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void TOwnerBoard::closeEvent(QCloseEvent *e)
{
    e->accept();
    QCoreApplication::quit();
}

} // namespace bilmeko
