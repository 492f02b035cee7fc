#pragma once

#include "acquisition/loadstate.h"
#include "ui/common/artwork.h"

#include <QObject>
#include <QTimer>
#include <array>

namespace powerlog {

// How the main window shows the loads: each icon's picture (its state, or the highlight while
// the pointer rests on it), and the banner beneath the icons listing the switched-off loads or
// the hovered load's name, scrolled by a timer (object name "Tscor") when it does not fit. With no
// load switched off and none hovered, the banner is empty.
class LoadIcons : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLoadCount = LoadStates::kLoadCount;
    // Banners longer than this scroll.
    static constexpr int kBannerWidth = 20;
    static constexpr int kHoverScrollMs = 500;
    static constexpr int kOffListScrollMs = 300;

    explicit LoadIcons(const LoadStates& states, QObject* parent = nullptr);

    // The banner step after a chunk of monitor data: shows the switched-off loads, unless a
    // hovered load's name is showing.
    void loadEventsHandled();

    // The pointer rests on load `index`: its icon is highlighted and its name shows.
    void hoverLoad(int index);
    // The pointer has left the icons.
    void endHover();
    // Rebuilds the banner from the switched-off loads; empty when none is off.
    void showOffLoads();
    // Scrolls the banner left by one character.
    void scrollBanner();
    // A hidden window's banner does not scroll: nobody would see it move.
    void setShown(bool shown);

    LoadPicture picture(int index) const;
    int hoverIndex() const { return m_hoverIndex; }
    bool hoverShown() const { return m_hoverShown; }
    // The picture the highlighted icon gets back when the hover ends.
    LoadPicture savedPicture() const { return m_savedPicture; }
    QString banner() const { return m_banner; }
    const QTimer* scrollTimer() const { return &m_scrollTimer; }

signals:
    void iconChanged(int index);
    void bannerChanged(const QString& text);

private:
    void onLoadEvent(int index, LoadState state, bool applied);
    void refresh(int index);
    void setBanner(const QString& text);
    void startScrollingIfLong(int intervalMs);

    const LoadStates& m_states;
    std::array<LoadPicture, kLoadCount> m_shown{};
    int m_hoverIndex = 0; // index + 1 of the highlighted icon, 0 for none
    bool m_hoverShown = false;
    LoadPicture m_savedPicture = LoadPicture::Design;
    bool m_visible = true;
    int m_scrollMs = 0; // the interval the banner scrolls at, 0 when it does not
    QString m_banner;
    QTimer m_scrollTimer;
};

} // namespace powerlog
