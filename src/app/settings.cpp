#include "app/settings.h"

#include "app/config.h"
#include "app/language.h"
#include "app/settingsstore.h"

#include <QLocale>
#include <QMetaEnum>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace powerlog {

namespace {

bool acceptsAddress(const QString& text)
{
    return acceptedServerAddress(text) == text;
}

// The stored form keeps 8 bits of each character.
bool acceptsPassword(const QString& text)
{
    return std::ranges::all_of(text, [](QChar c) { return c.unicode() <= 0xFF; });
}

bool acceptsMeterSource(const QString& text)
{
    return text == QLatin1String("central") || text == QLatin1String("meter");
}

// A WHO 18 meter's WHERE: "5" followed by 1..255, without a leading zero.
bool acceptsMeterAddress(const QString& text)
{
    if (text.size() < 2 || text.size() > 4 || !text.startsWith(QLatin1Char('5')) ||
        text.at(1) == QLatin1Char('0'))
        return false;
    bool ok = false;
    const int number = text.mid(1).toInt(&ok);
    return ok && text.mid(1) == QString::number(number) && number >= 1 && number <= 255;
}

// The first level of the broker's topics: not empty, no wildcard, no empty level.
bool acceptsTopic(const QString& text)
{
    return !text.isEmpty() && !text.contains(QLatin1Char('+')) &&
           !text.contains(QLatin1Char('#')) && !text.split(QLatin1Char('/')).contains(QString()) &&
           !text.contains(QChar(0));
}

bool acceptsLanguage(const QString& text)
{
    return languageColumn(text).has_value();
}

std::optional<int> inIntRange(qlonglong value)
{
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(value);
}

// A whole number given as a number or as its text; not a bool, not a fraction.
std::optional<int> wholeNumberOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return storedWholeNumber(value.toString());
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::SChar:
        return inIntRange(value.toLongLong());
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UChar: {
        const qulonglong number = value.toULongLong();
        return number > qulonglong(std::numeric_limits<int>::max())
                   ? std::nullopt
                   : std::optional<int>(int(number));
    }
    default:
        return std::nullopt;
    }
}

// Prices are kept below this, so that a typing slip cannot make costs absurd.
constexpr double kHighestPrice = 1000.0;

// A price as the store keeps it: a decimal with a dot, blanks around it allowed.
std::optional<double> storedPrice(const QString& text)
{
    bool ok = false;
    const double price = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(price) || price < 0 || price > kHighestPrice)
        return std::nullopt;
    return price;
}

// The shortest text that reads back as the same price, with a dot in every locale.
QString priceText(double price)
{
    char text[64];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, price);
    return QString::fromLatin1(text, written.ptr - text);
}

std::optional<double> priceOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return storedPrice(value.toString());
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong: {
        const double price = value.toDouble();
        if (!std::isfinite(price) || price < 0 || price > kHighestPrice)
            return std::nullopt;
        return price;
    }
    default:
        return std::nullopt;
    }
}

bool isInRange(const SettingSpec& entry, int number)
{
    return number >= entry.lowest && number <= entry.highest &&
           (entry.choices.isEmpty() || entry.choices.contains(number));
}

// The value as the setting holds it, or nothing when it is not of its kind or out of range.
std::optional<QVariant> typedValue(const SettingSpec& entry, const QVariant& value)
{
    switch (entry.form) {
    case StoredForm::Text:
    case StoredForm::Scrambled: {
        if (value.typeId() != QMetaType::QString)
            return std::nullopt;
        const QString text = value.toString();
        if (entry.accepts && !entry.accepts(text))
            return std::nullopt;
        return QVariant(text);
    }
    case StoredForm::Number: {
        const std::optional<int> number = wholeNumberOf(value);
        if (!number || !isInRange(entry, *number))
            return std::nullopt;
        return QVariant(*number);
    }
    case StoredForm::Switch: {
        if (value.typeId() == QMetaType::Bool)
            return QVariant(value.toBool());
        const std::optional<int> number = wholeNumberOf(value);
        if (number != 0 && number != 1)
            return std::nullopt;
        return QVariant(*number == 1);
    }
    case StoredForm::Price: {
        const std::optional<double> price = priceOf(value);
        return price ? std::optional<QVariant>(QVariant(*price)) : std::nullopt;
    }
    }
    return std::nullopt;
}

QString storedText(const SettingSpec& entry, const QVariant& value)
{
    switch (entry.form) {
    case StoredForm::Text:
        return value.toString();
    case StoredForm::Scrambled:
        return scramblePassword(value.toString());
    case StoredForm::Number:
        return QString::number(value.toInt());
    case StoredForm::Switch:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case StoredForm::Price:
        return priceText(value.toDouble());
    }
    return {};
}

// No price (0) means no cost is shown.
SettingSpec priceEntry(Setting setting, const QString& key)
{
    return {.setting = setting,
            .section = key::kTariff,
            .key = key,
            .type = QMetaType::Double,
            .defaultValue = 0.0,
            .form = StoredForm::Price};
}

} // namespace

