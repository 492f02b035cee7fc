#include "gateway/commandsession.h"

#include "gateway/frames.h"
#include "gateway/sessionsocket.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <optional>

namespace powerlog {

namespace {

LinkState failedOpenState(SessionSocket::OpenResult result)
{
    switch (result) {
    case SessionSocket::OpenResult::NoConnection:
        return LinkState::NoConnection;
    case SessionSocket::OpenResult::PasswordMissing:
        return LinkState::PasswordMissing;
    case SessionSocket::OpenResult::PasswordRefused:
        return LinkState::PasswordRefused;
    case SessionSocket::OpenResult::Open:
    case SessionSocket::OpenResult::NotOpened:
        break;
    }
    return LinkState::NotOpened;
}

} // namespace

class CommandSession::Private
{
public:
    struct Request
    {
        QString frame;
        bool noAckWait = false;
        Result done;
    };

    enum class Phase { Idle, Opening, AwaitingAck };

    Private(CommandSession* q, SessionTimings timings);

    void enqueue(Request request);
    void schedulePump();
    void pump();
    void onOpenFinished(SessionSocket::OpenResult result);
    void sendHead();
    void sendAttempt();
    void attemptFailed();
    void onSliceEnded(SessionSocket::Answer answer);
    void onPeerClosed();
    // Whether the gateway may have closed the open session for idleness by now.
    bool idleTooLong() const;
    void finish(bool ok);
    void failAll();

    CommandSession* q;
    // A member with the session as parent: its socket shows among the session's children,
    // and it still goes with Private, before the session's QObject part.
    SessionSocket socket;
    QTimer ackTimer;
    bool stInterface = false;
    bool closing = false;

    QList<Request> queue;
    std::optional<Request> current;
    Phase phase = Phase::Idle;
    int attempts = 0;
    bool pumpScheduled = false;

