#include "form1.h"

#include "app/core/livestate.h"
#include "app/core/receipt.h"
#include "app/core/reminder.h"
#include "app/core/sessionboard.h"
#include "common/core/atomicfile.h"
#include "common/core/clock.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "common/core/heap.h"
#include "common/core/printjob.h"
#include "common/ui/memtablemodel.h"
#include "formbox.h"
#include "glyphs.h"
#include "journal/ui/form5.h"
#include "ledger/ui/deskledger.h"
#include "period/ui/zeperiod.h"
#include "prices/core/pricelist.h"
#include "prices/core/pricetable.h"
#include "prices/core/profilefile.h"
#include "prices/ui/fprices.h"
#include "receiptprint.h"
#include "sessioncommands.h"
#include "sessiongrid.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFontInfo>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>
#include <QWindow>
#include <optional>

namespace bilmeko {

namespace {

constexpr int FormWidth = 728;
constexpr int FormHeight = 410;
constexpr int FormMinHeight = 236;
constexpr int GridWidth = 581;

QString timeCell(const QVariant &v)
{
    return Formats::current().timeText(v.toDouble());
}

QString moneyCell(const QVariant &v)
{
    return Formats::current().currency(v.toDouble());
}

QLabel *panelLine(QWidget *panel, const char *name, const QString &text, int y)
{
    auto *l = new QLabel(text, panel);
    l->setObjectName(QLatin1String(name));
    l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    l->setGeometry(4, y, 125, 16);
    return l;
}

} // namespace

TForm1::TForm1(const QString &dir, QWidget *parent)
    : QMainWindow(parent,
                  Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                      | Qt::WindowCloseButtonHint),
      m_dir(dir.isEmpty() ? QCoreApplication::applicationDirPath() + QLatin1Char('/') : dir),
      m_board(new SessionBoard(QString(), this)),
      m_reminder(std::make_unique<SessionReminder>()),
      TPrices(makePriceTable(this)),
      ZePeriod1(new TZePeriod(this))
{
    ZePeriod1->setObjectName(QStringLiteral("ZePeriod1"));
    setObjectName(QStringLiteral("Form1"));
    TPrices->setObjectName(QStringLiteral("TPrices"));
    // The layout is measured in pixels for a classic 8-pt UI font; the wider
    // free fonts match its metrics at 7.5 pt (a time of day then fits the
    // 49-pixel "Конец" column).
    QFont f = font();
    f.setPointSizeF(7.5);
    // Kerning and ligatures only in a script that needs them (none of the
    // window's): a Latin pair may sit a pixel wider, and each text is laid
    // out without the shaper, several million instructions before the
    // first frame.
    f.setStyleStrategy(QFont::PreferNoShaping);
    // Named by the family it stands for (the desktop's font may be a name
    // such as "Sans Serif"), so the window's every font, script and weight
    // is found at once instead of each searching the system's fonts anew.
    if (const QString family = QFontInfo(f).family(); !family.isEmpty())
        f.setFamilies({family});
    setFont(f);
    setWindowIcon(glyphs::appIcon());

    resize(FormWidth, FormHeight);
    setMinimumSize(FormWidth, FormMinHeight);
    setMaximumWidth(FormWidth);

    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("Form1Client"));
    setCentralWidget(m_client);
    m_client->installEventFilter(this);

    buildGrid(m_client);
    buildButtons(m_client);
    buildPanel(m_client);
    buildMenus();
    buildTray();
    TakingsLabel = new QLabel(this);
    TakingsLabel->setObjectName(QStringLiteral("TakingsLabel"));
    statusBar()->addWidget(TakingsLabel);
    buildDeskMenu();

    m_board->setNoticeHook([this](const Notice &n) { announceNotice(n); });
    TFormbox::installReachKey(this);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { guard([this] { Timer1Timer(); }); });
    Timer1->start();

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(20000);
    connect(Timer2, &QTimer::timeout, this, [this] { guard([this] { Timer2Timer(); }); });
    Timer2->start();

    guard([this] { FormCreate(); });
}

TForm1::~TForm1()
{
    // The notices outlive nothing: they go with the program.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows)
        if (qobject_cast<TFormbox *>(w))
            delete w;
}

