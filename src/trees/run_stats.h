#pragma once

namespace kavrel {

class RunMonitor;

// Counters of a whole run, for the benchmark and the fuzz target. The budget
// lets a fuzz target bound the work of one input: when it is positive and the
// raw i-trees of the run reach it, every further enumeration ends at once.
struct RunStats {
  long long raw_i_trees = 0;
  long long common_trees = 0;
  long long terms = 0;
  long long raw_tree_budget = 0;
  bool budget_exhausted = false;
  // For tests only: turns off every shortcut of the tree enumeration and the
  // term store, so that the output of the plain algorithm can be compared.
  bool exact_enumeration_only = false;
  // For tests only: the output stage without its shortcuts.
  bool exact_output_only = false;
  // Threads for the work that can be shared out: 0 for one per processor
  // core, 1 for everything on the calling thread.
  int threads = 0;
  // For tests only: when positive, stores of this many terms per thread are
  // shared out already.
  int min_terms_per_thread = 0;
  // For tests only: when positive, an enumeration shares the rest of its
  // search out over the threads after this many trees already.
  long long trees_before_sharing = 0;
  // Set by the run for its length: flushes output now and then, ends the run
  // when output fails, and draws progress.
  RunMonitor* monitor = nullptr;
};

}  // namespace kavrel
