#include "acquisition/chartseries.h"

#include <QTest>

using namespace powerlog;

Q_DECLARE_METATYPE(QList<powerlog::MinuteGroup>)

namespace {

MinuteGroup minute(int hour, int minute, double avg, qint64 max)
{
    return {hour * 60 + minute, avg, max};
}

} // namespace

class TestChartSeries : public QObject
{
    Q_OBJECT
private slots:
    void dailySlots_data();
    void dailySlots();
    void dailyChartAverageUsesUnroundedMinuteMeans();
    void minutesMayComeInAnyOrder();
    void dayWithoutReadingsIsAllZero();
    void monthlyWalksTheMonthsDays_data();
    void monthlyWalksTheMonthsDays();
    void yearlyCoversThirtyOneYears();
    void scaleFromLinePower_data();
    void scaleFromLinePower();
    void periodStart();
};

// Slot 1 is 00:00-00:29; the slot average is the mean of the per-minute means, each made
// whole (halves to even) as it is added.
void TestChartSeries::dailySlots_data()
{
    QTest::addColumn<QList<MinuteGroup>>("minutes");
    QTest::addColumn<int>("slot");
    QTest::addColumn<float>("avg");
    QTest::addColumn<float>("max");

    QTest::newRow("00:05 and 00:20 share slot 1")
        << QList<MinuteGroup>{minute(0, 5, 100, 150), minute(0, 20, 300, 420)} << 1 << 200.0f
        << 420.0f;
    QTest::newRow("halves go to the even neighbour")
        << QList<MinuteGroup>{minute(0, 0, 100.5, 101), minute(0, 1, 101.5, 102)} << 1 << 101.0f
        << 102.0f; // 100 + 102 (not 101 + 102) over two minutes
    QTest::newRow("rounding applies to the running sum")
        << QList<MinuteGroup>{minute(0, 0, 0.5, 1), minute(0, 1, 0.5, 1), minute(0, 2, 0.5, 1)} << 1
        << 0.0f << 1.0f; // round(0.5)=0, round(0.5)=0, round(0.5)=0
    QTest::newRow("minute 29 closes slot 1, minute 30 opens slot 2")
        << QList<MinuteGroup>{minute(0, 29, 10, 10), minute(0, 30, 90, 90)} << 2 << 90.0f << 90.0f;
    QTest::newRow("23:59 is slot 48")
        << QList<MinuteGroup>{minute(23, 59, 1234.4, 2000)} << 48 << 1234.0f << 2000.0f;
    QTest::newRow("a third of a watt stays a fraction")
        << QList<MinuteGroup>{minute(12, 0, 1, 1), minute(12, 1, 1, 1), minute(12, 2, 2, 2)} << 25
        << float(4.0 / 3.0) << 2.0f;
    QTest::newRow("over-scale values are kept as they are")
        << QList<MinuteGroup>{minute(6, 45, 20000, 25000)} << 14 << 20000.0f << 25000.0f;
    QTest::newRow("a half hour summing past 2^31 W")
        << QList<MinuteGroup>{minute(7, 0, 2e9, 2000000000), minute(7, 1, 2e9, 2000000000)} << 15
        << 2e9f << 2e9f;
}

void TestChartSeries::dailySlots()
{
    QFETCH(QList<MinuteGroup>, minutes);
    QFETCH(int, slot);
    QFETCH(float, avg);
    QFETCH(float, max);

    const ChartSeries series = dailySeries(QDate(2026, 3, 1), minutes);
    QCOMPARE(series.groupCount(), 48);
    QCOMPARE(series.avg[slot], avg);
    QCOMPARE(series.max[slot], max);
    for (int s = 1; s <= 48; ++s) {
        const bool filled = std::any_of(minutes.begin(), minutes.end(), [s](const MinuteGroup& m) {
            return m.minuteOfDay / 30 + 1 == s;
        });
        if (!filled) {
            QCOMPARE(series.avg[s], 0.0f);
            QCOMPARE(series.max[s], 0.0f);
        }
    }
}

void TestChartSeries::dailyChartAverageUsesUnroundedMinuteMeans()
{
    // Minutes without readings count nowhere; the chart's mean is over the minutes' own means.
    const ChartSeries series =
        dailySeries(QDate(2026, 3, 1), {minute(0, 5, 100.6, 150), minute(0, 20, 300.6, 420),
                                        minute(18, 0, 999.9, 3100)});
    QCOMPARE(series.avgPower, qint64(467)); // (100.6 + 300.6 + 999.9) / 3 = 467.03
    QCOMPARE(series.maxPower, qint64(3100));
    QCOMPARE(series.avg[1], 201.0f); // (101 + 301) / 2
}

