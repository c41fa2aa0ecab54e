#include "trees/thread_count.h"

#include <thread>

namespace kavrel {

int usable_threads(const RunStats* stats) {
  if (stats != nullptr && stats->threads > 0) return stats->threads;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? static_cast<int>(cores) : 1;
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
