#pragma once

#include <functional>
#include <future>
#include <thread>

namespace kavrel {

// Work on a thread of its own, like std::thread; while a KeptThreadsScope
// lives, on a thread that waits for work between tasks instead of a fresh
// one. A fresh thread is queued on the processor of the thread that starts
// it, which goes on computing, and on the virtual machines we measure on it
// reaches an idle processor only at the scheduler's next balancing, up to
// 4 ms later; a waiting thread that is woken starts on an idle processor
// within microseconds.
class KeptThread {
 public:
  KeptThread() = default;
  // Starts `work` at once on a thread of its own; throws as std::thread does
  // when no thread can be had.
  explicit KeptThread(std::function<void()> work);
  KeptThread(KeptThread&&) noexcept = default;
  KeptThread& operator=(KeptThread&& other) noexcept;
  KeptThread(const KeptThread&) = delete;
  KeptThread& operator=(const KeptThread&) = delete;
  // Waits for the work, as join() does.
  ~KeptThread();

  bool joinable() const { return own_.joinable() || done_.valid(); }
  // Waits until the work has returned.
  void join();

 private:
  std::thread own_;         // outside any scope
  std::future<void> done_;  // on a kept thread
};

// While a scope lives, threads that have done their work wait for the next;
// the last scope to end ends them. `ready` threads are started at once and
// waited for until they run, so that the first work handed out finds them
// waiting.
class KeptThreadsScope {
 public:
  explicit KeptThreadsScope(int ready = 0);
  ~KeptThreadsScope();
  KeptThreadsScope(const KeptThreadsScope&) = delete;
  KeptThreadsScope& operator=(const KeptThreadsScope&) = delete;
};

}  // namespace kavrel
