// The station without any window: the real sessions, poller, meter and database against a
// simulated gateway on 127.0.0.1, as the background recorder runs them.

#include "acquisition/energyaccounts.h"
#include "acquisition/energydatabase.h"
#include "app/config.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "controller/station.h"
#include "simulator/gatewaysimulator.h"
#include "support/recorders.h"
#include "support/sqlfile.h"
#include "support/storedsettings.h"
#include "support/timings.h"
#include "support/writersettle.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace powerlog;
using namespace powerlog::test;

namespace {

struct StationRig
{
    explicit StationRig(const QHash<QString, QString>& stored = {})
        : written(write(stored)), station(settings, clock, options())
    {
        EnergyDatabase::createEmpty(dir.filePath(EnergyDatabase::kFileName));
    }

    StationOptions options() const
    {
        StationOptions o;
        o.programFolder = dir.path();
        o.timings = fastTimings();
        o.retryFirstMs = 50;
        o.retryLimitMs = 200;
        return o;
    }

    bool write(const QHash<QString, QString>& stored)
    {
        simulator.listen(0);
        port = simulator.port();
        writeStoredSettings(store, port, stored);
        return true;
    }

    // Steps the poller's clock by hand through one whole refresh interval.
    void tickThroughInterval()
    {
        for (int i = 0; i < station.poller().refreshSeconds(); ++i)
            station.poller().tick();
    }

    int rows()
    {
        settle(station.database());
        return SqlFile(dir.filePath(EnergyDatabase::kFileName)).rows();
    }

    QTemporaryDir dir;
    sim::GatewaySimulator simulator;
    quint16 port = 0;
    SettingsStore store{dir.filePath(QStringLiteral("settings.ini"))};
    bool written;
    Settings settings{store};
    FixedClock clock;
    Station station;
};

// A gateway with an energy meter at 51 and no load-control central unit: every WHO 3 frame is
// refused.
void withMeterOnly(sim::GatewaySimulator& simulator)
{
    sim::Options options = simulator.options();
    options.meters = {1};
    options.who3 = false;
    simulator.setOptions(options);
}

QList<Notice> notices(const QSignalSpy& spy)
{
    QList<Notice> list;
    for (const auto& args : spy)
        list << args.at(0).value<Notice>();
    return list;
}

} // namespace

class TestStation : public QObject
{
    Q_OBJECT
private slots:
    void startUpModes_data();
    void startUpModes();
    void readingsReachTheDatabaseWithoutAWindow();
    void lostGatewayEndsRecordingAndComesBackWhenItAnswers();
    void unansweredRequestsEndRecordingAndComeBack();
    void stInterfaceRecordingComesBackWithTheNextReading();
    void whatTheUserStartsEndsTheRetry();
    void refusedPasswordIsNeverRetried();
    void refreshThatGetsNoSessionLeavesNoBusyTray();
    void promptReadingsLeaveTheTrayAlone();
    void settingsApplyAtOnce();
    void shutdownWritesWhatIsQueued();
    void energyMeterReadingsAreRecordedWithoutTheCentralUnit();
    void energyMeterHistoryFillsThePastDays();
    void meterSourceAppliesAtOnce();
    void secondStationBesideARecorderRecordsNothing();
    void staleRecorderLockIsTakenOver();
};

void TestStation::startUpModes_data()
{
    QTest::addColumn<QString>("interface");
    QTest::addColumn<QString>("autoStart");
    QTest::addColumn<QString>("recAuto");
    QTest::addColumn<WorkingMode>("mode");
    QTest::addColumn<bool>("recording");
    QTest::addColumn<bool>("keepAlive");

    using M = WorkingMode;
    QTest::newRow("manual") << "0"
                            << "0"
                            << "0" << M::Manual << false << false;
    QTest::newRow("automatic") << "0"
                               << "1"
                               << "0" << M::Automatic << false << false;
    QTest::newRow("recording polls") << "0"
                                     << "0"
                                     << "1" << M::Automatic << true << false;
    QTest::newRow("ST interface ignores auto") << "1"
                                               << "1"
                                               << "0" << M::StInterface << false << true;
    QTest::newRow("ST interface records unasked") << "1"
                                                  << "0"
                                                  << "1" << M::StInterface << true << true;
}

