#pragma once

#include "acquisition/energyaccounts.h"

#include <QDate>
#include <QObject>
#include <QTimer>
#include <optional>

namespace powerlog {

class Clock;
class DatabaseReader;

// Today's energy as the database holds it, for the tray and the window: read when asked, at
// most once per interval however often readings are written, never on the window's thread, and
// only while something shows them.
class TodayEnergy : public QObject
{
    Q_OBJECT
public:
    TodayEnergy(DatabaseReader& reader, const Clock& clock, int intervalMs,
                QObject* parent = nullptr);

    // Reads today's energy now, or when `intervalMs` since the last read have passed; nothing
    // while nobody shows the figures.
    void refresh();

    // Whether something shows today's figures. Turned on, it reads them at once.
    void setWanted(bool wanted);

    // Nothing until the first read has answered.
    const std::optional<EnergyFigures>& figures() const { return m_figures; }

signals:
    void changed(const powerlog::EnergyFigures& today);

private:
    void read();
    void show(const EnergyTable& table);

    const Clock& m_clock;
    EnergySource m_source;
    QTimer m_nextRead;      // single shot: a refresh asked for within the interval
    QTimer m_intervalTimer; // single shot: runs while the interval since the last read lasts
    std::optional<EnergyFigures> m_figures;
    QDate m_day;
    bool m_wanted = false;
};

} // namespace powerlog
