#pragma once

#include <QChar>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>

class QTimer;

namespace powerlog {

// What a load icon shows: the window's design picture until the first event, then one picture
// per load state, or the highlight while the pointer rests on it.
enum class LoadPicture {
    Design,
    Off,    // state 0
    On,     // state 1
    Forced, // state 2: stays until state 0 or 3, a state 1 does not replace it
    Other,  // state 3
    Highlight,
};

// The eight load icons of the main window and the banner beneath them: which picture each icon
// shows after the central unit's load events, the highlight of the icon under the pointer,
// and the banner listing the switched-off loads (or the hovered load's name), scrolled by the
// timer Tscor when it does not fit. Index 0..7 is the load of priority 1..8.
class LoadStateModel : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLoadCount = 8;
    // Banners longer than this scroll.
    static constexpr int kBannerWidth = 20;
    static constexpr int kHoverScrollMs = 500;
    static constexpr int kOffListScrollMs = 300;

    explicit LoadStateModel(QObject* parent = nullptr);

    // Names by priority, read at start-up; missing entries count as empty names.
    void setLoadNames(const QStringList& names);

    // One load event: load `index` 0..7 entered `state` '0'..'3'. Other states, or an index
    // out of range, change nothing.
    void applyLoadEvent(int index, QChar state);
    // The banner step after a chunk of monitor data: shows the switched-off loads, unless a
    // hovered load's name is showing.
    void loadEventsHandled();

    void Iload_MouseMove(int index);
    // The pointer has left the icons.
    void EndLoadHover();
    // Rebuilds the banner from the switched-off loads; with none it keeps its text.
    void ShowOffLoads();
    // Scrolls the banner left by one character.
    void Tscor_Timer();

    QStringList loadNames() const { return m_loadNames; }
    QString loadName(int index) const { return m_loadNames.value(index); }
    QString offName(int index) const;
    bool isPinned(int index) const;
    LoadPicture picture(int index) const;
    int hoverIndex() const { return m_hoverIndex; }
    bool hoverShown() const { return m_hoverShown; }
    // The picture the highlighted icon gets back when the hover ends.
    LoadPicture savedPicture() const { return m_iold; }
    QString banner() const { return m_banner; }
    const QTimer* scrollTimer() const { return m_tscor; }

signals:
    void iconChanged(int index);
    void bannerChanged(const QString& text);

private:
    static bool isLoad(int index) { return index >= 0 && index < kLoadCount; }
    void setPicture(int index, LoadPicture picture);
    void setBanner(const QString& text);
    void startScrollingIfLong(int intervalMs);

    QStringList m_loadNames;
    // Entries 0..7 used, as the switched-off list and the pins are kept for nine positions.
    std::array<QString, kLoadCount + 1> m_offNames;
    std::array<bool, kLoadCount + 1> m_pinned{};
    std::array<LoadPicture, kLoadCount> m_pictures;
    int m_hoverIndex = 0; // index + 1 of the highlighted icon, 0 for none
    bool m_hoverShown = false;
    LoadPicture m_iold = LoadPicture::Design;
    QString m_banner;
    QTimer* m_tscor;
};

} // namespace powerlog
