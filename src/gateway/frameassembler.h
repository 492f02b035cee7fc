#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>
#include <QString>
#include <functional>

namespace powerlog {

// Cuts a TCP byte stream into whole OpenWebNet frames ("*...##"). An unfinished trailing
// frame is kept until the rest arrives. The pending text is bounded: a peer that never sends
// "##" cannot make it grow without limit (the oldest bytes are dropped).
class FrameAssembler
{
public:
    static constexpr qsizetype kLimit = 64 * 1024;

    // Receives each frame, with its "##", the moment it is cut; the view lasts for the call
    // only. Returning false stops the cutting: the rest of the bytes is dropped and the
    // assembler is not touched again, so the receiver may even destroy it.
    using FrameSink = std::function<bool(QLatin1StringView frame)>;

    // Appends bytes and hands out the frames they complete, in order. Frames are never
    // collected, so a flood of tiny frames costs no more memory than one frame. Returns false
    // when the sink stopped it.
    bool feed(QByteArrayView bytes, const FrameSink& sink);
    void clear();
    QString pending() const;

private:
    void keepTail(QByteArrayView tail);

    QByteArray m_pending; // empty, or the start of one frame: '*', frame characters, no "##"
};

} // namespace powerlog
