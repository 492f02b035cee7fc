#include "outbox.h"

#include <QTcpSocket>

namespace powerlog::sim {

namespace {

const QByteArray kJunk("xx\x01", 3);

} // namespace

Outbox::Outbox(QTcpSocket* socket, QObject* parent) : QObject(parent), m_socket(socket)
{
    m_gap.setSingleShot(true);
    m_gap.setInterval(kSegmentGapMs);
    connect(&m_gap, &QTimer::timeout, this, &Outbox::writeQueued);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &Outbox::onBytesWritten);
}

void Outbox::sendFrame(const QByteArray& frame, Style style, bool counted)
{
    QByteArray bytes = frame;
    if (style.garbage && m_sentFrame)
        bytes.prepend(kJunk);
    m_sentFrame = true;

    if (!style.split || bytes.size() < 2) {
        enqueue(bytes, false, counted);
        return;
    }
    // Three segments when the frame is long enough for each to hold something, else two.
    const int parts = bytes.size() >= 6 ? 3 : 2;
    qsizetype from = 0;
    for (int part = 1; part <= parts; ++part) {
        const qsizetype to = bytes.size() * part / parts;
        enqueue(bytes.mid(from, to - from), true, counted && part == parts);
        from = to;
    }
}

void Outbox::sendRaw(const QByteArray& bytes)
{
    if (!bytes.isEmpty())
        enqueue(bytes, false);
}

void Outbox::sendHalfAndClose(const QByteArray& frame)
{
    enqueue(frame.left(qMax<qsizetype>(1, frame.size() / 2)), false);
    closeWhenSent();
}

void Outbox::closeWhenSent()
{
    m_closing = true;
    finishIfDone();
}

void Outbox::enqueue(const QByteArray& bytes, bool pauseAfter, bool endsCounted)
{
    if (m_closing || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (m_queuedBytes + m_socket->bytesToWrite() + bytes.size() > kMaxBacklog) {
        m_socket->abort();
        return;
    }
    m_segments.enqueue({bytes, pauseAfter, endsCounted});
    m_queuedBytes += bytes.size();
    if (!m_gap.isActive())
        writeQueued();
}

// Writes queued segments up to the first one that must be followed by a pause; the gap timer
// resumes from there, so split segments really leave as separate TCP writes.
void Outbox::writeQueued()
{
    while (!m_segments.isEmpty()) {
        const Segment segment = m_segments.dequeue();
        m_queuedBytes -= segment.bytes.size();
        m_handedOver += qMax<qint64>(0, m_socket->write(segment.bytes));
        if (segment.endsCounted)
            m_countedEnds.enqueue(m_handedOver);
        m_socket->flush();
        if (segment.pauseAfter) {
            m_gap.start();
            return;
        }
    }
    finishIfDone();
}

void Outbox::onBytesWritten(qint64 bytes)
{
    m_written += bytes;
    while (!m_countedEnds.isEmpty() && m_countedEnds.head() <= m_written) {
        m_countedEnds.dequeue();
        emit countedFrameWritten();
    }
}

void Outbox::finishIfDone()
{
    if (m_closing && m_segments.isEmpty() && !m_gap.isActive())
        m_socket->disconnectFromHost(); // writes what is still buffered, then closes
}

} // namespace powerlog::sim
