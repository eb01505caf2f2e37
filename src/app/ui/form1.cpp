#include "form1.h"

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
#include "prices/ui/fprices.h"
#include "prices/core/pricelist.h"
#include "prices/core/pricetable.h"
#include "prices/core/profilefile.h"
#include "app/core/reminder.h"
#include "app/core/receipt.h"
#include "app/core/sessionboard.h"
#include "receiptprint.h"
#include "sessioncommands.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QStatusBar>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QAccessible>
#include <QPainter>
#include <QProxyStyle>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>

namespace bilmeko {

namespace {

constexpr int FormWidth = 728;
constexpr int FormHeight = 410;
constexpr int FormMinHeight = 236;
constexpr int GridWidth = 581;

// The row-indicator column: a small arrow at the current row.
class RowIndicator : public QHeaderView
{
public:
    explicit RowIndicator(QTableView *view) : QHeaderView(Qt::Vertical, view), m_view(view)
    {
        setSectionsClickable(false);
        setHighlightSections(false);
        setSectionResizeMode(QHeaderView::Fixed);
        setFixedWidth(12);
    }

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        if (logicalIndex != m_view->currentIndex().row())
            return;
        painter->save();
        // The base painting may leave an empty clip behind.
        painter->setClipRect(rect);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(Qt::black);
        const QPointF c = QRectF(rect).center();
        painter->drawPolygon(QPolygonF({c + QPointF(-2.5, -4), c + QPointF(2.5, 0), c + QPointF(-2.5, 4)}));
        painter->restore();
    }

private:
    QTableView *m_view;
};

// Cells as the grid draws them: white on the grid's button-face background,
// a 2-pixel margin, money right-aligned. A text too long for its cell ends
// in an ellipsis and shows whole in a tooltip.
class GridDelegate : public QStyledItemDelegate
{
public:
    GridDelegate(QList<int> rightAligned, std::function<bool(int)> marked, std::function<bool(int)> paused,
                 QObject *parent)
        : QStyledItemDelegate(parent), m_right(std::move(rightAligned)), m_marked(std::move(marked)),
          m_paused(std::move(paused)) {}

    // The "Осталось" column, which reads "пауза" while a session is paused.
    static constexpr int LeftColumn = 5;

    // A session in its last minutes: a warm background (dark when selected,
    // with white text, so it stays legible), bold text and a "!" before the
    // client's name for those who do not tell the colours apart.
    static QColor markedBackground(bool selected)
    {
        return selected ? QColor(150, 55, 0) : QColor(255, 214, 120);
    }

    // The text a cell shows: the one place that says it, for the painting,
    // the tooltip and assistive tools alike.
    static QString cellText(const QModelIndex &index, const QString &text, bool marked, bool paused)
    {
        if (index.column() == 0 && marked)
            return QStringLiteral("! ") + text;
        if (index.column() == LeftColumn && paused)
            return QStringLiteral("пауза");
        return text;
    }
    QString cellText(const QModelIndex &index, const QString &text) const
    {
        return cellText(index, text, m_marked(index.row()), m_paused(index.row()));
    }

    // The text as the cell shows it.
    static QString shownText(const QFontMetrics &fm, const QString &text, const QRect &cell)
    {
        return fm.elidedText(text, Qt::ElideRight, cell.width() - 4);
    }

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override
    {
        if (event->type() != QEvent::ToolTip)
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QString text = cellText(index, index.data(Qt::DisplayRole).toString());
        if (shownText(option.fontMetrics, text, option.rect) != text)
            QToolTip::showText(event->globalPos(), text, view, option.rect);
        else
            QToolTip::hideText();
        return true;
    }

