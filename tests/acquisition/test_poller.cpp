// Automatic polling against the real command and monitor sessions and a simulated gateway on
// 127.0.0.1. The clock is stepped by hand: the clock is stopped and tick() called directly.

#include "acquisition/poller.h"
#include "gateway/commandsession.h"
#include "gateway/frames.h"
#include "gateway/linkstate.h"
#include "gateway/monitorsession.h"
#include "simulator/gatewaysimulator.h"
#include "support/timings.h"

#include <QSignalSpy>
#include <QTest>

using namespace powerlog;
using powerlog::test::fastTimings;

Q_DECLARE_METATYPE(powerlog::sim::Auth)

namespace {

const QString kRequest = frames::kMeasurementRequest;
// A frame the tests send after the ticks under test: the command session sends in order, so once
// it reaches the gateway every request queued before it has arrived too.
const QString kMarker = QStringLiteral("*#3*10*3##");

sim::Faults silentGateway()
{
    sim::Faults faults;
    faults.silent = true;
    return faults;
}

// Both sessions, the poller and a gateway, wired as the main window wires them.
struct PollingRig
{
    explicit PollingRig(quint8 lostFrameSwitch = 1)
    {
        listening = simulator.listen(0);
        simulator.setReading(QStringLiteral("231"), QStringLiteral("4"), QStringLiteral("925"),
                             QStringLiteral("1500.5"));
        command.setPeer(QStringLiteral("127.0.0.1"), simulator.port());
        monitor.setPeer(QStringLiteral("127.0.0.1"), simulator.port());
        poller.setRefreshSeconds(10);
        poller.setLostFrameSwitch(lostFrameSwitch);
    }

    // Automatic mode on, with the clock left to the test.
    void startAutomaticMode()
    {
        poller.startAutomaticMode();
        poller.clock().stop();
    }

    int requests() const { return int(simulator.receivedFrames().count(kRequest)); }

    // Sends the marker without waiting for an answer and waits until the gateway has it.
    void flushCommandQueue()
    {
        command.send(kMarker, CommandSession::AckPolicy::NoAckWait);
        QTRY_VERIFY(simulator.receivedFrames().contains(kMarker));
    }

    sim::GatewaySimulator simulator;
    bool listening = false;
    CommandSession command{fastTimings()};
    MonitorSession monitor{command, fastTimings()};
    Poller poller{command, monitor};
};

// Runs the first tick of automatic mode against an answering gateway and waits until the
// monitor session's load-state request has been answered too, so later ticks start from a
// quiet link. Stops the clock the poller restarts.
void answerFirstRequest(PollingRig& rig)
{
    QSignalSpy finished(&rig.poller, &Poller::firstRequestFinished);
    rig.startAutomaticMode();
    rig.poller.tick();
    QTRY_COMPARE(finished.count(), 1);
    rig.poller.clock().stop();
    QCOMPARE(finished.first().first().toBool(), true);
    // The gateway answers a frame the moment it records it, so once the load-state request is
    // recorded its ACK is on the way and nothing else is outstanding.
    QTRY_VERIFY(rig.simulator.receivedFrames().contains(QStringLiteral("*#3##")));
    QCOMPARE(rig.requests(), 1);
}

} // namespace

class TestPoller : public QObject
{
    Q_OBJECT

private slots:
    void firstRequestAtOnceThenEveryInterval();
    void unacknowledgedFirstRequestFallsBackToManual_data();
    void unacknowledgedFirstRequestFallsBackToManual();
    void silentGatewayAfterFirstExchange_data();
    void silentGatewayAfterFirstExchange();
    void replyChunkClearsLostRequests_data();
    void replyChunkClearsLostRequests();
    void stopWhileFirstRequestWaits_data();
    void stopWhileFirstRequestWaits();
    void monitorComesBackWhileAutomaticModeRuns_data();
    void monitorComesBackWhileAutomaticModeRuns();
    void refusedPasswordAtTheStartIsTriedOnce_data();
    void refusedPasswordAtTheStartIsTriedOnce();
    void requestOfAnotherSourceCountsAsTheCentralUnits();
    void unwatchedClockWakesOnlyForRequests();
};

