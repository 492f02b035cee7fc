#include "acquisition/loadstate.h"

namespace powerlog {

void LoadStates::setLoadNames(const QStringList& names)
{
    m_loadNames = names.mid(0, kLoadCount);
    while (m_loadNames.size() < kLoadCount)
        m_loadNames.append(QString());
}

QString LoadStates::offName(int index) const
{
    return isLoad(index) ? m_offNames[std::size_t(index)] : QString();
}

QStringList LoadStates::offNames() const
{
    QStringList names;
    for (int i = 0; i < kLoadCount; ++i) {
        if (!m_offNames[std::size_t(i)].isEmpty())
            names << m_offNames[std::size_t(i)];
    }
    return names;
}

bool LoadStates::isPinned(int index) const
{
    return isLoad(index) && m_pinned[std::size_t(index)];
}

LoadState LoadStates::state(int index) const
{
    return isLoad(index) ? m_states[std::size_t(index)] : LoadState::Unseen;
}

void LoadStates::markUnknown()
{
    for (int index = 0; index < kLoadCount; ++index) {
        const auto i = std::size_t(index);
        m_pinned[i] = false;
        if (m_states[i] == LoadState::Unseen || m_states[i] == LoadState::Unknown)
            continue;
        m_states[i] = LoadState::Unknown;
        emit stateChanged(index);
    }
}

void LoadStates::applyLoadEvent(int index, QChar state)
{
    if (!isLoad(index))
        return;
    LoadState newState;
    switch (state.unicode()) {
    case u'0':
        newState = LoadState::Off;
        break;
    case u'1':
        newState = LoadState::On;
        break;
    case u'2':
        newState = LoadState::Forced;
        break;
    case u'3':
        newState = LoadState::Other;
        break;
    default:
        return;
    }

    const auto i = std::size_t(index);
    bool applied = true;
    switch (newState) {
    case LoadState::Off:
        m_pinned[i] = false;
        m_offNames[i] = loadName(index);
        break;
    case LoadState::On:
        m_offNames[i].clear();
        applied = !m_pinned[i]; // a forced load keeps its state
        break;
    case LoadState::Forced:
        m_pinned[i] = true;
        m_offNames[i].clear();
        break;
    default:
        m_pinned[i] = false;
        break;
    }
    const bool changed = applied && m_states[i] != newState;
    if (applied)
        m_states[i] = newState;
    emit loadEventApplied(index, newState, applied);
    if (changed)
        emit stateChanged(index);
}

} // namespace powerlog
