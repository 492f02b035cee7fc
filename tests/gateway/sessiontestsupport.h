#pragma once

// Shared pieces of the session tests: short time limits, English texts, a result recorder and
// a hand-driven gateway for cases that need exact control over TCP segments.

#include "app/language.h"
#include "gateway/frameassembler.h"
#include "gateway/frames.h"
#include "gateway/sessiontimings.h"
#include "support/timings.h"

#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QSignalSpy>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>

namespace powerlog::test {

// The first argument of every signal a spy caught.
inline QStringList statusTexts(const QSignalSpy& spy)
{
    QStringList list;
    for (const auto& args : spy)
        list << args.at(0).toString();
    return list;
}

inline QList<int> intArgs(const QSignalSpy& spy)
{
    QList<int> list;
    for (const auto& args : spy)
        list << args.at(0).toInt();
    return list;
}

inline SharedTexts textsFor(const QString& code)
{
    SharedTexts texts;
    applySharedTexts(code, texts);
    return texts;
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

// Collects the results handed to SendTCP callbacks, in the order they arrive.
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

// A minimal gateway on 127.0.0.1 that greets, acknowledges every open frame, acknowledges the
// frames it is told to, and otherwise only writes what the test hands it, one write per call.
class ScriptedGateway : public QObject
{
public:
    ScriptedGateway() { m_server.listen(QHostAddress::LocalHost, 0); }

    quint16 port() const { return m_server.serverPort(); }
    QStringList received() const { return m_received; }
    int countOf(const QString& frame) const { return int(m_received.count(frame)); }

    // Frames answered with an ACK; everything else after the open gets no answer.
    QSet<QString> ackFrames;

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
    };

    void accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            auto* peer = new Peer{socket, {}};
            connect(socket, &QTcpSocket::readyRead, this, [this, peer] { read(*peer); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QObject::destroyed, this, [peer] { delete peer; });
            socket->write(frames::kAck.toLatin1());
        }
    }

    void read(Peer& peer)
    {
        for (const QString& frame : peer.assembler.feed(peer.socket->readAll())) {
            m_received << frame;
            if (frame == frames::kOpenCommand || frame == frames::kOpenEvent) {
                m_sessions.insert(frame, peer.socket);
                peer.socket->write(frames::kAck.toLatin1());
            } else if (ackFrames.contains(frame)) {
                peer.socket->write(frames::kAck.toLatin1());
            }
        }
    }

    QTcpServer m_server;
    QStringList m_received;
    QHash<QString, QPointer<QTcpSocket>> m_sessions;

    // Connected after the members exist.
    QMetaObject::Connection m_accepting =
        connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
};

} // namespace powerlog::test
