#include "gateway/commandsession.h"
#include "gateway/monitorsession.h"
#include "gateway/sessiontestsupport.h"
#include "simulator/gatewaysimulator.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace powerlog;
using namespace powerlog::test;

namespace {

// Load events as "index:state", easy to compare and to read in a failure message.
QStringList loadEvents(const QSignalSpy& spy)
{
    QStringList list;
    for (const auto& args : spy)
        list << QStringLiteral("%1:%2").arg(args.at(0).toInt()).arg(args.at(1).value<QChar>());
    return list;
}

} // namespace

class TestMonitorSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensOnceAndAsksForLoadStates_data();
    void opensOnceAndAsksForLoadStates();
    void gatewayEventsArrive();
    void eventsOfOneArrival_data();
    void eventsOfOneArrival();
    void eventSplitAcrossSegmentsIsKept();
    void openFails_data();
    void openFails();
    void peerCloseAndReopen();
    void closingStopsEverything();
    void defaultTimings_data();
    void defaultTimings();

private:
    void makeSessions(quint16 port, SessionTimings timings = fastTimings());
    void openOn(ScriptedGateway& gateway);

    std::unique_ptr<sim::GatewaySimulator> m_sim;
    std::unique_ptr<CommandSession> m_command;
    std::unique_ptr<MonitorSession> m_monitor;
};

void TestMonitorSession::init() {}

void TestMonitorSession::cleanup()
{
    m_monitor.reset();
    m_command.reset();
    m_sim.reset();
}

void TestMonitorSession::makeSessions(quint16 port, SessionTimings timings)
{
    m_command = std::make_unique<CommandSession>(fastTimings());
    m_command->setPeer(QStringLiteral("127.0.0.1"), port);
    m_monitor = std::make_unique<MonitorSession>(*m_command, timings);
    m_monitor->setPeer(QStringLiteral("127.0.0.1"), port);
}

// Opens the monitor on a hand-driven gateway that acknowledges the load-status request.
void TestMonitorSession::openOn(ScriptedGateway& gateway)
{
    gateway.ackFrames.insert(frames::kLoadStatusRequest);
    makeSessions(gateway.port());
    QSignalSpy opened(m_monitor.get(), &MonitorSession::opened);
    m_monitor->StartMonitor();
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 3000);
}

void TestMonitorSession::opensOnceAndAsksForLoadStates_data()
{
    QTest::addColumn<QString>("password");

    QTest::newRow("no password") << QString();
    QTest::newRow("password") << "12345";
}

void TestMonitorSession::opensOnceAndAsksForLoadStates()
{
    QFETCH(QString, password);

    sim::Options options;
    options.password = password;
    m_sim = std::make_unique<sim::GatewaySimulator>(options);
    QVERIFY(m_sim->listen(0));
    makeSessions(m_sim->port());
    m_command->setPassword(password);
    m_monitor->setPassword(password);
    QSignalSpy states(m_monitor.get(), &MonitorSession::linkStateChanged);
    QSignalSpy opened(m_monitor.get(), &MonitorSession::opened);

    m_monitor->StartMonitor();
    m_monitor->StartMonitor(); // already opening: nothing more

    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 3000);
    QVERIFY(m_monitor->isConnected());
    QCOMPARE(linkStates(states), (QList<LinkState>{LinkState::Connecting, LinkState::Connected}));
    QCOMPARE(linkDetails(states).last(), "127.0.0.1:" + QString::number(m_sim->port()));
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->receivedFrames().count(frames::kLoadStatusRequest), 1, 3000);
    QCOMPARE(m_sim->openCommandSessions(), 1); // asked on the command session
    QCOMPARE(m_sim->receivedFrames().count(frames::kOpenEvent), 1);

    m_monitor->StartMonitor(); // open: nothing at all
    QCOMPARE(states.count(), 2);
    QCOMPARE(opened.count(), 1);
}

void TestMonitorSession::gatewayEventsArrive()
{
    m_sim = std::make_unique<sim::GatewaySimulator>();
    QVERIFY(m_sim->listen(0));
    makeSessions(m_sim->port());
    QSignalSpy events(m_monitor.get(), &MonitorSession::loadEvent);
    QSignalSpy opened(m_monitor.get(), &MonitorSession::opened);
    m_monitor->StartMonitor();
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 3000);

    m_sim->setLoadState(2, 2);

    QTRY_VERIFY_WITH_TIMEOUT(loadEvents(events).contains(QStringLiteral("1:2")), 3000);
}

