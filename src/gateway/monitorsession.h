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
// session. While re-opening is on (automatic mode), a session the gateway closes, or an open
// that fails, is opened again after a wait that doubles up to a limit; a refused or missing
// password ends that until open() is called again.
class MonitorSession : public QObject
{
    Q_OBJECT
public:
    explicit MonitorSession(CommandSession& command, SessionTimings timings = {},
                            QObject* parent = nullptr);
    ~MonitorSession() override;

    void setPeer(const QString& host, quint16 port);
    void setPassword(const QString& password);

    // Makes sure the session is open; does nothing when it is connected or opening. A re-open
    // that is waiting starts now. Results show as link states; callers do not wait for it.
    void open();

    // Whether the session comes back by itself after the gateway closes it. Turning it on
    // starts again from the first wait; turning it off drops a re-open that is waiting.
    void setReopening(bool on);
    bool isReopening() const;
    // A re-open is waiting for its time.
    bool isReopenScheduled() const;

    void setClosing();
    bool isConnected() const;

signals:
    void linkStateChanged(powerlog::LinkState state, const QString& detail);
    void opened();
    // The open session went down: the gateway closed it.
    void closed();
    // One per load event, in order of arrival.
    void loadEvent(int index, QChar state);
    // A piece with a bad position or state: the rest of that read is skipped.
    void loadEventError(const powerlog::frames::LoadEventError& error);
    // Data handled without error: time to rebuild the list of switched-off loads.
    void loadEventsHandled();
    // Every whole frame that is not an ACK or a NACK, in order of arrival, whatever its WHO.
    void frameReceived(const QString& frame);

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace powerlog
