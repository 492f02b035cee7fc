#include "readaccess.h"

#include "acquisition/sqliteconnection.h"
#include "app/settings.h"
#include "app/settingsstore.h"

#include "acquisition/energydatabase.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <memory>

namespace powerlog::cli {

QDate dayFromText(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    if (!form.match(text).hasMatch())
        return {};
    return QDate::fromString(text, Qt::ISODate);
}

bool isUsableDatabase(const SqliteConnection& connection, QString* error)
{
    if (!connection.opened(error))
        return false;
    QSqlQuery query(connection.db());
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master "
                                   "WHERE type = 'table' AND name = 'Energy' COLLATE NOCASE")) ||
        !query.next()) {
        *error = sqlErrorText(query.lastError());
        return false;
    }
    if (query.value(0).toInt() == 1)
        return true;
    *error = QStringLiteral("the file has no Energy table");
    return false;
}

std::optional<PeriodArguments> periodArguments(const Invocation& invocation, const QString& what)
{
    static const char* const kPeriods[] = {"daily", "monthly", "yearly"};
    if (invocation.arguments.size() != 2) {
        invocation.err << kProgramName << ": " << invocation.command << " takes " << what
                       << " (daily, monthly or yearly) and a date (YYYY-MM-DD)" << Qt::endl;
        return std::nullopt;
    }
    const QString& name = invocation.arguments.at(0);
    const auto found =
        std::find_if(std::begin(kPeriods), std::end(kPeriods),
                     [&name](const char* each) { return name == QLatin1String(each); });
    if (found == std::end(kPeriods)) {
        invocation.err << kProgramName << ": unknown " << what.section(QLatin1Char(' '), 1) << " '"
                       << name << "' (daily, monthly or yearly)" << Qt::endl;
        return std::nullopt;
    }
    const QDate date = dayFromText(invocation.arguments.at(1));
    if (!date.isValid()) {
        invocation.err << kProgramName << ": not a date in the form YYYY-MM-DD: '"
                       << invocation.arguments.at(1) << "'" << Qt::endl;
        return std::nullopt;
    }
    return PeriodArguments{int(found - std::begin(kPeriods)), date};
}

std::unique_ptr<SqliteConnection> openReadOnly(const Invocation& invocation, const QString& name)
{
    const QString file = QDir(invocation.folder).filePath(EnergyDatabase::kFileName);
    if (!databaseFileExists(invocation, file))
        return nullptr;
    auto connection = std::make_unique<SqliteConnection>(name, file, SqliteMode::ReadOnly);
    QString openError;
    if (!isUsableDatabase(*connection, &openError)) {
        invocation.err << kProgramName << ": cannot open " << file << ": " << openError << Qt::endl;
        return nullptr;
    }
    return connection;
}

EnergyDatabase::Progress summaryProgressOnStderr(const Invocation& invocation)
{
    return [&err = invocation.err, shown = -1](int percent) mutable {
        if (percent > shown) {
            shown = percent;
            err << "building summary tables: " << percent << '%' << Qt::endl;
        }
        return true;
    };
}

TariffPrices settingsPrices(const Invocation& invocation)
{
    const auto store = invocation.settingsFile.isEmpty()
                           ? std::make_unique<SettingsStore>()
                           : std::make_unique<SettingsStore>(invocation.settingsFile);
    return tariffPrices(Settings(*store));
}

} // namespace powerlog::cli
