#pragma once

#include <QString>
#include <memory>

class QSettings;

namespace powerlog {

// The per-user settings store: sections of named text values kept under the application
// name. Every write goes to disk at once.
//
// The file holds the gateway's password, so it is made readable and writable by its owner only
// (mode 0600) before anything is written to it, and an existing file is brought back to that
// mode. Values are always text: a value edited by hand with a comma in it (ServerIP=host,name),
// which QSettings would take for a list, reads back as the text written.
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

    QString value(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    // False when the value could not be written to disk (a read-only file, a folder that cannot
    // be made): it is then not kept in the store either, so the store always says what the next
    // start will read.
    bool setValue(const QString& section, const QString& key, const QString& value);

    QString fileName() const;

private:
    void createOwnerOnlyFile() const;
    void restrictToOwner() const;
    void keepListsAsText();
    QString writtenText(const QString& section, const QString& key) const;

    std::unique_ptr<QSettings> m_settings;
    QString m_iniPath; // empty for the user's own store
};

// The value of `key` in `section` of the INI file at `path`, read with the usual INI
// conventions: section and key match regardless of case, blanks around "=" and around the
// value are dropped, lines starting with ';' or '#' are comments. At most 79 characters; the
// empty text when the file, the section or the key is missing.
QString readIniValue(const QString& section, const QString& key, const QString& path);

} // namespace powerlog
