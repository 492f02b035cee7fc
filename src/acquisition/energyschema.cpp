#include "acquisition/energyschema.h"

#include "acquisition/energyhours.h"
#include "acquisition/lowpriority.h"
#include "acquisition/sqliteconnection.h"

#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <algorithm>

namespace powerlog {

namespace {

// Fills both summary tables. Files of earlier versions had a trigger of another name that
// filled EnergyHalfHour alone; its absence tells that EnergyDay must be added.
const QString kSummaryTrigger = EnergyDatabase::kSummaryTrigger;
const QString kHalfHourTrigger = QStringLiteral("EnergyHalfHourOnInsert");

// Rows that can be placed in a half hour: a power value and a Data in our own text form.
QString rollupCondition(const QString& row)
{
    return QStringLiteral("%1W IS NOT NULL AND %1Data GLOB "
                          "'[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]*'")
        .arg(row);
}

// 'yyyy-MM-dd HH:mm:ss' -> 'yyyy-MM-dd HH:00' or 'yyyy-MM-dd HH:30'.
QString slotOf(const QString& data)
{
    return QStringLiteral("substr(%1, 1, 14) || CASE WHEN substr(%1, 15, 2) < '30' "
                          "THEN '00' ELSE '30' END")
        .arg(data);
}

QStringList energyTableStatements()
{
    return {QStringLiteral("CREATE TABLE Energy (V REAL, a REAL, W INTEGER, e REAL, Data TEXT)")};
}

QString upsert(const QString& key)
{
    return QStringLiteral("ON CONFLICT (%1) DO UPDATE SET Samples = Samples + excluded.Samples, "
                          "SumW = SumW + excluded.SumW, MaxW = max(MaxW, excluded.MaxW)")
        .arg(key);
}

QString slotUpsert()
{
    return upsert(QStringLiteral("Slot"));
}

QString dayTableStatement()
{
    return QStringLiteral("CREATE TABLE EnergyDay (Day TEXT PRIMARY KEY, "
                          "Samples INTEGER NOT NULL, SumW INTEGER NOT NULL, MaxW INTEGER NOT NULL) "
                          "WITHOUT ROWID");
}

// EnergyDay from EnergyHalfHour: a day is the sum of its 48 half hours.
QString dayFillStatement()
{
    return QStringLiteral("INSERT INTO EnergyDay (Day, Samples, SumW, MaxW) "
                          "SELECT substr(Slot, 1, 10), sum(Samples), sum(SumW), max(MaxW) "
                          "FROM EnergyHalfHour GROUP BY 1 ") +
           upsert(QStringLiteral("Day"));
}

// Drops the rollup and makes it anew, empty; the index on Data comes with it.
QStringList rollupResetStatements()
{
    return {
        QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(kSummaryTrigger),
        QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(kHalfHourTrigger),
        QStringLiteral("DROP TABLE IF EXISTS EnergyHalfHour"),
        QStringLiteral("DROP TABLE IF EXISTS EnergyDay"),
        QStringLiteral("CREATE TABLE EnergyHalfHour (Slot TEXT PRIMARY KEY, "
                       "Samples INTEGER NOT NULL, SumW INTEGER NOT NULL, MaxW INTEGER NOT NULL) "
                       "WITHOUT ROWID"),
        dayTableStatement(),
    };
}

QString indexStatement()
{
    return QStringLiteral("CREATE INDEX IF NOT EXISTS EnergyByData ON Energy (Data)");
}

// Adds the rows of Energy in `range` (an SQL condition, or empty for all) to the rollup.
QString rollupFillStatement(const QString& range)
{
    return QStringLiteral("INSERT INTO EnergyHalfHour (Slot, Samples, SumW, MaxW) "
                          "SELECT %1, count(*), sum(W), max(W) FROM Energy WHERE %2%3 GROUP BY 1 ")
               .arg(slotOf(QStringLiteral("Data")), rollupCondition({}),
                    range.isEmpty() ? QString() : QStringLiteral(" AND ") + range) +
           slotUpsert();
}

QString triggerStatement()
{
    return QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON Energy WHEN %2 BEGIN "
                          "INSERT INTO EnergyHalfHour (Slot, Samples, SumW, MaxW) "
                          "VALUES (%3, 1, NEW.W, NEW.W) %4; "
                          "INSERT INTO EnergyDay (Day, Samples, SumW, MaxW) "
                          "VALUES (substr(NEW.Data, 1, 10), 1, NEW.W, NEW.W) %5; END")
        .arg(kSummaryTrigger, rollupCondition(QStringLiteral("NEW.")),
             slotOf(QStringLiteral("NEW.Data")), slotUpsert(), upsert(QStringLiteral("Day")));
}

// A file whose EnergyHalfHour is complete but that lacks EnergyDay (written by an earlier
// version) gets it from the half hours: quick, as it never reads Energy.
QStringList dayMigrationStatements()
{
    return {QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(kHalfHourTrigger),
            QStringLiteral("DROP TABLE IF EXISTS EnergyDay"), dayTableStatement(),
            dayFillStatement(), triggerStatement()};
}

// The whole rollup in one go, for a new file.
QStringList rollupStatements()
{
    return rollupResetStatements() + QStringList{indexStatement(), rollupFillStatement({}),
                                                 dayFillStatement(), triggerStatement()};
}

bool countIs(const QSqlDatabase& db, const QString& sql, int expected, bool* matches,
             QString* error)
{
    QSqlQuery query(db);
    if (!query.exec(sql) || !query.next()) {
        *error = sqlErrorText(query.lastError());
        return false;
    }
    *matches = query.value(0).toInt() == expected;
    return true;
}

bool hasEnergyTable(const QSqlDatabase& db, bool* found, QString* error)
{
    return countIs(db,
                   QStringLiteral("SELECT count(*) FROM sqlite_master "
                                  "WHERE type = 'table' AND name = 'Energy' COLLATE NOCASE"),
                   1, found, error);
}

bool hasRollup(const QSqlDatabase& db, bool* found, QString* error)
{
    return countIs(db,
                   QStringLiteral("SELECT count(*) FROM sqlite_master WHERE "
                                  "(type = 'table' AND name IN ('EnergyHalfHour', 'EnergyDay') "
                                  "COLLATE NOCASE) "
                                  "OR (type = 'trigger' AND name = '%1' COLLATE NOCASE)")
                       .arg(kSummaryTrigger),
                   3, found, error);
}

// The complete half-hour summary of an earlier version: its table and its trigger.
bool hasHalfHourRollupOnly(const QSqlDatabase& db, bool* found, QString* error)
{
    return countIs(db,
                   QStringLiteral("SELECT count(*) FROM sqlite_master WHERE "
                                  "(type = 'table' AND name = 'EnergyHalfHour' COLLATE NOCASE) "
                                  "OR (type = 'trigger' AND name = '%1' COLLATE NOCASE)")
                       .arg(kHalfHourTrigger),
                   2, found, error);
}

// Rows of Energy added to the rollup per transaction while it is rebuilt.
constexpr qint64 kRebuildChunkRows = 1000000;
// What SQLite leaves of a WAL file after a checkpoint, at most.
constexpr qint64 kJournalSizeLimit = 64LL * 1024 * 1024;

bool largestRowid(const QSqlDatabase& db, qint64* rowid)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT max(rowid) FROM Energy")) || !query.next())
        return false; // a table without rowids
    *rowid = query.value(0).toLongLong();
    return true;
}