void TForm1::buildGrid(QWidget *client)
{
    using namespace curlog;
    QList<ColumnDef> columns = {
        {FIO, QStringLiteral("Клиент"), 117, {}},
        {PItem, QStringLiteral("Услуга"), 58, {}},
        {Price, QStringLiteral("Цена (мин.)"), -1, moneyCell},
        {TBeg, QStringLiteral("Начало"), 52, timeCell},
        {TEnd, QStringLiteral("Конец"), 49, timeCell},
        {TLeft, QStringLiteral("Осталось"), 55, timeCell},
        {Summ, QStringLiteral("Сумма"), 72, moneyCell},
        {Describe, QStringLiteral("Описание"), 72, {}},
    };
    m_model = new MemTableModel(&m_board->curLog(), columns, this);

    RxDBGrid1 = new GridView(client);
    RxDBGrid1->setObjectName(QStringLiteral("RxDBGrid1"));
    RxDBGrid1->setHorizontalHeader(new TitleHeader(RxDBGrid1));
    RxDBGrid1->setVerticalHeader(new RowIndicator(RxDBGrid1));
    // The style before the model: a new style has the headers measure
    // their titles anew.
    auto *gridStyle = new GridStyle;
    gridStyle->setParent(RxDBGrid1);
    RxDBGrid1->setStyle(gridStyle);
    RxDBGrid1->setModel(m_model);
    RxDBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    RxDBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    RxDBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    RxDBGrid1->setShowGrid(true);
    RxDBGrid1->setCornerButtonEnabled(false);
    RxDBGrid1->setSortingEnabled(false);
    RxDBGrid1->setWordWrap(false);
    auto *delegate = new GridDelegate(
        {2, 6}, [this](int row) { return m_reminder->isMarked(m_board->curLog().rowId(row)); },
        [this](int row) { return m_board->isPaused(m_board->curLog().rowId(row)); }, RxDBGrid1);
    RxDBGrid1->setItemDelegate(delegate);
    m_model->setShownText([delegate = QPointer<GridDelegate>(delegate)](const QModelIndex &index, const QString &text) {
        return delegate ? delegate->cellText(index, text) : text;
    });

    QHeaderView *h = RxDBGrid1->horizontalHeader();
    h->setSectionsClickable(false); // titles look like buttons but do nothing
    h->setSectionsMovable(false);
    h->setHighlightSections(false);
    h->setSectionResizeMode(QHeaderView::Interactive);
    h->setStretchLastSection(false);
    // A currency column's default: ten characters.
    h->setDefaultSectionSize(64);
    h->setMinimumSectionSize(8);
    m_model->applyWidths(RxDBGrid1);
    // The widths suit a classic UI font; where the font at hand draws a time
    // wider, the time columns grow into the grid's free room on the right
    // rather than cut the time short.
    const int timeWidth = timeCellWidth(RxDBGrid1->font());
    for (int c = 0; c < columns.size(); ++c)
        if ((columns[c].field == TBeg || columns[c].field == TEnd || columns[c].field == TLeft)
            && RxDBGrid1->columnWidth(c) < timeWidth)
            RxDBGrid1->setColumnWidth(c, timeWidth);

    const int rowHeight = RxDBGrid1->fontMetrics().height() + 4;
    RxDBGrid1->verticalHeader()->setMinimumSectionSize(rowHeight);
    RxDBGrid1->verticalHeader()->setDefaultSectionSize(rowHeight);

    QPalette pal = RxDBGrid1->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    RxDBGrid1->setPalette(pal);

    followCursor(RxDBGrid1, &m_board->curLog());
    // Rows come and go by commands, ticks and the start's restore alike.
    for (auto rowsMoved : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_model, rowsMoved, this, [this] {
            if (SpeedButton4)
                updateSessionActions();
        });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        if (SpeedButton4)
            updateSessionActions();
    });
    connect(RxDBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, RxDBGrid1, [this] {
        RxDBGrid1->verticalHeader()->viewport()->update();
        if (SpeedButton4)
            updateSessionActions();
    });
    RxDBGrid1->setGeometry(0, -1, GridWidth, 361);
}

