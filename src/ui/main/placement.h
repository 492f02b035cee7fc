#pragma once

class QWidget;

namespace powerlog {

// Places a window's frame at the bottom right of the screen's available area (panels and docks
// excluded), `bottomMarginPixels` above its bottom edge. Call again once the window is shown:
// the window manager's frame is known only then.
void placeBottomRight(QWidget& window, int bottomMarginPixels);

} // namespace powerlog
