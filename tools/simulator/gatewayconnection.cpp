#include "gatewayconnection.h"

#include "gateway/frames.h"
#include "gateway/openpassword.h"

#include <QRegularExpression>
#include <QTcpSocket>

namespace powerlog::sim {

GatewayConnection::GatewayConnection(QTcpSocket* socket, GatewayDevice& device, QObject* parent)
    : QObject(parent), m_socket(socket), m_device(&device), m_outbox(socket)
{
    m_socket->setParent(this);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &GatewayConnection::readIncoming);
    connect(m_socket, &QTcpSocket::disconnected, this, &GatewayConnection::onDisconnected);
    if (!m_device->currentOptions().faults.noGreeting)
        sendFrame(frames::kAck);
}

void GatewayConnection::sendFrame(const QString& frame)
{
    if (!m_device)
        return;
    const Faults& faults = m_device->currentOptions().faults;
    m_outbox.sendFrame(frame.toLatin1(), {faults.splitFrames, faults.garbageBetween});
}

void GatewayConnection::sendRaw(const QByteArray& bytes)
{
    m_outbox.sendRaw(bytes);
}

void GatewayConnection::detachAndAbort()
{
    m_device = nullptr;
    m_phase = Phase::Closing;
    m_socket->disconnect(this);
    m_socket->abort();
    deleteLater();
}

void GatewayConnection::readIncoming()
{
    m_assembler.feed(m_socket->readAll(), [this](QLatin1StringView frame) {
        if (m_phase == Phase::Closing || !m_device)
            return false;
        handle(QString(frame));
        return true;
    });
}

void GatewayConnection::handle(const QString& frame)
{
    m_device->recordFrame(frame);
    if (!m_device || m_phase == Phase::Closing)
        return; // the simulator was closed by whoever watched the frame arrive
    const Faults& faults = m_device->currentOptions().faults;
    ++m_framesReceived;
    if (faults.closeAfterFrames > 0 && m_framesReceived >= faults.closeAfterFrames) {
        closeAfterSending(); // the last frame goes unanswered
        return;
    }

    switch (m_phase) {
    case Phase::AwaitOpen:
        handleOpen(frame);
        return;
    case Phase::AwaitPassword:
        handlePassword(frame);
        return;
    case Phase::Command:
    case Phase::Event:
        if (faults.silent)
            return;
        if (faults.nackAll || m_phase == Phase::Event) {
            // An event session takes no commands.
            sendFrame(frames::kNack);
            return;
        }
        for (const QString& reply : m_device->answerCommand(frame))
            sendFrame(reply);
        return;
    case Phase::Closing:
        return;
    }
}

void GatewayConnection::handleOpen(const QString& frame)
{
    if (frame == frames::kOpenCommand)
        m_requested = Phase::Command;
    else if (frame == frames::kOpenEvent)
        m_requested = Phase::Event;
    else {
        sendFrame(frames::kNack);
        return;
    }
    if (m_device->currentOptions().password.isEmpty()) {
        open();
        return;
    }
    m_nonce = m_device->newNonce();
    m_phase = Phase::AwaitPassword;
    sendFrame(QStringLiteral("*#") + m_nonce + QStringLiteral("##"));
}

void GatewayConnection::handlePassword(const QString& frame)
{
    static const QRegularExpression reply(QStringLiteral("^\\*#(\\d{1,10})##$"));
    const QRegularExpressionMatch match = reply.match(frame);
    bool replyOk = false;
    bool passwordOk = false;
    const quint32 given = match.hasMatch() ? match.captured(1).toUInt(&replyOk) : 0;
    const quint32 password = m_device->currentOptions().password.toUInt(&passwordOk);
    if (replyOk && passwordOk && given == openPasswordValue(m_nonce, password)) {
        open();
        return;
    }
    sendFrame(frames::kNack);
    closeAfterSending();
}

void GatewayConnection::open()
{
    m_phase = m_requested;
    sendFrame(frames::kAck);
    m_device->sessionOpened(this);
}

void GatewayConnection::closeAfterSending()
{
    m_phase = Phase::Closing;
    m_outbox.closeWhenSent();
}

void GatewayConnection::onDisconnected()
{
    m_phase = Phase::Closing;
    if (m_device)
        m_device->connectionClosed(this);
    m_device = nullptr;
    deleteLater();
}

} // namespace powerlog::sim