void TestStation::startUpModes()
{
    QFETCH(QString, interface);
    QFETCH(QString, autoStart);
    QFETCH(QString, recAuto);
    StationRig rig(
        {{"Option/Interface", interface}, {"Start/Auto", autoStart}, {"Start/RecAuto", recAuto}});
    QSignalSpy modes(&rig.station, &Station::modeChanged);
    rig.station.start();
    QTEST(rig.station.mode(), "mode");
    QTEST(rig.station.isRecording(), "recording");
    QTEST(rig.station.keepAliveTimer().isActive(), "keepAlive");
    QVERIFY(!modes.isEmpty()); // the windows hear the mode the run starts in
    QCOMPARE(modes.last().first().value<WorkingMode>(), rig.station.mode());
    QCOMPARE(rig.station.trayLevel(), kTrayNoLink);
}

void TestStation::readingsReachTheDatabaseWithoutAWindow()
{
    StationRig rig({{"Start/RecAuto", "1"}});
    rig.simulator.setReading("231", "4", "925", "1500.5");
    QSignalSpy readings(&rig.station, &Station::readingArrived);
    rig.station.start();
    rig.station.poller().clock().stop();
    rig.station.poller().tick(); // the first request of the run
    QTRY_COMPARE(readings.size(), 1);
    QCOMPARE(rig.station.trayLevel(), trayLevel(925, 3000)); // the default line power
    QTRY_COMPARE(rig.rows(), 1);
    QVERIFY(rig.simulator.receivedFrames().contains(QStringLiteral("*#3*10*0##")));

    // Nothing shows today's energy, so nothing reads it; once something does, it is read at
    // once, and the reader lets go of the file before the writer's last close.
    QTest::qWait(100);
    QVERIFY(!rig.station.todayEnergy().figures());
    rig.station.todayEnergy().setWanted(true);
    QTRY_VERIFY(rig.station.todayEnergy().figures());
    rig.station.shutdown();
    QVERIFY(settle(rig.station.database()));
    QVERIFY(!QFile::exists(rig.dir.filePath(EnergyDatabase::kFileName) + "-wal"));
}

// A gateway restarted in the night: recording and automatic mode end, the readouts are stale,
// the user is told; the station keeps asking, and everything comes back as it was.
void TestStation::lostGatewayEndsRecordingAndComesBackWhenItAnswers()
{
    StationRig rig({{"Start/RecAuto", "1"}});
    QSignalSpy notice(&rig.station, &Station::notice);
    QSignalSpy stale(&rig.station, &Station::staleChanged);
    rig.station.start();
    rig.station.poller().clock().stop();
    rig.station.poller().tick();
    QTRY_VERIFY(!rig.station.poller().isFirstRequestDue() && rig.rows() == 1);

    rig.simulator.close();
    rig.station.commandSession().closeConnection();
    rig.tickThroughInterval(); // the periodic request finds no gateway
    QTRY_VERIFY(!rig.station.isRecording());
    QCOMPARE(rig.station.mode(), WorkingMode::Manual);
    QVERIFY(rig.station.isStale());
    QVERIFY(rig.station.isRetrying());
    QCOMPARE(notices(notice), QList<Notice>{Notice::GatewayLostWhileRecording});
    QCOMPARE(rig.station.trayLevel(), kTrayNoLink);
    // Tries again and again while the gateway is away, telling the user nothing more.
    QSignalSpy states(&rig.station.commandSession(), &CommandSession::linkStateChanged);
    const auto tries = [&states] {
        int n = 0;
        for (const auto& args : states)
            n += args.at(0).value<LinkState>() == LinkState::Connecting;
        return n;
    };
    QTRY_VERIFY(tries() >= 2);
    QCOMPARE(notice.size(), 1);

    QVERIFY(rig.simulator.listen(rig.port));
    QTRY_VERIFY_WITH_TIMEOUT(rig.station.isRecording(), 5000);
    QCOMPARE(rig.station.mode(), WorkingMode::Automatic);
    QVERIFY(!rig.station.isRetrying());
    QVERIFY(!rig.station.isStale());
    QCOMPARE(notices(notice),
             (QList<Notice>{Notice::GatewayLostWhileRecording, Notice::GatewayBack}));
    QCOMPARE(stale.size(), 2);
}

