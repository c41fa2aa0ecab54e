#pragma once

#include "trees/run_stats.h"

namespace kavrel {

// The threads that work shared out may use: the count the run asks for, or
// one per processor core; at least 1.
int usable_threads(const RunStats* stats);

}  // namespace kavrel
