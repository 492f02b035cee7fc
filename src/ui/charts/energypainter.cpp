#include "ui/charts/energypainter.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>

namespace powerlog {

namespace {

constexpr TariffBand kBands[] = {TariffBand::F1, TariffBand::F2, TariffBand::F3};

constexpr qreal kEdge = 4;         // blank border round the chart
constexpr qreal kLabelGap = 6;     // between a label and the axis it belongs to
constexpr qreal kRightMargin = 12; // right of the plot
constexpr qreal kBarShare = 0.7;   // of a column that its bar fills
constexpr int kMostSteps = 10;
constexpr double kSmallestCeiling = 0.1; // kWh

const QColor kInk(0, 0, 0);
const QColor kLabelInk(80, 80, 80);
// The distance between the white lines over a bar whose bands are estimated.
constexpr qreal kHatchStep = 5;
const QColor kGridInk(222, 222, 222);

qreal lineHeight(const QFontMetricsF& metrics)
{
    return std::ceil(metrics.height());
}

double largestGroup(const EnergyTable& table)
{
    double largest = 0;
    for (const EnergyFigures& group : table.groups)
        largest = std::max(largest, group.kwh());
    return largest;
}

QString scaleLabel(const QLocale& locale, const EnergyScale& scale, int step)
{
    return locale.toString(scale.step * step, 'f', scale.decimals);
}

const QString kUnit = QStringLiteral("kWh");

QString bandName(TariffBand band)
{
    return QStringLiteral("F%1").arg(bandIndex(band) + 1);
}

} // namespace

void hatchEstimated(QPainter& painter, const QRectF& area)
{
    if (area.isEmpty())
        return;
    painter.save();
    painter.setClipRect(area);
    painter.setPen(QPen(Qt::white, 1.5));
    const qreal rise = area.height();
    for (qreal x = area.left() - rise; x < area.right(); x += kHatchStep)
        painter.drawLine(QPointF(x, area.bottom()), QPointF(x + rise, area.top()));
    painter.restore();
}

QColor energyBandColour(TariffBand band)
{
    switch (band) {
    case TariffBand::F1:
        return QColor(214, 64, 56);
    case TariffBand::F2:
        return QColor(240, 164, 26);
    case TariffBand::F3:
        return QColor(58, 140, 70);
    }
    return kInk;
}

QFont energyChartFont()
{
    QFont font;
    font.setPixelSize(11);
    return font;
}

EnergyScale energyScale(double largest, int mostSteps)
{
    // A little room above the tallest bar, so that it never ends on the top line.
    const double target = std::max(largest * 1.04, kSmallestCeiling);
    const int steps = std::max(mostSteps, 1);
    const double magnitude = std::pow(10.0, std::floor(std::log10(target / steps)));
    EnergyScale scale;
    for (double factor : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        scale.step = factor * magnitude;
        if (scale.step * steps >= target * (1 - 1e-9))
            break;
    }
    scale.steps = std::max(1, int(std::ceil(target / scale.step - 1e-9)));
    // As many decimals as the step has: 0.25 needs two.
    scale.decimals = 0;
    while (scale.decimals < 6) {
        const double scaled = scale.step * std::pow(10.0, scale.decimals);
        if (std::abs(scaled - std::round(scaled)) < 1e-6 * std::max(1.0, scaled))
            break;
        ++scale.decimals;
    }
    return scale;
}

EnergyLayout::EnergyLayout(const QSizeF& size, const EnergyChart& chart) : m_table(chart.table)
{
    const QFontMetricsF metrics(energyChartFont());
    const qreal line = lineHeight(metrics);
    const qreal top = kEdge + line + std::ceil(line / 2) + kEdge;
    const qreal bottom = std::max(top + 1, std::floor(size.height() - line - 2 * kEdge));

    m_groups = int(m_table.groups.size());
    const int mostSteps = std::clamp(int((bottom - top) / (2 * line)), 1, kMostSteps);
    m_scale = energyScale(largestGroup(m_table), mostSteps);

    qreal widest = metrics.horizontalAdvance(kUnit);
    for (int step = 0; step <= m_scale.steps; ++step)
        widest =
            std::max(widest, metrics.horizontalAdvance(scaleLabel(chart.locale, m_scale, step)));
    const qreal left = std::ceil(kEdge + widest + kLabelGap);
    const qreal right = std::max(left + 1, std::floor(size.width() - kRightMargin));
    m_plot = QRectF(left, top, right - left, bottom - top);

    if (m_groups > 0) {
        qreal widestGroup = 0;
        for (const QString& label : chart.groupLabels)
            widestGroup = std::max(widestGroup, metrics.horizontalAdvance(label));
        const qreal slot = m_plot.width() / m_groups;
        m_labelStride = std::max(1, int(std::ceil((widestGroup + kLabelGap) / slot)));
    }
}

QRectF EnergyLayout::column(int index) const
{
    if (index < 0 || index >= m_groups)
        return {};
    const qreal slot = m_plot.width() / m_groups;
    return QRectF(m_plot.left() + slot * index, m_plot.top(), slot, m_plot.height());
}

qreal EnergyLayout::rowOf(double kwh) const
{
    return std::round(m_plot.bottom() - kwh / m_scale.ceiling() * m_plot.height());
}

QRectF EnergyLayout::segment(int index, TariffBand band) const
{
    if (index < 0 || index >= m_groups)
        return {};
    const EnergyFigures& figures = m_table.groups.at(index);
    double below = 0;
    for (TariffBand each : kBands) {
        if (each == band)
            break;
        below += figures.kwh(each);
    }
    const qreal lower = rowOf(below);
    const qreal upper = rowOf(below + figures.kwh(band));
    if (upper >= lower)
        return {};
    const QRectF slice = column(index);
    const qreal width = std::max(qreal(1), std::floor(slice.width() * kBarShare));
    const qreal left = std::round(slice.left() + (slice.width() - width) / 2);
    return QRectF(left, upper, width, lower - upper);
}

QRectF EnergyLayout::bar(int index) const
{
    QRectF whole;
    for (TariffBand band : kBands)
        whole = whole.united(segment(index, band));
    return whole;
}

int EnergyLayout::groupAt(const QPointF& point) const
{
    if (m_groups == 0 || point.y() < m_plot.top() || point.y() > m_plot.bottom() ||
        point.x() < m_plot.left() || point.x() >= m_plot.right())
        return -1;
    const int index = int((point.x() - m_plot.left()) / (m_plot.width() / m_groups));
    return std::clamp(index, 0, m_groups - 1);
}

void paintEnergyChart(QPainter& painter, const QSizeF& size, const EnergyChart& chart)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const QFont font = energyChartFont();
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    const qreal line = lineHeight(metrics);

