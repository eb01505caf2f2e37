#include "form5.h"

#include "chartmodule.h"
#include "common/core/atomicfile.h"
#include "common/core/codepage.h"
#include "common/core/errors.h"
#include "common/core/formats.h"
#include "common/core/printjob.h"
#include "journal/core/reportcsv.h"
#include "reportlayout.h"
#include "reporttextedit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLibrary>
#include <QMenu>
#include <QMessageBox>
#include <QPdfWriter>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <algorithm>

namespace bilmeko {

namespace {

QFont pixelFont(const QFont &from, int pixels, bool bold)
{
    QFont f(from);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &caption, const QRect &geometry, int pixels,
                  bool green)
{
    auto *l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(geometry);
    l->setFont(pixelFont(parent->font(), pixels, true));
    if (green) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, QColor(0, 128, 0));
        l->setPalette(p);
    }
    return l;
}

// A caption wider than its label (fonts differ from system to system) is
// drawn in a smaller font; it is never cut.
void fitText(QLabel *label, const QString &text, int designWidth, int room, int designPixels)
{
    label->setText(text);
    QFont f = label->font();
    f.setPixelSize(designPixels);
    label->setFont(f);
    while (label->sizeHint().width() > room && f.pixelSize() > 9) {
        f.setPixelSize(f.pixelSize() - 1);
        label->setFont(f);
    }
    label->resize(std::clamp(label->sizeHint().width(), designWidth, std::max(designWidth, room)), label->height());
}

void plainMessage(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, parent);
    box.exec();
}

// The design size; the window opens at it and may be made larger.
constexpr QSize DesignSize(632, 376);
// The totals' font at the design and at the least.
constexpr int TotalsPixels = 16;
constexpr int SmallestTotalsPixels = 9;

void setPixels(QLabel *label, int pixels)
{
    QFont f = label->font();
    if (f.pixelSize() != pixels) {
        f.setPixelSize(pixels);
        label->setFont(f);
    }
}

// Where the last report window stood, for the next one (this run only).
QRect &lastGeometry()
{
    static QRect r;
    return r;
}

// The width of a text with every digit drawn as `digit`: the widest or
// narrowest any number of that shape can be.
qreal digitsWidth(ReportColumns &columns, QString text, QChar digit)
{
    for (QChar &c : text)
        if (c.isDigit())
            c = digit;
    return columns.width(text);
}

// Column stops for a report without formatting its lines: the widths of
// its texts measured while it was read, its numbers by their extremes and
// the widest shape of dates and times.
ReportColumns::Extent reportExtent(const PeriodReport &report, ReportColumns &columns, const CharWidths &widths)
{
    ReportColumns::Extent e;
    const QStringList titles = reportHeader().split(QLatin1Char('\t'));
    e.headerFirst = columns.width(titles[0]);
    e.widest.assign(11, 0);
    for (int k = 1; k < 11; ++k)
        e.widest[static_cast<size_t>(k)] = columns.width(titles[k + 2]);
    const QString totals = report.totalsLine();
    const qsizetype tab = totals.indexOf(QLatin1Char('\t'));
    e.freeWidth = columns.width(totals.left(tab)) + columns.defaultTabDistance() + columns.width(totals.mid(tab + 1));
    if (report.recordCount() == 0)
        return e;

    QChar wide = QLatin1Char('0');
    QChar narrow = QLatin1Char('0');
    for (char16_t d = u'0'; d <= u'9'; ++d) {
        if (columns.width(QString(QChar(d))) > columns.width(QString(wide)))
            wide = QChar(d);
        if (columns.width(QString(QChar(d))) < columns.width(QString(narrow)))
            narrow = QChar(d);
    }
    const Formats &f = Formats::current();
    const QDate day(2000, 12, 28);
    qreal time = 0;
    for (int h : {0, 9, 11, 12, 21, 23})
        time = std::max(time, digitsWidth(columns, f.timeText(QTime(h, 59, 59)), wide));
    const qreal date = digitsWidth(columns, f.dateText(day), wide);
    e.widest[0] = date + columns.width(QStringLiteral(" ")) + time;
    e.shortestFirst = digitsWidth(columns, f.dateText(day), narrow);

    const ReportExtent &x = report.extent();
    const std::array<float, 4> texts = report.measureTexts(widths);
    auto money = [&](double a, double b) {
        return std::max(digitsWidth(columns, Formats::money(a), wide), digitsWidth(columns, Formats::money(b), wide));
    };
    qreal payment = columns.width(QStringLiteral("абонемент"));
    for (int m = 0; m < PaymentCount; ++m)
        payment = std::max(payment, columns.width(paymentText(static_cast<Payment>(m))));
    const qreal at[11] = {e.widest[0], texts[0], texts[1], money(x.minPrice, x.maxPrice),
                          time,        time,     time,     money(x.minAmount, x.maxAmount),
                          texts[2],    texts[3], payment};
    for (int k = 0; k < 11; ++k)
        e.widest[static_cast<size_t>(k)] = std::max(e.widest[static_cast<size_t>(k)], at[k]);
    return e;
}

} // namespace

