#include "loadbank.h"

namespace powerlog::sim {

LoadBank::LoadBank()
{
    m_state.fill(On);
    m_shed.fill(false);
}

int LoadBank::state(int position) const
{
    return isPosition(position) ? m_state[position - 1] : -1;
}

bool LoadBank::set(int position, int state)
{
    if (!isPosition(position) || state < Off || state > Idle || m_state[position - 1] == state)
        return false;
    m_state[position - 1] = state;
    m_shed[position - 1] = false; // a state set from outside is not ours to restore
    return true;
}

bool LoadBank::draws(int position) const
{
    const int s = state(position);
    return s == On || s == Forced;
}

int LoadBank::nextToShed() const
{
    for (int position = kCount; position >= 1; --position) {
        if (m_state[position - 1] == On)
            return position;
    }
    return 0;
}

int LoadBank::nextToRestore() const
{
    for (int position = 1; position <= kCount; ++position) {
        if (m_shed[position - 1] && m_state[position - 1] == Off)
            return position;
    }
    return 0;
}

void LoadBank::shed(int position)
{
    if (set(position, Off))
        m_shed[position - 1] = true;
}

void LoadBank::restore(int position)
{
    set(position, On);
}

} // namespace powerlog::sim
