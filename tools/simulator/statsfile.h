#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace powerlog::sim {

class FaultCycle;
class GatewaySimulator;

// Keeps a file with what the simulator has done so far, for scripts that compare it with
// what a client recorded: "key=value" lines, rewritten whole (never seen half-written) every
// interval and whenever write() is called.
//
//   readings_sent=N        measurement readings whose whole frame went out
//   connections=N          connections accepted
//   fault_phase=NAME       the fault cycle's phase (with a cycle)
//   fault_phases_started=N phases switched to so far (with a cycle)
class StatsFile : public QObject
{
    Q_OBJECT
public:
    StatsFile(QString path, const GatewaySimulator& simulator, const FaultCycle* cycle = nullptr,
              int intervalMs = 1000, QObject* parent = nullptr);

    // False when the file could not be written.
    bool write();

private:
    QString m_path;
    const GatewaySimulator& m_simulator;
    const FaultCycle* m_cycle;
    QTimer m_timer;
};

} // namespace powerlog::sim
