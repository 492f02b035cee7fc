#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>
#include <array>

namespace powerlog {

// The last 100 power readings, scrolling from right to left, with the highest power and the
// running average since start-up or the last clear. Holds numbers only; the main window draws
// them (see ui/main/graphpainter.h).
class LiveGraphModel
{
public:
    static constexpr int kHistoryLength = 100;
    static constexpr int kNewest = kHistoryLength - 1;
    static constexpr int kGraphHeight = 32;
    // The average restarts at this count, the old average keeping half of it as weight, so
    // the sum never grows beyond what a double holds exactly.
    static constexpr double kAverageRestartCount = 10000;

    using History = std::array<qint16, kHistoryLength>;

    // One reading: scrolls the history, stores w as the newest value, updates the maximum
    // (remembering `now` when it rises) and the average, and brings the drawing back.
    void addPower(qint16 w, const QDateTime& now);

    // Maximum and average start again; the history stays.
    void clearStatistics();
    // The picture stays blank until the next reading.
    void clearDrawing() { m_drawingCleared = true; }

    const History& history() const { return m_history; }
    qint16 history(int index) const { return m_history.at(static_cast<std::size_t>(index)); }
    bool drawingCleared() const { return m_drawingCleared; }

    qint16 maxPower() const { return m_maxPower; }
    // When the maximum was reached; invalid while it is still 0 from a start or clear.
    QDateTime maxPowerTime() const { return m_maxPowerTime; }
    double averageSum() const { return m_sum; }
    double averageCount() const { return m_count; }
    // The integer part of the average; 0 before the first reading.
    int averageWatts() const;
    QString maxPowerText() const;
    QString averageText() const;

    // Height in pixels of the bar for power h on a 32-pixel scale of the line power.
    static int barHeight(int h, int linePower);
    // Power h as a whole percentage of the line power, 0..100.
    static int barShare(int h, int linePower);

private:
    History m_history{};
    qint16 m_maxPower = 0;
    QDateTime m_maxPowerTime;
    double m_sum = 0;
    double m_count = 0;
    bool m_drawingCleared = false;
};

} // namespace powerlog