int TForm1::timeCellWidth(const QFont &gridFont)
{
    // The widest time of day, bold as in a marked row, with the cell's
    // margins and its grid line.
    QFont bold(gridFont);
    bold.setBold(true);
    return QFontMetrics(bold).horizontalAdvance(QStringLiteral("00:00:00")) + 5;
}

void TForm1::buildButtons(QWidget *client)
{
    struct ButtonDef
    {
        QToolButton **button;
        const char *name;
        QString caption;
        QIcon icon;
        QRect geometry;
        void (TForm1::*handler)();
        QKeySequence key;
        QString tip;
    };
    const ButtonDef buttons[] = {
        {&SpeedButton1, "SpeedButton1", QStringLiteral("Новый"), glyphs::newSession(), QRect(584, 0, 133, 29),
         &TForm1::SpeedButton1Click, QKeySequence(Qt::Key_Insert), QStringLiteral("Новый сеанс")},
        {&SpeedButton2, "SpeedButton2", QStringLiteral("Продлить"), glyphs::extendSession(), QRect(584, 32, 133, 29),
         &TForm1::SpeedButton2Click, QKeySequence(Qt::Key_F2), QStringLiteral("Добавить время выбранному сеансу")},
        {&SpeedButton3, "SpeedButton3", QStringLiteral("Стоп"), glyphs::stopSession(), QRect(584, 64, 132, 29),
         &TForm1::SpeedButton3Click, QKeySequence(Qt::Key_F8), QStringLiteral("Остановить выбранный сеанс")},
        {&SpeedButton4, "SpeedButton4", QStringLiteral("Пауза"), glyphs::pauseSession(), QRect(584, 96, 133, 29),
         &TForm1::SpeedButton4Click, QKeySequence(Qt::Key_F6),
         QStringLiteral("Приостановить выбранный сеанс или продолжить его")},
    };
    QFont bold = font();
    bold.setPointSize(12);
    bold.setBold(true);
    for (const ButtonDef &s : buttons) {
        auto *b = new QToolButton(client);
        b->setObjectName(QLatin1String(s.name));
        b->setText(s.caption);
        b->setIcon(s.icon);
        b->setIconSize(QSize(16, 16));
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setAutoRaise(true);
        b->setFont(bold);
        // Reached with Tab (Space presses it) and by its key, anywhere in the
        // window; a click leaves the focus where it was.
        b->setFocusPolicy(Qt::TabFocus);
        b->setGeometry(s.geometry);
        b->setToolTip(QStringLiteral("%1 (%2)").arg(s.tip, s.key.toString(QKeySequence::NativeText)));
        const auto handler = s.handler;
        connect(b, &QToolButton::clicked, this, [this, handler] { guard([this, handler] { (this->*handler)(); }); });
        auto *key = new QShortcut(s.key, this);
        key->setObjectName(QLatin1String(s.name) + QLatin1String("Key"));
        connect(key, &QShortcut::activated, b, &QToolButton::click);
        *s.button = b;
    }
}

