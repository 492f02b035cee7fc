#pragma once

#include <QRandomGenerator>
#include <QString>
#include <array>

namespace powerlog::sim {

// The power demand of a simulated household, one step per simulated second. The uncontrolled
// part (standby, lights, kettle) always draws; each of the eight controlled appliances only
// when the load-control unit lets its load position draw. Repeatable for a given seed and
// sequence of hours. It starts quiet (no appliance running), so a fresh gateway never sheds a
// load in its first seconds.
class HouseholdProfile
{
public:
    static constexpr int kLoads = 8;

    // One appliance of the household.
    struct Model
    {
        const char* name;
        int watts;      // while heating or starting
        int tailWatts;  // for the rest of the run
        int minSeconds; // run length range
        int maxSeconds;
        double chance; // chance of starting in one second at full household activity
    };

    explicit HouseholdProfile(quint32 seed);

    // One simulated second at the given local hour of the day (0.0 .. 24.0).
    void advance(double hourOfDay);

    int volts() const { return m_volts; }
    int uncontrolledWatts() const;
    // What load position 1..8 draws right now when it is allowed to (0 when idle).
    int demandWatts(int position) const;
    static QString applianceName(int position);

    // How busy the household is at a local hour of the day (0.0 .. 24.0): 0.2 at night up to
    // 1.2 in the evening.
    static double activity(double hourOfDay);
    // What the household draws on average at that hour, in W: the uncontrolled part at its
    // middle base load plus every appliance's share of the time it runs at that activity.
    static double typicalWatts(double hourOfDay);

private:
    struct Appliance
    {
        const Model* model = nullptr;
        int length = 0; // of the current run
        int left = 0;   // seconds left of the current run, 0 when idle
    };

    static int drawOf(const Appliance& a);
    void step(Appliance& a, double activity);

    QRandomGenerator m_random;
    int m_baseWatts;      // standby and always-on devices
    int m_curveWatts = 0; // lights, TV, cooking hobs: follows the time of day
    double m_noise = 1.0; // multiplies the uncontrolled part
    int m_volts = 230;
    std::array<Appliance, kLoads> m_loads;
    Appliance m_kettle; // not controlled: a short spike the unit cannot shed
};

} // namespace powerlog::sim
