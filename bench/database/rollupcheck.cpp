#include "rollupcheck.h"

#include "acquisition/energyhours.h"

#include "acquisition/sqliteconnection.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <atomic>

namespace powerlog::bench {

namespace {

// The statements below restate those of src/acquisition/energydatabase.cpp on purpose, rather
// than calling them: the baseline is an independent account of the same work, and summarize()
// compares the schema text and totals each side leaves, so a change on either side that the
// other does not follow fails the run instead of passing unnoticed.

// The trigger that fills both summary tables.
const QString kTrigger = QStringLiteral("EnergySummariesOnInsert");

QString rowCondition(const QString& row)
{
    return QStringLiteral("%1W IS NOT NULL AND %1Data GLOB "
                          "'[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]*'")
        .arg(row);
}

QString slotOf(const QString& data)
{
    return QStringLiteral("substr(%1, 1, 14) || CASE WHEN substr(%1, 15, 2) < '30' "
                          "THEN '00' ELSE '30' END")
        .arg(data);
}

QString upsert(const QString& key)
{
    return QStringLiteral("ON CONFLICT (%1) DO UPDATE SET Samples = Samples + excluded.Samples, "
                          "SumW = SumW + excluded.SumW, MaxW = max(MaxW, excluded.MaxW)")
        .arg(key);
}

QString summaryTable(const QString& name, const QString& key)
{
    return QStringLiteral("CREATE TABLE %1 (%2 TEXT PRIMARY KEY, "
                          "Samples INTEGER NOT NULL, SumW INTEGER NOT NULL, MaxW INTEGER NOT NULL) "
                          "WITHOUT ROWID")
        .arg(name, key);
}

// Count, sum and maximum of one summary table.
bool readTotals(QSqlQuery& query, const QString& table, SummaryTotals* totals, QString* error)
{
    if (!query.exec(QStringLiteral("SELECT count(*), sum(Samples), sum(SumW), max(MaxW) FROM %1")
                        .arg(table)) ||
        !query.next()) {
        *error = query.lastError().text();
        return false;
    }
    *totals = {query.value(0).toLongLong(), query.value(1).toLongLong(),
               query.value(2).toLongLong(), query.value(3).toLongLong()};
    return true;
}

// A name for each check's connection of its own.
QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("bench-check-%1").arg(++counter);
}

} // namespace

QString SummaryTotals::describe(const QString& rowsName) const
{
    return QStringLiteral("%1 %2, %3 samples, sum W %4, max W %5")
        .arg(rows)
        .arg(rowsName)
        .arg(samples)
        .arg(sumW)
        .arg(maxW);
}

QString RollupSummary::describe() const
{
    return QStringLiteral("%1; %2; journal %3")
        .arg(halfHours.describe(QStringLiteral("half hours")),
             days.describe(QStringLiteral("days")), journalMode);
}

std::optional<RollupSummary> summarize(const QString& file, QString* error)
{
    if (!QFileInfo(file).isFile()) {
        *error = QStringLiteral("%1 is missing").arg(file);
        return {};
    }
    const SqliteConnection connection(nextConnectionName(), file, SqliteMode::ReadWriteCreate);
    QSqlQuery query(connection.db());
    RollupSummary summary;
    if (!query.exec(QStringLiteral("SELECT group_concat(sql, ';\n') FROM (SELECT sql FROM "
                                   "sqlite_master WHERE name IN ('EnergyHalfHour', 'EnergyDay', "
                                   "'%1', 'EnergyByData') ORDER BY name)")
                        .arg(kTrigger)) ||
        !query.next()) {
        *error = query.lastError().text();
        return {};
    }
    summary.schema = query.value(0).toString();
    if (!query.exec(QStringLiteral("PRAGMA journal_mode")) || !query.next()) {
        *error = query.lastError().text();
        return {};
    }
    summary.journalMode = query.value(0).toString();
    if (!readTotals(query, QStringLiteral("EnergyHalfHour"), &summary.halfHours, error) ||
        !readTotals(query, QStringLiteral("EnergyDay"), &summary.days, error))
        return {};
    return summary;
}

qint64 energyRows(const QString& file)
{
    const SqliteConnection connection(nextConnectionName(), file, SqliteMode::ReadWriteCreate);
    QSqlQuery query(connection.db());
    if (!query.exec(QStringLiteral("SELECT max(rowid) FROM Energy")) || !query.next())
        return 0;
    return query.value(0).toLongLong();
}

qint64 summarySamplesFrom(const QString& file, const QString& firstSlot)
{
    const SqliteConnection connection(nextConnectionName(), file, SqliteMode::ReadWriteCreate);
    QSqlQuery query(connection.db());
    query.prepare(QStringLiteral("SELECT total(Samples) FROM EnergyHalfHour WHERE Slot >= ?"));
    query.addBindValue(firstSlot);
    if (!query.exec() || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

QString singleTransactionRebuild()
{
    const QStringList statements{
        QStringLiteral("PRAGMA journal_mode=WAL"),
        QStringLiteral("PRAGMA synchronous=FULL"),
        QStringLiteral("BEGIN"),
        QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(kTrigger),
        QStringLiteral("DROP TABLE IF EXISTS EnergyHalfHour"),
        QStringLiteral("DROP TABLE IF EXISTS EnergyDay"),
        summaryTable(QStringLiteral("EnergyHalfHour"), QStringLiteral("Slot")),
        summaryTable(QStringLiteral("EnergyDay"), QStringLiteral("Day")),
        QStringLiteral("CREATE INDEX IF NOT EXISTS EnergyByData ON Energy (Data)"),
        QStringLiteral("INSERT INTO EnergyHalfHour (Slot, Samples, SumW, MaxW) "
                       "SELECT %1, count(*), sum(W), max(W) FROM Energy WHERE %2 GROUP BY 1 ")
                .arg(slotOf(QStringLiteral("Data")), rowCondition({})) +
            upsert(QStringLiteral("Slot")),
        // A day is the sum of its half hours.
        QStringLiteral("INSERT INTO EnergyDay (Day, Samples, SumW, MaxW) "
                       "SELECT substr(Slot, 1, 10), sum(Samples), sum(SumW), max(MaxW) "
                       "FROM EnergyHalfHour GROUP BY 1 ") +
            upsert(QStringLiteral("Day")),
        QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON Energy WHEN %2 BEGIN "
                       "INSERT INTO EnergyHalfHour (Slot, Samples, SumW, MaxW) "
                       "VALUES (%3, 1, NEW.W, NEW.W) %4; "
                       "INSERT INTO EnergyDay (Day, Samples, SumW, MaxW) "
                       "VALUES (substr(NEW.Data, 1, 10), 1, NEW.W, NEW.W) %5; END")
            .arg(kTrigger, rowCondition(QStringLiteral("NEW.")), slotOf(QStringLiteral("NEW.Data")),
                 upsert(QStringLiteral("Slot")), upsert(QStringLiteral("Day"))),
        // The hour table in one statement over the whole table, and its trigger.
        energyhours::tableStatement(),
        energyhours::fillStatement(QStringLiteral("0001-01-01 00:00:00"),
                                   QStringLiteral("9999-01-01 00:00:00")),
        energyhours::triggerStatement(),
        QStringLiteral("COMMIT"),
    };
    return statements.join(QStringLiteral(";\n")) + QStringLiteral(";\n");
}

} // namespace powerlog::bench
