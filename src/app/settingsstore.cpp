#include "app/settingsstore.h"

#include <QFile>
#include <QSettings>
#include <QTextStream>

namespace powerlog {

namespace {
const QString kApplicationName = QStringLiteral("Powerlog");
constexpr int kIniValueLimit = 79;

QString groupKey(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}
} // namespace

SettingsStore::SettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                             kApplicationName, kApplicationName))
{
}

SettingsStore::SettingsStore(const QString& iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat))
{
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::GetSetting(const QString& section, const QString& key,
                                  const QString& defaultValue) const
{
    const QVariant value = m_settings->value(groupKey(section, key));
    if (!value.isValid())
        return defaultValue;
    return value.toString();
}

void SettingsStore::SaveSetting(const QString& section, const QString& key, const QString& value)
{
    m_settings->setValue(groupKey(section, key), value);
    m_settings->sync();
}

QString SettingsStore::fileName() const
{
    return m_settings->fileName();
}

QString ReadIniValue(const QString& section, const QString& key, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QTextStream in(&file);
    bool inSection = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            const QString name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        if (line.left(equals).trimmed().compare(key, Qt::CaseInsensitive) != 0)
            continue;
        return line.mid(equals + 1).trimmed().left(kIniValueLimit);
    }
    return {};
}

} // namespace powerlog
