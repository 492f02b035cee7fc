#include "acquisition/livegraph.h"

#include <QRandomGenerator>
#include <QTest>
#include <algorithm>

using namespace powerlog;

namespace {

const QDateTime kStart(QDate(2026, 12, 5), QTime(10, 16, 26));

// Feeds the readings one second apart.
void feed(LiveGraphModel& model, const QList<int>& readings)
{
    QDateTime t = kStart;
    for (int w : readings) {
        model.addPower(qint16(w), t);
        t = t.addSecs(1);
    }
}

} // namespace

class TestLiveGraph : public QObject
{
    Q_OBJECT
private slots:
    void startsEmpty()
    {
        LiveGraphModel model;
        QVERIFY(std::ranges::all_of(model.history(), [](qint16 h) { return h == 0; }));
        QCOMPARE(model.maxPowerText(), QStringLiteral("0W"));
        QCOMPARE(model.averageText(), QStringLiteral("0W"));
        QVERIFY(!model.maxPowerTime().isValid());
        QVERIFY(!model.drawingCleared());
    }

    void readingsScrollFromRightToLeft()
    {
        LiveGraphModel model;
        feed(model, {1, 2, 3});
        QCOMPARE(model.history(99), qint16(3));
        QCOMPARE(model.history(98), qint16(2));
        QCOMPARE(model.history(97), qint16(1));
        QCOMPARE(model.history(96), qint16(0));
        QCOMPARE(model.history(0), qint16(0));
    }

    void oldestReadingDropsOut()
    {
        LiveGraphModel model;
        QList<int> readings;
        for (int i = 1; i <= 101; ++i)
            readings << i;
        feed(model, readings);
        QCOMPARE(model.history(0), qint16(2));
        QCOMPARE(model.history(99), qint16(101));
    }

    void maximum_data()
    {
        QTest::addColumn<QList<int>>("readings");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("reachedAt"); // index of the reading, -1 for never

        QTest::newRow("rises then falls") << QList<int>{100, 300, 200} << 300 << 1;
        QTest::newRow("an equal reading keeps the first time") << QList<int>{500, 500} << 500 << 0;
        QTest::newRow("negative powers stay below the start") << QList<int>{-5, -10} << 0 << -1;
        QTest::newRow("largest 16-bit power") << QList<int>{32767, 1} << 32767 << 0;
    }
    void maximum()
    {
        QFETCH(QList<int>, readings);
        QFETCH(int, expected);
        QFETCH(int, reachedAt);
        LiveGraphModel model;
        feed(model, readings);
        QCOMPARE(model.maxPower(), qint16(expected));
        QCOMPARE(model.maxPowerText(), QString::number(expected) + "W");
        QCOMPARE(model.maxPowerTime(), reachedAt < 0 ? QDateTime() : kStart.addSecs(reachedAt));
    }

    void average_data()
    {
        QTest::addColumn<QList<int>>("readings");
        QTest::addColumn<QString>("expected");

        QTest::newRow("one reading") << QList<int>{1234} << "1234W";
        QTest::newRow("exact") << QList<int>{100, 200} << "150W";
        QTest::newRow("integer part") << QList<int>{100, 101} << "100W";
        QTest::newRow("negative toward zero") << QList<int>{-100, -101} << "-100W";
        QTest::newRow("large values do not overflow")
            << QList<int>{32767, 32767, 32766} << "32766W";
    }
    void average()
    {
        QFETCH(QList<int>, readings);
        QFETCH(QString, expected);
        LiveGraphModel model;
        feed(model, readings);
        QCOMPARE(model.averageText(), expected);
    }

    void averageRestartKeepsHalfWeight()
    {
        LiveGraphModel model;
        for (int i = 0; i < 10000; ++i)
            model.addPower(101, kStart);
        QCOMPARE(model.averageCount(), 10000.0);

        model.addPower(301, kStart);
        QCOMPARE(model.averageCount(), 5001.0);
        QCOMPARE(model.averageSum(), 101.0 * 5000 + 301);
        QCOMPARE(model.averageWatts(), 101);
    }

