#include "ui/charts/chartview.h"

#include "ui/charts/chartpainter.h"
#include "ui/common/controls.h"

#include <QHelpEvent>
#include <QPainter>
#include <QtMath>
#include <utility>

namespace powerlog {

namespace {

// Crisp lines and boxes, smooth labels.
void prepare(QPainter& painter)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
}

} // namespace

ChartView::ChartView(QWidget* parent) : QWidget(parent) {}

void ChartView::setChart(const ChartSeries& series, const ChartScale& scale)
{
    m_series = series;
    m_scale = scale;
    update();
}

void ChartView::setToolTipText(ToolTipText text)
{
    m_toolTipText = std::move(text);
}

QImage ChartView::renderImage(qreal devicePixelRatio) const
{
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QImage image(qCeil(kChartWidth * ratio), qCeil(kChartHeight * ratio), QImage::Format_ARGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    QPainter painter(&image);
    prepare(painter);
    paintChart(painter, m_series, m_scale);
    return image;
}

QPointF ChartView::toLogical(const QPoint& widgetPoint) const
{
    const QRect viewport = chartViewport();
    if (viewport.isEmpty())
        return {};
    return QPointF((widgetPoint.x() - viewport.x()) * qreal(kChartWidth) / viewport.width(),
                   (widgetPoint.y() - viewport.y()) * qreal(kChartHeight) / viewport.height());
}

QSize ChartView::minimumSizeHint() const
{
    return QSize(kChartWidth / 2, kChartHeight / 2);
}

QSize ChartView::sizeHint() const
{
    return QSize(kChartWidth, kChartHeight);
}

bool ChartView::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    auto* help = static_cast<QHelpEvent*>(event);
    return answerToolTip(this, help, toolTipAt(help->pos()));
}

void ChartView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setWindow(0, 0, kChartWidth, kChartHeight);
    painter.setViewport(chartViewport());
    prepare(painter);
    paintChart(painter, m_series, m_scale);
}

QRect ChartView::chartViewport() const
{
    const QSize fitted = QSize(kChartWidth, kChartHeight).scaled(size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

QString ChartView::toolTipAt(const QPoint& widgetPoint) const
{
    if (!m_toolTipText)
        return {};
    const int group = chartGroupAt(m_series, toLogical(widgetPoint));
    return group > 0 ? m_toolTipText(m_series, group) : QString();
}

} // namespace powerlog
