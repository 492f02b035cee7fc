// The MQTT publisher against a real mosquitto broker on 127.0.0.1: what Home Assistant finds,
// the readings, the last will, a broker that comes late or restarts, a refused password, TLS
// and the load commands.

#include "acquisition/mqttpublisher.h"
#include "app/version.h"
#include "support/mqttbroker.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace powerlog;
using namespace powerlog::test;

namespace {

constexpr int kWaitMs = 10000;

MqttConfig testConfig(quint16 port)
{
    MqttConfig config;
    config.host = QStringLiteral("127.0.0.1");
    config.port = port;
    config.deviceId = QStringLiteral("powerlog_127_0_0_1_central");
    config.deviceName = QStringLiteral("Powerlog 127.0.0.1");
    config.model = QStringLiteral("Load-control central unit");
    config.loadNames = {QStringLiteral("Oven"), QStringLiteral("Washer")};
    config.retryFirstMs = 50;
    config.retryLimitMs = 400;
    return config;
}

Reading fullReading()
{
    Reading reading;
    reading.V = QStringLiteral("231");
    reading.A = QStringLiteral("4.2");
    reading.W = QStringLiteral("925");
    reading.E = QStringLiteral("1500.5");
    reading.power = 925;
    reading.energy = 1500.5;
    reading.time = QDateTime(QDate(2026, 3, 14), QTime(15, 9, 26), Qt::OffsetFromUTC, 3600);
    return reading;
}

Reading meterReading()
{
    Reading reading = fullReading();
    reading.V.clear();
    reading.A.clear();
    reading.lineMeasured = false;
    return reading;
}

QJsonObject json(const QByteArray& payload)
{
    return QJsonDocument::fromJson(payload).object();
}

int count(const QSignalSpy& spy, MqttState state)
{
    int n = 0;
    for (const auto& args : spy)
        n += args.at(0).value<MqttState>() == state;
    return n;
}

} // namespace

class TestMqttPublisher : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void deviceIds_data();
    void deviceIds();
    void readingPayloads_data();
    void readingPayloads();
    void announcesItselfAndPublishesEachReading();
    void noDiscoveryWhenTurnedOff();
    void cutConnectionLeavesTheLastWill();
    void orderlyEndSaysOffline();
    void brokerThatComesLateOrRestarts();
    void passwords_data();
    void passwords();
    void tls_data();
    void tls();
    void caFileThatCannotBeReadIsUnusable();
    void loadCommands_data();
    void loadCommands();
    void noHostIsOff();
};

void TestMqttPublisher::init()
{
    const QByteArray function = QTest::currentTestFunction();
    if (!function.startsWith("deviceIds") && !function.startsWith("readingPayloads") &&
        !function.startsWith("noHost") && !hasMosquitto())
        QSKIP("No mosquitto broker at /usr/sbin/mosquitto (apt-get install mosquitto)");
}

void TestMqttPublisher::deviceIds_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("id");
    QTest::newRow("central unit") << "192.168.1.35"
                                  << "central"
                                  << "51"
                                  << "powerlog_192_168_1_35_central";
    QTest::newRow("energy meter") << "192.168.1.35"
                                  << "meter"
                                  << "52"
                                  << "powerlog_192_168_1_35_meter_52";
    QTest::newRow("host name") << "Gateway-Home.local"
                               << "central"
                               << "51"
                               << "powerlog_gateway_home_local_central";
}

void TestMqttPublisher::deviceIds()
{
    QFETCH(QString, address);
    QFETCH(QString, source);
    QFETCH(QString, where);
    QTEST(mqttDeviceId(address, source, where), "id");
}

