#include "ui/common/placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace powerlog {

void placeBottomRight(QWidget& window, int bottomMarginPixels)
{
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // move() places the frame's top left corner; the frame may be wider than the window.
    const QSize frame = window.frameGeometry().size();
    const QPoint target(area.x() + area.width() - frame.width(),
                        area.y() + area.height() - frame.height() - bottomMarginPixels);
    if (window.pos() != target)
        window.move(target);
}

BottomRightPlacer::BottomRightPlacer(QWidget& window, int bottomMarginPixels)
    : QObject(&window), m_window(window), m_margin(bottomMarginPixels)
{
    m_window.installEventFilter(this);
}

bool BottomRightPlacer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &m_window)
        return false;
    switch (event->type()) {
    case QEvent::Show:
        m_shown.start();
        placeBottomRight(m_window, m_margin);
        break;
    case QEvent::Move:
    case QEvent::Resize:
        if (m_shown.isValid() && m_shown.elapsed() < kSettlingMs)
            placeBottomRight(m_window, m_margin);
        break;
    default:
        break;
    }
    return false;
}

} // namespace powerlog
