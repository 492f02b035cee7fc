#pragma once

#include "gateway/linkstate.h"
#include "gateway/sessiontimings.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace powerlog {

// The command session (socket "Winsock1"): connects and opens on demand, sends one frame at a
// time from a queue, waits for the gateway's ACK and retries. Everything is driven by socket
// signals and single-shot timers; nothing blocks and no event loop is nested. When the gateway
// has closed the session (idle gateways do), the next frame opens it again; a frame already
// written is never sent again on a new connection, since the gateway may have acted on it. After
// such a close, a session left idle nearly as long is opened anew before the next frame.
class CommandSession : public QObject
{
    Q_OBJECT
public:
    using Result = std::function<void(bool ok)>;
    // Whether a frame's result waits for the gateway's ACK, or is reported as soon as the frame
    // is written (periodic requests, whose answer is the reply itself).
    enum class AckPolicy { WaitForAck, NoAckWait };

    explicit CommandSession(SessionTimings timings = {}, QObject* parent = nullptr);
    ~CommandSession() override;

    void setPeer(const QString& host, quint16 port);
    void setPassword(const QString& password); // ServerPassword: digits, or letters and digits
    void setStInterface(bool stInterface);     // opens with "*99*1##" instead of "*99*0##"

    // Queues a frame; `done` receives this frame's own result. An empty frame only makes sure
    // the session is open (and reports false, as nothing was sent).
    void send(const QString& frame, AckPolicy policy = AckPolicy::WaitForAck, Result done = {});
    void send(const QString& frame, Result done)
    {
        send(frame, AckPolicy::WaitForAck, std::move(done));
    }

    // Program shutdown: every queued and running send fails at once, the socket closes and
    // nothing connects again.
    void setClosing();
    bool isClosing() const;

    // Closes the connection, as a change of interface needs: the frame under way fails, and
    // the next frame connects and opens again.
    void closeConnection();

    bool isConnected() const;

signals:
    // One per event of the link: opening, the open's outcome, the gateway's close, and the
    // final result of every frame that waited for its ACK.
    void linkStateChanged(powerlog::LinkState state, const QString& detail);
    // Once per socket read whose bytes are not exactly one bare ACK or NACK: the gateway is
    // answering something.
    void answerReceived();
    void frameReceived(const QString& frame); // every whole frame that is not ACK or NACK

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace powerlog
