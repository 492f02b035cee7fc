#include "acquisition/energyaccounts.h"
#include "app/language.h"
#include "ui/charts/energypainter.h"
#include "ui/charts/energyview.h"
#include "ui/charts/energywording.h"

#include <QTest>
#include <cmath>

using namespace powerlog;

namespace {

constexpr double kWattSecondsPerKwh = 3600.0 * 1000.0;
constexpr TariffBand kBands[] = {TariffBand::F1, TariffBand::F2, TariffBand::F3};

// A group with these kWh in F1, F2 and F3, covered for `seconds`.
EnergyFigures figures(double f1, double f2, double f3, qint64 seconds = 0)
{
    EnergyFigures each;
    each.wattSeconds = {f1 * kWattSecondsPerKwh, f2 * kWattSecondsPerKwh, f3 * kWattSecondsPerKwh};
    each.coveredSeconds = seconds;
    return each;
}

// A table of the period holding `date` with `group` set at `index`.
EnergyTable tableWith(EnergyPeriod period, const QDate& date, int index, const EnergyFigures& group)
{
    EnergyTable table = EnergyTable::empty(period, date);
    table.groups[index] = group;
    return table;
}

EnergyChart chartOf(const EnergyTable& table)
{
    return {table, EnergyWording{QStringLiteral("eng"), {}, {}}.groupLabels(table),
            QLocale(QLocale::English, QLocale::UnitedKingdom), QString()};
}

bool isBandColour(const QColor& colour)
{
    for (TariffBand band : kBands) {
        if (colour == energyBandColour(band))
            return true;
    }
    return false;
}

// The colour at a logical point of an image carrying a device pixel ratio.
QColor colourAt(const QImage& image, const QPointF& logical)
{
    const qreal ratio = image.devicePixelRatio();
    return image.pixelColor(int(logical.x() * ratio), int(logical.y() * ratio));
}

// Checks that every band of group `index` that holds energy is drawn in its own colour, in
// the order F1, F2, F3 from the axis up, as tall as its share of the scale, and that nothing
// of a band colour stands above the bar.
void checkBar(const QImage& image, const EnergyLayout& layout, const EnergyTable& table, int index)
{
    const EnergyFigures& group = table.groups.at(index);
    const qreal pixelsPerKwh = layout.plot().height() / layout.scale().ceiling();
    qreal below = layout.plot().bottom();
    for (TariffBand band : kBands) {
        const QRectF segment = layout.segment(index, band);
        if (group.kwh(band) <= 0) {
            QVERIFY(segment.isEmpty());
            continue;
        }
        QVERIFY(!segment.isEmpty());
        QCOMPARE(segment.bottom(), below);
        QVERIFY(std::abs(segment.height() - group.kwh(band) * pixelsPerKwh) <= 1);
        for (const QPointF& point : {segment.center(), segment.topLeft() + QPointF(0.5, 0.5),
                                     segment.bottomRight() - QPointF(0.5, 0.5)})
            QCOMPARE(colourAt(image, point), energyBandColour(band));
        below = segment.top();
    }
    const QRectF column = layout.column(index);
    QVERIFY(!isBandColour(colourAt(image, QPointF(column.center().x(), below - 1.5))));
    QVERIFY(!isBandColour(colourAt(image, QPointF(column.left() + 0.5, below + 0.5))));
}

} // namespace

class TestEnergyChart : public QObject
{
    Q_OBJECT
private slots:
    void bandsAreStackedInTheirColours_data();
    void bandsAreStackedInTheirColours();
    void viewScalesWithItsSize_data();
    void viewScalesWithItsSize();
    void legendNamesTheBands();
    void estimatedBarsAreHatchedAndNamed();
    void scaleSteps_data();
    void scaleSteps();
    void groupLabelsNeverOverlap();
    void toolTipOfTheColumnUnderThePointer();
    void summary_data();
    void summary();
    void toolTip_data();
    void toolTip();
    void groupLabels();
};

