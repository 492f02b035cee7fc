#include "acquisition/meter.h"

#include "app/clock.h"

#include <QPointer>

namespace powerlog {

Meter::Meter(DatabaseWriter& database, const Clock& clock, QObject* parent)
    : QObject(parent), m_database(database), m_clock(clock)
{
    connect(&m_database, &DatabaseWriter::insertFailed, this, &Meter::onInsertFailed);
}

void Meter::takeFrame(const QString& frame)
{
    const std::optional<Reading> reading = readingFromFrame(frame, m_clock.now());
    if (reading)
        takeReading(*reading);
}

void Meter::takeReading(const Reading& reading)
{
    if (reading.kind == Reading::Kind::Full && reading.power)
        m_graph.addPower(*reading.power, reading.time);

    const QPointer<Meter> alive(this);
    emit readingArrived(reading);
    if (alive && m_recording && reading.isRecordable() && (!m_recordGate || m_recordGate()))
        m_database.insert(reading);
}

void Meter::setRecording(bool on)
{
    if (m_recording == on)
        return;
    m_recording = on;
    emit recordingChanged(on);
}

void Meter::onInsertFailed(const DatabaseResult& result)
{
    if (result.kind == DatabaseResult::Kind::Failed)
        setRecording(false);
    emit recordFailed(result);
}

} // namespace powerlog
