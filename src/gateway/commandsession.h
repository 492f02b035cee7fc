#pragma once

#include "gateway/sessionopener.h"
#include "gateway/sessiontimings.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

class QTcpSocket;

namespace powerlog {

struct SharedTexts;

// The command session (socket "Winsock1"): connects and opens on demand, sends one frame at a
// time from a queue, waits for the gateway's ACK and retries. Everything is driven by socket
// signals and single-shot timers; nothing blocks and no event loop is nested.
class CommandSession : public QObject
{
    Q_OBJECT
public:
    using Result = std::function<void(bool ok)>;

    CommandSession(const SharedTexts& texts, SessionTimings timings = {},
                   QObject* parent = nullptr);
    ~CommandSession() override;

    void setPeer(const QString& host, quint16 port);
    void setPassword(const QString& password); // ServerPassword, plain digits
    void setStInterface(bool stInterface);     // opens with "*99*1##" instead of "*99*0##"

    // When set, the next SendTCP reports success as soon as its frame is written, without
    // waiting for the ACK; SendTCP clears the flag.
    void setNoAckWait(bool on);
    bool NoAckWait() const;

    // Queues a frame; `done` receives this frame's own result. An empty frame only makes sure
    // the session is open (and reports false, as nothing was sent).
    void SendTCP(const QString& frame, Result done = {});

    // Program shutdown: every queued and running send fails at once, the socket closes and
    // nothing connects again.
    void setClosing();
    bool isClosing() const;

    bool isConnected() const;

signals:
    void statusText(const QString& text);     // status-bar panel 1
    void trayIconRequested(int index);        // tray picture change (0 = no link)
    void fallbackToManual();                  // no connection could be made
    void passwordMissing();                   // the gateway asked for a password we lack
    void dataArrived(const QString& chunk);   // every chunk as it arrives
    void frameReceived(const QString& frame); // every whole frame that is not ACK or NACK

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace powerlog
