#include "householdprofile.h"

#include <QtGlobal>
#include <cmath>

namespace powerlog::sim {

namespace {

constexpr int kMinVolts = 226;
constexpr int kMaxVolts = 234;

} // namespace

// Position 1 has the highest priority (shed last), position 8 the lowest (shed first).
static constexpr std::array<HouseholdProfile::Model, HouseholdProfile::kLoads> kControlled{{
    {"fridge", 150, 150, 15, 40, 0.05},
    {"oven", 2200, 1200, 30, 90, 0.004},
    {"dishwasher", 1800, 150, 40, 120, 0.003},
    {"washing machine", 2000, 350, 40, 120, 0.003},
    {"water heater", 1200, 1200, 30, 120, 0.004},
    {"air conditioner", 900, 700, 30, 180, 0.004},
    {"iron", 1100, 1100, 10, 40, 0.004},
    {"tumble dryer", 1500, 600, 30, 90, 0.003},
}};
static constexpr HouseholdProfile::Model kKettle{"kettle", 2000, 2000, 2, 5, 0.01};

HouseholdProfile::HouseholdProfile(quint32 seed)
    : m_random(seed), m_baseWatts(150 + int(m_random.bounded(151)))
{
    for (int i = 0; i < kLoads; ++i)
        m_loads[i].model = &kControlled[i];
    m_kettle.model = &kKettle;
}

// How busy the household is: low at night, peaks in the morning and in the evening.
double HouseholdProfile::activity(double hourOfDay)
{
    if (hourOfDay < 6.0)
        return 0.2;
    if (hourOfDay < 9.0)
        return 1.0;
    if (hourOfDay < 12.0)
        return 0.5;
    if (hourOfDay < 14.0)
        return 0.8;
    if (hourOfDay < 18.0)
        return 0.5;
    if (hourOfDay < 23.0)
        return 1.2;
    return 0.4;
}

double HouseholdProfile::typicalWatts(double hourOfDay)
{
    const double busy = activity(hourOfDay);
    // An appliance that starts with chance c per idle second and runs L seconds on average is
    // running c L / (1 + c L) of the time; 40 % of a run draws the full power, the rest the tail.
    const auto share = [busy](const Model& m) {
        const double length = (m.minSeconds + m.maxSeconds) / 2.0;
        const double starts = m.chance * busy * length;
        return starts / (1.0 + starts) * (0.4 * m.watts + 0.6 * m.tailWatts);
    };
    double watts = 225.0 + 400.0 * busy + share(kKettle);
    for (const Model& m : kControlled)
        watts += share(m);
    return watts;
}

int HouseholdProfile::drawOf(const Appliance& a)
{
    if (a.left <= 0)
        return 0;
    // The first 40 % of a run draws the full power (heating), the rest the tail power.
    const int elapsed = a.length - a.left;
    return elapsed * 10 < a.length * 4 ? a.model->watts : a.model->tailWatts;
}

void HouseholdProfile::step(Appliance& a, double activity)
{
    if (a.left > 0) {
        --a.left;
        return;
    }
    const Model& s = *a.model;
    if (m_random.generateDouble() < s.chance * activity) {
        a.length = s.minSeconds + int(m_random.bounded(s.maxSeconds - s.minSeconds + 1));
        a.left = a.length;
    }
}

void HouseholdProfile::advance(double hourOfDay)
{
    const double busy = activity(hourOfDay);
    m_curveWatts = int(400.0 * busy);
    m_noise = 0.92 + 0.16 * m_random.generateDouble();
    // The mains tension wanders slowly inside its band.
    if (m_random.bounded(10) == 0)
        m_volts = qBound(kMinVolts, m_volts + int(m_random.bounded(3)) - 1, kMaxVolts);
    for (Appliance& a : m_loads)
        step(a, busy);
    step(m_kettle, busy);
}

int HouseholdProfile::uncontrolledWatts() const
{
    return int(std::lround((m_baseWatts + m_curveWatts) * m_noise)) + drawOf(m_kettle);
}

int HouseholdProfile::demandWatts(int position) const
{
    if (position < 1 || position > kLoads)
        return 0;
    return drawOf(m_loads[position - 1]);
}

QString HouseholdProfile::applianceName(int position)
{
    if (position < 1 || position > kLoads)
        return {};
    return QString::fromLatin1(kControlled[position - 1].name);
}

} // namespace powerlog::sim
