#include "ui/main/loadicons.h"

namespace powerlog {

namespace {

const QString kOffPrefix = QStringLiteral("OFF: ");

} // namespace

LoadIcons::LoadIcons(const LoadStates& states, QObject* parent) : QObject(parent), m_states(states)
{
    for (int i = 0; i < kLoadCount; ++i)
        m_shown[std::size_t(i)] = statePicture(m_states.state(i));
    m_scrollTimer.setObjectName(QStringLiteral("Tscor"));
    connect(&m_scrollTimer, &QTimer::timeout, this, &LoadIcons::scrollBanner);
    connect(&m_states, &LoadStates::loadEventApplied, this, &LoadIcons::onLoadEvent);
    connect(&m_states, &LoadStates::stateChanged, this, &LoadIcons::refresh);
}

LoadPicture LoadIcons::picture(int index) const
{
    return LoadStates::isLoad(index) ? m_shown[std::size_t(index)] : LoadPicture::Design;
}

void LoadIcons::onLoadEvent(int index, LoadState state, bool applied)
{
    // An event for the highlighted icon replaces the highlight with the new state picture. A
    // forced load ignores "on": its icon keeps the highlight and the hover end brings back the
    // forced picture.
    if (m_hoverIndex == index + 1 && applied) {
        m_savedPicture = statePicture(state);
        m_hoverIndex = 0;
    }
    refresh(index);
}

void LoadIcons::refresh(int index)
{
    const LoadPicture shown =
        m_hoverIndex == index + 1 ? LoadPicture::Highlight : statePicture(m_states.state(index));
    auto& current = m_shown[std::size_t(index)];
    if (current == shown)
        return;
    current = shown;
    emit iconChanged(index);
}

void LoadIcons::loadEventsHandled()
{
    if (!m_hoverShown)
        showOffLoads();
}

void LoadIcons::hoverLoad(int index)
{
    if (!LoadStates::isLoad(index) || m_hoverIndex == index + 1)
        return;
    const int previous = m_hoverIndex - 1;
    m_hoverIndex = index + 1;
    if (previous >= 0)
        refresh(previous);
    m_scrollTimer.stop();
    m_scrollMs = 0;
    m_savedPicture = statePicture(m_states.state(index));
    refresh(index);
    setBanner(m_states.loadName(index) + QLatin1Char(' '));
    startScrollingIfLong(kHoverScrollMs);
    m_hoverShown = true;
}

void LoadIcons::endHover()
{
    if (!m_hoverShown)
        return;
    m_scrollTimer.stop();
    m_scrollMs = 0;
    setBanner(QString());
    m_hoverShown = false;
    const int previous = m_hoverIndex - 1;
    m_hoverIndex = 0;
    if (previous >= 0)
        refresh(previous);
    showOffLoads();
}

void LoadIcons::showOffLoads()
{
    const QStringList off = m_states.offNames();
    m_scrollTimer.stop();
    m_scrollMs = 0;
    // Every load back on: nothing is off, so nothing is listed.
    if (off.isEmpty()) {
        setBanner(QString());
        return;
    }
    QString text = kOffPrefix;
    for (const QString& name : off)
        text += name + QLatin1Char(' ');
    setBanner(text);
    startScrollingIfLong(kOffListScrollMs);
}

void LoadIcons::scrollBanner()
{
    if (m_banner.isEmpty())
        return;
    setBanner(m_banner.mid(1) + m_banner.front());
}

void LoadIcons::setBanner(const QString& text)
{
    if (m_banner == text)
        return;
    m_banner = text;
    emit bannerChanged(m_banner);
}

void LoadIcons::startScrollingIfLong(int intervalMs)
{
    m_scrollMs = m_banner.size() > kBannerWidth ? intervalMs : 0;
    if (m_scrollMs && m_visible)
        m_scrollTimer.start(m_scrollMs);
}

void LoadIcons::setShown(bool shown)
{
    m_visible = shown;
    if (!shown)
        m_scrollTimer.stop();
    else if (m_scrollMs && !m_scrollTimer.isActive())
        m_scrollTimer.start(m_scrollMs);
}

} // namespace powerlog
