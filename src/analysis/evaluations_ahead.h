#pragma once

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <mutex>

#include "analysis/param_table.h"
#include "input/network_tables.h"
#include "trees/run_stats.h"
#include "trees/term_store.h"

namespace kavrel {

// Codes of topological functions in request order, each once; fixed in
// size, so that listing them cannot fail.
struct TopofunList {
  int codes[kTopofunCount] = {};
  int count = 0;
  void add(int topofun);
};

// Topological functions that a stage is about to request one after the
// other, evaluated ahead of time on several threads, each on its own copy of
// the tables. The stage then takes each result where it would have
// evaluated the function: the store, the tables and the run's counters end
// up as after the evaluation on the calling thread. Nothing is evaluated
// ahead when something of an evaluation could show in the output (trace and
// listing bits, a progress display, a tree budget shared along the run) or
// when the machine has one core; an evaluation that fails ahead (limits,
// memory) leaves no result, so that the stage evaluates it again and prints
// what that prints. The calling thread evaluates the function with the most
// raw i-trees first (the first requested, where they go in request order) and
// may share its enumeration over the threads; the others evaluate theirs
// each on one thread.
class EvaluationsAhead {
 public:
  // Returns once all are done, or once the run's monitor reports that
  // output failed. A single function is only evaluated ahead when asked for
  // (`even_one`): otherwise the calling thread might as well evaluate it in
  // its turn. `in_request_order` starts the functions in the order given,
  // for a stage that takes each as soon as it is ready.
  void evaluate(const NetworkTables& net, RunStats* stats, const TopofunList& topofuns,
                bool even_one = false, bool in_request_order = false);

  bool has_result(int topofun) const;

  // While evaluate() runs on another thread: waits up to `timeout` for the
  // result for `topofun`; true once it is ready or evaluate() has ended
  // (there will be no other).
  bool wait_for(int topofun, std::chrono::milliseconds timeout);

  // Moves the result for `topofun` into its store; false when there is none.
  // May be called while evaluate() runs on another thread.
  bool take(NetworkTables& net, TopofunStores& stores, int topofun);

  struct Result {
    bool ready = false;
    TermStore store;
    long long raw_i_trees = 0;
    long long common_trees = 0;
    long long terms = 0;
  };

 private:
  void publish(int topofun, Result&& result);
  void end();

  // The results and whether evaluate() has ended, under the mutex.
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Result results_[kTopofunCount];
  bool ended_ = false;
};

// A stream for what an evaluation ahead prints, which no one reads: the
// null device, or a temporary file where there is none. Opening a temporary
// file costs the run a few tenths of a millisecond. Null where neither opens.
std::FILE* open_discarding_sink();

}  // namespace kavrel