// Virtual machine steps of CREATE INDEX per row of the table, as measured: the scan, the sort
// and the insert into the index, nine steps in all.
constexpr double kIndexStepsPerRow = 9.0;

// Builds the index and the rollup of a file that lacks them (written by hand or by another
// program). The work runs in a rollback journal, so the file grows in place instead of
// through a WAL as large as the index, and the rollup is filled one chunk of rows per
// transaction. `progress` is asked every StatementWatch::kDefaultSteps steps as well, so that
// a stop ends the running statement (the index alone takes seconds on a large file); a stop
// leaves the trigger missing, so the next open starts over; `stopped` then tells the caller
// that nothing failed.
bool rebuildRollup(const QSqlDatabase& db, const EnergyDatabase::Progress& progress, bool* stopped,
                   QString* error)
{
    int shown = 0;
    const auto report = [&progress, stopped, &shown](int percent) {
        shown = percent;
        *stopped = progress && !progress(percent);
        return !*stopped;
    };
    qint64 last = 0;
    const bool numbered = largestRowid(db, &last);
    // While the index is made its share follows the steps taken; afterwards the chunks tell.
    bool indexing = false;
    qint64 indexCalls = 0;
    const double indexSteps = std::max(1.0, double(last) * kIndexStepsPerRow);
    StatementWatch watch(db, [&] {
        if (!indexing)
            return report(shown);
        const double done = double(++indexCalls) * StatementWatch::kDefaultSteps / indexSteps;
        return report(1 + int(38 * std::min(1.0, done)));
    });
    // Only possible while no other connection has the file open; WAL with a checkpoint after
    // every chunk serves otherwise.
    execSql(db, QStringLiteral("PRAGMA journal_mode=DELETE"), error);
    const auto checkpoint = [&db, error] {
        return execSql(db, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"), error);
    };

    if (!execTransaction(db, rollupResetStatements(), error) || !report(1))
        return false;
    indexing = true;
    const bool indexed = execSql(db, indexStatement(), error);
    indexing = false;
    if (!indexed || !checkpoint() || !report(40))
        return false;

    if (!numbered) {
        if (!execTransaction(db, {rollupFillStatement({})}, error))
            return false;
    } else {
        for (qint64 from = 1; from <= last; from += kRebuildChunkRows) {
            const QString range = QStringLiteral("rowid BETWEEN %1 AND %2")
                                      .arg(from)
                                      .arg(from + kRebuildChunkRows - 1);
            if (!execTransaction(db, {rollupFillStatement(range)}, error) || !checkpoint())
                return false;
            if (!report(40 + int(59 * std::min(last, from + kRebuildChunkRows) / last)))
                return false;
        }
    }
    return execTransaction(db, {dayFillStatement(), triggerStatement()}, error) && report(100);
}

// The hour table is complete beside its trigger.
bool hasHourTable(const QSqlDatabase& db, bool* found, QString* error)
{
    return countIs(db,
                   QStringLiteral("SELECT count(*) FROM sqlite_master WHERE "
                                  "(type = 'table' AND name = '%1' COLLATE NOCASE) "
                                  "OR (type = 'trigger' AND name = '%2' COLLATE NOCASE)")
                       .arg(EnergyDatabase::kHourTable, EnergyDatabase::kHourTrigger),
                   2, found, error);
}

// The first and the last Data of the readings that take part; empty texts when there are none.
bool dataExtent(const QSqlDatabase& db, QString* first, QString* last, QString* error)
{
    for (const auto& [function, text] :
         {std::pair{QStringLiteral("min"), first}, {QStringLiteral("max"), last}}) {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT %1(Data) FROM Energy WHERE %2")
                            .arg(function, rollupCondition({}))) ||
            !query.next()) {
            *error = sqlErrorText(query.lastError());
            return false;
        }
        *text = query.value(0).toString();
    }
    return true;
}

