#include "trees/thread_count.h"

#include <thread>

#include "trees/memory.h"
#include "trees/run_monitor.h"

namespace kavrel {

int usable_threads(const RunStats* stats) {
  if (stats != nullptr && stats->threads > 0) return stats->threads;
  // Asked once: the C library reads a file of the system's for each answer.
  static const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? static_cast<int>(cores) : 1;
}

bool threads_may_start(const NetworkTables& net, const RunStats* stats) {
  if ((net.test_bitmap & ~kBitRational) != 0) return false;
  if (allocation_failure_set()) return false;
  if (stats != nullptr) {
    if (stats->raw_tree_budget > 0) return false;
    if (stats->monitor != nullptr && stats->monitor->draws_progress()) return false;
  }
  return usable_threads(stats) >= 2;
}

WorkShare work_share(const RunStats* stats) {
  WorkShare share;
  share.threads = usable_threads(stats);
  if (stats != nullptr && stats->min_terms_per_thread > 0) {
    share.min_terms_per_thread = stats->min_terms_per_thread;
  }
  return share;
}

}  // namespace kavrel
