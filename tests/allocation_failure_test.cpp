// Allocations of the standard containers (operator new, also in its nothrow
// form) made to fail one at a time, or all of them from some point on: every
// function either prints as without the failure or is abandoned with its
// message chain, and the run goes on with the next function.
//
// This executable replaces the global allocation functions, so it is a test
// file of its own.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "input/main_loop.h"
#include "support/run_capture.h"
#include "trees/run_stats.h"

namespace {

// Counts the allocations made while armed; the one numbered fail_at (and,
// with fail_rest, every later one) fails. Atomic, since evaluations ahead
// allocate on several threads.
struct AllocationPlan {
  std::atomic<bool> armed{false};
  std::atomic<long long> seen{0};
  std::atomic<long long> fail_at{-1};
  std::atomic<bool> fail_rest{false};
  std::atomic<long long> failed{0};

  void arm(long long failing, bool failing_rest) {
    seen = 0;
    failed = 0;
    fail_at = failing;
    fail_rest = failing_rest;
    armed = true;
  }
  void disarm() { armed = false; }
};

AllocationPlan plan;

bool allocation_fails() {
  if (!plan.armed) return false;
  const long long number = plan.seen++;
  const long long fail_at = plan.fail_at;
  const bool fails =
      fail_at >= 0 && (number == fail_at || (plan.fail_rest && number > fail_at));
  if (fails) ++plan.failed;
  return fails;
}

void* allocate(std::size_t size) { return std::malloc(size > 0 ? size : 1); }
// Out of line, so that the compiler does not pair an inlined new with free.
[[gnu::noinline]] void release(void* block) { std::free(block); }

}  // namespace

void* operator new(std::size_t size) {
  void* block = allocation_fails() ? nullptr : allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocation_fails() ? nullptr : allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocation_fails() ? nullptr : allocate(size);
}
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }

namespace {

// What a function abandoned in its preparation for printing shows after
// whatever its trace lines had printed.
const char kAssemblyChain[] =
    "insufficient memory to complete processing\n"
    "\n Numerator:\n"
    "\n Denominator:\n"
    "\n End:\n\n";
const char kSetupChain[] =
    "insufficient memory to buffer common trees; remainder of function evaluation skipped\n";
const char kFunctionHeader[] = " Function:\n";
const char kNoTablesRun[] =
    "{program file name kavrel}\ninsufficient memory for the network tables\n"
    "{elapsed time: #/1000 sec.}\n";
// After the last netlist: the reader's header, the pending line end, the
// elapsed-time line.
const char kRunEnd[] = "\ninput data:\n\n{elapsed time: #/1000 sec.}\n";

struct Outcome {
  int status = -1;
  std::string output;
  long long allocations = 0;
  long long failed = 0;
};

// One thread by default, so that allocations are numbered in one order.
Outcome run_with_plan(const std::string& input, long long fail_at, bool fail_rest,
                      int threads = 1) {
  FILE* in = std::tmpfile();
  FILE* out = std::tmpfile();
  std::fputs(input.c_str(), in);
  std::rewind(in);
  Outcome outcome;
  kavrel::RunStats stats;
  stats.threads = threads;
  // Every enumeration shared out, so that failures hit its threads too.
  if (threads > 1) stats.trees_before_sharing = 1;
  plan.arm(fail_at, fail_rest);
  outcome.status = kavrel::run_kavrel(in, out, &stats);
  plan.disarm();
  outcome.allocations = plan.seen;
  outcome.failed = plan.failed;
  std::rewind(out);
  int c;
  while ((c = std::fgetc(out)) != EOF) outcome.output += static_cast<char>(c);
  std::fclose(in);
  std::fclose(out);
  outcome.output = kavrel_test::normalize_elapsed(outcome.output);
  return outcome;
}

// The output cut before each function header: the part before the first
// function, then one piece per function.
std::vector<std::string> pieces(const std::string& output) {
  std::vector<std::string> result;
  std::size_t start = 0;
  for (std::size_t next; (next = output.find(kFunctionHeader, start + 1)) != std::string::npos;
       start = next) {
    result.push_back(output.substr(start, next - start));
  }
  result.push_back(output.substr(start));
  return result;
}

// A function's piece and the echo of the next netlist after it, if any.
std::pair<std::string, std::string> split_at_next_netlist(const std::string& piece) {
  const std::size_t next = piece.find("\ninput data:");
  if (next == std::string::npos) return {piece, ""};
  return {piece.substr(0, next), piece.substr(next)};
}

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The trace line printed last before the chain: the stage the failure hit.
std::string stage_of_failure(const std::string& piece) {
  const std::size_t chain = piece.size() - (sizeof kAssemblyChain - 1);
  const std::size_t line_end = piece.rfind('\n', chain - 1);
  const std::size_t line_start = piece.rfind('\n', line_end - 1);
  return piece.substr(line_start + 1, line_end - line_start - 1);
}

// Two functions of one netlist and a second netlist after it. Numeric values
// make terms merge in cancellation; r and l names are unit-corrected, which
// refiles terms under other powers of s in fixup. t 4 traces the stages.
const char kNetlists[] =
    "r1 1 2 v 2; r2 2 3 v 2; l1 2 0; c1 3 0; c2 1 3; r3 3 0; gm1 3 0 1 0\n"
    "f 1 0 3 0 p g21 p y11 p z21 t 4 e\n"
    "r1 1 2; c1 2 0; f 1 0 2 0 p g21 e\n";

TEST(AllocationFailure, EachSingleFailureAbandonsOneFunctionAtMost) {
  const Outcome reference = run_with_plan(kNetlists, -1, false);
  ASSERT_EQ(reference.status, 0);
  ASSERT_GT(reference.allocations, 0);
  const std::vector<std::string> expected = pieces(reference.output);
  ASSERT_EQ(expected.size(), 5u) << reference.output;

  std::set<std::string> stages_hit;
  for (long long n = 0; n < reference.allocations; ++n) {
    const Outcome outcome = run_with_plan(kNetlists, n, false);
    ASSERT_EQ(outcome.status, 0) << n;
    ASSERT_EQ(outcome.failed, 1) << n;
    // The run's first allocation holds its tables.
    if (n == 0 && outcome.output == kNoTablesRun) continue;
    if (outcome.output.find(kSetupChain) != std::string::npos) {
      // An evaluation abandoned: its parameters are skipped, the rest printed.
      EXPECT_TRUE(ends_with(outcome.output, kRunEnd)) << n;
      continue;
    }
    const std::vector<std::string> got = pieces(outcome.output);
    ASSERT_EQ(got.size(), expected.size()) << n << "\n" << outcome.output;
    int abandoned = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
      if (got[i] == expected[i]) continue;
      // Abandoned: the normal text up to the failure, then the chain; what
      // follows the function (the next netlist's echo) is as before.
      const auto [piece, rest] = split_at_next_netlist(got[i]);
      const auto [expected_piece, expected_rest] = split_at_next_netlist(expected[i]);
      EXPECT_EQ(rest, expected_rest) << n;
      ++abandoned;
      ASSERT_TRUE(ends_with(piece, kAssemblyChain)) << n << "\n" << piece;
      const std::string before = piece.substr(0, piece.size() - (sizeof kAssemblyChain - 1));
      EXPECT_EQ(expected_piece.compare(0, before.size(), before), 0) << n << "\n" << piece;
      stages_hit.insert(stage_of_failure(piece));
    }
    EXPECT_LE(abandoned, 1) << n;
  }
  // Failures inside unit correction (fixup) and inside cancellation were
  // among them, each followed by the next function printed in full.
  EXPECT_TRUE(stages_hit.count("correctunits for numerator called") +
                  stages_hit.count("correctunits for denominator called") >
              0);
  EXPECT_TRUE(stages_hit.count("evaluateliterals for numerator called") +
                  stages_hit.count("evaluateliterals for denominator called") >
              0);
}

