#include "acquisition/chartseries.h"
#include "ui/charts/chartpainter.h"
#include "ui/charts/chartview.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>
#include <algorithm>
#include <functional>

using namespace powerlog;

namespace {

const QDate kDay(2024, 3, 5);
const QDate kApril(2024, 4, 1);
const QDate kYear2009(2009, 1, 1);

const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
const QColor kGrey(128, 128, 128);
const QColor kRed(255, 0, 0);
const QColor kRedOutline(200, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kYellowOutline(200, 200, 0);
const QColor kGreen(0, 255, 0);
const QColor kGreenOutline(0, 200, 0);
const QColor kPink(255, 160, 160);
const QColor kPalePink(255, 200, 200);
const QColor kAverageLine(0, 100, 20);

// 3500 W at the top, 10 W a pixel.
const ChartScale kScale3500 = ChartScale::fromLineIndex(1);
// 2000 W at the top, 2000/350 W a pixel.
const ChartScale kScale2000 = ChartScale::fromLineIndex(0);

QDate firstOf(ChartType type)
{
    switch (type) {
    case ChartType::Daily:
        return kDay;
    case ChartType::Monthly:
        return kApril;
    case ChartType::Yearly:
        return kYear2009;
    }
    return {};
}

// The power whose bar top stands at row `top` with 10 W a pixel.
float powerAtRow(double top)
{
    return float((360 - top) * 10);
}

QImage render(const ChartSeries& series, const ChartScale& scale = kScale3500)
{
    ChartView view;
    view.setChart(series, scale);
    return view.renderImage();
}

// The middle column of a group's bar: hours hold bars at 6..10 and 21..25 of their 30
// columns, days and years one at 13.2..17.2 of their 22.8, whose first column is the nearest.
int barMiddle(ChartType type, int group)
{
    if (type == ChartType::Daily)
        return 30 * ((group + 1) / 2) + (group % 2 == 1 ? 8 : 23);
    return qRound(22.8 * group + 13.2) + 2;
}

// Bars and dotted lines are the only saturated colours; labels, grid and axes are grey ink.
bool isColoured(const QColor& c)
{
    return std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 40;
}

int countPixels(const QImage& image, const QRect& region,
                const std::function<bool(const QColor&)>& accept)
{
    int count = 0;
    const QRect clipped = region & image.rect();
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            if (accept(image.pixelColor(x, y)))
                ++count;
        }
    }
    return count;
}

int countColour(const QImage& image, const QRect& region, const QColor& colour)
{
    return countPixels(image, region, [&](const QColor& c) { return c == colour; });
}

// The darkest grey level of a region (255 when it is blank).
int darkest(const QImage& image, const QRect& region)
{
    int level = 255;
    countPixels(image, region, [&](const QColor& c) {
        level = std::min(level, qGray(c.rgb()));
        return false;
    });
    return level;
}

// Logical points whose colour the chart of `probeSeries()` fixes: grid, axes, a bar's outline
// and fill, a maximum bar, a dot of the average line and blank surface.
const QList<QPoint> kProbes = {{400, 10},  {400, 20}, {400, 15}, {35, 200}, {500, 360},
                               {36, 300},  {38, 300}, {38, 100}, {53, 300}, {35, 260},
                               {810, 370}, {63, 300}, {61, 300}};

ChartSeries probeSeries()
{
    ChartSeries series = ChartSeries::empty(ChartType::Daily, kDay);
    series.avg[1] = powerAtRow(200);
    series.max[1] = powerAtRow(50);
    series.max[2] = powerAtRow(250);
    series.avgPower = qint64(powerAtRow(260));
    return series;
}

} // namespace

