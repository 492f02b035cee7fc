#include "acquisition/databasecheck.h"

#include "acquisition/energydatabase.h"
#include "acquisition/energyhours.h"
#include "acquisition/sqliteconnection.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace powerlog {

namespace {

// The rows of Energy that belong in the summaries, their half hour and their day. This restates
// the rule the database itself applies when it fills EnergyHalfHour and EnergyDay, so that a
// fault in either shows up as a difference.
const QString kSummarizedRows =
    QStringLiteral("W IS NOT NULL AND Data GLOB "
                   "'[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]*'");
const QString kSlotOfData = QStringLiteral(
    "substr(Data, 1, 14) || CASE WHEN substr(Data, 15, 2) < '30' THEN '00' ELSE '30' END");

const QString kDayOfData = QStringLiteral("substr(Data, 1, 10)");

// One summary table: its key column, how the key follows from Data, and the words its
// differences are told in.
struct SummaryTable
{
    QString table;
    QString key;
    QString keyOfData;
    QString oneDiffers; // "1 slot differs"
    QString manyDiffer; // "%1 slots differ"
};

SummaryTable halfHourSummary()
{
    return {EnergyDatabase::kRollupTable, QStringLiteral("Slot"), kSlotOfData,
            QStringLiteral("1 slot differs"), QStringLiteral("%1 slots differ")};
}

SummaryTable daySummary()
{
    return {EnergyDatabase::kDayTable, QStringLiteral("Day"), kDayOfData,
            QStringLiteral("1 day differs"), QStringLiteral("%1 days differ")};
}

// Keys whose stored summary differs from a recomputation from Energy: a key missing on either
// side or with another count, sum or maximum.
QString summaryDifferenceQuery(const SummaryTable& summary)
{
    return QStringLiteral(
               "WITH Expected AS (SELECT %1 AS %2, count(*) AS Samples, sum(W) AS SumW, "
               "max(W) AS MaxW FROM Energy WHERE %3 GROUP BY 1), "
               "Stored AS (SELECT %2, Samples, SumW, MaxW FROM %4) "
               "SELECT count(*) FROM ("
               "SELECT %2 FROM (SELECT * FROM Expected EXCEPT SELECT * FROM Stored) UNION "
               "SELECT %2 FROM (SELECT * FROM Stored EXCEPT SELECT * FROM Expected))")
        .arg(summary.keyOfData, summary.key, kSummarizedRows, summary.table);
}

// Hours whose stored energy or coverage differs from a count from Energy. Hours that net to
// nothing (a pair taken away again) count as missing.
QString hourDifferenceQuery()
{
    const QString something = QStringLiteral("WHERE WattSeconds <> 0 OR Seconds <> 0");
    return QStringLiteral("WITH Expected AS (SELECT Hour, round(WattSeconds, 3), Seconds "
                          "FROM (%1) %2), "
                          "Stored AS (SELECT Hour, round(WattSeconds, 3), Seconds FROM %3 %2) "
                          "SELECT count(*) FROM ("
                          "SELECT Hour FROM (SELECT * FROM Expected EXCEPT SELECT * FROM Stored) "
                          "UNION "
                          "SELECT Hour FROM (SELECT * FROM Stored EXCEPT SELECT * FROM Expected))")
        .arg(energyhours::countStatement(QStringLiteral("0001-01-01 00:00:00"),
                                         QStringLiteral("9999-01-01 00:00:00")),
             something, EnergyDatabase::kHourTable);
}

// "ok", or SQLite's findings on one line.
QString integrityOf(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA integrity_check")))
        return sqlErrorText(query.lastError());
    QStringList findings;
    while (query.next())
        findings << query.value(0).toString();
    if (query.lastError().isValid())
        findings << sqlErrorText(query.lastError());
    return findings.join(QStringLiteral("; "));
}

// "ok", "N slots differ" ("N days differ", "N hours differ"), or the error that kept the
// comparison from running.
QString differencesOf(const QSqlDatabase& db, const QString& sql, const QString& oneDiffers,
                      const QString& manyDiffer)
{
    QSqlQuery query(db);
    if (!query.exec(sql) || !query.next())
        return sqlErrorText(query.lastError());
    const qint64 differing = query.value(0).toLongLong();
    if (differing == 0)
        return QStringLiteral("ok");
    return differing == 1 ? oneDiffers : manyDiffer.arg(differing);
}

QString summaryOf(const QSqlDatabase& db, const SummaryTable& summary)
{
    return differencesOf(db, summaryDifferenceQuery(summary), summary.oneDiffers,
                         summary.manyDiffer);
}

} // namespace

bool DatabaseCheck::ok() const
{
    const QString good = QStringLiteral("ok");
    return extentRead && integrity == good && halfHours == good && days == good && hours == good;
}

DatabaseCheck checkEnergyDatabase(const QSqlDatabase& db)
{
    DatabaseCheck check;
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("SELECT count(*), min(Data), max(Data) FROM Energy")) &&
        query.next()) {
        check.extentRead = true;
        check.rows = query.value(0).toLongLong();
        check.first = query.value(1).toString();
        check.last = query.value(2).toString();
    } else {
        check.extentError = sqlErrorText(query.lastError());
    }
    query.finish();
    check.integrity = integrityOf(db);
    check.halfHours = summaryOf(db, halfHourSummary());
    check.days = summaryOf(db, daySummary());
    check.hours = differencesOf(db, hourDifferenceQuery(), QStringLiteral("1 hour differs"),
                                QStringLiteral("%1 hours differ"));
    return check;
}

} // namespace powerlog
