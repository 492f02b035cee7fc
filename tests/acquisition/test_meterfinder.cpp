// The search for an installation's energy meters through the real command session, against a
// simulated gateway on 127.0.0.1 with meters at chosen addresses.

#include "acquisition/meterfinder.h"
#include "gateway/commandsession.h"
#include "gateway/meterframes.h"
#include "simulator/gatewaysimulator.h"
#include "support/timings.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace powerlog;
using namespace powerlog::test;

namespace {

struct FinderRig
{
    explicit FinderRig(const QList<int>& meters, bool who3 = true)
        : simulator(options(meters, who3))
    {
        simulator.listen(0);
        command.setPeer(QStringLiteral("127.0.0.1"), simulator.port());
        finder.setIntervalMs(2);
        finder.setLastAnswerWaitMs(500 * kSlowdown);
    }

    static sim::Options options(const QList<int>& meters, bool who3)
    {
        sim::Options options;
        options.meters = meters;
        options.who3 = who3;
        return options;
    }

    QStringList wheres() const
    {
        QStringList wheres;
        for (const FoundMeter& meter : finder.found())
            wheres << meter.where;
        return wheres;
    }

    sim::GatewaySimulator simulator;
    CommandSession command{fastTimings()};
    MeterFinder finder{command};
};

} // namespace

class TestMeterFinder : public QObject
{
    Q_OBJECT
private slots:
    void findsTheMetersThatAnswer_data();
    void findsTheMetersThatAnswer();
    void unreachableGatewayEndsTheSearch();
    void stopEndsTheSearchWithoutAResult();
};

void TestMeterFinder::findsTheMetersThatAnswer_data()
{
    QTest::addColumn<QList<int>>("meters");
    QTest::addColumn<bool>("who3");
    QTest::addColumn<QStringList>("found");

    QTest::newRow("none") << QList<int>{} << true << QStringList{};
    QTest::newRow("one, no load-control unit")
        << QList<int>{1} << false << QStringList{QStringLiteral("51")};
    QTest::newRow("first, middle and last addresses")
        << QList<int>{255, 1, 17} << true
        << QStringList{QStringLiteral("51"), QStringLiteral("517"), QStringLiteral("5255")};
}

// Every address is asked once, in order, and only the meters there are listed, by address,
// with the power they answered.
void TestMeterFinder::findsTheMetersThatAnswer()
{
    QFETCH(QList<int>, meters);
    QFETCH(bool, who3);
    QFETCH(QStringList, found);

    FinderRig rig(meters, who3);
    QSignalSpy finished(&rig.finder, &MeterFinder::finished);
    QSignalSpy announced(&rig.finder, &MeterFinder::meterFound);
    QSignalSpy progress(&rig.finder, &MeterFinder::progressed);
    rig.finder.start();
    rig.finder.start(); // a second start while it runs changes nothing
    QVERIFY(rig.finder.isRunning());
    QVERIFY(finished.wait(30000 * kSlowdown));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.constFirst().constFirst().toBool(), true);
    QVERIFY(!rig.finder.isRunning());

    QCOMPARE(rig.wheres(), found);
    QCOMPARE(announced.size(), found.size());
    for (const FoundMeter& meter : rig.finder.found())
        QVERIFY(meter.watts >= 0);

    QStringList expected;
    for (int n = MeterFinder::kFirstMeter; n <= MeterFinder::kLastMeter; ++n)
        expected << meterframes::powerRequest(QStringLiteral("5%1").arg(n));
    QStringList asked = rig.simulator.receivedFrames();
    asked.removeIf([](const QString& frame) { return !frame.startsWith(QStringLiteral("*#18*")); });
    QCOMPARE(asked, expected);
    QCOMPARE(progress.constLast().at(0).toInt(), MeterFinder::kAddressCount);
    QCOMPARE(progress.constLast().at(1).toInt(), MeterFinder::kAddressCount);
}

void TestMeterFinder::unreachableGatewayEndsTheSearch()
{
    // A port nobody listens on: taken, then freed.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const quint16 port = server.serverPort();
    server.close();

    CommandSession command(fastTimings());
    command.setPeer(QStringLiteral("127.0.0.1"), port);
    MeterFinder finder(command);
    finder.setIntervalMs(2);
    QSignalSpy finished(&finder, &MeterFinder::finished);
    finder.start();
    QVERIFY(finished.wait(10000 * kSlowdown));
    QCOMPARE(finished.constFirst().constFirst().toBool(), false);
    QVERIFY(!finder.isRunning());
    QVERIFY(finder.found().isEmpty());
}

// A search stopped halfway says nothing more, and a new one starts from the first address.
void TestMeterFinder::stopEndsTheSearchWithoutAResult()
{
    FinderRig rig({1});
    rig.finder.setIntervalMs(20);
    QSignalSpy finished(&rig.finder, &MeterFinder::finished);
    QSignalSpy announced(&rig.finder, &MeterFinder::meterFound);
    rig.finder.start();
    QVERIFY(announced.wait(10000 * kSlowdown));
    rig.finder.stop();
    QVERIFY(!rig.finder.isRunning());
    QTest::qWait(300);
    QVERIFY(finished.isEmpty());
    const qsizetype askedBeforeStop = rig.simulator.receivedFrames().size();
    QVERIFY(askedBeforeStop < MeterFinder::kAddressCount);

    rig.finder.setIntervalMs(2);
    rig.finder.start();
    QVERIFY(finished.wait(30000 * kSlowdown));
    QCOMPARE(rig.wheres(), QStringList{QStringLiteral("51")});
}

QTEST_GUILESS_MAIN(TestMeterFinder)
#include "test_meterfinder.moc"