class TestChartPainter : public QObject
{
    Q_OBJECT
private slots:
    void gridLines_data()
    {
        QTest::addColumn<ChartScale>("scale");
        QTest::addColumn<int>("line");
        QTest::addColumn<bool>("emphasised");

        QTest::newRow("3500 W: top line") << kScale3500 << 1 << true;
        QTest::newRow("3500 W: second line") << kScale3500 << 2 << false;
        QTest::newRow("3500 W: sixth line") << kScale3500 << 6 << true;
        QTest::newRow("3500 W: thirtieth line") << kScale3500 << 30 << false;
        QTest::newRow("3500 W: thirty-first line") << kScale3500 << 31 << true;
        QTest::newRow("3500 W: lowest line") << kScale3500 << 35 << false;
        QTest::newRow("2000 W: top line") << kScale2000 << 1 << true;
        QTest::newRow("2000 W: sixth line") << kScale2000 << 6 << false;
        QTest::newRow("2000 W: eighth line") << kScale2000 << 8 << true;
        QTest::newRow("2000 W: twenty-ninth line") << kScale2000 << 29 << true;
        QTest::newRow("2000 W: lowest line") << kScale2000 << 35 << false;
    }
    void gridLines()
    {
        QFETCH(ChartScale, scale);
        QFETCH(int, line);
        QFETCH(bool, emphasised);
        const QImage image = render(ChartSeries::empty(ChartType::Daily, kDay), scale);
        const int y = 10 * line;
        const QColor ink = emphasised ? kBlack : kGrey;

        for (int x : {33, 34, 400, 750})
            QCOMPARE(image.pixelColor(x, y), ink);
        QCOMPARE(image.pixelColor(32, y), kWhite);
        QCOMPARE(image.pixelColor(751, y), kWhite);
        QCOMPARE(image.pixelColor(400, y - 1), kWhite);
        QCOMPARE(image.pixelColor(400, y + 1), kWhite);

        // The label is written left of the axis and right of the grid in the line's ink.
        for (const QRect& labels : {QRect(0, y - 5, 32, 10), QRect(753, y - 5, 60, 10)}) {
            if (emphasised) {
                QVERIFY(darkest(image, labels) < 60);
            } else {
                QVERIFY(darkest(image, labels) >= 100);
                QVERIFY(darkest(image, labels) < 200);
            }
        }
    }

    void axes()
    {
        const QImage image = render(ChartSeries::empty(ChartType::Daily, kDay));
        for (const QPoint& p : {QPoint(35, 1), QPoint(35, 205), QPoint(35, 360), QPoint(36, 360),
                                QPoint(400, 360), QPoint(750, 360)})
            QCOMPARE(image.pixelColor(p), kBlack);
        for (const QPoint& p :
             {QPoint(35, 0), QPoint(34, 205), QPoint(36, 205), QPoint(751, 360), QPoint(400, 361)})
            QCOMPARE(image.pixelColor(p), kWhite);
    }