    void averageStaysBetweenReadings_data()
    {
        QTest::addColumn<int>("lowest");
        QTest::addColumn<int>("highest");

        QTest::newRow("household") << 150 << 3300;
        QTest::newRow("export to the grid") << -2000 << -10;
        QTest::newRow("both directions") << -500 << 500;
    }
    void averageStaysBetweenReadings()
    {
        QFETCH(int, lowest);
        QFETCH(int, highest);
        LiveGraphModel model;
        QRandomGenerator random(7);
        int seenLow = highest;
        int seenHigh = lowest;
        // Long enough for several restarts, with a drift so the restart has something to lose.
        for (int i = 0; i < 35000; ++i) {
            const int span = highest - lowest;
            const int biased = i < 20000 ? lowest + span / 4 : highest - span / 4;
            const int w =
                std::clamp(biased + random.bounded(-span / 4, span / 4 + 1), lowest, highest);
            seenLow = std::min(seenLow, w);
            seenHigh = std::max(seenHigh, w);
            model.addPower(qint16(w), kStart);
            if (model.averageWatts() < seenLow || model.averageWatts() > seenHigh)
                QFAIL(qPrintable(QStringLiteral("average %1 outside %2..%3 after %4 readings")
                                     .arg(model.averageWatts())
                                     .arg(seenLow)
                                     .arg(seenHigh)
                                     .arg(i + 1)));
        }
    }

    void clearStatisticsKeepsHistory()
    {
        LiveGraphModel model;
        feed(model, {900, 2500, 700});
        model.clearStatistics();
        QCOMPARE(model.maxPowerText(), QStringLiteral("0W"));
        QCOMPARE(model.averageText(), QStringLiteral("0W"));
        QVERIFY(!model.maxPowerTime().isValid());
        QCOMPARE(model.history(98), qint16(2500));

        model.addPower(400, kStart);
        QCOMPARE(model.maxPowerText(), QStringLiteral("400W"));
        QCOMPARE(model.averageText(), QStringLiteral("400W"));
        QCOMPARE(model.maxPowerTime(), kStart);
    }

    void clearedDrawingReturnsWithTheNextReading()
    {
        LiveGraphModel model;
        feed(model, {500});
        model.clearDrawing();
        QVERIFY(model.drawingCleared());
        QCOMPARE(model.history(99), qint16(500));
        model.addPower(600, kStart);
        QVERIFY(!model.drawingCleared());
    }

    void barHeight_data()
    {
        QTest::addColumn<int>("power");
        QTest::addColumn<int>("linePower");
        QTest::addColumn<int>("expected");

        QTest::newRow("none") << 0 << 1500 << 0;
        QTest::newRow("just below one pixel") << 46 << 1500 << 0; // 1500 / 32 = 46.875 W
        QTest::newRow("one pixel") << 47 << 1500 << 1;
        QTest::newRow("half") << 750 << 1500 << 16;
        QTest::newRow("full") << 1500 << 1500 << 32;
        QTest::newRow("above the line power") << 3000 << 1500 << 32;
        QTest::newRow("largest 16-bit power") << 32767 << 1500 << 32;
        QTest::newRow("negative") << -300 << 1500 << 0;
        QTest::newRow("9000 W, one watt short") << 8999 << 9000 << 31;
        QTest::newRow("9000 W, below one pixel") << 281 << 9000 << 0; // 281.25 W per pixel
        QTest::newRow("9000 W, one pixel") << 282 << 9000 << 1;
    }
    void barHeight()
    {
        QFETCH(int, power);
        QFETCH(int, linePower);
        QFETCH(int, expected);
        QCOMPARE(LiveGraphModel::barHeight(power, linePower), expected);
    }

    void barShare_data()
    {
        QTest::addColumn<int>("power");
        QTest::addColumn<int>("linePower");
        QTest::addColumn<int>("expected");

        QTest::newRow("none") << 0 << 1500 << 0;
        QTest::newRow("below one percent") << 14 << 1500 << 0;
        QTest::newRow("one percent") << 15 << 1500 << 1;
        QTest::newRow("half") << 1500 << 3000 << 50;
        QTest::newRow("full") << 3000 << 3000 << 100;
        QTest::newRow("above the line power") << 4000 << 3000 << 100;
        QTest::newRow("negative") << -1 << 3000 << 0;
    }
    void barShare()
    {
        QFETCH(int, power);
        QFETCH(int, linePower);
        QFETCH(int, expected);
        QCOMPARE(LiveGraphModel::barShare(power, linePower), expected);
    }
};

QTEST_GUILESS_MAIN(TestLiveGraph)
#include "test_livegraph.moc"