void TestEnergyChart::bandsAreStackedInTheirColours_data()
{
    QTest::addColumn<EnergyTable>("table");
    QTest::addColumn<int>("index");
    QTest::addColumn<qreal>("ratio");

    const EnergyTable hour =
        tableWith(EnergyPeriod::Daily, QDate(2026, 11, 2), 10, figures(1.2, 0, 0, 3600));
    EnergyTable month =
        tableWith(EnergyPeriod::Monthly, QDate(2026, 11, 2), 4, figures(6.5, 0, 2.25));
    month.groups[5] = figures(9, 0, 0); // taller than the one looked at
    const EnergyTable year =
        tableWith(EnergyPeriod::Yearly, QDate(2026, 3, 1), 2, figures(120, 80.5, 210));
    for (qreal ratio : {1.0, 2.0}) {
        const QString scale = QStringLiteral(" at %1 %").arg(ratio * 100);
        QTest::newRow(qPrintable("an hour of F1 only" + scale)) << hour << 10 << ratio;
        QTest::newRow(qPrintable("a day of F1 and F3" + scale)) << month << 4 << ratio;
        QTest::newRow(qPrintable("a month of all three" + scale)) << year << 2 << ratio;
    }
}

void TestEnergyChart::bandsAreStackedInTheirColours()
{
    QFETCH(EnergyTable, table);
    QFETCH(int, index);
    QFETCH(qreal, ratio);
    EnergyView view;
    view.setChart(chartOf(table));
    const QImage image = view.renderImage(ratio);
    QCOMPARE(image.size(), QSize(826, 376) * ratio);
    const EnergyLayout layout(QSizeF(826, 376), view.chart());
    checkBar(image, layout, table, index);
    // The groups without energy have no bar.
    const int empty = index == 0 ? 1 : 0;
    for (TariffBand band : kBands)
        QVERIFY(layout.segment(empty, band).isEmpty());
}

void TestEnergyChart::viewScalesWithItsSize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("the window's own") << QSize(826, 376);
    QTest::newRow("the smallest window's") << QSize(619, 258);
    QTest::newRow("a large window's") << QSize(1800, 900);
    QTest::newRow("short and wide") << QSize(1200, 160);
}

// The widget lays the chart out for its own size, whatever the screen's scale (the test runs
// again at QT_SCALE_FACTOR=2): bars in their colours, every label inside the widget.
void TestEnergyChart::viewScalesWithItsSize()
{
    QFETCH(QSize, size);
    const EnergyTable table =
        tableWith(EnergyPeriod::Monthly, QDate(2026, 11, 1), 29, figures(3, 1, 2, 86400));
    EnergyView view;
    view.setChart(chartOf(table));
    view.resize(size);
    const QImage image = view.grab().toImage();
    QCOMPARE(image.size(), size * view.devicePixelRatioF());
    const EnergyLayout layout = view.chartLayout();
    QVERIFY(QRectF(QPointF(0, 0), QSizeF(size)).contains(layout.plot()));
    QVERIFY(layout.plot().width() > size.width() * 0.8);
    QVERIFY(layout.plot().height() > size.height() * 0.6);
    QVERIFY(layout.scale().ceiling() >= 6);
    checkBar(image, layout, table, 29);
    // The last column ends at the plot's right edge, inside the widget.
    QCOMPARE(layout.column(29).right(), layout.plot().right());
}

void TestEnergyChart::legendNamesTheBands()
{
    EnergyView view;
    view.setChart(chartOf(EnergyTable::empty(EnergyPeriod::Daily, QDate(2026, 11, 2))));
    const QImage image = view.renderImage();
    const EnergyLayout layout(QSizeF(826, 376), view.chart());
    // Each band's swatch sits above the plot, F1 to F3 from left to right.
    int lastX = -1;
    for (TariffBand band : kBands) {
        int found = -1;
        for (int x = 0; x < image.width() && found < 0; ++x) {
            for (int y = 0; y < int(layout.plot().top()) && found < 0; ++y) {
                if (image.pixelColor(x, y) == energyBandColour(band))
                    found = x;
            }
        }
        QVERIFY2(found > lastX, qPrintable(QString::number(bandIndex(band))));
        lastX = found;
    }
    QVERIFY(lastX > 826 / 2); // on the right
}