// With the lost-request switch on, a gateway that stays connected but answers nothing ends
// recording after five requests; it comes back when the gateway answers again.
void TestStation::unansweredRequestsEndRecordingAndComeBack()
{
    StationRig rig({{"Start/RecAuto", "1"}, {"Frame/Lost", "1"}});
    QSignalSpy notice(&rig.station, &Station::notice);
    rig.station.start();
    rig.station.poller().clock().stop();
    rig.station.poller().tick();
    QTRY_VERIFY(!rig.station.poller().isFirstRequestDue());

    sim::Faults silent;
    silent.silent = true;
    rig.simulator.setFaults(silent);
    for (int i = 0; i <= Poller::kLostLimit && rig.station.isRecording(); ++i) {
        rig.tickThroughInterval();
        QTest::qWait(20); // the request leaves on the event loop
    }
    QVERIFY(!rig.station.isRecording());
    QCOMPARE(rig.station.mode(), WorkingMode::Manual);
    QVERIFY(rig.station.isRetrying());
    QCOMPARE(notices(notice), QList<Notice>{Notice::GatewayLostWhileRecording});

    rig.simulator.setFaults({});
    QTRY_VERIFY_WITH_TIMEOUT(rig.station.isRecording(), 5000);
    QCOMPARE(rig.station.mode(), WorkingMode::Automatic);
    QCOMPARE(notices(notice).last(), Notice::GatewayBack);
}

// Under the ST interface the keep-alive reconnects by itself: recording comes back with the
// first reading the gateway pushes again.
void TestStation::stInterfaceRecordingComesBackWithTheNextReading()
{
    StationRig rig({{"Option/Interface", "1"}, {"Start/RecAuto", "1"}});
    sim::Options options = rig.simulator.options();
    options.stPush = true;
    options.stPushIntervalMs = 50;
    rig.simulator.setOptions(options);
    rig.simulator.close();
    QSignalSpy notice(&rig.station, &Station::notice);
    rig.station.start();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.station.isRecording(), 5000);
    QCOMPARE(rig.station.mode(), WorkingMode::StInterface);
    QVERIFY(rig.station.isRetrying());
    QVERIFY(!rig.station.retryTimer().isActive()); // the keep-alive asks instead
    QCOMPARE(notices(notice), QList<Notice>{Notice::GatewayLostWhileRecording});

    QVERIFY(rig.simulator.listen(rig.port));
    QTRY_VERIFY_WITH_TIMEOUT(rig.station.isRecording(), 10000);
    QCOMPARE(rig.station.mode(), WorkingMode::StInterface);
    QCOMPARE(notices(notice).last(), Notice::GatewayBack);
    QTRY_VERIFY(rig.rows() >= 1);
}

// The user decides: starting or stopping anything ends the retry.
void TestStation::whatTheUserStartsEndsTheRetry()
{
    StationRig rig({{"Start/RecAuto", "1"}});
    rig.simulator.close();
    rig.station.start();
    rig.station.poller().clock().stop();
    rig.station.poller().tick();
    QTRY_VERIFY(rig.station.isRetrying());
    rig.station.stopRecording();
    QVERIFY(!rig.station.isRetrying());
    QVERIFY(!rig.station.retryTimer().isActive());

    QVERIFY(rig.simulator.listen(rig.port));
    QTest::qWait(300); // longer than any retry would wait
    QVERIFY(!rig.station.isRecording());
    QCOMPARE(rig.station.mode(), WorkingMode::Manual);
}