TEST(AllocationFailure, ExhaustedHeapNeverEndsTheRun) {
  const Outcome reference = run_with_plan(kNetlists, -1, false);
  const std::vector<std::string> expected = pieces(reference.output);
  for (long long n = 0; n < reference.allocations; ++n) {
    const Outcome outcome = run_with_plan(kNetlists, n, true);
    ASSERT_EQ(outcome.status, 0) << n;
    if (n == 0 && outcome.output == kNoTablesRun) continue;
    EXPECT_TRUE(ends_with(outcome.output, kRunEnd)) << n;
    const std::vector<std::string> got = pieces(outcome.output);
    ASSERT_EQ(got.size(), expected.size()) << n << "\n" << outcome.output;
    // Before the first failure everything is as without it; after it every
    // function is complete or ends in its chain.
    for (std::size_t i = 1; i < got.size(); ++i) {
      const std::string piece = split_at_next_netlist(got[i]).first;
      EXPECT_TRUE(ends_with(piece, " End:\n\n")) << n << "\n" << piece;
    }
  }
}

// Evaluations ahead on four threads: a failure on a worker leaves no
// result and the function is evaluated again in order, so every function
// still prints whole or ends in its chain, and the run goes on.
TEST(AllocationFailure, FailuresOnWorkerThreadsLoseNoFunction) {
  const char netlists[] =
      "r1 1 2 v 2; r2 2 3; l1 2 0; c1 3 0; c2 1 3; r3 3 0; gm1 3 0 1 0\n"
      "f 1 0 3 0 p g21 p y11 p z21 p s21 e\n";
  const Outcome reference = run_with_plan(netlists, -1, false, 4);
  ASSERT_EQ(reference.status, 0);
  const std::vector<std::string> expected = pieces(reference.output);
  ASSERT_EQ(expected.size(), 5u) << reference.output;
  for (long long n = 0; n < reference.allocations; n += 3) {
    const Outcome outcome = run_with_plan(netlists, n, false, 4);
    ASSERT_EQ(outcome.status, 0) << n;
    if (n == 0 && outcome.output == kNoTablesRun) continue;
    EXPECT_TRUE(ends_with(outcome.output, kRunEnd)) << n;
    const std::vector<std::string> got = pieces(outcome.output);
    if (outcome.output.find(kSetupChain) != std::string::npos) continue;
    ASSERT_EQ(got.size(), expected.size()) << n << "\n" << outcome.output;
    for (std::size_t i = 1; i < got.size(); ++i) {
      const std::string piece = split_at_next_netlist(got[i]).first;
      EXPECT_TRUE(got[i] == expected[i] || ends_with(piece, kAssemblyChain))
          << n << "\n" << got[i];
    }
  }
}

}  // namespace
