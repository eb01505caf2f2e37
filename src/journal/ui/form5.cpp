#include "form5.h"

#include "chartwindow.h"
#include "common/core/errors.h"
#include "journal/core/periodreport.h"
#include "reportlayout.h"
#include "reporttextedit.h"

#include <QLabel>
#include <algorithm>
#include <QMessageBox>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>

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

// A text wider than its label (fonts differ from system to system) takes
// the room up to `room` pixels to the right of the label's left edge, and
// if that is not enough a smaller font; it is never cut.
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

    RichEdit1 = new ReportTextEdit(this);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setGeometry(0, 0, 633, 345);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    LabelSum = makeLabel(this, "LabelSum", QStringLiteral("LabelSum"), QRect(184, 352, 81, 20), 16, true);
    Label2 = makeLabel(this, "Label2", QStringLiteral("Время"), QRect(288, 348, 63, 24), 19, false);
    Label3 = makeLabel(this, "Label3", QStringLiteral("Сумма"), QRect(116, 348, 64, 24), 19, false);
    LabelTime = makeLabel(this, "LabelTime", QStringLiteral("LabelTime"), QRect(356, 352, 83, 20), 16, true);

    Button1 = new QPushButton(QStringLiteral("Печать"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(8, 348, 75, 25);
    Button1->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    BtnChart = new QPushButton(QStringLiteral("График"), this);
    BtnChart->setObjectName(QStringLiteral("BtnChart"));
    BtnChart->setGeometry(549, 348, 75, 25);
    BtnChart->setAutoDefault(false);
    connect(BtnChart, &QPushButton::clicked, this, [this] { BtnChartClick(); });

    // The captions keep their places; a wide font is made to fit them.
    fitText(Label2, Label2->text(), Label2->width(), Label2->width(), 19);
    fitText(Label3, Label3->text(), Label3->width(), Label3->width(), 19);

    setTabOrder(RichEdit1, Button1);
    setTabOrder(Button1, BtnChart);
    RichEdit1->setFocus();
}

void TForm5::setReport(const PeriodReport &report)
{
    RichEdit1->setPlainText(report.text);
    // Up to the caption to the right, and to the window's edge.
    fitText(LabelSum, report.sumText, 81, Label2->x() - LabelSum->x() - 4, 16);
    fitText(LabelTime, report.timeText, 83, width() - LabelTime->x() - 4, 16);
}

void TForm5::printTo(QPrinter &printer) const
{
    printReportText(RichEdit1->toPlainText(), RichEdit1->font(), printer, windowTitle());
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

void TForm5::setChartSource(const QString &journalPath, double dateBeg, double dateEnd)
{
    m_journalPath = journalPath;
    m_dateBeg = dateBeg;
    m_dateEnd = dateEnd;
}

void TForm5::BtnChartClick()
{
    guard([&] { showRevenueChart(this, m_journalPath, m_dateBeg, m_dateEnd); });
}

void showPeriodReport(TForm5 *form5, const QString &journalPath, double dateBeg, double dateEnd)
{
    form5->RichEdit1->clear();
    const PeriodReport report = buildPeriodReport(journalPath, dateBeg, dateEnd);
    if (report.damaged)
        plainMessage(form5->parentWidget(), QStringLiteral("Файл отчета разрушен"));
    form5->setReport(report);
    form5->setChartSource(journalPath, dateBeg, dateEnd);
    form5->exec();
}

} // namespace bilmeko
