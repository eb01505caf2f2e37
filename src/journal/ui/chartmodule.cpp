// The entry of the revenue chart module.

#include "chartmodule.h"

#include "chartwindow.h"
#include "common/core/errors.h"

using namespace bilmeko;

extern "C" Q_DECL_EXPORT bool bilmekoShowRevenueChart(const ChartHost *host, QWidget *parent,
                                                      const RevenueChart *revenue)
{
    if (!host || host->version != ChartHost::CurrentVersion || !host->formats || !host->showErrorBox || !revenue)
        return false;
    Formats::setCurrent(*host->formats);
    setErrorSink([show = host->showErrorBox](const QString &text) { show(text); });
    guard([&] {
        TChartWindow window(*revenue, parent);
        window.exec();
    });
    return true;
}
