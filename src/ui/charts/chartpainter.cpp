#include "ui/charts/chartpainter.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace powerlog {

namespace {

// Surface layout, in logical pixels.
constexpr int kAxisX = 35;         // the vertical axis
constexpr int kAxisTop = 1;        // nothing is drawn above this row
constexpr int kBaseY = 360;        // the horizontal axis: zero watts
constexpr int kGridLeft = 33;      // grid lines poke out left of the axis
constexpr int kRightX = 750;       // right end of the grid, the axis and the dotted lines
constexpr int kGridLines = 35;     // line k stands at y = 10k; the first is the ceiling
constexpr int kGridStep = 10;      // rows between grid lines
constexpr int kTopLineY = 10;      // bars and lines above the scale stop here
constexpr int kLeftLabelX = 1;     // scale labels left of the axis...
constexpr int kRightLabelX = 753;  // ...and again right of the grid
constexpr int kBucketLabelY = 361; // top of the hour, day and year labels
constexpr int kMarkHeight = 4;     // of the triangle over a bar that runs off the scale
constexpr qreal kHitSlack = 3;     // columns either side of a bar that still count as the bar

// Columns per hour of a daily chart (two bars) and per day or year of the others (one bar).
constexpr int kHours = 24;
constexpr int kHourStep = 30;
constexpr qreal kDayStep = 22.8;
constexpr int kMonthDays = 31;
constexpr int kYearLabels = 30; // the 31st year's bar goes unlabelled

const QColor kStrongInk(0, 0, 0);
const QColor kFaintInk(128, 128, 128);
const QColor kMaxLineColour(255, 0, 0);
const QColor kAvgLineColour(0, 100, 20);
const QColor kMaxBarColour(255, 160, 160);
const QColor kSecondHalfMaxBarColour(255, 200, 200);

// How the average bar is coloured, by how high it reaches on the surface.
struct Band
{
    QColor fill;
    QColor outline;
};

Band bandFor(qreal top)
{
    if (top < 100)
        return {QColor(255, 0, 0), QColor(200, 0, 0)};
    if (top < 200)
        return {QColor(255, 255, 0), QColor(200, 200, 0)};
    return {QColor(0, 255, 0), QColor(0, 200, 0)};
}

// The pixels from (x1, y1) to (x2, y2), both corners included. Filling whole pixel cells
// instead of stroking keeps every line and box on its own rows when the surface is scaled.
QRectF cells(qreal x1, qreal y1, qreal x2, qreal y2)
{
    return QRectF(QPointF(std::min(x1, x2), std::min(y1, y2)),
                  QPointF(std::max(x1, x2) + 1, std::max(y1, y2) + 1));
}

// The first and last column of a group's bar.
struct BarSpan
{
    qreal left = 0;
    qreal right = 0;
};

BarSpan barSpan(ChartType type, int group)
{
    if (type == ChartType::Daily) {
        // Two bars an hour: the first half hour at 6..10, the second at 21..25.
        const int hour = (group + 1) / 2;
        const qreal left = kHourStep * hour + (group % 2 == 1 ? 6 : 21);
        return {left, left + 4};
    }
    const qreal left = kDayStep * group + 13.2;
    return {left, left + 4};
}

// How many groups have a bar column: none without a period.
int barCount(const ChartSeries& series)
{
    if (!series.first.isValid())
        return 0;
    switch (series.type) {
    case ChartType::Daily:
        return std::min(series.groupCount(), ChartSeries::kHalfHours);
    case ChartType::Monthly:
        return std::min(series.groupCount(), kMonthDays);
    case ChartType::Yearly:
        return std::min(series.groupCount(), ChartSeries::kYears);
    }
    return 0;
}

double valueAt(const std::vector<float>& values, int group)
{
    return group >= 0 && group < int(values.size()) ? double(values[size_t(group)]) : 0.0;
}

class ChartDrawing
{
public:
    ChartDrawing(QPainter& painter, const ChartScale& scale)
        : m_painter(painter), m_scale(scale), m_wattsPerPixel(std::max(scale.wattsPerPixel(), 1.0))
    {
    }

    void grid()
    {
        const int emphasis = m_scale.ceiling == 3500 ? 5 : 7;
        for (int k = 1; k <= kGridLines; ++k) {
            const int y = kGridStep * k;
            const QColor& ink = (k - 1) % emphasis == 0 ? kStrongInk : kFaintInk;
            m_painter.fillRect(cells(kGridLeft, y, kRightX, y), ink);
            const long watts = std::lround(m_scale.ceiling / double(kGridLines) * (36 - k));
            const QString label = QString::number(watts) + QLatin1Char('W');
            text(kRightLabelX, y - 5, label, ink);
            text(kLeftLabelX, y - 5, label, ink);
        }
    }

    void axes()
    {
        m_painter.fillRect(cells(kAxisX, kAxisTop, kAxisX, kBaseY), kStrongInk);
        m_painter.fillRect(cells(kAxisX, kBaseY, kRightX, kBaseY), kStrongInk);
    }

