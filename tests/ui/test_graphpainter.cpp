#include "acquisition/livegraph.h"
#include "app/config.h"
#include "ui/main/graphpainter.h"

#include <QPainter>
#include <QTest>

using namespace powerlog;

namespace {

const QDateTime kNow(QDate(2026, 12, 5), QTime(10, 16, 26));

QColor pixel(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

// The height of the bar in column x, checking that it is one solid colour standing on the
// bottom edge with only background above it.
int barHeightAt(const QImage& image, int x, QColor* colour = nullptr)
{
    int height = 0;
    while (height < kGraphHeight && pixel(image, x, kGraphHeight - 1 - height) != graphBackground())
        ++height;
    for (int y = 0; y < kGraphHeight - height; ++y) {
        if (pixel(image, x, y) != graphBackground())
            return -1;
    }
    if (height > 0) {
        const QColor c = pixel(image, x, kGraphHeight - 1);
        for (int y = kGraphHeight - height; y < kGraphHeight; ++y) {
            if (pixel(image, x, y) != c)
                return -1;
        }
        if (colour)
            *colour = c;
    }
    return height;
}

} // namespace

class TestGraphPainter : public QObject
{
    Q_OBJECT
private slots:
    void firstReadingDrawsOneYellowBar()
    {
        LiveGraphModel model;
        model.addPower(1500, kNow);
        const QImage image = renderPowerGraph(model, 3000);
        QCOMPARE(image.size(), QSize(101, 32));
        for (int x = 0; x < 99; ++x)
            QCOMPARE(barHeightAt(image, x), 0);
        QColor colour;
        QCOMPARE(barHeightAt(image, 99, &colour), 16);
        QCOMPARE(colour, QColor(255, 255, 0));
        QCOMPARE(barHeightAt(image, 100), 0);
    }

    void fullLineBar_data()
    {
        QTest::addColumn<int>("power");
        QTest::newRow("equal to the line power") << 3000;
        QTest::newRow("above the line power") << 3500;
    }
    void fullLineBar()
    {
        QFETCH(int, power);
        LiveGraphModel model;
        model.addPower(qint16(power), kNow);
        QColor colour;
        QCOMPARE(barHeightAt(renderPowerGraph(model, 3000), 99, &colour), 32);
        QCOMPARE(colour, QColor(255, 255, 0));

        model.addPower(0, kNow);
        QCOMPARE(barHeightAt(renderPowerGraph(model, 3000), 98, &colour), 32);
        QCOMPARE(colour, QColor(200, 220, 80));
    }

    void highestLineIndexScalesToNineThousandWatts()
    {
        LiveGraphModel model;
        model.addPower(4500, kNow);
        QCOMPARE(barHeightAt(renderPowerGraph(model, linePowerWatts(4)), 99), 16);
    }

    void barHeights_data()
    {
        QTest::addColumn<int>("power");
        QTest::addColumn<int>("linePower");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("olderGreen");

        QTest::newRow("zero draws no bar") << 0 << 1500 << 0 << 0;
        QTest::newRow("negative draws no bar") << -400 << 1500 << 0 << 0;
        QTest::newRow("below one pixel") << 46 << 1500 << 0 << 0;
        QTest::newRow("one pixel") << 47 << 1500 << 1 << 123;
        QTest::newRow("quarter") << 1125 << 4500 << 8 << 145;
        QTest::newRow("almost full") << 5999 << 6000 << 31 << 219;
        QTest::newRow("9000 W half") << 4500 << 9000 << 16 << 170;
    }
    void barHeights()
    {
        QFETCH(int, power);
        QFETCH(int, linePower);
        QFETCH(int, height);
        QFETCH(int, olderGreen);
        LiveGraphModel model;
        model.addPower(qint16(power), kNow);
        QColor colour;
        QCOMPARE(barHeightAt(renderPowerGraph(model, linePower), 99, &colour), height);

        model.addPower(0, kNow);
        QCOMPARE(barHeightAt(renderPowerGraph(model, linePower), 98, &colour), height);
        if (height > 0)
            QCOMPARE(colour, QColor(200, olderGreen, 80));
    }

    void barsScrollLeftWithEachReading()
    {
        LiveGraphModel model;
        for (int w : {750, 1500, 375})
            model.addPower(qint16(w), kNow);
        const QImage image = renderPowerGraph(model, 1500);
        QCOMPARE(barHeightAt(image, 97), 16);
        QCOMPARE(barHeightAt(image, 98), 32);
        QCOMPARE(barHeightAt(image, 99), 8);
    }

    void repaintGivesTheSamePicture()
    {
        LiveGraphModel model;
        for (int w : {100, 2200, 900, 3000})
            model.addPower(qint16(w), kNow);
        const QImage first = renderPowerGraph(model, 3000);
        const QImage second = renderPowerGraph(model, 3000);
        QCOMPARE(second, first);
        QCOMPARE(model.history(99), qint16(3000));
        QCOMPARE(model.maxPower(), qint16(3000));
    }

    void clearedDrawingShowsOnlyTheBackground()
    {
        LiveGraphModel model;
        model.addPower(1500, kNow);
        model.addPower(1500, kNow);
        model.clearDrawing();
        QImage blank(kGraphWidth, kGraphHeight, QImage::Format_RGB32);
        blank.fill(graphBackground());
        QCOMPARE(renderPowerGraph(model, 1500), blank);

        model.addPower(750, kNow);
        const QImage image = renderPowerGraph(model, 1500);
        QCOMPARE(barHeightAt(image, 97), 32);
        QCOMPARE(barHeightAt(image, 98), 32);
        QCOMPARE(barHeightAt(image, 99), 16);
    }

    void paintsScaledUpWithoutSmoothing()
    {
        LiveGraphModel model;
        model.addPower(1500, kNow);
        QImage image(kGraphWidth * 3, kGraphHeight * 3, QImage::Format_RGB32);
        {
            QPainter painter(&image);
            painter.scale(3, 3);
            paintPowerGraph(painter, model, 3000);
        }
        QCOMPARE(image.scaled(kGraphWidth, kGraphHeight), renderPowerGraph(model, 3000));
    }
};

QTEST_MAIN(TestGraphPainter)
#include "test_graphpainter.moc"
