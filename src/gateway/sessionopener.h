#pragma once

#include "gateway/sessiontimings.h"

#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

namespace powerlog {

// Brings a session's socket from closed to open: connects, waits for the gateway's greeting,
// sends the open frame and answers a password nonce. Shared by the command and the monitor
// session; the session owns the socket and the receive buffer, reads the data and calls
// dataAppended() after each chunk it appended to the buffer.
class SessionOpener : public QObject
{
    Q_OBJECT
public:
    enum class Outcome {
        Open,            // the gateway acknowledged the open
        NoConnection,    // no TCP connection within the time limit (or a connect error)
        NotOpened,       // no greeting, no answer to the open, refused, or closed meanwhile
        PasswordMissing, // a nonce arrived and no usable password is configured
    };
    Q_ENUM(Outcome)

    SessionOpener(QTcpSocket& socket, QString& buffer, const SessionTimings& timings,
                  QObject* parent = nullptr);

    // The socket must be closed. Ends with exactly one finished() unless abort() comes first.
    void start(const QString& host, quint16 port, const QString& openFrame,
               const QString& password);
    void abort();
    bool isRunning() const;
    void dataAppended();

    // Closes without raising the close event, which is reserved for the gateway's own close.
    static void closeQuietly(QTcpSocket& socket);
    // Appends a chunk to a receive buffer, keeping only the newest 64 KiB.
    static void appendBounded(QString& buffer, const QString& chunk);

signals:
    void finished(powerlog::SessionOpener::Outcome outcome);

private:
    enum class Step { Idle, Connecting, AwaitingGreeting, Opening };

    void onConnected();
    void onDisconnected();
    void onError();
    void onDeadline();
    void answerNonce();
    void end(Outcome outcome);

    QTcpSocket& m_socket;
    QString& m_buffer;
    SessionTimings m_timings;
    QTimer m_deadline;
    Step m_step = Step::Idle;
    QString m_openFrame;
    QString m_password;
};

} // namespace powerlog
