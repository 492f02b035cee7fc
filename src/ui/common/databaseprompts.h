#pragma once

#include "acquisition/databasewriter.h"

#include <QString>
#include <functional>

namespace powerlog {

class Prompts;

// What the windows tell the user about the energy database, and the clearing and compaction
// dialogues. The database itself only returns results; the texts come from the language
// table. Questions are answered later, so the database and the prompts passed in must outlive
// the dialogue they start.

// NoConnection: "Errore connessione DB" with the error. Failed: the program's name with the
// error. Both critical; Ok shows nothing.
void showDatabaseResult(Prompts& prompts, const DatabaseResult& result);

// Asks before deleting every row, then offers compaction. `busy` is told while a compaction
// runs; `done` is called once when the dialogue is over, whichever way it ended.
void clearDatabase(DatabaseWriter& database, Prompts& prompts, const QString& languageCode,
                   std::function<void(bool busy)> busy = {}, std::function<void()> done = {});

// Compacts the database between busy(true) and busy(false), then says how it went; `done` is
// called after that.
void compactDatabase(DatabaseWriter& database, Prompts& prompts, const QString& languageCode,
                     std::function<void(bool busy)> busy = {}, std::function<void()> done = {});

} // namespace powerlog
