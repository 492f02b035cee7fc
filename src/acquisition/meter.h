#pragma once

#include "acquisition/databasewriter.h"
#include "acquisition/livegraph.h"
#include "acquisition/reading.h"

#include <QObject>
#include <functional>
#include <utility>

namespace powerlog {

class Clock;

// Where a measurement reply goes: the meter turns each whole frame into one Reading, feeds the
// live graph, records the reading while recording is on, and hands it on to whoever shows it.
// Works without any window.
class Meter : public QObject
{
    Q_OBJECT
public:
    Meter(DatabaseWriter& database, const Clock& clock, QObject* parent = nullptr);

    // A whole frame from the command session; frames that are not measurement replies are
    // ignored.
    void takeFrame(const QString& frame);
    // A reading another source made (an energy meter): as a frame's.
    void takeReading(const Reading& reading);

    void setRecording(bool on);
    bool isRecording() const { return m_recording; }
    // Asked before each reading is recorded, while recording is on: false keeps the reading out
    // of the file (another program records into it). Without one every reading is recorded.
    void setRecordGate(std::function<bool()> gate) { m_recordGate = std::move(gate); }

    LiveGraphModel& liveGraph() { return m_graph; }
    const LiveGraphModel& liveGraph() const { return m_graph; }

signals:
    // After the graph took it and before it is recorded.
    void readingArrived(const powerlog::Reading& reading);
    void recordingChanged(bool on);
    // The database could not take a reading. NoConnection: recording goes on, and the reading
    // is written once the file is back. Failed: the row was refused and recording stopped.
    void recordFailed(const powerlog::DatabaseResult& result);

private:
    void onInsertFailed(const DatabaseResult& result);

    DatabaseWriter& m_database;
    const Clock& m_clock;
    LiveGraphModel m_graph;
    std::function<bool()> m_recordGate;
    bool m_recording = false;
};

} // namespace powerlog
