// The settings on an arbitrary INI file: the input is written as a settings file and as
// load.ini, then read the way the program reads them at start-up.
//  - Settings: every value of its kind and within its documented range, whatever the file holds;
//  - readIniValue: at most 79 characters, one line, no blanks in front;
//  - the stored password: unscramblePassword and scramblePassword give each other back;
//  - acceptedServerAddress and isUsablePort on the texts the file holds, against their rules.

#include "fuzzsupport.h"

#include "app/config.h"
#include "app/settings.h"
#include "app/settingsstore.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

using namespace powerlog;

namespace {

QString writeFile(const uint8_t* data, size_t size)
{
    // /dev/shm when there is one, so that the file stays in memory.
    static const QTemporaryDir folder(QDir(QStringLiteral("/dev/shm")).exists()
                                          ? QStringLiteral("/dev/shm/powerlog-fuzz-XXXXXX")
                                          : QDir::tempPath() +
                                                QStringLiteral("/powerlog-fuzz-XXXXXX"));
    static const QString path = folder.filePath(QStringLiteral("Powerlog.ini"));
    static const QByteArray nativePath = QFile::encodeName(path);
    // QSettings keeps the files it has read and reads one again only when its size or time
    // changed: every execution gets a time of its own, a second after the last one.
    static timespec modified{1'000'000'000, 0};
    ++modified.tv_sec;

    FILE* file = std::fopen(nativePath.constData(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
    std::fclose(file);
    const timespec times[2] = {modified, modified};
    FUZZ_CHECK(::utimensat(AT_FDCWD, nativePath.constData(), times, 0) == 0);
    return path;
}

bool isDigits(const QString& text)
{
    return !text.isEmpty() &&
           std::ranges::all_of(text, [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// The port rule read plainly: digits only, 1 to 65535 once leading zeros are gone.
bool portReference(const QString& typed)
{
    if (!isDigits(typed))
        return false;
    qsizetype start = 0;
    while (start < typed.size() && typed.at(start) == u'0')
        ++start;
    const QString digits = typed.mid(start);
    return !digits.isEmpty() && digits.size() <= 5 && digits.toInt() <= 65535;
}

void checkAddress(const QString& typed)
{
    const std::optional<QString> accepted = acceptedServerAddress(typed);
    if (typed.isEmpty()) {
        FUZZ_CHECK(!accepted);
        return;
    }
    const bool numeric = typed.at(0) >= u'0' && typed.at(0) <= u'9';
    if (!numeric) {
        FUZZ_CHECK(accepted == typed);
        return;
    }
    const QStringList typedParts = typed.split(u'.');
    const bool wellFormed = typedParts.size() == 4 && std::ranges::all_of(typedParts, isDigits);
    FUZZ_CHECK_DETAIL(accepted.has_value() == wellFormed, typed);
    if (!accepted)
        return;
    const QStringList parts = accepted->split(u'.');
    FUZZ_CHECK(parts.size() == 4);
    for (int i = 0; i < 4; ++i) {
        FUZZ_CHECK(isDigits(parts[i]) && parts[i].toInt() <= 255);
        FUZZ_CHECK_DETAIL(parts[i] == typedParts[i] || parts[i] == QStringLiteral("255"), typed);
    }
    // The accepted address is accepted as it is.
    FUZZ_CHECK(acceptedServerAddress(*accepted) == accepted);
}

void checkPort(const QString& typed)
{
    FUZZ_CHECK_DETAIL(isUsablePort(typed) == portReference(typed), typed);
}

void checkStoredPassword(const QString& stored)
{
    const std::optional<QString> password = unscramblePassword(stored);
    if (!password)
        return;
    // An accepted stored form is exactly what scrambling its password with its k writes.
    const int k = stored.at(0).digitValue();
    FUZZ_CHECK_DETAIL(scramblePassword(*password, k) == stored, stored);
    for (int other = 0; other <= 8; ++other)
        FUZZ_CHECK(unscramblePassword(scramblePassword(*password, other)) == password);
}

void checkSettings(const Settings& settings)
{
    const int linePowerIndex = settings.number(Setting::LinePowerIndex);
    FUZZ_CHECK(linePowerIndex >= 0 && linePowerIndex <= 4);
    const int watts = settings.linePowerWatts();
    FUZZ_CHECK(watts == 1500 || watts == 3000 || watts == 4500 || watts == 6000 || watts == 9000);
    const QList<int> refreshChoices{10, 30, 60, 600, 1800, 3600};
    FUZZ_CHECK(refreshChoices.contains(settings.number(Setting::RefreshSeconds)));
    FUZZ_CHECK(settings.number(Setting::LostFrameSwitch) <= 1);
    // A port read from the file is one the program can connect to.
    FUZZ_CHECK_DETAIL(settings.port() >= 1, settings.text(Setting::ServerPort));
    for (QChar c : settings.text(Setting::ServerPassword))
        FUZZ_CHECK(c.unicode() <= 0xFF);
    // Every value is of its setting's kind; the numbers, switches and password are values the
    // program could have stored itself (the address and the language are taken as stored).
    for (const SettingSpec& entry : settingSpecs()) {
        const QVariant value = settings.value(entry.setting);
        FUZZ_CHECK(value.typeId() == entry.type);
        if (entry.setting != Setting::ServerAddress && entry.setting != Setting::LanguageCode)
            FUZZ_CHECK_DETAIL(Settings::isValid(entry.setting, value), value.toString());
    }
}

void checkIniValue(const QString& value)
{
    FUZZ_CHECK(value.size() <= 79);
    FUZZ_CHECK(!value.contains(u'\n') && !value.contains(u'\r'));
    FUZZ_CHECK(value.isEmpty() || !value.at(0).isSpace());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::ensureApplication();
    const QString path = writeFile(data, size);
    {
        SettingsStore store(path);
        const Settings settings(store);
        checkSettings(settings);
        checkAddress(store.value(key::kOption, key::kServerIp, QString()));
        checkPort(store.value(key::kOption, key::kServerPort, QString()));
        checkStoredPassword(store.value(key::kOption, key::kServerPassword, QString()));
    }
    // The first two load names: the other six are read the same way.
    for (int priority = 1; priority <= 2; ++priority) {
        const QString name =
            readIniValue(QStringLiteral("priority"), QString::number(priority), path);
        checkIniValue(name);
        checkAddress(name);
        checkPort(name);
        checkStoredPassword(name);
    }
    return 0;
}
