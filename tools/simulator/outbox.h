#pragma once

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <QTimer>

class QTcpSocket;

namespace powerlog::sim {

// Writes a connection's outgoing frames, in order. Frames can be cut into segments that leave
// as separate TCP writes a few milliseconds apart, and junk can be put between frames. A close
// asked for waits until everything queued has been written. Frames sent as counted are
// reported once their last byte has gone to the system, so a frame cut short by a close or
// dropped with the connection is never reported.
class Outbox : public QObject
{
    Q_OBJECT
public:
    static constexpr int kSegmentGapMs = 20;
    static constexpr qint64 kMaxBacklog = 1024 * 1024; // a peer that does not read is dropped

    explicit Outbox(QTcpSocket* socket, QObject* parent = nullptr);

    struct Style
    {
        bool split = false;   // 2 or 3 segments per frame
        bool garbage = false; // junk bytes before every frame but the first
    };
    void sendFrame(const QByteArray& frame, Style style, bool counted = false);
    void sendRaw(const QByteArray& bytes);
    // Writes the first half of the frame, then closes: the peer sees the connection end
    // in the middle of a frame.
    void sendHalfAndClose(const QByteArray& frame);
    void closeWhenSent();
    bool isClosing() const { return m_closing; }

signals:
    void countedFrameWritten();

private:
    struct Segment
    {
        QByteArray bytes;
        bool pauseAfter = false;  // the next segment waits for the gap timer
        bool endsCounted = false; // the last segment of a counted frame
    };
    void enqueue(const QByteArray& bytes, bool pauseAfter, bool endsCounted = false);
    void writeQueued();
    void finishIfDone();
    void onBytesWritten(qint64 bytes);

    QTcpSocket* m_socket;
    QQueue<Segment> m_segments;
    qint64 m_queuedBytes = 0;
    QTimer m_gap;
    qint64 m_handedOver = 0;      // bytes given to the socket so far
    qint64 m_written = 0;         // bytes the socket has passed on to the system so far
    QQueue<qint64> m_countedEnds; // where each counted frame handed over ends, oldest first
    bool m_sentFrame = false;
    bool m_closing = false;
};

} // namespace powerlog::sim
