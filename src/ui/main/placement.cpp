#include "ui/main/placement.h"

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
    window.move(area.x() + area.width() - frame.width(),
                area.y() + area.height() - frame.height() - bottomMarginPixels);
}

} // namespace powerlog