void TForm1::buildPanel(QWidget *client)
{
    Panel1 = new QFrame(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    Panel1->setGeometry(584, 128, 133, 87);

    panelLine(Panel1, "StaticText1", QStringLiteral("Поминутный учёт"), 5);
    panelLine(Panel1, "StaticText2", QStringLiteral("услуг салона"), 20);

    LabelV = new QLabel(QStringLiteral("LabelV"), Panel1);
    LabelV->setObjectName(QStringLiteral("LabelV"));
    LabelV->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QFont bold = LabelV->font();
    bold.setBold(true);
    LabelV->setFont(bold);
    QPalette pal = LabelV->palette();
    pal.setColor(QPalette::WindowText, Qt::blue);
    LabelV->setPalette(pal);
    LabelV->setGeometry(4, 40, 121, 16);
    // Where the journal and the price list are, for whoever looks for them.
    LabelV->setToolTip(QStringLiteral("Папка данных: %1").arg(QDir::toNativeSeparators(m_dir)));

    panelLine(Panel1, "StaticText3", QStringLiteral("© Bilmeko, 2026"), 64);

    Image1 = new QLabel(client);
    Image1->setObjectName(QStringLiteral("Image1"));
    const QPixmap logo = glyphs::logo();
    Image1->setPixmap(logo);
    Image1->setGeometry(QRect(QPoint(593, 216), logo.deviceIndependentSize().toSize()));
    Image1->setCursor(Qt::PointingHandCursor);
    Image1->setToolTip(makerSite());
    Image1->installEventFilter(this);
}

void TForm1::buildMenus()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    QMenu *n2 = bar->addMenu(QStringLiteral("&Параметры"));
    n2->setObjectName(QStringLiteral("N2"));
    N3 = n2->addAction(QStringLiteral("&Цены"));
    N3->setObjectName(QStringLiteral("N3"));
    connect(N3, &QAction::triggered, this, [this] { guard([this] { N3Click(); }); });
    QMenu *n4 = bar->addMenu(QStringLiteral("&Отчеты"));
    n4->setObjectName(QStringLiteral("N4"));
    N5 = n4->addAction(QStringLiteral("Отчет за &период"));
    N5->setObjectName(QStringLiteral("N5"));
    connect(N5, &QAction::triggered, this, [this] { guard([this] { N5Click(); }); });
    N8 = n4->addAction(QStringLiteral("За &сегодня"));
    N8->setObjectName(QStringLiteral("N8"));
    N8->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(N8, &QAction::triggered, this, [this] { guard([this] { N8Click(); }); });

    QMenu *n7 = bar->addMenu(QStringLiteral("&Сеанс"));
    n7->setObjectName(QStringLiteral("N7"));
    // F6 belongs to the button's own shortcut; the menu only names it.
    N9 = n7->addAction(QStringLiteral("&Пауза\tF6"));
    N9->setObjectName(QStringLiteral("N9"));
    connect(N9, &QAction::triggered, SpeedButton4, &QToolButton::click);
    N10 = n7->addAction(QStringLiteral("&Отменить стоп"));
    N10->setObjectName(QStringLiteral("N10"));
    N10->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    N10->setEnabled(false);
    connect(N10, &QAction::triggered, this, [this] { guard([this] { N10Click(); }); });
    n7->addSeparator();
    N11 = n7->addAction(QStringLiteral("&Чек"));
    N11->setObjectName(QStringLiteral("N11"));
    N11->setEnabled(false);
    connect(N11, &QAction::triggered, this, [this] { guard([this] { N11Click(); }); });
    N12 = n7->addAction(QStringLiteral("Сохранить чек в PDF…"));
    N12->setObjectName(QStringLiteral("N12"));
    N12->setEnabled(false);
    connect(N12, &QAction::triggered, this, [this] { guard([this] { N12Click(); }); });
}

void TForm1::buildTray()
{
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N6 = PopupMenu1->addAction(QStringLiteral("&Открыть"));
    N6->setObjectName(QStringLiteral("N6"));
    connect(N6, &QAction::triggered, this, [this] { guard([this] { N6Click(); }); });
    N1 = PopupMenu1->addAction(QStringLiteral("&Закрыть"));
    N1->setObjectName(QStringLiteral("N1"));
    connect(N1, &QAction::triggered, this, [this] { guard([this] { N1Click(); }); });

    RxTrayIcon1 = new QSystemTrayIcon(glyphs::appIcon(), this);
    RxTrayIcon1->setObjectName(QStringLiteral("RxTrayIcon1"));
    RxTrayIcon1->setContextMenu(PopupMenu1);
    connect(RxTrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            guard([this] { RxTrayIcon1Click(); });
        } else if (reason == QSystemTrayIcon::DoubleClick) {
            // Where a double click also reports its first click, that
            // click has shown the window already.
            if (m_shownByClick.isValid() && m_shownByClick.elapsed() <= QApplication::doubleClickInterval() + 100) {
                m_shownByClick.invalidate();
                return;
            }
            guard([this] { RxTrayIcon1DblClick(); });
        }
    });
    if (QSystemTrayIcon::isSystemTrayAvailable())
        RxTrayIcon1->show();
}

void TForm1::showCentred()
{
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    // An empty caption would show the application's name in its place
    // until the clock writes it: a blank keeps the title bar empty.
    winId();
    if (windowTitle().isEmpty())
        windowHandle()->setTitle(QStringLiteral(" "));
    show();
}

