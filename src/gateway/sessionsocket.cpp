#include "gateway/sessionsocket.h"

#include "gateway/frames.h"
#include "gateway/openhmac.h"
#include "gateway/openpassword.h"

#include <QPointer>
#include <QSignalBlocker>
#include <QTcpSocket>
#include <algorithm>
#include <optional>

namespace powerlog {

namespace {

using frames::FrameKind;

// The password for the HMAC handshake: any text but an empty one (the gateways take letters
// and digits).
std::optional<QString> usableHmacPassword(const QString& text)
{
    const QString password = text.trimmed();
    return password.isEmpty() ? std::nullopt : std::optional<QString>(password);
}

bool isBareAnswer(const QByteArray& slice)
{
    return slice == QByteArrayView("*#*1##") || slice == QByteArrayView("*#*0##");
}

} // namespace

SessionSocket::SessionSocket(const QString& objectName, const SessionTimings& timings,
                             QObject* parent)
    : QObject(parent), m_socket(new QTcpSocket(this)), m_timings(timings)
{
    m_socket->setObjectName(objectName);
    // A flooding gateway then waits in the kernel's buffers (and TCP slows it down) instead
    // of piling up in ours.
    m_socket->setReadBufferSize(kReadSlice);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &SessionSocket::onDeadline);
    connect(m_socket, &QTcpSocket::connected, this, &SessionSocket::onConnected);
    connect(m_socket, &QTcpSocket::disconnected, this, &SessionSocket::onDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &SessionSocket::onError);
    connect(m_socket, &QTcpSocket::readyRead, this, &SessionSocket::onReadyRead);
}

SessionSocket::~SessionSocket()
{
    // Nothing is reported while going away: the listeners may be going too.
    blockSignals(true);
    close();
}

void SessionSocket::setPeer(const QString& host, quint16 port)
{
    m_host = host;
    m_port = port;
}

void SessionSocket::setPassword(const QString& password)
{
    m_password = password;
}

void SessionSocket::open(const QString& openFrame)
{
    close();
    m_openFrame = openFrame;
    m_passwordSent = false;
    m_step = Step::Connecting;
    m_deadline.start(m_timings.connectMs);
    m_socket->connectToHost(m_host, m_port);
}

bool SessionSocket::isOpening() const
{
    return m_step != Step::Idle;
}

bool SessionSocket::isConnected() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

void SessionSocket::write(const QString& frame)
{
    m_socket->write(frame.toLatin1());
}

void SessionSocket::close()
{
    ++m_connection;
    m_step = Step::Idle;
    m_deadline.stop();
    m_assembler.clear();
    const QSignalBlocker blocker(m_socket);
    m_socket->abort();
}

void SessionSocket::onConnected()
{
    if (m_step != Step::Connecting)
        return;
    m_step = Step::AwaitingGreeting;
    m_deadline.start(m_timings.greetingMs);
    emit connected(m_socket->peerAddress().toString() + QLatin1Char(':') +
                   QString::number(m_socket->peerPort()));
}

void SessionSocket::onDisconnected()
{
    const bool opening = m_step == Step::AwaitingGreeting || m_step == Step::Opening;
    const quint64 connection = m_connection;
    const QPointer<SessionSocket> alive(this);
    emit peerClosed();
    if (opening && alive && m_connection == connection)
        finishOpen(OpenResult::NotOpened);
}

void SessionSocket::onError()
{
    // Once connected, only the close event ends the open; errors while connecting end it now.
    if (m_step == Step::Connecting)
        finishOpen(OpenResult::NoConnection);
}

void SessionSocket::onDeadline()
{
    if (m_step == Step::Connecting)
        finishOpen(OpenResult::NoConnection);
    else if (m_step != Step::Idle)
        finishOpen(OpenResult::NotOpened);
}

void SessionSocket::onReadyRead()
{
    // The socket buffers one slice at most, but read in slices anyway: what one slice brings
    // is all a listener ever has to hold.
    while (m_socket->bytesAvailable() > 0) {
        const QByteArray slice = m_socket->read(kReadSlice);
        if (slice.isEmpty() || !readSlice(slice))
            return;
    }
}

