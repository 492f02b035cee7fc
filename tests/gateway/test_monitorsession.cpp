#include "acquisition/loadstate.h"
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

// The details of the re-opens announced, in order: the waits in milliseconds.
QStringList reopenWaits(const QSignalSpy& spy)
{
    QStringList waits;
    for (const auto& args : spy) {
        if (args.at(0).value<LinkState>() == LinkState::Reopening)
            waits << args.at(1).toString();
    }
    return waits;
}

const QString kHmacPassword = QStringLiteral("Powerlog2024");

} // namespace

Q_DECLARE_METATYPE(powerlog::sim::Auth)

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
    void hmacOpen_data();
    void hmacOpen();
    void reopensWhenTheGatewayClosesIt_data();
    void reopensWhenTheGatewayClosesIt();
    void waitsDoubleUpToTheLongest();
    void waitStartsOverAfterALastingSession_data();
    void waitStartsOverAfterALastingSession();
    void refusedPasswordIsNotTriedAgain_data();
    void refusedPasswordIsNotTriedAgain();
    void reopensOnlyWhileOn();

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
    m_monitor->open();
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

    m_monitor->open();
    m_monitor->open(); // already opening: nothing more

    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 3000);
    QVERIFY(m_monitor->isConnected());
    QCOMPARE(linkStates(states), (QList<LinkState>{LinkState::Connecting, LinkState::Connected}));
    QCOMPARE(linkDetails(states).last(), "127.0.0.1:" + QString::number(m_sim->port()));
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->receivedFrames().count(frames::kLoadStatusRequest), 1, 3000);
    QCOMPARE(m_sim->openCommandSessions(), 1); // asked on the command session
    QCOMPARE(m_sim->receivedFrames().count(frames::kOpenEvent), 1);

    m_monitor->open(); // open: nothing at all
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
    m_monitor->open();
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
        << "54321" << false << QList<S>{S::Connecting, S::Connected, S::PasswordRefused};
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

    m_monitor->open();

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

    m_monitor->open();
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(gateway.countOf(frames::kLoadStatusRequest), 2, 3000);
}

void TestMonitorSession::closingStopsEverything()
{
    ScriptedGateway gateway;
    openOn(gateway);
    QSignalSpy states(m_monitor.get(), &MonitorSession::linkStateChanged);

    m_monitor->setClosing();
    m_monitor->open();

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
    m_monitor->open();

    QTRY_VERIFY_WITH_TIMEOUT(checked, checkAtMs + 10000);
    QCOMPARE(statesAtCheck, (QList<LinkState>{LinkState::Connecting, LinkState::Connected}));
    QTRY_COMPARE_WITH_TIMEOUT(linkStates(states).size(), 3, givenUpWithinMs);
    QCOMPARE(linkStates(states).last(), LinkState::NotOpened);
    QCOMPARE(gateway.received(), greet ? QStringList{frames::kOpenEvent} : QStringList());
}

void TestMonitorSession::hmacOpen_data()
{
    QTest::addColumn<sim::Auth>("auth");
    QTest::addColumn<QString>("method");

    QTest::newRow("SHA-256") << sim::Auth::HmacSha256 << "SHA-256";
    QTest::newRow("SHA-1") << sim::Auth::HmacSha1 << "SHA-1";
}

void TestMonitorSession::hmacOpen()
{
    QFETCH(sim::Auth, auth);

    sim::Options options;
    options.password = kHmacPassword;
    options.auth = auth;
    m_sim = std::make_unique<sim::GatewaySimulator>(options);
    QVERIFY(m_sim->listen(0));
    makeSessions(m_sim->port());
    m_command->setPassword(kHmacPassword);
    m_monitor->setPassword(kHmacPassword);
    QSignalSpy states(m_monitor.get(), &MonitorSession::linkStateChanged);
    QSignalSpy opened(m_monitor.get(), &MonitorSession::opened);

    m_monitor->open();

    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 5000);
    QCOMPARE(linkStates(states), (QList<LinkState>{LinkState::Connecting, LinkState::Connected,
                                                   LinkState::Authenticating}));
    QTEST(linkDetails(states).last(), "method");
    // Both sessions proved the password; the load states were asked for once.
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->receivedFrames().count(frames::kLoadStatusRequest), 1, 5000);
    QCOMPARE(m_sim->openEventSessions(), 1);
    QCOMPARE(m_sim->openCommandSessions(), 1);
    QCOMPARE(m_sim->refusedPasswords(), 0);
}

void TestMonitorSession::reopensWhenTheGatewayClosesIt_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<sim::Auth>("auth");

    QTest::newRow("no password") << QString() << sim::Auth::Numeric;
    QTest::newRow("HMAC SHA-256") << kHmacPassword << sim::Auth::HmacSha256;
}