QString TForm1::makerSite()
{
    return QStringLiteral("https://www.bilmeko.example/");
}

void TForm1::N8Click()
{
    // Any of today's sessions can have its receipt again from its line.
    reportWindow()->reprintHook = [this](const LogRecord &r) { reprintReceipt(r); };
    const double today = dateValue(Clock::current().today());
    showPeriodReport(reportWindow(), m_journalPath, today, today);
}

void TForm1::refreshTakings()
{
    showTakings(runningFigures(*m_board));
}

void TForm1::showTakings(const RunningFigures &running)
{
    const QString text = takingsText(m_takings, running);
    if (text == TakingsLabel->text())
        return;
    // The label keeps a fixed size, so a new amount at every tick asks no new
    // layout of the status bar. It widens only when a text needs more room,
    // which the text's advance tells (asking the label its size would lay
    // the text out as a document).
    TakingsLabel->setText(text);
    const QFontMetrics metrics = TakingsLabel->fontMetrics();
    const int advance = metrics.horizontalAdvance(text);
    if (advance + m_takingsMargin > TakingsLabel->minimumWidth() || TakingsLabel->minimumHeight() == 0) {
        const QSize needed = TakingsLabel->sizeHint();
        m_takingsMargin = std::max(0, needed.width() - advance);
        TakingsLabel->setFixedSize(needed.width() + 4 * metrics.averageCharWidth(), needed.height());
    }
}

void TForm1::loadTakings()
{
    try {
        m_takings.load(m_journalPath, Clock::current().today());
    } catch (const Error &e) {
        showErrorBox(QStringLiteral("Сегодняшние итоги не прочитаны из журнала \"%1\": %2")
                         .arg(QDir::toNativeSeparators(m_journalPath), e.message()));
    }
    refreshTakings();
}

void TForm1::N3Click()
{
    if (!SettingsIni)
        return;
    auto *editor = new TFPrices(*TPrices, *SettingsIni, this);
    editor->exec();
}

void TForm1::N5Click()
{
    if (!ZePeriod1->Execute())
        return;
    reportWindow()->reprintHook = nullptr;
    showPeriodReport(reportWindow(), m_journalPath, ZePeriod1->DateBeg(), ZePeriod1->DateEnd());
}

TForm5 *TForm1::reportWindow()
{
    if (!Form5) {
        Form5 = new TForm5(this);
        Form5->hide();
    }
    return Form5;
}

void TForm1::Timer1Timer()
{
    setWindowTitle(QStringLiteral("Текущее время: ") + Formats::current().timeText(Clock::current().timeOfDay()));
    // A new day starts its figures from the journal.
    if (SettingsIni && Clock::current().today() != m_takings.day())
        loadTakings();
    if (N10->isEnabled() != (m_board->undoableStop() != nullptr))
        updateSessionActions();
}

void TForm1::Timer2Timer()
{
    m_board->tick();
    // What the tick found serves the reminder and the status bar; after a
    // failed tick they look at the sessions themselves.
    if (const TickLook *look = m_board->lastTick()) {
        updateReminders(look->left);
        showTakings(RunningFigures{look->sessions, look->owed});
        return;
    }
    updateReminders();
    refreshTakings();
}

void TForm1::updateReminders()
{
    updateReminders(timeLeftOf(*m_board));
}

