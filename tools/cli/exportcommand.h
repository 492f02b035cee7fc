#pragma once

#include "dispatcher.h"

namespace powerlog::cli {

// `export FILE`: writes the readings, all of them or those from --from to --to (both included),
// to FILE as the export window does: the separator of --separator (comma by default), numbers
// and dates in the form of the locale the environment sets (LC_ALL, LC_NUMERIC, LC_TIME, LANG),
// headings in Italian for an Italian locale and in English otherwise, unless --language says.
// An existing FILE is replaced, only once the new one is complete. Prints "exported N rows to
// FILE"; exit 1 when the file cannot be written or the rows cannot be read, 2 when there is no
// database, 64 for a wrong option.
Command exportCommand();

} // namespace powerlog::cli
