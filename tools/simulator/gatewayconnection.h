#pragma once

#include "gateway/frameassembler.h"
#include "gatewaysimulator.h"
#include "outbox.h"

#include <QObject>
#include <QString>
#include <QStringList>

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
    // The frames a command session answers with, in order.
    virtual QStringList answerCommand(const QString& frame) = 0;
    virtual void sessionOpened(GatewayConnection* connection) = 0;
    virtual void connectionClosed(GatewayConnection* connection) = 0;
};

// One TCP connection to the gateway: greeting, session open with the optional password
// exchange, then a command or an event session. Faults are read from the device's options at
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

private:
    enum class Phase { AwaitOpen, AwaitPassword, Command, Event, Closing };

    void readIncoming();
    void handle(const QString& frame);
    void handleOpen(const QString& frame);
    void handlePassword(const QString& frame);
    void open();
    void closeAfterSending();
    void onDisconnected();

    QTcpSocket* m_socket;
    GatewayDevice* m_device; // null once detached
    Outbox m_outbox;
    FrameAssembler m_assembler;
    Phase m_phase = Phase::AwaitOpen;
    Phase m_requested = Phase::Command; // the session type the open frame asked for
    QString m_nonce;
    int m_framesReceived = 0;
};

} // namespace powerlog::sim
