#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "analysis/evaluations_ahead.h"
#include "input/network_tables.h"
#include "trees/kept_threads.h"
#include "trees/run_monitor.h"
#include "trees/run_stats.h"
#include "trees/term_store.h"

namespace kavrel {

// The scattering rows' numerators or denominators that `stores` has not
// evaluated, in request order.
TopofunList scattering_functions(const NetworkTables& net, const TopofunStores& stores,
                                 bool numerators);

// The functions of the scattering stage, evaluated on a thread of their own
// while the ordinary stage prints: on a copy of the tables taken once the
// ordinary stage has evaluated its functions (printing leaves the tables as
// they are), embedded and conjugated as the stage will embed and conjugate
// the tables themselves. Only started where the ordinary stage prints on one
// thread (no function large enough to be shared out), so that a core would
// otherwise stand idle, and where evaluations ahead are allowed at all.
class ScatteringAhead {
 public:
  ScatteringAhead() = default;
  ScatteringAhead(const ScatteringAhead&) = delete;
  ScatteringAhead& operator=(const ScatteringAhead&) = delete;
  // Cancels what is still running and waits for it.
  ~ScatteringAhead();

  void start(const NetworkTables& net, const TopofunStores& ordinary_stores);

  // Waits for the denominators' evaluations (ending them once the run's
  // output fails) and hands over their results, evaluated on the embedded
  // tables; nullptr when there are none.
  EvaluationsAhead* denominators(RunStats* run);
  // The numerators, evaluated on the conjugated tables once every
  // denominator had a result (so that the stage takes each one and leaves
  // the tables as the copy was left), in the order the stage requests them;
  // nullptr when they are not evaluated. Handed over as soon as their
  // evaluations begin: the stage waits for each with numerator().
  EvaluationsAhead* numerators(RunStats* run);
  // Waits until the numerator `topofun` is ready or will not come.
  void numerator(int topofun, RunStats* run);

 private:
  void evaluate();
  // Waits for the thread to reach `stage` (or to end), watching the run's
  // output meanwhile; whether it reached it.
  bool wait_until(const bool& stage, RunStats* run);
  void reach(bool& stage);
  void wait(RunStats* run);

  std::unique_ptr<NetworkTables> tables_;
  RunStats stats_;
  std::atomic<bool> cancelled_{false};
  std::unique_ptr<RunMonitor> watcher_;
  EvaluationsAhead denominators_;
  EvaluationsAhead numerators_;
  // Under the mutex: how far the thread is.
  std::mutex mutex_;
  std::condition_variable progressed_;
  bool denominators_evaluated_ = false;
  bool numerators_begun_ = false;
  bool finished_ = false;
  KeptThread thread_;
};

}  // namespace kavrel
