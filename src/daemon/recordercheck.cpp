#include "daemon/recordercheck.h"

#include "acquisition/databasecheck.h"
#include "acquisition/energydatabase.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "controller/recorderlock.h"
#include "daemon/recordercommandline.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace powerlog {

QStringList settingsProblems(const SettingsStore& store, const Settings& settings)
{
    QStringList problems;
    for (const auto& entry : settingSpecs()) {
        const QString stored = store.value(entry.section, entry.key, QString());
        if (stored.isNull())
            continue; // not stored: the default holds
        const QString where = entry.section + QLatin1Char('/') + entry.key;
        if (entry.form == StoredForm::Scrambled) {
            if (!stored.isEmpty() && settings.text(entry.setting).isEmpty())
                problems << QStringLiteral("%1: the stored password cannot be read").arg(where);
        } else if (!Settings::isValid(entry.setting, stored)) {
            problems << QStringLiteral("%1: \"%2\" is not a valid value").arg(where, stored);
        }
    }
    if (settings.text(Setting::ServerAddress).trimmed().isEmpty())
        problems << QStringLiteral("Option/ServerIP: no gateway address is set");
    return problems;
}

int runRecorderCheck(SettingsStore& store, const QString& folder, QTextStream& out,
                     QTextStream& err)
{
    const QString settingsFile = store.fileName();
    out << "settings=" << QDir::toNativeSeparators(settingsFile) << '\n';
    bool allOk = true;
    if (!QFileInfo(settingsFile).isFile()) {
        err << "powerlogd: settings file not found: " << QDir::toNativeSeparators(settingsFile)
            << Qt::endl;
        allOk = false;
    }
    const Settings settings(store);
    out << "gateway=" << settings.text(Setting::ServerAddress) << ':' << settings.port() << '\n';
    const QStringList problems = settingsProblems(store, settings);
    for (const QString& problem : problems)
        err << "powerlogd: " << problem << Qt::endl;
    allOk = allOk && problems.isEmpty();
    out << "settings_check="
        << (problems.isEmpty() ? QStringLiteral("ok")
                               : QStringLiteral("%1 problem(s)").arg(problems.size()))
        << '\n';

    EnergyDatabase database(folder);
    out << "database=" << QDir::toNativeSeparators(database.path()) << '\n';
    out.flush();
    if (!QFileInfo(database.path()).isFile()) {
        err << "powerlogd: file not found: " << QDir::toNativeSeparators(database.path())
            << Qt::endl;
        return kRecorderNoDatabase;
    }
    const DatabaseResult opened = database.open();
    if (!opened.ok()) {
        err << "powerlogd: cannot open " << QDir::toNativeSeparators(database.path()) << ": "
            << opened.error << Qt::endl;
        return kRecorderNoDatabase;
    }
    const DatabaseCheck check = checkEnergyDatabase(database.connection());
    if (check.extentRead)
        out << "rows=" << check.rows << "\nfirst=" << check.first << "\nlast=" << check.last
            << '\n';
    else
        err << "powerlogd: cannot read Energy: " << check.extentError << Qt::endl;
    out << "integrity=" << check.integrity << "\nsummary=" << check.halfHours
        << "\nday_summary=" << check.days << "\nhour_energy=" << check.hours << '\n';
    allOk = allOk && check.ok();

    const RecorderLock lock(database.path());
    const qint64 holder = lock.holder();
    out << "recorder="
        << (holder > 0 ? QStringLiteral("process %1").arg(holder) : QStringLiteral("none")) << '\n';
    out.flush();
    return allOk ? kRecorderOk : kRecorderFault;
}

} // namespace powerlog
