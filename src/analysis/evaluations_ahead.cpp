#include "analysis/evaluations_ahead.h"

#include <algorithm>
#include <cstddef>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "analysis/driver.h"
#include "trees/kept_threads.h"
#include "trees/run_monitor.h"
#include "trees/thread_count.h"
#include "trees/topofun.h"

namespace kavrel {

namespace {

// How often the thread that owns the run's monitor looks at the output while
// the workers evaluate.
constexpr std::chrono::milliseconds kWatchInterval{50};

bool worth_evaluating_ahead(const NetworkTables& net, const RunStats* stats, std::size_t count,
                            bool even_one) {
  return count >= (even_one ? 1u : 2u) && threads_may_start(net, stats);
}

// The functions, the one with the most raw i-trees first; `raw_trees` gets
// each function's count (by code, 0 where not counted).
TopofunList largest_first(const NetworkTables& net, const TopofunList& topofuns,
                          long long (&raw_trees)[kTopofunCount]) {
  long double trees[kTopofunCount] = {};
  int largest = 0;
  try {
    for (int i = 0; i < topofuns.count; ++i) {
      const TreeCount count = count_topofun_trees(net, topofuns.codes[i]);
      trees[i] = count.exceeded ? 1e40L : static_cast<long double>(count.value);
      if (trees[i] > trees[largest]) largest = i;
      raw_trees[topofuns.codes[i]] = count.exceeded || count.value > LLONG_MAX
                                         ? LLONG_MAX
                                         : static_cast<long long>(count.value);
    }
  } catch (const std::bad_alloc&) {
    return topofuns;
  }
  TopofunList ordered;
  ordered.add(topofuns.codes[largest]);
  for (int i = 0; i < topofuns.count; ++i) ordered.add(topofuns.codes[i]);
  return ordered;
}

// One evaluation on a worker thread. `sink` takes whatever a failing
// evaluation prints; such a result is dropped.
void evaluate_on_copy(const NetworkTables& net, const RunStats* stats, RunMonitor* monitor,
                      const std::atomic<bool>& cancelled, int topofun, long long raw_trees,
                      int threads, FILE* sink, EvaluationsAhead::Result& result) {
  const auto tables = std::make_unique<NetworkTables>(net);
  TopofunStores stores;
  RunStats counters;
  if (stats != nullptr) {
    counters.exact_enumeration_only = stats->exact_enumeration_only;
    counters.exact_output_only = stats->exact_output_only;
    counters.trees_before_sharing = stats->trees_before_sharing;
  }
  counters.threads = threads;
  counters.monitor = monitor;
  stores.stats = &counters;
  stores.topofun_evaluated[topofun] = 1;
  stores.raw_trees_counted[topofun] = raw_trees;
  int32_t function_counter = 0;
  evaluate_within_memory(*tables, stores, sink, topofun, function_counter);
  if (stores.topofun_evaluated[topofun] != 1 || monitor->stopped() || cancelled.load()) return;
  result.store = std::move(stores.stores[topofun]);
  result.raw_i_trees = counters.raw_i_trees;
  result.common_trees = counters.common_trees;
  result.terms = counters.terms;
  result.ready = true;
}

}  // namespace

std::FILE* open_discarding_sink() {
  if (std::FILE* null_device = std::fopen("/dev/null", "w")) return null_device;
  return std::tmpfile();
}

void TopofunList::add(int topofun) {
  if (topofun < 0 || topofun >= kTopofunCount) return;
  for (int i = 0; i < count; ++i) {
    if (codes[i] == topofun) return;
  }
  codes[count++] = topofun;
}

void EvaluationsAhead::evaluate(const NetworkTables& net, RunStats* stats,
                                const TopofunList& topofuns, bool even_one,
                                bool in_request_order) {
  struct Ending {
    EvaluationsAhead& ahead;
    ~Ending() { ahead.end(); }
  } ending{*this};
  const std::size_t count = static_cast<std::size_t>(topofuns.count);
  if (!worth_evaluating_ahead(net, stats, count, even_one)) return;
  long long raw_trees[kTopofunCount] = {};
  const TopofunList largest = largest_first(net, topofuns, raw_trees);
  const int* const codes = in_request_order ? topofuns.codes : largest.codes;

  std::atomic<bool> cancelled{false};
  std::atomic<std::size_t> next{1};
  auto evaluate_one = [&](RunMonitor* monitor, FILE* sink, std::size_t i, int threads) {
    try {
      Result result;
      evaluate_on_copy(net, stats, monitor, cancelled, codes[i], raw_trees[codes[i]], threads,
                       sink, result);
      if (result.ready) publish(codes[i], std::move(result));
    } catch (...) {
      // No result: the stage evaluates the function itself.
    }
  };
  // Each thread evaluates the next function not yet taken, on its own; the
  // calling thread as well, with the run's monitor, which only it may use,
  // after the largest function, whose enumeration it shares out over the
  // threads that the others leave.
  auto evaluate_next = [&](RunMonitor* monitor, FILE* sink) {
    for (;;) {
      const std::size_t i = next.fetch_add(1);
      if (i >= count || cancelled.load()) return;
      evaluate_one(monitor, sink, i, 1);
    }
  };
  std::mutex mutex;
  std::condition_variable finished_one;
  std::size_t finished = 0;
  auto work = [&] {
    if (FILE* sink = open_discarding_sink()) {
      RunMonitor watcher(&cancelled);
      evaluate_next(&watcher, sink);
      std::fclose(sink);
    }
    const std::lock_guard<std::mutex> lock(mutex);
    ++finished;
    finished_one.notify_one();
  };

  const std::size_t wanted =
      std::min(count, static_cast<std::size_t>(usable_threads(stats))) - 1;
  std::vector<KeptThread> workers;
  try {
    workers.reserve(wanted);
    while (workers.size() < wanted) workers.emplace_back(work);
  } catch (...) {
    // Fewer threads share the functions.
  }
  if (FILE* sink = open_discarding_sink()) {
    RunMonitor* const monitor = stats != nullptr ? stats->monitor : nullptr;
    RunMonitor watcher(&cancelled);
    RunMonitor* const own = monitor != nullptr ? monitor : &watcher;
    evaluate_one(own, sink, 0, stats != nullptr ? stats->threads : 0);
    evaluate_next(own, sink);
    std::fclose(sink);
    if (run_stopped(stats)) cancelled.store(true);
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    while (finished < workers.size()) {
      finished_one.wait_for(lock, kWatchInterval);
      lock.unlock();
      // The output of earlier netlists is pushed out meanwhile, and output
      // that fails ends the evaluations.
      if (run_stopped(stats)) cancelled.store(true);
      lock.lock();
    }
  }
  for (KeptThread& worker : workers) worker.join();
  if (cancelled.load()) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (Result& result : results_) result = Result{};
  }
}

