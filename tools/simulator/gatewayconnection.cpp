#include "gatewayconnection.h"

#include "gateway/frames.h"
#include "gateway/openhmac.h"
#include "gateway/openpassword.h"

#include <QRegularExpression>
#include <QTcpSocket>

namespace powerlog::sim {

namespace {

// What every measurement reply starts with, answered or pushed.
const QLatin1String kReadingPrefix("*#3*10*0*");

} // namespace

GatewayConnection::GatewayConnection(QTcpSocket* socket, GatewayDevice& device, QObject* parent)
    : QObject(parent), m_socket(socket), m_device(&device), m_outbox(socket)
{
    m_socket->setParent(this);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &GatewayConnection::readIncoming);
    connect(m_socket, &QTcpSocket::disconnected, this, &GatewayConnection::onDisconnected);
    // Precise, so that a session recycled after a minute never closes a little early.
    m_housekeeping.setSingleShot(true);
    m_housekeeping.setTimerType(Qt::PreciseTimer);
    connect(&m_housekeeping, &QTimer::timeout, this, &GatewayConnection::recycle);
    connect(&m_outbox, &Outbox::countedFrameWritten, this, [this] {
        if (m_device)
            m_device->readingWritten();
    });
    if (!m_device->currentOptions().faults.noGreeting)
        sendFrame(frames::kAck);
}

void GatewayConnection::sendFrame(const QString& frame)
{
    if (!m_device)
        return;
    const Faults& faults = m_device->currentOptions().faults;
    const bool inSession = m_phase == Phase::Command || m_phase == Phase::Event;
    if (inSession && faults.cutFrameAfter > 0 && m_framesSentInSession >= faults.cutFrameAfter) {
        m_housekeeping.stop();
        m_phase = Phase::Closing;
        m_outbox.sendHalfAndClose(frame.toLatin1());
        return;
    }
    ++m_framesSentInSession;
    const bool reading = frame.startsWith(kReadingPrefix);
    m_outbox.sendFrame(frame.toLatin1(), {faults.splitFrames, faults.garbageBetween}, reading);
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
    case Phase::AwaitHmacAck:
        handleHmacAck(frame);
        return;
    case Phase::AwaitHmacReply:
        handleHmacReply(frame);
        return;
    case Phase::AwaitHmacConfirm:
        handleHmacConfirm(frame);
        return;
    case Phase::Command:
    case Phase::Event:
        if (m_phase == Phase::Command && m_housekeeping.isActive())
            m_housekeeping.start(); // idle counts from the last frame received
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
    const Options& options = m_device->currentOptions();
    if (options.password.isEmpty()) {
        open(true);
        return;
    }
    if (m_device->authenticationLocked()) {
        sendFrame(frames::kNack);
        closeAfterSending();
        return;
    }
    switch (options.auth) {
    case Auth::Numeric:
        m_nonce = m_device->newNonce();
        m_phase = Phase::AwaitPassword;
        sendFrame(QStringLiteral("*#") + m_nonce + QStringLiteral("##"));
        return;
    case Auth::HmacSha1:
        m_phase = Phase::AwaitHmacAck;
        sendFrame(hmac::kSha1Request);
        return;
    case Auth::HmacSha256:
        m_phase = Phase::AwaitHmacAck;
        sendFrame(hmac::kSha256Request);
        return;
    }
}

hmac::Algorithm GatewayConnection::algorithm() const
{
    return m_device->currentOptions().auth == Auth::HmacSha1 ? hmac::Algorithm::Sha1
                                                             : hmac::Algorithm::Sha256;
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
        open(true);
        return;
    }
    refusePassword();
}

void GatewayConnection::handleHmacAck(const QString& frame)
{
    if (frame != frames::kAck) {
        closeAfterSending();
        return;
    }
    m_ra = m_device->newRandomHex(hmac::hexLength(algorithm()));
    QString digits = hmac::toDigits(m_ra);
    switch (m_device->currentOptions().faults.badRa) {
    case Faults::BadRa::None:
        break;
    case Faults::BadRa::WrongLength:
        digits.chop(2);
        break;
    case Faults::BadRa::PairAbove15:
        digits.replace(0, 2, QStringLiteral("16"));
        break;
    }
    m_phase = Phase::AwaitHmacReply;
    sendFrame(QStringLiteral("*#") + digits + QStringLiteral("##"));
}

void GatewayConnection::handleHmacReply(const QString& frame)
{
    static const QRegularExpression reply(QStringLiteral("^\\*#(\\d+)\\*(\\d+)##$"));
    const QRegularExpressionMatch match = reply.match(frame);
    if (!match.hasMatch()) {
        // The client gave up (a NACK) or sent something else: no password was tried.
        closeAfterSending();
        return;
    }
    const hmac::Algorithm hash = algorithm();
    const QString password = m_device->currentOptions().password;
    const std::optional<QString> rb = hmac::fromDigits(match.captured(1));
    const std::optional<QString> digest = hmac::fromDigits(match.captured(2));
    if (!rb || rb->size() != hmac::hexLength(hash) || !digest ||
        *digest != hmac::clientDigest(hash, m_ra, *rb, password)) {
        refusePassword();
        return;
    }
    m_rb = *rb;
    QString proof = hmac::gatewayDigest(hash, m_ra, m_rb, password);
    if (m_device->currentOptions().faults.wrongConfirmation)
        proof[0] = proof[0] == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
    m_phase = Phase::AwaitHmacConfirm;
    sendFrame(QStringLiteral("*#") + hmac::toDigits(proof) + QStringLiteral("##"));
}

void GatewayConnection::handleHmacConfirm(const QString& frame)
{
    // The client's ACK opens the session; nothing answers it.
    if (frame == frames::kAck)
        open(false);
    else
        closeAfterSending();
}

void GatewayConnection::refusePassword()
{
    m_device->passwordRefused();
    sendFrame(frames::kNack);
    closeAfterSending(); // may let go of the device at once
}

void GatewayConnection::open(bool acknowledge)
{
    m_phase = m_requested;
    if (acknowledge)
        sendFrame(frames::kAck);
    m_framesSentInSession = 0;
    const Options& options = m_device->currentOptions();
    const int lifetimeMs =
        m_phase == Phase::Command ? options.commandIdleCloseMs : options.eventRecycleMs;
    if (lifetimeMs > 0)
        m_housekeeping.start(lifetimeMs);
    m_device->sessionOpened(this);
}

void GatewayConnection::recycle()
{
    if (!m_device || m_phase == Phase::Closing)
        return;
    m_device->sessionRecycled(this);
    closeAfterSending(); // may let go of the device at once
}

void GatewayConnection::closeAfterSending()
{
    m_housekeeping.stop();
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
