#include "ui/main/panelwidgets.h"

#include "acquisition/livegraph.h"
#include "ui/main/graphpainter.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>

namespace powerlog {

StatusPanels::StatusPanels(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    for (int i = 0; i < 2; ++i) {
        m_panels[i] = new QLabel(this);
        m_panels[i]->setObjectName(QStringLiteral("StBar_panel%1").arg(i + 1));
        m_panels[i]->setFrameShape(QFrame::StyledPanel);
        m_panels[i]->setFrameShadow(QFrame::Sunken);
        m_panels[i]->setContentsMargins(4, 0, 4, 0);
        m_panels[i]->setTextFormat(Qt::PlainText);
        m_panels[i]->setMouseTracking(true);
        m_panels[i]->installEventFilter(this);
        layout->addWidget(m_panels[i], i == 0 ? 3 : 1);
    }
}

void StatusPanels::setPanelText(int panel, const QString& text)
{
    m_panels[panel - 1]->setText(text);
}

QString StatusPanels::panelText(int panel) const
{
    return m_panels[panel - 1]->text();
}

bool StatusPanels::eventFilter(QObject* watched, QEvent* event)
{
    if (m_clicks.isClick(watched, event)) {
        for (int i = 0; i < 2; ++i) {
            if (watched == m_panels[i])
                emit panelClicked(i + 1);
        }
    }
    return QWidget::eventFilter(watched, event);
}

ModeBox::ModeBox(std::function<QString()> text, QWidget* parent)
    : QWidget(parent), m_text(std::move(text))
{
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    setCursor(Qt::PointingHandCursor);
}

void ModeBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::ButtonText));
    // A small margin from the top left corner, as the box always printed its word.
    const QRect area = rect().adjusted(3, 0, 0, 0);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, m_text());
}

void ModeBox::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

PowerGraphView::PowerGraphView(const LiveGraphModel& model, std::function<int()> linePower,
                               QWidget* parent)
    : QWidget(parent), m_model(model), m_linePower(std::move(linePower))
{
    setFixedSize(101 * kScale, 32 * kScale);
}

void PowerGraphView::showCleared()
{
    m_clearedShown = false;
    update();
}

void PowerGraphView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.scale(kScale, kScale);
    // A cleared drawing stays blank for one painting only: the history survives the clearing,
    // so the next repaint brings the bars back even before the next reading.
    const bool blank = m_model.drawingCleared() && !m_clearedShown;
    paintPowerGraph(painter, m_model, m_linePower(), !blank);
    if (blank)
        m_clearedShown = true;
}

LightShape::LightShape(QWidget* parent) : QWidget(parent), m_colour(70, 90, 70) {}

void LightShape::setColour(const QColor& colour)
{
    m_colour = colour;
    update();
}

void LightShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(30, 30, 30), 1));
    painter.setBrush(m_colour);
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

BarShape::BarShape(QWidget* parent) : QWidget(parent) {}

void BarShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(70, 160, 230));
}

} // namespace powerlog
