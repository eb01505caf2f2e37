#include "fprices.h"

#include "common/core/errors.h"
#include "common/core/memtable.h"
#include "common/ui/memtablemodel.h"
#include "prices/core/pricelist.h"
#include "prices/core/pricetable.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QValidator>

namespace bilmeko {

namespace {

constexpr int NameColumn = 0;
constexpr int PriceColumn = 1;

// The name cell takes only what the settings file can hold.
class NameValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        return PriceEditing::acceptableName(input) ? Acceptable : Invalid;
    }
};

// The grid's model: the row indicator in the left margin (the current row,
// or '*' for a new row) and prices aligned to the right.
class PricesModel : public MemTableModel
{
public:
    PricesModel(PriceEditing &editing, QList<ColumnDef> columns, QObject *parent)
        : MemTableModel(&editing.table(), std::move(columns), parent), m_editing(editing)
    {
        connect(&editing.table(), &MemTable::currentChanged, this, [this] {
            if (rowCount() > 0)
                emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
        });
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::TextAlignmentRole && index.column() == PriceColumn)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return MemTableModel::data(index, role);
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Vertical && role == Qt::DisplayRole) {
            if (section != table()->currentRow())
                return QString();
            return section == m_editing.newRow() ? QStringLiteral("*") : QString(QChar(0x25BA));
        }
        return MemTableModel::headerData(section, orientation, role);
    }

private:
    PriceEditing &m_editing;
};

} // namespace

class PricesGrid;

// Line editors for the two cells. The grid, not the delegate, writes their
// text into the table, so that a refused price keeps its editor open.
class PriceDelegate : public QStyledItemDelegate
{
public:
    PriceDelegate(PricesGrid *grid);

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const override
    {
        auto *e = new QLineEdit(parent);
        e->setFrame(false);
        if (index.column() == NameColumn) {
            e->setMaxLength(PriceItemMax);
            e->setValidator(new NameValidator(e));
        } else {
            e->setAlignment(Qt::AlignRight);
        }
        m_editor = e;
        m_index = index;
        return e;
    }

    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        auto *e = static_cast<QLineEdit *>(editor);
        const QVariant v = index.data(Qt::EditRole);
        const QString text = index.column() == NameColumn ? v.toString() : PriceEditing::priceEditText(v);
        e->setText(text);
        e->selectAll();
        e->setProperty("initialText", text);
    }

    void setModelData(QWidget *, QAbstractItemModel *, const QModelIndex &) const override {}

    void destroyEditor(QWidget *editor, const QModelIndex &index) const override
    {
        if (editor == m_editor)
            m_editor = nullptr;
        QStyledItemDelegate::destroyEditor(editor, index);
    }

    QLineEdit *openEditor() const { return m_editor; }
    QModelIndex editorIndex() const { return m_index; }

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    PricesGrid *m_grid;
    mutable QPointer<QLineEdit> m_editor;
    mutable QPersistentModelIndex m_index;
};

// DBGrid1: a data grid over the price table. Every change of the current
// row goes through the editing rules; an open cell editor is written (or
// refused) before any move.
class PricesGrid : public QTableView
{
public:
    PricesGrid(PriceEditing &editing, QWidget *parent)
        : QTableView(parent), m_editing(editing), m_delegate(new PriceDelegate(this))
    {
        setItemDelegate(m_delegate);
        setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked
                        | QAbstractItemView::EditKeyPressed);
        setSelectionMode(QAbstractItemView::SingleSelection);
        setTabKeyNavigation(true);
        setWordWrap(false);
    }

    // Writes the text of an open cell editor and closes it. A price that is
    // not a number is refused: the message is shown, the editor stays open
    // with the text and keeps the focus, and false is returned.
    bool commitPendingEdit()
    {
        QLineEdit *editor = m_delegate->openEditor();
        if (!editor)
            return true;
        m_keep = nullptr;
        if (!writeEditor(editor, true)) {
            if (m_delegate->openEditor() == editor)
                editor->setFocus();
            return false;
        }
        QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
        return true;
    }

    // The buttons beside the grid: as Insert and Ctrl+Delete in it.
    void addRow()
    {
        setFocus();
        move([this] { m_editing.insertRow(); });
        if (m_delegate->openEditor() || table().currentRow() < 0)
            return;
        setColumn(NameColumn);
        edit(currentIndex());
    }
    void deleteRow()
    {
        setFocus();
        move([this] { deleteRecord(); });
    }

    // Tab, Enter and Return inside a cell editor.
    void editorKey(QKeyEvent *e)
    {
        guard([&] {
            if (!commitPendingEdit())
                return;
            if (e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab)
                tab(e->key() == Qt::Key_Tab && !(e->modifiers() & Qt::ShiftModifier));
        });
    }