void TestChartSeries::minutesMayComeInAnyOrder()
{
    // The running sum is rounded at each step, so the minutes must be added in time order.
    const QList<MinuteGroup> inOrder{minute(0, 0, 0.75, 1), minute(0, 1, 0.5, 1)};
    const QList<MinuteGroup> reversed{inOrder[1], inOrder[0]};
    const ChartSeries expected = dailySeries(QDate(2026, 3, 1), inOrder);
    QCOMPARE(expected.avg[1], 1.0f); // round(0.75) = 1, round(1 + 0.5) = 2 (even), 2 / 2
    QCOMPARE(dailySeries(QDate(2026, 3, 1), reversed), expected);
}

void TestChartSeries::dayWithoutReadingsIsAllZero()
{
    const ChartSeries series = dailySeries(QDate(2026, 3, 1), {});
    QCOMPARE(series.groupCount(), 48);
    QCOMPARE(series.avgPower, qint64(0));
    QCOMPARE(series.maxPower, qint64(0));
    QVERIFY(std::all_of(series.avg.begin(), series.avg.end(), [](float v) { return v == 0; }));
    QVERIFY(std::all_of(series.max.begin(), series.max.end(), [](float v) { return v == 0; }));
}

void TestChartSeries::monthlyWalksTheMonthsDays_data()
{
    QTest::addColumn<QDate>("first");
    QTest::addColumn<int>("days");
    QTest::newRow("February of a common year") << QDate(2026, 2, 1) << 28;
    QTest::newRow("February of a leap year") << QDate(2024, 2, 1) << 29;
    QTest::newRow("April") << QDate(2026, 4, 1) << 30;
    QTest::newRow("December") << QDate(2026, 12, 1) << 31;
}

void TestChartSeries::monthlyWalksTheMonthsDays()
{
    QFETCH(QDate, first);
    QFETCH(int, days);
    // Keys outside the month's days are not part of the chart.
    QList<PeriodGroup> groups{{1, 500.25, 900}, {days, 700.75, 1500}, {32, 5000, 9000}, {0, 1, 1}};
    if (days < 31)
        groups << PeriodGroup{31, 5000, 9000};
    const ChartSeries series = monthlySeries(first, groups);
    QCOMPARE(series.groupCount(), days);
    QCOMPARE(series.avg[1], 500.25f);
    QCOMPARE(series.max[days], 1500.0f);
    QCOMPARE(series.maxPower, qint64(1500));
    QCOMPARE(series.avgPower, qint64(600)); // (500.25 + 700.75) / 2, truncated
    QCOMPARE(series.groupDate(days), QDate(first.year(), first.month(), days));
}

void TestChartSeries::yearlyCoversThirtyOneYears()
{
    const ChartSeries series = yearlySeries(
        QDate(2009, 1, 1), {{2008, 1, 1}, {2009, 300, 500}, {2039, 100, 200}, {2040, 7, 7}});
    QCOMPARE(series.groupCount(), 31);
    QCOMPARE(series.avg[1], 300.0f);
    QCOMPARE(series.avg[31], 100.0f);
    QCOMPARE(series.groupDate(31).year(), 2039);
    QCOMPARE(series.avgPower, qint64(200));
    QCOMPARE(series.maxPower, qint64(500));
}

void TestChartSeries::scaleFromLinePower_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("ceiling");
    QTest::addColumn<double>("wattsPerPixel");
    QTest::newRow("1500 W") << 0 << 2000 << 2000 / 350.0;
    QTest::newRow("3000 W") << 1 << 3500 << 10.0;
    QTest::newRow("4500 W") << 2 << 5000 << 5000 / 350.0;
    QTest::newRow("6000 W") << 3 << 6500 << 6500 / 350.0;
    QTest::newRow("9000 W, not 7500") << 4 << 9500 << 9500 / 350.0;
}

void TestChartSeries::scaleFromLinePower()
{
    QFETCH(int, index);
    QFETCH(int, ceiling);
    QFETCH(double, wattsPerPixel);
    const ChartScale scale = ChartScale::fromLineIndex(index);
    QCOMPARE(scale.ceiling, ceiling);
    QCOMPARE(scale.wattsPerPixel(), wattsPerPixel);
    // The top grid line reads the ceiling: a bar of the ceiling's power reaches it.
    QCOMPARE(scale.ceiling / scale.wattsPerPixel(), 350.0);
}

void TestChartSeries::periodStart()
{
    QCOMPARE(chartPeriodStart(ChartType::Daily, QDate(2026, 11, 1)), QDate(2026, 11, 1));
    QCOMPARE(chartPeriodStart(ChartType::Monthly, QDate(2026, 11, 17)), QDate(2026, 11, 1));
    QCOMPARE(chartPeriodStart(ChartType::Yearly, QDate(2026, 11, 17)), QDate(2026, 1, 1));
    QVERIFY(!chartPeriodStart(ChartType::Yearly, QDate()).isValid());
}

QTEST_GUILESS_MAIN(TestChartSeries)
#include "test_chartseries.moc"
