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

LoadPicture LoadStates::picture(int index) const
{
    return isLoad(index) ? m_pictures[std::size_t(index)] : LoadPicture::Design;
}

void LoadStates::markUnknown()
{
    for (int index = 0; index < kLoadCount; ++index) {
        const auto i = std::size_t(index);
        m_pinned[i] = false;
        if (m_pictures[i] == LoadPicture::Design || m_pictures[i] == LoadPicture::Unknown)
            continue;
        m_pictures[i] = LoadPicture::Unknown;
        emit pictureChanged(index);
    }
}

void LoadStates::applyLoadEvent(int index, QChar state)
{
    if (!isLoad(index))
        return;
    LoadPicture statePicture;
    switch (state.unicode()) {
    case u'0':
        statePicture = LoadPicture::Off;
        break;
    case u'1':
        statePicture = LoadPicture::On;
        break;
    case u'2':
        statePicture = LoadPicture::Forced;
        break;
    case u'3':
        statePicture = LoadPicture::Other;
        break;
    default:
        return;
    }

    const auto i = std::size_t(index);
    bool applied = true;
    switch (statePicture) {
    case LoadPicture::Off:
        m_pinned[i] = false;
        m_offNames[i] = loadName(index);
        break;
    case LoadPicture::On:
        m_offNames[i].clear();
        applied = !m_pinned[i]; // a forced load keeps its picture
        break;
    case LoadPicture::Forced:
        m_pinned[i] = true;
        m_offNames[i].clear();
        break;
    default:
        m_pinned[i] = false;
        break;
    }
    const bool changed = applied && m_pictures[i] != statePicture;
    if (applied)
        m_pictures[i] = statePicture;
    emit loadEventApplied(index, statePicture, applied);
    if (changed)
        emit pictureChanged(index);
}

} // namespace powerlog