// A day a meter gave as a total only is hatched over its bands' colours, and the legend names
// the hatching then only.
void TestEnergyChart::estimatedBarsAreHatchedAndNamed()
{
    EnergyTable table = EnergyTable::empty(EnergyPeriod::Monthly, QDate(2026, 11, 1));
    table.groups[3] = figures(4, 2, 3, 86400);
    table.groups[3].estimatedWattSeconds = 9 * kWattSecondsPerKwh;
    table.groups[4] = figures(4, 2, 3, 86400);

    // The leftmost pixel of F1's colour above the plot: where the legend begins.
    const auto legendStart = [](const QImage& image, const EnergyLayout& layout) {
        for (int x = 0; x < image.width(); ++x) {
            for (int y = 0; y < int(layout.plot().top()); ++y) {
                if (image.pixelColor(x, y) == energyBandColour(TariffBand::F1))
                    return x;
            }
        }
        return -1;
    };
    // The colours inside a bar.
    const auto coloursOf = [](const QImage& image, const QRectF& bar) {
        QSet<QRgb> colours;
        for (int x = int(bar.left()) + 1; x < int(bar.right()) - 1; ++x) {
            for (int y = int(bar.top()) + 1; y < int(bar.bottom()) - 1; ++y)
                colours.insert(image.pixel(x, y));
        }
        return colours;
    };

    for (qreal ratio : {1.0, 2.0}) {
        EnergyChart chart = chartOf(table);
        chart.estimatedLabel = QStringLiteral("estimated");
        EnergyView view;
        view.setChart(chart);
        const QImage image = view.renderImage(ratio).scaled(QSize(826, 376));
        const EnergyLayout layout(QSizeF(826, 376), view.chart());
        const QSet<QRgb> estimated = coloursOf(image, layout.bar(3));
        const QSet<QRgb> measured = coloursOf(image, layout.bar(4));
        QVERIFY(estimated.contains(QColor(Qt::white).rgb()));
        QVERIFY(estimated.contains(energyBandColour(TariffBand::F1).rgb()));
        QVERIFY(!measured.contains(QColor(Qt::white).rgb()));

        // Without an estimated bar, the legend is one entry shorter.
        table.groups[3].estimatedWattSeconds = 0;
        EnergyChart plain = chartOf(table);
        plain.estimatedLabel = chart.estimatedLabel;
        view.setChart(plain);
        const QImage plainImage = view.renderImage(ratio).scaled(QSize(826, 376));
        QVERIFY(legendStart(image, layout) < legendStart(plainImage, layout));
        QVERIFY(!coloursOf(plainImage, layout.bar(3)).contains(QColor(Qt::white).rgb()));
        table.groups[3].estimatedWattSeconds = 9 * kWattSecondsPerKwh;
    }
}

void TestEnergyChart::scaleSteps_data()
{
    QTest::addColumn<double>("largest");
    QTest::addColumn<int>("mostSteps");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("decimals");

    QTest::newRow("nothing") << 0.0 << 5 << 0.02 << 5 << 2;
    QTest::newRow("an hour's 1.2 kWh") << 1.2 << 6 << 0.25 << 5 << 2;
    QTest::newRow("a bar on a grid line gets room above it") << 2.0 << 8 << 0.5 << 5 << 1;
    QTest::newRow("a day's 7.3 kWh") << 7.3 << 8 << 1.0 << 8 << 0;
    QTest::newRow("a month's 345 kWh") << 345.0 << 8 << 50.0 << 8 << 0;
    QTest::newRow("a year's 31-day months") << 499.0 << 8 << 100.0 << 6 << 0;
    QTest::newRow("a year's 1234 kWh on a short chart") << 1234.0 << 2 << 1000.0 << 2 << 0;
}

void TestEnergyChart::scaleSteps()
{
    QFETCH(double, largest);
    QFETCH(int, mostSteps);
    QFETCH(double, step);
    QFETCH(int, steps);
    QFETCH(int, decimals);
    const EnergyScale scale = energyScale(largest, mostSteps);
    QCOMPARE(scale.step, step);
    QCOMPARE(scale.steps, steps);
    QCOMPARE(scale.decimals, decimals);
    QVERIFY(scale.ceiling() >= largest * 1.04);
    QVERIFY(scale.steps <= mostSteps);
}