void TestPoller::firstRequestAtOnceThenEveryInterval()
{
    QStringList frames;
    QStringList framesAtFinish;
    PollingRig rig;
    QVERIFY(rig.listening);
    QSignalSpy finished(&rig.poller, &Poller::firstRequestFinished);
    QSignalSpy ticked(&rig.poller, &Poller::ticked);
    QSignalSpy progress(&rig.poller, &Poller::progressChanged);
    QSignalSpy tray(&rig.poller, &Poller::requestSent);
    connect(&rig.command, &CommandSession::frameReceived, this,
            [&frames](const QString& frame) { frames << frame; });
    connect(&rig.poller, &Poller::firstRequestFinished, this, [&] { framesAtFinish = frames; });

    rig.startAutomaticMode();
    QVERIFY(rig.poller.isFirstRequestDue());
    QCOMPARE(rig.poller.ticks(), 0);

    rig.poller.tick();
    QCOMPARE(ticked.count(), 1);
    QCOMPARE(tray.count(), 1);
    QTRY_COMPARE(finished.count(), 1);
    rig.poller.clock().stop();
    QCOMPARE(finished.first().first().toBool(), true);
    // It waited for the acknowledgement, which follows the reading.
    QVERIFY2(framesAtFinish.contains(QStringLiteral("*#3*10*0*231*4*925*1500.5##")),
             qPrintable(framesAtFinish.join(' ')));
    QVERIFY(!rig.poller.isFirstRequestDue());
    QVERIFY(rig.poller.isAutomatic());
    QCOMPARE(rig.poller.ticks(), 1);
    QCOMPARE(progress.last().at(0).toInt(), 1);
    QCOMPARE(progress.last().at(1).toInt(), 10);
    QCOMPARE(rig.requests(), 1);

    // The first request opened the monitor session first, and went out after the load-state
    // request that the open sends.
    QTRY_COMPARE(rig.simulator.openEventSessions(), 1);
    const QStringList opened = rig.simulator.receivedFrames();
    QVERIFY(opened.contains(QStringLiteral("*99*0##")));
    QVERIFY(opened.indexOf(QStringLiteral("*99*1##")) >= 0);
    QVERIFY(opened.indexOf(QStringLiteral("*99*1##")) < opened.indexOf(QStringLiteral("*#3##")));
    QVERIFY(opened.indexOf(QStringLiteral("*#3##")) < opened.indexOf(kRequest));

    // The first tick counts as 1: periodic requests leave on ticks 10, 20 and 30.
    for (int tick = 2; tick <= 30; ++tick) {
        const int trayCalls = tray.count();
        rig.poller.tick();
        QCOMPARE(ticked.count(), tick);
        const int sinceRequest = tick % 10 == 0 ? 10 : tick % 10;
        QCOMPARE(progress.last().first().toInt(), sinceRequest);
        QCOMPARE(rig.poller.ticks(), tick % 10);
        if (tick % 10 == 0) {
            QCOMPARE(tray.count(), trayCalls + 1);
            QTRY_COMPARE(rig.requests(), 1 + tick / 10);
        } else {
            QCOMPARE(tray.count(), trayCalls);
        }
    }
    rig.flushCommandQueue();
    QCOMPARE(rig.requests(), 4);
    QVERIFY(rig.poller.isAutomatic());
    QCOMPARE(finished.count(), 1);
}

void TestPoller::unacknowledgedFirstRequestFallsBackToManual_data()
{
    QTest::addColumn<bool>("nackAll");
    QTest::addColumn<int>("lostFrameSwitch");

    QTest::newRow("silent, lost option 1") << false << 1;
    QTest::newRow("silent, lost option 0") << false << 0;
    QTest::newRow("NACK, lost option 1") << true << 1;
    QTest::newRow("NACK, lost option 0") << true << 0;
}

void TestPoller::unacknowledgedFirstRequestFallsBackToManual()
{
    QFETCH(bool, nackAll);
    QFETCH(int, lostFrameSwitch);

    PollingRig rig{quint8(lostFrameSwitch)};
    QVERIFY(rig.listening);
    sim::Faults faults;
    faults.silent = !nackAll;
    faults.nackAll = nackAll;
    rig.simulator.setFaults(faults);
    QSignalSpy finished(&rig.poller, &Poller::firstRequestFinished);
    QSignalSpy fallback(&rig.poller, &Poller::lostRequestsFallback);

    rig.startAutomaticMode();
    rig.poller.tick();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);

    QCOMPARE(finished.first().first().toBool(), false);
    QCOMPARE(rig.requests(), 3); // every attempt went out
    QVERIFY(!rig.poller.isAutomatic());
    QVERIFY(!rig.poller.isFirstRequestDue());
    QVERIFY(!rig.poller.clock().isActive());
    QCOMPARE(rig.poller.ticks(), 1); // the tick that sent it still counts
    QCOMPARE(fallback.count(), 0);
    QVERIFY(!rig.monitor.isReopening());
}

