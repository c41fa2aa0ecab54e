#pragma once

#include <atomic>
#include <exception>
#include <vector>

#include "trees/kept_threads.h"
#include "trees/work_share.h"

namespace kavrel {

// Calls work(item, worker) for every item in 0..items-1, spread over up to
// `threads` threads (the calling thread among them, as worker 0); items are
// taken in increasing order, each by one worker. Threads that cannot be
// started leave their share to the others. True when every call returned
// normally; an exception in any call is caught and makes the result false
// (the other items are still done).
template <typename Work>
bool share_out(int threads, int items, Work&& work) {
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  auto run = [&](int worker) {
    for (int item = next.fetch_add(1); item < items; item = next.fetch_add(1)) {
      try {
        work(item, worker);
      } catch (...) {
        failed.store(true);
      }
    }
  };
  std::vector<KeptThread> helpers;
  const int wanted = (threads < items ? threads : items) - 1;
  try {
    if (wanted > 0) helpers.reserve(static_cast<std::size_t>(wanted));
    for (int worker = 1; worker <= wanted; ++worker) {
      helpers.emplace_back([&run, worker] { run(worker); });
    }
  } catch (...) {
    // Fewer helpers.
  }
  run(0);
  for (KeptThread& helper : helpers) helper.join();
  return !failed.load();
}

}  // namespace kavrel