protected:
    void keyPressEvent(QKeyEvent *e) override
    {
        const bool ctrl = e->modifiers() & Qt::ControlModifier;
        const bool plain = !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier));
        switch (e->key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (m_delegate->openEditor()) {
                editorKey(e);
            } else if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
                if (currentIndex().isValid())
                    edit(currentIndex());
            } else {
                guard([&] { tab(e->key() == Qt::Key_Tab && !(e->modifiers() & Qt::ShiftModifier)); });
            }
            return;
        case Qt::Key_Down: move([this] { m_editing.down(); }); return;
        case Qt::Key_Up: move([this] { m_editing.up(); }); return;
        case Qt::Key_PageDown:
            move([this] { m_editing.moveTo(std::min(table().currentRow() + pageRows(), table().rowCount() - 1)); });
            return;
        case Qt::Key_PageUp: move([this] { m_editing.moveTo(std::max(table().currentRow() - pageRows(), 0)); }); return;
        case Qt::Key_Home:
        case Qt::Key_End:
            if (ctrl) {
                const bool home = e->key() == Qt::Key_Home;
                move([this, home] { m_editing.moveTo(home ? 0 : table().rowCount() - 1); });
                return;
            }
            break;
        case Qt::Key_Insert:
            if (plain) {
                // As the add button: a new row starts with its name.
                move([this] { m_editing.insertRow(); });
                if (table().currentRow() >= 0 && table().currentRow() == m_editing.newRow())
                    setColumn(NameColumn);
                return;
            }
            break;
        case Qt::Key_Delete:
            if (ctrl) {
                move([this] { deleteRecord(); });
                return;
            }
            break;
        default: break;
        }
        QTableView::keyPressEvent(e);
    }

    void mousePressEvent(QMouseEvent *e) override
    {
        bool handled = false;
        guard([&] {
            if (!commitPendingEdit()) {
                handled = true;
                return;
            }
            const QModelIndex at = indexAt(e->position().toPoint());
            if (at.isValid() && at.row() != table().currentRow()) {
                const int before = table().rowCount();
                m_editing.moveTo(at.row());
                if (table().rowCount() != before) {
                    // An untouched new row went: the rows under the click moved up.
                    setColumn(at.column());
                    handled = true;
                }
            }
        });
        if (!handled)
            QTableView::mousePressEvent(e);
    }

    void focusOutEvent(QFocusEvent *e) override
    {
        if (e->reason() != Qt::ActiveWindowFocusReason && e->reason() != Qt::PopupFocusReason) {
            QWidget *to = QApplication::focusWidget();
            if (to && to != this && !isAncestorOf(to))
                guard([&] { m_editing.leave(); });
        }
        QTableView::focusOutEvent(e);
    }

    // The delegate's own commit (the editor lost the focus): a refused
    // price keeps the editor open without a message; the message comes
    // with the next attempt to leave the cell.
    void commitData(QWidget *editor) override
    {
        auto *e = qobject_cast<QLineEdit *>(editor);
        if (e && !writeEditor(e, false))
            m_keep = editor;
    }

    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override
    {
        if (editor == m_keep && hint != QAbstractItemDelegate::RevertModelCache) {
            m_keep = nullptr;
            return;
        }
        m_keep = nullptr;
        // Moving to the next cell is the grid's own business (tab()).
        if (hint == QAbstractItemDelegate::EditNextItem || hint == QAbstractItemDelegate::EditPreviousItem)
            hint = QAbstractItemDelegate::NoHint;
        QTableView::closeEditor(editor, hint);
    }

