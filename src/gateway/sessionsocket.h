#pragma once

#include "gateway/frameassembler.h"
#include "gateway/frames.h"
#include "gateway/openhmac.h"
#include "gateway/sessiontimings.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

class QTcpSocket;

namespace powerlog {

// The TCP side of one gateway session, shared by the command and the monitor session: owns the
// socket and its frame assembler, connects and opens (greeting, open frame, password nonce),
// reads in bounded slices and tells what each slice brought. The password is proved with the
// numeric algorithm or the HMAC handshake, whichever the gateway asks for. The session on top keeps
// the queue, the timers of its own exchange and the signals the program listens to.
class SessionSocket : public QObject
{
    Q_OBJECT
public:
    enum class OpenResult {
        Open,            // the gateway acknowledged the open
        NoConnection,    // no TCP connection within the time limit (or a connect error)
        NotOpened,       // no greeting, no answer to the open, refused, or closed meanwhile
        PasswordMissing, // a nonce arrived and no usable password is configured
        PasswordRefused, // the gateway refused our password, or failed to prove it knows it
    };
    Q_ENUM(OpenResult)

    // The strongest answer among the frames of one slice: an ACK outweighs a NACK.
    enum class Answer { None, Nack, Ack };
    Q_ENUM(Answer)

    // At most this much is read, and buffered by the socket, at a time.
    static constexpr qint64 kReadSlice = 64 * 1024;

    SessionSocket(const QString& objectName, const SessionTimings& timings,
                  QObject* parent = nullptr);
    ~SessionSocket() override;

    void setPeer(const QString& host, quint16 port);
    void setPassword(const QString& password);

    // Closes whatever is there, connects and opens with the given frame. Ends with exactly one
    // openFinished() unless close() comes first.
    void open(const QString& openFrame);
    bool isOpening() const;
    bool isConnected() const;
    void write(const QString& frame);
    // Closes without peerClosed(), which is reserved for the gateway's own close; an open
    // under way ends without a result, and the rest of a slice being read is dropped.
    void close();

    const SessionTimings& timings() const { return m_timings; }

signals:
    void connected(const QString& peer); // "address:port" of the gateway
    void peerClosed();
    void openFinished(powerlog::SessionSocket::OpenResult result);
    // The gateway asked for the HMAC handshake with this hash ("SHA-256" or "SHA-1").
    void authenticating(const QString& method);
    // A slice whose bytes are not exactly one bare ACK or NACK; comes before its frames.
    void answerReceived();
    // Every whole frame that is not an ACK or a NACK, in order.
    void frameArrived(const QString& frame);
    // The end of a slice, with the answer its frames gave. ACKs and NACKs that belong to the
    // open are not counted, nor any that came in the same slice as the open's ACK.
    void sliceEnded(powerlog::SessionSocket::Answer answer);

private:
    enum class Step {
        Idle,
        Connecting,
        AwaitingGreeting,
        Opening,
        AwaitingRa,           // HMAC: our ACK to the gateway's choice of hash is out
        AwaitingConfirmation, // HMAC: Rb and our digest are out
    };

    void onConnected();
    void onDisconnected();
    void onError();
    void onDeadline();
    void onReadyRead();
    // False when reading has to stop: closed, opened again or destroyed meanwhile.
    bool readSlice(const QByteArray& slice);
    // One frame of the open sequence; a result when it ends the open.
    std::optional<OpenResult> advanceOpen(frames::FrameKind kind, QLatin1StringView frame);
    std::optional<OpenResult> answerNonce(QLatin1StringView frame);
    std::optional<OpenResult> startHmac(hmac::Algorithm algorithm);
    std::optional<OpenResult> answerRa(frames::FrameKind kind, QLatin1StringView frame);
    std::optional<OpenResult> checkConfirmation(frames::FrameKind kind, QLatin1StringView frame);
    // A NACK that leaves before the connection closes.
    void refuse();
    // The window for the gateway's next answer starts again.
    void awaitAnswer(Step step);
    void finishOpen(OpenResult result);

    QTcpSocket* m_socket;
    FrameAssembler m_assembler;
    SessionTimings m_timings;
    QTimer m_deadline;
    Step m_step = Step::Idle;
    QString m_host;
    quint16 m_port = 0;
    QString m_password;
    QString m_openFrame;
    bool m_passwordSent = false;           // a NACK from here on refuses the password, not the open
    std::optional<hmac::Handshake> m_hmac; // with the password as it was when it began
    quint64 m_connection = 0; // changes with every open and close: stale reads stop at once
};

} // namespace powerlog
