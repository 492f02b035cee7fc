#include "gateway/monitorsession.h"

#include "gateway/commandsession.h"
#include "gateway/sessionsocket.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace powerlog {

class MonitorSession::Private
{
public:
    Private(MonitorSession* q, CommandSession& command, SessionTimings timings);

    void start();
    void onOpenFinished(SessionSocket::OpenResult result);
    void onPeerClosed();
    void scheduleReopen();
    void collect(const QString& frame);
    void handleSlice();

    MonitorSession* q;
    CommandSession& command;
    // A member with the session as parent: its socket shows among the session's children,
    // and it still goes with Private, before the session's QObject part.
    SessionSocket socket;
    bool closing = false;
    bool open = false;
    bool reopening = false;
    QTimer reopenTimer;
    int nextWaitMs = 0;
    QElapsedTimer sinceOpenStarted; // how long the session lasted, counted from its open
    // The load events of the slice being read, handled together when it ends. Bounded by the
    // slice size.
    QString events;
};

MonitorSession::Private::Private(MonitorSession* q, CommandSession& command, SessionTimings timings)
    : q(q), command(command), socket(QStringLiteral("Winsock2"), timings, q)
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
    QObject::connect(&socket, &SessionSocket::frameArrived, q,
                     [this](const QString& frame) { collect(frame); });
    QObject::connect(&socket, &SessionSocket::sliceEnded, q, [this] { handleSlice(); });

    nextWaitMs = timings.reopenFirstMs;
    reopenTimer.setSingleShot(true);
    QObject::connect(&reopenTimer, &QTimer::timeout, q, [this] { start(); });
}

void MonitorSession::Private::start()
{
    if (closing || socket.isOpening() || socket.isConnected())
        return;
    reopenTimer.stop();
    emit q->linkStateChanged(LinkState::Connecting, QString());
    events.clear();
    sinceOpenStarted.start();
    socket.open(frames::kOpenEvent);
}

void MonitorSession::Private::onOpenFinished(SessionSocket::OpenResult result)
{
    using Result = SessionSocket::OpenResult;
    switch (result) {
    case Result::Open: {
        open = true;
        const QPointer<MonitorSession> alive(q);
        emit q->opened();
        if (alive && !closing)
            command.send(frames::kLoadStatusRequest);
        return;
    }
    case Result::NoConnection:
    case Result::NotOpened: {
        const QPointer<MonitorSession> alive(q);
        emit q->linkStateChanged(result == Result::NoConnection ? LinkState::NoConnection
                                                                : LinkState::NotOpened,
                                 QString());
        if (alive)
            scheduleReopen();
        return;
    }
    case Result::PasswordMissing:
        // Unlike the command session's, this is not a reason to ask the user anything: the
        // listener tells the two apart by the sender. Trying again would not help, and a
        // refused password must not be tried again: gateways lock out after a few failures.
        emit q->linkStateChanged(LinkState::PasswordMissing, QString());
        return;
    case Result::PasswordRefused:
        emit q->linkStateChanged(LinkState::PasswordRefused, QString());
        return;
    }
}

void MonitorSession::Private::onPeerClosed()
{
    const bool wasOpen = std::exchange(open, false);
    // A session that lasted is no sign of trouble: the gateway's own housekeeping.
    if (wasOpen && sinceOpenStarted.elapsed() >= socket.timings().reopenResetAfterMs)
        nextWaitMs = socket.timings().reopenFirstMs;
    const QPointer<MonitorSession> alive(q);
    emit q->linkStateChanged(LinkState::PeerClosed, QString());
    if (!alive || !wasOpen)
        return; // an open under way reports its own end
    emit q->closed();
    if (alive)
        scheduleReopen();
}

void MonitorSession::Private::scheduleReopen()
{
    if (!reopening || closing || socket.isOpening() || socket.isConnected())
        return;
    const int waitMs = nextWaitMs;
    nextWaitMs = std::min(waitMs * 2, socket.timings().reopenLongestMs);
    reopenTimer.start(waitMs);
    emit q->linkStateChanged(LinkState::Reopening, QString::number(waitMs));
}

void MonitorSession::Private::collect(const QString& frame)
{
    if (frame.startsWith(QLatin1String("*3*")))
        events += frame;
    emit q->frameReceived(frame);
}

void MonitorSession::Private::handleSlice()
{
    const frames::LoadEventBatch batch = frames::splitLoadEvents(events);
    events.clear();
    const QPointer<MonitorSession> alive(q);
    for (const frames::LoadEvent& event : batch.events) {
        emit q->loadEvent(event.index, event.state);
        if (!alive)
            return;
    }
    if (batch.error)
        emit q->loadEventError(*batch.error);
    else
        emit q->loadEventsHandled();
}

// ---------------------------------------------------------------------------------------------

MonitorSession::MonitorSession(CommandSession& command, SessionTimings timings, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(this, command, timings))
{
}

MonitorSession::~MonitorSession() = default;

void MonitorSession::setPeer(const QString& host, quint16 port)
{
    d->socket.setPeer(host, port);
}

void MonitorSession::setPassword(const QString& password)
{
    d->socket.setPassword(password);
}

void MonitorSession::open()
{
    d->start();
}

void MonitorSession::setReopening(bool on)
{
    if (on && !d->reopening)
        d->nextWaitMs = d->socket.timings().reopenFirstMs;
    d->reopening = on;
    if (!on)
        d->reopenTimer.stop();
}

bool MonitorSession::isReopening() const
{
    return d->reopening;
}

bool MonitorSession::isReopenScheduled() const
{
    return d->reopenTimer.isActive();
}

void MonitorSession::setClosing()
{
    d->closing = true;
    d->reopenTimer.stop();
    d->open = false;
    d->socket.close();
    d->events.clear();
}

bool MonitorSession::isConnected() const
{
    return d->socket.isConnected();
}

} // namespace powerlog
