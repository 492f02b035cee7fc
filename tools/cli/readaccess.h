#pragma once

#include "dispatcher.h"

#include "acquisition/tariffbands.h"

#include <QDate>
#include <QString>

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

// The prices of the settings the command is given: --settings FILE, else the user's own.
TariffPrices settingsPrices(const Invocation& invocation);

} // namespace powerlog::cli