    // A frame written into a session the gateway is just closing for idleness is lost, and
    // must not be sent again. So the session learns how long the gateway lets it idle, from
    // the gateway's own closes, and opens anew before a frame would go out that late.
    QElapsedTimer clock;
    qint64 lastWriteMs = 0;
    qint64 heardUpToMs = 0; // the last write the gateway surely received: it answered after
    std::optional<qint64> idleLimitMs;
};

CommandSession::Private::Private(CommandSession* q, SessionTimings timings)
    : q(q), socket(QStringLiteral("Winsock1"), timings, q)
{
    QObject::connect(&socket, &SessionSocket::connected, q, [this](const QString& peer) {
        emit this->q->linkStateChanged(LinkState::Connected, peer);
    });
    QObject::connect(&socket, &SessionSocket::authenticating, q, [this](const QString& method) {
        emit this->q->linkStateChanged(LinkState::Authenticating, method);
    });
    QObject::connect(&socket, &SessionSocket::peerClosed, q, [this] { onPeerClosed(); });
    QObject::connect(&socket, &SessionSocket::openFinished, q,
                     [this](SessionSocket::OpenResult result) { onOpenFinished(result); });
    QObject::connect(&socket, &SessionSocket::answerReceived, q, &CommandSession::answerReceived);
    QObject::connect(&socket, &SessionSocket::frameArrived, q, &CommandSession::frameReceived);
    QObject::connect(&socket, &SessionSocket::sliceEnded, q,
                     [this](SessionSocket::Answer answer) { onSliceEnded(answer); });

    ackTimer.setSingleShot(true);
    QObject::connect(&ackTimer, &QTimer::timeout, q, [this] { attemptFailed(); });
    clock.start();
}

void CommandSession::Private::enqueue(Request request)
{
    if (closing) {
        QMetaObject::invokeMethod(
            q,
            [done = std::move(request.done)] {
                if (done)
                    done(false);
            },
            Qt::QueuedConnection);
        return;
    }
    queue.append(std::move(request));
    schedulePump();
}

// Requests start from the event loop, never inside send or inside a caller's callback, so a
// callback that sends again only adds to the queue.
void CommandSession::Private::schedulePump()
{
    if (pumpScheduled)
        return;
    pumpScheduled = true;
    QMetaObject::invokeMethod(
        q,
        [this] {
            pumpScheduled = false;
            pump();
        },
        Qt::QueuedConnection);
}

void CommandSession::Private::pump()
{
    if (closing || current || queue.isEmpty())
        return;
    current = queue.takeFirst();
    if (socket.isConnected() && !idleTooLong()) {
        sendHead();
        return;
    }
    socket.close(); // our own close: the gateway's is the one that reports
    phase = Phase::Opening;
    emit q->linkStateChanged(LinkState::Connecting, QString());
    socket.open(stInterface ? frames::kOpenEvent : frames::kOpenCommand);
}

void CommandSession::Private::onOpenFinished(SessionSocket::OpenResult result)
{
    if (result == SessionSocket::OpenResult::Open) {
        lastWriteMs = heardUpToMs = clock.elapsed();
        sendHead();
        return;
    }
    emit q->linkStateChanged(failedOpenState(result), QString());
    finish(false);
}

bool CommandSession::Private::idleTooLong() const
{
    if (!idleLimitMs)
        return false;
    // Both sides' clocks and timers wander a little: stay well clear of the limit.
    const qint64 margin = std::clamp<qint64>(*idleLimitMs / 10, 100, 5000);
    return clock.elapsed() - lastWriteMs >= *idleLimitMs - margin;
}

void CommandSession::Private::sendHead()
{
    // An empty frame only asked for an open session.
    if (current->frame.isEmpty() || !socket.isConnected()) {
        finish(false);
        return;
    }
    attempts = 0;
    sendAttempt();
}

void CommandSession::Private::sendAttempt()
{
    socket.write(current->frame);
    lastWriteMs = clock.elapsed();
    if (current->noAckWait) {
        finish(true);
        return;
    }
    phase = Phase::AwaitingAck;
    ackTimer.start(socket.timings().ackWaitMs);
}

void CommandSession::Private::attemptFailed()
{
    ackTimer.stop();
    if (++attempts < socket.timings().attempts) {
        sendAttempt();
        return;
    }
    emit q->linkStateChanged(LinkState::FrameNotAcknowledged, current->frame);
    finish(false);
}

void CommandSession::Private::onSliceEnded(SessionSocket::Answer answer)
{
    heardUpToMs = lastWriteMs;
    if (closing || phase != Phase::AwaitingAck)
        return;
    if (answer == SessionSocket::Answer::Ack) {
        ackTimer.stop();
        emit q->linkStateChanged(LinkState::FrameAcknowledged, current->frame);
        finish(true);
    } else if (answer == SessionSocket::Answer::Nack) {
        attemptFailed();
    }
}

void CommandSession::Private::onPeerClosed()
{
    // Counted from what the gateway last heard from us: a frame written just before its close
    // may never have reached it.
    if (phase != Phase::Opening)
        idleLimitMs = clock.elapsed() - heardUpToMs;
    emit q->linkStateChanged(LinkState::PeerClosed, QString());
    if (phase == Phase::AwaitingAck) {
        ackTimer.stop();
        finish(false);
    }
}

void CommandSession::Private::finish(bool ok)
{
    Request request = std::move(*current);
    current.reset();
    phase = Phase::Idle;
    if (!queue.isEmpty())
        schedulePump();
    if (request.done)
        request.done(ok);
}

void CommandSession::Private::failAll()
{
    QList<Request> failed;
    if (current)
        failed.append(std::move(*current));
    current.reset();
    failed.append(std::move(queue));
    queue.clear();
    phase = Phase::Idle;

    const QPointer<CommandSession> alive(q);
    for (auto& request : failed) {
        if (request.done)
            request.done(false);
        if (!alive)
            return;
    }
}

// ---------------------------------------------------------------------------------------------

CommandSession::CommandSession(SessionTimings timings, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(this, timings))
{
}

// Pending callbacks are dropped with the queue: their owners may be going away with us.
CommandSession::~CommandSession() = default;

void CommandSession::setPeer(const QString& host, quint16 port)
{
    d->socket.setPeer(host, port);
}

void CommandSession::setPassword(const QString& password)
{
    d->socket.setPassword(password);
}

void CommandSession::setStInterface(bool stInterface)
{
    d->stInterface = stInterface;
}

void CommandSession::send(const QString& frame, AckPolicy policy, Result done)
{
    // An open-only request has nothing to be acknowledged.
    const bool noAckWait = !frame.isEmpty() && policy == AckPolicy::NoAckWait;
    d->enqueue({frame, noAckWait, std::move(done)});
}

void CommandSession::setClosing()
{
    if (d->closing)
        return;
    d->closing = true;
    d->ackTimer.stop();
    d->socket.close();
    d->failAll();
}

bool CommandSession::isClosing() const
{
    return d->closing;
}

void CommandSession::closeConnection()
{
    d->ackTimer.stop();
    d->socket.close();
    if (d->current)
        d->finish(false);
}

bool CommandSession::isConnected() const
{
    return d->socket.isConnected();
}

} // namespace powerlog