void TestMonitorSession::eventsOfOneArrival_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QString>("badPiece");

    QTest::newRow("three events in order")
        << QByteArray("*3*0*#4##*3*1*#5##*3*2*#2##") << QStringList{"3:0", "4:1", "1:2"} << false
        << QString();
    QTest::newRow("unfinished frame waits")
        << QByteArray("*3*0*#4##*3*1*#5") << QStringList{"3:0"} << false << QString();
    QTest::newRow("position 9 is not ours")
        << QByteArray("*3*0*#9##*3*1*#1##") << QStringList{"0:1"} << false << QString();
    QTest::newRow("other frames ignored")
        << QByteArray("*#*1##*1*1*21##*3*3*#8##") << QStringList{"7:3"} << false << QString();
    QTest::newRow("position 0 stops the rest")
        << QByteArray("*3*0*#2##*3*0*#0##*3*1*#5##") << QStringList{"1:0"} << true
        << QStringLiteral("*3*0*#0");
    QTest::newRow("position not a digit")
        << QByteArray("*3*0*#x##*3*1*#5##") << QStringList() << true << QStringLiteral("*3*0*#x");
}

void TestMonitorSession::eventsOfOneArrival()
{
    QFETCH(QByteArray, chunk);
    QFETCH(QStringList, events);
    QFETCH(bool, failed);

    ScriptedGateway gateway;
    openOn(gateway);
    QSignalSpy loads(m_monitor.get(), &MonitorSession::loadEvent);
    QSignalSpy errors(m_monitor.get(), &MonitorSession::loadEventError);
    QSignalSpy handled(m_monitor.get(), &MonitorSession::loadEventsHandled);

    gateway.sendOn(frames::kOpenEvent, chunk);

    QTRY_COMPARE_WITH_TIMEOUT(handled.count() + errors.count(), 1, 3000);
    QCOMPARE(loadEvents(loads), events);
    QCOMPARE(errors.count(), failed ? 1 : 0);
    QCOMPARE(handled.count(), failed ? 0 : 1);
    if (failed)
        QTEST(errors.first().at(0).value<frames::LoadEventError>().piece, "badPiece");
}

void TestMonitorSession::eventSplitAcrossSegmentsIsKept()
{
    ScriptedGateway gateway;
    openOn(gateway);
    QSignalSpy loads(m_monitor.get(), &MonitorSession::loadEvent);
    QSignalSpy handled(m_monitor.get(), &MonitorSession::loadEventsHandled);

    gateway.sendOn(frames::kOpenEvent, "*3*0*#");
    QTRY_COMPARE_WITH_TIMEOUT(handled.count(), 1, 3000);
    QVERIFY(loads.isEmpty());
    gateway.sendOn(frames::kOpenEvent, "4##");

    QTRY_COMPARE_WITH_TIMEOUT(handled.count(), 2, 3000);
    QCOMPARE(loadEvents(loads), QStringList{"3:0"});
}

void TestMonitorSession::openFails_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QString>("gatewayPassword");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("noGreeting");
    QTest::addColumn<QList<LinkState>>("states");

    using S = LinkState;
    QTest::newRow("no connection")
        << false << QString() << QString() << false << QList<S>{S::Connecting, S::NoConnection};
    QTest::newRow("no greeting") << true << QString() << QString() << true
                                 << QList<S>{S::Connecting, S::Connected, S::NotOpened};
    QTest::newRow("password missing") << true << "12345" << QString() << false
                                      << QList<S>{S::Connecting, S::Connected, S::PasswordMissing};
    QTest::newRow("wrong password")
        << true << "12345"
        << "54321" << false << QList<S>{S::Connecting, S::Connected, S::NotOpened};
}

