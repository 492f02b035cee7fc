#include "gateway/frameassembler.h"

namespace powerlog {

namespace {

// Frames are plain printable ASCII. Control bytes, spaces and anything beyond ASCII cannot be
// part of one, so they end whatever frame was being collected.
bool isFrameChar(QChar c)
{
    return c.unicode() >= 0x21 && c.unicode() <= 0x7E;
}

} // namespace

QStringList FrameAssembler::feed(const QByteArray& bytes)
{
    // Between calls m_pending is either empty or the start of one frame: a '*' followed by frame
    // characters and no "##". So only the new text needs scanning.
    const qsizetype from = m_pending.size();
    qsizetype start = m_pending.isEmpty() ? -1 : 0;
    // Latin-1 maps every byte to exactly one character, so no input can fail to decode.
    m_pending.append(QString::fromLatin1(bytes));

    QStringList frames;
    for (qsizetype i = from; i < m_pending.size(); ++i) {
        const QChar c = m_pending.at(i);
        if (!isFrameChar(c)) {
            start = -1; // junk: drop the unfinished frame, wait for the next '*'
        } else if (start < 0) {
            if (c == QLatin1Char('*'))
                start = i;
        } else if (c == QLatin1Char('#') && i - 1 > start &&
                   m_pending.at(i - 1) == QLatin1Char('#')) {
            frames.append(m_pending.mid(start, i + 1 - start));
            start = -1;
        }
    }

    m_pending = start < 0 ? QString() : m_pending.mid(start);
    if (m_pending.size() > kLimit) {
        // A peer that never ends its frame: keep only the newest text, from its first '*'.
        m_pending = m_pending.right(kLimit);
        const qsizetype star = m_pending.indexOf(QLatin1Char('*'));
        m_pending = star < 0 ? QString() : m_pending.mid(star);
    }
    return frames;
}

void FrameAssembler::clear()
{
    m_pending.clear();
}

QString FrameAssembler::pending() const
{
    return m_pending;
}

} // namespace powerlog