// The gateway recycles the event session: the loads show Unknown until the session is back
// and their states have been asked for again.
void TestMonitorSession::reopensWhenTheGatewayClosesIt()
{
    QFETCH(QString, password);
    QFETCH(sim::Auth, auth);

    sim::Options options;
    options.password = password;
    options.auth = auth;
    options.linePowerWatts = 1'000'000; // the household sheds nothing by itself
    m_sim = std::make_unique<sim::GatewaySimulator>(options);
    QVERIFY(m_sim->listen(0));
    m_sim->setLoadState(3, 0);
    m_sim->setLoadState(5, 2);
    makeSessions(m_sim->port());
    m_command->setPassword(password);
    m_monitor->setPassword(password);
    LoadStates loads;
    connect(m_monitor.get(), &MonitorSession::loadEvent, &loads, &LoadStates::applyLoadEvent);
    connect(m_monitor.get(), &MonitorSession::closed, &loads, &LoadStates::markUnknown);
    QList<LoadState> atClose;
    connect(m_monitor.get(), &MonitorSession::closed, this, [&] {
        for (int i = 0; i < LoadStates::kLoadCount; ++i)
            atClose << loads.state(i);
    });
    const auto shown = [&loads] {
        QList<LoadState> pictures;
        for (int i = 0; i < LoadStates::kLoadCount; ++i)
            pictures << loads.state(i);
        return pictures;
    };
    using P = LoadState;
    const QList<P> known{P::On, P::On, P::Off, P::On, P::Forced, P::On, P::On, P::On};
    QSignalSpy states(m_monitor.get(), &MonitorSession::linkStateChanged);
    QSignalSpy opened(m_monitor.get(), &MonitorSession::opened);
    m_monitor->setReopening(true);
    m_monitor->open();
    QTRY_COMPARE_WITH_TIMEOUT(shown(), known, 5000);

    m_sim->recycleEventSessions();

    QTRY_COMPARE_WITH_TIMEOUT(atClose.size(), LoadStates::kLoadCount, 5000);
    QCOMPARE(atClose, QList<P>(LoadStates::kLoadCount, P::Unknown));
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(shown(), known, 5000);
    QCOMPARE(m_sim->receivedFrames().count(frames::kLoadStatusRequest), 2);
    QCOMPARE(m_sim->receivedFrames().count(frames::kOpenEvent), 2);
    QCOMPARE(reopenWaits(states), QStringList{"100"});
    const QList<LinkState> afterClose =
        linkStates(states).mid(linkStates(states).indexOf(LinkState::PeerClosed));
    QCOMPARE(afterClose.mid(0, 3), (QList<LinkState>{LinkState::PeerClosed, LinkState::Reopening,
                                                     LinkState::Connecting}));
    QVERIFY(m_monitor->isConnected());
}

// With nothing listening every open fails: the waits double up to the longest and stay there.
void TestMonitorSession::waitsDoubleUpToTheLongest()
{
    SessionTimings timings = fastTimings();
    timings.reopenFirstMs = 20;
    timings.reopenLongestMs = 160;
    makeSessions(closedLoopbackPort(), timings);
    QSignalSpy states(m_monitor.get(), &MonitorSession::linkStateChanged);
    m_monitor->setReopening(true);

    m_monitor->open();

    QTRY_VERIFY_WITH_TIMEOUT(reopenWaits(states).size() >= 6, 10000);
    QCOMPARE(reopenWaits(states).mid(0, 6), (QStringList{"20", "40", "80", "160", "160", "160"}));
    QCOMPARE(linkStates(states).count(LinkState::NoConnection),
             linkStates(states).count(LinkState::Connecting));

    m_monitor->setReopening(false);
    QVERIFY(!m_monitor->isReopenScheduled());
}

void TestMonitorSession::waitStartsOverAfterALastingSession_data()
{
    QTest::addColumn<int>("resetAfterMs");
    QTest::addColumn<int>("heldOpenMs"); // before the gateway closes it
    QTest::addColumn<QStringList>("waits");

    QTest::newRow("closed at once: the wait doubles") << 60000 << 0 << QStringList{"50", "100"};
    QTest::newRow("open long enough: the first wait again")
        << 200 << 300 << QStringList{"50", "50"};
}

