#include "gateway/frames.h"

#include <QStringList>

namespace powerlog::frames {

namespace {

const QString kTerminator = QStringLiteral("##");

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// A field "compared as a number": plain decimal digits only, any length (leading zeros do not
// change the value, so an endless run of zeros is still 0 and an endless number is simply
// large). Returns -1 for anything that is not such a number, the value for 0..9, and 10 for
// every larger value, which is all the dimension test needs.
int smallNumber(const QString& field)
{
    if (field.isEmpty())
        return -1;
    int value = 0;
    for (QChar c : field) {
        if (!isAsciiDigit(c))
            return -1;
        if (value > 0 || c != QLatin1Char('0'))
            value = value == 0 ? c.unicode() - '0' : 10;
    }
    return value;
}

QString withoutTerminators(QString text)
{
    return text.remove(kTerminator);
}

// Error texts are shown in a message box: keep the quoted piece short.
QString quoted(const QString& piece)
{
    constexpr qsizetype kShown = 40;
    return piece.size() <= kShown ? piece : piece.left(kShown) + QStringLiteral("...");
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

bool IsAck(const QString& buffer)
{
    return buffer.contains(kAck);
}

bool IsNack(const QString& buffer)
{
    return buffer.contains(kNack);
}

bool IsPasswordRequest(const QString& buffer)
{
    return buffer.contains(QStringLiteral("*#")) && buffer.endsWith(QLatin1Char('#'));
}

Measurement ParseMeasurement(const QString& chunk)
{
    Measurement m;
    if (chunk.isEmpty())
        return m;
    const QStringList fields = chunk.split(QLatin1Char('*'));
    if (fields.size() < 5 || fields.at(1) != QStringLiteral("#3"))
        return m;

    switch (smallNumber(fields.at(3))) {
    case 0:
        if (fields.size() < 8)
            return m;
        m.kind = Measurement::Kind::Full;
        m.V = fields.at(4);
        m.A = fields.at(5);
        m.W = fields.at(6);
        m.E = withoutTerminators(fields.at(7));
        break;
    case 3:
        m.kind = Measurement::Kind::PowerOnly;
        m.W = withoutTerminators(fields.at(4));
        break;
    default:
        break;
    }
    return m;
}

LoadEventBatch SplitLoadEvents(const QString& chunk)
{
    // Character positions inside "*3*<state>*#<position>...".
    constexpr qsizetype kStateAt = 3;
    constexpr qsizetype kPositionAt = 6;

    LoadEventBatch batch;
    QStringList pieces = chunk.split(kTerminator);
    pieces.removeLast(); // the text after the last "##" is not a whole frame

    for (const QString& piece : std::as_const(pieces)) {
        if (!piece.startsWith(QStringLiteral("*3*")))
            continue;
        auto fail = [&](const QString& error) {
            batch.failed = true;
            batch.error = error;
        };
        if (piece.size() <= kPositionAt) {
            fail(QStringLiteral("13 - Load event too short: %1").arg(quoted(piece)));
            break;
        }
        const QChar state = piece.at(kStateAt);
        const QChar position = piece.at(kPositionAt);
        if (!isAsciiDigit(state)) {
            fail(
                QStringLiteral("13 - Invalid load state '%1' in %2").arg(state).arg(quoted(piece)));
            break;
        }
        if (!isAsciiDigit(position)) {
            fail(QStringLiteral("13 - Invalid load position '%1' in %2")
                     .arg(position)
                     .arg(quoted(piece)));
            break;
        }
        if (position == QLatin1Char('0')) {
            fail(QStringLiteral("9 - Load position '0' out of range in %1").arg(quoted(piece)));
            break;
        }
        if (position == QLatin1Char('9'))
            continue; // a ninth position exists on the bus but is not one of our eight loads
        batch.events.append({position.unicode() - '1', state});
    }
    return batch;
}

} // namespace powerlog::frames
