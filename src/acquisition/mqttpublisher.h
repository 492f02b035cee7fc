#pragma once

#include "acquisition/loadstate.h"
#include "acquisition/reading.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <array>

namespace powerlog {

namespace mqttstates {
Q_NAMESPACE

// Where the publisher's link to the broker stands.
enum class MqttState {
    Off,        // no broker set: nothing is published
    Connecting, // a connection is on its way
    Connected,  // the broker took the connection: readings are published
    Waiting,    // the broker could not be reached or was lost: tried again after a pause
    Refused,    // the broker refused the user name or password: tried again after the long pause
    Unusable,   // the settings cannot make a connection (a CA file that cannot be read, ...)
};
Q_ENUM_NS(MqttState)

} // namespace mqttstates

using mqttstates::MqttState;

// Everything one connection to the broker is made with.
struct MqttConfig
{
    QString host; // empty: off
    quint16 port = 1883;
    QString user;
    QString password;
    bool tls = false;
    QString caFile; // with tls: empty uses the system's certificate store
    QString topic = QStringLiteral("powerlog");
    bool discovery = true;
    bool allowCommands = false;
    // The device's id in topics and Home Assistant ([a-z0-9_] only) and its name there.
    QString deviceId;
    QString deviceName;
    QString model;
    // The eight loads' names from load.ini, by priority; an empty name reads "Load N".
    QStringList loadNames;
    // After a failed or lost connection: the first pause, doubling up to the limit. A refused
    // password always waits the limit.
    int retryFirstMs = 1000;
    int retryLimitMs = 60'000;
    // A connection that has not been taken within this long counts as failed.
    int connectTimeoutMs = 15'000;
    int keepAliveSeconds = 30;

    bool isOn() const { return !host.isEmpty(); }
    bool operator==(const MqttConfig&) const = default;
};

// "powerlog_" and the gateway's address and the source of the readings, as [a-z0-9_] only:
// "powerlog_192_168_1_35_central", or "powerlog_192_168_1_35_meter_51" for an energy meter.
QString mqttDeviceId(const QString& gatewayAddress, const QString& source, const QString& where);

class Settings;
// The connection the settings ask for ([Mqtt]), for the device the gateway's settings make.
MqttConfig mqttConfig(const Settings& settings, const QStringList& loadNames);

// One message to the broker.
struct MqttMessage
{
    QString topic;
    QByteArray payload;
    bool retained = false;
    int qos = 0;

    bool operator==(const MqttMessage&) const = default;
};

// The topics of a device under `topic` (MqttConfig::topic).
QString mqttStateTopic(const MqttConfig& config);
QString mqttStatusTopic(const MqttConfig& config);
QString mqttLoadTopic(const MqttConfig& config, int index);        // load 0..7: ".../load1"
QString mqttLoadCommandTopic(const MqttConfig& config, int index); // ".../load1/set"

// A reading as the state topic's JSON: power in W, voltage in V, current in A, energy in kWh
// and the time in ISO 8601 with its offset; a value the reading does not hold is left out (an
// energy meter measures neither tension nor current).
QByteArray mqttReadingPayload(const Reading& reading);
// Home Assistant's discovery messages of the device: its four sensors and one binary sensor
// per load, retained.
QList<MqttMessage> mqttDiscoveryMessages(const MqttConfig& config);
// A load's state for its binary sensor: "ON" when the central unit switched it off, "OFF"
// when it runs; empty while its state is not known.
QByteArray mqttLoadPayload(LoadState state);

class MqttClient;

// Publishes readings and load states to an MQTT broker for Home Assistant. The connection lives
// on a thread of its own: every call here returns at once, and a broker that is slow or away
// never holds up the caller. What is published while the broker is away is dropped; once it
// takes the connection again the device is announced again ("online", discovery, the loads).
class MqttPublisher : public QObject
{
    Q_OBJECT
public:
    explicit MqttPublisher(QObject* parent = nullptr);
    // Says "offline" to the broker and disconnects, then ends the thread.
    ~MqttPublisher() override;

    // What an ended connection says: "offline", or nothing when another process publishes
    // for the same device from now on.
    enum class Farewell { Offline, Quiet };
    // Connects anew with `config` when it differs from the one in force; a config without a
    // host ends the connection and the thread.
    void configure(const MqttConfig& config, Farewell farewell = Farewell::Offline);
    const MqttConfig& config() const { return m_config; }
    MqttState state() const { return m_state; }

    void publishReading(const Reading& reading);
    void publishLoad(int index, LoadState state);

signals:
    void stateChanged(powerlog::MqttState state);
    // A connection attempt began (each one, retries included).
    void connecting();
    // A command on a load's set topic, taken only with AllowCommands: "OFF" asks to bring the
    // switched-off load `index` (0..7) back, which the central unit does by forcing it on.
    void loadRestoreAsked(int index);

private:
    void setState(MqttState state);

    MqttConfig m_config;
    MqttState m_state = MqttState::Off;
    QThread m_thread;
    MqttClient* m_client = nullptr; // lives on m_thread
    // The loads' last states, for a client made later.
    std::array<LoadState, LoadStates::kLoadCount> m_loads{};
};

} // namespace powerlog

Q_DECLARE_METATYPE(powerlog::MqttMessage)