// Builds the hour table of a file that lacks it, one month of readings per transaction. The
// trigger comes last: a stop on the way leaves it missing, and the next open starts over.
bool buildHourTable(const QSqlDatabase& db, const EnergyDatabase::Progress& progress, bool* stopped,
                    QString* error)
{
    int shown = 0;
    const auto report = [&progress, stopped, &shown](int percent) {
        shown = percent;
        *stopped = progress && !progress(percent);
        return !*stopped;
    };
    // A month of a large file takes a while: a stop ends it in the middle.
    StatementWatch watch(db, [&report, &shown] { return report(shown); });
    if (!execTransaction(
            db,
            {QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(EnergyDatabase::kHourTrigger),
             QStringLiteral("DROP TABLE IF EXISTS %1").arg(EnergyDatabase::kHourTable),
             energyhours::tableStatement()},
            error))
        return false;
    QString first;
    QString last;
    if (!dataExtent(db, &first, &last, error))
        return false;
    if (!first.isEmpty()) {
        const QDate firstMonth =
            QDate::fromString(first.left(7) + QStringLiteral("-01"), Qt::ISODate);
        const QDate lastMonth =
            QDate::fromString(last.left(7) + QStringLiteral("-01"), Qt::ISODate);
        const qint64 months = (lastMonth.year() - firstMonth.year()) * 12 + lastMonth.month() -
                              firstMonth.month() + 1;
        qint64 done = 0;
        for (QDate month = firstMonth; month <= lastMonth; month = month.addMonths(1)) {
            const auto start = [](const QDate& day) {
                return energyhours::dataText(QDateTime(day, QTime(0, 0), Qt::UTC));
            };
            // The first and the last range reach to the ends of the table, whatever its text.
            const QString from = month == firstMonth ? first : start(month);
            const QString to =
                month == lastMonth ? last + QStringLiteral("~") : start(month.addMonths(1));
            if (!execTransaction(db, {energyhours::fillStatement(from, to)}, error))
                return false;
            if (!report(int(99 * ++done / months)))
                return false;
        }
    }
    return execTransaction(db, {energyhours::triggerStatement()}, error) && report(100);
}

