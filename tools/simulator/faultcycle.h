#pragma once

#include "gatewaysimulator.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

namespace powerlog::sim {

// One step of a fault cycle: a name for logs and statistics, and the faults it switches on.
struct FaultPhase
{
    QString name;
    Faults faults;
};

// Walks a simulator through fault phases, each for the same time, over and over, so a long
// run meets every fault while connections come and go. Each phase adds its fault to the base
// faults the simulator had when the cycle was made; open connections see the change at once.
class FaultCycle : public QObject
{
    Q_OBJECT
public:
    // No faults, silence, a NACK storm, frames cut by a close, junk between frames, split
    // frames, no greeting; each on top of `base`.
    static QList<FaultPhase> standardPhases(const Faults& base);

    FaultCycle(GatewaySimulator& simulator, QList<FaultPhase> phases, int phaseMs,
               QObject* parent = nullptr);

    // Switches to the first phase now and moves on every phaseMs.
    void start();
    QString phaseName() const;
    int phasesStarted() const { return m_started; } // every phase switched to, counting repeats

signals:
    void phaseChanged(const QString& name);

private:
    void enter(int index);

    GatewaySimulator& m_simulator;
    QList<FaultPhase> m_phases;
    QTimer m_timer;
    int m_index = -1;
    int m_started = 0;
};

} // namespace powerlog::sim
