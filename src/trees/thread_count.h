#pragma once

#include "input/network_tables.h"
#include "trees/run_stats.h"
#include "trees/work_share.h"

namespace kavrel {

// The threads that work shared out may use: the count the run asks for, or
// one per processor core; at least 1.
int usable_threads(const RunStats* stats);

// Whether evaluations may go on several threads: the run has two or more,
// and nothing of an evaluation can show in the output (no test bit but the
// rational form, no progress display, no tree budget shared along the run, no
// allocation-failure hook).
bool threads_may_start(const NetworkTables& net, const RunStats* stats);

// The sharing of the work on one store that the run allows.
WorkShare work_share(const RunStats* stats);

}  // namespace kavrel
