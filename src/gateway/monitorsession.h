#pragma once

#include "gateway/sessiontimings.h"

#include <QObject>
#include <QString>
#include <memory>

namespace powerlog {

class CommandSession;
struct SharedTexts;

// The monitor session (socket "Winsock2"): an event session on which the gateway pushes the
// load-control events. Once open, it asks for every load's state with "*#3##" on the command
// session.
class MonitorSession : public QObject
{
    Q_OBJECT
public:
    MonitorSession(const SharedTexts& texts, CommandSession& command, SessionTimings timings = {},
                   QObject* parent = nullptr);
    ~MonitorSession() override;

    void setPeer(const QString& host, quint16 port);
    void setPassword(const QString& password);

    // Makes sure the session is open; does nothing when it is connected. Results show as
    // status texts; callers do not wait for it.
    void StartMonitor();

    void setClosing();
    bool isConnected() const;

signals:
    void statusText(const QString& text);
    void trayIconRequested(int index);
    void opened();
    // One per load event, in order of arrival.
    void loadEvent(int index, QChar state);
    // A piece with a bad position or state: the rest of that data is skipped.
    void loadEventError(const QString& message);
    // Data handled without error: time to rebuild the list of switched-off loads.
    void loadEventsHandled();

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace powerlog
