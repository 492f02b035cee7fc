#include "acquisition/mqttpublisher.h"

#include "acquisition/workerthread.h"
#include "app/settings.h"
#include "app/version.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <mosquitto.h>
#include <mutex>

namespace powerlog {

namespace {

// Home Assistant's topics start here.
const QString kDiscoveryPrefix = QStringLiteral("homeassistant");
const QByteArray kOnline = QByteArrayLiteral("online");
const QByteArray kOffline = QByteArrayLiteral("offline");
// How often a connection is serviced while it opens, and all along over TLS.
constexpr int kServiceMs = 500;
// Where Debian keeps the system's CA certificates, hashed for OpenSSL.
const char* const kSystemCaPath = "/etc/ssl/certs";
// The payload on a load's set topic that brings a switched-off load back.
const QByteArray kRestore = QByteArrayLiteral("OFF");

// Lower-case letters, digits and '_' only; every other character becomes '_'.
QString idPart(const QString& text)
{
    QString part = text.toLower();
    for (QChar& c : part) {
        if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')))
            c = u'_';
    }
    return part;
}

QJsonObject deviceBlock(const MqttConfig& config)
{
    return {{QStringLiteral("identifiers"), QJsonArray{config.deviceId}},
            {QStringLiteral("name"), config.deviceName},
            {QStringLiteral("model"), config.model},
            {QStringLiteral("manufacturer"), QStringLiteral("Powerlog")},
            {QStringLiteral("sw_version"), versionText()}};
}

MqttMessage discoveryMessage(const QString& component, const QString& objectId,
                             const QJsonObject& entity)
{
    return {kDiscoveryPrefix + u'/' + component + u'/' + objectId + QStringLiteral("/config"),
            QJsonDocument(entity).toJson(QJsonDocument::Compact), true, 1};
}

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

QString mqttDeviceId(const QString& gatewayAddress, const QString& source, const QString& where)
{
    QString id = QStringLiteral("powerlog_") + idPart(gatewayAddress) + u'_' + idPart(source);
    if (source == QLatin1String("meter"))
        id += u'_' + idPart(where);
    return id;
}

MqttConfig mqttConfig(const Settings& settings, const QStringList& loadNames)
{
    MqttConfig config;
    config.host = settings.text(Setting::MqttHost).trimmed();
    config.port = quint16(settings.number(Setting::MqttPort));
    config.user = settings.text(Setting::MqttUser);
    config.password = settings.text(Setting::MqttPassword);
    config.tls = settings.isOn(Setting::MqttTls);
    config.caFile = settings.text(Setting::MqttCaFile).trimmed();
    // A stored topic that is no topic counts as the default one.
    const QString topic = settings.text(Setting::MqttTopic);
    if (Settings::isValid(Setting::MqttTopic, topic))
        config.topic = topic;
    config.discovery = settings.isOn(Setting::MqttDiscovery);
    config.allowCommands = settings.isOn(Setting::MqttAllowCommands);
    const QString address = settings.text(Setting::ServerAddress);
    const QString source = settings.text(Setting::MeterSource);
    const QString where = settings.text(Setting::MeterWhere);
    config.deviceId = mqttDeviceId(address, source, where);
    const bool meter = source == QLatin1String("meter");
    config.deviceName = QStringLiteral("Powerlog ") + address;
    config.model = meter ? QStringLiteral("Energy meter ") + where
                         : QStringLiteral("Load-control central unit");
    config.loadNames = loadNames;
    return config;
}

QString mqttStateTopic(const MqttConfig& config)
{
    return config.topic + u'/' + config.deviceId + QStringLiteral("/state");
}

QString mqttStatusTopic(const MqttConfig& config)
{
    return config.topic + u'/' + config.deviceId + QStringLiteral("/status");
}

QString mqttLoadTopic(const MqttConfig& config, int index)
{
    return config.topic + u'/' + config.deviceId + QStringLiteral("/load") +
           QString::number(index + 1);
}

QString mqttLoadCommandTopic(const MqttConfig& config, int index)
{
    return mqttLoadTopic(config, index) + QStringLiteral("/set");
}

QByteArray mqttReadingPayload(const Reading& reading)
{
    QJsonObject json;
    if (reading.power)
        json.insert(QStringLiteral("power"), int(*reading.power));
    if (reading.kind == Reading::Kind::Full) {
        if (reading.lineMeasured) {
            if (const std::optional<double> volts = decimalValue(reading.V))
                json.insert(QStringLiteral("voltage"), *volts);
            if (const std::optional<double> amps = decimalValue(reading.A))
                json.insert(QStringLiteral("current"), *amps);
        }
        if (reading.energy)
            json.insert(QStringLiteral("energy"), *reading.energy);
    }
    if (reading.time.isValid()) {
        const QDateTime withOffset = reading.time.toOffsetFromUtc(reading.time.offsetFromUtc());
        json.insert(QStringLiteral("time"), withOffset.toString(Qt::ISODate));
    }
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

QList<MqttMessage> mqttDiscoveryMessages(const MqttConfig& config)
{
    const QString stateTopic = mqttStateTopic(config);
    const QString status = mqttStatusTopic(config);
    const QJsonObject device = deviceBlock(config);
    struct Sensor
    {
        const char* what;
        const char* name;
        const char* deviceClass;
        const char* unit;
        const char* stateClass;
    };
    static constexpr Sensor kSensors[] = {
        {"power", "Power", "power", "W", "measurement"},
        {"energy", "Energy", "energy", "kWh", "total_increasing"},
        {"voltage", "Voltage", "voltage", "V", "measurement"},
        {"current", "Current", "current", "A", "measurement"},
    };
    QList<MqttMessage> messages;
    for (const Sensor& sensor : kSensors) {
        const QString what = QLatin1String(sensor.what);
        const QString objectId = config.deviceId + u'_' + what;
        messages << discoveryMessage(
            QStringLiteral("sensor"), objectId,
            {{QStringLiteral("name"), QLatin1String(sensor.name)},
             {QStringLiteral("unique_id"), objectId},
             {QStringLiteral("state_topic"), stateTopic},
             {QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(what)},
             {QStringLiteral("device_class"), QLatin1String(sensor.deviceClass)},
             {QStringLiteral("unit_of_measurement"), QLatin1String(sensor.unit)},
             {QStringLiteral("state_class"), QLatin1String(sensor.stateClass)},
             {QStringLiteral("availability_topic"), status},
             {QStringLiteral("device"), device}});
    }
    for (int index = 0; index < LoadStates::kLoadCount; ++index) {
        const QString number = QString::number(index + 1);
        const QString objectId = config.deviceId + QStringLiteral("_load") + number;
        const QString name = config.loadNames.value(index).trimmed();
        messages << discoveryMessage(
            QStringLiteral("binary_sensor"), objectId,
            {{QStringLiteral("name"), name.isEmpty() ? QStringLiteral("Load ") + number : name},
             {QStringLiteral("unique_id"), objectId},
             {QStringLiteral("state_topic"), mqttLoadTopic(config, index)},
             {QStringLiteral("payload_on"), QStringLiteral("ON")},
             {QStringLiteral("payload_off"), QStringLiteral("OFF")},
             {QStringLiteral("availability_topic"), status},
             {QStringLiteral("device"), device}});
    }
    return messages;
}

QByteArray mqttLoadPayload(LoadState state)
{
    switch (state) {
    case LoadState::Off:
        return QByteArrayLiteral("ON");
    case LoadState::On:
    case LoadState::Forced:
    case LoadState::Other:
        return QByteArrayLiteral("OFF");
    case LoadState::Unseen:
    case LoadState::Unknown:
        break;
    }
    return {};
}

// The connection itself, on the publisher's thread. libmosquitto runs without threads of its
// own: its socket is watched by socket notifiers and serviced with mosquitto_loop without
// waiting, and each connection attempt gets a handle of its own, so that an attempt that hangs
// can be dropped at once.
class MqttClient : public QObject
{
    Q_OBJECT
public:
    MqttClient() : m_retryTimer(this), m_connectTimer(this), m_serviceTimer(this)
    {
        m_retryTimer.setSingleShot(true);
        connect(&m_retryTimer, &QTimer::timeout, this, &MqttClient::connectNow);
        m_connectTimer.setSingleShot(true);
        connect(&m_connectTimer, &QTimer::timeout, this, [this] { lose(MqttState::Waiting); });
        // Keep-alive pings, and data the TLS layer holds that the socket no longer shows.
        connect(&m_serviceTimer, &QTimer::timeout, this, &MqttClient::service);
    }

    ~MqttClient() override { close(true); }

    void setConfig(const MqttConfig& config, bool sayOffline)
    {
        close(sayOffline);
        m_config = config;
        m_waitMs = m_config.retryFirstMs;
        m_refused = false;
        if (!m_config.isOn()) {
            setState(MqttState::Off);
            return;
        }
        connectNow();
    }

    void publishReading(const QByteArray& payload)
    {
        if (m_connected)
            publish({mqttStateTopic(m_config), payload, false, 0});
    }

    void publishLoad(int index, const QByteArray& payload)
    {
        if (!LoadStates::isLoad(index))
            return;
        m_loads[std::size_t(index)] = payload;
        if (m_connected && !payload.isEmpty())
            publish({mqttLoadTopic(m_config, index), payload, true, 1});
    }

signals:
    void stateChanged(powerlog::MqttState state);
    void connecting();
    void loadRestoreAsked(int index);

private:
    void setState(MqttState state)
    {
        if (m_state == state)
            return;
        m_state = state;
        emit stateChanged(state);
    }

    // A new handle with the config's user, password, TLS and last will; null when the config
    // cannot make one.
    mosquitto* makeHandle()
    {
        initLibrary();
        mosquitto* handle = mosquitto_new(nullptr, true, this);
        if (!handle)
            return nullptr;
        mosquitto_connect_callback_set(handle, [](mosquitto*, void* self, int rc) {
            static_cast<MqttClient*>(self)->m_connack = rc;
        });
        mosquitto_message_callback_set(
            handle, [](mosquitto*, void* self, const mosquitto_message* message) {
                static_cast<MqttClient*>(self)->takeMessage(message);
            });
        const QByteArray status = mqttStatusTopic(m_config).toUtf8();
        const QByteArray user = m_config.user.toUtf8();
        const QByteArray password = m_config.password.toUtf8();
        const QByteArray caFile = m_config.caFile.toLocal8Bit();
        bool ok = mosquitto_will_set(handle, status.constData(), int(kOffline.size()),
                                     kOffline.constData(), 1, true) == MOSQ_ERR_SUCCESS;
        if (ok && !user.isEmpty())
            ok = mosquitto_username_pw_set(handle, user.constData(),
                                           password.isEmpty() ? nullptr : password.constData()) ==
                 MOSQ_ERR_SUCCESS;
        if (ok && m_config.tls)
            ok = mosquitto_tls_set(handle, caFile.isEmpty() ? nullptr : caFile.constData(),
                                   caFile.isEmpty() ? kSystemCaPath : nullptr, nullptr, nullptr,
                                   nullptr) == MOSQ_ERR_SUCCESS;
        if (!ok) {
            mosquitto_destroy(handle);
            return nullptr;
        }
        return handle;
    }

    void connectNow()
    {
        dropHandle();
        m_handle = makeHandle();
        if (!m_handle) {
            setState(MqttState::Unusable);
            return;
        }
        // A refused password stays the state to show while it is tried again.
        if (!m_refused)
            setState(MqttState::Connecting);
        emit connecting();
        m_connack = -1;
        const QByteArray host = m_config.host.toUtf8();
        const int rc = mosquitto_connect_async(m_handle, host.constData(), m_config.port,
                                               m_config.keepAliveSeconds);
        if (rc != MOSQ_ERR_SUCCESS) {
            lose(MqttState::Waiting);
            return;
        }
        m_connectTimer.start(m_config.connectTimeoutMs);
        watchSocket();
        service();
    }

    void watchSocket()
    {
        const int fd = mosquitto_socket(m_handle);
        if (fd < 0)
            return;
        m_read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        m_write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        connect(m_read.get(), &QSocketNotifier::activated, this, &MqttClient::service);
        connect(m_write.get(), &QSocketNotifier::activated, this, &MqttClient::service);
        m_serviceTimer.start(kServiceMs);
    }

    // Reads, writes and pings what is due, without waiting, and follows what that brought.
    void service()
    {
        if (!m_handle)
            return;
        const int rc = mosquitto_loop(m_handle, 0, 1);
        if (m_connack > 0) {
            m_connack = -1;
            // 4: bad user name or password, 5: not authorised.
            m_refused = true;
            lose(MqttState::Refused);
            return;
        }
        if (m_connack == 0) {
            m_connack = -1;
            announce();
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            lose(m_refused ? MqttState::Refused : MqttState::Waiting);
            return;
        }
        if (m_write)
            m_write->setEnabled(mosquitto_want_write(m_handle));
    }

    // The broker took the connection: the device is online, announced, its loads stated.
    void announce()
    {
        m_connectTimer.stop();
        m_connected = true;
        m_refused = false;
        // Connected in the clear, the socket tells of all there is to read: the timer is left
        // only the pings, at half the keep-alive. Over TLS it also reads what the TLS layer
        // holds back, which the socket no longer shows.
        if (!m_config.tls)
            m_serviceTimer.start(std::max(1, m_config.keepAliveSeconds / 2) * 1000);
        m_waitMs = m_config.retryFirstMs;
        setState(MqttState::Connected);
        publish({mqttStatusTopic(m_config), kOnline, true, 1});
        if (m_config.discovery) {
            for (const MqttMessage& message : mqttDiscoveryMessages(m_config))
                publish(message);
        }
        for (int index = 0; index < LoadStates::kLoadCount; ++index)
            publishLoad(index, m_loads[std::size_t(index)]);
        if (m_config.allowCommands) {
            const QByteArray pattern =
                (m_config.topic + u'/' + m_config.deviceId + QStringLiteral("/+/set")).toUtf8();
            mosquitto_subscribe(m_handle, nullptr, pattern.constData(), 1);
        }
    }

    void takeMessage(const mosquitto_message* message)
    {
        if (!m_config.allowCommands || !message || !message->topic)
            return;
        const QString topic = QString::fromUtf8(message->topic);
        const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
        for (int index = 0; index < LoadStates::kLoadCount; ++index) {
            if (topic == mqttLoadCommandTopic(m_config, index)) {
                if (payload.trimmed().toUpper() == kRestore)
                    emit loadRestoreAsked(index);
                return;
            }
        }
    }

    void publish(const MqttMessage& message)
    {
        const QByteArray topic = message.topic.toUtf8();
        mosquitto_publish(m_handle, nullptr, topic.constData(), int(message.payload.size()),
                          message.payload.constData(), message.qos, message.retained);
        // What the socket did not take at once goes when it can take more.
        if (m_write)
            m_write->setEnabled(mosquitto_want_write(m_handle));
    }

    // The connection failed or was lost: tried again after the pause, a refused password
    // after the longest.
    void lose(MqttState state)
    {
        dropHandle();
        setState(state);
        const int waitMs = state == MqttState::Refused ? m_config.retryLimitMs : m_waitMs;
        m_waitMs = qMin(m_waitMs * 2, m_config.retryLimitMs);
        m_retryTimer.start(waitMs);
    }

    void dropHandle()
    {
        m_connected = false;
        m_connectTimer.stop();
        m_serviceTimer.stop();
        m_read.reset();
        m_write.reset();
        if (m_handle) {
            mosquitto_destroy(m_handle);
            m_handle = nullptr;
        }
    }

    // In order: "offline" (unless another process speaks for the device now), then the
    // disconnect, so that the broker keeps the last will to itself. What the broker sent is read
    // first: a socket closed with unread data resets the connection, and the broker may then drop
    // the disconnect unread. "offline" goes with QoS 0, so that no acknowledgement comes back after
    // it.
    void close(bool sayOffline)
    {
        m_retryTimer.stop();
        if (m_handle && m_connected) {
            for (int i = 0; i < 5; ++i) {
                if (mosquitto_loop(m_handle, 10, 1) != MOSQ_ERR_SUCCESS)
                    break;
            }
            if (sayOffline)
                publish({mqttStatusTopic(m_config), kOffline, true, 0});
            mosquitto_disconnect(m_handle);
            for (int i = 0; i < 20 && mosquitto_want_write(m_handle); ++i) {
                if (mosquitto_loop_write(m_handle, 1) != MOSQ_ERR_SUCCESS)
                    break;
            }
        }
        dropHandle();
    }

    MqttConfig m_config;
    mosquitto* m_handle = nullptr;
    QTimer m_retryTimer;
    QTimer m_connectTimer;
    QTimer m_serviceTimer;
    std::unique_ptr<QSocketNotifier> m_read;
    std::unique_ptr<QSocketNotifier> m_write;
    std::array<QByteArray, LoadStates::kLoadCount> m_loads;
    MqttState m_state = MqttState::Off;
    int m_waitMs = 0;
    int m_connack = -1; // the broker's answer to the connection, -1 until it comes
    bool m_connected = false;
    bool m_refused = false;
};

MqttPublisher::MqttPublisher(QObject* parent) : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("mqtt"));
}

MqttPublisher::~MqttPublisher()
{
    if (m_client)
        finishQueuedJobsAndEnd(m_client, m_thread);
}

void MqttPublisher::configure(const MqttConfig& config, Farewell farewell)
{
    if (config == m_config && m_client)
        return;
    const bool sayOffline = farewell == Farewell::Offline;
    m_config = config;
    if (!m_client) {
        if (!config.isOn())
            return;
        m_client = new MqttClient;
        m_client->moveToThread(&m_thread);
        connect(m_client, &MqttClient::stateChanged, this, &MqttPublisher::setState);
        connect(m_client, &MqttClient::connecting, this, &MqttPublisher::connecting);
        connect(m_client, &MqttClient::loadRestoreAsked, this, &MqttPublisher::loadRestoreAsked);
        m_thread.start();
        for (int index = 0; index < LoadStates::kLoadCount; ++index)
            publishLoad(index, m_loads[std::size_t(index)]);
    }
    QMetaObject::invokeMethod(
        m_client,
        [client = m_client, config, sayOffline] { client->setConfig(config, sayOffline); },
        Qt::QueuedConnection);
}

void MqttPublisher::publishReading(const Reading& reading)
{
    if (!m_client || !m_config.isOn())
        return;
    QMetaObject::invokeMethod(
        m_client,
        [client = m_client, payload = mqttReadingPayload(reading)] {
            client->publishReading(payload);
        },
        Qt::QueuedConnection);
}

void MqttPublisher::publishLoad(int index, LoadState state)
{
    if (!LoadStates::isLoad(index))
        return;
    m_loads[std::size_t(index)] = state;
    if (!m_client)
        return;
    QMetaObject::invokeMethod(
        m_client,
        [client = m_client, index, payload = mqttLoadPayload(state)] {
            client->publishLoad(index, payload);
        },
        Qt::QueuedConnection);
}

void MqttPublisher::setState(MqttState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

} // namespace powerlog

#include "mqttpublisher.moc"