void TestPoller::silentGatewayAfterFirstExchange_data()
{
    QTest::addColumn<int>("lostFrameSwitch");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("periodicRequests");
    QTest::addColumn<bool>("fallsBack");

    // Five unanswered requests, then the sixth request time gives up without sending.
    QTest::newRow("lost option 1") << 1 << 60 << 5 << true;
    QTest::newRow("lost option 0") << 0 << 70 << 7 << false;
}

void TestPoller::silentGatewayAfterFirstExchange()
{
    QFETCH(int, lostFrameSwitch);
    QFETCH(int, ticks);
    QFETCH(int, periodicRequests);
    QFETCH(bool, fallsBack);

    PollingRig rig{quint8(lostFrameSwitch)};
    QVERIFY(rig.listening);
    answerFirstRequest(rig);
    if (QTest::currentTestFailed())
        return;
    rig.simulator.setFaults(silentGateway());
    QSignalSpy fallback(&rig.poller, &Poller::lostRequestsFallback);
    QSignalSpy progress(&rig.poller, &Poller::progressChanged);

    for (int tick = 2; tick <= ticks; ++tick) {
        rig.poller.tick();
        if (tick % 10 == 0 && tick / 10 <= periodicRequests)
            QTRY_COMPARE(rig.requests(), 1 + tick / 10);
    }
    // Unanswered periodic requests are neither retried nor waited for.
    rig.flushCommandQueue();
    QCOMPARE(rig.requests(), 1 + periodicRequests);

    QCOMPARE(fallback.count(), fallsBack ? 1 : 0);
    QCOMPARE(rig.poller.isAutomatic(), !fallsBack);
    if (fallsBack) {
        QVERIFY(!rig.poller.clock().isActive());
        QCOMPARE(progress.last().first().toInt(), 0);
        QCOMPARE(rig.poller.ticks(), 0);
    } else {
        QCOMPARE(rig.poller.lostRequests(), 0);
    }
}

void TestPoller::replyChunkClearsLostRequests_data()
{
    QTest::addColumn<bool>("nackAll");
    QTest::addColumn<bool>("garbage");
    QTest::addColumn<bool>("cleared");

    QTest::newRow("reading and ACK") << false << false << true;
    QTest::newRow("bare NACK") << true << false << false;
    QTest::newRow("NACK behind junk") << true << true << true;
}

// Four requests go unanswered; the gateway answers the fifth in some way, and the sixth request
// time decides between a new request and manual mode.
void TestPoller::replyChunkClearsLostRequests()
{
    QFETCH(bool, nackAll);
    QFETCH(bool, garbage);
    QFETCH(bool, cleared);

    PollingRig rig(1);
    QVERIFY(rig.listening);
    answerFirstRequest(rig);
    if (QTest::currentTestFailed())
        return;
    rig.simulator.setFaults(silentGateway());
    QSignalSpy fallback(&rig.poller, &Poller::lostRequestsFallback);
    QSignalSpy answers(&rig.command, &CommandSession::answerReceived);

    for (int tick = 2; tick <= 40; ++tick)
        rig.poller.tick();
    QTRY_COMPARE(rig.requests(), 5);
    QCOMPARE(rig.poller.lostRequests(), 4);

    sim::Faults faults;
    faults.nackAll = nackAll;
    faults.garbageBetween = garbage;
    rig.simulator.setFaults(faults);
    for (int tick = 41; tick <= 50; ++tick)
        rig.poller.tick();
    QTRY_COMPARE(rig.requests(), 6);
    if (cleared) {
        QTRY_VERIFY(answers.count() > 0);
    } else {
        QTest::qWait(300); // time for the bare answer to arrive, and change nothing
        QCOMPARE(answers.count(), 0);
    }
    QCOMPARE(rig.poller.lostRequests(), cleared ? 0 : 5);

    for (int tick = 51; tick <= 60; ++tick)
        rig.poller.tick();
    rig.flushCommandQueue();
    QCOMPARE(rig.requests(), cleared ? 7 : 6);
    QCOMPARE(fallback.count(), cleared ? 0 : 1);
    QCOMPARE(rig.poller.isAutomatic(), cleared);
}