QString printJobTitle()
{
    return QStringLiteral("Отчет о работе");
}

TForm5::TForm5(QWidget *parent)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Отчет о работе салона"));
    setFont(pixelFont(font(), 11, false));
    setMinimumSize(DesignSize);
    resize(DesignSize);
    setSizeGripEnabled(true);

    RichEdit1 = new ReportTextEdit(this);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A finished session's receipt again, from its line (today's report).
    // (A scroll area gives the point in its viewport's coordinates.)
    RichEdit1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(RichEdit1, &QWidget::customContextMenuRequested, this, &TForm5::recordMenu);

    LabelSum = makeLabel(this, "LabelSum", QStringLiteral("LabelSum"), QRect(184, 352, 81, 20), 16, true);
    Label2 = makeLabel(this, "Label2", QStringLiteral("Время"), QRect(288, 348, 63, 24), 19, false);
    Label3 = makeLabel(this, "Label3", QStringLiteral("Сумма"), QRect(116, 348, 64, 24), 19, false);
    LabelTime = makeLabel(this, "LabelTime", QStringLiteral("LabelTime"), QRect(356, 352, 83, 20), 16, true);

    Button1 = new QPushButton(QStringLiteral("Печать"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    BtnChart = new QPushButton(QStringLiteral("График"), this);
    BtnChart->setObjectName(QStringLiteral("BtnChart"));
    BtnChart->setAutoDefault(false);
    connect(BtnChart, &QPushButton::clicked, this, [this] { BtnChartClick(); });

    SaveButton = new QPushButton(QStringLiteral("Сохранить…"), this);
    SaveButton->setObjectName(QStringLiteral("SaveButton"));
    SaveButton->setAutoDefault(false);
    connect(SaveButton, &QPushButton::clicked, this, [this] { SaveButtonClick(); });

    // The captions keep their places; a wide font is made to fit them.
    fitText(Label2, Label2->text(), Label2->width(), Label2->width(), 19);
    fitText(Label3, Label3->text(), Label3->width(), Label3->width(), 19);
    placeControls();

    setTabOrder(RichEdit1, Button1);
    setTabOrder(Button1, BtnChart);
    setTabOrder(BtnChart, SaveButton);
    RichEdit1->setFocus();
    chooseSavePath = [this] { return askSavePath(); };
}

// At the design size every control is where it was designed; a larger
// window gives the text the room and keeps the row below at the bottom.
void TForm5::placeControls()
{
    const int dy = height() - DesignSize.height();
    RichEdit1->setGeometry(0, 0, width() + 1, 345 + dy);
    Button1->setGeometry(8, 348 + dy, 75, 25);
    Label3->move(Label3->x(), 348 + dy);
    BtnChart->setGeometry(width() - 178, 348 + dy, 75, 25);
    SaveButton->setGeometry(width() - 98, 348 + dy, 90, 25);
    if (m_totalsSet) {
        placeTotals(width(), dy);
    } else {
        for (QLabel *l : {LabelSum, Label2, LabelTime})
            l->move(l->x(), (l == Label2 ? 348 : 352) + dy);
    }
}

// The totals stand at their design places while their texts fit there;
// a longer text moves what follows it to the right and, when the row would
// reach the buttons, all of it is drawn smaller. Returns the right edge
// the row needs.
int TForm5::placeTotals(int windowWidth, int dy)
{
    const int limit = windowWidth - 178 - 4; // before "График"
    int right = 0;
    for (int pixels = TotalsPixels; pixels >= SmallestTotalsPixels; --pixels) {
        setPixels(LabelSum, pixels);
        setPixels(LabelTime, pixels);
        const int sumWidth = std::max(81, LabelSum->sizeHint().width());
        const int timeCaption = std::max(288, 184 + sumWidth + 4);
        const int timeAt = std::max(356, timeCaption + Label2->width() + 5);
        const int timeWidth = std::max(83, LabelTime->sizeHint().width());
        right = timeAt + LabelTime->sizeHint().width();
        if (right <= limit || pixels == SmallestTotalsPixels) {
            LabelSum->setGeometry(184, 352 + dy, sumWidth, 20);
            Label2->move(timeCaption, 348 + dy);
            LabelTime->setGeometry(timeAt, 352 + dy,
                                   std::min(timeWidth, std::max(limit - timeAt, LabelTime->sizeHint().width())), 20);
            break;
        }
    }
    return right;
}

void TForm5::resizeEvent(QResizeEvent *e)
{
    QDialog::resizeEvent(e);
    placeControls();
}

void TForm5::hideEvent(QHideEvent *e)
{
    lastGeometry() = geometry();
    QDialog::hideEvent(e);
}

CharWidths TForm5::charWidths() const
{
    // Each letter's advance as the text's columns take it (a float each).
    const QFontMetricsF metrics(RichEdit1->font());
    char bytes[256];
    for (int b = 0; b < 256; ++b)
        bytes[b] = static_cast<char>(b);
    const QString letters = cp1251::decode(bytes, 256);
    CharWidths w{};
    for (int b = 0; b < 256; ++b) {
        QChar ch = letters.size() == 256 ? letters.at(b) : cp1251::decode(bytes + b, 1).front();
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7F)
            ch = QLatin1Char(' '); // shown as a blank
        w[static_cast<size_t>(b)] = static_cast<float>(metrics.horizontalAdvance(ch));
    }
    return w;
}

