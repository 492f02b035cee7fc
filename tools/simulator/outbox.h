#pragma once

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <QTimer>

class QTcpSocket;

namespace powerlog::sim {

// Writes a connection's outgoing frames, in order. Frames can be cut into segments that leave
// as separate TCP writes a few milliseconds apart, and junk can be put between frames. A close
// asked for waits until everything queued has been written.
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
    void sendFrame(const QByteArray& frame, Style style);
    void sendRaw(const QByteArray& bytes);
    void closeWhenSent();
    bool isClosing() const { return m_closing; }

private:
    struct Segment
    {
        QByteArray bytes;
        bool pauseAfter = false; // the next segment waits for the gap timer
    };
    void enqueue(const QByteArray& bytes, bool pauseAfter);
    void writeQueued();
    void finishIfDone();

    QTcpSocket* m_socket;
    QQueue<Segment> m_segments;
    qint64 m_queuedBytes = 0;
    QTimer m_gap;
    bool m_sentFrame = false;
    bool m_closing = false;
};

} // namespace powerlog::sim
