#include "gateway/commandsession.h"

#include "app/language.h"
#include "gateway/frameassembler.h"
#include "gateway/frames.h"
#include "gateway/openpassword.h"

#include <QList>
#include <QPointer>
#include <QSignalBlocker>
#include <QTcpSocket>
#include <optional>

namespace powerlog {

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

    Private(CommandSession* q, const SharedTexts& texts, SessionTimings timings);
    ~Private();

    void enqueue(Request request);
    void schedulePump();
    void pump();
    void onOpenerFinished(SessionOpener::Outcome outcome);
    void sendHead();
    void sendAttempt();
    void attemptFailed();
    void finish(bool ok);
    void failAll();

    void onConnected();
    void onDisconnected();
    void onReadyRead();
    void checkAck();

    CommandSession* q;
    const SharedTexts& texts;
    SessionTimings timings;
    QTcpSocket* socket;
    SessionOpener* opener;
    QTimer ackTimer;
    QString host;
    quint16 port = 0;
    QString password;
    bool stInterface = false;
    bool noAckWait = false;
    bool closing = false;

    QString buffer;
    FrameAssembler assembler;
    QList<Request> queue;
    std::optional<Request> current;
    Phase phase = Phase::Idle;
    int attempts = 0;
    bool pumpScheduled = false;
};

CommandSession::Private::Private(CommandSession* q, const SharedTexts& texts,
                                 SessionTimings timings)
    : q(q), texts(texts), timings(timings), socket(new QTcpSocket(q))
{
    socket->setObjectName(QStringLiteral("Winsock1"));
    // The session's own handlers first: the status texts come before the opener's verdict.
    QObject::connect(socket, &QTcpSocket::connected, q, [this] { onConnected(); });
    QObject::connect(socket, &QTcpSocket::disconnected, q, [this] { onDisconnected(); });
    QObject::connect(socket, &QTcpSocket::readyRead, q, [this] { onReadyRead(); });

    opener = new SessionOpener(*socket, buffer, timings, q);
    QObject::connect(opener, &SessionOpener::finished, q,
                     [this](SessionOpener::Outcome outcome) { onOpenerFinished(outcome); });

    ackTimer.setSingleShot(true);
    QObject::connect(&ackTimer, &QTimer::timeout, q, [this] { attemptFailed(); });
}

CommandSession::Private::~Private()
{
    // Pending callbacks are dropped: their owners may be going away with us.
    socket->disconnect();
    opener->abort();
    SessionOpener::closeQuietly(*socket);
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

// Requests start from the event loop, never inside SendTCP or inside a caller's callback, so a
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
    if (socket->state() == QAbstractSocket::ConnectedState) {
        sendHead();
        return;
    }
    phase = Phase::Opening;
    emit q->statusText(texts.connecting);
    SessionOpener::closeQuietly(*socket);
    buffer.clear();
    assembler.clear();
    opener->start(host, port, stInterface ? frames::kOpenEvent : frames::kOpenCommand, password);
}

void CommandSession::Private::onOpenerFinished(SessionOpener::Outcome outcome)
{
    using Outcome = SessionOpener::Outcome;
    switch (outcome) {
    case Outcome::Open:
        sendHead();
        return;
    case Outcome::NoConnection:
        emit q->statusText(texts.noConnection);
        emit q->trayIconRequested(0);
        emit q->fallbackToManual();
        break;
    case Outcome::PasswordMissing:
        emit q->passwordMissing();
        emit q->trayIconRequested(0);
        SessionOpener::closeQuietly(*socket);
        emit q->statusText(texts.noConnection);
        break;
    case Outcome::NotOpened:
        SessionOpener::closeQuietly(*socket);
        emit q->statusText(texts.noConnection);
        break;
    }
    finish(false);
}

void CommandSession::Private::sendHead()
{
    // An empty frame only asked for an open session.
    if (current->frame.isEmpty() || socket->state() != QAbstractSocket::ConnectedState) {
        finish(false);
        return;
    }
    attempts = 0;
    sendAttempt();
}

void CommandSession::Private::sendAttempt()
{
    buffer.clear();
    socket->write(current->frame.toLatin1());
    if (current->noAckWait) {
        finish(true);
        return;
    }
    phase = Phase::AwaitingAck;
    ackTimer.start(timings.ackWaitMs);
}

void CommandSession::Private::attemptFailed()
{
    ackTimer.stop();
    buffer.clear();
    if (++attempts < timings.attempts) {
        sendAttempt();
        return;
    }
    emit q->statusText(texts.noAck + QStringLiteral("  ") + current->frame);
    finish(false);
}

void CommandSession::Private::checkAck()
{
    if (frames::IsAck(buffer)) {
        ackTimer.stop();
        emit q->statusText(texts.frameSent + QStringLiteral(" (") + current->frame +
                           QStringLiteral(")"));
        finish(true);
    } else if (frames::IsNack(buffer)) {
        attemptFailed();
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

void CommandSession::Private::onConnected()
{
    emit q->statusText(texts.connected + QStringLiteral(" ") + socket->peerAddress().toString() +
                       QStringLiteral(":") + QString::number(socket->peerPort()));
}

void CommandSession::Private::onDisconnected()
{
    emit q->statusText(texts.peerClosed);
    if (phase == Phase::AwaitingAck) {
        ackTimer.stop();
        finish(false);
    }
}

void CommandSession::Private::onReadyRead()
{
    const QByteArray bytes = socket->readAll();
    if (bytes.isEmpty())
        return;
    const QString chunk = QString::fromLatin1(bytes);
    SessionOpener::appendBounded(buffer, chunk);

    // Listeners may close or delete the session; stop as soon as that happens.
    const QPointer<CommandSession> alive(q);
    emit q->dataArrived(chunk);
    if (!alive)
        return;
    for (const QString& frame : assembler.feed(bytes)) {
        if (frame == frames::kAck || frame == frames::kNack)
            continue;
        emit q->frameReceived(frame);
        if (!alive)
            return;
    }
    if (closing)
        return;

    if (phase == Phase::Opening)
        opener->dataAppended();
    else if (phase == Phase::AwaitingAck)
        checkAck();
}

// ---------------------------------------------------------------------------------------------

CommandSession::CommandSession(const SharedTexts& texts, SessionTimings timings, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(this, texts, timings))
{
}

CommandSession::~CommandSession() = default;

void CommandSession::setPeer(const QString& host, quint16 port)
{
    d->host = host;
    d->port = port;
}

void CommandSession::setPassword(const QString& password)
{
    d->password = password;
}

void CommandSession::setStInterface(bool stInterface)
{
    d->stInterface = stInterface;
}

void CommandSession::setNoAckWait(bool on)
{
    d->noAckWait = on;
}

bool CommandSession::NoAckWait() const
{
    return d->noAckWait;
}

void CommandSession::SendTCP(const QString& frame, Result done)
{
    // The flag belongs to the next frame actually sent; an open-only request leaves it alone.
    bool noAckWait = false;
    if (!frame.isEmpty()) {
        noAckWait = d->noAckWait;
        d->noAckWait = false;
    }
    d->enqueue({frame, noAckWait, std::move(done)});
}

void CommandSession::setClosing()
{
    if (d->closing)
        return;
    d->closing = true;
    d->opener->abort();
    d->ackTimer.stop();
    SessionOpener::closeQuietly(*d->socket);
    d->failAll();
}

bool CommandSession::isClosing() const
{
    return d->closing;
}

bool CommandSession::isConnected() const
{
    return d->socket->state() == QAbstractSocket::ConnectedState;
}

} // namespace powerlog