private:
    MemTable &table() const { return m_editing.table(); }

    template <typename F> void move(F &&step)
    {
        guard([&] {
            if (!commitPendingEdit())
                return;
            step();
        });
    }

    bool writeEditor(QLineEdit *editor, bool report)
    {
        if (editor != m_delegate->openEditor())
            return true;
        const QModelIndex index = m_delegate->editorIndex();
        const QString text = editor->text();
        if (!index.isValid() || text == editor->property("initialText").toString())
            return true; // unchanged text never rewrites the stored value
        try {
            if (index.column() == NameColumn)
                m_editing.setName(index.row(), text);
            else
                m_editing.setPrice(index.row(), text);
        } catch (const Error &err) {
            if (report)
                showErrorBox(err.message());
            return false;
        }
        editor->setProperty("initialText", text);
        return true;
    }

    void setColumn(int column)
    {
        const int row = table().currentRow();
        if (row >= 0 && column >= 0)
            setCurrentIndex(model()->index(row, column));
    }

    void tab(bool forward)
    {
        const int row = table().currentRow();
        if (row < 0)
            return;
        const int column = std::max(currentIndex().column(), 0);
        if (forward) {
            if (column == NameColumn) {
                setColumn(PriceColumn);
                return;
            }
            const MemTable::RowId was = table().currentId();
            m_editing.down();
            if (table().currentId() != was)
                setColumn(NameColumn);
        } else {
            if (column == PriceColumn) {
                setColumn(NameColumn);
            } else if (row > 0) {
                m_editing.up();
                setColumn(PriceColumn);
            }
        }
    }

    int pageRows() const
    {
        const int h = verticalHeader()->defaultSectionSize();
        return std::max(1, viewport()->height() / std::max(1, h) - 1);
    }

    void deleteRecord()
    {
        if (table().currentRow() < 0)
            return;
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), QStringLiteral("Delete record?"),
                        QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setObjectName(QStringLiteral("ConfirmDelete"));
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        if (box.exec() == QMessageBox::Ok)
            m_editing.deleteCurrent();
    }

    PriceEditing &m_editing;
    PriceDelegate *m_delegate;
    QWidget *m_keep = nullptr;
};

PriceDelegate::PriceDelegate(PricesGrid *grid) : QStyledItemDelegate(grid), m_grid(grid)
{
}

bool PriceDelegate::eventFilter(QObject *object, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && object == m_editor) {
        auto *key = static_cast<QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Return:
        case Qt::Key_Enter: m_grid->editorKey(key); return true;
        default: break;
        }
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

namespace {

// An open door: "Закрыть".
QIcon closeGlyph()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(70, 45, 20), 1));
    p.setBrush(QColor(40, 40, 40));
    p.drawRect(QRectF(3.5, 1.5, 9, 13)); // the doorway
    QPainterPath leaf;
    leaf.moveTo(3.5, 1.5);
    leaf.lineTo(9.5, 3.5);
    leaf.lineTo(9.5, 15.5);
    leaf.lineTo(3.5, 14.5);
    leaf.closeSubpath();
    p.setBrush(QColor(190, 130, 60));
    p.drawPath(leaf);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 220, 90));
    p.drawEllipse(QPointF(8, 9), 1, 1);
    return QIcon(pm);
}

// A diskette: "Сохранить по умолчанию".
QIcon saveGlyph()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath body;
    body.moveTo(1.5, 1.5);
    body.lineTo(12.5, 1.5);
    body.lineTo(14.5, 3.5);
    body.lineTo(14.5, 14.5);
    body.lineTo(1.5, 14.5);
    body.closeSubpath();
    p.setPen(QPen(QColor(20, 40, 90), 1));
    p.setBrush(QColor(50, 90, 170));
    p.drawPath(body);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4, 2, 7, 5)); // the label
    p.setBrush(QColor(200, 200, 210));
    p.drawRect(QRectF(4, 9.5, 8, 5)); // the shutter
    p.setBrush(QColor(50, 90, 170));
    p.drawRect(QRectF(8, 10.5, 2, 3));
    return QIcon(pm);
}

// A caption wider than its button (fonts wider than the one the dialog was
// drawn for) is narrowed until it fits rather than cut.
void fitCaption(QPushButton *button)
{
    QFont f = button->font();
    for (int stretch = 96; stretch >= 70 && button->sizeHint().width() > button->width(); stretch -= 2) {
        f.setStretch(stretch);
        button->setFont(f);
    }
}

} // namespace

