#pragma once

#include <cstdio>

#include "trees/run_stats.h"

namespace kavrel {

struct RunOptions {
  RunStats* stats = nullptr;
  // Where a write failure is reported.
  FILE* errors = stderr;
  // A terminal to draw progress on during long analyses; nullptr for none.
  // The caller decides, so that the library never asks the platform.
  FILE* progress = nullptr;
};

// One whole run: banner, netlist after netlist, elapsed-time line. Returns the
// exit status: 0 when the output was written, 1 (after one line on
// options.errors) when it could not be; a failed write ends the run soon
// after it happens.
int run_kavrel(FILE* in, FILE* out, const RunOptions& options);
int run_kavrel(FILE* in, FILE* out, RunStats* stats = nullptr);

}  // namespace kavrel
