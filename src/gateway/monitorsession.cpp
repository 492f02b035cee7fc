#include "gateway/monitorsession.h"

#include "app/language.h"
#include "gateway/commandsession.h"
#include "gateway/frameassembler.h"
#include "gateway/frames.h"

#include <QPointer>
#include <QTcpSocket>

namespace powerlog {

namespace {

const QString kMonitorSuffix = QStringLiteral(" (Monitor)");

} // namespace

class MonitorSession::Private
{
public:
    Private(MonitorSession* q, const SharedTexts& texts, CommandSession& command,
            SessionTimings timings);
    ~Private();

    void start();
    void onOpenerFinished(SessionOpener::Outcome outcome);
    void onConnected();
    void onDisconnected();
    void onReadyRead();
    void handleFrames(const QStringList& completed);

    MonitorSession* q;
    const SharedTexts& texts;
    CommandSession& command;
    QTcpSocket* socket;
    SessionOpener* opener;
    QString host;
    quint16 port = 0;
    QString password;
    bool closing = false;

    // Searched only while the session opens, and emptied once it is open.
    QString buffer;
    FrameAssembler assembler;
};

MonitorSession::Private::Private(MonitorSession* q, const SharedTexts& texts,
                                 CommandSession& command, SessionTimings timings)
    : q(q), texts(texts), command(command), socket(new QTcpSocket(q))
{
    socket->setObjectName(QStringLiteral("Winsock2"));
    QObject::connect(socket, &QTcpSocket::connected, q, [this] { onConnected(); });
    QObject::connect(socket, &QTcpSocket::disconnected, q, [this] { onDisconnected(); });
    QObject::connect(socket, &QTcpSocket::readyRead, q, [this] { onReadyRead(); });

    opener = new SessionOpener(*socket, buffer, timings, q);
    QObject::connect(opener, &SessionOpener::finished, q,
                     [this](SessionOpener::Outcome outcome) { onOpenerFinished(outcome); });
}

MonitorSession::Private::~Private()
{
    socket->disconnect();
    opener->abort();
    SessionOpener::closeQuietly(*socket);
}

void MonitorSession::Private::start()
{
    if (closing || opener->isRunning() || socket->state() == QAbstractSocket::ConnectedState)
        return;
    emit q->statusText(texts.connecting + kMonitorSuffix);
    SessionOpener::closeQuietly(*socket);
    buffer.clear();
    assembler.clear();
    opener->start(host, port, frames::kOpenEvent, password);
}

void MonitorSession::Private::onOpenerFinished(SessionOpener::Outcome outcome)
{
    using Outcome = SessionOpener::Outcome;
    switch (outcome) {
    case Outcome::Open: {
        buffer.clear();
        const QPointer<MonitorSession> alive(q);
        emit q->opened();
        if (alive && !closing)
            command.SendTCP(frames::kLoadStatusRequest);
        return;
    }
    case Outcome::NoConnection:
        emit q->statusText(texts.noConnection + kMonitorSuffix);
        emit q->trayIconRequested(0);
        return;
    case Outcome::PasswordMissing:
        // Unlike the command session, the monitor asks the user nothing.
        emit q->trayIconRequested(0);
        break;
    case Outcome::NotOpened:
        break;
    }
    SessionOpener::closeQuietly(*socket);
    emit q->statusText(texts.noConnection + kMonitorSuffix);
}

void MonitorSession::Private::onConnected()
{
    emit q->statusText(texts.connected + QStringLiteral(" ") + socket->peerAddress().toString() +
                       QStringLiteral(":") + QString::number(socket->peerPort()));
}

void MonitorSession::Private::onDisconnected()
{
    emit q->statusText(texts.peerClosed);
}

void MonitorSession::Private::onReadyRead()
{
    const QByteArray bytes = socket->readAll();
    if (bytes.isEmpty())
        return;
    // Frames are reassembled first, so an event cut between two segments still counts.
    const QStringList completed = assembler.feed(bytes);
    if (opener->isRunning()) {
        SessionOpener::appendBounded(buffer, QString::fromLatin1(bytes));
        opener->dataAppended();
    }
    handleFrames(completed);
}

void MonitorSession::Private::handleFrames(const QStringList& completed)
{
    const frames::LoadEventBatch batch = frames::SplitLoadEvents(completed.join(QString()));
    const QPointer<MonitorSession> alive(q);
    for (const frames::LoadEvent& event : batch.events) {
        emit q->loadEvent(event.index, event.state);
        if (!alive)
            return;
    }
    if (batch.failed)
        emit q->loadEventError(batch.error);
    else
        emit q->loadEventsHandled();
}

// ---------------------------------------------------------------------------------------------

MonitorSession::MonitorSession(const SharedTexts& texts, CommandSession& command,
                               SessionTimings timings, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(this, texts, command, timings))
{
}

MonitorSession::~MonitorSession() = default;

void MonitorSession::setPeer(const QString& host, quint16 port)
{
    d->host = host;
    d->port = port;
}

void MonitorSession::setPassword(const QString& password)
{
    d->password = password;
}

void MonitorSession::StartMonitor()
{
    d->start();
}

void MonitorSession::setClosing()
{
    d->closing = true;
    d->opener->abort();
    SessionOpener::closeQuietly(*d->socket);
}

bool MonitorSession::isConnected() const
{
    return d->socket->state() == QAbstractSocket::ConnectedState;
}

} // namespace powerlog
