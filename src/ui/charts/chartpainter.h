#pragma once

#include "acquisition/chartseries.h"

#include <QFont>
#include <QPointF>

class QPainter;

namespace powerlog {

// The chart is drawn on a fixed logical surface; callers map it onto their device.
inline constexpr int kChartWidth = 826;
inline constexpr int kChartHeight = 376;

// The font of the scale and bucket labels, sized in logical pixels so that the scale labels,
// ten pixels apart, never overlap and the widest one fits left of the vertical axis.
QFont chartFont();

// Draws the grid, the axes, the chart's average and largest power as dotted lines and one bar
// pair per group onto the logical 826 x 376 surface (origin top left, y downward). Draws no
// background; lines and boxes are drawn without antialiasing whatever the painter's hints.
void paintChart(QPainter& painter, const ChartSeries& series, const ChartScale& scale);

// The group (1-based) whose bar column lies under `logical`, with a little slack either side
// of the bar and any height from the top grid line to the horizontal axis; 0 elsewhere.
int chartGroupAt(const ChartSeries& series, const QPointF& logical);

} // namespace powerlog
