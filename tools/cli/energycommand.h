#pragma once

#include "dispatcher.h"

namespace powerlog::cli {

// `energy daily|monthly|yearly YYYY-MM-DD`: the energy of the day, month or year holding the
// date, as CSV read on a read-only connection (a file without its hour table gets it built
// first when it can be written):
//   group,kwh,f1_kwh,f2_kwh,f3_kwh,cost
//   0,<kwh>,<f1>,<f2>,<f3>,<cost>   one line per hour 0..23, day 1..last or month 1..12
//   total,<kwh>,<f1>,<f2>,<f3>,<cost>
// kWh with three decimals, cost with two, a dot whatever the locale; prices from the settings
// (--settings FILE, else the user's own), 0.00 when none is set. Exit 0, 1 when the file cannot
// be read, 2 when there is no usable file, 64 for a wrong period or date.
Command energyCommand();

} // namespace powerlog::cli
