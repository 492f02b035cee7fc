#pragma once

#include <QChar>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>

namespace powerlog {

// What the load-control central unit last said of a load.
enum class LoadState {
    Unseen,  // no event yet
    Off,     // state 0
    On,      // state 1
    Forced,  // state 2: stays until state 0 or 3, a state 1 does not replace it
    Other,   // state 3
    Unknown, // known once, but the monitor session is down: events may be missed
};

// The eight loads of the load-control central unit as its events left them: the state of each, the
// forced (pinned) loads, and the names of the switched-off loads. Index 0..7 is the load of
// priority 1..8.
class LoadStates : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLoadCount = 8;

    using QObject::QObject;

    // Names by priority, read at start-up; missing entries count as empty names.
    void setLoadNames(const QStringList& names);

    // One load event: load `index` 0..7 entered `state` '0'..'3'. Other states, or an index
    // out of range, change nothing.
    void applyLoadEvent(int index, QChar state);
    // The monitor session went down: every load that had a state is Unknown until its next
    // event, and no load stays forced (a forced load's state comes again with the
    // refresh that follows the re-open).
    void markUnknown();

    QStringList loadNames() const { return m_loadNames; }
    QString loadName(int index) const { return m_loadNames.value(index); }
    QString offName(int index) const;
    // The names of the switched-off loads, in priority order.
    QStringList offNames() const;
    bool isPinned(int index) const;
    LoadState state(int index) const;

    static bool isLoad(int index) { return index >= 0 && index < kLoadCount; }

signals:
    // A valid event for load `index`. `applied` is false when a forced load ignored "on".
    void loadEventApplied(int index, powerlog::LoadState state, bool applied);
    void stateChanged(int index);

private:
    QStringList m_loadNames = QStringList(kLoadCount, QString());
    // Entries 0..7 used, as the switched-off list and the pins are kept for nine positions.
    std::array<QString, kLoadCount + 1> m_offNames;
    std::array<bool, kLoadCount + 1> m_pinned{};
    std::array<LoadState, kLoadCount> m_states{};
};

} // namespace powerlog
