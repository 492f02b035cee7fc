#pragma once

// Shared pieces of the session tests: short time limits, link-state readers, a result
// recorder and a hand-driven gateway for cases that need exact control over TCP segments and
// the moments of each answer.

#include "gateway/frameassembler.h"
#include "gateway/frames.h"
#include "gateway/linkstate.h"
#include "gateway/openpassword.h"
#include "gateway/sessiontimings.h"
#include "support/timings.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QSignalSpy>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>

namespace powerlog::test {

// The states a spy on linkStateChanged caught, in order.
inline QList<LinkState> linkStates(const QSignalSpy& spy)
{
    QList<LinkState> list;
    for (const auto& args : spy)
        list << args.at(0).value<LinkState>();
    return list;
}

// The details of the same signals.
inline QStringList linkDetails(const QSignalSpy& spy)
{
    QStringList list;
    for (const auto& args : spy)
        list << args.at(1).toString();
    return list;
}

// A port on loopback that nobody listens on.
inline quint16 closedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// Collects the results handed to send() callbacks, in the order they arrive.
struct SendResults
{
    struct Entry
    {
        QString frame;
        bool ok = false;
    };

    std::function<void(bool)> callback(const QString& frame)
    {
        return [this, frame](bool ok) { entries.append({frame, ok}); };
    }
    QList<bool> oks() const
    {
        QList<bool> list;
        for (const auto& e : entries)
            list << e.ok;
        return list;
    }
    QStringList frames() const
    {
        QStringList list;
        for (const auto& e : entries)
            list << e.frame;
        return list;
    }

    QList<Entry> entries;
};

// A minimal gateway on 127.0.0.1 that greets, answers every open frame (with an ACK, or with a
// nonce whose right reply gets the ACK), acknowledges the frames it is told to, and otherwise
// only writes what the test hands it, one write per call.
class ScriptedGateway : public QObject
{
public:
    explicit ScriptedGateway(quint16 port = 0)
    {
        m_listening = m_server.listen(QHostAddress::LocalHost, port);
    }

    bool isListening() const { return m_listening; }
    quint16 port() const { return m_server.serverPort(); }
    QStringList received() const { return m_received; }
    int countOf(const QString& frame) const { return int(m_received.count(frame)); }

    // Frames answered with an ACK; everything else after the open gets no answer.
    QSet<QString> ackFrames;
    // Frames on which the gateway closes the connection without answering.
    QSet<QString> closeOnFrames;
    bool greet = true;      // "*#*1##" on every new connection
    bool answerOpen = true; // an open frame gets no answer at all when false
    // When set, an open frame is answered with "*#<nonce>##", and the reply computed from
    // `password` gets the ACK (any other reply a NACK).
    QString nonce;
    quint32 password = 0;
    // How long the answers to the open frame and to the password reply wait.
    int answerDelayMs = 0;

    // Writes raw bytes on the most recent session opened with the given open frame.
    void sendOn(const QString& openFrame, const QByteArray& bytes)
    {
        if (QTcpSocket* s = m_sessions.value(openFrame))
            s->write(bytes);
    }
    void closeSession(const QString& openFrame)
    {
        if (QTcpSocket* s = m_sessions.value(openFrame))
            s->disconnectFromHost();
    }

private:
    struct Peer
    {
        QPointer<QTcpSocket> socket;
        FrameAssembler assembler;
        bool awaitingReply = false;
    };

    void accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            auto* peer = new Peer{socket, {}};
            connect(socket, &QTcpSocket::readyRead, this, [this, peer] { read(*peer); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QObject::destroyed, this, [peer] { delete peer; });
            if (greet)
                socket->write(frames::kAck.toLatin1());
        }
    }

    void read(Peer& peer)
    {
        peer.assembler.feed(peer.socket->readAll(), [this, &peer](QLatin1StringView view) {
            const QString frame(view);
            m_received << frame;
            if (frame == frames::kOpenCommand || frame == frames::kOpenEvent) {
                m_sessions.insert(frame, peer.socket);
                if (!answerOpen)
                    return true;
                peer.awaitingReply = !nonce.isEmpty();
                answerLater(peer.socket, peer.awaitingReply
                                             ? QStringLiteral("*#") + nonce + QStringLiteral("##")
                                             : frames::kAck);
            } else if (peer.awaitingReply) {
                peer.awaitingReply = false;
                const bool right =
                    frame == frames::passwordReplyFrame(openPasswordValue(nonce, password));
                answerLater(peer.socket, right ? frames::kAck : frames::kNack);
            } else if (closeOnFrames.contains(frame)) {
                peer.socket->disconnectFromHost();
                return false;
            } else if (ackFrames.contains(frame)) {
                peer.socket->write(frames::kAck.toLatin1());
            }
            return true;
        });
    }

    void answerLater(QTcpSocket* socket, const QString& frame)
    {
        if (answerDelayMs <= 0) {
            socket->write(frame.toLatin1());
            return;
        }
        QTimer::singleShot(answerDelayMs, socket,
                           [socket, frame] { socket->write(frame.toLatin1()); });
    }

    QTcpServer m_server;
    bool m_listening = false;
    QStringList m_received;
    QHash<QString, QPointer<QTcpSocket>> m_sessions;

    // Connected after the members exist.
    QMetaObject::Connection m_accepting =
        connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
};

} // namespace powerlog::test
