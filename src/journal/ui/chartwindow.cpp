#include "chartwindow.h"

#include "common/core/atomicfile.h"
#include "common/core/errors.h"
#include "common/core/formats.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QBuffer>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHorizontalBarSeries>
#include <QLegendMarker>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

namespace bilmeko {

namespace {

// The height of one service's bar and name in the ranked chart.
constexpr int ServiceRowHeight = 28;
// Dates under the bars over time, at most.
constexpr qsizetype MaxAxisLabels = 16;

QString stepTitle(RevenueChart::Step step)
{
    switch (step) {
    case RevenueChart::Step::Hour: return QStringLiteral("Выручка по часам");
    case RevenueChart::Step::Day: return QStringLiteral("Выручка по дням");
    case RevenueChart::Step::Month: return QStringLiteral("Выручка по месяцам");
    }
    return {};
}

// The value axis from 0 (or the lowest value below it) to a round top.
QValueAxis *amountAxis(const QList<RevenueBar> &bars)
{
    double lo = 0;
    double hi = 0;
    for (const RevenueBar &b : bars) {
        lo = std::min(lo, b.amount);
        hi = std::max(hi, b.amount);
    }
    auto *axis = new QValueAxis;
    axis->setRange(lo, hi > lo ? hi : lo + 1);
    axis->applyNiceNumbers();
    axis->setLabelFormat(QStringLiteral("%.0f"));
    return axis;
}

QChart *newChart(const QString &title)
{
    auto *chart = new QChart;
    chart->setTitle(title);
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

QChart *timeChart(const RevenueChart &revenue, const QString &period)
{
    const QList<RevenueBar> bars = revenue.byTime();
    QChart *chart = newChart(stepTitle(revenue.step()) + QStringLiteral(": ") + period);
    auto *set = new QBarSet(QStringLiteral("Итого за период: ") + Formats::money(revenue.total()));
    QStringList labels;
    for (const RevenueBar &b : bars) {
        *set << b.amount;
        labels << b.label;
    }
    auto *series = new QBarSeries;
    series->setObjectName(QStringLiteral("SeriesTime"));
    series->append(set);
    series->setBarWidth(0.8);
    chart->addSeries(series);
    // Bar i stands at i; with many bars only every k-th is named, so the
    // names stay whole and readable.
    auto *x = new QCategoryAxis;
    x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    const qsizetype n = labels.size();
    x->setRange(-0.5, std::max<double>(static_cast<double>(n) - 0.5, 0.5));
    x->setStartValue(-0.5);
    // Hours are short enough to be named one by one.
    const qsizetype most = revenue.step() == RevenueChart::Step::Hour ? 24 : MaxAxisLabels;
    const qsizetype every = std::max<qsizetype>(1, (n + most - 1) / most);
    for (qsizetype i = 0; i < n; i += every)
        x->append(labels[i], static_cast<double>(i));
    x->setGridLineVisible(false);
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    QValueAxis *y = amountAxis(bars);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);
    return chart;
}

QChart *rankedChart(const QList<RevenueBar> &bars, const QString &title, const QString &totalTitle,
                    const char *seriesName, double total)
{
    QChart *chart = newChart(title);
    auto *set = new QBarSet(totalTitle + Formats::money(total));
    QStringList labels;
    // Horizontal bars are laid out from the bottom: the largest goes last,
    // so it stands on top.
    for (qsizetype i = bars.size() - 1; i >= 0; --i) {
        *set << bars[i].amount;
        labels << bars[i].label + QStringLiteral(" — ") + Formats::money(bars[i].amount);
    }
    auto *series = new QHorizontalBarSeries;
    series->setObjectName(QLatin1String(seriesName));
    series->append(set);
    series->setBarWidth(0.7);
    chart->addSeries(series);
    auto *y = new QBarCategoryAxis;
    y->append(labels);
    QFont small = y->labelsFont();
    small.setPixelSize(11);
    y->setLabelsFont(small);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);
    QValueAxis *x = amountAxis(bars);
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    return chart;
}

QChart *serviceChart(const RevenueChart &revenue)
{
    return rankedChart(revenue.byService(), QStringLiteral("Выручка по услугам"), QStringLiteral("Итого по услугам: "),
                       "SeriesServices", revenue.total());
}

QChart *methodChart(const RevenueChart &revenue)
{
    return rankedChart(revenue.byMethod(), QStringLiteral("Выручка по способам оплаты"),
                       QStringLiteral("Итого по способам оплаты: "), "SeriesMethods", revenue.total());
}

QChartView *chartView(QChart *chart, const char *name, QWidget *parent)
{
    auto *view = new QChartView(chart, parent);
    view->setObjectName(QLatin1String(name));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(480, 220);
    return view;
}

} // namespace

