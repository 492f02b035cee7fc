#pragma once

#include "acquisition/chartseries.h"

#include <QImage>
#include <QWidget>
#include <functional>

namespace powerlog {

// Shows one chart on white, scaled to the largest centred rectangle of the widget that keeps
// the chart's proportions, and a tooltip over each bar column.
class ChartView : public QWidget
{
    Q_OBJECT
public:
    // The tooltip of a bar column, from the shown chart and its group (1-based). An empty
    // text shows no tooltip.
    using ToolTipText = std::function<QString(const ChartSeries& series, int group)>;

    explicit ChartView(QWidget* parent = nullptr);

    void setChart(const ChartSeries& series, const ChartScale& scale);
    const ChartSeries& series() const { return m_series; }
    const ChartScale& scale() const { return m_scale; }

    void setToolTipText(ToolTipText text);

    // The chart at its logical 826 x 376 size on white, whatever the widget's size, into an
    // image of that size times `devicePixelRatio` pixels carrying that ratio.
    QImage renderImage(qreal devicePixelRatio = 1.0) const;

    // A point of the widget on the chart's logical surface.
    QPointF toLogical(const QPoint& widgetPoint) const;

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QRect chartViewport() const;
    QString toolTipAt(const QPoint& widgetPoint) const;

    ChartSeries m_series;
    ChartScale m_scale;
    ToolTipText m_toolTipText;
};

} // namespace powerlog