void TestMqttPublisher::readingPayloads_data()
{
    QTest::addColumn<Reading>("reading");
    QTest::addColumn<QStringList>("fields");

    QTest::newRow("central unit") << fullReading()
                                  << QStringList{"current", "energy", "power", "time", "voltage"};
    QTest::newRow("energy meter: no tension nor current")
        << meterReading() << QStringList{"energy", "power", "time"};
    Reading powerOnly = fullReading();
    powerOnly.kind = Reading::Kind::PowerOnly;
    QTest::newRow("power alone") << powerOnly << QStringList{"power", "time"};
    Reading unreadable = fullReading();
    unreadable.V = QStringLiteral("2,31");
    unreadable.power.reset();
    QTest::newRow("values that are no numbers are left out")
        << unreadable << QStringList{"current", "energy", "time"};
}

void TestMqttPublisher::readingPayloads()
{
    QFETCH(Reading, reading);
    QFETCH(QStringList, fields);
    const QJsonObject state = json(mqttReadingPayload(reading));
    QCOMPARE(state.keys(), fields);
    if (state.contains(u"power"))
        QCOMPARE(state.value(u"power").toInt(), 925);
    if (state.contains(u"voltage"))
        QCOMPARE(state.value(u"voltage").toDouble(), 231.0);
    if (state.contains(u"current"))
        QCOMPARE(state.value(u"current").toDouble(), 4.2);
    if (state.contains(u"energy"))
        QCOMPARE(state.value(u"energy").toDouble(), 1500.5);
    QCOMPARE(state.value(u"time").toString(), QStringLiteral("2026-03-14T15:09:26+01:00"));
}

void TestMqttPublisher::announcesItselfAndPublishesEachReading()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttWatcher watcher(broker.port());
    QVERIFY(watcher.waitSubscribed());

    MqttPublisher publisher;
    const MqttConfig config = testConfig(broker.port());
    publisher.publishLoad(0, LoadState::Off); // known before the connection
    publisher.configure(config);
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttState::Connected, kWaitMs);
    const QString base = QStringLiteral("powerlog/powerlog_127_0_0_1_central");
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(base + "/status"), QList<QByteArray>{"online"},
                              kWaitMs);

    publisher.publishReading(fullReading());
    publisher.publishReading(meterReading());
    publisher.publishLoad(1, LoadState::On);
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(base + "/state").size(), 2, kWaitMs);
    const QList<QByteArray> states = watcher.payloads(base + "/state");
    QCOMPARE(json(states.at(0)).keys(),
             (QStringList{"current", "energy", "power", "time", "voltage"}));
    QCOMPARE(json(states.at(1)).keys(), (QStringList{"energy", "power", "time"}));
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(base + "/load2"), QList<QByteArray>{"OFF"}, kWaitMs);

    // A client that comes later finds what is retained: the status, the discovery configs
    // and the loads' states; readings are not retained.
    MqttWatcher late(broker.port());
    QVERIFY(late.waitSubscribed());
    QTRY_COMPARE_WITH_TIMEOUT(late.messages().size(), 1 + 4 + 8 + 2, kWaitMs);
    for (const WatchedMessage& message : late.messages())
        QVERIFY2(message.retained, qPrintable(message.topic));
    QCOMPARE(late.payloads(base + "/status"), QList<QByteArray>{"online"});
    QCOMPARE(late.payloads(base + "/load1"), QList<QByteArray>{"ON"});
    QCOMPARE(late.payloads(base + "/load2"), QList<QByteArray>{"OFF"});
    QVERIFY(late.payloads(base + "/state").isEmpty());

    const QString sensors = QStringLiteral("homeassistant/sensor/powerlog_127_0_0_1_central_");
    const QJsonObject power = json(late.payloads(sensors + "power/config").value(0));
    QCOMPARE(power.value(u"device_class").toString(), "power");
    QCOMPARE(power.value(u"unit_of_measurement").toString(), "W");
    QCOMPARE(power.value(u"state_class").toString(), "measurement");
    QCOMPARE(power.value(u"unique_id").toString(), "powerlog_127_0_0_1_central_power");
    QCOMPARE(power.value(u"state_topic").toString(), base + "/state");
    QCOMPARE(power.value(u"value_template").toString(), "{{ value_json.power }}");
    QCOMPARE(power.value(u"availability_topic").toString(), base + "/status");
    const QJsonObject device = power.value(u"device").toObject();
    QCOMPARE(device.value(u"identifiers").toArray(), QJsonArray{"powerlog_127_0_0_1_central"});
    QCOMPARE(device.value(u"sw_version").toString(), versionText());
    QCOMPARE(device.value(u"manufacturer").toString(), "Powerlog");
    QCOMPARE(device.value(u"name").toString(), "Powerlog 127.0.0.1");
    QCOMPARE(device.value(u"model").toString(), "Load-control central unit");

    const QJsonObject energy = json(late.payloads(sensors + "energy/config").value(0));
    QCOMPARE(energy.value(u"device_class").toString(), "energy");
    QCOMPARE(energy.value(u"unit_of_measurement").toString(), "kWh");
    QCOMPARE(energy.value(u"state_class").toString(), "total_increasing");
    QCOMPARE(energy.value(u"value_template").toString(), "{{ value_json.energy }}");
    QCOMPARE(json(late.payloads(sensors + "voltage/config").value(0))
                 .value(u"unit_of_measurement")
                 .toString(),
             "V");
    QCOMPARE(json(late.payloads(sensors + "current/config").value(0))
                 .value(u"unit_of_measurement")
                 .toString(),
             "A");

    const QString loads = QStringLiteral("homeassistant/binary_sensor/powerlog_127_0_0_1_central_");
    const QJsonObject oven = json(late.payloads(loads + "load1/config").value(0));
    QCOMPARE(oven.value(u"name").toString(), "Oven");
    QCOMPARE(oven.value(u"state_topic").toString(), base + "/load1");
    QCOMPARE(oven.value(u"unique_id").toString(), "powerlog_127_0_0_1_central_load1");
    QCOMPARE(oven.value(u"availability_topic").toString(), base + "/status");
    QCOMPARE(oven.value(u"device").toObject(), device);
    // load.ini names no eighth load.
    QCOMPARE(json(late.payloads(loads + "load8/config").value(0)).value(u"name").toString(),
             "Load 8");
}

