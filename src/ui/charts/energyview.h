#pragma once

#include "ui/charts/energypainter.h"

#include <QImage>
#include <QWidget>
#include <functional>

namespace powerlog {

// Shows the energy of a period as stacked bars, laid out afresh for the widget's size (texts
// keep their size, bars and grid stretch), and a tooltip over each bar's column.
class EnergyView : public QWidget
{
    Q_OBJECT
public:
    // The tooltip of a group (0-based) of the shown table. An empty text shows no tooltip.
    using ToolTipText = std::function<QString(const EnergyTable& table, int index)>;

    // The size of the saved picture, that of the power chart's.
    static constexpr int kImageWidth = 826;
    static constexpr int kImageHeight = 376;

    explicit EnergyView(QWidget* parent = nullptr);

    void setChart(EnergyChart chart);
    const EnergyChart& chart() const { return m_chart; }

    void setToolTipText(ToolTipText text);
    // The text of the tooltip at a point of the widget.
    QString toolTipAt(const QPoint& widgetPoint) const;

    // Where the chart's parts are at the widget's present size.
    EnergyLayout chartLayout() const;

    // The chart laid out for kImageWidth x kImageHeight logical pixels, into an image of that
    // size times `devicePixelRatio` pixels carrying that ratio.
    QImage renderImage(qreal devicePixelRatio = 1.0) const;

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    EnergyChart m_chart;
    ToolTipText m_toolTipText;
};

} // namespace powerlog
