#pragma once

#include "acquisition/energyaccounts.h"
#include "acquisition/tariffbands.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QLocale>
#include <QRectF>
#include <QSizeF>
#include <QStringList>

class QPainter;

namespace powerlog {

// What the energy chart shows: a table and what its axes say.
struct EnergyChart
{
    EnergyTable table;             // without a period (first invalid) only the grid is drawn
    QStringList groupLabels;       // along the time axis, one a group
    QLocale locale = QLocale::c(); // of the numbers of the kWh axis
    // The legend's word for bars whose bands are estimated; the entry shows only when a bar is.
    QString estimatedLabel;
};

// Hatches `area` with white lines over what is drawn there: a bar whose bands are estimated.
void hatchEstimated(QPainter& painter, const QRectF& area);

// The colour of a band in the bars and the legend.
QColor energyBandColour(TariffBand band);

// The font of every text of the chart, sized in logical pixels.
QFont energyChartFont();

// The kWh axis: a step of 1, 2, 2.5 or 5 times a power of ten, and as many steps as it takes to
// reach a little above the largest value.
struct EnergyScale
{
    double step = 0.1;
    int steps = 1;
    int decimals = 1; // of the axis labels

    double ceiling() const { return step * steps; }
};

// The scale for bars up to `largest` kWh with at most `mostSteps` grid steps. Anything below
// 0.1 kWh, nothing included, is drawn on the scale of 0.1 kWh.
EnergyScale energyScale(double largest, int mostSteps);

// Where the parts of an energy chart go on a surface of `size` logical pixels, origin top
// left: the legend along the top, the kWh labels left of the plot, the group labels under it.
// Every edge stands on a whole logical pixel, so that bars and lines stay sharp at any scale.
class EnergyLayout
{
public:
    EnergyLayout(const QSizeF& size, const EnergyChart& chart);

    // The bars' area; its bottom edge is the zero line, drawn in the row below it.
    const QRectF& plot() const { return m_plot; }
    const EnergyScale& scale() const { return m_scale; }
    int groupCount() const { return m_groups; }
    // The slice of the plot that belongs to group `index` (0-based).
    QRectF column(int index) const;
    // The part of a group's bar in a band's colour: F1 at the bottom, F3 on top. Empty when
    // the band's share is below half a pixel.
    QRectF segment(int index, TariffBand band) const;
    // The whole bar of a group, its bands together.
    QRectF bar(int index) const;
    // The row of the plot that stands for `kwh`.
    qreal rowOf(double kwh) const;
    // Every `labelStride()`-th group is labelled, so that the labels never overlap.
    int labelStride() const { return m_labelStride; }
    // The group whose column holds `point` within the plot's height, or -1.
    int groupAt(const QPointF& point) const;

private:
    EnergyTable m_table;
    QRectF m_plot;
    EnergyScale m_scale;
    int m_groups = 0;
    int m_labelStride = 1;
};

// Draws the chart on a white surface of `size` logical pixels.
void paintEnergyChart(QPainter& painter, const QSizeF& size, const EnergyChart& chart);

} // namespace powerlog
