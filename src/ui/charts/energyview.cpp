#include "ui/charts/energyview.h"

#include "ui/common/controls.h"

#include <QHelpEvent>
#include <QPainter>
#include <QtMath>
#include <utility>

namespace powerlog {

EnergyView::EnergyView(QWidget* parent) : QWidget(parent) {}

void EnergyView::setChart(EnergyChart chart)
{
    m_chart = std::move(chart);
    update();
}

void EnergyView::setToolTipText(ToolTipText text)
{
    m_toolTipText = std::move(text);
}

QString EnergyView::toolTipAt(const QPoint& widgetPoint) const
{
    if (!m_toolTipText)
        return {};
    const int index = chartLayout().groupAt(widgetPoint);
    return index >= 0 ? m_toolTipText(m_chart.table, index) : QString();
}

EnergyLayout EnergyView::chartLayout() const
{
    return EnergyLayout(size(), m_chart);
}

QImage EnergyView::renderImage(qreal devicePixelRatio) const
{
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QImage image(qCeil(kImageWidth * ratio), qCeil(kImageHeight * ratio), QImage::Format_ARGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintEnergyChart(painter, QSizeF(kImageWidth, kImageHeight), m_chart);
    return image;
}

QSize EnergyView::minimumSizeHint() const
{
    return QSize(kImageWidth / 2, kImageHeight / 2);
}

QSize EnergyView::sizeHint() const
{
    return QSize(kImageWidth, kImageHeight);
}

bool EnergyView::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    auto* help = static_cast<QHelpEvent*>(event);
    return answerToolTip(this, help, toolTipAt(help->pos()));
}

void EnergyView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintEnergyChart(painter, size(), m_chart);
}

} // namespace powerlog
