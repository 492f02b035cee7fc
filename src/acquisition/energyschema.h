#pragma once

#include "acquisition/energydatabase.h"

#include <QSqlDatabase>
#include <QString>

namespace powerlog {

// The layout of the energy database and its upgrades: the table Energy with its index on Data,
// the summaries EnergyHalfHour and EnergyDay, and the trigger that fills both on every insert.

// Writes a new database at `path` with every table, index and trigger, in WAL mode. The caller
// makes sure that nothing is there yet and removes what a failure leaves.
bool writeEnergySchema(const QString& path, QString* error);

// Checks the file behind the open connection `db` and sets the connection up: WAL with a full
// sync at every commit, so a crash or a power cut keeps every row whose insert returned. A file
// of an earlier version gets the day summary from its half hours; a file without summaries
// gets them built, at the lowest priority (lowpriority.h), with `progress` told on the way. A
// building stopped by `progress` is no failure: `stopped` says so, the file is used without
// the trigger, and the next open builds them anew.
bool prepareEnergyConnection(QSqlDatabase& db, const EnergyDatabase::Progress& progress,
                             bool* stopped, QString* error);

} // namespace powerlog