    void scaleLabelsFitLeftOfTheGrid()
    {
        const QFont font = chartFont();
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("DejaVu Serif"));
        QCOMPARE(font.pixelSize(), 8);
        const QFontMetricsF metrics(font);
        // The widest label of the highest scale, from x = 1 to before the grid starts at 33.
        QVERIFY(1 + metrics.horizontalAdvance(QStringLiteral("9500W")) < 33);
        QVERIFY(metrics.tightBoundingRect(QStringLiteral("8888W")).height() < 10);
    }

    void averageBands_data()
    {
        QTest::addColumn<double>("top");
        QTest::addColumn<QColor>("fill");
        QTest::addColumn<QColor>("outline");

        QTest::newRow("top at 99: high") << 99.0 << kRed << kRedOutline;
        QTest::newRow("top at 100: middle") << 100.0 << kYellow << kYellowOutline;
        QTest::newRow("top at 199.5: middle") << 199.5 << kYellow << kYellowOutline;
        QTest::newRow("top at 200: low") << 200.0 << kGreen << kGreenOutline;
    }
    void averageBands()
    {
        QFETCH(double, top);
        QFETCH(QColor, fill);
        QFETCH(QColor, outline);
        ChartSeries series = ChartSeries::empty(ChartType::Daily, kDay);
        series.avg[1] = powerAtRow(top);
        const QImage image = render(series);

        // Slot 1 spans columns 36..40 from its top down to row 359.
        QCOMPARE(image.pixelColor(38, 330), fill);
        QCOMPARE(image.pixelColor(38, int(std::ceil(top)) + 2), fill);
        QCOMPARE(image.pixelColor(36, 330), outline);
        QCOMPARE(image.pixelColor(40, 330), outline);
        QCOMPARE(image.pixelColor(38, 359), outline);
        QCOMPARE(image.pixelColor(38, int(std::floor(top)) - 1), kWhite);
        QCOMPARE(image.pixelColor(41, 335), kWhite);
        QCOMPARE(image.pixelColor(38, 360), kBlack);
        QCOMPARE(countPixels(image, image.rect(), isColoured),
                 countPixels(image, QRect(36, 0, 5, 360), isColoured));
    }

    void maximumOnlyBars_data()
    {
        QTest::addColumn<ChartType>("type");
        QTest::addColumn<int>("group");
        QTest::addColumn<QColor>("colour");

        QTest::newRow("first half hour") << ChartType::Daily << 1 << kPink;
        QTest::newRow("second half hour is paler") << ChartType::Daily << 2 << kPalePink;
        QTest::newRow("last half hour") << ChartType::Daily << 48 << kPalePink;
        QTest::newRow("day") << ChartType::Monthly << 5 << kPink;
        QTest::newRow("year") << ChartType::Yearly << 3 << kPink;
    }
    void maximumOnlyBars()
    {
        QFETCH(ChartType, type);
        QFETCH(int, group);
        QFETCH(QColor, colour);
        ChartSeries series = ChartSeries::empty(type, firstOf(type));
        series.max[group] = powerAtRow(160);
        const QImage image = render(series);

        const int x = barMiddle(type, group);
        for (int y : {160, 161, 300, 359})
            QCOMPARE(image.pixelColor(x, y), colour);
        QCOMPARE(image.pixelColor(x - 2, 305), colour);
        QCOMPARE(image.pixelColor(x + 2, 305), colour);
        QCOMPARE(image.pixelColor(x, 159), kWhite);
        const int coloured = countPixels(image, image.rect(), isColoured);
        QCOMPARE(countColour(image, image.rect(), colour), coloured);
        QCOMPARE(coloured, 5 * 200);
    }

    void averageStandsInFrontOfTheMaximum()
    {
        ChartSeries series = ChartSeries::empty(ChartType::Daily, kDay);
        series.avg[1] = powerAtRow(260);
        series.max[1] = powerAtRow(60);
        const QImage image = render(series);
        QCOMPARE(image.pixelColor(38, 60), kPink);
        QCOMPARE(image.pixelColor(36, 200), kPink);
        QCOMPARE(image.pixelColor(38, 259), kPink);
        QCOMPARE(image.pixelColor(38, 260), kGreenOutline);
        QCOMPARE(image.pixelColor(36, 300), kGreenOutline);
        QCOMPARE(image.pixelColor(38, 300), kGreen);
    }

    void barsAboveTheScale_data()
    {
        QTest::addColumn<float>("avg");
        QTest::addColumn<float>("max");
        QTest::addColumn<QColor>("topColour");
        QTest::addColumn<QColor>("mark");

        QTest::newRow("average") << 5000.0f << 0.0f << kRedOutline << kRedOutline;
        QTest::newRow("maximum") << 0.0f << 6000.0f << kPink << kPink;
        QTest::newRow("both: the average in front")
            << 4000.0f << 6000.0f << kRedOutline << kRedOutline;
    }
    void barsAboveTheScale()
    {
        QFETCH(float, avg);
        QFETCH(float, max);
        QFETCH(QColor, topColour);
        QFETCH(QColor, mark);
        ChartSeries series = ChartSeries::empty(ChartType::Daily, kDay);
        series.avg[1] = avg;
        series.max[1] = max;
        const QImage image = render(series);

        // Slot 1's columns 36..40: the box stops at the top grid line, the mark sits on it.
        QCOMPARE(image.pixelColor(38, 10), topColour);
        if (avg > 0)
            QCOMPARE(image.pixelColor(38, 11), kRed);
        QCOMPARE(
            countPixels(image, QRect(36, 0, 5, 6), [](const QColor& c) { return c != kWhite; }), 0);
        // The mark, four rows tall, and nothing else above the top grid line.
        const QRect markRows(36, 6, 5, 4);
        const int marked = countColour(image, markRows, mark);
        QCOMPARE(countColour(image, markRows, kWhite), 20 - marked);
        QCOMPARE(image.pixelColor(38, 9), mark);
        QCOMPARE(image.pixelColor(38, 6), mark);
    }

    // A bar stands as high as the grid line that reads its power, on every scale.
    void barsMeetTheirGridLabels_data()
    {
        QTest::addColumn<int>("lineIndex");
        for (int index = 0; index <= 4; ++index)
            QTest::addRow("ceiling %d W", ChartScale::fromLineIndex(index).ceiling) << index;
    }
    void barsMeetTheirGridLabels()
    {
        QFETCH(int, lineIndex);
        const ChartScale scale = ChartScale::fromLineIndex(lineIndex);
        ChartSeries series = ChartSeries::empty(ChartType::Daily, kDay);
        series.max[1] = float(scale.ceiling / 35.0 * 20); // the line at y = 160
        series.max[3] = float(scale.ceiling);             // the top line, not above it
        const QImage image = render(series, scale);
        QCOMPARE(image.pixelColor(38, 160), kPink);
        QCOMPARE(image.pixelColor(38, 159), kWhite);
        const int slot3 = barMiddle(ChartType::Daily, 3);
        QCOMPARE(image.pixelColor(slot3, 10), kPink);
        QCOMPARE(countPixels(image, QRect(slot3 - 2, 0, 5, 10),
                             [](const QColor& c) { return c != kWhite; }),
                 0); // no over-scale mark
    }

    void emptyCharts_data()
    {
        QTest::addColumn<ChartType>("type");
        QTest::addColumn<QDate>("first");
        QTest::addColumn<bool>("bucketLabels");

        QTest::newRow("day") << ChartType::Daily << kDay << true;
        QTest::newRow("month") << ChartType::Monthly << kApril << true;
        QTest::newRow("years") << ChartType::Yearly << kYear2009 << true;
        QTest::newRow("no day yet: hours still labelled") << ChartType::Daily << QDate() << true;
        QTest::newRow("no month") << ChartType::Monthly << QDate() << false;
        QTest::newRow("no years") << ChartType::Yearly << QDate() << false;
    }
    void emptyCharts()
    {
        QFETCH(ChartType, type);
        QFETCH(QDate, first);
        QFETCH(bool, bucketLabels);
        const QImage image = render(ChartSeries::empty(type, first));
        QCOMPARE(countPixels(image, image.rect(), isColoured), 0);
        const int labelInk =
            countPixels(image, QRect(0, 361, 826, 15), [](const QColor& c) { return c != kWhite; });
        QCOMPARE(labelInk > 0, bucketLabels);
        if (bucketLabels) // grey, never black
            QVERIFY(darkest(image, QRect(0, 361, 826, 15)) >= 100);
    }

    void summaryLines_data()
    {
        QTest::addColumn<qint64>("maxPower");
        QTest::addColumn<qint64>("avgPower");
        QTest::addColumn<int>("row");
        QTest::addColumn<QColor>("colour");

        QTest::newRow("largest power") << qint64(2000) << qint64(0) << 160 << kRed;
        QTest::newRow("average power") << qint64(0) << qint64(1000) << 260 << kAverageLine;
        QTest::newRow("largest power above the scale") << qint64(5000) << qint64(0) << 10 << kRed;
    }
    void summaryLines()
    {
        QFETCH(qint64, maxPower);
        QFETCH(qint64, avgPower);
        QFETCH(int, row);
        QFETCH(QColor, colour);
        ChartSeries series = ChartSeries::empty(ChartType::Daily, kDay);
        series.maxPower = maxPower;
        series.avgPower = avgPower;
        const QImage image = render(series);

        const int dots = countColour(image, QRect(35, row, 716, 1), colour);
        QVERIFY2(dots > 200 && dots < 400, qPrintable(QString::number(dots))); // dotted, not solid
        QCOMPARE(image.pixelColor(35, row), colour);
        QCOMPARE(image.pixelColor(36, row) == colour, false);
        QCOMPARE(countPixels(image, image.rect(), isColoured), dots);
    }

    void monthOfThirtyDays()
    {
        ChartSeries series = ChartSeries::empty(ChartType::Monthly, kApril);
        QCOMPARE(series.groupCount(), 30);
        for (int day = 1; day <= 30; ++day) {
            series.avg[day] = powerAtRow(260);
            series.max[day] = powerAtRow(60);
        }
        const QImage image = render(series);
        for (int day = 1; day <= 30; ++day) {
            const int x = barMiddle(ChartType::Monthly, day);
            QCOMPARE(image.pixelColor(x, 300), kGreen);
            QCOMPARE(image.pixelColor(x, 105), kPink);
        }
        const QRect day31(barMiddle(ChartType::Monthly, 31) - 4, 0, 9, 360);
        QCOMPARE(countPixels(image, day31, isColoured), 0);
        // Day 31 is labelled in every month, right of the label of day 30.
        QVERIFY(darkest(image, QRect(718, 361, 20, 15)) < 200);
    }

    void thirtyOneYears()
    {
        ChartSeries series = ChartSeries::empty(ChartType::Yearly, kYear2009);
        QCOMPARE(series.groupCount(), 31);
        for (int k = 1; k <= 31; ++k)
            series.avg[k] = powerAtRow(260);
        const QImage image = render(series);
        for (int k = 1; k <= 31; ++k)
            QCOMPARE(image.pixelColor(barMiddle(ChartType::Yearly, k), 300), kGreen);
        QCOMPARE(countColour(image, image.rect(), kGreen), 31 * 3 * 98);
        // Thirty labels, 2009..2038: the last bar, 2039's, has none below it.
        QVERIFY(darkest(image, QRect(695, 361, 20, 15)) < 200);
        QCOMPARE(darkest(image, QRect(718, 361, 108, 15)), 255);
    }

    void groupUnderPoint_data()
    {
        QTest::addColumn<ChartType>("type");
        QTest::addColumn<QDate>("first");
        QTest::addColumn<QPointF>("point");
        QTest::addColumn<int>("group");

        QTest::newRow("first half hour") << ChartType::Daily << kDay << QPointF(38, 300) << 1;
        QTest::newRow("first half hour, left slack")
            << ChartType::Daily << kDay << QPointF(34, 300) << 1;
        QTest::newRow("second half hour") << ChartType::Daily << kDay << QPointF(53, 200) << 2;
        QTest::newRow("second half hour at the top line")
            << ChartType::Daily << kDay << QPointF(53, 9) << 2;
        QTest::newRow("between half hours") << ChartType::Daily << kDay << QPointF(46, 300) << 0;
        QTest::newRow("between hours") << ChartType::Daily << kDay << QPointF(61, 300) << 0;
        QTest::newRow("last half hour") << ChartType::Daily << kDay << QPointF(743, 300) << 48;
        QTest::newRow("above the scale") << ChartType::Daily << kDay << QPointF(38, 5) << 0;
        QTest::newRow("below the axis") << ChartType::Daily << kDay << QPointF(38, 365) << 0;
        QTest::newRow("left of the axis") << ChartType::Daily << kDay << QPointF(10, 300) << 0;
        QTest::newRow("no day") << ChartType::Daily << QDate() << QPointF(38, 300) << 0;
        QTest::newRow("day 30") << ChartType::Monthly << kApril << QPointF(699.2, 300) << 30;
        QTest::newRow("no day 31 in April")
            << ChartType::Monthly << kApril << QPointF(722, 300) << 0;
        QTest::newRow("between days") << ChartType::Monthly << kApril << QPointF(49, 300) << 0;
        QTest::newRow("year 31") << ChartType::Yearly << kYear2009 << QPointF(722, 300) << 31;
        QTest::newRow("right of the years")
            << ChartType::Yearly << kYear2009 << QPointF(760, 300) << 0;
    }
    void groupUnderPoint()
    {
        QFETCH(ChartType, type);
        QFETCH(QDate, first);
        QFETCH(QPointF, point);
        QFETCH(int, group);
        QCOMPARE(chartGroupAt(ChartSeries::empty(type, first), point), group);
    }

    void everyBarColumnFindsItsGroup_data()
    {
        QTest::addColumn<ChartType>("type");
        QTest::newRow("day") << ChartType::Daily;
        QTest::newRow("month") << ChartType::Monthly;
        QTest::newRow("years") << ChartType::Yearly;
    }
    void everyBarColumnFindsItsGroup()
    {
        QFETCH(ChartType, type);
        const ChartSeries series = ChartSeries::empty(type, firstOf(type));
        for (int group = 1; group <= series.groupCount(); ++group) {
            for (int dx : {-2, 0, 2}) {
                const QPointF point(barMiddle(type, group) + dx, 250);
                QCOMPARE(chartGroupAt(series, point), group);
            }
        }
    }

    void viewKeepsProportions_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("widgetPoint");
        QTest::addColumn<QPointF>("logical");

        QTest::newRow("natural size, centre")
            << QSize(826, 376) << QPoint(413, 188) << QPointF(413, 188);
        QTest::newRow("twice the size, centre")
            << QSize(1652, 752) << QPoint(826, 376) << QPointF(413, 188);
        QTest::newRow("twice the size, corner")
            << QSize(1652, 752) << QPoint(1652, 752) << QPointF(826, 376);
        QTest::newRow("wide, centre") << QSize(1200, 376) << QPoint(600, 188) << QPointF(413, 188);
        QTest::newRow("wide, chart's left edge")
            << QSize(1200, 376) << QPoint(187, 0) << QPointF(0, 0);
        QTest::newRow("tall, centre") << QSize(826, 600) << QPoint(413, 300) << QPointF(413, 188);
    }
    void viewKeepsProportions()
    {
        QFETCH(QSize, size);
        QFETCH(QPoint, widgetPoint);
        QFETCH(QPointF, logical);
        ChartView view;
        view.resize(size);
        QCOMPARE(view.toLogical(widgetPoint), logical);
    }

    void viewPaintsTheChartScaledAndCentred_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("origin");
        QTest::addColumn<int>("scale");

        QTest::newRow("natural size") << QSize(826, 376) << QPoint(0, 0) << 1;
        QTest::newRow("twice the size") << QSize(1652, 752) << QPoint(0, 0) << 2;
        QTest::newRow("wide") << QSize(1200, 376) << QPoint(187, 0) << 1;
        QTest::newRow("tall, twice the width") << QSize(1652, 1000) << QPoint(0, 124) << 2;
    }
    void viewPaintsTheChartScaledAndCentred()
    {
        QFETCH(QSize, size);
        QFETCH(QPoint, origin);
        QFETCH(int, scale);
        ChartView view;
        view.resize(size);
        view.setChart(probeSeries(), kScale3500);
        const QImage reference = view.renderImage();
        const QImage shown = view.grab().toImage();
        QCOMPARE(shown.size(), size);

        for (const QPoint& p : kProbes) {
            for (const QPoint& corner : {QPoint(0, 0), QPoint(scale - 1, scale - 1)}) {
                const QPoint device = origin + p * scale + corner;
                QVERIFY2(shown.pixelColor(device) == reference.pixelColor(p),
                         qPrintable(QStringLiteral("at %1,%2").arg(p.x()).arg(p.y())));
            }
        }
        // Outside the chart's rectangle the widget is white.
        if (!origin.isNull()) {
            QCOMPARE(shown.pixelColor(origin.x() / 2, origin.y() / 2 + 180), kWhite);
            QCOMPARE(darkest(shown, QRect(QPoint(0, 0), origin - QPoint(1, 1))), 255);
        }
    }

    void imageAtTwiceThePixelRatio()
    {
        ChartView view;
        view.setChart(probeSeries(), kScale3500);
        const QImage single = view.renderImage();
        const QImage doubled = view.renderImage(2.0);
        QCOMPARE(single.size(), QSize(826, 376));
        QCOMPARE(single.devicePixelRatio(), 1.0);
        QCOMPARE(doubled.size(), QSize(1652, 752));
        QCOMPARE(doubled.devicePixelRatio(), 2.0);
        for (const QPoint& p : kProbes) {
            QCOMPARE(doubled.pixelColor(p * 2), single.pixelColor(p));
            QCOMPARE(doubled.pixelColor(p * 2 + QPoint(1, 1)), single.pixelColor(p));
        }
    }

    void toolTipNamesTheGroupUnderTheMouse()
    {
        ChartView view;
        view.resize(1652, 752);
        view.setChart(probeSeries(), kScale3500);
        QList<int> asked;
        bool shownChart = true;
        view.setToolTipText([&](const ChartSeries& series, int group) {
            asked << group;
            shownChart = shownChart && series == probeSeries();
            return group == 3 ? QString() : QStringLiteral("slot %1").arg(group);
        });
        const auto hover = [&](const QPoint& logical) {
            const QPoint pos = logical * 2;
            QHelpEvent event(QEvent::ToolTip, pos, view.mapToGlobal(pos));
            QCoreApplication::sendEvent(&view, &event);
        };

        hover(QPoint(38, 300));
        QTRY_COMPARE(QToolTip::text(), QStringLiteral("slot 1"));
        hover(QPoint(53, 100));
        QTRY_COMPARE(QToolTip::text(), QStringLiteral("slot 2"));
        hover(QPoint(68, 300)); // slot 3 has no text
        QTRY_VERIFY(!QToolTip::isVisible());

        hover(QPoint(38, 300));
        QTRY_COMPARE(QToolTip::text(), QStringLiteral("slot 1"));
        hover(QPoint(46, 300)); // between two bars
        QTRY_VERIFY(!QToolTip::isVisible());
        QCOMPARE(asked, QList<int>({1, 2, 3, 1}));
        QVERIFY(shownChart);
    }
};

QTEST_MAIN(TestChartPainter)
#include "test_chartpainter.moc"