void TestStation::refusedPasswordIsNeverRetried()
{
    StationRig rig({{"Start/RecAuto", "1"},
                    {"Option/ServerPWD", scramblePassword(QStringLiteral("Powerlog2025"), 3)}});
    sim::Options options = rig.simulator.options();
    options.auth = sim::Auth::HmacSha256;
    options.password = QStringLiteral("Powerlog2024");
    rig.simulator.setOptions(options);
    QSignalSpy notice(&rig.station, &Station::notice);
    rig.station.start();
    rig.station.poller().clock().stop();
    rig.station.poller().tick();
    QTRY_VERIFY(!rig.station.isAutomatic());
    QVERIFY(!rig.station.isRetrying());
    QVERIFY(!rig.station.retryTimer().isActive());
    QCOMPARE(notices(notice), QList<Notice>{Notice::PasswordRefused});
    QTest::qWait(300); // longer than any retry would wait
    QCOMPARE(rig.simulator.refusedPasswords(), 1);
}

// A gateway that takes the connection but never greets: the request ends with no session and
// the tray no longer says that a reading is on its way.
void TestStation::refreshThatGetsNoSessionLeavesNoBusyTray()
{
    StationRig rig;
    sim::Faults faults;
    faults.noGreeting = true;
    rig.simulator.setFaults(faults);
    rig.station.start();
    QSignalSpy levels(&rig.station, &Station::trayLevelChanged);
    rig.station.refreshNow();
    QCOMPARE(rig.station.trayLevel(), kTrayBusy);
    QTRY_COMPARE_WITH_TIMEOUT(rig.station.trayLevel(), kTrayNoLink, 5000);
}

// A polled reading answered at once leaves the tray's picture alone when its level stays the
// same; one that keeps the user waiting shows the wait.
void TestStation::promptReadingsLeaveTheTrayAlone()
{
    StationRig rig({{"Start/Auto", "1"}});
    rig.simulator.setReading(QStringLiteral("231"), QStringLiteral("4"), QStringLiteral("925"),
                             QStringLiteral("1500.5"));
    QSignalSpy readings(&rig.station, &Station::readingArrived);
    rig.station.start();
    rig.station.poller().clock().stop();
    rig.station.poller().tick(); // the first request of the run
    QTRY_COMPARE(readings.size(), 1);
    const int level = rig.station.trayLevel();
    QVERIFY(level >= 1 && level <= 9);
    QSignalSpy levels(&rig.station, &Station::trayLevelChanged);
    for (int reading = 2; reading <= 3; ++reading) {
        rig.tickThroughInterval();
        QTRY_COMPARE(readings.size(), reading);
    }
    QTest::qWait(700); // past the wait after which the tray would show a reading on its way
    QVERIFY(levels.isEmpty());
    QCOMPARE(rig.station.trayLevel(), level);

    sim::Faults faults;
    faults.silent = true;
    rig.simulator.setFaults(faults);
    rig.tickThroughInterval();
    QTRY_COMPARE(rig.station.trayLevel(), kTrayBusy);
}

void TestStation::settingsApplyAtOnce()
{
    StationRig rig({{"Start/Auto", "1"}});
    rig.station.start();
    QVERIFY(rig.settings.set(Setting::RefreshSeconds, 60));
    QCOMPARE(rig.station.poller().refreshSeconds(), 60);

    QSignalSpy modes(&rig.station, &Station::modeChanged);
    QVERIFY(rig.settings.set(Setting::StInterface, true));
    QCOMPARE(rig.station.mode(), WorkingMode::StInterface);
    QVERIFY(!rig.station.isAutomatic());
    QVERIFY(rig.station.keepAliveTimer().isActive());
    QCOMPARE(modes.last().first().value<WorkingMode>(), WorkingMode::StInterface);
    // The ST interface's session opens as an event session.
    QTRY_VERIFY_WITH_TIMEOUT(rig.simulator.receivedFrames().contains(QStringLiteral("*99*1##")),
                             5000);

    QVERIFY(rig.settings.set(Setting::StInterface, false));
    QCOMPARE(rig.station.mode(), WorkingMode::Manual);
}

