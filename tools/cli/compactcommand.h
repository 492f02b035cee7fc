#pragma once

#include "dispatcher.h"

namespace powerlog::cli {

// `compact`: compacts the database as the program does, through temp.mdb, keeping the previous
// file as DbEnergy.bak. Prints "compacted: OLD -> NEW bytes"; exit 1 with the error on stderr
// when the compaction fails, 2 when there is no file.
Command compactCommand();

} // namespace powerlog::cli
