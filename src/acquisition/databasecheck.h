#pragma once

#include <QSqlDatabase>
#include <QString>

namespace powerlog {

// What a check of an open energy database found: the extent of Energy, SQLite's integrity check
// and the summaries (half hours, days, hourly energy) compared with a count from Energy. Each
// finding is "ok", "N slots differ" ("N days differ", "N hours differ"), SQLite's findings on
// one line, or the error that kept the comparison from running.
struct DatabaseCheck
{
    bool extentRead = false; // Energy could be counted; else extentError says why
    QString extentError;
    qint64 rows = 0;
    QString first; // Data of the oldest and the newest row, empty without rows
    QString last;
    QString integrity;
    QString halfHours;
    QString days;
    QString hours;

    bool ok() const;
};

// Checks the file behind `db` (powerlog-cli check, powerlogd --check). Reads only.
DatabaseCheck checkEnergyDatabase(const QSqlDatabase& db);

} // namespace powerlog