bool TForm5::recordOnLine(int line, LogRecord &out) const
{
    const qsizetype i = line - 1;
    return i >= 0 && i < m_report.recordCount() && m_report.readRecord(i, out) && !out.reversal;
}

bool TForm5::reprintLine(int line)
{
    LogRecord r;
    if (!reprintHook || !recordOnLine(line, r))
        return false;
    guard([&] { reprintHook(r); });
    return true;
}

void TForm5::recordMenu(const QPoint &at)
{
    if (!reprintHook)
        return;
    const int line = RichEdit1->positionAt(at).line;
    LogRecord r;
    QMenu menu(this);
    QAction *reprint = menu.addAction(QStringLiteral("Напечатать чек"));
    reprint->setObjectName(QStringLiteral("ReprintReceipt"));
    reprint->setEnabled(recordOnLine(line, r));
    connect(reprint, &QAction::triggered, this, [this, line] { reprintLine(line); });
    menu.exec(RichEdit1->viewport()->mapToGlobal(at));
}

void TForm5::setReport(const PeriodReport &report)
{
    m_report = report;
    setWindowTitle(reportTitle(report.dateBeg(), report.dateEnd()));
    const CharWidths widths = charWidths();
    const PeriodReport shown = report;
    RichEdit1->setLines(std::make_shared<PeriodReport>(report), [shown, widths](ReportColumns &columns) {
        return columns.tabStops(reportExtent(shown, columns, widths));
    });
    m_totalsSet = true;
    LabelSum->setText(report.sumText());
    LabelTime->setText(report.timeText());
    // Totals too long for the row even in the smallest font widen the
    // window's least width, so they are never cut.
    const int needed = placeTotals(DesignSize.width(), 0) + 178 + 4;
    setMinimumWidth(std::max(DesignSize.width(), needed));
    placeControls();
}

void TForm5::fitWidthToColumns()
{
    const QScreen *screen = parentWidget() ? parentWidget()->screen() : this->screen();
    const int room = screen ? screen->availableGeometry().width() - 40 : DesignSize.width();
    const int wanted = std::min(RichEdit1->fullWidth(), room);
    if (wanted > width())
        resize(wanted, height());
}

void TForm5::releaseReport()
{
    RichEdit1->clear();
    m_report = PeriodReport();
}

void TForm5::printTo(QPagedPaintDevice &printer) const
{
    printReportText(ReportTextEdit::Lines(*RichEdit1), RichEdit1->font(), printer, windowTitle());
}

void TForm5::Button1Click()
{
    guard([&] {
        // The print helper finds the printer and prints; the window goes on
        // at once and hears how the job ended.
        PrintJob *job = PrintJob::start(
            QLatin1String(ReportJobKind), printJobTitle(),
            [&](QDataStream &out) {
                writeReportJob(out, ReportTextEdit::Lines(*RichEdit1), RichEdit1->font(), windowTitle());
            },
            this);
        connect(job, &PrintJob::finished, this, [this](const PrintJob::Result &r) {
            if (r.outcome == PrintJob::Result::NoPrinter)
                plainMessage(this, QStringLiteral("Принтер не установлен"));
            else if (r.outcome != PrintJob::Result::Printed)
                showErrorNotice(r.message(QStringLiteral("Отчет")));
        });
    });
}