void TestMonitorSession::waitStartsOverAfterALastingSession()
{
    QFETCH(int, resetAfterMs);
    QFETCH(int, heldOpenMs);

    SessionTimings timings = fastTimings();
    timings.reopenFirstMs = 50;
    timings.reopenResetAfterMs = resetAfterMs;
    ScriptedGateway gateway;
    gateway.ackFrames.insert(frames::kLoadStatusRequest);
    makeSessions(gateway.port(), timings);
    QSignalSpy states(m_monitor.get(), &MonitorSession::linkStateChanged);
    QSignalSpy opened(m_monitor.get(), &MonitorSession::opened);
    m_monitor->setReopening(true);
    m_monitor->open();

    for (int round = 1; round <= 2; ++round) {
        QTRY_COMPARE_WITH_TIMEOUT(opened.count(), round, 5000);
        if (heldOpenMs > 0)
            QTest::qWait(heldOpenMs); // counted from the open's start, so it lasted longer
        gateway.closeSession(frames::kOpenEvent);
        QTRY_COMPARE_WITH_TIMEOUT(reopenWaits(states).size(), round, 5000);
    }
    QTEST(reopenWaits(states), "waits");
}

void TestMonitorSession::refusedPasswordIsNotTriedAgain_data()
{
    QTest::addColumn<sim::Auth>("auth");
    QTest::addColumn<QString>("password");
    QTest::addColumn<LinkState>("state");
    QTest::addColumn<int>("refused");

    QTest::newRow("HMAC, wrong") << sim::Auth::HmacSha256 << "Powerlog2025"
                                 << LinkState::PasswordRefused << 1;
    QTest::newRow("HMAC, missing")
        << sim::Auth::HmacSha1 << QString() << LinkState::PasswordMissing << 0;
    QTest::newRow("numeric, wrong")
        << sim::Auth::Numeric << "54321" << LinkState::PasswordRefused << 1;
    QTest::newRow("numeric, letters")
        << sim::Auth::Numeric << "abc" << LinkState::PasswordMissing << 0;
}

// Gateways lock out after a few refused passwords: nothing tries one again by itself.
void TestMonitorSession::refusedPasswordIsNotTriedAgain()
{
    QFETCH(sim::Auth, auth);
    QFETCH(QString, password);
    QFETCH(LinkState, state);

    sim::Options options;
    options.password = auth == sim::Auth::Numeric ? QStringLiteral("12345") : kHmacPassword;
    options.auth = auth;
    m_sim = std::make_unique<sim::GatewaySimulator>(options);
    QVERIFY(m_sim->listen(0));
    SessionTimings timings = fastTimings();
    timings.reopenFirstMs = 20;
    makeSessions(m_sim->port(), timings);
    m_monitor->setPassword(password);
    QSignalSpy states(m_monitor.get(), &MonitorSession::linkStateChanged);
    m_monitor->setReopening(true);

    m_monitor->open();

    QTRY_VERIFY_WITH_TIMEOUT(linkStates(states).contains(state), 5000);
    QVERIFY(!m_monitor->isReopenScheduled());
    QTest::qWait(200); // ten first waits: a re-open would have come by now
    QCOMPARE(linkStates(states).last(), state);
    QCOMPARE(m_sim->connectionCount(), 1);
    QTEST(m_sim->refusedPasswords(), "refused");
    QVERIFY(!m_sim->isLockedOut());
}

void TestMonitorSession::reopensOnlyWhileOn()
{
    SessionTimings timings = fastTimings();
    timings.reopenFirstMs = 60000;
    ScriptedGateway gateway;
    gateway.ackFrames.insert(frames::kLoadStatusRequest);
    makeSessions(gateway.port(), timings);
    QSignalSpy states(m_monitor.get(), &MonitorSession::linkStateChanged);
    QSignalSpy opened(m_monitor.get(), &MonitorSession::opened);
    QSignalSpy closed(m_monitor.get(), &MonitorSession::closed);
    m_monitor->setReopening(true);
    m_monitor->open();
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 5000);

    // A long wait is cut short by a start from the user.
    gateway.closeSession(frames::kOpenEvent);
    QTRY_COMPARE_WITH_TIMEOUT(reopenWaits(states), QStringList{"60000"}, 5000);
    QVERIFY(m_monitor->isReopenScheduled());
    m_monitor->open();
    QVERIFY(!m_monitor->isReopenScheduled());
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 2, 5000);

    // Off: the session stays closed, as it always did in manual mode.
    m_monitor->setReopening(false);
    gateway.closeSession(frames::kOpenEvent);
    QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 2, 5000);
    QVERIFY(!m_monitor->isReopenScheduled());
    QCOMPARE(reopenWaits(states).size(), 1);
    QVERIFY(!m_monitor->isConnected());
}

QTEST_GUILESS_MAIN(TestMonitorSession)
#include "test_monitorsession.moc"