void TestEnergyChart::groupLabelsNeverOverlap()
{
    const EnergyChart chart = chartOf(EnergyTable::empty(EnergyPeriod::Monthly, QDate(2026, 1, 1)));
    QCOMPARE(EnergyLayout(QSizeF(826, 376), chart).labelStride(), 1);
    const EnergyLayout narrow(QSizeF(300, 200), chart);
    QVERIFY(narrow.labelStride() > 1);
    const qreal slot = narrow.plot().width() / 31;
    QVERIFY(slot * narrow.labelStride() >
            QFontMetricsF(energyChartFont()).horizontalAdvance(QStringLiteral("31")));
}

void TestEnergyChart::toolTipOfTheColumnUnderThePointer()
{
    EnergyView view;
    view.resize(826, 376);
    view.setChart(chartOf(EnergyTable::empty(EnergyPeriod::Yearly, QDate(2026, 1, 1))));
    view.setToolTipText([](const EnergyTable& table, int index) {
        return QStringLiteral("%1 of %2").arg(index).arg(table.groups.size());
    });
    const EnergyLayout layout = view.chartLayout();
    const QRectF march = layout.column(2);
    QCOMPARE(view.toolTipAt(QPoint(int(march.left()) + 1, int(layout.plot().bottom()) - 1)),
             QStringLiteral("2 of 12"));
    QCOMPARE(view.toolTipAt(QPoint(int(march.right()) - 1, int(layout.plot().top()) + 1)),
             QStringLiteral("2 of 12"));
    QCOMPARE(view.toolTipAt(layout.column(11).center().toPoint()), QStringLiteral("11 of 12"));
    QVERIFY(view.toolTipAt(QPoint(int(layout.plot().left()) - 3, 100)).isEmpty());
    QVERIFY(view.toolTipAt(QPoint(400, int(layout.plot().bottom()) + 5)).isEmpty());
}