void TestPoller::stopWhileFirstRequestWaits_data()
{
    QTest::addColumn<bool>("answeredLate");

    QTest::newRow("answered after the stop") << true;
    QTest::newRow("never answered") << false;
}

void TestPoller::stopWhileFirstRequestWaits()
{
    QFETCH(bool, answeredLate);

    bool markerDone = false;
    PollingRig rig;
    QVERIFY(rig.listening);
    rig.simulator.setFaults(silentGateway());
    QSignalSpy finished(&rig.poller, &Poller::firstRequestFinished);

    rig.startAutomaticMode();
    rig.poller.tick();
    QTRY_COMPARE(rig.requests(), 1);
    rig.poller.stopAutomaticMode();
    if (answeredLate)
        rig.simulator.setFaults({}); // the next attempt is acknowledged

    // Sent after the first request, so its result comes after the first request's result.
    rig.command.send(kMarker, [&markerDone](bool) { markerDone = true; });
    QTRY_VERIFY_WITH_TIMEOUT(markerDone, 10000);
    if (answeredLate)
        QVERIFY(rig.requests() >= 2);

    QCOMPARE(finished.count(), 0);
    QVERIFY(!rig.poller.isAutomatic());
    QVERIFY(!rig.poller.isFirstRequestDue());
    QVERIFY(!rig.poller.clock().isActive());
    QCOMPARE(rig.poller.ticks(), 0);
}

void TestPoller::monitorComesBackWhileAutomaticModeRuns_data()
{
    QTest::addColumn<bool>("fallBack"); // how automatic mode ends: a fall-back or a stop

    QTest::newRow("stopped") << false;
    QTest::newRow("fallen back to manual") << true;
}

void TestPoller::monitorComesBackWhileAutomaticModeRuns()
{
    QFETCH(bool, fallBack);

    PollingRig rig;
    QVERIFY(rig.listening);
    QSignalSpy opened(&rig.monitor, &MonitorSession::opened);
    QSignalSpy closed(&rig.monitor, &MonitorSession::closed);
    answerFirstRequest(rig);
    QVERIFY(rig.monitor.isReopening());

    rig.simulator.recycleEventSessions();
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 2, 10000);
    // Opened again by itself, and the load states asked for again.
    QTRY_COMPARE(rig.simulator.receivedFrames().count(QStringLiteral("*#3##")), 2);

    if (fallBack)
        rig.poller.fallBackToManual();
    else
        rig.poller.stopAutomaticMode();
    QVERIFY(!rig.monitor.isReopening());
    rig.simulator.recycleEventSessions();
    QTRY_COMPARE(closed.count(), 2);
    QVERIFY(!rig.monitor.isReopenScheduled());
    QVERIFY(!rig.monitor.isConnected());
}

void TestPoller::refusedPasswordAtTheStartIsTriedOnce_data()
{
    QTest::addColumn<sim::Auth>("auth");
    QTest::addColumn<QString>("gatewayPassword");

    QTest::newRow("HMAC SHA-256") << sim::Auth::HmacSha256 << "Powerlog2024";
    QTest::newRow("numeric") << sim::Auth::Numeric << "12345";
}

// The monitor session's open is refused: the command session does not offer the same password
// again, and automatic mode ends at once.
void TestPoller::refusedPasswordAtTheStartIsTriedOnce()
{
    QFETCH(sim::Auth, auth);
    QFETCH(QString, gatewayPassword);

    PollingRig rig;
    QVERIFY(rig.listening);
    sim::Options options = rig.simulator.options();
    options.auth = auth;
    options.password = gatewayPassword;
    rig.simulator.setOptions(options);
    rig.command.setPassword(QStringLiteral("54321"));
    rig.monitor.setPassword(QStringLiteral("54321"));
    QSignalSpy finished(&rig.poller, &Poller::firstRequestFinished);
    QSignalSpy commandStates(&rig.command, &CommandSession::linkStateChanged);

    rig.startAutomaticMode();
    rig.poller.tick();

    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QCOMPARE(finished.first().first().toBool(), false);
    QVERIFY(!rig.poller.isAutomatic());
    QVERIFY(!rig.monitor.isReopening());
    QVERIFY(!rig.monitor.isReopenScheduled());
    QVERIFY(commandStates.isEmpty()); // never even connected
    QCOMPARE(rig.simulator.refusedPasswords(), 1);
    QCOMPARE(rig.simulator.connectionCount(), 1);
    QCOMPARE(rig.requests(), 0);
}

