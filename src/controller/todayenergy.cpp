#include "controller/todayenergy.h"

#include "app/clock.h"

namespace powerlog {

TodayEnergy::TodayEnergy(DatabaseReader& reader, const Clock& clock, int intervalMs,
                         QObject* parent)
    : QObject(parent), m_clock(clock), m_source(reader)
{
    m_nextRead.setSingleShot(true);
    m_intervalTimer.setSingleShot(true);
    m_intervalTimer.setInterval(intervalMs);
    connect(&m_nextRead, &QTimer::timeout, this, &TodayEnergy::read);
    connect(&m_source, &EnergySource::tableRead, this, &TodayEnergy::show);
}

void TodayEnergy::setWanted(bool wanted)
{
    if (wanted == m_wanted)
        return;
    m_wanted = wanted;
    if (wanted)
        refresh();
    else
        m_nextRead.stop();
}

void TodayEnergy::refresh()
{
    if (!m_wanted || m_nextRead.isActive())
        return;
    if (!m_intervalTimer.isActive()) {
        read();
        return;
    }
    m_nextRead.start(m_intervalTimer.remainingTime());
}

void TodayEnergy::read()
{
    m_intervalTimer.start();
    m_day = m_clock.now().date();
    m_source.requestTable(EnergyPeriod::Daily, m_day);
}

void TodayEnergy::show(const EnergyTable& table)
{
    if (table.first != m_day)
        return;
    const EnergyFigures today = table.total();
    if (m_figures == today)
        return;
    m_figures = today;
    emit changed(today);
}

} // namespace powerlog
