#pragma once

#include "acquisition/energydatabase.h"

#include <QString>

namespace powerlog {

// Compaction of the energy database: a compacted copy "temp.mdb" takes the file's name in one
// rename, and the previous file stays as "DbEnergy.bak".

// Renames `from` to `to` with rename(2), replacing a file of that name in one step (unlike
// QFile::rename, which refuses an existing name). The renames of a compaction by default.
bool replaceFile(const QString& from, const QString& to);

// Compacts "DbEnergy.mdb" of `folder`, which no connection of this program may hold open; its
// WAL must have been folded into it. Every rename goes through `renameFile`. On failure the
// database is left under its name whenever that can be done, and `error` says what happened.
// A false answer of `keepGoing`, asked every StatementWatch::kDefaultSteps steps of the copy,
// ends it before any rename, with `stopped` set.
bool compactEnergyFile(const QString& folder, const EnergyDatabase::RenameFunction& renameFile,
                       QString* error, const std::function<bool()>& keepGoing = {},
                       bool* stopped = nullptr);

// Deletes a database file with its -wal, -shm and -journal files; true when none is left.
bool removeDatabaseFiles(const QString& file, QString* error);

} // namespace powerlog