    // A tick redraws a column of cells: only what a cell shows is asked of
    // the model (not every role the style could use), and the painter's pen
    // and font are put back by hand rather than its whole state saved.
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        const bool marked = m_marked(index.row());
        const bool paused = m_paused(index.row());
        QString text = index.data(Qt::DisplayRole).toString();
        QFont font = option.font;
        QColor pen;
        if (marked) {
            painter->fillRect(option.rect, markedBackground(selected));
            pen = selected ? QColor(Qt::white) : QColor(Qt::black);
            font.setBold(true);
        } else {
            painter->fillRect(option.rect, selected ? option.palette.brush(QPalette::Highlight) : QBrush(Qt::white));
            pen = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        }
        if (paused) {
            // A paused session: its clock stands, its text is grey and italic.
            if (!selected)
                pen = QColor(110, 110, 110);
            font.setItalic(true);
        }
        text = cellText(index, text, marked, paused);
        const QPen oldPen = painter->pen();
        painter->setPen(pen);
        const bool ownFont = marked || paused || painter->font() != font;
        const QFont oldFont = ownFont ? painter->font() : QFont();
        if (ownFont)
            painter->setFont(font);
        const QFontMetrics fm = marked || paused ? QFontMetrics(font) : option.fontMetrics;
        const Qt::Alignment align = m_right.contains(index.column())
                                        ? Qt::AlignRight | Qt::AlignVCenter
                                        : Qt::AlignLeft | Qt::AlignVCenter;
        // The elided text fits the cell, so no clip is needed.
        painter->drawText(option.rect.adjusted(2, 0, -2, 0), int(align | Qt::TextSingleLine),
                          shownText(fm, text, option.rect));
        painter->setPen(oldPen);
        if (ownFont)
            painter->setFont(oldFont);
    }

private:
    QList<int> m_right;
    std::function<bool(int)> m_marked;
    std::function<bool(int)> m_paused;
};

// The grid itself: a change to a block of cells (a tick's column of times
// and amounts) redraws those cells alone. The base view also takes in the
// grid lines around the block, and with them every cell of the columns on
// either side. With an assistive tool listening, or an editor open, the
// base view's handling stands.
class GridView : public QTableView
{
public:
    using QTableView::QTableView;

protected:
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles) override
    {
        if (topLeft == bottomRight || QAccessible::isActive() || state() == EditingState) {
            QTableView::dataChanged(topLeft, bottomRight, roles);
            return;
        }
        if (!isVisible())
            return;
        const QRect cells = (visualRect(topLeft) | visualRect(bottomRight)) & viewport()->rect();
        if (!cells.isEmpty())
            viewport()->update(cells);
    }
};

// The grid's style: the delegate paints every cell's background whole, so
// the row panel the style would paint under each cell first is left out.
class GridStyle : public QProxyStyle
{
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element == PE_PanelItemViewRow && qobject_cast<const QTableView *>(widget))
            return;
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

