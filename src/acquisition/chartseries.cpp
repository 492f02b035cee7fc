#include "acquisition/chartseries.h"

#include "app/config.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace powerlog {

namespace {

// Sums the chart's group averages and keeps its largest maximum.
class ChartTotals
{
public:
    void add(double avg, qint64 max)
    {
        m_total += avg;
        ++m_count;
        m_max = std::max(m_max, max);
    }
    void finish(ChartSeries& series) const
    {
        series.maxPower = m_max;
        series.avgPower = qint64(std::trunc(m_total / std::max(m_count, 1)));
    }

private:
    double m_total = 0;
    int m_count = 0;
    qint64 m_max = 0;
};

ChartSeries periodSeries(ChartType type, const QDate& first, const QList<PeriodGroup>& groups,
                         int firstKey)
{
    ChartSeries series = ChartSeries::empty(type, first);
    std::map<int, PeriodGroup> byKey;
    for (const PeriodGroup& group : groups)
        byKey.emplace(group.key, group);
    ChartTotals totals;
    for (int g = 1; g <= series.groupCount(); ++g) {
        const auto found = byKey.find(firstKey + g - 1);
        if (found == byKey.end())
            continue;
        series.avg[g] = float(found->second.avg);
        series.max[g] = float(found->second.max);
        totals.add(found->second.avg, found->second.max);
    }
    totals.finish(series);
    return series;
}

} // namespace

ChartScale ChartScale::fromLineIndex(int index)
{
    ChartScale scale;
    scale.linePower = linePowerWatts(std::clamp(index, 0, 4));
    scale.ceiling = scale.linePower + 500;
    return scale;
}

ChartSeries ChartSeries::empty(ChartType type, const QDate& first)
{
    ChartSeries series;
    series.type = type;
    series.first = first;
    int groups = 0;
    if (first.isValid()) {
        switch (type) {
        case ChartType::Daily:
            groups = kHalfHours;
            break;
        case ChartType::Monthly:
            groups = first.daysInMonth();
            break;
        case ChartType::Yearly:
            groups = kYears;
            break;
        }
    }
    if (groups > 0) {
        series.avg.assign(groups + 1, 0.0f);
        series.max.assign(groups + 1, 0.0f);
    }
    return series;
}

QDate ChartSeries::groupDate(int group) const
{
    switch (type) {
    case ChartType::Daily:
        return first;
    case ChartType::Monthly:
        return first.addDays(group - 1);
    case ChartType::Yearly:
        return first.addYears(group - 1);
    }
    return {};
}

QDate chartPeriodStart(ChartType type, const QDate& date)
{
    if (!date.isValid())
        return {};
    switch (type) {
    case ChartType::Daily:
        return date;
    case ChartType::Monthly:
        return QDate(date.year(), date.month(), 1);
    case ChartType::Yearly:
        return QDate(date.year(), 1, 1);
    }
    return {};
}

ChartSeries dailySeries(const QDate& day, const QList<MinuteGroup>& minutes)
{
    ChartSeries series = ChartSeries::empty(ChartType::Daily, day);
    if (!day.isValid())
        return series;
    struct Slot
    {
        // Of the per-minute means, each rounded to whole watts. A double: huge W values in a
        // file cannot overflow it, and whole numbers stay exact up to 2^53.
        double sum = 0;
        int minutes = 0;
        qint64 max = 0;
    };
    std::vector<Slot> halfHours(ChartSeries::kHalfHours + 1);
    // The running sums are rounded at each addition, so the minutes go in in time order.
    QList<MinuteGroup> inOrder = minutes;
    std::stable_sort(
        inOrder.begin(), inOrder.end(),
        [](const MinuteGroup& a, const MinuteGroup& b) { return a.minuteOfDay < b.minuteOfDay; });
    ChartTotals totals;
    for (const MinuteGroup& minute : inOrder) {
        if (minute.minuteOfDay < 0 || minute.minuteOfDay >= 24 * 60)
            continue;
        Slot& slot = halfHours[minute.minuteOfDay / 30 + 1];
        slot.sum = std::nearbyint(slot.sum + minute.avg); // halves to even
        ++slot.minutes;
        slot.max = std::max(slot.max, minute.max);
        totals.add(minute.avg, minute.max);
    }
    for (int s = 1; s <= ChartSeries::kHalfHours; ++s) {
        if (halfHours[s].minutes == 0)
            continue;
        series.avg[s] = float(halfHours[s].sum) / float(halfHours[s].minutes);
        series.max[s] = float(halfHours[s].max);
    }
    totals.finish(series);
    return series;
}

ChartSeries monthlySeries(const QDate& first, const QList<PeriodGroup>& days)
{
    return periodSeries(ChartType::Monthly, first, days, 1);
}

ChartSeries yearlySeries(const QDate& first, const QList<PeriodGroup>& years)
{
    return periodSeries(ChartType::Yearly, first, years, first.isValid() ? first.year() : 0);
}

} // namespace powerlog