void EvaluationsAhead::publish(int topofun, Result&& result) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    results_[topofun] = std::move(result);
  }
  changed_.notify_all();
}

void EvaluationsAhead::end() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
  }
  changed_.notify_all();
}

bool EvaluationsAhead::has_result(int topofun) const {
  if (topofun < 0 || topofun >= kTopofunCount) return false;
  const std::lock_guard<std::mutex> lock(mutex_);
  return results_[topofun].ready;
}

bool EvaluationsAhead::wait_for(int topofun, std::chrono::milliseconds timeout) {
  if (topofun < 0 || topofun >= kTopofunCount) return true;
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout,
                           [&] { return ended_ || results_[topofun].ready; });
}

bool EvaluationsAhead::take(NetworkTables& net, TopofunStores& stores, int topofun) {
  if (topofun < 0 || topofun >= kTopofunCount) return false;
  Result result;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!results_[topofun].ready) return false;
    result = std::move(results_[topofun]);
    results_[topofun].ready = false;
  }
  mark_tables_as_evaluated(net, topofun);
  stores.stores[topofun] = std::move(result.store);
  if (stores.stats != nullptr) {
    stores.stats->raw_i_trees += result.raw_i_trees;
    stores.stats->common_trees += result.common_trees;
    stores.stats->terms += result.terms;
  }
  return true;
}

}  // namespace kavrel