void TestStation::shutdownWritesWhatIsQueued()
{
    StationRig rig;
    rig.station.start();
    rig.station.startRecording();
    rig.station.poller().clock().stop();
    for (int i = 0; i < 50; ++i)
        rig.station.meter().takeFrame(QStringLiteral("*#3*10*0*230*4*920*152##"));
    QSignalSpy down(&rig.station, &Station::shutDown);
    rig.station.shutdown();
    rig.station.shutdown();
    QCOMPARE(down.size(), 1);
    QVERIFY(rig.station.isClosing());
    QCOMPARE(rig.rows(), 50);
}

// [Meter] Source=meter: the readings come from the meter at 51, the totalizer as E in kWh and no
// tension or current; the refused load-status request leaves the loads unseen and automatic
// mode running.
void TestStation::energyMeterReadingsAreRecordedWithoutTheCentralUnit()
{
    StationRig rig({{"Meter/Source", "meter"}, {"Meter/Where", "51"}, {"Start/RecAuto", "1"}});
    withMeterOnly(rig.simulator);
    QSignalSpy readings(&rig.station, &Station::readingArrived);
    QSignalSpy noticesHeard(&rig.station, &Station::notice);
    QSignalSpy linkStates(&rig.station, &Station::linkStateChanged);
    rig.station.start();
    QVERIFY(rig.station.meterFeed());
    rig.station.poller().clock().stop();
    rig.station.poller().tick(); // the first request of the run
    QTRY_VERIFY(!readings.isEmpty());
    QCOMPARE(rig.station.mode(), WorkingMode::Automatic);
    // The monitor session opened: the meter pushes its power for ten minutes.
    QTRY_COMPARE(rig.simulator.metersUpdating(), QList<int>{1});
    QVERIFY(rig.simulator.receivedFrames().contains(QStringLiteral("*#18*51*#1200#1*10##")));
    QVERIFY(rig.station.meterFeed()->renewalTimer().isActive());
    QTRY_VERIFY(rig.simulator.receivedFrames().contains(QStringLiteral("*#3##")));
    // A monitor session the gateway closed opens again, and asks the updates again.
    rig.simulator.clearReceivedFrames();
    rig.simulator.recycleEventSessions();
    QTRY_VERIFY_WITH_TIMEOUT(
        rig.simulator.receivedFrames().contains(QStringLiteral("*#18*51*#1200#1*10##")), 5000);

    // The power the meter pushes becomes readings between the polls, and they are recorded.
    QTRY_VERIFY_WITH_TIMEOUT(readings.size() >= 3, 5000);
    // With updates heard during the interval, the poller asks only the totalizer.
    rig.simulator.clearReceivedFrames();
    rig.tickThroughInterval();
    QTRY_VERIFY(rig.simulator.receivedFrames().contains(QStringLiteral("*#18*51*51##")));
    QVERIFY(!rig.simulator.receivedFrames().contains(QStringLiteral("*#18*51*113##")));
    QVERIFY(!rig.simulator.receivedFrames().contains(QStringLiteral("*#3*10*0##")));

    QTRY_VERIFY(rig.rows() >= 3);
    const auto last = readings.last().first().value<Reading>();
    QVERIFY(last.V.isEmpty());
    QVERIFY(last.A.isEmpty());
    QVERIFY(rig.station.meterFeed()->totalizerWh());
    SqlFile file(rig.dir.filePath(EnergyDatabase::kFileName));
    QCOMPARE(file.value(QStringLiteral("SELECT count(*) FROM Energy WHERE V IS NOT NULL OR "
                                       "a IS NOT NULL OR e IS NULL OR e <= 0"))
                 .toInt(),
             0);

    QCOMPARE(rig.station.mode(), WorkingMode::Automatic);
    QVERIFY(rig.station.isRecording());
    QVERIFY(!rig.station.isRetrying());
    QVERIFY(noticesHeard.isEmpty());
    for (int i = 0; i < LoadStates::kLoadCount; ++i)
        QCOMPARE(rig.station.loads().state(i), LoadState::Unseen);
    // Without a load-control unit the loads stay unknown, and its refused frames are no link
    // error.
    QVERIFY(rig.station.isLoadControlMissing());
    for (const QList<QVariant>& state : linkStates)
        QVERIFY(state.at(1).value<LinkState>() != LinkState::FrameNotAcknowledged);
}

