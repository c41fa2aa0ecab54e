#include "trees/kept_threads.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#if defined(__linux__) && __has_include(<sched.h>)
#include <sched.h>
#define KAVREL_SETTLES_THREADS 1
#endif

namespace kavrel {

namespace {

// A woken thread starts on the processor it last ran on when that one is
// idle; but a thread started ahead has run only beside the thread that
// started it, which goes on computing, and the scheduler of the virtual
// machines we measure on moves it to an idle processor only tens of
// milliseconds later. So the k-th thread started ahead first runs on the
// k-th processor the process may use other than the starting thread's, then
// on any again. Only a hint: where it cannot be followed, nothing changes.
int processor_for_ready_thread([[maybe_unused]] int k) {
#if defined(KAVREL_SETTLES_THREADS)
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  const int own = sched_getcpu();
  if (own < 0 || sched_getaffinity(0, sizeof allowed, &allowed) != 0) return -1;
  const int others = CPU_COUNT(&allowed) - (CPU_ISSET(own, &allowed) ? 1 : 0);
  if (others <= 0) return -1;
  int skip = k % others;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (cpu == own || !CPU_ISSET(cpu, &allowed)) continue;
    if (skip-- == 0) return cpu;
  }
#endif
  return -1;
}

void settle_on_processor([[maybe_unused]] int cpu) {
#if defined(KAVREL_SETTLES_THREADS)
  if (cpu < 0 || cpu >= CPU_SETSIZE) return;
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
  cpu_set_t only;
  CPU_ZERO(&only);
  CPU_SET(cpu, &only);
  // Setting the mask moves the thread there before it returns.
  if (sched_setaffinity(0, sizeof only, &only) == 0) {
    (void)sched_setaffinity(0, sizeof allowed, &allowed);
  }
#endif
}

struct Task {
  std::function<void()> work;
  std::promise<void> done;
};

class ThreadKeeper {
 public:
  // Hands `task` to a waiting thread, or to a new thread that waits for the
  // next task once it is done; false outside any scope.
  bool run(Task& task) {
    std::unique_lock lock(mutex_);
    if (scopes_ == 0) return false;
    if (waiting_ > 0) {
      // Each task queued has a waiting thread of its own.
      tasks_.push_back(std::move(task));
      --waiting_;
      lock.unlock();
      task_queued_.notify_one();
      return true;
    }
    threads_.emplace_back([this, first = std::move(task)]() mutable { serve(std::move(first)); });
    return true;
  }

  void open_scope(int ready) {
    std::unique_lock lock(mutex_);
    ++scopes_;
    int started = 0;
    try {
      for (; waiting_ + started < ready; ++started) {
        const int cpu = processor_for_ready_thread(started);
        threads_.emplace_back([this, cpu] {
          settle_on_processor(cpu);
          serve(std::nullopt);
        });
      }
    } catch (...) {
      // Fewer threads wait; work starts fresh ones.
    }
    const int expected = waiting_ + started;
    waiting_changed_.wait(lock, [&] { return waiting_ >= expected; });
  }

  void close_scope() {
    std::vector<std::thread> ending;
    {
      const std::lock_guard lock(mutex_);
      if (--scopes_ > 0) return;
      closing_ = true;
      ending.swap(threads_);
    }
    task_queued_.notify_all();
    for (std::thread& thread : ending) thread.join();
    const std::lock_guard lock(mutex_);
    closing_ = false;
  }

 private:
  // Runs `task` (if any), then the tasks handed to this thread, until the
  // last scope ends. A task is reported done only once its thread waits
  // again, so that work handed out right after a join finds it. Nothing here
  // allocates: a failure would have nowhere to go.
  void serve(std::optional<Task> task) {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (task) {
        lock.unlock();
        task->work();
        lock.lock();
      }
      ++waiting_;
      waiting_changed_.notify_all();
      if (task) {
        task->done.set_value();
        task.reset();
      }
      task_queued_.wait(lock, [&] { return !tasks_.empty() || closing_; });
      if (tasks_.empty()) {
        --waiting_;
        return;
      }
      task.emplace(std::move(tasks_.front()));
      tasks_.erase(tasks_.begin());
    }
  }

  std::mutex mutex_;
  std::condition_variable task_queued_;
  std::condition_variable waiting_changed_;
  // Not a deque: that would allocate as the keeper is made, inside the first
  // run's allocations.
  std::vector<Task> tasks_;
  std::vector<std::thread> threads_;
  int waiting_ = 0;  // threads waiting for a task that none has been handed yet
  int scopes_ = 0;
  bool closing_ = false;
};

// Never destroyed: a scope may end as the process ends.
ThreadKeeper& keeper() {
  alignas(ThreadKeeper) static unsigned char storage[sizeof(ThreadKeeper)];
  static ThreadKeeper* const kept = new (storage) ThreadKeeper;
  return *kept;
}

}  // namespace

KeptThread::KeptThread(std::function<void()> work) {
  // An exception that leaves the work ends the process, as on a std::thread.
  auto guarded = [work = std::move(work)]() noexcept { work(); };
  Task task{guarded, std::promise<void>()};
  std::future<void> done = task.done.get_future();
  if (keeper().run(task)) {
    done_ = std::move(done);
  } else {
    own_ = std::thread(std::move(guarded));
  }
}

KeptThread& KeptThread::operator=(KeptThread&& other) noexcept {
  if (this != &other) {
    join();
    own_ = std::move(other.own_);
    done_ = std::move(other.done_);
  }
  return *this;
}

KeptThread::~KeptThread() { join(); }

void KeptThread::join() {
  if (own_.joinable()) own_.join();
  if (done_.valid()) {
    done_.wait();
    done_ = std::future<void>();
  }
}

KeptThreadsScope::KeptThreadsScope(int ready) { keeper().open_scope(ready); }

KeptThreadsScope::~KeptThreadsScope() { keeper().close_scope(); }

}  // namespace kavrel
