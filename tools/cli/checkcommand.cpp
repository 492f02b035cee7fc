#include "checkcommand.h"

#include "acquisition/energydatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <optional>

namespace powerlog::cli {

namespace {

QString describe(const QSqlError& error)
{
    const QString text = error.databaseText();
    return text.isEmpty() ? error.text() : text;
}

// The rows of Energy that belong in the summary, and their half hour. This restates the rule
// the database itself applies when it fills EnergyHalfHour, so that a fault in either shows up
// as a difference.
const QString kSummarizedRows =
    QStringLiteral("W IS NOT NULL AND Data GLOB "
                   "'[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]*'");
const QString kSlotOfData = QStringLiteral(
    "substr(Data, 1, 14) || CASE WHEN substr(Data, 15, 2) < '30' THEN '00' ELSE '30' END");

// Half hours whose stored summary differs from a recomputation from Energy: a slot missing on
// either side or with another count, sum or maximum.
QString summaryDifferenceQuery()
{
    return QStringLiteral(
               "WITH Expected AS (SELECT %1 AS Slot, count(*) AS Samples, sum(W) AS SumW, "
               "max(W) AS MaxW FROM Energy WHERE %2 GROUP BY 1), "
               "Stored AS (SELECT Slot, Samples, SumW, MaxW FROM %3) "
               "SELECT count(*) FROM ("
               "SELECT Slot FROM (SELECT * FROM Expected EXCEPT SELECT * FROM Stored) UNION "
               "SELECT Slot FROM (SELECT * FROM Stored EXCEPT SELECT * FROM Expected))")
        .arg(kSlotOfData, kSummarizedRows, EnergyDatabase::kRollupTable);
}

struct Extent
{
    qint64 rows = 0;
    QString first;
    QString last;
};

std::optional<Extent> extentOf(const QSqlDatabase& db, QString* error)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT count(*), min(Data), max(Data) FROM Energy")) ||
        !query.next()) {
        *error = describe(query.lastError());
        return std::nullopt;
    }
    return Extent{query.value(0).toLongLong(), query.value(1).toString(),
                  query.value(2).toString()};
}

// "ok", or SQLite's findings on one line.
QString integrityOf(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA integrity_check")))
        return describe(query.lastError());
    QStringList findings;
    while (query.next())
        findings << query.value(0).toString();
    if (query.lastError().isValid())
        findings << describe(query.lastError());
    return findings.join(QStringLiteral("; "));
}

// "ok", "N slots differ", or the error that kept the comparison from running.
QString summaryOf(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(summaryDifferenceQuery()) || !query.next())
        return describe(query.lastError());
    const qint64 differing = query.value(0).toLongLong();
    if (differing == 0)
        return QStringLiteral("ok");
    return differing == 1 ? QStringLiteral("1 slot differs")
                          : QStringLiteral("%1 slots differ").arg(differing);
}

int runCheck(const Invocation& invocation)
{
    if (const int code = expectNoArguments(invocation); code != kExitOk)
        return code;

    EnergyDatabase database(invocation.folder);
    if (!databaseFileExists(invocation, database.path()))
        return kExitNoDatabase;
    // The building reports a handful of steps; each percentage is shown once.
    int shown = -1;
    const auto progress = [&invocation, &shown](int percent) {
        if (percent > shown) {
            shown = percent;
            invocation.err << "building summary tables: " << percent << '%' << Qt::endl;
        }
        return true;
    };
    const DatabaseResult opened = database.OpenDatabase(progress);
    if (!opened.ok()) {
        invocation.err << kProgramName << ": cannot open " << database.path() << ": "
                       << opened.error << Qt::endl;
        return kExitNoDatabase;
    }

    const QSqlDatabase db = database.connection();
    bool allOk = true;
    QString error;
    if (const std::optional<Extent> extent = extentOf(db, &error)) {
        invocation.out << "rows=" << extent->rows << "\nfirst=" << extent->first
                       << "\nlast=" << extent->last << '\n';
    } else {
        invocation.err << kProgramName << ": cannot read Energy: " << error << Qt::endl;
        allOk = false;
    }
    const QString integrity = integrityOf(db);
    const QString summary = summaryOf(db);
    invocation.out << "integrity=" << integrity << "\nsummary=" << summary << '\n';
    allOk = allOk && integrity == QStringLiteral("ok") && summary == QStringLiteral("ok");
    return allOk ? kExitOk : kExitFault;
}

} // namespace

Command checkCommand()
{
    return {QStringLiteral("check"),
            {},
            QStringLiteral("verify the file and its half-hour summary\n"
                           "(the summary is built first when the file lacks it)"),
            {},
            runCheck};
}

} // namespace powerlog::cli
