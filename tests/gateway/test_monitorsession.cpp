#include "gateway/commandsession.h"
#include "gateway/monitorsession.h"
#include "gateway/sessiontestsupport.h"
#include "simulator/gatewaysimulator.h"

#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace powerlog;
using namespace powerlog::test;

namespace {

const QString kSuffix = QStringLiteral(" (Monitor)");

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

private:
    void makeSessions(quint16 port);
    void openOn(ScriptedGateway& gateway);

    SharedTexts m_texts;
    std::unique_ptr<sim::GatewaySimulator> m_sim;
    std::unique_ptr<CommandSession> m_command;
    std::unique_ptr<MonitorSession> m_monitor;
};

void TestMonitorSession::init()
{
    m_texts = textsFor(QStringLiteral("eng"));
}

void TestMonitorSession::cleanup()
{
    m_monitor.reset();
    m_command.reset();
    m_sim.reset();
}

void TestMonitorSession::makeSessions(quint16 port)
{
    m_command = std::make_unique<CommandSession>(m_texts, fastTimings());
    m_command->setPeer(QStringLiteral("127.0.0.1"), port);
    m_monitor = std::make_unique<MonitorSession>(m_texts, *m_command, fastTimings());
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
    QSignalSpy status(m_monitor.get(), &MonitorSession::statusText);
    QSignalSpy opened(m_monitor.get(), &MonitorSession::opened);

    m_monitor->StartMonitor();
    m_monitor->StartMonitor(); // already opening: nothing more

    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 3000);
    QVERIFY(m_monitor->isConnected());
    QCOMPARE(statusTexts(status),
             (QStringList{m_texts.connecting + kSuffix,
                          m_texts.connected + " 127.0.0.1:" + QString::number(m_sim->port())}));
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->receivedFrames().count(frames::kLoadStatusRequest), 1, 3000);
    QCOMPARE(m_sim->openCommandSessions(), 1); // asked on the command session
    QCOMPARE(m_sim->receivedFrames().count(frames::kOpenEvent), 1);

    m_monitor->StartMonitor(); // open: nothing at all
    QCOMPARE(status.count(), 2);
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

    QTest::newRow("three events in order")
        << QByteArray("*3*0*#4##*3*1*#5##*3*2*#2##") << QStringList{"3:0", "4:1", "1:2"} << false;
    QTest::newRow("unfinished frame waits")
        << QByteArray("*3*0*#4##*3*1*#5") << QStringList{"3:0"} << false;
    QTest::newRow("position 9 is not ours")
        << QByteArray("*3*0*#9##*3*1*#1##") << QStringList{"0:1"} << false;
    QTest::newRow("other frames ignored")
        << QByteArray("*#*1##*1*1*21##*3*3*#8##") << QStringList{"7:3"} << false;
    QTest::newRow("position 0 stops the rest")
        << QByteArray("*3*0*#2##*3*0*#0##*3*1*#5##") << QStringList{"1:0"} << true;
    QTest::newRow("position not a digit")
        << QByteArray("*3*0*#x##*3*1*#5##") << QStringList() << true;
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
        QVERIFY(!errors.first().at(0).toString().isEmpty());
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
    QTest::addColumn<QList<int>>("trayIcons");

    QTest::newRow("no connection") << false << QString() << QString() << false << QList<int>{0};
    QTest::newRow("no greeting") << true << QString() << QString() << true << QList<int>();
    QTest::newRow("password missing") << true << "12345" << QString() << false << QList<int>{0};
    QTest::newRow("wrong password") << true << "12345"
                                    << "54321" << false << QList<int>();
}

void TestMonitorSession::openFails()
{
    QFETCH(bool, listening);
    QFETCH(QString, gatewayPassword);
    QFETCH(QString, password);
    QFETCH(bool, noGreeting);
    QFETCH(QList<int>, trayIcons);

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
    QSignalSpy status(m_monitor.get(), &MonitorSession::statusText);
    QSignalSpy tray(m_monitor.get(), &MonitorSession::trayIconRequested);
    QSignalSpy opened(m_monitor.get(), &MonitorSession::opened);
    QSignalSpy warnings(m_command.get(), &CommandSession::passwordMissing);

    m_monitor->StartMonitor();

    QTRY_COMPARE_WITH_TIMEOUT(statusTexts(status).last(), m_texts.noConnection + kSuffix, 3000);
    QCOMPARE(statusTexts(status).first(), m_texts.connecting + kSuffix);
    QCOMPARE(intArgs(tray), trayIcons);
    QVERIFY(!m_monitor->isConnected());
    QCOMPARE(opened.count(), 0);
    QCOMPARE(warnings.count(), 0); // the monitor never asks the user for the password
    QVERIFY(!m_sim->receivedFrames().contains(frames::kLoadStatusRequest));
    if (listening && password.isEmpty() && !gatewayPassword.isEmpty())
        QCOMPARE(m_sim->receivedFrames(), QStringList{frames::kOpenEvent});
}

void TestMonitorSession::peerCloseAndReopen()
{
    ScriptedGateway gateway;
    openOn(gateway);
    QSignalSpy status(m_monitor.get(), &MonitorSession::statusText);
    QSignalSpy opened(m_monitor.get(), &MonitorSession::opened);

    gateway.closeSession(frames::kOpenEvent);
    QTRY_COMPARE_WITH_TIMEOUT(statusTexts(status), QStringList{m_texts.peerClosed}, 3000);
    QVERIFY(!m_monitor->isConnected());

    m_monitor->StartMonitor();
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(gateway.countOf(frames::kLoadStatusRequest), 2, 3000);
}

void TestMonitorSession::closingStopsEverything()
{
    ScriptedGateway gateway;
    openOn(gateway);
    QSignalSpy status(m_monitor.get(), &MonitorSession::statusText);

    m_monitor->setClosing();
    m_monitor->StartMonitor();

    QVERIFY(!m_monitor->isConnected());
    QVERIFY(status.isEmpty()); // our own close is not the gateway's
}

QTEST_GUILESS_MAIN(TestMonitorSession)
#include "test_monitorsession.moc"