    const EnergyLayout layout(size, chart);
    const QRectF& plot = layout.plot();
    const EnergyScale& scale = layout.scale();
    const auto write = [&](const QRectF& box, int alignment, const QString& text,
                           const QColor& ink) {
        painter.setPen(ink);
        painter.drawText(box, alignment | Qt::TextDontClip, text);
    };

    painter.fillRect(QRectF(QPointF(0, 0), size), Qt::white);

    // The grid and the kWh labels, the unit above them.
    const qreal labelRight = plot.left() - kLabelGap;
    for (int step = 0; step <= scale.steps; ++step) {
        const qreal row = layout.rowOf(scale.step * step);
        if (step > 0)
            painter.fillRect(QRectF(plot.left(), row, plot.width(), 1), kGridInk);
        write(QRectF(0, row - line / 2, labelRight, line), Qt::AlignRight | Qt::AlignVCenter,
              scaleLabel(chart.locale, scale, step), kLabelInk);
    }
    write(QRectF(0, kEdge, labelRight, line), Qt::AlignRight | Qt::AlignTop, kUnit, kLabelInk);

    // The bars, each band stacked on the ones before it; a bar whose bands are a guess is
    // hatched over.
    bool anyEstimated = false;
    for (int index = 0; index < layout.groupCount(); ++index) {
        for (TariffBand band : kBands) {
            const QRectF segment = layout.segment(index, band);
            if (!segment.isEmpty())
                painter.fillRect(segment, energyBandColour(band));
        }
        if (chart.table.groups.at(index).estimatedWattSeconds > 0) {
            anyEstimated = true;
            hatchEstimated(painter, layout.bar(index));
        }
    }

    // The axes.
    painter.fillRect(QRectF(plot.left() - 1, plot.top(), 1, plot.height() + 1), kInk);
    painter.fillRect(QRectF(plot.left() - 1, plot.bottom(), plot.width() + 1, 1), kInk);

    // The groups' labels under their columns.
    for (int index = 0; index < layout.groupCount() && index < chart.groupLabels.size();
         index += layout.labelStride()) {
        const QRectF slice = layout.column(index);
        write(QRectF(slice.center().x() - 50, plot.bottom() + kEdge, 100, line),
              Qt::AlignHCenter | Qt::AlignTop, chart.groupLabels.at(index), kLabelInk);
    }

    // The legend, right-aligned above the plot.
    const qreal swatch = std::max(qreal(6), line - 4);
    const qreal gap = 4;
    const qreal spacing = 14;
    struct Entry
    {
        QString name;
        QColor colour;
        bool hatched = false;
    };
    QList<Entry> entries;
    for (TariffBand band : kBands)
        entries.append({bandName(band), energyBandColour(band)});
    if (anyEstimated && !chart.estimatedLabel.isEmpty())
        entries.append({chart.estimatedLabel, kLabelInk, true});
    qreal width = 0;
    for (const Entry& entry : entries)
        width += swatch + gap + std::ceil(metrics.horizontalAdvance(entry.name)) + spacing;
    qreal x = std::floor(plot.right() - (width - spacing));
    for (const Entry& entry : entries) {
        const QRectF box(x, kEdge + std::floor((line - swatch) / 2), swatch, swatch);
        painter.fillRect(box, entry.colour);
        if (entry.hatched)
            hatchEstimated(painter, box);
        x += swatch + gap;
        const qreal textWidth = std::ceil(metrics.horizontalAdvance(entry.name));
        write(QRectF(x, kEdge, textWidth, line), Qt::AlignLeft | Qt::AlignTop, entry.name, kInk);
        x += textWidth + spacing;
    }

    painter.restore();
}

} // namespace powerlog
