#pragma once

#include <QString>
#include <memory>

class QSettings;

namespace powerlog {

// The per-user settings store: sections of named text values kept under the application
// name. Every write goes to disk at once.
class SettingsStore
{
public:
    // The user's own store, under the application name.
    SettingsStore();
    // A store in the given INI file, for tests and for running beside another installation.
    explicit SettingsStore(const QString& iniPath);
    ~SettingsStore();

    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    QString GetSetting(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    void SaveSetting(const QString& section, const QString& key, const QString& value);

    QString fileName() const;

private:
    std::unique_ptr<QSettings> m_settings;
};

// The value of `key` in `section` of the INI file at `path`, read with the usual INI
// conventions: section and key match regardless of case, blanks around "=" and around the
// value are dropped, lines starting with ';' or '#' are comments. At most 79 characters; the
// empty text when the file, the section or the key is missing.
QString ReadIniValue(const QString& section, const QString& key, const QString& path);

} // namespace powerlog
