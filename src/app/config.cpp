#include "app/config.h"

#include "app/settingsstore.h"

#include <QRandomGenerator>
#include <QStringList>
#include <algorithm>

namespace powerlog {

namespace {

std::optional<int> wholeNumber(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

int readIndex(const SettingsStore& store, const QString& section, const QString& name,
              int defaultValue, int lowest, int highest)
{
    const auto value = wholeNumber(store.value(section, name, QString::number(defaultValue)));
    if (!value || *value < lowest || *value > highest)
        return defaultValue;
    return *value;
}

bool readSwitch(const SettingsStore& store, const QString& section, const QString& name)
{
    return isSwitchSet(store.value(section, name, QStringLiteral("0")));
}

bool isAllDigits(const QString& text)
{
    return !text.isEmpty() &&
           std::ranges::all_of(text, [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// The value of a text of digits, read without overflow: anything above `limit` is limit + 1.
int digitsValue(const QString& digits, int limit)
{
    qint64 value = 0;
    for (const QChar c : digits) {
        value = value * 10 + (c.unicode() - u'0');
        if (value > limit)
            return limit + 1;
    }
    return int(value);
}

} // namespace

std::optional<QString> acceptedServerAddress(const QString& typed)
{
    if (typed.isEmpty())
        return std::nullopt;
    const QChar first = typed.at(0);
    if (first < u'0' || first > u'9')
        return typed;
    QStringList parts = typed.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    for (QString& part : parts) {
        if (!isAllDigits(part))
            return std::nullopt;
        if (digitsValue(part, 255) > 255)
            part = QStringLiteral("255");
    }
    return parts.join(QLatin1Char('.'));
}

bool isUsablePort(const QString& typed)
{
    if (!isAllDigits(typed))
        return false;
    const int port = digitsValue(typed, 65535);
    return port >= 1 && port <= 65535;
}

quint16 Config::portNumber() const
{
    bool ok = false;
    const uint port = ServerPort.trimmed().toUInt(&ok);
    return ok && port <= 65535 ? static_cast<quint16>(port) : 0;
}

bool isSwitchSet(const QString& stored)
{
    return wholeNumber(stored) == 1;
}

Config loadConfig(const SettingsStore& store)
{
    Config c;
    c.Minimized = readSwitch(store, key::kOption, key::kMinimized);
    c.ServerAddress = store.value(key::kOption, key::kServerIp, kDefaultServerAddress);
    c.ServerPort = store.value(key::kOption, key::kServerPort, kDefaultServerPort);
    if (wholeNumber(c.ServerPort).value_or(0) <= 0 || wholeNumber(c.ServerPort) > 65535)
        c.ServerPort = kDefaultServerPort;
    c.StInterface = readSwitch(store, key::kOption, key::kInterface);
    c.LinePowerIndex = readIndex(store, key::kWatt, key::kLine, kDefaultLinePowerIndex, 0, 4);

    const auto refresh = wholeNumber(
        store.value(key::kTimer, key::kRefresh, QString::number(kDefaultRefreshSeconds)));
    const bool listed =
        refresh && std::ranges::find(kRefreshChoices, *refresh) != std::end(kRefreshChoices);
    c.RefreshSeconds = listed ? *refresh : kDefaultRefreshSeconds;

    c.LostFrameSwitch = static_cast<quint8>(readIndex(store, key::kFrame, key::kLost, 1, 0, 1));
    c.LanguageCode = store.value(key::kOption, key::kLanguage, QStringLiteral("ita"));
    c.AutoStart = readSwitch(store, key::kStart, key::kAuto);
    c.RecAuto = readSwitch(store, key::kStart, key::kRecAuto);
    c.ServerPassword =
        unscramblePassword(store.value(key::kOption, key::kServerPassword, QString()))
            .value_or(QString());
    return c;
}

int linePowerWatts(int linePowerIndex)
{
    const int watts = (linePowerIndex + 1) * 1500;
    return watts == 7500 ? 9000 : watts;
}

QString scramblePassword(const QString& password, int k)
{
    QString stored = QString::number(k);
    for (const QChar ch : password) {
        const int code = (ch.unicode() & 0xFF) + k;
        stored += QStringLiteral("%1").arg(code, 3, 10, QLatin1Char('0'));
    }
    return stored;
}

QString scramblePassword(const QString& password)
{
    return scramblePassword(password, static_cast<int>(QRandomGenerator::global()->bounded(9)));
}

std::optional<QString> unscramblePassword(const QString& stored)
{
    if (stored.isEmpty() || (stored.size() - 1) % 3 != 0)
        return std::nullopt;
    for (const QChar ch : stored) {
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return std::nullopt;
    }
    const int k = stored.at(0).digitValue();
    if (k > 8)
        return std::nullopt;
    QString password;
    for (qsizetype at = 1; at < stored.size(); at += 3) {
        const int code = stored.mid(at, 3).toInt() - k;
        if (code < 0 || code > 255)
            return std::nullopt;
        password += QChar(code);
    }
    return password;
}

} // namespace powerlog
