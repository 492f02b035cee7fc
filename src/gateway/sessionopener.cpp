#include "gateway/sessionopener.h"

#include "gateway/frames.h"
#include "gateway/openpassword.h"

#include <QTcpSocket>

namespace powerlog {

SessionOpener::SessionOpener(QTcpSocket& socket, QString& buffer, const SessionTimings& timings,
                             QObject* parent)
    : QObject(parent), m_socket(socket), m_buffer(buffer), m_timings(timings)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &SessionOpener::onDeadline);
    connect(&m_socket, &QTcpSocket::connected, this, &SessionOpener::onConnected);
    connect(&m_socket, &QTcpSocket::disconnected, this, &SessionOpener::onDisconnected);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &SessionOpener::onError);
}

void SessionOpener::start(const QString& host, quint16 port, const QString& openFrame,
                          const QString& password)
{
    m_openFrame = openFrame;
    m_password = password;
    m_step = Step::Connecting;
    m_deadline.start(m_timings.connectMs);
    m_socket.connectToHost(host, port);
}

void SessionOpener::abort()
{
    m_step = Step::Idle;
    m_deadline.stop();
}

bool SessionOpener::isRunning() const
{
    return m_step != Step::Idle;
}

void SessionOpener::closeQuietly(QTcpSocket& socket)
{
    const QSignalBlocker blocker(socket);
    socket.abort();
}

// A peer that never stops talking must not make a receive buffer grow without limit; the
// searches only care about the newest text.
void SessionOpener::appendBounded(QString& buffer, const QString& chunk)
{
    constexpr qsizetype kLimit = 64 * 1024;
    buffer += chunk;
    if (buffer.size() > kLimit)
        buffer.remove(0, buffer.size() - kLimit);
}

void SessionOpener::onConnected()
{
    if (m_step != Step::Connecting)
        return;
    m_step = Step::AwaitingGreeting;
    m_deadline.start(m_timings.greetingMs);
}

void SessionOpener::onDisconnected()
{
    if (m_step == Step::AwaitingGreeting || m_step == Step::Opening)
        end(Outcome::NotOpened);
}

void SessionOpener::onError()
{
    // Once connected, only the close event ends the open; errors while connecting end it now.
    if (m_step != Step::Connecting)
        return;
    closeQuietly(m_socket);
    end(Outcome::NoConnection);
}

void SessionOpener::onDeadline()
{
    if (m_step == Step::Connecting) {
        closeQuietly(m_socket);
        end(Outcome::NoConnection);
    } else if (m_step != Step::Idle) {
        end(Outcome::NotOpened);
    }
}

void SessionOpener::dataAppended()
{
    if (m_step == Step::AwaitingGreeting) {
        if (!frames::IsAck(m_buffer))
            return;
        m_step = Step::Opening;
        m_buffer.clear();
        m_socket.write(m_openFrame.toLatin1());
        m_deadline.start(m_timings.openWindowMs);
        return;
    }
    if (m_step != Step::Opening)
        return;
    if (frames::IsAck(m_buffer))
        end(Outcome::Open);
    else if (frames::IsNack(m_buffer)) // refused, either the open itself or our password reply
        end(Outcome::NotOpened);
    else if (m_buffer.endsWith(QLatin1String("##")) && frames::IsPasswordRequest(m_buffer))
        answerNonce(); // only a whole nonce: a lone "*#" is just the start of the ACK
}

void SessionOpener::answerNonce()
{
    // A password that is not a 32-bit number cannot answer the nonce any better than none.
    bool usable = false;
    const quint32 password = m_password.trimmed().toUInt(&usable);
    if (!usable) {
        end(Outcome::PasswordMissing);
        return;
    }
    m_socket.write(OpenPasswordReply(m_buffer, password).toLatin1());
    m_deadline.start(m_timings.openWindowMs);
}

void SessionOpener::end(Outcome outcome)
{
    m_step = Step::Idle;
    m_deadline.stop();
    emit finished(outcome);
}

} // namespace powerlog
