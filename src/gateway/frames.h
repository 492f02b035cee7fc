#pragma once

#include <QList>
#include <QString>

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

bool IsAck(const QString& buffer);
bool IsNack(const QString& buffer);
// A buffer holding "*#" and ending in '#'. A NACK passes this test too: test IsAck first.
bool IsPasswordRequest(const QString& buffer);

// A measurement reply of the load-control central unit, values as the texts received.
struct Measurement
{
    enum class Kind { None, Full, PowerOnly };
    Kind kind = Kind::None;
    QString V;
    QString A;
    QString W;
    QString E;

    bool operator==(const Measurement&) const = default;
};

// "*#3*<where>*0*V*A*W*E##" gives a full reading, "*#3*<where>*3*W##" a power-only value;
// anything else gives Kind::None.
Measurement ParseMeasurement(const QString& chunk);

// One load event of the monitor session: load index 0..7 and the state digit ('0'..'3').
struct LoadEvent
{
    int index = 0;
    QChar state;

    bool operator==(const LoadEvent&) const = default;
};

struct LoadEventBatch
{
    QList<LoadEvent> events; // the events before any error, in order
    bool failed = false;     // a piece with a bad position or state stopped the split
    QString error;           // "<number> - <description>" when failed
};

// Splits text on "##" and keeps the "*3*" pieces. The text after the last "##" is ignored.
LoadEventBatch SplitLoadEvents(const QString& chunk);

} // namespace powerlog::frames
