// The station's readings and load states reaching an MQTT broker: a simulated gateway and a
// mosquitto broker on 127.0.0.1, and the database beside them.

#include "acquisition/energydatabase.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "controller/station.h"
#include "simulator/gatewaysimulator.h"
#include "support/mqttbroker.h"
#include "support/recorders.h"
#include "support/sqlfile.h"
#include "support/storedsettings.h"
#include "support/timings.h"
#include "support/writersettle.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace powerlog;
using namespace powerlog::test;

namespace {

constexpr int kWaitMs = 10000;

// A recording station whose readings go to a broker at 127.0.0.1:`brokerPort`.
struct Rig
{
    explicit Rig(quint16 brokerPort, QHash<QString, QString> stored = {})
        : written(write(brokerPort, std::move(stored))), station(settings, clock, options())
    {
        EnergyDatabase::createEmpty(dir.filePath(EnergyDatabase::kFileName));
    }

    StationOptions options() const
    {
        StationOptions o;
        o.programFolder = dir.path();
        o.timings = fastTimings();
        return o;
    }

    bool write(quint16 brokerPort, QHash<QString, QString> stored)
    {
        simulator.listen(0);
        stored.insert(QStringLiteral("Start/RecAuto"), QStringLiteral("1"));
        stored.insert(QStringLiteral("Mqtt/Host"), QStringLiteral("127.0.0.1"));
        stored.insert(QStringLiteral("Mqtt/Port"), QString::number(brokerPort));
        writeStoredSettings(store, simulator.port(), stored);
        return true;
    }

    // The first request of the run, by hand.
    void takeReading()
    {
        station.poller().clock().stop();
        station.poller().tick();
    }

    int rows()
    {
        settle(station.database());
        return SqlFile(dir.filePath(EnergyDatabase::kFileName)).rows();
    }

    QString base() const { return QStringLiteral("powerlog/powerlog_127_0_0_1_central"); }

    QTemporaryDir dir;
    sim::GatewaySimulator simulator;
    SettingsStore store{dir.filePath(QStringLiteral("settings.ini"))};
    bool written;
    Settings settings{store};
    FixedClock clock;
    Station station;
};

} // namespace

class TestStationMqtt : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void readingsArePublishedAndRecorded_data();
    void readingsArePublishedAndRecorded();
    void loadStatesAndCommands();
    void settingsApplyAtOnce();
    void onlyTheRecorderPublishes();
};

void TestStationMqtt::init()
{
    if (!hasMosquitto())
        QSKIP("No mosquitto broker at /usr/sbin/mosquitto (apt-get install mosquitto)");
}

void TestStationMqtt::readingsArePublishedAndRecorded_data()
{
    QTest::addColumn<bool>("brokerUp");
    QTest::newRow("broker up") << true;
    QTest::newRow("broker down") << false;
}

// Whatever the broker does, every reading is recorded.
void TestStationMqtt::readingsArePublishedAndRecorded()
{
    QFETCH(bool, brokerUp);
    MosquittoBroker broker;
    std::unique_ptr<MqttWatcher> watcher;
    if (brokerUp) {
        QVERIFY(broker.start());
        watcher = std::make_unique<MqttWatcher>(broker.port());
        QVERIFY(watcher->waitSubscribed());
    }
    Rig rig(broker.port());
    rig.simulator.setReading("231", "4", "925", "1500.5");
    QSignalSpy readings(&rig.station, &Station::readingArrived);
    rig.station.start();
    const MqttState state = brokerUp ? MqttState::Connected : MqttState::Waiting;
    QTRY_COMPARE_WITH_TIMEOUT(rig.station.mqtt().state(), state, kWaitMs);
    rig.takeReading();
    QTRY_COMPARE(readings.size(), 1);
    QTRY_COMPARE(rig.rows(), 1);
    if (brokerUp) {
        QTRY_COMPARE_WITH_TIMEOUT(watcher->payloads(rig.base() + "/state").size(), 1, kWaitMs);
        const QJsonObject published =
            QJsonDocument::fromJson(watcher->payloads(rig.base() + "/state").first()).object();
        QCOMPARE(published.value(u"power").toInt(), 925);
        QCOMPARE(published.value(u"energy").toDouble(), 1500.5);
        QCOMPARE(published.value(u"voltage").toDouble(), 231.0);
    }
    rig.station.shutdown();
    if (brokerUp) {
        QTRY_COMPARE_WITH_TIMEOUT(watcher->payloads(rig.base() + "/status"),
                                  (QList<QByteArray>{"online", "offline"}), kWaitMs);
    }
}