void TForm1::updateReminders(const QList<TimeLeft> &left)
{
    // Shared, not copied: the reminder replaces its set when marks change.
    const QSet<MemTable::RowId> wasMarked = m_reminder->marked();
    const QList<MemTable::RowId> fresh = m_reminder->update(left);
    // The rows whose mark came or went are redrawn whole (their colour);
    // the tick itself redraws only the cells it changed.
    const QSet<MemTable::RowId> &marked = m_reminder->marked();
    if (wasMarked != marked) {
        const MemTable &log = m_board->curLog();
        QWidget *cells = RxDBGrid1->viewport();
        for (const QSet<MemTable::RowId> *set : {&wasMarked, &marked})
            for (MemTable::RowId id : *set) {
                const int row = log.rowOf(id);
                if (row >= 0 && (set == &wasMarked ? !marked.contains(id) : !wasMarked.contains(id)))
                    cells->update(0, RxDBGrid1->rowViewportPosition(row), cells->width(), RxDBGrid1->rowHeight(row));
            }
    }
    if (fresh.isEmpty())
        return;
    QStringList clients;
    for (MemTable::RowId id : fresh) {
        if (const Session *s = m_board->session(id))
            clients << QStringLiteral("«%1» (%2)").arg(s->client, s->service);
    }
    QApplication::beep();
    RxTrayIcon1->showMessage(QStringLiteral("Скоро конец сеанса"),
                             QStringLiteral("Меньше чем через %1 мин. заканчивается время: %2")
                                 .arg(m_reminder->minutes())
                                 .arg(clients.join(QStringLiteral(", "))),
                             QSystemTrayIcon::Information, 15000);
    emit sessionsReminded(clients);
}

void TForm1::announceNotice(const Notice &n)
{
    TFormbox::showNotice(n);
    // The notice takes no focus, so it is announced: a beep, and with the
    // window hidden a message from the tray.
    QApplication::beep();
    if (!isVisible() && RxTrayIcon1->isVisible())
        RxTrayIcon1->showMessage(QStringLiteral("Время закончилось"), QStringLiteral("%1\n%2").arg(n.customer, n.stat),
                                 QSystemTrayIcon::Information, 15000);
    emit noticeAnnounced(n.customer);
}

void TForm1::bringToFront()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TForm1::RxTrayIcon1DblClick()
{
    if (isVisible())
        hide();
    else
        bringToFront();
}

void TForm1::RxTrayIcon1Click()
{
    if (!isVisible())
        m_shownByClick.start();
    bringToFront();
}

void TForm1::N6Click()
{
    bringToFront();
}

void TForm1::N1Click()
{
    close();
}

void TForm1::Image1Click()
{
    QDesktopServices::openUrl(QUrl(makerSite()));
}

void TForm1::FormCreate()
{
    m_journalPath = m_dir + QStringLiteral("Bilmeko.log");
    m_board->setJournalPath(m_journalPath);
    m_board->setStatePath(m_dir + QStringLiteral("Bilmeko.sessions"));
    m_settingsPath = m_dir + QStringLiteral("Bilmeko.ini");
    // Left by a save of the price list that was cut short.
    removeStaleTemporaries(m_settingsPath);
    SettingsIni = std::make_unique<ProfileFile>(m_settingsPath);
    // Its sections are read here once, from one reading of the file.
    SettingsIni->holdText();
    // Before anything that may stop to ask the operator.
    startLedger();
    restoreSessions();
    loadPriceList();
    const ReminderOption reminder = readReminderOption(*SettingsIni);
    m_reminder = std::make_unique<SessionReminder>(reminder.minutes);
    if (!reminder.message.isEmpty())
        showErrorBox(reminder.message);
    m_options = readShiftOptions(*SettingsIni);
    loadDesk();
    SettingsIni->releaseText();
    // Reading a long price list leaves its passing pieces free in the heap;
    // give those pages back rather than keep them for the whole run.
    releaseFreeMemory();
    for (const QString &m : m_options.messages)
        showErrorBox(m);
    m_board->setUndoWindowMs(static_cast<std::int64_t>(m_options.undoStopMinutes) * MsPerMinute);
    // After the restore, whose records the journal already holds.
    loadTakings();
    // The receipt of the session that ended last can be had after a restart.
    if (const std::optional<FinishedSession> &last = m_takings.lastFinished())
        m_board->recallFinished(*last);
    updateSessionActions();
    connect(m_board, &SessionBoard::recordAppended, this, [this](const LogRecord &r) {
        m_takings.add(r);
        refreshTakings();
    });
    connect(m_board, &SessionBoard::sessionFinished, this, &TForm1::sessionFinished);
    LabelV->setText(QStringLiteral("Bilmeko: %1.%2").arg(BILMEKO_VERSION_MAJOR).arg(BILMEKO_VERSION_MINOR));
}

