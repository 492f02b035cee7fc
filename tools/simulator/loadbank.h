#pragma once

#include <array>

namespace powerlog::sim {

// The eight load positions of the load-control central unit and their states:
// 0 switched off, 1 on, 2 forced on (never shed), 3 not controlled (draws nothing here).
// Position 1 has the highest priority, position 8 the lowest.
class LoadBank
{
public:
    static constexpr int kCount = 8;
    enum State { Off = 0, On = 1, Forced = 2, Idle = 3 };

    LoadBank();

    static bool isPosition(int position) { return position >= 1 && position <= kCount; }
    int state(int position) const;     // -1 for a position outside 1..8
    bool set(int position, int state); // false when nothing changed or invalid
    bool draws(int position) const;    // on or forced

    // Shedding switches off the lowest-priority load that is on; restoring switches back on
    // the highest-priority load that shedding switched off. 0 when there is none.
    int nextToShed() const;
    int nextToRestore() const;
    void shed(int position);
    void restore(int position);

private:
    std::array<int, kCount> m_state;
    std::array<bool, kCount> m_shed;
};

} // namespace powerlog::sim
