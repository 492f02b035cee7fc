#pragma once

#include "dispatcher.h"

namespace powerlog::cli {

// `export FILE`: writes the readings, all of them or those from --from to --to (both included),
// to FILE as the export window does: the separator of --separator (comma by default), numbers
// and dates in the form of the locale the environment sets (LC_ALL, LC_NUMERIC, LC_TIME, LANG),
// headings in Italian for an Italian locale and in English otherwise, unless --language says.
// With --kind hourly it writes the hourly energy instead: the heading line
// hour,kwh,f1_kwh,f2_kwh,f3_kwh,cost (with the chosen separator), then one line per hour that
// holds anything, "yyyy-MM-dd HH:00" and the numbers in the environment's locale; a period takes
// the hours from the one holding --from to the one holding --to; the prices come from the
// settings (--settings FILE, else the user's own), and the cost is 0 without them.
// An existing FILE is replaced, only once the new one is complete. Prints "exported N rows to
// FILE"; exit 1 when the file cannot be written or the rows cannot be read, 2 when there is no
// database, 64 for a wrong option.
Command exportCommand();

} // namespace powerlog::cli
