#include "gateway/frames.h"

#include <QStringList>

namespace powerlog::frames {

namespace {

const QString kTerminator = QStringLiteral("##");

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

QString passwordReplyFrame(quint32 reply)
{
    return QStringLiteral("*#") + QString::number(reply) + kTerminator;
}

QString loadCommandFrame(int position)
{
    return QStringLiteral("*3*2*#") + QString::number(position) + kTerminator;
}

FrameKind classifyFrame(QLatin1StringView frame)
{
    if (frame == kAck)
        return FrameKind::Ack;
    if (frame == kNack)
        return FrameKind::Nack;
    const QLatin1StringView head("*#");
    const QLatin1StringView tail("##");
    if (frame.size() <= head.size() + tail.size() || !frame.startsWith(head) ||
        !frame.endsWith(tail))
        return FrameKind::Other;
    const QLatin1StringView digits =
        frame.sliced(head.size(), frame.size() - head.size() - tail.size());
    for (char c : digits) {
        if (c < '0' || c > '9')
            return FrameKind::Other;
    }
    return FrameKind::Nonce;
}

LoadEventBatch splitLoadEvents(const QString& chunk)
{
    // Character positions inside "*3*<state>*#<position>...".
    constexpr qsizetype kStateAt = 3;
    constexpr qsizetype kPositionAt = 6;

    LoadEventBatch batch;
    QStringList pieces = chunk.split(kTerminator);
    pieces.removeLast(); // the text after the last "##" is not a whole frame

    using Error = LoadEventError;
    for (const QString& piece : std::as_const(pieces)) {
        if (!piece.startsWith(QStringLiteral("*3*")))
            continue;
        if (piece.size() <= kPositionAt) {
            batch.error = Error{Error::Kind::TooShort, piece, QChar()};
            break;
        }
        const QChar state = piece.at(kStateAt);
        const QChar position = piece.at(kPositionAt);
        if (!isAsciiDigit(state)) {
            batch.error = Error{Error::Kind::BadState, piece, state};
            break;
        }
        if (!isAsciiDigit(position)) {
            batch.error = Error{Error::Kind::BadPosition, piece, position};
            break;
        }
        if (position == QLatin1Char('0')) {
            batch.error = Error{Error::Kind::PositionZero, piece, position};
            break;
        }
        if (position == QLatin1Char('9'))
            continue; // a ninth position exists on the bus but is not one of our eight loads
        batch.events.append({position.unicode() - '1', state});
    }
    return batch;
}

} // namespace powerlog::frames
