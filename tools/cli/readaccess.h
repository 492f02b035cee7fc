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

// While it lives, SIGINT and SIGTERM ask a long job to stop instead of ending the program at
// once: the job ends within its statement and leaves the file as it was. One at a time.
class SignalStop
{
public:
    SignalStop();
    ~SignalStop();
    SignalStop(const SignalStop&) = delete;
    SignalStop& operator=(const SignalStop&) = delete;

    // The signal received, 0 while none.
    int received() const;
    // Ends the program as the signal would have, once the file is left in order; when the
    // building was `interrupted` (it may have ended just before the signal), says so first.
    [[noreturn]] void endAsAsked(const Invocation& invocation, bool interrupted) const;
};

// The progress of building the summary tables on stderr, "building summary tables: N%", each
// percentage once; the building stops once `stop` has received a signal.
EnergyDatabase::Progress summaryProgressOnStderr(const Invocation& invocation,
                                                 const SignalStop& stop);

// For the commands that read: a file without its summary tables or its hour table (written by
// another program, or its first open stopped) gets them built first when it can be written, as
// the program's own first open does, with the progress on stderr; SIGINT or SIGTERM stops the
// building, leaving the file as it was, and ends the program. A file that cannot be written is
// read from its readings, which takes long on a large file: one line on stderr says so, and how
// to build them. `connection`, named `name`, is opened again after the building; false only
// when that failed (the complaint is then on stderr).
bool ensureSummaryTables(const Invocation& invocation,
                         std::unique_ptr<SqliteConnection>& connection, const QString& name);

// The prices of the settings the command is given: --settings FILE, else the user's own.
TariffPrices settingsPrices(const Invocation& invocation);

} // namespace powerlog::cli