// Progress of one step of several: `percent` of the step maps into [low, high].
EnergyDatabase::Progress stepOf(const EnergyDatabase::Progress& progress, int low, int high)
{
    if (!progress)
        return {};
    return
        [progress, low, high](int percent) { return progress(low + (high - low) * percent / 100); };
}

} // namespace

bool writeEnergySchema(const QString& path, QString* error)
{
    SqliteConnection work(uniqueConnectionName(QStringLiteral("powerlog-energy")), path,
                          SqliteMode::ReadWriteCreate);
    return work.opened(error) &&
           execSql(work.db(), QStringLiteral("PRAGMA journal_mode=WAL"), error) &&
           execTransaction(
               work.db(),
               energyTableStatements() + rollupStatements() +
                   QStringList{energyhours::tableStatement(), energyhours::triggerStatement()},
               error);
}

bool prepareEnergyConnection(QSqlDatabase& db, const EnergyDatabase::Progress& progress,
                             bool* stopped, QString* error)
{
    *stopped = false;
    bool found = false;
    if (!hasEnergyTable(db, &found, error))
        return false;
    if (!found) {
        *error = QStringLiteral("The database holds no table Energy.");
        return false;
    }
    if (!execSql(db, QStringLiteral("PRAGMA journal_size_limit=%1").arg(kJournalSizeLimit), error))
        return false;
    if (!hasRollup(db, &found, error))
        return false;
    bool halfHoursOnly = false;
    if (!found && !hasHalfHourRollupOnly(db, &halfHoursOnly, error))
        return false;
    if (halfHoursOnly) {
        if (!execTransaction(db, dayMigrationStatements(), error))
            return false;
        found = true;
    }
    bool hours = false;
    if (!hasHourTable(db, &hours, error))
        return false;
    bool failed = false;
    if (!found || !hours) {
        runAtLowestPriority([&] {
            if (!found &&
                !rebuildRollup(db, stepOf(progress, 0, hours ? 100 : 70), stopped, error) &&
                !*stopped)
                failed = true;
            if (!failed && !*stopped && !hours &&
                !buildHourTable(db, stepOf(progress, found ? 0 : 70, 100), stopped, error) &&
                !*stopped)
                failed = true;
        });
    }
    if (failed)
        return false;
    // Whatever was stopped, the table is there, so that clearing finds it.
    if (!execSqlAll(
            db, QStringList{energyhours::tableStatement()} + energyhours::meterTableStatements(),
            error))
        return false;
    // The hour table's trigger works through small temporary tables on every insert; kept in
    // memory they cost no file system calls.
    return execSqlAll(db,
                      {QStringLiteral("PRAGMA journal_mode=WAL"),
                       QStringLiteral("PRAGMA synchronous=FULL"),
                       QStringLiteral("PRAGMA temp_store=MEMORY")},
                      error);
}

} // namespace powerlog