// Once the monitor session is open, the meter's own history of the past days is fetched in the
// background while live readings go on: a day three days back then counts its 24 hours as the
// meter reported them.
void TestStation::energyMeterHistoryFillsThePastDays()
{
    StationRig rig({{"Meter/Source", "meter"}, {"Meter/Where", "51"}, {"Start/RecAuto", "1"}});
    withMeterOnly(rig.simulator);
    rig.simulator.setClock([&rig] { return rig.clock.time; });
    QSignalSpy readings(&rig.station, &Station::readingArrived);
    rig.station.start();
    QVERIFY(rig.station.meterHistory());
    rig.station.poller().clock().stop();
    rig.station.poller().tick();
    QTRY_VERIFY(!readings.isEmpty());

    const QDate threeDaysBack = rig.clock.time.date().addDays(-3);
    const QString hours =
        QStringLiteral("SELECT count(*) FROM EnergyMeterHour WHERE Hour LIKE '%1%'")
            .arg(threeDaysBack.toString(Qt::ISODate));
    QTRY_COMPARE_WITH_TIMEOUT(
        SqlFile(rig.dir.filePath(EnergyDatabase::kFileName)).value(hours).toInt(), 24, 20000);
    const qsizetype readingsSoFar = readings.size();
    QTRY_VERIFY(readings.size() > readingsSoFar); // the pushed power still arrives

    SqlFile read(rig.dir.filePath(EnergyDatabase::kFileName));
    ReadError error;
    const auto day = EnergyQueries(read.db()).table(EnergyPeriod::Daily, threeDaysBack, &error);
    QVERIFY2(day, qPrintable(error.description));
    QCOMPARE(day->total().coveredSeconds, qint64(24 * 3600));
    QVERIFY(day->total().kwh() > 0);
    QCOMPARE(rig.station.mode(), WorkingMode::Automatic);
}

// Source and address follow the settings at once: the poller asks the meter, another meter, or
// the central unit again.
void TestStation::meterSourceAppliesAtOnce()
{
    StationRig rig({{"Start/Auto", "1"}});
    withMeterOnly(rig.simulator);
    rig.station.start();
    QVERIFY(!rig.station.meterFeed());
    rig.station.poller().clock().stop();

    QVERIFY(rig.settings.set(Setting::MeterSource, QStringLiteral("meter")));
    QVERIFY(rig.station.meterFeed());
    QCOMPARE(rig.station.meterFeed()->where(), QStringLiteral("51"));
    QVERIFY(rig.settings.set(Setting::MeterWhere, QStringLiteral("52")));
    QCOMPARE(rig.station.meterFeed()->where(), QStringLiteral("52"));
    rig.station.refreshNow();
    QTRY_VERIFY(rig.simulator.receivedFrames().contains(QStringLiteral("*#18*52*113##")));

    QTRY_VERIFY(rig.station.isLoadControlMissing());

    QSignalSpy missing(&rig.station, &Station::loadControlMissingChanged);
    QVERIFY(rig.settings.set(Setting::MeterSource, QStringLiteral("central")));
    QVERIFY(!rig.station.meterFeed());
    QVERIFY(!rig.station.isLoadControlMissing());
    QCOMPARE(missing.size(), 1);
    rig.simulator.clearReceivedFrames();
    rig.station.refreshNow();
    QTRY_VERIFY(rig.simulator.receivedFrames().contains(QStringLiteral("*#3*10*0##")));
    QVERIFY(!rig.simulator.receivedFrames().contains(QStringLiteral("*#18*52*113##")));
}

