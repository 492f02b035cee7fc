#include "gateway/frameassembler.h"

#include <utility>

namespace powerlog {

namespace {

// Frames are plain printable ASCII. Control bytes, spaces and anything beyond ASCII cannot be
// part of one, so they end whatever frame was being collected.
bool isFrameChar(char c)
{
    return c >= 0x21 && c <= 0x7E;
}

} // namespace

bool FrameAssembler::feed(QByteArrayView bytes, const FrameSink& sink)
{
    // A frame begun in an earlier call is finished in m_pending; frames that begin in these
    // bytes are handed out as views into them, without a copy.
    bool carried = !m_pending.isEmpty();
    qsizetype start = carried ? 0 : -1; // where the open frame begins in `bytes`
    char previous = carried ? m_pending.back() : '\0';

    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (!isFrameChar(c)) {
            // Junk: drop the unfinished frame, wait for the next '*'.
            start = -1;
            if (carried) {
                carried = false;
                m_pending.clear();
            }
        } else if (start < 0) {
            if (c == '*')
                start = i;
        } else if (c == '#' && previous == '#') {
            // The frame's own '*' is never a '#', so "##" here always follows the start.
            const QByteArrayView tail = bytes.sliced(start, i + 1 - start);
            start = -1;
            if (carried) {
                carried = false;
                QByteArray frame = std::exchange(m_pending, QByteArray());
                frame.append(tail);
                if (!sink(QLatin1StringView(frame)))
                    return false;
            } else if (!sink(QLatin1StringView(tail))) {
                return false;
            }
        }
        previous = c;
    }

    if (carried)
        keepTail(bytes);
    else if (start >= 0)
        keepTail(bytes.sliced(start));
    return true;
}

void FrameAssembler::keepTail(QByteArrayView tail)
{
    m_pending.append(tail);
    if (m_pending.size() <= kLimit)
        return;
    // A peer that never ends its frame: keep only the newest text, from its first '*'.
    m_pending.remove(0, m_pending.size() - kLimit);
    const qsizetype star = m_pending.indexOf('*');
    if (star < 0)
        m_pending.clear();
    else
        m_pending.remove(0, star);
}

void FrameAssembler::clear()
{
    m_pending.clear();
}

QString FrameAssembler::pending() const
{
    return QString::fromLatin1(m_pending);
}

} // namespace powerlog
