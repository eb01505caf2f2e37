#pragma once
// The revenue chart window is a module of its own (bilmeko-chart.so, with
// Qt Charts), loaded by the report window the first time "График" is
// pressed, so the program starts without Qt Charts. This is what passes
// between the two: the module has its own copy of the formats and of the
// error box's routing, so the program hands over its own.

#include "common/core/formats.h"
#include "journal/core/revenuechart.h"

class QWidget;

namespace bilmeko {

struct ChartHost
{
    // Raised whenever ChartHost, RevenueChart or Formats change shape, so a
    // module from another build is refused rather than misread.
    static constexpr int CurrentVersion = 1;

    int version = CurrentVersion;
    const Formats *formats = nullptr;
    // The program's error box: errors inside the chart window end up here.
    void (*showErrorBox)(const QString &message) = nullptr;
};

// The module's one entry: shows the chart window modally over the parent.
// Returns false when it refuses the host (another version).
using ShowRevenueChartFn = bool (*)(const ChartHost *host, QWidget *parent, const RevenueChart *revenue);
inline constexpr char ShowRevenueChartSymbol[] = "bilmekoShowRevenueChart";

} // namespace bilmeko
