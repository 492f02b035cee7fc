#pragma once

#include <QString>
#include <optional>

namespace powerlog {

// Sections and keys of the settings store; the settings' table (settings.h) says what each one
// holds.
namespace key {
inline const QString kOption = QStringLiteral("Option");
inline const QString kWatt = QStringLiteral("Watt");
inline const QString kTimer = QStringLiteral("Timer");
inline const QString kFrame = QStringLiteral("Frame");
inline const QString kStart = QStringLiteral("Start");
inline const QString kTariff = QStringLiteral("Tariff");
inline const QString kMeter = QStringLiteral("Meter");
inline const QString kMqtt = QStringLiteral("Mqtt");

inline const QString kServerIp = QStringLiteral("ServerIP");
inline const QString kServerPort = QStringLiteral("ServerPORT");
inline const QString kServerPassword = QStringLiteral("ServerPWD");
inline const QString kInterface = QStringLiteral("Interface");
inline const QString kLine = QStringLiteral("line");
inline const QString kRefresh = QStringLiteral("Agg");
inline const QString kLost = QStringLiteral("Lost");
inline const QString kLanguage = QStringLiteral("Language");
inline const QString kMinimized = QStringLiteral("Minimized");
inline const QString kAuto = QStringLiteral("Auto");
inline const QString kRecAuto = QStringLiteral("RecAuto");
inline const QString kPriceF1 = QStringLiteral("PriceF1");
inline const QString kPriceF2 = QStringLiteral("PriceF2");
inline const QString kPriceF3 = QStringLiteral("PriceF3");
inline const QString kCurrency = QStringLiteral("Currency");
inline const QString kSource = QStringLiteral("Source");
inline const QString kWhere = QStringLiteral("Where");
inline const QString kHost = QStringLiteral("Host");
inline const QString kPort = QStringLiteral("Port");
inline const QString kUser = QStringLiteral("User");
inline const QString kPassword = QStringLiteral("Password");
inline const QString kTls = QStringLiteral("Tls");
inline const QString kCaFile = QStringLiteral("CaFile");
inline const QString kTopic = QStringLiteral("Topic");
inline const QString kDiscovery = QStringLiteral("Discovery");
inline const QString kAllowCommands = QStringLiteral("AllowCommands");
} // namespace key

// A whole number as the store keeps it: decimal text, blanks around it allowed; nothing for a
// text that is not one.
std::optional<int> storedWholeNumber(const QString& text);

// Whether a stored switch is set: only the number 1 counts.
bool isSwitchSet(const QString& stored);

// The gateway's address as the options window accepts it: a text that starts with a digit must
// be four dotted numbers, each part above 255 becoming 255 ("192.168.1.300" gives
// "192.168.1.255"); any other text is a host name, taken as typed. Nothing for an empty text,
// for a number of parts other than four and for a part that is not all digits: the previous
// address then stays.
std::optional<QString> acceptedServerAddress(const QString& typed);

// Whether a port typed into the options window can be used: digits only, 1 to 65535.
bool isUsablePort(const QString& typed);

// The contracted line power in watts for an index 0..4: 1500, 3000, 4500, 6000, 9000.
int linePowerWatts(int linePowerIndex);

// Stored form of the password: the digit k, then each character's 8-bit code plus k as three
// digits. k is 0..8.
QString scramblePassword(const QString& password, int k);
// A random k, as the options window stores it.
QString scramblePassword(const QString& password);
// The password back from its stored form, or nothing when the text is not of that form.
std::optional<QString> unscramblePassword(const QString& stored);

} // namespace powerlog
