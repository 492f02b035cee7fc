#include "ui/main/activitylight.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace powerlog;

class TestActivityLight : public QObject
{
    Q_OBJECT
private slots:
    void idleBeforeTheFirstRequest()
    {
        ActivityLight light;
        QVERIFY(!light.hasStarted());
        QCOMPARE(light.timer()->objectName(), QStringLiteral("Tcol"));
        QCOMPARE(light.timer()->interval(), 100);
        QVERIFY(!light.timer()->isActive());
    }

    void fadesInSevenStepsThenStops()
    {
        ActivityLight light;
        QSignalSpy colours(&light, &ActivityLight::colourChanged);
        light.start();
        QVERIFY(light.hasStarted());
        QVERIFY(light.timer()->isActive());

        const QList<int> greens = {239, 223, 207, 191, 175, 159, 143};
        for (int green : greens) {
            light.step();
            QCOMPARE(colours.last(), (QVariantList{40, green, 40}));
            QVERIFY(light.timer()->isActive());
        }
        light.step();
        QVERIFY(!light.timer()->isActive());
        QCOMPARE(light.colour(), (ActivityLight::Rgb{40, 143, 40}));
        QCOMPARE(colours.size(), greens.size() + 1);
    }

    void aNewRequestRestartsFromBrightGreen()
    {
        ActivityLight light;
        light.start();
        for (int i = 0; i < 3; ++i)
            light.step();
        light.start();
        QCOMPARE(light.lightStep(), 0);
        QVERIFY(light.timer()->isActive());
        light.step();
        QCOMPARE(light.colour().green, 239);
    }
};

QTEST_GUILESS_MAIN(TestActivityLight)
#include "test_activitylight.moc"
