#include "gateway/sessionsocket.h"

#include "gateway/frames.h"
#include "gateway/openpassword.h"

#include <QPointer>
#include <QSignalBlocker>
#include <QTcpSocket>
#include <algorithm>
#include <optional>

namespace powerlog {

namespace {

using frames::FrameKind;

// The password as a 32-bit number; anything else cannot answer a nonce any better than none.
std::optional<quint32> usablePassword(const QString& text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return std::nullopt;
    for (QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const quint32 value = digits.toUInt(&ok);
    return ok ? std::optional<quint32>(value) : std::nullopt;
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
        const FrameKind kind = frames::Classify(frame);
        if (kind != FrameKind::Ack && kind != FrameKind::Nack) {
            emit frameArrived(QString(frame));
            if (!stillReading())
                return false;
        }
        if (isOpening()) {
            const std::optional<OpenResult> result = advanceOpen(kind, frame);
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
    if (m_step == Step::AwaitingGreeting) {
        if (kind == FrameKind::Ack) {
            m_step = Step::Opening;
            write(m_openFrame);
            m_deadline.start(m_timings.openWindowMs);
        }
        return std::nullopt;
    }
    if (m_step != Step::Opening)
        return std::nullopt;
    switch (kind) {
    case FrameKind::Ack:
        return OpenResult::Open;
    case FrameKind::Nack: // refused, either the open itself or our password reply
        return OpenResult::NotOpened;
    case FrameKind::Nonce:
        if (const std::optional<quint32> password = usablePassword(m_password)) {
            QString nonce(frame);
            write(OpenPasswordReply(nonce, *password));
            m_deadline.start(m_timings.openWindowMs); // the gateway gets a whole window again
            return std::nullopt;
        }
        return OpenResult::PasswordMissing;
    case FrameKind::Other:
        break;
    }
    return std::nullopt;
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
