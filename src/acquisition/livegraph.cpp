#include "acquisition/livegraph.h"

#include <algorithm>
#include <cmath>

namespace powerlog {

namespace {

// Integer part of h / (linePower / steps), within 0..steps; integer arithmetic keeps the
// edges exact (a power equal to the line power gives exactly `steps`).
int scaled(int h, int linePower, int steps)
{
    if (h <= 0 || linePower <= 0)
        return 0;
    const qint64 value = qint64(h) * steps / linePower;
    return int(std::min<qint64>(value, steps));
}

} // namespace

void LiveGraphModel::addPower(qint16 w, const QDateTime& now)
{
    std::shift_left(m_history.begin(), m_history.end(), 1);
    m_history[kNewest] = w;

    if (w > m_maxPower) {
        m_maxPower = w;
        m_maxPowerTime = now;
    }

    if (m_count >= kAverageRestartCount) {
        const double half = kAverageRestartCount / 2;
        m_sum = std::trunc(m_sum / m_count) * half;
        m_count = half;
    }
    m_sum += w;
    m_count += 1;

    m_drawingCleared = false;
}

void LiveGraphModel::clearStatistics()
{
    m_maxPower = 0;
    m_maxPowerTime = QDateTime();
    m_sum = 0;
    m_count = 0;
}

int LiveGraphModel::averageWatts() const
{
    return m_count > 0 ? int(std::trunc(m_sum / m_count)) : 0;
}

QString LiveGraphModel::maxPowerText() const
{
    return QString::number(m_maxPower) + QLatin1Char('W');
}

QString LiveGraphModel::averageText() const
{
    return QString::number(averageWatts()) + QLatin1Char('W');
}

int LiveGraphModel::barHeight(int h, int linePower)
{
    return scaled(h, linePower, kGraphHeight);
}

int LiveGraphModel::barShare(int h, int linePower)
{
    return scaled(h, linePower, 100);
}

} // namespace powerlog
