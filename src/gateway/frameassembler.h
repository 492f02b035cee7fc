#pragma once

#include <QByteArray>
#include <QStringList>

namespace powerlog {

// Cuts a TCP byte stream into whole OpenWebNet frames ("*...##"). An unfinished trailing
// frame is kept until the rest arrives. The pending text is bounded: a peer that never sends
// "##" cannot make it grow without limit (the oldest bytes are dropped).
class FrameAssembler
{
public:
    static constexpr qsizetype kLimit = 64 * 1024;

    // Appends bytes and returns the frames completed by them, each with its "##".
    QStringList feed(const QByteArray& bytes);
    void clear();
    QString pending() const;

private:
    QString m_pending;
};

} // namespace powerlog