void TestMonitorSession::openFails()
{
    QFETCH(bool, listening);
    QFETCH(QString, gatewayPassword);
    QFETCH(QString, password);
    QFETCH(bool, noGreeting);
    QFETCH(QList<LinkState>, states);

    sim::Options options;
    options.password = gatewayPassword;
    options.faults.noGreeting = noGreeting;
    m_sim = std::make_unique<sim::GatewaySimulator>(options);
    quint16 port = closedLoopbackPort();
    if (listening) {
        QVERIFY(m_sim->listen(0));
        port = m_sim->port();
    }
    makeSessions(port);
    m_monitor->setPassword(password);
    QSignalSpy reported(m_monitor.get(), &MonitorSession::linkStateChanged);
    QSignalSpy opened(m_monitor.get(), &MonitorSession::opened);
    QSignalSpy commandStates(m_command.get(), &CommandSession::linkStateChanged);

    m_monitor->StartMonitor();

    QTRY_COMPARE_WITH_TIMEOUT(reported.count(), states.size(), 3000);
    QCOMPARE(linkStates(reported), states);
    QVERIFY(!m_monitor->isConnected());
    QCOMPARE(opened.count(), 0);
    QVERIFY(commandStates.isEmpty()); // the command session is not even opened
    QVERIFY(!m_sim->receivedFrames().contains(frames::kLoadStatusRequest));
    if (listening && password.isEmpty() && !gatewayPassword.isEmpty())
        QCOMPARE(m_sim->receivedFrames(), QStringList{frames::kOpenEvent});
}

void TestMonitorSession::peerCloseAndReopen()
{
    ScriptedGateway gateway;
    openOn(gateway);
    QSignalSpy states(m_monitor.get(), &MonitorSession::linkStateChanged);
    QSignalSpy opened(m_monitor.get(), &MonitorSession::opened);

    gateway.closeSession(frames::kOpenEvent);
    QTRY_COMPARE_WITH_TIMEOUT(linkStates(states), QList<LinkState>{LinkState::PeerClosed}, 3000);
    QVERIFY(!m_monitor->isConnected());

    m_monitor->StartMonitor();
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(gateway.countOf(frames::kLoadStatusRequest), 2, 3000);
}

void TestMonitorSession::closingStopsEverything()
{
    ScriptedGateway gateway;
    openOn(gateway);
    QSignalSpy states(m_monitor.get(), &MonitorSession::linkStateChanged);

    m_monitor->setClosing();
    m_monitor->StartMonitor();

    QVERIFY(!m_monitor->isConnected());
    QVERIFY(states.isEmpty()); // our own close is not the gateway's
}

void TestMonitorSession::defaultTimings_data()
{
    QTest::addColumn<bool>("greet");
    QTest::addColumn<int>("checkAtMs");
    QTest::addColumn<int>("givenUpWithinMs"); // after the check

    // A gateway that never greets, and one that greets but never answers the open.
    QTest::newRow("greeting, 10 s") << false << 8000 << 8000;
    QTest::newRow("open window, 1 s") << true << 800 << 4000;
}

// A session built without timings waits as long as the defaults say: not given up at 80 % of
// the wait, given up within a generous bound after it.
void TestMonitorSession::defaultTimings()
{
    QFETCH(bool, greet);
    QFETCH(int, checkAtMs);
    QFETCH(int, givenUpWithinMs);

    ScriptedGateway gateway;
    gateway.greet = greet;
    gateway.answerOpen = false;
    m_command = std::make_unique<CommandSession>();
    m_monitor = std::make_unique<MonitorSession>(*m_command);
    m_monitor->setPeer(QStringLiteral("127.0.0.1"), gateway.port());
    QSignalSpy states(m_monitor.get(), &MonitorSession::linkStateChanged);

    // Started before the wait does, so it fires first even on a slow machine.
    QList<LinkState> statesAtCheck;
    bool checked = false;
    QTimer::singleShot(checkAtMs, this, [&] {
        statesAtCheck = linkStates(states);
        checked = true;
    });
    m_monitor->StartMonitor();

    QTRY_VERIFY_WITH_TIMEOUT(checked, checkAtMs + 10000);
    QCOMPARE(statesAtCheck, (QList<LinkState>{LinkState::Connecting, LinkState::Connected}));
    QTRY_COMPARE_WITH_TIMEOUT(linkStates(states).size(), 3, givenUpWithinMs);
    QCOMPARE(linkStates(states).last(), LinkState::NotOpened);
    QCOMPARE(gateway.received(), greet ? QStringList{frames::kOpenEvent} : QStringList());
}

QTEST_GUILESS_MAIN(TestMonitorSession)
#include "test_monitorsession.moc"