void TForm1::loadPriceList()
{
    // A settings file that is there but cannot be read (no rights, a folder,
    // a device) would look like an empty price list; say why instead.
    const ProfileFile::ReadStatus status = SettingsIni->readStatus();
    if (status == ProfileFile::ReadStatus::Failed)
        showErrorBox(QStringLiteral("Cannot open file \"%1\"").arg(m_settingsPath));
    // Far too large for a price list: the start goes on with none, and the
    // file stays as it is (a save of the prices is refused, with the same
    // words).
    if (status == ProfileFile::ReadStatus::TooLarge)
        showErrorBox(ProfileFile::tooLargeMessage(m_settingsPath));
    // The entries pass through lines headed by the carrier's title.
    QStringList carrier{CarrierTitle};
    const QStringList messages = bilmeko::loadPriceList(*SettingsIni, carrier, *TPrices);
    // A bad entry is reported and left out; start-up goes on.
    for (const QString &m : messages)
        showErrorBox(m);
}

// The journal also goes to the ledger when [Ledger] names one: shipped by
// a thread of its own, so the desk never waits for the network. The shipper
// and libpq come with a module loaded only then; a module that cannot be
// loaded is reported and the desk works on without the ledger.
void TForm1::startLedger()
{
    guard([&] { m_ledger = startDeskLedger(*SettingsIni, m_journalPath, statusBar(), this); });
    if (!m_ledger)
        return;
    connect(m_board, &SessionBoard::recordAppended, this, [this] { m_ledger->journalGrew(); });
    // The running sessions to the owner's board, at every change and at
    // start (rows a desk left in the ledger that no longer run go even when
    // nothing runs now). The shipper sends only the latest.
    const auto publish = [this] { m_ledger->publishLive(liveSessions(*m_board, Clock::current().monotonicMs())); };
    connect(m_board, &SessionBoard::sessionsChanged, this, publish);
    publish();
}

void TForm1::restoreSessions()
{
    const RestoreReport report = m_board->restoreSessions();
    for (const QString &m : report.problems)
        showErrorBox(m);
    const QString ended = endedAwayText(report.endedAway);
    if (ended.isEmpty())
        return;
    // One notice for all of them; like the time-is-up notices it does not
    // wait for the operator.
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("Время закончилось"), ended, QMessageBox::Ok);
    box->setObjectName(QStringLiteral("EndedAway"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    // Shown before the main window, which would otherwise cover it.
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    box->show();
    box->raise();
    box->activateWindow();
}

bool TForm1::trayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TForm1::confirmQuit()
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), quitQuestion(),
                    QMessageBox::Yes | QMessageBox::No);
    box.setObjectName(QStringLiteral("ConfirmQuit"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString TForm1::quitQuestion() const
{
    QString text = QStringLiteral("Вы уверены что хотите выгрузить BILMEKO?");
    const int running = m_board->runningCount();
    if (running > 0)
        text += QStringLiteral("\n\nИдущих сеансов: %1. Их время продолжит идти, "
                               "и они вернутся в таблицу при следующем запуске.")
                    .arg(running);
    return text;
}

void TForm1::FormCloseQuery(bool &canClose)
{
    if (m_closeWithoutQuestion) {
        canClose = true;
        return;
    }
    // Without a tray icon a hidden window could never be reached again, so
    // then the question comes at once.
    if (isVisible() && trayAvailable()) {
        canClose = false;
        hide();
        return;
    }
    canClose = confirmQuit();
}

void TForm1::FormClose()
{
    SettingsIni.reset();
    RxTrayIcon1->hide();
    emit closed();
}

void TForm1::FormResize()
{
    RxDBGrid1->setGeometry(0, -1, GridWidth, m_client->height());
}

void TForm1::closeEvent(QCloseEvent *event)
{
    bool canClose = false;
    guard([&] { FormCloseQuery(canClose); });
    if (!canClose) {
        event->ignore();
        return;
    }
    guard([this] { FormClose(); });
    event->accept();
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_client && event->type() == QEvent::Resize) {
        guard([this] { FormResize(); });
    } else if (watched == Image1 && event->type() == QEvent::MouseButtonRelease) {
        auto *me = static_cast<QMouseEvent *>(event);
        if (me->button() == Qt::LeftButton && Image1->rect().contains(me->position().toPoint()))
            guard([this] { Image1Click(); });
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace bilmeko
