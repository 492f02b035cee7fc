#include "acquisition/loadstate.h"

#include <QTimer>
#include <algorithm>

namespace powerlog {

namespace {

const QString kOffPrefix = QStringLiteral("OFF: ");

} // namespace

LoadStateModel::LoadStateModel(QObject* parent) : QObject(parent), m_tscor(new QTimer(this))
{
    m_pictures.fill(LoadPicture::Design);
    m_tscor->setObjectName(QStringLiteral("Tscor"));
    connect(m_tscor, &QTimer::timeout, this, &LoadStateModel::Tscor_Timer);
}

void LoadStateModel::setLoadNames(const QStringList& names)
{
    m_loadNames = names.mid(0, kLoadCount);
    while (m_loadNames.size() < kLoadCount)
        m_loadNames.append(QString());
}

QString LoadStateModel::offName(int index) const
{
    return isLoad(index) ? m_offNames[std::size_t(index)] : QString();
}

bool LoadStateModel::isPinned(int index) const
{
    return isLoad(index) && m_pinned[std::size_t(index)];
}

LoadPicture LoadStateModel::picture(int index) const
{
    return isLoad(index) ? m_pictures[std::size_t(index)] : LoadPicture::Design;
}

void LoadStateModel::applyLoadEvent(int index, QChar state)
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

    // An event for the highlighted icon replaces the highlight with the new state picture, so
    // the hover end has nothing to restore. A forced load ignores "on": its icon keeps the
    // highlight and the hover end brings back the forced picture.
    const auto pinnedOn = statePicture == LoadPicture::On && m_pinned[std::size_t(index)];
    if (m_hoverIndex == index + 1 && !pinnedOn) {
        m_iold = statePicture;
        m_hoverIndex = 0;
    }

    const auto i = std::size_t(index);
    switch (statePicture) {
    case LoadPicture::Off:
        m_pinned[i] = false;
        m_offNames[i] = loadName(index);
        break;
    case LoadPicture::On:
        m_offNames[i].clear();
        if (m_pinned[i])
            return;
        break;
    case LoadPicture::Forced:
        m_pinned[i] = true;
        m_offNames[i].clear();
        break;
    default:
        m_pinned[i] = false;
        break;
    }
    setPicture(index, statePicture);
}

void LoadStateModel::loadEventsHandled()
{
    if (!m_hoverShown)
        ShowOffLoads();
}

void LoadStateModel::Iload_MouseMove(int index)
{
    if (!isLoad(index) || m_hoverIndex == index + 1)
        return;
    if (m_hoverIndex != 0)
        setPicture(m_hoverIndex - 1, m_iold);
    m_hoverIndex = index + 1;
    m_tscor->stop();
    m_iold = picture(index);
    setPicture(index, LoadPicture::Highlight);
    setBanner(loadName(index) + QLatin1Char(' '));
    startScrollingIfLong(kHoverScrollMs);
    m_hoverShown = true;
}

void LoadStateModel::EndLoadHover()
{
    if (!m_hoverShown)
        return;
    m_tscor->stop();
    setBanner(QString());
    m_hoverShown = false;
    if (m_hoverIndex != 0)
        setPicture(m_hoverIndex - 1, m_iold);
    m_hoverIndex = 0;
    ShowOffLoads();
}

void LoadStateModel::ShowOffLoads()
{
    const auto offEnd = m_offNames.begin() + kLoadCount;
    if (std::all_of(m_offNames.begin(), offEnd, [](const QString& n) { return n.isEmpty(); }))
        return;
    m_tscor->stop();
    QString text = kOffPrefix;
    for (auto it = m_offNames.begin(); it != offEnd; ++it) {
        if (!it->isEmpty())
            text += *it + QLatin1Char(' ');
    }
    setBanner(text);
    startScrollingIfLong(kOffListScrollMs);
}

void LoadStateModel::Tscor_Timer()
{
    if (m_banner.isEmpty())
        return;
    setBanner(m_banner.mid(1) + m_banner.front());
}

void LoadStateModel::setPicture(int index, LoadPicture picture)
{
    auto& current = m_pictures[std::size_t(index)];
    if (current == picture)
        return;
    current = picture;
    emit iconChanged(index);
}

void LoadStateModel::setBanner(const QString& text)
{
    if (m_banner == text)
        return;
    m_banner = text;
    emit bannerChanged(m_banner);
}

void LoadStateModel::startScrollingIfLong(int intervalMs)
{
    if (m_banner.size() > kBannerWidth)
        m_tscor->start(intervalMs);
}

} // namespace powerlog
