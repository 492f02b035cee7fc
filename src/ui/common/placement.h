#pragma once

#include <QElapsedTimer>
#include <QObject>

class QWidget;

namespace powerlog {

// Places a window's frame at the bottom right of the screen's available area (panels and docks
// excluded), `bottomMarginPixels` above its bottom edge.
void placeBottomRight(QWidget& window, int bottomMarginPixels);

// Keeps a window at the bottom right while it appears. The window manager's frame becomes
// known only some time after the window is shown, so the window is placed again whenever its
// frame moves or changes size during the first moments on screen.
class BottomRightPlacer : public QObject
{
public:
    BottomRightPlacer(QWidget& window, int bottomMarginPixels);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static constexpr int kSettlingMs = 2000;

    QWidget& m_window;
    int m_margin;
    QElapsedTimer m_shown;
};

} // namespace powerlog