// Column titles drawn as buttons with the text centred and clipped, so the
// titles fit the narrow columns.
class TitleHeader : public QHeaderView
{
public:
    explicit TitleHeader(QWidget *parent) : QHeaderView(Qt::Horizontal, parent) {}

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        QStyleOptionHeader opt;
        initStyleOption(&opt);
        opt.rect = rect;
        opt.section = logicalIndex;
        opt.text.clear();
        style()->drawControl(QStyle::CE_HeaderSection, &opt, painter, this);
        painter->save();
        painter->setClipRect(rect);
        painter->setPen(palette().color(QPalette::ButtonText));
        const QString title = model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString() : QString();
        painter->drawText(rect.adjusted(1, 0, -1, 0), int(Qt::AlignCenter | Qt::TextSingleLine), title);
        painter->restore();
    }
};

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
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                              | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
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

    Prices = new QPlainTextEdit(QStringLiteral("Prices"), m_client);
    Prices->setObjectName(QStringLiteral("Prices"));
    Prices->setGeometry(292, 184, 185, 85);
    Prices->hide();

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
    RxDBGrid1->setModel(m_model);
    RxDBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    RxDBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    RxDBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    RxDBGrid1->setShowGrid(true);
    RxDBGrid1->setCornerButtonEnabled(false);
    RxDBGrid1->setSortingEnabled(false);
    RxDBGrid1->setWordWrap(false);
    auto *gridStyle = new GridStyle;
    gridStyle->setParent(RxDBGrid1);
    RxDBGrid1->setStyle(gridStyle);
    auto *delegate = new GridDelegate(
        {2, 6}, [this](int row) { return m_reminder->isMarked(m_board->curLog().rowId(row)); },
        [this](int row) { return m_board->isPaused(m_board->curLog().rowId(row)); }, RxDBGrid1);
    RxDBGrid1->setItemDelegate(delegate);
    m_model->setShownText(
        [delegate = QPointer<GridDelegate>(delegate)](const QModelIndex &index, const QString &text) {
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
    connect(RxDBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, RxDBGrid1,
            [this] {
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
        {&SpeedButton1, "SpeedButton1", QStringLiteral("Новый"), glyphs::newSession(),
         QRect(584, 0, 133, 29), &TForm1::SpeedButton1Click, QKeySequence(Qt::Key_Insert),
         QStringLiteral("Новый сеанс")},
        {&SpeedButton2, "SpeedButton2", QStringLiteral("Продлить"), glyphs::extendSession(),
         QRect(584, 32, 133, 29), &TForm1::SpeedButton2Click, QKeySequence(Qt::Key_F2),
         QStringLiteral("Добавить время выбранному сеансу")},
        {&SpeedButton3, "SpeedButton3", QStringLiteral("Стоп"), glyphs::stopSession(),
         QRect(584, 64, 132, 29), &TForm1::SpeedButton3Click, QKeySequence(Qt::Key_F8),
         QStringLiteral("Остановить выбранный сеанс")},
        {&SpeedButton4, "SpeedButton4", QStringLiteral("Пауза"), glyphs::pauseSession(),
         QRect(584, 96, 133, 29), &TForm1::SpeedButton4Click, QKeySequence(Qt::Key_F6),
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
    connect(RxTrayIcon1, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    guard([this] { RxTrayIcon1Click(); });
                } else if (reason == QSystemTrayIcon::DoubleClick) {
                    // Where a double click also reports its first click, that
                    // click has shown the window already.
                    if (m_shownByClick.isValid()
                        && m_shownByClick.elapsed() <= QApplication::doubleClickInterval() + 100) {
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

void TForm1::SpeedButton1Click()
{
    newSessionCommand(this, *m_board, *TPrices);
    updateReminders();
    updateSessionActions();
    refreshTakings();
}

void TForm1::SpeedButton2Click()
{
    extendSessionCommand(this, *m_board);
    updateReminders();
    updateSessionActions();
    refreshTakings();
}

void TForm1::SpeedButton3Click()
{
    stopSessionCommand(this, *m_board);
    updateReminders();
    updateSessionActions();
    refreshTakings();
}

void TForm1::SpeedButton4Click()
{
    const MemTable::RowId row = m_board->curLog().currentId();
    if (row != 0)
        m_board->togglePause(row);
    updateSessionActions();
    refreshTakings();
}

void TForm1::N8Click()
{
    const double today = dateValue(Clock::current().today());
    showPeriodReport(reportWindow(), m_journalPath, today, today);
}

void TForm1::N10Click()
{
    const FinishedSession *undo = m_board->undoableStop();
    const std::uint64_t id = undo ? undo->session.id : 0;
    if (!m_board->undoStop())
        return;
    // Its notice would say the session is over: it is not any more.
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<TFormbox *>(w); box && box->sessionId() == id)
            box->close();
    updateReminders();
    updateSessionActions();
    refreshTakings();
}

Receipt TForm1::lastReceipt() const
{
    const FinishedSession *f = m_board->lastFinished();
    if (!f)
        throw Error(QStringLiteral("Нет законченного сеанса для чека."));
    return makeReceipt(*f, m_options.salonName, Clock::current().now());
}

void TForm1::N11Click()
{
    printReceiptLater(lastReceipt());
}

// Printed by the print helper, so neither the tick nor the operator waits
// for the print service, and nothing takes the focus: the command returns
// at once. Only a failure shows, as an error box naming the printer that
// does not take the keyboard, when the job ends (at the latest at its
// deadline).
void TForm1::printReceiptLater(const Receipt &receipt)
{
    PrintJob *job = printReceipt(receipt, m_options.receiptWidthMm, this);
    connect(job, &PrintJob::finished, this, [](const PrintJob::Result &r) {
        if (r.outcome != PrintJob::Result::Printed)
            showErrorNotice(r.message(QStringLiteral("Чек")));
    });
}

void TForm1::N12Click()
{
    const Receipt receipt = lastReceipt();
    QString path;
    if (chooseReceiptPath) {
        path = chooseReceiptPath();
    } else {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        // The file is named after the client, so the receipts of a day do
        // not overwrite one another; '/' cannot be in a file's name.
        QString client = m_board->lastFinished()->client.trimmed();
        client.replace(QLatin1Char('/'), QLatin1Char('-'));
        const QString name = client.isEmpty() ? QStringLiteral("Чек.pdf") : QStringLiteral("Чек %1.pdf").arg(client);
        path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить чек в PDF"),
                                            QDir(folder).filePath(name),
                                            QStringLiteral("Документ PDF (*.pdf)"));
    }
    if (path.isEmpty())
        return;
    saveReceiptPdf(receipt, m_options.receiptWidthMm, path);
}

void TForm1::sessionFinished(const FinishedSession &f)
{
    updateSessionActions();
    if (!m_options.receipt)
        return;
    // The tick or the command that ended the session goes on; a job that
    // cannot even start says so without stopping it.
    try {
        printReceiptLater(makeReceipt(f, m_options.salonName, Clock::current().now()));
    } catch (const Error &e) {
        showErrorNotice(e.message());
    }
}

void TForm1::updateSessionActions()
{
    const bool any = m_board->lastFinished() != nullptr;
    N11->setEnabled(any);
    N12->setEnabled(any);
    const FinishedSession *undo = m_board->undoableStop();
    N10->setEnabled(undo != nullptr);
    N10->setText(undo ? QStringLiteral("&Отменить стоп: %1").arg(undo->client) : QStringLiteral("&Отменить стоп"));
    const MemTable::RowId row = m_board->curLog().currentId();
    const bool paused = row != 0 && m_board->isPaused(row);
    SpeedButton4->setText(paused ? QStringLiteral("Дальше") : QStringLiteral("Пауза"));
    N9->setText(paused ? QStringLiteral("&Дальше\tF6") : QStringLiteral("&Пауза\tF6"));
    // Nothing to pause on an empty grid (F6 clicks the button, so it goes
    // too); the menu's item says the same.
    SpeedButton4->setEnabled(row != 0);
    N9->setEnabled(row != 0);
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
    setWindowTitle(QStringLiteral("Текущее время: ")
                   + Formats::current().timeText(Clock::current().timeOfDay()));
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
    const MemTable &log = m_board->curLog();
    QStringList clients;
    for (MemTable::RowId id : fresh) {
        const int row = log.rowOf(id);
        clients << QStringLiteral("«%1» (%2)").arg(log.value(row, log.fieldIndex(curlog::FIO)).toString(),
                                                  log.value(row, log.fieldIndex(curlog::PItem)).toString());
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
        RxTrayIcon1->showMessage(QStringLiteral("Время закончилось"),
                                 QStringLiteral("%1\n%2").arg(n.customer, n.stat),
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
    LabelV->setText(QStringLiteral("Bilmeko: %1.%2")
                        .arg(BILMEKO_VERSION_MAJOR)
                        .arg(BILMEKO_VERSION_MINOR));
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
    QStringList carrier = Prices->toPlainText().split(QLatin1Char('\n'));
    const QStringList messages = bilmeko::loadPriceList(*SettingsIni, carrier, *TPrices);
    delete Prices;
    Prices = nullptr;
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
    if (m_ledger)
        connect(m_board, &SessionBoard::recordAppended, this, [this] { m_ledger->journalGrew(); });
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
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("Время закончилось"), ended,
                                QMessageBox::Ok);
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