// Without discovery the device's own topics are all there is.
void TestMqttPublisher::noDiscoveryWhenTurnedOff()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttPublisher publisher;
    MqttConfig config = testConfig(broker.port());
    config.discovery = false;
    publisher.configure(config);
    publisher.publishLoad(0, LoadState::Off);
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttState::Connected, kWaitMs);
    publisher.publishReading(fullReading());

    MqttWatcher watcher(broker.port());
    QVERIFY(watcher.waitSubscribed());
    const QString base = QStringLiteral("powerlog/powerlog_127_0_0_1_central");
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(base + "/load1"), QList<QByteArray>{"ON"}, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(base + "/status"), QList<QByteArray>{"online"},
                              kWaitMs);
    QCOMPARE(watcher.messages().size(), 2);
}

// The connection dropped with no goodbye, as a network that fails does: the broker sends the
// last will, and the publisher comes back by itself.
void TestMqttPublisher::cutConnectionLeavesTheLastWill()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttWatcher watcher(broker.port());
    QVERIFY(watcher.waitSubscribed());
    CuttableRelay relay(broker.port());

    MqttPublisher publisher;
    publisher.configure(testConfig(relay.port()));
    const QString status = QStringLiteral("powerlog/powerlog_127_0_0_1_central/status");
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(status), QList<QByteArray>{"online"}, kWaitMs);

    relay.cut();
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(status),
                              (QList<QByteArray>{"online", "offline", "online"}), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttState::Connected, kWaitMs);
}

