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

// ---------------------------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------------------------

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