// A load the central unit switched off shows on its topic; a command from the broker, when
// allowed, brings it back as a click on its icon does.
void TestStationMqtt::loadStatesAndCommands()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttWatcher watcher(broker.port());
    QVERIFY(watcher.waitSubscribed());
    Rig rig(broker.port(), {{QStringLiteral("Mqtt/AllowCommands"), QStringLiteral("1")}});
    rig.simulator.setLoadState(3, 0);
    rig.station.start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.station.mqtt().state(), MqttState::Connected, kWaitMs);
    rig.takeReading();
    QTRY_VERIFY_WITH_TIMEOUT(rig.station.monitorSession().isConnected(), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(rig.base() + "/load3"), QList<QByteArray>{"ON"},
                              kWaitMs);

    QTRY_VERIFY_WITH_TIMEOUT(broker.log().contains(QStringLiteral("/+/set")), kWaitMs);
    watcher.publish(rig.base() + "/load3/set", "OFF");
    QTRY_VERIFY_WITH_TIMEOUT(rig.simulator.receivedFrames().contains(QStringLiteral("*3*2*#3##")),
                             kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(rig.base() + "/load3").last(), "OFF", kWaitMs);
}

void TestStationMqtt::settingsApplyAtOnce()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttWatcher watcher(broker.port());
    QVERIFY(watcher.waitSubscribed());
    Rig rig(broker.port(), {{QStringLiteral("Mqtt/Host"), QString()}});
    rig.station.start();
    QCOMPARE(rig.station.mqtt().state(), MqttState::Off);

    QVERIFY(rig.settings.set(Setting::MqttHost, QStringLiteral("127.0.0.1")));
    QTRY_COMPARE_WITH_TIMEOUT(rig.station.mqtt().state(), MqttState::Connected, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(rig.base() + "/status"), QList<QByteArray>{"online"},
                              kWaitMs);

    // Another source of readings is another device.
    QVERIFY(rig.settings.set(Setting::MeterSource, QStringLiteral("meter")));
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(rig.base() + "/status"),
                              (QList<QByteArray>{"online", "offline"}), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(
        watcher.payloads(QStringLiteral("powerlog/powerlog_127_0_0_1_meter_51/status")),
        QList<QByteArray>{"online"}, kWaitMs);

    QVERIFY(rig.settings.set(Setting::MqttHost, QString()));
    QTRY_COMPARE_WITH_TIMEOUT(rig.station.mqtt().state(), MqttState::Off, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(
        watcher.payloads(QStringLiteral("powerlog/powerlog_127_0_0_1_meter_51/status")),
        (QList<QByteArray>{"online", "offline"}), kWaitMs);
}

// A second program beside the recorder, recording or only watching, stands by: each reading is
// published once, and its end does not take the device offline.
void TestStationMqtt::onlyTheRecorderPublishes()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttWatcher watcher(broker.port());
    QVERIFY(watcher.waitSubscribed());
    Rig rig(broker.port());
    rig.station.start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.station.mqtt().state(), MqttState::Connected, kWaitMs);
    rig.takeReading();
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(rig.base() + "/state").size(), 1, kWaitMs);

    for (const bool recording : {true, false}) {
        Station beside(rig.settings, rig.clock, rig.options());
        QSignalSpy readings(&beside, &Station::readingArrived);
        beside.start();
        if (!recording)
            beside.stopRecording();
        beside.poller().clock().stop();
        beside.poller().tick();
        QTRY_COMPARE_WITH_TIMEOUT(readings.size(), 1, kWaitMs);
        QTRY_VERIFY(beside.isRecordingElsewhere());
        QTRY_COMPARE_WITH_TIMEOUT(beside.mqtt().state(), MqttState::Off, kWaitMs);
        beside.shutdown();
    }
    QCOMPARE(rig.rows(), 1);
    rig.station.refreshNow();
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(rig.base() + "/state").size(), 2, kWaitMs);
    QTest::qWait(500);
    QCOMPARE(watcher.payloads(rig.base() + "/state").size(), 2);
    // No recorder beside connected at all: a connection dropped halfway would leave the will.
    QCOMPARE(broker.log().count(QStringLiteral("Will message specified")), 1);
    QVERIFY(!watcher.payloads(rig.base() + "/status").contains("offline"));
    QCOMPARE(rig.station.mqtt().state(), MqttState::Connected);
}

QTEST_GUILESS_MAIN(TestStationMqtt)
#include "test_stationmqtt.moc"
