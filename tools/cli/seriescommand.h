#pragma once

#include "dispatcher.h"

namespace powerlog::cli {

// `series daily|monthly|yearly YYYY-MM-DD`: prints the numbers of the chart the charts window
// draws for that period, read through the same queries on a read-only connection:
//   group,avg,max
//   1,<avg>,<max>            one line per half hour, day of the month or year
//   chart_avg=<N>,chart_max=<M>
// avg is the shortest text that reads back as the same float, the others whole numbers, with a
// dot whatever the locale. Exit 0, 1 when the file cannot be read, 2 when there is no usable
// file, 64 for a wrong chart type or date.
Command seriesCommand();

} // namespace powerlog::cli
