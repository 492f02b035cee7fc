#include "faultcycle.h"

namespace powerlog::sim {

namespace {

// Frames a session carries before the cut: a few readings get through each time.
constexpr int kFramesBeforeCut = 4;

} // namespace

QList<FaultPhase> FaultCycle::standardPhases(const Faults& base)
{
    const auto with = [&base](auto change) {
        Faults faults = base;
        change(faults);
        return faults;
    };
    return {
        {QStringLiteral("none"), base},
        {QStringLiteral("silent"), with([](Faults& f) { f.silent = true; })},
        {QStringLiteral("nack-all"), with([](Faults& f) { f.nackAll = true; })},
        {QStringLiteral("cut-frame"), with([](Faults& f) { f.cutFrameAfter = kFramesBeforeCut; })},
        {QStringLiteral("garbage"), with([](Faults& f) { f.garbageBetween = true; })},
        {QStringLiteral("split"), with([](Faults& f) { f.splitFrames = true; })},
        {QStringLiteral("no-greeting"), with([](Faults& f) { f.noGreeting = true; })},
    };
}

FaultCycle::FaultCycle(GatewaySimulator& simulator, QList<FaultPhase> phases, int phaseMs,
                       QObject* parent)
    : QObject(parent), m_simulator(simulator), m_phases(std::move(phases))
{
    m_timer.setInterval(qMax(1, phaseMs));
    connect(&m_timer, &QTimer::timeout, this, [this] { enter((m_index + 1) % m_phases.size()); });
}

void FaultCycle::start()
{
    if (m_phases.isEmpty())
        return;
    enter(0);
    m_timer.start();
}

QString FaultCycle::phaseName() const
{
    return m_index >= 0 ? m_phases.at(m_index).name : QString();
}

void FaultCycle::enter(int index)
{
    m_index = index;
    ++m_started;
    m_simulator.setFaults(m_phases.at(index).faults);
    emit phaseChanged(m_phases.at(index).name);
}

} // namespace powerlog::sim
