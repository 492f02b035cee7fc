// The frame parsers on arbitrary text (the input as Latin-1, as the sessions read it):
//  - readingFromFrame: W, E and the numbers as promised (power the 16-bit value of W, energy
//    the finite value of E, no "##" left in the last field), and a frame built from the
//    reading's texts reads back as the same reading;
//  - splitLoadEvents: events of loads 0..7 with a digit state, the error piece a "*3*" piece,
//    every event read back from the frame that carries it, and LoadStates taking them;
//  - classifyFrame: a nonce is "*#" digits "##", and the frames the program builds classify as
//  such;
//  - powerValue, decimalValue and trayLevel within their ranges.

#include "fuzzsupport.h"

#include "acquisition/loadstate.h"
#include "acquisition/reading.h"
#include "app/config.h"
#include "gateway/frames.h"

#include <QDateTime>
#include <cmath>
#include <cstring>

using namespace powerlog;
using namespace powerlog::frames;

namespace {

bool isDigits(QLatin1StringView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool canTravelInAField(const QString& text)
{
    return !text.contains(u'*') && !text.contains(u'#');
}

void checkClassify(QLatin1StringView frame)
{
    const FrameKind kind = classifyFrame(frame);
    const bool nonce = frame.size() > 4 && frame.startsWith(QLatin1StringView("*#")) &&
                       frame.endsWith(QLatin1StringView("##")) &&
                       isDigits(frame.sliced(2, frame.size() - 4));
    if (frame == QLatin1StringView("*#*1##"))
        FUZZ_CHECK(kind == FrameKind::Ack);
    else if (frame == QLatin1StringView("*#*0##"))
        FUZZ_CHECK(kind == FrameKind::Nack);
    else
        FUZZ_CHECK(kind == (nonce ? FrameKind::Nonce : FrameKind::Other));
}

void checkReading(const QString& frame, const QDateTime& time)
{
    const std::optional<Reading> reading = readingFromFrame(frame, time);
    if (!reading)
        return;
    FUZZ_CHECK(reading->time == time);
    FUZZ_CHECK(reading->power == powerValue(reading->W));
    if (reading->kind == Reading::Kind::PowerOnly) {
        FUZZ_CHECK(!reading->W.contains(QStringLiteral("##")));
        FUZZ_CHECK(!reading->energy && reading->E.isEmpty() && !reading->isRecordable());
        if (canTravelInAField(reading->W)) {
            const QString rebuilt = QStringLiteral("*#3*10*3*%1##").arg(reading->W);
            FUZZ_CHECK_DETAIL(readingFromFrame(rebuilt, time) == reading, rebuilt);
        }
        return;
    }
    FUZZ_CHECK(!reading->E.contains(QStringLiteral("##")));
    FUZZ_CHECK(reading->energy == energyValue(reading->E));
    if (reading->energy)
        FUZZ_CHECK(std::isfinite(*reading->energy));
    FUZZ_CHECK(reading->isRecordable() == (reading->power && reading->energy));
    if (canTravelInAField(reading->V) && canTravelInAField(reading->A) &&
        canTravelInAField(reading->W) && canTravelInAField(reading->E)) {
        const QString rebuilt = QStringLiteral("*#3*10*0*%1*%2*%3*%4##")
                                    .arg(reading->V, reading->A, reading->W, reading->E);
        FUZZ_CHECK_DETAIL(readingFromFrame(rebuilt, time) == reading, rebuilt);
    }
}

void checkNumbers(const QString& text)
{
    if (const std::optional<qint16> power = powerValue(text)) {
        FUZZ_CHECK(powerValue(QString::number(*power)) == power);
        for (int index = 0; index <= 4; ++index) {
            const int level = trayLevel(*power, linePowerWatts(index));
            FUZZ_CHECK(level >= 1 && level <= 9);
        }
    }
    if (const std::optional<double> value = decimalValue(text)) {
        FUZZ_CHECK(std::isfinite(*value));
        FUZZ_CHECK(decimalValue(QString::number(*value, 'g', 17)) == value);
    }
}

void checkLoadEvents(const QString& chunk)
{
    const LoadEventBatch batch = splitLoadEvents(chunk);
    LoadStates loads;
    for (const LoadEvent& event : batch.events) {
        FUZZ_CHECK(LoadStates::isLoad(event.index));
        FUZZ_CHECK(event.state >= u'0' && event.state <= u'9');
        const QString frame = QStringLiteral("*3*%1*#%2##").arg(event.state).arg(event.index + 1);
        FUZZ_CHECK(splitLoadEvents(frame).events == QList<LoadEvent>{event});
        loads.applyLoadEvent(event.index, event.state);
        const LoadState picture = loads.state(event.index);
        FUZZ_CHECK(picture >= LoadState::Unseen && picture <= LoadState::Unknown);
    }
    if (batch.error) {
        FUZZ_CHECK(batch.error->piece.startsWith(QStringLiteral("*3*")));
        FUZZ_CHECK(!batch.error->piece.contains(QStringLiteral("##")));
        FUZZ_CHECK(chunk.contains(batch.error->piece + QStringLiteral("##")));
    }
    FUZZ_CHECK(loads.offNames().size() <= LoadStates::kLoadCount);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QLatin1StringView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text(bytes);
    checkClassify(bytes);
    checkReading(text, QDateTime(QDate(2026, 12, 5), QTime(10, 16, 26)));
    checkLoadEvents(text);
    checkNumbers(text);
    // The frames the program builds are what they say.
    if (size >= 4) {
        quint32 reply = 0;
        std::memcpy(&reply, data, sizeof reply);
        FUZZ_CHECK(classifyFrame(QLatin1StringView(passwordReplyFrame(reply).toLatin1())) ==
                   FrameKind::Nonce);
        const int position = 1 + data[0] % 8;
        // A load command has the shape of the event "load N entered state 2".
        const LoadEventBatch command = splitLoadEvents(loadCommandFrame(position));
        FUZZ_CHECK(!command.error);
        FUZZ_CHECK((command.events == QList<LoadEvent>{{position - 1, QLatin1Char('2')}}));
    }
    return 0;
}
