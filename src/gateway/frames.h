#pragma once

#include <QLatin1StringView>
#include <QList>
#include <QMetaType>
#include <QString>
#include <optional>

namespace powerlog::frames {

// Frames the program sends.
inline const QString kOpenCommand = QStringLiteral("*99*0##");
inline const QString kOpenEvent = QStringLiteral("*99*1##");
inline const QString kMeasurementRequest = QStringLiteral("*#3*10*0##");
inline const QString kLoadStatusRequest = QStringLiteral("*#3##");
inline const QString kAck = QStringLiteral("*#*1##");
inline const QString kNack = QStringLiteral("*#*0##");

// "*#" + P + "##": the answer to a gateway's password nonce.
QString passwordReplyFrame(quint32 reply);
// "*3*2*#" + N + "##": the load command for load position N (1..8).
QString loadCommandFrame(int position);

// What one whole frame from the gateway means to the session exchange: an acknowledgement, a
// refusal, a password nonce ("*#<digits>##") or anything else.
enum class FrameKind { Ack, Nack, Nonce, Other };
FrameKind classifyFrame(QLatin1StringView frame);

// One load event of the monitor session: load index 0..7 and the state digit ('0'..'3').
struct LoadEvent
{
    int index = 0;
    QChar state;

    bool operator==(const LoadEvent&) const = default;
};

// A load event the program cannot take: what is wrong, in which piece, at which character.
struct LoadEventError
{
    enum class Kind {
        TooShort,     // the piece ends before its position digit
        BadState,     // the state is not a digit
        BadPosition,  // the position is not a digit
        PositionZero, // position 0 is out of range
    };
    Kind kind = Kind::TooShort;
    QString piece;   // the piece as received, without its "##"
    QChar character; // the state or position character in question; none when TooShort

    bool operator==(const LoadEventError&) const = default;
};

struct LoadEventBatch
{
    QList<LoadEvent> events;             // the events before any error, in order
    std::optional<LoadEventError> error; // the piece that stopped the split
};

// Splits text on "##" and keeps the "*3*" pieces. The text after the last "##" is ignored.
LoadEventBatch splitLoadEvents(const QString& chunk);

} // namespace powerlog::frames

Q_DECLARE_METATYPE(powerlog::frames::LoadEventError)
