#pragma once

#include <QObject>

namespace powerlog {

// Tells a click on the notification balloon from a click on the notification-area icon.
//
// Qt reports a press on the icon while its balloon shows as a click on the balloon as well:
// where it draws the balloon itself (an X11 tray with no StatusNotifier host), the icon's mouse
// press emits QSystemTrayIcon::messageClicked and then, in the same call, activated(). So a
// balloon click counts only when no activation of the icon came with it: the decision waits for
// the end of the event that reported it, and an activation in that same event cancels it. A
// click on the balloon itself, or on a desktop notification, comes alone and goes through.
class BalloonClickFilter : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // QSystemTrayIcon::messageClicked arrived.
    void noteMessageClicked();
    // QSystemTrayIcon::activated arrived, for any reason (click, double click, menu).
    void noteIconActivated();

signals:
    // The balloon itself was clicked.
    void balloonClicked();

private:
    void decideLater();
    void decide();

    bool m_messageClicked = false;
    bool m_iconActivated = false;
    bool m_decisionPending = false;
};

} // namespace powerlog