TFPrices::TFPrices(MemTable &prices, const ProfileFile &settings, QWidget *parent)
    : QDialog(parent), m_prices(prices), m_settings(settings), m_editing(prices)
{
    setObjectName(QStringLiteral("FPrices"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Цены"));
    setFixedSize(406, 273);
    // The dialog is laid out for an 8-point font.
    QFont small = font();
    small.setPointSize(8);
    setFont(small);

    DBGrid1 = new PricesGrid(m_editing, this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setGeometry(4, 0, 233, 273);
    QList<ColumnDef> columns{
        {QStringLiteral("PItem"), QStringLiteral("Услуга"), 129, {}, true},
        {QStringLiteral("PPrice"), QStringLiteral("Цена(мин.)"), -1, &PriceEditing::priceDisplayText, true},
    };
    auto *model = new PricesModel(m_editing, std::move(columns), DBGrid1);
    // The price column has the grid's standard width and takes whatever
    // room the grid has beyond it.
    DBGrid1->horizontalHeader()->setDefaultSectionSize(64);
    DBGrid1->setModel(model);
    model->applyWidths(DBGrid1);
    DBGrid1->horizontalHeader()->setStretchLastSection(true);
    DBGrid1->horizontalHeader()->setHighlightSections(false);
    QHeaderView *rows = DBGrid1->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(DBGrid1->fontMetrics().height() + 4);
    rows->setFixedWidth(12);
    rows->setDefaultAlignment(Qt::AlignCenter);
    followCursor(DBGrid1, &prices);

    BitBtn1 = new QPushButton(closeGlyph(), QStringLiteral("Закрыть"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(240, 12, 165, 25);
    BitBtn2 = new QPushButton(saveGlyph(), QStringLiteral("Сохранить по умолчанию"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(244, 60, 161, 25);
    fitCaption(BitBtn1);
    fitCaption(BitBtn2);
    // Enter in the grid edits a cell; on a button it presses that button.
    BitBtn1->setAutoDefault(true);
    BitBtn2->setAutoDefault(true);
    BitBtn1->setDefault(true);

    // Below the two buttons the dialog always had, in the free room beside
    // the grid: the keys for them are not something one guesses.
    BitBtn3 = new QPushButton(QStringLiteral("Добавить услугу"), this);
    BitBtn3->setObjectName(QStringLiteral("BitBtn3"));
    BitBtn3->setGeometry(244, 108, 161, 25);
    BitBtn3->setToolTip(QStringLiteral("Новая строка перед выбранной (Insert)"));
    BitBtn4 = new QPushButton(QStringLiteral("Удалить услугу"), this);
    BitBtn4->setObjectName(QStringLiteral("BitBtn4"));
    BitBtn4->setGeometry(244, 140, 161, 25);
    BitBtn4->setToolTip(QStringLiteral("Удалить выбранную строку (Ctrl+Delete)"));
    fitCaption(BitBtn3);
    fitCaption(BitBtn4);
    BitBtn3->setAutoDefault(false);
    BitBtn4->setAutoDefault(false);

    connect(BitBtn1, &QPushButton::clicked, this, &TFPrices::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TFPrices::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TFPrices::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TFPrices::BitBtn4Click);

    DBGrid1->setFocus();
}

TFPrices::~TFPrices() = default;

void TFPrices::BitBtn1Click()
{
    bool posted = false;
    guard([&] {
        posted = DBGrid1->commitPendingEdit();
        if (posted)
            m_editing.leave();
    });
    if (!posted)
        return;
    if (m_editing.changed()) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Цены"),
                        QStringLiteral("Цены изменены, но не сохранены в файле «%1». Сохранить их?\n"
                                       "Если не сохранить, изменения действуют только до выхода "
                                       "из программы.")
                            .arg(m_settings.path()),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
        box.setObjectName(QStringLiteral("ConfirmSave"));
        box.button(QMessageBox::Yes)->setText(QStringLiteral("Сохранить"));
        box.button(QMessageBox::No)->setText(QStringLiteral("Не сохранять"));
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("Отмена"));
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        const int answer = box.exec();
        if (answer == QMessageBox::Cancel)
            return;
        if (answer == QMessageBox::Yes)
            guard([&] { savePriceList(m_settings, m_prices); });
    }
    accept();
}

void TFPrices::BitBtn2Click()
{
    bool posted = false;
    guard([&] {
        posted = DBGrid1->commitPendingEdit();
        if (!posted)
            return;
        m_editing.leave();
        savePriceList(m_settings, m_prices);
    });
    if (posted)
        accept();
}

void TFPrices::BitBtn3Click()
{
    DBGrid1->addRow();
}

void TFPrices::BitBtn4Click()
{
    DBGrid1->deleteRow();
}

void TFPrices::reject()
{
    BitBtn1Click();
}

} // namespace bilmeko