// One writer per database: a station beside one that records into the same file gets every
// reading of its own gateway and writes none of them; once the first stops recording, the
// second takes over at its next reading.
void TestStation::secondStationBesideARecorderRecordsNothing()
{
    StationRig rig({{"Start/RecAuto", "1"}});
    rig.simulator.setReading("231", "4", "925", "1500.5");
    rig.station.start();
    rig.station.poller().clock().stop();
    rig.station.poller().tick();
    QTRY_COMPARE(rig.rows(), 1);
    QVERIFY(rig.station.recorderLock().isHeld());
    QVERIFY(!rig.station.isRecordingElsewhere());
    QVERIFY(QFile::exists(rig.dir.filePath(QStringLiteral("DbEnergy.mdb.lock"))));

    // The second station asks a gateway of its own, whose readings are told apart by their power.
    sim::GatewaySimulator otherGateway;
    QVERIFY(otherGateway.listen(0));
    otherGateway.setReading("229", "1", "111", "42");
    QTemporaryDir configDir;
    SettingsStore otherStore(configDir.filePath(QStringLiteral("settings.ini")));
    writeStoredSettings(otherStore, otherGateway.port(), {{"Start/RecAuto", "1"}});
    Settings otherSettings(otherStore);
    Station second(otherSettings, rig.clock, rig.options());
    QSignalSpy elsewhere(&second, &Station::recordingElsewhereChanged);
    QSignalSpy readings(&second, &Station::readingArrived);
    second.start();
    second.poller().clock().stop();
    QVERIFY(second.isRecording());
    const auto rowsOf111 = [&rig] {
        rig.rows();
        return SqlFile(rig.dir.filePath(EnergyDatabase::kFileName))
            .value(QStringLiteral("SELECT count(*) FROM Energy WHERE W = 111"))
            .toInt();
    };
    for (int i = 1; i <= 3; ++i) {
        if (i == 1)
            second.poller().tick();
        else
            second.refreshNow();
        QTRY_COMPARE(readings.size(), i);
    }
    QVERIFY(second.isRecordingElsewhere());
    QVERIFY(second.isRecording()); // the user's switch stays as it is
    QCOMPARE(elsewhere.size(), 1);
    QVERIFY(settle(second.database()));
    QCOMPARE(rowsOf111(), 0);
    QCOMPARE(rig.rows(), 1);

    // The recorder stops: its lock goes once what it queued is written, and the next reading
    // of the second station is recorded.
    rig.station.stopRecording();
    QTRY_VERIFY(!rig.station.recorderLock().isHeld());
    second.refreshNow();
    QTRY_COMPARE(readings.size(), 4);
    QVERIFY(!second.isRecordingElsewhere());
    QCOMPARE(elsewhere.size(), 2);
    QVERIFY(settle(second.database()));
    QCOMPARE(rowsOf111(), 1);
    QVERIFY(second.recorderLock().isHeld());

    // Recording stopped by the user: the lock goes, and nothing is recorded elsewhere either.
    second.stopRecording();
    QVERIFY(!second.isRecordingElsewhere());
    QTRY_VERIFY(!second.recorderLock().isHeld());
}

// A lock file left by a process that no longer runs does not keep the station from recording.
void TestStation::staleRecorderLockIsTakenOver()
{
    StationRig rig({{"Start/RecAuto", "1"}});
    QProcess gone;
    gone.start(QStringLiteral("true"));
    QVERIFY(gone.waitForStarted(10000));
    const qint64 deadPid = gone.processId();
    QVERIFY(gone.waitForFinished(10000));
    QFile lock(RecorderLock::lockPathFor(rig.dir.filePath(EnergyDatabase::kFileName)));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(deadPid) + "\npowerlogd\n" +
               QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();

    rig.station.start();
    rig.station.poller().clock().stop();
    rig.station.poller().tick();
    QTRY_COMPARE(rig.rows(), 1);
    QVERIFY(rig.station.recorderLock().isHeld());
    QVERIFY(!rig.station.isRecordingElsewhere());
}

QTEST_MAIN(TestStation)
#include "test_station.moc"