const QList<SettingSpec>& settingSpecs()
{
    static const QList<SettingSpec> specs{
        {.setting = Setting::ServerAddress,
         .section = key::kOption,
         .key = key::kServerIp,
         .type = QMetaType::QString,
         .defaultValue = QStringLiteral("192.168.1.35"),
         .form = StoredForm::Text,
         .accepts = acceptsAddress},
        {.setting = Setting::ServerPort,
         .section = key::kOption,
         .key = key::kServerPort,
         .type = QMetaType::Int,
         .defaultValue = 20000,
         .form = StoredForm::Number,
         .lowest = 1,
         .highest = 65535},
        {.setting = Setting::ServerPassword,
         .section = key::kOption,
         .key = key::kServerPassword,
         .type = QMetaType::QString,
         .defaultValue = QString(),
         .form = StoredForm::Scrambled,
         .accepts = acceptsPassword},
        {.setting = Setting::StInterface,
         .section = key::kOption,
         .key = key::kInterface,
         .type = QMetaType::Bool,
         .defaultValue = false,
         .form = StoredForm::Switch},
        {.setting = Setting::LinePowerIndex,
         .section = key::kWatt,
         .key = key::kLine,
         .type = QMetaType::Int,
         .defaultValue = 1,
         .form = StoredForm::Number,
         .lowest = 0,
         .highest = 4},
        {.setting = Setting::RefreshSeconds,
         .section = key::kTimer,
         .key = key::kRefresh,
         .type = QMetaType::Int,
         .defaultValue = 30,
         .form = StoredForm::Number,
         .lowest = 10,
         .highest = 3600,
         .choices = {10, 30, 60, 600, 1800, 3600}},
        {.setting = Setting::LostFrameSwitch,
         .section = key::kFrame,
         .key = key::kLost,
         .type = QMetaType::Bool,
         .defaultValue = true,
         .form = StoredForm::Switch},
        {.setting = Setting::LanguageCode,
         .section = key::kOption,
         .key = key::kLanguage,
         .type = QMetaType::QString,
         .defaultValue = QStringLiteral("ita"),
         .form = StoredForm::Text,
         .accepts = acceptsLanguage},
        {.setting = Setting::StartMinimized,
         .section = key::kOption,
         .key = key::kMinimized,
         .type = QMetaType::Bool,
         .defaultValue = false,
         .form = StoredForm::Switch},
        {.setting = Setting::StartAutomatic,
         .section = key::kStart,
         .key = key::kAuto,
         .type = QMetaType::Bool,
         .defaultValue = false,
         .form = StoredForm::Switch},
        {.setting = Setting::StartRecording,
         .section = key::kStart,
         .key = key::kRecAuto,
         .type = QMetaType::Bool,
         .defaultValue = false,
         .form = StoredForm::Switch},
        priceEntry(Setting::PriceF1, key::kPriceF1),
        priceEntry(Setting::PriceF2, key::kPriceF2),
        priceEntry(Setting::PriceF3, key::kPriceF3),
        {.setting = Setting::Currency,
         .section = key::kTariff,
         .key = key::kCurrency,
         .type = QMetaType::QString,
         .defaultValue = QString(),
         .form = StoredForm::Text},
        {.setting = Setting::MeterSource,
         .section = key::kMeter,
         .key = key::kSource,
         .type = QMetaType::QString,
         .defaultValue = QStringLiteral("central"),
         .form = StoredForm::Text,
         .accepts = acceptsMeterSource},
        {.setting = Setting::MeterWhere,
         .section = key::kMeter,
         .key = key::kWhere,
         .type = QMetaType::QString,
         .defaultValue = QStringLiteral("51"),
         .form = StoredForm::Text,
         .accepts = acceptsMeterAddress},
        {.setting = Setting::MqttHost,
         .section = key::kMqtt,
         .key = key::kHost,
         .type = QMetaType::QString,
         .defaultValue = QString(),
         .form = StoredForm::Text},
        {.setting = Setting::MqttPort,
         .section = key::kMqtt,
         .key = key::kPort,
         .type = QMetaType::Int,
         .defaultValue = 1883,
         .form = StoredForm::Number,
         .lowest = 1,
         .highest = 65535},
        {.setting = Setting::MqttUser,
         .section = key::kMqtt,
         .key = key::kUser,
         .type = QMetaType::QString,
         .defaultValue = QString(),
         .form = StoredForm::Text},
        {.setting = Setting::MqttPassword,
         .section = key::kMqtt,
         .key = key::kPassword,
         .type = QMetaType::QString,
         .defaultValue = QString(),
         .form = StoredForm::Scrambled,
         .accepts = acceptsPassword},
        {.setting = Setting::MqttTls,
         .section = key::kMqtt,
         .key = key::kTls,
         .type = QMetaType::Bool,
         .defaultValue = false,
         .form = StoredForm::Switch},
        {.setting = Setting::MqttCaFile,
         .section = key::kMqtt,
         .key = key::kCaFile,
         .type = QMetaType::QString,
         .defaultValue = QString(),
         .form = StoredForm::Text},
        {.setting = Setting::MqttTopic,
         .section = key::kMqtt,
         .key = key::kTopic,
         .type = QMetaType::QString,
         .defaultValue = QStringLiteral("powerlog"),
         .form = StoredForm::Text,
         .accepts = acceptsTopic},
        {.setting = Setting::MqttDiscovery,
         .section = key::kMqtt,
         .key = key::kDiscovery,
         .type = QMetaType::Bool,
         .defaultValue = true,
         .form = StoredForm::Switch},
        {.setting = Setting::MqttAllowCommands,
         .section = key::kMqtt,
         .key = key::kAllowCommands,
         .type = QMetaType::Bool,
         .defaultValue = false,
         .form = StoredForm::Switch},
    };
    return specs;
}

