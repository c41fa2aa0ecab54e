// Work handed to kept threads: it runs on a thread of its own whether or not
// a scope keeps threads, join() waits for it, threads that finished are
// handed the next work, and work started together runs together.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <optional>
#include <thread>
#include <vector>

#include "trees/kept_threads.h"

namespace {

using kavrel::KeptThread;
using kavrel::KeptThreadsScope;

TEST(KeptThreads, WorkRunsElsewhereAndJoinWaitsForIt) {
  for (const bool in_scope : {false, true}) {
    std::optional<KeptThreadsScope> kept;
    if (in_scope) kept.emplace(1);
    std::atomic<int> done{0};
    std::thread::id ran_on;
    KeptThread thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ran_on = std::this_thread::get_id();
      done.store(1);
    });
    EXPECT_TRUE(thread.joinable());
    thread.join();
    EXPECT_FALSE(thread.joinable());
    EXPECT_EQ(done.load(), 1) << in_scope;
    EXPECT_NE(ran_on, std::this_thread::get_id()) << in_scope;
  }
}

TEST(KeptThreads, AThreadThatFinishedTakesTheNextWork) {
  const KeptThreadsScope kept;
  std::thread::id first;
  std::thread::id second;
  KeptThread([&] { first = std::this_thread::get_id(); }).join();
  KeptThread([&] { second = std::this_thread::get_id(); }).join();
  EXPECT_EQ(first, second);
}

// Each piece of work waits for all the others: it would never end if any
// were queued behind another on one thread, as a kept thread is busy.
TEST(KeptThreads, WorkStartedTogetherRunsTogether) {
  const KeptThreadsScope kept(1);
  for (int round = 0; round < 3; ++round) {
    constexpr int kWorks = 5;
    std::latch all_running(kWorks);
    std::vector<KeptThread> threads;
    for (int k = 0; k < kWorks; ++k) {
      threads.emplace_back([&all_running] { all_running.arrive_and_wait(); });
    }
    for (KeptThread& thread : threads) thread.join();
  }
}

// A thread moved into another handle is waited for once, by the last one.
TEST(KeptThreads, MovedHandlesWaitOnce) {
  const KeptThreadsScope kept;
  std::atomic<int> runs{0};
  KeptThread a([&] { runs.fetch_add(1); });
  KeptThread b = std::move(a);
  EXPECT_FALSE(a.joinable());
  KeptThread c;
  c = std::move(b);
  c.join();
  EXPECT_EQ(runs.load(), 1);
}

}  // namespace
