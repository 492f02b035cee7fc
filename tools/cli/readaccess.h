#pragma once

#include "dispatcher.h"

#include "acquisition/energydatabase.h"
#include "acquisition/tariffbands.h"

#include <QDate>
#include <QString>
#include <memory>
#include <optional>

namespace powerlog {
class SqliteConnection;
}

namespace powerlog::cli {

// Only the program's own day form: four-digit year, two-digit month and day, a real date;
// an invalid date otherwise.
QDate dayFromText(const QString& text);

// Opened, and a database with an Energy table; else why not. SQLite reads nothing at open, so a
// file that is no database only shows itself at the first statement.
bool isUsableDatabase(const SqliteConnection& connection, QString* error);

// The arguments of the commands that read one period: "daily|monthly|yearly YYYY-MM-DD".
struct PeriodArguments
{
    int period = 0; // 0 daily, 1 monthly, 2 yearly
    QDate date;
};

// The period and the date, or nothing when they are wrong: the complaint is then on stderr,
// naming the period as `what` ("a chart type", "a period"), and the command exits kExitUsage.
std::optional<PeriodArguments> periodArguments(const Invocation& invocation, const QString& what);

// A read-only connection named `name` to the folder's DbEnergy.mdb, so nothing in the file
// changes; nothing when the file is missing or no usable database: the complaint is then on
// stderr and the command exits kExitNoDatabase.
std::unique_ptr<SqliteConnection> openReadOnly(const Invocation& invocation, const QString& name);

// The progress of building the summary tables on stderr, "building summary tables: N%", each
// percentage once.
EnergyDatabase::Progress summaryProgressOnStderr(const Invocation& invocation);

// The prices of the settings the command is given: --settings FILE, else the user's own.
TariffPrices settingsPrices(const Invocation& invocation);

} // namespace powerlog::cli
