#pragma once

#include "dispatcher.h"

namespace powerlog::cli {

// `check`: opens the database as the program does (building the summary tables of a file that
// lacks them), then verifies the file, the half-hour summary and the day summary. Prints rows=,
// first=, last=, integrity=, summary= (half hours) and day_summary= lines; exit 0 when all is
// ok, 1 when something is wrong, 2 when the file cannot be opened.
Command checkCommand();

} // namespace powerlog::cli