bool SessionSocket::readSlice(const QByteArray& slice)
{
    // Listeners may close the session, open it again or destroy it: stop as soon as they do.
    const QPointer<SessionSocket> alive(this);
    const quint64 connection = m_connection;
    const auto stillReading = [&] { return alive && m_connection == connection; };

    if (!isBareAnswer(slice)) {
        emit answerReceived();
        if (!stillReading())
            return false;
    }

    Answer answer = Answer::None;
    bool openEndedHere = false;
    const bool whole = m_assembler.feed(slice, [&](QLatin1StringView frame) {
        const FrameKind kind = frames::classifyFrame(frame);
        if (kind != FrameKind::Ack && kind != FrameKind::Nack) {
            emit frameArrived(QString(frame));
            if (!stillReading())
                return false;
        }
        if (isOpening()) {
            const std::optional<OpenResult> result = advanceOpen(kind, frame);
            if (!stillReading())
                return false;
            if (!result)
                return true;
            // Answers in the rest of this slice were sent before the gateway saw anything
            // of ours after the open.
            openEndedHere = true;
            finishOpen(*result);
            return stillReading();
        }
        if (!openEndedHere && kind == FrameKind::Ack)
            answer = Answer::Ack;
        else if (!openEndedHere && kind == FrameKind::Nack)
            answer = std::max(answer, Answer::Nack);
        return true;
    });
    if (!whole)
        return false;
    emit sliceEnded(answer);
    return stillReading();
}

std::optional<SessionSocket::OpenResult> SessionSocket::advanceOpen(frames::FrameKind kind,
                                                                    QLatin1StringView frame)
{
    switch (m_step) {
    case Step::AwaitingGreeting:
        if (kind == FrameKind::Ack) {
            write(m_openFrame);
            awaitAnswer(Step::Opening);
        }
        return std::nullopt;
    case Step::Opening:
        break;
    case Step::AwaitingRa:
        return answerRa(kind, frame);
    case Step::AwaitingConfirmation:
        return checkConfirmation(kind, frame);
    case Step::Idle:
    case Step::Connecting:
        return std::nullopt;
    }
    switch (kind) {
    case FrameKind::Ack:
        return OpenResult::Open;
    case FrameKind::Nack: // refused: the open itself, or our password reply
        return m_passwordSent ? OpenResult::PasswordRefused : OpenResult::NotOpened;
    case FrameKind::Nonce:
        return answerNonce(frame);
    case FrameKind::Other:
        if (const std::optional<hmac::Algorithm> algorithm = hmac::requestedAlgorithm(frame))
            return startHmac(*algorithm);
        break;
    }
    return std::nullopt;
}

std::optional<SessionSocket::OpenResult> SessionSocket::answerNonce(QLatin1StringView frame)
{
    const std::optional<quint32> password = numericPassword(m_password);
    if (!password)
        return OpenResult::PasswordMissing;
    const std::optional<QString> reply = nonceReply(frame, *password);
    if (!reply)
        return std::nullopt;
    write(*reply);
    m_passwordSent = true;
    awaitAnswer(Step::Opening); // the gateway gets a whole window again
    return std::nullopt;
}

std::optional<SessionSocket::OpenResult> SessionSocket::startHmac(hmac::Algorithm algorithm)
{
    const std::optional<QString> password = usableHmacPassword(m_password);
    if (!password)
        return OpenResult::PasswordMissing;
    m_hmac.emplace(algorithm, *password);
    write(frames::kAck);
    awaitAnswer(Step::AwaitingRa);
    emit authenticating(hmac::algorithmName(algorithm));
    return std::nullopt;
}

std::optional<SessionSocket::OpenResult> SessionSocket::answerRa(frames::FrameKind kind,
                                                                 QLatin1StringView frame)
{
    if (kind == FrameKind::Nack)
        return OpenResult::NotOpened;
    if (kind != FrameKind::Nonce)
        return std::nullopt;
    const std::optional<QString> reply = m_hmac->answerRa(frame);
    if (!reply) {
        refuse();
        return OpenResult::NotOpened;
    }
    write(*reply);
    m_passwordSent = true;
    awaitAnswer(Step::AwaitingConfirmation);
    return std::nullopt;
}

std::optional<SessionSocket::OpenResult> SessionSocket::checkConfirmation(frames::FrameKind kind,
                                                                          QLatin1StringView frame)
{
    if (kind == FrameKind::Nack)
        return OpenResult::PasswordRefused;
    if (kind != FrameKind::Nonce)
        return std::nullopt;
    // A gateway that cannot prove it knows the password is not given the session.
    if (!m_hmac->confirms(frame)) {
        refuse();
        return OpenResult::PasswordRefused;
    }
    write(frames::kAck);
    return OpenResult::Open;
}

void SessionSocket::refuse()
{
    // The connection closes right after: hand the NACK to the system before it does.
    write(frames::kNack);
    m_socket->flush();
}

void SessionSocket::awaitAnswer(Step step)
{
    m_step = step;
    m_deadline.start(m_timings.openWindowMs);
}

void SessionSocket::finishOpen(OpenResult result)
{
    if (result == OpenResult::Open) {
        m_step = Step::Idle;
        m_deadline.stop();
    } else {
        close();
    }
    emit openFinished(result);
}

} // namespace powerlog