// A request of another source (an energy meter) replaces the central unit's, first and periodic
// alike; its unanswered requests count towards the lost-request rule as the central unit's do.
void TestPoller::requestOfAnotherSourceCountsAsTheCentralUnits()
{
    PollingRig rig;
    QVERIFY(rig.listening);
    sim::Options options = rig.simulator.options();
    options.meters = {1};
    options.who3 = false;
    rig.simulator.setOptions(options);
    const QString power = QStringLiteral("*#18*51*113##");
    rig.poller.setRequest(
        [&rig, power](CommandSession::AckPolicy policy, CommandSession::Result done) {
            rig.command.send(power, policy, std::move(done));
        });
    const auto asked = [&rig, power] { return rig.simulator.receivedFrames().count(power); };

    QSignalSpy finished(&rig.poller, &Poller::firstRequestFinished);
    rig.startAutomaticMode();
    rig.poller.tick();
    QTRY_COMPARE(finished.count(), 1);
    rig.poller.clock().stop();
    QCOMPARE(finished.first().first().toBool(), true);
    for (int tick = 2; tick <= 10; ++tick)
        rig.poller.tick();
    QTRY_COMPARE(asked(), 2);
    QTRY_COMPARE(rig.poller.lostRequests(), 0);
    QCOMPARE(rig.requests(), 0);

    rig.simulator.setFaults(silentGateway());
    QSignalSpy fallback(&rig.poller, &Poller::lostRequestsFallback);
    for (int interval = 0; interval < Poller::kLostLimit; ++interval)
        for (int tick = 0; tick < 10; ++tick)
            rig.poller.tick();
    QCOMPARE(rig.poller.lostRequests(), Poller::kLostLimit);
    QCOMPARE(fallback.count(), 0);
    for (int tick = 0; tick < 10; ++tick)
        rig.poller.tick();
    QCOMPARE(fallback.count(), 1);
    QVERIFY(!rig.poller.isAutomatic());
    QCOMPARE(rig.requests(), 0);
}

// Nobody watching the ticks: the clock sleeps until a request is due, and the requests keep the
// refresh interval; watched again, it ticks every second from where the count stands.
void TestPoller::unwatchedClockWakesOnlyForRequests()
{
    PollingRig rig;
    QVERIFY(rig.listening);
    rig.poller.setTicksWatched(false);
    QSignalSpy progress(&rig.poller, &Poller::progressChanged);
    answerFirstRequest(rig); // the first request goes out a second after the start, as ever
    QCOMPARE(rig.poller.ticks(), 1);

    rig.poller.clock().start(); // as after the first request
    rig.poller.setRefreshSeconds(10);
    QCOMPARE(rig.poller.clock().interval(), 9000); // ticks 2..10 in one sleep
    rig.poller.advance(); // as the clock fires
    QCOMPARE(rig.poller.ticks(), 0);
    QTRY_COMPARE(rig.requests(), 2);
    QCOMPARE(progress.last().at(0).toInt(), 10);
    QCOMPARE(rig.poller.clock().interval(), 10000);
    QVERIFY(rig.poller.clock().isActive());
    QCOMPARE(rig.poller.ticks(), 0);

    // Watched again: one tick a second.
    rig.poller.setTicksWatched(true);
    QCOMPARE(rig.poller.clock().interval(), 1000);
    rig.poller.clock().stop();
    for (int tick = 1; tick <= 10; ++tick)
        rig.poller.advance();
    QTRY_COMPARE(rig.requests(), 3);
    QCOMPARE(rig.poller.clock().interval(), 1000);
}

QTEST_GUILESS_MAIN(TestPoller)
#include "test_poller.moc"
