// The background recorder's command line and its state lines, from a station against a
// simulated gateway on 127.0.0.1.

#include "app/settings.h"
#include "app/settingsstore.h"
#include "controller/station.h"
#include "daemon/recordercommandline.h"
#include "daemon/recorderlog.h"
#include "simulator/gatewaysimulator.h"
#include "support/recorders.h"
#include "support/storedsettings.h"
#include "support/timings.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace powerlog;
using namespace powerlog::test;

Q_DECLARE_METATYPE(powerlog::RecorderCommandLine::Action)

class TestRecorderLog : public QObject
{
    Q_OBJECT
private slots:
    void commandLine_data();
    void commandLine();
    void quietWhileTheGatewayIsAsked();
    void lostGatewayIsToldOnceAndItsReturnOnce();
};

void TestRecorderLog::commandLine_data()
{
    using Action = RecorderCommandLine::Action;
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("settings");

    QTest::newRow("nothing: record") << QStringList{} << Action::Record << QString() << QString();
    QTest::newRow("folder and settings")
        << QStringList{"--folder", "/data", "--settings", "/etc/p.ini"} << Action::Record << "/data"
        << "/etc/p.ini";
    QTest::newRow("check") << QStringList{"--check", "--folder=/data"} << Action::Check << "/data"
                           << QString();
    QTest::newRow("help wins") << QStringList{"--check", "--help"} << Action::Help << QString()
                               << QString();
    QTest::newRow("version") << QStringList{"-v"} << Action::Version << QString() << QString();
    QTest::newRow("unknown option")
        << QStringList{"--demo"} << Action::UsageError << QString() << QString();
    QTest::newRow("folder without its value")
        << QStringList{"--folder"} << Action::UsageError << QString() << QString();
    QTest::newRow("an argument") << QStringList{"record"} << Action::UsageError << QString()
                                 << QString();
}

void TestRecorderLog::commandLine()
{
    using Action = RecorderCommandLine::Action;
    QFETCH(QStringList, arguments);
    const RecorderCommandLine line =
        parseRecorderCommandLine(QStringList{QStringLiteral("powerlogd")} + arguments);
    QTEST(line.action, "action");
    QTEST(line.folder, "folder");
    QTEST(line.settingsFile, "settings");
    QCOMPARE(line.error.isEmpty(), line.action != Action::UsageError);
    QVERIFY(line.helpText.contains(QStringLiteral("--check")));
}

// A gateway that closes the command session whenever it idles and asks for the HMAC
// handshake on every open: the recorder says once that it is connected and authenticated, and
// nothing for each reading.
void TestRecorderLog::quietWhileTheGatewayIsAsked()
{
    sim::Options options;
    options.password = QStringLiteral("right2024");
    options.auth = sim::Auth::HmacSha256;
    options.commandIdleCloseMs = 30;
    sim::GatewaySimulator gateway(options);
    QVERIFY(gateway.listen(0));
    QTemporaryDir dir;
    EnergyDatabase::createEmpty(dir.filePath(EnergyDatabase::kFileName));
    SettingsStore store(dir.filePath(QStringLiteral("settings.ini")));
    writeStoredSettings(store, gateway.port(), {});
    Settings settings(store);
    QVERIFY(settings.set(Setting::ServerPassword, options.password));
    FixedClock clock;
    StationOptions stationOptions;
    stationOptions.programFolder = dir.path();
    stationOptions.timings = fastTimings();
    stationOptions.overrides.startAutomatic = true;
    stationOptions.overrides.startRecording = true;
    Station station(settings, clock, stationOptions);
    QStringList lines;
    RecorderLog log(station, [&lines](const QString& line) { lines << line; });
    QSignalSpy readings(&station, &Station::readingArrived);

    station.start();
    log.started();
    station.poller().clock().stop();
    station.poller().tick();
    QTRY_COMPARE(readings.size(), 1);
    for (int i = 2; i <= 4; ++i) {
        // The gateway has closed the idle command session: the next reading opens another.
        QTRY_VERIFY(!station.commandSession().isConnected());
        station.refreshNow();
        QTRY_COMPARE(readings.size(), i);
    }
    QTRY_VERIFY(lines.contains(QStringLiteral("event session open")));

    const QString all = lines.join(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("recording into %1 from the gateway at 127.0.0.1:%2")
                                .arg(station.database().path())
                                .arg(gateway.port()));
    QCOMPARE(lines.filter(QStringLiteral("connected to the gateway at")).size(), 1);
    QCOMPARE(lines.filter(QStringLiteral("authenticated with SHA-256")).size(), 1);
    QVERIFY2(lines.indexOf(
                 QStringLiteral("connected to the gateway at 127.0.0.1:%1").arg(gateway.port())) <
                 lines.indexOf(QStringLiteral("authenticated with SHA-256")),
             qPrintable(all));
    QCOMPARE(lines.filter(QStringLiteral("event session open")).size(), 1);
    QVERIFY2(lines.size() <= 5, qPrintable(all));
    station.shutdown();
}

