#pragma once

#include <QColor>
#include <QImage>

class QPainter;

namespace powerlog {

class LiveGraphModel;

inline constexpr int kGraphWidth = 101;
inline constexpr int kGraphHeight = 32;

inline QColor graphBackground()
{
    return QColor(0, 0, 0);
}
inline QColor newestBarColour()
{
    return QColor(255, 255, 0);
}
// From a brown orange at no load to a yellow green at full line power.
inline QColor olderBarColour(int share)
{
    return QColor(200, 120 + share, 80);
}

// Draws the live graph into the 101 x 32 box at the painter's origin (y grows downward): one
// bar per reading scaled to the line power, the newest in yellow at column 99. Scale the
// painter to enlarge it.
void paintPowerGraph(QPainter& painter, const LiveGraphModel& model, int linePower);
// The same with the bars drawn or left out whatever the model says.
void paintPowerGraph(QPainter& painter, const LiveGraphModel& model, int linePower, bool bars);

// The graph as a 101 x 32 image.
QImage renderPowerGraph(const LiveGraphModel& model, int linePower);

} // namespace powerlog
