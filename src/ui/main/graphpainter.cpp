#include "ui/main/graphpainter.h"

#include "acquisition/livegraph.h"

#include <QPainter>

namespace powerlog {

namespace {

// The vertical line from (x, 32) up to (x, 32 - height), one pixel wide.
void drawBar(QPainter& painter, int x, int h, int linePower, const QColor& colour)
{
    const int height = LiveGraphModel::barHeight(h, linePower);
    if (height > 0)
        painter.fillRect(QRect(x, kGraphHeight - height, 1, height), colour);
}

} // namespace

void paintPowerGraph(QPainter& painter, const LiveGraphModel& model, int linePower)
{
    paintPowerGraph(painter, model, linePower, !model.drawingCleared());
}

void paintPowerGraph(QPainter& painter, const LiveGraphModel& model, int linePower, bool bars)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRect(0, 0, kGraphWidth, kGraphHeight), graphBackground());
    if (bars) {
        for (int x = 0; x < LiveGraphModel::kNewest; ++x) {
            const int h = model.history(x);
            drawBar(painter, x, h, linePower,
                    olderBarColour(LiveGraphModel::barShare(h, linePower)));
        }
        drawBar(painter, LiveGraphModel::kNewest, model.history(LiveGraphModel::kNewest), linePower,
                newestBarColour());
    }
    painter.restore();
}

QImage renderPowerGraph(const LiveGraphModel& model, int linePower)
{
    QImage image(kGraphWidth, kGraphHeight, QImage::Format_RGB32);
    QPainter painter(&image);
    paintPowerGraph(painter, model, linePower);
    return image;
}

} // namespace powerlog
