#include "readaccess.h"

#include "acquisition/sqliteconnection.h"
#include "app/settings.h"
#include "app/settingsstore.h"

#include "acquisition/energydatabase.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <signal.h>

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

namespace {

// Written by the signal handler, read by the job's thread.
std::atomic<int> g_receivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kStopSignals[] = {SIGINT, SIGTERM};
struct sigaction g_previous[std::size(kStopSignals)];

extern "C" void noteStopSignal(int signal)
{
    g_receivedSignal.store(signal);
}

} // namespace

SignalStop::SignalStop()
{
    g_receivedSignal.store(0);
    struct sigaction action = {};
    action.sa_handler = noteStopSignal;
    sigemptyset(&action.sa_mask);
    // SQLite's reads and writes go on after the handler.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        sigaction(kStopSignals[i], &action, &g_previous[i]);
}

SignalStop::~SignalStop()
{
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        sigaction(kStopSignals[i], &g_previous[i], nullptr);
}

int SignalStop::received() const
{
    return g_receivedSignal.load();
}

void SignalStop::endAsAsked(const Invocation& invocation, bool interrupted) const
{
    if (interrupted) {
        invocation.err << kProgramName
                       << ": stopped; the file is as it was, and the summary tables are built at "
                          "the next run"
                       << Qt::endl;
    }
    const int signal = received();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::exit(128 + signal);
}

EnergyDatabase::Progress summaryProgressOnStderr(const Invocation& invocation,
                                                 const SignalStop& stop)
{
    // Shared by the copies that each step of the building keeps.
    return [&err = invocation.err, &stop, shown = std::make_shared<int>(-1)](int percent) {
        if (percent > *shown) {
            *shown = percent;
            err << "building summary tables: " << percent << '%' << Qt::endl;
        }
        return stop.received() == 0;
    };
}

namespace {

// Both summaries and the hour table, each with its trigger: nothing is missing. True as well
// when that cannot be read: the reading that follows says why.
bool hasSummaryTables(const SqliteConnection& connection)
{
    QSqlQuery query(connection.db());
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' "
                                   "AND name IN ('%1', '%2') COLLATE NOCASE")
                        .arg(EnergyDatabase::kSummaryTrigger, EnergyDatabase::kHourTrigger)) ||
        !query.next())
        return true;
    return query.value(0).toInt() == 2;
}

} // namespace

bool ensureSummaryTables(const Invocation& invocation,
                         std::unique_ptr<SqliteConnection>& connection, const QString& name)
{
    if (hasSummaryTables(*connection))
        return true;
    const QString file = QDir(invocation.folder).filePath(EnergyDatabase::kFileName);
    if (!QFileInfo(file).isWritable() || !QFileInfo(invocation.folder).isWritable()) {
        invocation.err << kProgramName
                       << ": the file has no summary tables; a writable copy builds them: "
                       << kProgramName << " check --folder <folder of the copy>" << Qt::endl;
        return true;
    }
    connection.reset(); // building changes the journal, which needs the file to itself
    {
        const SignalStop stop;
        EnergyDatabase database(invocation.folder);
        const DatabaseResult opened = database.open(summaryProgressOnStderr(invocation, stop));
        database.close();
        if (stop.received() != 0)
            stop.endAsAsked(invocation, opened.interrupted);
        if (!opened.ok()) {
            invocation.err << kProgramName << ": cannot build the summary tables of " << file
                           << ": " << opened.error << Qt::endl;
        }
    }
    connection = openReadOnly(invocation, name);
    return connection != nullptr;
}

TariffPrices settingsPrices(const Invocation& invocation)
{
    const auto store = invocation.settingsFile.isEmpty()
                           ? std::make_unique<SettingsStore>()
                           : std::make_unique<SettingsStore>(invocation.settingsFile);
    return tariffPrices(Settings(*store));
}

} // namespace powerlog::cli