const SettingSpec& settingSpec(Setting setting)
{
    const SettingSpec& entry = settingSpecs().at(qsizetype(setting));
    Q_ASSERT(entry.setting == setting);
    return entry;
}

Settings::Settings(SettingsStore& store, QObject* parent) : QObject(parent), m_store(store)
{
    for (const SettingSpec& entry : settingSpecs())
        m_stored.insert(entry.setting, read(entry));
}

Settings::~Settings() = default;

// The store's text read with the rules of the setting's form.
QVariant Settings::read(const SettingSpec& entry) const
{
    const auto stored = [&](const QString& missing) {
        return m_store.value(entry.section, entry.key, missing);
    };
    switch (entry.form) {
    case StoredForm::Text:
        return stored(entry.defaultValue.toString());
    case StoredForm::Scrambled:
        return unscramblePassword(stored({})).value_or(entry.defaultValue.toString());
    case StoredForm::Number: {
        const std::optional<int> number = storedWholeNumber(stored({}));
        return number && isInRange(entry, *number) ? QVariant(*number) : entry.defaultValue;
    }
    case StoredForm::Switch: {
        const std::optional<int> number = storedWholeNumber(stored({}));
        return number == 0 || number == 1 ? QVariant(*number == 1) : entry.defaultValue;
    }
    case StoredForm::Price: {
        const std::optional<double> price = storedPrice(stored({}));
        return price ? QVariant(*price) : entry.defaultValue;
    }
    }
    return entry.defaultValue;
}

QVariant Settings::value(Setting setting) const
{
    const auto overridden = m_overrides.constFind(setting);
    return overridden != m_overrides.cend() ? *overridden : m_stored.value(setting);
}

QString Settings::text(Setting setting) const
{
    return value(setting).toString();
}

int Settings::number(Setting setting) const
{
    return value(setting).toInt();
}

bool Settings::isOn(Setting setting) const
{
    return value(setting).toBool();
}

quint16 Settings::port() const
{
    return quint16(number(Setting::ServerPort));
}

int Settings::linePowerWatts() const
{
    return powerlog::linePowerWatts(number(Setting::LinePowerIndex));
}

double Settings::price(Setting setting) const
{
    return value(setting).toDouble();
}

QString Settings::currency() const
{
    const QString chosen = text(Setting::Currency).trimmed();
    return chosen.isEmpty() ? localeCurrency() : chosen;
}

QString Settings::localeCurrency()
{
    const QString symbol = QLocale::system().currencySymbol(QLocale::CurrencySymbol);
    // A locale without a currency (C, POSIX): the bands priced here are Italy's.
    return symbol.isEmpty() ? QStringLiteral("€") : symbol;
}

bool Settings::isValid(Setting setting, const QVariant& value)
{
    return typedValue(settingSpec(setting), value).has_value();
}

bool Settings::set(Setting setting, const QVariant& value)
{
    const SettingSpec& entry = settingSpec(setting);
    const std::optional<QVariant> typed = typedValue(entry, value);
    if (!typed || !m_store.setValue(entry.section, entry.key, storedText(entry, *typed)))
        return false;
    const QVariant before = this->value(setting);
    // As the next start will read it.
    m_stored.insert(setting, read(entry));
    m_overrides.remove(setting);
    if (this->value(setting) != before)
        emit changed(setting);
    return true;
}

QString Settings::fileName() const
{
    return m_store.fileName();
}

void Settings::overrideForThisRun(Setting setting, const QVariant& value)
{
    const std::optional<QVariant> typed = typedValue(settingSpec(setting), value);
    if (!typed) {
        qWarning("A value out of the range of the setting %s is ignored",
                 QMetaEnum::fromType<Setting>().valueToKey(int(setting)));
        return;
    }
    const QVariant before = this->value(setting);
    m_overrides.insert(setting, *typed);
    if (*typed != before)
        emit changed(setting);
}

} // namespace powerlog