QString periodText(DateTimeValue dateBeg, DateTimeValue dateEnd)
{
    const Formats &f = Formats::current();
    return f.dateText(dateBeg) + QStringLiteral(" – ") + f.dateText(dateEnd);
}

TChartWindow::TChartWindow(const RevenueChart &revenue, QWidget *parent)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                  | Qt::WindowMaximizeButtonHint),
      m_periodText(periodText(revenue.dateBeg(), revenue.dateEnd()))
{
    setObjectName(QStringLiteral("ChartWindow"));
    setWindowTitle(QStringLiteral("График выручки: ") + m_periodText);

    m_charts = new QWidget(this);
    m_charts->setObjectName(QStringLiteral("Charts"));
    auto *charts = new QVBoxLayout(m_charts);
    charts->setContentsMargins(0, 0, 0, 0);
    ChartTime = chartView(timeChart(revenue, m_periodText), "ChartTime", m_charts);
    ChartServices = chartView(serviceChart(revenue), "ChartServices", m_charts);
    ChartTime->setMinimumHeight(300);
    // The axis shortens names that do not get a row of their own height.
    const int services = static_cast<int>(revenue.byService().size());
    ChartServices->setMinimumHeight(std::max(ChartServices->minimumHeight(), 130 + ServiceRowHeight * services));
    auto *chartMethods = chartView(methodChart(revenue), "ChartMethods", m_charts);
    const int methods = static_cast<int>(revenue.byMethod().size());
    chartMethods->setMinimumHeight(std::max(chartMethods->minimumHeight(), 100 + ServiceRowHeight * methods));
    charts->addWidget(ChartTime, 3);
    charts->addWidget(ChartServices, 2 + services / 4);
    charts->addWidget(chartMethods, 2);

    BtnSavePng = new QPushButton(QStringLiteral("Сохранить PNG…"), this);
    BtnSavePng->setObjectName(QStringLiteral("BtnSavePng"));
    BtnSavePng->setAutoDefault(false);
    BtnClose = new QPushButton(QStringLiteral("Закрыть"), this);
    BtnClose->setObjectName(QStringLiteral("BtnClose"));
    BtnClose->setAutoDefault(false);
    connect(BtnSavePng, &QPushButton::clicked, this, [this] { BtnSavePngClick(); });
    connect(BtnClose, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(BtnSavePng);
    buttons->addStretch(1);
    buttons->addWidget(BtnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_charts, 1);
    layout->addLayout(buttons);
    resize(900, std::max(680, sizeHint().height()));
}

void TChartWindow::saveTo(const QString &path) const
{
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!m_charts->grab().save(&buffer, "PNG"))
            throw Error(QStringLiteral("Не удалось построить рисунок графика для файла %1").arg(path));
    }
    try {
        AtomicFile file(path);
        file.open().write(png);
        file.commit();
    } catch (const AtomicFileError &e) {
        throw Error(QStringLiteral("Не удалось сохранить график в файл %1: %2")
                        .arg(QDir::toNativeSeparators(path), e.message()));
    }
}

void TChartWindow::BtnSavePngClick()
{
    guard([&] {
        QString name = m_periodText;
        name.replace(QStringLiteral(" – "), QStringLiteral("-"));
        QFileDialog dialog(this, QStringLiteral("Сохранить график"),
                           QDir::home().filePath(QStringLiteral("Выручка ") + name + QStringLiteral(".png")),
                           QStringLiteral("Рисунок PNG (*.png)"));
        dialog.setObjectName(QStringLiteral("SavePngDialog"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("png"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return;
        saveTo(dialog.selectedFiles().constFirst());
    });
}

} // namespace bilmeko