// The gateway goes away for several tries of both sessions and comes back: one line for the
// loss of each, none for each try, one for the return.
void TestRecorderLog::lostGatewayIsToldOnceAndItsReturnOnce()
{
    sim::GatewaySimulator gateway;
    QVERIFY(gateway.listen(0));
    const quint16 port = gateway.port();
    QTemporaryDir dir;
    EnergyDatabase::createEmpty(dir.filePath(EnergyDatabase::kFileName));
    SettingsStore store(dir.filePath(QStringLiteral("settings.ini")));
    writeStoredSettings(store, port, {});
    Settings settings(store);
    FixedClock clock;
    StationOptions stationOptions;
    stationOptions.programFolder = dir.path();
    stationOptions.timings = fastTimings();
    stationOptions.retryFirstMs = 50;
    stationOptions.retryLimitMs = 200;
    stationOptions.overrides.startAutomatic = true;
    stationOptions.overrides.startRecording = true;
    Station station(settings, clock, stationOptions);
    QStringList lines;
    RecorderLog log(station, [&lines](const QString& line) { lines << line; });
    station.start();
    station.poller().clock().stop();
    station.poller().tick();
    QTRY_VERIFY(lines.contains(QStringLiteral("event session open")) && station.isRecording());

    gateway.close();
    station.commandSession().closeConnection();
    QSignalSpy states(&station.commandSession(), &CommandSession::linkStateChanged);
    for (int i = 0; i < station.poller().refreshSeconds(); ++i)
        station.poller().tick();
    QTRY_VERIFY(station.isRetrying());
    const auto tries = [&states] {
        int n = 0;
        for (const auto& args : states)
            n += args.at(0).value<LinkState>() == LinkState::Connecting;
        return n;
    };
    QTRY_VERIFY(tries() >= 4);
    QVERIFY(gateway.listen(port));
    QTRY_VERIFY_WITH_TIMEOUT(station.isRecording(), 5000);
    QTRY_COMPARE(lines.count(QStringLiteral("event session open")), 2);

    const QString all = lines.join(QLatin1Char('\n'));
    QCOMPARE(lines.count(QStringLiteral("cannot reach the gateway")), 1);
    QVERIFY2(lines.filter(QStringLiteral("event session: cannot reach")).size() <= 1,
             qPrintable(all));
    QVERIFY2(lines.filter(QStringLiteral("re-opening")).size() <= 1, qPrintable(all));
    QCOMPARE(lines.count(QStringLiteral("recording stopped")), 1);
    QCOMPARE(lines.count(QStringLiteral("gateway lost: asking again in the background")), 1);
    QCOMPARE(lines.filter(QStringLiteral("connected to the gateway at")).size(), 2);
    QCOMPARE(lines.count(QStringLiteral("the gateway answers again: recording")), 1);
    station.shutdown();
}

QTEST_GUILESS_MAIN(TestRecorderLog)
#include "test_recorderlog.moc"
