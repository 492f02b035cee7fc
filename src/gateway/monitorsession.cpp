#include "gateway/monitorsession.h"

#include "gateway/commandsession.h"
#include "gateway/sessionsocket.h"

#include <QPointer>

namespace powerlog {

class MonitorSession::Private
{
public:
    Private(MonitorSession* q, CommandSession& command, SessionTimings timings);

    void start();
    void onOpenFinished(SessionSocket::OpenResult result);
    void collect(const QString& frame);
    void handleSlice();

    MonitorSession* q;
    CommandSession& command;
    // A member with the session as parent: its socket shows among the session's children,
    // and it still goes with Private, before the session's QObject part.
    SessionSocket socket;
    bool closing = false;
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
    QObject::connect(&socket, &SessionSocket::peerClosed, q,
                     [this] { emit this->q->linkStateChanged(LinkState::PeerClosed, QString()); });
    QObject::connect(&socket, &SessionSocket::openFinished, q,
                     [this](SessionSocket::OpenResult result) { onOpenFinished(result); });
    QObject::connect(&socket, &SessionSocket::frameArrived, q,
                     [this](const QString& frame) { collect(frame); });
    QObject::connect(&socket, &SessionSocket::sliceEnded, q, [this] { handleSlice(); });
}

void MonitorSession::Private::start()
{
    if (closing || socket.isOpening() || socket.isConnected())
        return;
    emit q->linkStateChanged(LinkState::Connecting, QString());
    events.clear();
    socket.open(frames::kOpenEvent);
}

void MonitorSession::Private::onOpenFinished(SessionSocket::OpenResult result)
{
    using Result = SessionSocket::OpenResult;
    switch (result) {
    case Result::Open: {
        const QPointer<MonitorSession> alive(q);
        emit q->opened();
        if (alive && !closing)
            command.SendTCP(frames::kLoadStatusRequest);
        return;
    }
    case Result::NoConnection:
        emit q->linkStateChanged(LinkState::NoConnection, QString());
        return;
    case Result::PasswordMissing:
        // Unlike the command session's, this is not a reason to ask the user anything: the
        // listener tells the two apart by the sender.
        emit q->linkStateChanged(LinkState::PasswordMissing, QString());
        return;
    case Result::NotOpened:
        emit q->linkStateChanged(LinkState::NotOpened, QString());
        return;
    }
}

void MonitorSession::Private::collect(const QString& frame)
{
    if (frame.startsWith(QLatin1String("*3*")))
        events += frame;
}

void MonitorSession::Private::handleSlice()
{
    const frames::LoadEventBatch batch = frames::SplitLoadEvents(events);
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

void MonitorSession::StartMonitor()
{
    d->start();
}

void MonitorSession::setClosing()
{
    d->closing = true;
    d->socket.close();
    d->events.clear();
}

bool MonitorSession::isConnected() const
{
    return d->socket.isConnected();
}

} // namespace powerlog
