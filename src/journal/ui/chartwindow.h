#pragma once
// The revenue chart window: the period's revenue by day (by hour for a
// single day) as bars above, by service as a ranked bar chart below, totals
// in the legends; "Сохранить PNG…" saves both as one picture.

#include "journal/core/revenuechart.h"

#include <QDialog>
#include <QString>

class QChartView;
class QPushButton;
class QWidget;

namespace bilmeko {

class TChartWindow : public QDialog
{
    Q_OBJECT
public:
    TChartWindow(const RevenueChart &revenue, QWidget *parent = nullptr);

    // Writes the picture of both charts as a PNG file: a temporary file
    // beside it, flushed, renamed over it. Throws Error with a message
    // naming the file; no partial file is left.
    void saveTo(const QString &path) const;

    // "Сохранить PNG…": asks for the file name, then saves.
    void BtnSavePngClick();

    QChartView *ChartTime;
    QChartView *ChartServices;
    QPushButton *BtnSavePng;
    QPushButton *BtnClose;

private:
    QWidget *m_charts;
    QString m_periodText;
};

// "01.10.2026 – 31.12.2026" in the short date format.
QString periodText(DateTimeValue dateBeg, DateTimeValue dateEnd);

} // namespace bilmeko