QString TForm5::askSavePath()
{
    const QString csv = QStringLiteral("Таблица CSV (*.csv)");
    const QString pdf = QStringLiteral("Документ PDF (*.pdf)");
    const Formats &f = Formats::current();
    const QString period = m_report.dateBeg() == m_report.dateEnd()
        ? f.dateText(m_report.dateBeg())
        : f.dateText(m_report.dateBeg()) + QLatin1Char('-') + f.dateText(m_report.dateEnd());
    QString name = QStringLiteral("Отчет %1.csv").arg(period);
    name.replace(QLatin1Char('/'), QLatin1Char('.'));
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QString filter = csv;
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить отчет"), QDir(folder).filePath(name),
                                                csv + QStringLiteral(";;") + pdf, &filter);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += filter == pdf ? QStringLiteral(".pdf") : QStringLiteral(".csv");
    return path;
}

void TForm5::saveTo(const QString &path)
{
    if (QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) != 0) {
        saveReportCsv(path, m_report);
        return;
    }
    try {
        AtomicFile file(path);
        file.open(); // the name is ours; the printer writes it anew
        // A PDF writer, not a printer: a printer object asks the print
        // service for its default printer even to write a file.
        QPdfWriter pdf(file.tempPath());
        pdf.setResolution(1200);
        pdf.setTitle(printJobTitle());
        printTo(pdf);
        file.commit();
    } catch (const Error &e) {
        throw Error(reportNotSavedMessage(path, e.message()));
    }
}

void TForm5::SaveButtonClick()
{
    const QString path = chooseSavePath ? chooseSavePath() : QString();
    if (path.isEmpty())
        return;
    guard([&] { saveTo(path); });
}

QStringList chartModulePlaces()
{
    const QString name = QStringLiteral(BILMEKO_CHART_MODULE);
    const QDir bin(QCoreApplication::applicationDirPath());
    // Relative to the program before the absolute place, so a tree
    // installed under another prefix finds its own module.
    QStringList places{bin.filePath(name),
                       QDir::cleanPath(bin.filePath(QStringLiteral(BILMEKO_CHART_FROM_BIN "/") + name)),
                       QStringLiteral(BILMEKO_CHART_DIR "/") + name};
    places.removeDuplicates();
    return places;
}

void *loadChartModule(const QStringList &places)
{
    for (const QString &path : places) {
        if (!QFileInfo(path).isFile())
            continue;
        QLibrary module(path);
        if (!module.load())
            throw Error(QStringLiteral("Не удалось загрузить модуль графика %1: %2")
                            .arg(QDir::toNativeSeparators(path), module.errorString()));
        if (QFunctionPointer entry = module.resolve(ShowRevenueChartSymbol))
            return reinterpret_cast<void *>(entry);
        throw Error(QStringLiteral("Файл %1 не является модулем графика Bilmeko").arg(QDir::toNativeSeparators(path)));
    }
    throw Error(QStringLiteral("Не найден модуль графика %1: график выручки показать нельзя")
                    .arg(QDir::toNativeSeparators(places.value(places.size() - 1))));
}

void TForm5::BtnChartClick()
{
    guard([&] {
        static ShowRevenueChartFn show = nullptr;
        if (!show)
            show = reinterpret_cast<ShowRevenueChartFn>(loadChartModule(chartModulePlaces()));
        const RevenueChart revenue = revenueOfReport(m_report);
        ChartHost host;
        host.formats = &Formats::current();
        host.showErrorBox = &showErrorBox;
        if (!show(&host, this, &revenue))
            throw Error(QStringLiteral("Модуль графика %1 не подходит к этой версии программы")
                            .arg(QStringLiteral(BILMEKO_CHART_MODULE)));
    });
}

void showPeriodReport(TForm5 *form5, const QString &journalPath, double dateBeg, double dateEnd)
{
    form5->releaseReport();
    const CharWidths widths = form5->charWidths();
    const PeriodReport report = buildPeriodReport(journalPath, dateBeg, dateEnd, &widths);
    if (report.damaged())
        plainMessage(form5->parentWidget(), report.damageMessage());
    form5->setReport(report);
    if (lastGeometry().isValid())
        form5->setGeometry(lastGeometry());
    else
        form5->fitWidthToColumns();
    form5->exec();
    form5->releaseReport();
}

} // namespace bilmeko