    // A dotted line across the chart at `power`, left out when there is none.
    void summaryLine(qint64 power, const QColor& colour)
    {
        if (power <= 0)
            return;
        const qreal y = std::max(heightTop(double(power)), qreal(kTopLineY));
        // The pattern of a one pixel wide Qt::DotLine: one pixel drawn, two left out.
        for (int x = kAxisX; x <= kRightX; x += 3)
            m_painter.fillRect(cells(x, y, x, y), colour);
    }

    void bucketLabel(qreal x, int number)
    {
        text(x, kBucketLabelY, QStringLiteral(" %1").arg(number), kFaintInk);
    }

    // The group's largest power behind its average, both standing on the axis.
    void bucket(const BarSpan& span, double avg, double max, const QColor& maxColour)
    {
        if (max > 0) {
            const qreal top = heightTop(max);
            m_painter.fillRect(box(span, top), maxColour);
            if (top < kTopLineY)
                overflowMark(span, maxColour);
        }
        if (avg > 0) {
            const qreal top = heightTop(avg);
            const Band band = bandFor(top);
            const QRectF outer = box(span, top);
            m_painter.fillRect(outer, band.outline);
            const QRectF inner = outer.adjusted(1, 1, -1, -1);
            if (inner.isValid())
                m_painter.fillRect(inner, band.fill);
            if (top < kTopLineY)
                overflowMark(span, band.outline);
        }
    }

private:
    qreal heightTop(double power) const { return kBaseY - power / m_wattsPerPixel; }

    // From the row above the axis up to `top`, held at the top grid line; a bar too small for
    // a pixel of its own still shows as one row.
    static QRectF box(const BarSpan& span, qreal top)
    {
        const qreal clamped = std::clamp(top, qreal(kTopLineY), qreal(kBaseY - 1));
        return cells(span.left, clamped, span.right, kBaseY - 1);
    }

    // A small triangle pointing up just above the top grid line, its base a little wider than
    // the bar so that its lowest row covers all five columns.
    void overflowMark(const BarSpan& span, const QColor& colour)
    {
        const qreal middle = (span.left + span.right + 1) / 2;
        const QPolygonF triangle({QPointF(middle - 3, kTopLineY), QPointF(middle + 3, kTopLineY),
                                  QPointF(middle, kTopLineY - kMarkHeight)});
        m_painter.setPen(Qt::NoPen);
        m_painter.setBrush(colour);
        m_painter.drawPolygon(triangle);
    }

    void text(qreal x, qreal top, const QString& label, const QColor& colour)
    {
        m_painter.setPen(colour);
        m_painter.drawText(QRectF(x, top, kChartWidth, kChartHeight),
                           Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, label);
    }

    QPainter& m_painter;
    const ChartScale& m_scale;
    const double m_wattsPerPixel;
};

void paintBuckets(ChartDrawing& drawing, const ChartSeries& series)
{
    const int bars = barCount(series);
    switch (series.type) {
    case ChartType::Daily:
        // The hours are labelled even before a day is chosen.
        for (int hour = 0; hour < kHours; ++hour)
            drawing.bucketLabel(32 + kHourStep * hour, hour);
        for (int slot = 1; slot <= bars; ++slot) {
            drawing.bucket(barSpan(series.type, slot), valueAt(series.avg, slot),
                           valueAt(series.max, slot),
                           slot % 2 == 1 ? kMaxBarColour : kSecondHalfMaxBarColour);
        }
        return;
    case ChartType::Monthly:
        if (!series.first.isValid())
            return;
        for (int day = 1; day <= kMonthDays; ++day)
            drawing.bucketLabel(32 + kDayStep * (day - 1), day);
        break;
    case ChartType::Yearly:
        if (!series.first.isValid())
            return;
        for (int k = 0; k < kYearLabels; ++k)
            drawing.bucketLabel(32 + kDayStep * k, series.first.year() + k);
        break;
    }
    for (int group = 1; group <= bars; ++group) {
        drawing.bucket(barSpan(series.type, group), valueAt(series.avg, group),
                       valueAt(series.max, group), kMaxBarColour);
    }
}

} // namespace

QFont chartFont()
{
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(8);
    return font;
}

void paintChart(QPainter& painter, const ChartSeries& series, const ChartScale& scale)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setFont(chartFont());
    painter.setClipRect(QRectF(0, kAxisTop, kChartWidth, kChartHeight - kAxisTop),
                        painter.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);

    ChartDrawing drawing(painter, scale);
    drawing.grid();
    drawing.axes();
    drawing.summaryLine(series.maxPower, kMaxLineColour);
    drawing.summaryLine(series.avgPower, kAvgLineColour);
    paintBuckets(drawing, series);

    painter.restore();
}

int chartGroupAt(const ChartSeries& series, const QPointF& logical)
{
    if (logical.y() < kTopLineY - 1 || logical.y() > kBaseY)
        return 0;
    const int bars = barCount(series);
    for (int group = 1; group <= bars; ++group) {
        const BarSpan span = barSpan(series.type, group);
        if (logical.x() >= span.left - kHitSlack && logical.x() < span.right + 1 + kHitSlack)
            return group;
    }
    return 0;
}

} // namespace powerlog
