#pragma once

#include "gateway/frames.h"
#include "gateway/linkstate.h"
#include "gateway/sessiontimings.h"

#include <QObject>
#include <QString>
#include <memory>

namespace powerlog {

class CommandSession;

// The monitor session (socket "Winsock2"): an event session on which the gateway pushes the
// load-control events. Once open, it asks for every load's state with "*#3##" on the command
// session.
class MonitorSession : public QObject
{
    Q_OBJECT
public:
    explicit MonitorSession(CommandSession& command, SessionTimings timings = {},
                            QObject* parent = nullptr);
    ~MonitorSession() override;

    void setPeer(const QString& host, quint16 port);
    void setPassword(const QString& password);

    // Makes sure the session is open; does nothing when it is connected or opening. Results
    // show as link states; callers do not wait for it.
    void StartMonitor();

    void setClosing();
    bool isConnected() const;

signals:
    void linkStateChanged(powerlog::LinkState state, const QString& detail);
    void opened();
    // One per load event, in order of arrival.
    void loadEvent(int index, QChar state);
    // A piece with a bad position or state: the rest of that read is skipped.
    void loadEventError(const powerlog::frames::LoadEventError& error);
    // Data handled without error: time to rebuild the list of switched-off loads.
    void loadEventsHandled();

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace powerlog
