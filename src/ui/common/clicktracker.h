#pragma once

#include <QEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

namespace powerlog {

// Tells a click from the mouse events an event filter sees: the left button pressed on a
// control and released on the same control. A right button, or a press that slips off the
// control before the release, is no click.
class ClickTracker
{
public:
    // Feed every event of the watched controls; true when this event completes a click on
    // `watched`.
    bool isClick(QObject* watched, QEvent* event)
    {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            m_pressed = mouse->button() == Qt::LeftButton ? watched : nullptr;
            return false;
        }
        if (event->type() != QEvent::MouseButtonRelease)
            return false;
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const bool pressedHere = m_pressed == watched;
        if (mouse->button() == Qt::LeftButton)
            m_pressed = nullptr;
        if (!pressedHere || mouse->button() != Qt::LeftButton)
            return false;
        const auto* widget = qobject_cast<QWidget*>(watched);
        return widget && widget->rect().contains(mouse->position().toPoint());
    }

private:
    QPointer<QObject> m_pressed;
};

} // namespace powerlog
