#pragma once

#include "gateway/frameassembler.h"
#include "gateway/openhmac.h"
#include "gatewaysimulator.h"
#include "outbox.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class QTcpSocket;

namespace powerlog::sim {

class GatewayConnection;

// What a connection needs from the gateway behind it.
class GatewayDevice
{
public:
    virtual ~GatewayDevice() = default;
    virtual const Options& currentOptions() const = 0;
    virtual void recordFrame(const QString& frame) = 0;
    virtual QString newNonce() = 0;
    // Random lower-case hex digits, for the HMAC handshake's Ra.
    virtual QString newRandomHex(int length) = 0;
    // The lock-out after refused passwords.
    virtual bool authenticationLocked() = 0;
    virtual void passwordRefused() = 0;
    // A session the gateway's housekeeping closes (idle command, recycled event session): it
    // takes no more pushes from now on.
    virtual void sessionRecycled(GatewayConnection* connection) = 0;
    // The frames a command session answers with, in order.
    virtual QStringList answerCommand(const QString& frame) = 0;
    virtual void sessionOpened(GatewayConnection* connection) = 0;
    // A measurement reading's whole frame has gone to the system.
    virtual void readingWritten() = 0;
    virtual void connectionClosed(GatewayConnection* connection) = 0;
};

// One TCP connection to the gateway: greeting, session open with the optional password
// exchange (numeric or HMAC), then a command or an event session, which the gateway's
// housekeeping may close. Faults are read from the device's options at
// the moment they matter, so changing them affects open connections too.
class GatewayConnection : public QObject
{
    Q_OBJECT
public:
    enum class Kind { None, Command, Event };

    GatewayConnection(QTcpSocket* socket, GatewayDevice& device, QObject* parent = nullptr);

    Kind kind() const
    {
        return m_phase == Phase::Command ? Kind::Command
               : m_phase == Phase::Event ? Kind::Event
                                         : Kind::None;
    }
    void sendFrame(const QString& frame);
    void sendRaw(const QByteArray& bytes);
    // Cuts the connection off the device for good and drops it.
    void detachAndAbort();
    // The gateway's housekeeping: the session closes once what is queued has been written.
    void recycle();

private:
    enum class Phase {
        AwaitOpen,
        AwaitPassword,    // numeric: the nonce is out
        AwaitHmacAck,     // HMAC: the choice of hash is out
        AwaitHmacReply,   // HMAC: Ra is out
        AwaitHmacConfirm, // HMAC: our proof is out
        Command,
        Event,
        Closing
    };

    void readIncoming();
    void handle(const QString& frame);
    void handleOpen(const QString& frame);
    void handlePassword(const QString& frame);
    void handleHmacAck(const QString& frame);
    void handleHmacReply(const QString& frame);
    void handleHmacConfirm(const QString& frame);
    void refusePassword();
    // The session is open; the numeric and password-less opens are acknowledged, the HMAC one
    // was acknowledged by the client.
    void open(bool acknowledge);
    hmac::Algorithm algorithm() const;
    void closeAfterSending();
    void onDisconnected();

    QTcpSocket* m_socket;
    GatewayDevice* m_device; // null once detached
    Outbox m_outbox;
    FrameAssembler m_assembler;
    Phase m_phase = Phase::AwaitOpen;
    Phase m_requested = Phase::Command; // the session type the open frame asked for
    QString m_nonce;
    QString m_ra;
    QString m_rb;
    int m_framesReceived = 0;
    int m_framesSentInSession = 0; // after the open's acknowledgement
    QTimer m_housekeeping;         // idle close of a command session, recycling of an event session
};

} // namespace powerlog::sim
