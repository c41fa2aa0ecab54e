#pragma once

#include <cstdio>

#include "trees/run_stats.h"

namespace kavrel {

// One whole run: banner, netlist after netlist, elapsed-time line. Returns the
// exit status (always 0).
int run_kavrel(FILE* in, FILE* out, RunStats* stats = nullptr);

}  // namespace kavrel
