#include "readaccess.h"

#include "acquisition/sqliteconnection.h"
#include "app/settings.h"
#include "app/settingsstore.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <QVariant>
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

TariffPrices settingsPrices(const Invocation& invocation)
{
    const auto store = invocation.settingsFile.isEmpty()
                           ? std::make_unique<SettingsStore>()
                           : std::make_unique<SettingsStore>(invocation.settingsFile);
    return tariffPrices(Settings(*store));
}

} // namespace powerlog::cli