void TestMqttPublisher::orderlyEndSaysOffline()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttWatcher watcher(broker.port());
    QVERIFY(watcher.waitSubscribed());
    const QString status = QStringLiteral("powerlog/powerlog_127_0_0_1_central/status");
    {
        MqttPublisher publisher;
        publisher.configure(testConfig(broker.port()));
        QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(status), QList<QByteArray>{"online"}, kWaitMs);
    }
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(status), (QList<QByteArray>{"online", "offline"}),
                              kWaitMs);
    // A clean end: the broker has no will to send.
    QTRY_VERIFY_WITH_TIMEOUT(broker.log().contains(QStringLiteral("Received DISCONNECT")), kWaitMs);

    // Turned off in the options: the same.
    watcher.clear();
    MqttPublisher publisher;
    publisher.configure(testConfig(broker.port()));
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(status), QList<QByteArray>{"online"}, kWaitMs);
    publisher.configure({});
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(status), (QList<QByteArray>{"online", "offline"}),
                              kWaitMs);
    QTRY_COMPARE(publisher.state(), MqttState::Off);
}

void TestMqttPublisher::brokerThatComesLateOrRestarts()
{
    MosquittoBroker broker;
    MqttPublisher publisher;
    QSignalSpy states(&publisher, &MqttPublisher::stateChanged);
    QSignalSpy attempts(&publisher, &MqttPublisher::connecting);
    publisher.configure(testConfig(broker.port()));
    QTRY_VERIFY_WITH_TIMEOUT(attempts.size() >= 2, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttState::Waiting, kWaitMs);

    QVERIFY(broker.start());
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttState::Connected, kWaitMs);
    MqttWatcher watcher(broker.port());
    QVERIFY(watcher.waitSubscribed());
    publisher.publishLoad(3, LoadState::Off);
    const QString base = QStringLiteral("powerlog/powerlog_127_0_0_1_central");
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(base + "/load4"), QList<QByteArray>{"ON"}, kWaitMs);

    // Restarted, it has forgotten everything: the publisher announces the device again.
    broker.stop();
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttState::Waiting, kWaitMs);
    watcher.clear();
    QVERIFY(broker.start());
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttState::Connected, kWaitMs);
    QVERIFY(watcher.waitSubscribed(2));
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(base + "/load4"), QList<QByteArray>{"ON"}, kWaitMs);
    // The retained messages reach the watcher as it subscribes again, whichever came first.
    QTRY_VERIFY_WITH_TIMEOUT(watcher.payloads(base + "/status").contains("online"), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(
        !watcher
             .payloads(
                 QStringLiteral("homeassistant/sensor/powerlog_127_0_0_1_central_power/config"))
             .isEmpty(),
        kWaitMs);
    publisher.publishReading(fullReading());
    QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(base + "/state").size(), 1, kWaitMs);
    QCOMPARE(count(states, MqttState::Connected), 2);
}

void TestMqttPublisher::passwords_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<MqttState>("state");
    QTest::newRow("right") << "s3cret!" << MqttState::Connected;
    QTest::newRow("wrong") << "s3cret?" << MqttState::Refused;
}

// A refused password is reported once and not offered again soon: brokers may lock out a
// client that keeps trying.
void TestMqttPublisher::passwords()
{
    QFETCH(QString, password);
    QFETCH(MqttState, state);
    MosquittoBroker broker;
    QVERIFY(broker.requireUser(QStringLiteral("powerlog"), QStringLiteral("s3cret!")));
    QVERIFY(broker.start());
    MqttPublisher publisher;
    QSignalSpy states(&publisher, &MqttPublisher::stateChanged);
    QSignalSpy attempts(&publisher, &MqttPublisher::connecting);
    MqttConfig config = testConfig(broker.port());
    config.user = QStringLiteral("powerlog");
    config.password = password;
    config.retryLimitMs = 60'000;
    publisher.configure(config);
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), state, kWaitMs);
    QTest::qWait(1000); // longer than the first retries would wait
    QCOMPARE(publisher.state(), state);
    QCOMPARE(count(states, state), 1);
    QCOMPARE(attempts.size(), 1);
}

void TestMqttPublisher::tls_data()
{
    QTest::addColumn<bool>("ownCa");
    QTest::addColumn<MqttState>("state");
    QTest::newRow("the test CA") << true << MqttState::Connected;
    // The system's store does not hold the test CA: the broker's certificate is not trusted.
    QTest::newRow("the system's CAs") << false << MqttState::Waiting;
}

