#include "ui/main/panelwidgets.h"

#include "acquisition/livegraph.h"
#include "ui/main/graphpainter.h"
#include "ui/main/serverpictures.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace powerlog {

Backdrop::Backdrop(const QColor& top, const QColor& bottom, QWidget* parent)
    : QWidget(parent), m_top(top), m_bottom(bottom)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void Backdrop::paintEvent(QPaintEvent* event)
{
    const qreal ratio = devicePixelRatioF();
    if (m_cache.deviceIndependentSize() != QSizeF(size()) || m_cache.devicePixelRatio() != ratio) {
        m_cache = QPixmap(size() * ratio);
        m_cache.setDevicePixelRatio(ratio);
        QPainter cache(&m_cache);
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0, m_top);
        gradient.setColorAt(1, m_bottom);
        cache.fillRect(rect(), gradient);
    }
    QPainter painter(this);
    painter.drawPixmap(
        event->rect(), m_cache,
        QRectF(QPointF(event->rect().topLeft()) * ratio, QSizeF(event->rect().size()) * ratio));
}

PanelLabel::PanelLabel(const QColor& fill, const QColor& border, const QColor& text,
                       QWidget* parent)
    : QLabel(parent), m_fill(fill), m_border(border)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, text);
    setPalette(p);
    setContentsMargins(4, 0, 4, 0);
}

void PanelLabel::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(m_border.isValid() ? QPen(m_border, 1) : QPen(Qt::NoPen));
        painter.setBrush(m_fill);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    }
    QLabel::paintEvent(event);
}

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

void StatusPanels::setColours(const QColor& fill, const QColor& text)
{
    for (QLabel* panel : m_panels) {
        QPalette p = panel->palette();
        p.setColor(QPalette::Window, fill);
        p.setColor(QPalette::WindowText, text);
        panel->setPalette(p);
        panel->setAutoFillBackground(true);
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

LightShape::LightShape(QWidget* parent)
    : QWidget(parent), m_colour(70, 90, 70), m_server(ServerPictures::create())
{
}

LightShape::~LightShape() = default;

void LightShape::setColour(const QColor& colour)
{
    if (colour == m_colour)
        return;
    m_colour = colour;
    if (!showOnServer())
        update();
}

QPixmap LightShape::picture(const QColor& colour)
{
    // The light steps through a few colours every second: each is drawn once.
    const qreal ratio = devicePixelRatioF();
    const QString key =
        QStringLiteral("%1/%2x%3/%4").arg(colour.rgba()).arg(width()).arg(height()).arg(ratio);
    auto cached = m_pictures.constFind(key);
    if (cached == m_pictures.constEnd()) {
        QPixmap picture(size() * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(30, 30, 30), 1));
        painter.setBrush(colour);
        painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
        painter.end();
        cached = m_pictures.insert(key, picture);
    }
    return *cached;
}

void LightShape::paintEvent(QPaintEvent*)
{
    // Also under the server's window: grabs and renders of the window see the light.
    QPainter(this).drawPixmap(0, 0, picture(m_colour));
}

// The light over what it stands on, kept by the server. False where the server cannot keep it
// (another platform, or the light not on screen): the light then repaints itself.
bool LightShape::showOnServer()
{
    if (!m_server || !isVisible() || !window()->windowHandle())
        return false;
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    // Made again for another size or pixel density (the window moved to another screen).
    if (m_background.size() != pixels || m_background.devicePixelRatio() != ratio) {
        // What is beneath: the parent's own background and the siblings stacked below.
        m_background = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        m_background.setDevicePixelRatio(ratio);
        m_background.fill(Qt::transparent);
        QWidget* parent = parentWidget();
        parent->render(&m_background, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
        for (QObject* child : parent->children()) {
            if (child == this)
                break;
            auto* sibling = qobject_cast<QWidget*>(child);
            if (!sibling || !sibling->isVisible() || sibling->isWindow())
                continue;
            const QRect beneath = geometry().intersected(sibling->geometry());
            if (beneath.isEmpty())
                continue;
            sibling->render(&m_background, beneath.topLeft() - pos(),
                            QRegion(beneath.translated(-sibling->pos())));
        }
        m_server->clear();
    }
    const quint64 key = m_colour.rgba();
    if (!m_server->has(key)) {
        QImage shown = m_background;
        QPainter painter(&shown);
        painter.drawPixmap(0, 0, picture(m_colour));
        painter.end();
        m_server->add(key, shown);
    }
    const QPoint topLeft = mapTo(window(), QPoint(0, 0));
    m_server->show(key, window()->winId(), QRect((QPointF(topLeft) * ratio).toPoint(), pixels));
    return true;
}

// The window around may look different now (its language, its size on another screen), and
// what the light stands on is taken again.
void LightShape::showAgainOnServer()
{
    m_background = {};
    showOnServer();
}

void LightShape::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    showAgainOnServer();
}

void LightShape::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_server)
        m_server->hide();
}

void LightShape::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    showAgainOnServer();
}

void LightShape::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    showAgainOnServer();
}

namespace {

const QColor kBarColour(70, 160, 230);

} // namespace

BarShape::BarShape(QWidget* parent) : QWidget(parent), m_server(ServerPictures::create()) {}

BarShape::~BarShape() = default;

void BarShape::setFilledWidth(int width)
{
    if (!m_server) {
        resize(width, height());
        return;
    }
    // The widget itself stays as wide as it was: the server's window is the bar.
    if (width == m_filled)
        return;
    m_filled = width;
    showOnServer();
}

void BarShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), kBarColour);
}

void BarShape::showOnServer()
{
    if (!isVisible() || !window()->windowHandle())
        return;
    if (m_filled <= 0) {
        m_server->hide();
        return;
    }
    constexpr quint64 kColour = 1;
    if (!m_server->has(kColour)) {
        // One pixel, which the server repeats over the whole bar.
        QImage pixel(1, 1, QImage::Format_RGB32);
        pixel.fill(kBarColour);
        m_server->add(kColour, pixel);
    }
    const qreal ratio = devicePixelRatioF();
    const QPointF topLeft = QPointF(mapTo(window(), QPoint(0, 0))) * ratio;
    const QSize pixels = (QSizeF(m_filled, height()) * ratio).toSize();
    m_server->show(kColour, window()->winId(), QRect(topLeft.toPoint(), pixels));
}

void BarShape::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_server)
        showOnServer();
}

void BarShape::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_server)
        m_server->hide();
}

} // namespace powerlog
