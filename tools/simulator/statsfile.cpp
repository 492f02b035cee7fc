#include "statsfile.h"

#include "faultcycle.h"
#include "gatewaysimulator.h"

#include <QSaveFile>

namespace powerlog::sim {

StatsFile::StatsFile(QString path, const GatewaySimulator& simulator, const FaultCycle* cycle,
                     int intervalMs, QObject* parent)
    : QObject(parent), m_path(std::move(path)), m_simulator(simulator), m_cycle(cycle)
{
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &StatsFile::write);
    m_timer.start();
}

bool StatsFile::write()
{
    QByteArray text = "readings_sent=" + QByteArray::number(m_simulator.readingsSent()) +
                      "\nconnections=" + QByteArray::number(m_simulator.connectionCount()) + "\n";
    if (m_cycle) {
        text += "fault_phase=" + m_cycle->phaseName().toUtf8() +
                "\nfault_phases_started=" + QByteArray::number(m_cycle->phasesStarted()) + "\n";
    }
    QSaveFile file(m_path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

} // namespace powerlog::sim
