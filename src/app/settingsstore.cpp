#include "app/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTextStream>

namespace powerlog {

namespace {
const QString kApplicationName = QStringLiteral("Powerlog");
constexpr int kIniValueLimit = 79;

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

QString groupKey(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}

bool isList(const QVariant& value)
{
    return value.typeId() == QMetaType::QStringList;
}

std::unique_ptr<QSettings> userSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, kApplicationName,
                                       kApplicationName);
}

} // namespace

SettingsStore::SettingsStore() : m_settings(userSettings())
{
    restrictToOwner();
}

SettingsStore::SettingsStore(const QString& iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)), m_iniPath(iniPath)
{
    restrictToOwner();
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::value(const QString& section, const QString& key,
                                  const QString& defaultValue) const
{
    const QVariant value = m_settings->value(groupKey(section, key));
    if (!value.isValid())
        return defaultValue;
    if (isList(value)) {
        const QString text = writtenText(section, key);
        return text.isNull() ? value.toStringList().join(QLatin1Char(',')) : text;
    }
    return value.toString();
}

bool SettingsStore::setValue(const QString& section, const QString& key, const QString& value)
{
    createOwnerOnlyFile();
    keepListsAsText();
    const QString name = groupKey(section, key);
    const QVariant before = m_settings->value(name);
    m_settings->setValue(name, value);
    m_settings->sync();
    if (m_settings->status() == QSettings::NoError) {
        restrictToOwner();
        return true;
    }
    // The value is not on disk: it is not kept either, so the store says what the next start
    // will read. QSettings goes on reporting its first error for good, so the next save gets a
    // fresh one, to be judged on its own.
    if (before.isValid())
        m_settings->setValue(name, before);
    else
        m_settings->remove(name);
    m_settings = m_iniPath.isEmpty() ? userSettings()
                                     : std::make_unique<QSettings>(m_iniPath, QSettings::IniFormat);
    return false;
}

// QSettings replaces the file through a temporary one that takes the old file's permissions,
// so a file that starts owner-only stays so, and the password is never readable by others.
void SettingsStore::createOwnerOnlyFile() const
{
    const QString path = m_settings->fileName();
    if (QFileInfo::exists(path))
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly);
}

void SettingsStore::restrictToOwner() const
{
#ifdef Q_OS_UNIX
    const QString path = m_settings->fileName();
    QFile file(path);
    if (file.exists() && (file.permissions() & ~(kOwnerOnly | QFile::ReadUser | QFile::WriteUser)))
        file.setPermissions(kOwnerOnly);
#endif
}

// Lists only come from values edited by hand; written back as QSettings writes lists they
// would lose their blanks, so they are written back as the text they were.
void SettingsStore::keepListsAsText()
{
    for (const QString& name : m_settings->allKeys()) {
        if (!isList(m_settings->value(name)))
            continue;
        const qsizetype slash = name.indexOf(QLatin1Char('/'));
        if (slash < 0)
            continue;
        const QString text = writtenText(name.left(slash), name.mid(slash + 1));
        if (!text.isNull())
            m_settings->setValue(name, text);
    }
}

// The value of `key` in `section` as it stands in the file, blanks around it dropped; a null
// text when the file does not hold it. Sections and keys match exactly, as QSettings matches
// them.
QString SettingsStore::writtenText(const QString& section, const QString& key) const
{
    QFile file(m_settings->fileName());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QTextStream in(&file);
    QString found;
    bool inSection = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inSection = line == QLatin1Char('[') + section + QLatin1Char(']');
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inSection && equals > 0 && line.left(equals).trimmed() == key)
            found = line.mid(equals + 1).trimmed();
    }
    return found;
}

QString SettingsStore::fileName() const
{
    return m_settings->fileName();
}

QString readIniValue(const QString& section, const QString& key, const QString& path)
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