void TestMqttPublisher::tls()
{
    QFETCH(bool, ownCa);
    QFETCH(MqttState, state);
    QTemporaryDir dir;
    const std::optional<TestCertificates> files = makeTestCertificates(dir.path());
    QVERIFY(files);
    MosquittoBroker broker;
    broker.useTls(*files);
    QVERIFY(broker.start());
    MqttWatcher watcher(broker.port());
    QVERIFY(watcher.waitSubscribed());

    MqttPublisher publisher;
    QSignalSpy attempts(&publisher, &MqttPublisher::connecting);
    MqttConfig config = testConfig(broker.tlsPort());
    config.tls = true;
    config.caFile = ownCa ? files->caFile : QString();
    publisher.configure(config);
    const QString status = QStringLiteral("powerlog/powerlog_127_0_0_1_central/status");
    if (state == MqttState::Connected) {
        QTRY_COMPARE_WITH_TIMEOUT(watcher.payloads(status), QList<QByteArray>{"online"}, kWaitMs);
        publisher.publishReading(fullReading());
        QTRY_COMPARE_WITH_TIMEOUT(
            watcher.payloads(QStringLiteral("powerlog/powerlog_127_0_0_1_central/state")).size(), 1,
            kWaitMs);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(attempts.size() >= 2, kWaitMs);
        QVERIFY(watcher.payloads(status).isEmpty());
    }
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), state, kWaitMs);
}

// Nothing can connect with it: no attempt is made until the settings change.
void TestMqttPublisher::caFileThatCannotBeReadIsUnusable()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttPublisher publisher;
    QSignalSpy attempts(&publisher, &MqttPublisher::connecting);
    MqttConfig config = testConfig(broker.port());
    config.tls = true;
    config.caFile = QStringLiteral("/nonexistent/ca.crt");
    publisher.configure(config);
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttState::Unusable, kWaitMs);
    QCOMPARE(attempts.size(), 0);

    config.tls = false;
    publisher.configure(config);
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttState::Connected, kWaitMs);
}

void TestMqttPublisher::loadCommands_data()
{
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QList<int>>("restored");
    QTest::newRow("allowed") << true << QByteArray("OFF") << QList<int>{3};
    QTest::newRow("not allowed") << false << QByteArray("OFF") << QList<int>{};
    QTest::newRow("allowed, but no load can be switched off")
        << true << QByteArray("ON") << QList<int>{};
}

void TestMqttPublisher::loadCommands()
{
    QFETCH(bool, allowed);
    QFETCH(QByteArray, payload);
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttWatcher watcher(broker.port());
    QVERIFY(watcher.waitSubscribed());
    MqttPublisher publisher;
    QSignalSpy restores(&publisher, &MqttPublisher::loadRestoreAsked);
    MqttConfig config = testConfig(broker.port());
    config.allowCommands = allowed;
    publisher.configure(config);
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttState::Connected, kWaitMs);
    if (allowed)
        QTRY_VERIFY_WITH_TIMEOUT(broker.log().contains(QStringLiteral("/+/set")), kWaitMs);

    const QString base = QStringLiteral("powerlog/powerlog_127_0_0_1_central");
    watcher.publish(base + "/load4/set", payload);
    watcher.publish(base + "/load9/set", "OFF"); // no such load
    QTest::qWait(500);
    QList<int> restored;
    for (const auto& args : restores)
        restored << args.at(0).toInt();
    QTEST(restored, "restored");
}

void TestMqttPublisher::noHostIsOff()
{
    MqttPublisher publisher;
    QSignalSpy attempts(&publisher, &MqttPublisher::connecting);
    MqttConfig config = testConfig(1883);
    config.host.clear();
    publisher.configure(config);
    publisher.publishReading(fullReading());
    QCOMPARE(publisher.state(), MqttState::Off);
    QTest::qWait(100);
    QCOMPARE(attempts.size(), 0);
}

QTEST_GUILESS_MAIN(TestMqttPublisher)
#include "test_mqttpublisher.moc"
