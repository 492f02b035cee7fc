#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariant>

namespace powerlog {

class SettingsStore;

// The settings have a meta-object of their own (names in test output and debug messages,
// queued signals), apart from the one of the powerlog namespace.
namespace settingkeys {
Q_NAMESPACE

enum class Setting {
    ServerAddress,     // "Option"/"ServerIP": text (a host name or dotted address)
    ServerPort,        // "Option"/"ServerPORT": whole number 1..65535, stored as text
    ServerPassword,    // "Option"/"ServerPWD": text, stored scrambled
    StInterface,       // "Option"/"Interface": bool, stored 0/1
    LinePowerIndex,    // "Watt"/"line": 0..4
    RefreshSeconds,    // "Timer"/"Agg": one of 10, 30, 60, 600, 1800, 3600
    LostFrameSwitch,   // "Frame"/"Lost": bool, stored 0/1
    LanguageCode,      // "Option"/"Language": "ita" or "eng"
    StartMinimized,    // "Option"/"Minimized": bool switch
    StartAutomatic,    // "Start"/"Auto": bool switch
    StartRecording,    // "Start"/"RecAuto": bool switch
    PriceF1,           // "Tariff"/"PriceF1": price of a kWh in band F1, >= 0, written with a dot
    PriceF2,           // "Tariff"/"PriceF2": the same for F2
    PriceF3,           // "Tariff"/"PriceF3": the same for F3
    Currency,          // "Tariff"/"Currency": text; empty means the locale's
    MeterSource,       // "Meter"/"Source": "central" (the load-control unit) or "meter"
    MeterWhere,        // "Meter"/"Where": the energy meter's address, "5" and 1..255
    MqttHost,          // "Mqtt"/"Host": the broker's host name or address; empty: no publishing
    MqttPort,          // "Mqtt"/"Port": whole number 1..65535
    MqttUser,          // "Mqtt"/"User": text; empty: no user name
    MqttPassword,      // "Mqtt"/"Password": text, stored scrambled as ServerPassword is
    MqttTls,           // "Mqtt"/"Tls": bool, stored 0/1
    MqttCaFile,        // "Mqtt"/"CaFile": the CA certificates' file; empty: the system's store
    MqttTopic,         // "Mqtt"/"Topic": the topics' first level, no wildcards
    MqttDiscovery,     // "Mqtt"/"Discovery": bool, stored 0/1
    MqttAllowCommands, // "Mqtt"/"AllowCommands": bool, stored 0/1
};
Q_ENUM_NS(Setting)

} // namespace settingkeys

using settingkeys::Setting;

// How a setting's value is kept as text in the store.
enum class StoredForm {
    Text,      // as it is
    Scrambled, // scramblePassword with a random k; a text not of that form reads as the default
    Number,    // decimal; a text that is not a whole number in range reads as the default
    Switch,    // "0" or "1"; any other text reads as the default
    Price,     // a decimal >= 0 written with a dot; any other text reads as the default
};

// One setting: where it is stored, its kind, its default and the values it may take.
struct SettingSpec
{
    Setting setting;
    QString section;
    QString key;
    QMetaType::Type type; // of the value: QString, Int, Bool or Double
    QVariant defaultValue;
    StoredForm form;
    // Numbers: the lowest and highest value, and when not empty the only values allowed.
    int lowest = 0;
    int highest = 0;
    QList<int> choices = {};
    // Texts: whether a value may be stored (reading takes any text of the right form).
    bool (*accepts)(const QString& text) = nullptr;
};

// Every setting, in the order of the Setting enumeration.
const QList<SettingSpec>& settingSpecs();
const SettingSpec& settingSpec(Setting setting);

// The program's settings, typed and checked, over the settings store. They are read from the
// store once, when this object is made; from then on this object holds the values in force and
// the store changes only through set(), so that every change of a value in force is signalled.
class Settings : public QObject
{
    Q_OBJECT
public:
    explicit Settings(SettingsStore& store, QObject* parent = nullptr);
    ~Settings() override;

    // The value in force: this run's override, else the stored value, else the default. A
    // stored number of the wrong kind or out of range reads as the default, a switch other
    // than 0 or 1 too (so the switches off by default count as on only when stored as 1), a
    // password not of the scrambled form as empty; the address and the language are taken as
    // stored.
    QVariant value(Setting setting) const;
    QString text(Setting setting) const;
    int number(Setting setting) const;
    bool isOn(Setting setting) const;
    // ServerPort as a port number.
    quint16 port() const;
    // The contracted line power in watts of LinePowerIndex.
    int linePowerWatts() const;
    // A Price setting.
    double price(Setting setting) const;
    // The currency for costs: Currency, or the system locale's symbol when that is empty.
    QString currency() const;
    // The system locale's currency symbol, or the euro for a locale without one.
    static QString localeCurrency();

    // Whether `value` is of the setting's kind and within its range. Numbers are taken as
    // numbers or as text; switches as bools or as 0 and 1.
    static bool isValid(Setting setting, const QVariant& value);

    // Checks the value against the key's type and range (an invalid value writes nothing and
    // returns false), writes it in its stored form, checks the write (SettingsStore::setValue's
    // result), and emits changed(setting) when the value in force changed. A run override of
    // that setting ends. False when invalid or not saved; a value that could not be saved
    // changes nothing.
    bool set(Setting setting, const QVariant& value);

    // Where the store keeps the settings, for messages.
    QString fileName() const;

    // For this run only, never stored (the demo points the gateway at its simulator). An invalid
    // value is ignored. Emits changed(setting) when the value in force changed.
    void overrideForThisRun(Setting setting, const QVariant& value);

signals:
    void changed(powerlog::Setting setting);

private:
    QVariant read(const SettingSpec& entry) const;

    SettingsStore& m_store;
    QMap<Setting, QVariant> m_stored;    // as the store holds them, read with the rules above
    QMap<Setting, QVariant> m_overrides; // for this run only
};

} // namespace powerlog
