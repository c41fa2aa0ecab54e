#pragma once

#include "trees/run_stats.h"
#include "trees/work_share.h"

namespace kavrel {

// The threads that work shared out may use: the count the run asks for, or
// one per processor core; at least 1.
int usable_threads(const RunStats* stats);

// The sharing of the work on one store that the run allows.
WorkShare work_share(const RunStats* stats);

}  // namespace kavrel
