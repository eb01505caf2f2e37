#include "form5.h"

#include "common/errors.h"
#include "periodreport.h"
#include "reportlayout.h"

#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTextDocument>
#include <QTextOption>

namespace bilmeko {

namespace {

QFont pixelFont(const QFont &from, int pixels, bool bold)
{
    QFont f(from);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &caption, const QRect &geometry,
                  int pixels, bool green)
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

// A total wider than its label's place grows to the right instead of being cut.
void setTotal(QLabel *label, const QString &text, int designWidth)
{
    label->setText(text);
    label->resize(std::max(designWidth, label->sizeHint().width()), label->height());
}

void plainMessage(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

QString printJobTitle()
{
    return QStringLiteral("Отчет о работе");
}

TForm5::TForm5(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Отчет о работе салона"));
    setFont(pixelFont(font(), 11, false));
    setFixedSize(632, 376);

    RichEdit1 = new QPlainTextEdit(this);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setGeometry(0, 0, 633, 345);
    RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
    RichEdit1->setWordWrapMode(QTextOption::NoWrap);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setTabChangesFocus(false);
    // A report is set as a whole; undoing it line by line means nothing.
    RichEdit1->setUndoRedoEnabled(false);

    LabelSum = makeLabel(this, "LabelSum", QStringLiteral("LabelSum"), QRect(184, 352, 81, 20), 16, true);
    Label2 = makeLabel(this, "Label2", QStringLiteral("Время"), QRect(288, 348, 63, 24), 19, false);
    Label3 = makeLabel(this, "Label3", QStringLiteral("Сумма"), QRect(116, 348, 64, 24), 19, false);
    LabelTime = makeLabel(this, "LabelTime", QStringLiteral("LabelTime"), QRect(356, 352, 83, 20), 16, true);

    Button1 = new QPushButton(QStringLiteral("Печать"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(8, 348, 75, 25);
    Button1->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    setTabOrder(RichEdit1, Button1);
    RichEdit1->setFocus();
}

void TForm5::setReport(const PeriodReport &report)
{
    // Stops first: changing them afterwards would lay the text out again.
    ReportColumns columns{QFontMetricsF(RichEdit1->font())};
    QTextOption option = RichEdit1->document()->defaultTextOption();
    option.setTabs({});
    QList<QTextOption::Tab> tabs;
    for (qreal stop : columns.tabStops(report.text))
        tabs << QTextOption::Tab(stop, QTextOption::LeftTab);
    option.setTabs(tabs);
    option.setWrapMode(QTextOption::NoWrap);
    RichEdit1->document()->setDefaultTextOption(option);

    RichEdit1->setPlainText(report.text);
    setTotal(LabelSum, report.sumText, 81);
    setTotal(LabelTime, report.timeText, 83);
}

void TForm5::printTo(QPrinter &printer) const
{
    printReportText(RichEdit1->toPlainText(), RichEdit1->font(), printer);
}

void TForm5::Button1Click()
{
    guard([&] {
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (info.isNull()) {
            plainMessage(this, QStringLiteral("Принтер не установлен"));
            return;
        }
        QPrinter printer(info, QPrinter::HighResolution);
        printer.setDocName(printJobTitle());
        printTo(printer);
    });
}

void showPeriodReport(TForm5 *form5, const QString &journalPath, double dateBeg, double dateEnd)
{
    form5->RichEdit1->clear();
    const PeriodReport report = buildPeriodReport(journalPath, dateBeg, dateEnd);
    if (report.damaged)
        plainMessage(form5->parentWidget(), QStringLiteral("Файл отчета разрушен"));
    form5->setReport(report);
    form5->exec();
}

} // namespace bilmeko