void TestEnergyChart::summary_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<TariffPrices>("prices");
    QTest::addColumn<EnergyTable>("table");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("expected");

    const TariffPrices none;
    const TariffPrices prices{{0.30, 0.20, 0.10}};
    const TariffPrices singlePrice{{0.25, 0.25, 0.25}};
    const QDateTime later(QDate(2027, 1, 1), QTime(0, 0));

    EnergyTable day = EnergyTable::empty(EnergyPeriod::Daily, QDate(2026, 11, 2));
    day.groups[10] = figures(1.2, 0, 0, 3600);
    day.groups[20] = figures(0, 0.3, 0, 1800);
    day.groups[23] = figures(0, 0, 0.1, 900);
    // 6300 s of 86400: 7 %. Cost 0.36 + 0.06 + 0.01.
    QTest::newRow("a day, no prices, Italian")
        << "ita" << none << day << later << "Energia: 1,60 kWh · registrato il 7 % del tempo";
    QTest::newRow("a day, prices, Italian")
        << "ita" << prices << day << later
        << "Energia: 1,60 kWh · Costo: 0,43 € · registrato il 7 % del tempo";
    QTest::newRow("a day, prices, English")
        << "eng" << prices << day << later
        << "Energy: 1.60 kWh · Cost: € 0.43 · recorded 7 % of the time";
    QTest::newRow("a day, no prices, English")
        << "eng" << none << day << later << "Energy: 1.60 kWh · recorded 7 % of the time";

    // Up to 12:00 of the day, 5760 of 43200 s were recorded.
    EnergyTable morning = EnergyTable::empty(EnergyPeriod::Daily, QDate(2026, 11, 2));
    morning.groups[10] = figures(1.2, 0, 0, 3600);
    morning.groups[11] = figures(0.3, 0, 0, 2160);
    const QDateTime noon(QDate(2026, 11, 2), QTime(12, 0));
    QTest::newRow("the day so far")
        << "ita" << none << morning << noon << "Energia: 1,50 kWh · registrato il 13 % del tempo";
    QTest::newRow("the day so far, English")
        << "eng" << none << morning << noon << "Energy: 1.50 kWh · recorded 13 % of the time";

    // November 2026 has 30 days; 24.6 of them recorded, the month half gone.
    EnergyTable month = EnergyTable::empty(EnergyPeriod::Monthly, QDate(2026, 11, 1));
    month.groups[0] = figures(500, 300, 434.56, 24 * 86400 + 51840);
    QTest::newRow("a month, thousands")
        << "ita" << singlePrice << month << later
        << "Energia: 1.234,56 kWh · Costo: 308,64 € · registrato l'82 % del tempo";
    QTest::newRow("a month, thousands, English")
        << "eng" << singlePrice << month << later
        << "Energy: 1,234.56 kWh · Cost: € 308.64 · recorded 82 % of the time";
    QTest::newRow("the month so far, all recorded")
        << "eng" << none << month << QDateTime(QDate(2026, 11, 25), QTime(14, 24))
        << "Energy: 1,234.56 kWh · recorded 100 % of the time";

    EnergyTable year = EnergyTable::empty(EnergyPeriod::Yearly, QDate(2026, 1, 1));
    year.groups[0] = figures(0, 0, 10, 86400);
    // A day of 365 rounds to nothing, but something was recorded.
    QTest::newRow("a year with a day recorded")
        << "ita" << none << year << later << "Energia: 10,00 kWh · registrato l'1 % del tempo";
    QTest::newRow("a year with a day recorded, English")
        << "eng" << none << year << later << "Energy: 10.00 kWh · recorded 1 % of the time";
    QTest::newRow("the year so far: a day of nine")
        << "ita" << none << year << QDateTime(QDate(2026, 1, 10), QTime(0, 0))
        << "Energia: 10,00 kWh · registrato l'11 % del tempo";
    QTest::newRow("the year so far: a day of twelve and a half")
        << "ita" << none << year << QDateTime(QDate(2026, 1, 13), QTime(12, 0))
        << "Energia: 10,00 kWh · registrato l'8 % del tempo";

    QTest::newRow("a month without readings")
        << "ita" << none << EnergyTable::empty(EnergyPeriod::Monthly, QDate(2026, 10, 1)) << later
        << "Energia: 0,00 kWh · registrato lo 0 % del tempo";
    QTest::newRow("half a month recorded")
        << "ita" << none
        << tableWith(EnergyPeriod::Monthly, QDate(2026, 11, 1), 0, figures(1, 0, 0, 15 * 86400))
        << later << "Energia: 1,00 kWh · registrato il 50 % del tempo";

    // A period still to come, and no period at all.
    QTest::newRow("a day still to come")
        << "ita" << prices << EnergyTable::empty(EnergyPeriod::Daily, QDate(2027, 2, 1)) << later
        << "Energia: 0,00 kWh · Costo: 0,00 €";
    QTest::newRow("no period") << "eng" << prices << EnergyTable{} << later << "Energy: 0.00 kWh";
}

void TestEnergyChart::summary()
{
    QFETCH(QString, language);
    QFETCH(TariffPrices, prices);
    QFETCH(EnergyTable, table);
    QFETCH(QDateTime, now);
    QFETCH(QString, expected);
    const EnergyWording wording{language, prices, QStringLiteral("€")};
    QCOMPARE(wording.summary(table, now), expected);
}

