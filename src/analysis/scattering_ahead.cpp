#include "analysis/scattering_ahead.h"

#include <chrono>
#include <cstdio>

#include "analysis/conjugation.h"
#include "analysis/param_table.h"
#include "analysis/scattering_embedding.h"
#include "trees/thread_count.h"
#include "trees/topofun.h"

namespace kavrel {

namespace {

// How often a wait looks at the run's output.
constexpr std::chrono::milliseconds kWatchInterval{50};

bool scattering_row_selected(const NetworkTables& net) {
  for (int r = 0; r < kParamRows; ++r) {
    if (net.param_selected[r] && is_scattering_row(param_table[r])) return true;
  }
  return false;
}

}  // namespace

TopofunList scattering_functions(const NetworkTables& net, const TopofunStores& stores,
                                 bool numerators) {
  TopofunList wanted;
  for (int r = 0; r < kParamRows; ++r) {
    const ParamRow& row = param_table[r];
    if (!net.param_selected[r] || !is_scattering_row(row)) continue;
    const int topofun = numerators ? row.num_topofun : row.den_topofun;
    if (!stores.topofun_evaluated[topofun]) wanted.add(topofun);
  }
  return wanted;
}

ScatteringAhead::~ScatteringAhead() {
  cancelled_.store(true);
  wait(nullptr);
}

void ScatteringAhead::start(const NetworkTables& net, const TopofunStores& ordinary_stores) {
  const RunStats* const run = ordinary_stores.stats;
  if (thread_.joinable() || !scattering_row_selected(net) || !threads_may_start(net, run)) return;
  const WorkShare share = work_share(run);
  for (int code = 0; code < kTopofunCount; ++code) {
    if (ordinary_stores.topofun_evaluated[code] &&
        ordinary_stores.stores[code].terms_used >= share.min_terms_per_thread) {
      return;
    }
  }
  try {
    tables_ = std::make_unique<NetworkTables>(net);
    watcher_ = std::make_unique<RunMonitor>(&cancelled_);
    if (run != nullptr) {
      stats_.exact_enumeration_only = run->exact_enumeration_only;
      stats_.exact_output_only = run->exact_output_only;
      stats_.threads = run->threads;
      stats_.min_terms_per_thread = run->min_terms_per_thread;
      stats_.trees_before_sharing = run->trees_before_sharing;
    }
    stats_.monitor = watcher_.get();
    thread_ = KeptThread([this] { evaluate(); });
  } catch (...) {
    // The stage evaluates its functions itself.
  }
}

void ScatteringAhead::evaluate() {
  struct Finished {
    ScatteringAhead& ahead;
    ~Finished() { ahead.reach(ahead.finished_); }
  } finished{*this};
  FILE* const sink = open_discarding_sink();
  if (sink == nullptr) return;
  try {
    NetworkTables& net = *tables_;
    TopofunStores requested;
    if (embed_s_param(net, sink) == 0) {
      const TopofunList denominators = scattering_functions(net, requested, false);
      denominators_.evaluate(net, &stats_, denominators, true);
      // The stage takes each denominator in this order, leaving the tables
      // as each take does. The results are looked at before the stage may
      // take them.
      bool every_result = true;
      for (int i = 0; i < denominators.count; ++i) {
        const int topofun = denominators.codes[i];
        every_result = every_result && denominators_.has_result(topofun);
        requested.topofun_evaluated[topofun] = 1;
        mark_tables_as_evaluated(net, topofun);
      }
      reach(denominators_evaluated_);
      if (every_result && !cancelled_.load() && conjugate_normalizing_networks(net, sink) == 0) {
        reach(numerators_begun_);
        numerators_.evaluate(net, &stats_, scattering_functions(net, requested, true), true, true);
      }
    }
  } catch (...) {
    // What was evaluated stands; the stage evaluates the rest itself.
  }
  std::fclose(sink);
}

void ScatteringAhead::reach(bool& stage) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stage = true;
  }
  progressed_.notify_all();
}

bool ScatteringAhead::wait_until(const bool& stage, RunStats* run) {
  if (!thread_.joinable()) return false;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stage && !finished_) {
    progressed_.wait_for(lock, kWatchInterval);
    lock.unlock();
    // The output of earlier netlists is pushed out meanwhile, and output
    // that fails ends the evaluations.
    if (run_stopped(run)) cancelled_.store(true);
    lock.lock();
  }
  return stage;
}

void ScatteringAhead::wait(RunStats* run) {
  if (!thread_.joinable()) return;
  wait_until(finished_, run);
  thread_.join();
}

EvaluationsAhead* ScatteringAhead::denominators(RunStats* run) {
  return wait_until(denominators_evaluated_, run) && !cancelled_.load() ? &denominators_
                                                                         : nullptr;
}

EvaluationsAhead* ScatteringAhead::numerators(RunStats* run) {
  return wait_until(numerators_begun_, run) && !cancelled_.load() ? &numerators_ : nullptr;
}

void ScatteringAhead::numerator(int topofun, RunStats* run) {
  while (!numerators_.wait_for(topofun, kWatchInterval)) {
    if (run_stopped(run)) cancelled_.store(true);
    // Should the thread have ended short of evaluating them, none will come.
    const std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
  }
}

}  // namespace kavrel
