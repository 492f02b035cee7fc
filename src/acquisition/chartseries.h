#pragma once

#include <QDate>
#include <QList>
#include <QMetaType>
#include <QtGlobal>
#include <vector>

namespace powerlog {

// The three charts of recorded power; the numbers are those the charts window's type list
// gives (its position plus one).
enum class ChartType { Daily = 1, Monthly = 2, Yearly = 3 };

// How tall the chart is: the top grid line stands at the line's power plus 500 W, 350 pixels
// above the axis.
struct ChartScale
{
    int linePower = 3000; // whole watts
    int ceiling = 3500;   // the power of the top grid line

    // Bars are drawn at the grid's own scale, so that a bar meets the label of its power on
    // every scale (a whole number of watts per pixel would put a 1000 W bar of the 2000 W
    // scale at the 1143W line).
    double wattsPerPixel() const { return ceiling / 350.0; }

    // From the line-power setting (0..4: 1500, 3000, 4500, 6000, 9000 W). Indices outside
    // that range count as the nearest one.
    static ChartScale fromLineIndex(int index);
};

// One chart's numbers: per group (a half hour, a day or a year) the average and the largest
// power, and over the whole chart the largest power and the mean of the group averages.
struct ChartSeries
{
    static constexpr int kHalfHours = 48;
    static constexpr int kYears = 31;

    ChartType type = ChartType::Daily;
    // The day of a daily chart, the first of the month of a monthly one, 1 January of the first
    // year of a yearly one. Invalid when no period is chosen: nothing but the grid is drawn.
    QDate first;
    // Index 0 is unused so that index g is group g: half hours 1..48 (1 is 00:00 to 00:29),
    // days 1..28/29/30/31, years 1..31 (group k is the year first.year() + k - 1).
    std::vector<float> avg;
    std::vector<float> max;
    qint64 maxPower = 0; // the largest group maximum
    qint64 avgPower = 0; // the mean of the group averages over the groups that hold readings,
                         // truncated to whole watts

    // A chart of that period with every group at 0.
    static ChartSeries empty(ChartType type, const QDate& first);

    // The number of groups of the period (0 without a period).
    int groupCount() const { return avg.empty() ? 0 : int(avg.size()) - 1; }
    // The first day of group `group` (daily charts: the day itself).
    QDate groupDate(int group) const;

    bool operator==(const ChartSeries&) const = default;
};

// The first day of the period of `type` that contains `date`.
QDate chartPeriodStart(ChartType type, const QDate& date);

// One minute of a day that holds readings, as the daily chart gathers them.
struct MinuteGroup
{
    int minuteOfDay = 0; // 0..1439
    double avg = 0;      // the mean power of the minute's readings
    qint64 max = 0;      // the largest of them
};

// One group of a monthly or yearly chart: a day (1..31) or a year.
struct PeriodGroup
{
    int key = 0;
    double avg = 0;
    qint64 max = 0;
};

// The daily chart of `day` from its minutes (in any order, one entry per minute). Each half
// hour averages the per-minute means that hold readings, every mean first rounded to whole
// watts (halves to even); the chart's average is the mean of all those minutes' means.
ChartSeries dailySeries(const QDate& day, const QList<MinuteGroup>& minutes);

// The monthly chart of the month that starts on `first` from its days (key: day of month).
ChartSeries monthlySeries(const QDate& first, const QList<PeriodGroup>& days);

// The yearly chart of the 31 years from `first`'s year (key: the year).
ChartSeries yearlySeries(const QDate& first, const QList<PeriodGroup>& years);

} // namespace powerlog

Q_DECLARE_METATYPE(powerlog::ChartSeries)