void TestEnergyChart::toolTip_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<TariffPrices>("prices");
    QTest::addColumn<EnergyTable>("table");
    QTest::addColumn<int>("index");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("expected");

    const TariffPrices none;
    const TariffPrices prices{{0.30, 0.20, 0.10}};
    const QDateTime later(QDate(2027, 1, 1), QTime(0, 0));
    const EnergyTable hour =
        tableWith(EnergyPeriod::Daily, QDate(2026, 11, 2), 10, figures(1.2, 0, 0, 2952));

    QTest::newRow("an hour, Italian, prices")
        << "ita" << prices << hour << 10 << later
        << "10:00 - 11:00\nEnergia: 1,20 kWh\nF1: 1,20 kWh\nF2: 0,00 kWh\nF3: 0,00 kWh\n"
           "Costo: 0,36 €\nregistrato l'82 % del tempo";
    QTest::newRow("an hour, English, no prices")
        << "eng" << none << hour << 10 << later
        << "10:00 - 11:00\nEnergy: 1.20 kWh\nF1: 1.20 kWh\nF2: 0.00 kWh\nF3: 0.00 kWh\n"
           "recorded 82 % of the time";
    QTest::newRow("the hour in progress")
        << "eng" << none << hour << 10 << QDateTime(QDate(2026, 11, 2), QTime(10, 49, 12))
        << "10:00 - 11:00\nEnergy: 1.20 kWh\nF1: 1.20 kWh\nF2: 0.00 kWh\nF3: 0.00 kWh\n"
           "recorded 100 % of the time";
    QTest::newRow("an hour without readings")
        << "eng" << none << hour << 23 << later
        << "23:00 - 24:00\nEnergy: 0.00 kWh\nF1: 0.00 kWh\nF2: 0.00 kWh\nF3: 0.00 kWh\n"
           "recorded 0 % of the time";
    QTest::newRow("an hour still to come")
        << "eng" << none << hour << 11 << QDateTime(QDate(2026, 11, 2), QTime(10, 30)) << "";

    const EnergyTable day =
        tableWith(EnergyPeriod::Monthly, QDate(2026, 11, 1), 4, figures(6.5, 0, 2.5, 43200));
    QTest::newRow("a day, Italian")
        << "ita" << prices << day << 4 << later
        << "5 Novembre 2026\nEnergia: 9,00 kWh\nF1: 6,50 kWh\nF2: 0,00 kWh\nF3: 2,50 kWh\n"
           "Costo: 2,20 €\nregistrato il 50 % del tempo";
    EnergyTable meterDay =
        tableWith(EnergyPeriod::Monthly, QDate(2026, 11, 1), 4, figures(6.5, 0, 2.5, 86400));
    meterDay.groups[4].estimatedWattSeconds = 9 * kWattSecondsPerKwh;
    QTest::newRow("a day a meter gave as a total, Italian")
        << "ita" << prices << meterDay << 4 << later
        << "5 Novembre 2026\nEnergia: 9,00 kWh\nF1: 6,50 kWh\nF2: 0,00 kWh\nF3: 2,50 kWh\n"
           "Fasce stimate dai totali giornalieri del misuratore\nCosto: 2,20 €\nregistrato il 100 "
           "% del tempo";
    const EnergyTable month =
        tableWith(EnergyPeriod::Yearly, QDate(2026, 1, 1), 2, figures(100, 50, 150, 0));
    QTest::newRow("a month, English")
        << "eng" << prices << month << 2 << later
        << "March 2026\nEnergy: 300.00 kWh\nF1: 100.00 kWh\nF2: 50.00 kWh\nF3: 150.00 kWh\n"
           "Cost: € 55.00\nrecorded 0 % of the time";
}

void TestEnergyChart::toolTip()
{
    QFETCH(QString, language);
    QFETCH(TariffPrices, prices);
    QFETCH(EnergyTable, table);
    QFETCH(int, index);
    QFETCH(QDateTime, now);
    QFETCH(QString, expected);
    const EnergyWording wording{language, prices, QStringLiteral("€")};
    QCOMPARE(wording.toolTip(table, index, now), expected);
}

void TestEnergyChart::groupLabels()
{
    const EnergyWording italian{QStringLiteral("ita"), {}, {}};
    const EnergyTable year = EnergyTable::empty(EnergyPeriod::Yearly, QDate(2026, 5, 5));
    QCOMPARE(year.groups.size(), 12);
    QCOMPARE(italian.groupLabels(year), QStringList({"Gen", "Feb", "Mar", "Apr", "Mag", "Giu",
                                                     "Lug", "Ago", "Set", "Ott", "Nov", "Dic"}));
    const QStringList hours =
        italian.groupLabels(EnergyTable::empty(EnergyPeriod::Daily, QDate(2026, 5, 5)));
    QCOMPARE(hours.size(), 24);
    QCOMPARE(hours.first(), QStringLiteral("0"));
    QCOMPARE(hours.last(), QStringLiteral("23"));
    const QStringList days =
        italian.groupLabels(EnergyTable::empty(EnergyPeriod::Monthly, QDate(2028, 2, 10)));
    QCOMPARE(days.size(), 29);
    QCOMPARE(days.last(), QStringLiteral("29"));
}

QTEST_MAIN(TestEnergyChart)
#include "test_energychart.moc"
