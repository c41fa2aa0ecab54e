// Functions evaluated ahead on several threads, each enumeration shared out
// over them, against the evaluation one after the other on the calling
// thread: the same bytes (but for the elapsed time) and the same tree and
// term counts, for the samples, random netlists and networks whose functions
// take long enough to overlap. Four threads on any machine, so that
// evaluations really interleave.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/evaluations_ahead.h"
#include "analysis/scattering_ahead.h"
#include "input/main_loop.h"
#include "support/memory_streams.h"
#include "support/random_netlist.h"
#include "trees/run_monitor.h"
#include "trees/run_stats.h"
#include "trees/thread_count.h"

namespace {

using kavrel_oracle::Netlist;

struct Run {
  std::string text;
  kavrel::RunStats stats;
};

// With several threads, stores of a few hundred terms are shared out too,
// and so is the enumeration of every function.
Run run(const std::string& input, int threads, bool exact_enumeration = false,
        bool small_shares = true) {
  FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  char* buffer = nullptr;
  std::size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  Run result;
  result.stats.threads = threads;
  if (threads > 1) result.stats.min_terms_per_thread = small_shares ? 200 : 0;
  if (threads > 1 && small_shares) result.stats.trees_before_sharing = 1;
  result.stats.exact_enumeration_only = exact_enumeration;
  kavrel::run_kavrel(in, out, &result.stats);
  std::fclose(out);
  std::fclose(in);
  const std::string text(buffer, size);
  std::free(buffer);
  const std::size_t at = text.rfind("{elapsed time: ");
  result.text = at == std::string::npos ? text : text.substr(0, at);
  return result;
}

void expect_same_runs(const std::string& input, const std::string& what,
                      bool exact_enumeration = false, bool small_shares = true) {
  const Run alone = run(input, 1, exact_enumeration);
  const Run shared = run(input, 4, exact_enumeration, small_shares);
  EXPECT_TRUE(alone.text == shared.text) << what << "\ninput:\n" << input.substr(0, 2000);
  EXPECT_EQ(alone.stats.raw_i_trees, shared.stats.raw_i_trees) << what;
  EXPECT_EQ(alone.stats.common_trees, shared.stats.common_trees) << what;
  EXPECT_EQ(alone.stats.terms, shared.stats.terms) << what;
}

std::string entry(const char* format, int a = 0, int b = 0, int c = 0) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// Resistors along the rows, `vertical` elements (g, l, c) between them.
std::string grid(int rows, int columns, char vertical = 'g') {
  std::string text;
  int count = 0;
  auto node = [columns](int r, int c) { return r * columns + c + 1; };
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      if (c + 1 < columns) text += entry("r%d %d %d\n", ++count, node(r, c), node(r, c + 1));
      if (r + 1 < rows) {
        text += std::string(1, vertical) +
                entry("%d %d %d\n", ++count, node(r, c), node(r + 1, c));
      }
    }
  }
  return text + entry("f %d %d %d ", node(0, 0), node(rows - 1, 0), node(rows - 1, columns - 1)) +
         entry("%d\n", node(rows - 1, 0));
}

// Sallen-Key low-pass sections in a chain, each buffered by an op amp.
std::string sallen_key_chain(int sections) {
  std::string text;
  int in = 1;
  for (int k = 0; k < sections; ++k) {
    const int a = in + 1;
    const int b = in + 2;
    const int out = in + 3;
    text += entry("r%d %d %d\n", 2 * k + 1, in, a) + entry("r%d %d %d\n", 2 * k + 2, a, b) +
            entry("c%d %d %d\n", 2 * k + 1, out, a) + entry("c%d %d 0\n", 2 * k + 2, b) +
            entry("o%d %d 0 %d ", k + 1, out, b) + entry("%d\n", out);
    in = out;
  }
  return text + entry("f 1 0 %d 0\n", in);
}

TEST(Threads, SampleNetlists) {
  std::ifstream file(std::string(KAVREL_SOURCE_DIR) + "/examples/samples.net");
  std::stringstream text;
  text << file.rdbuf();
  ASSERT_FALSE(text.str().empty());
  expect_same_runs(text.str(), "samples.net");
  expect_same_runs(text.str(), "samples.net, exact enumeration", true);
}

// Mostly without test bits, which keep evaluation on the calling thread.
TEST(Threads, RandomNetlistsOfEveryElementKind) {
  std::mt19937_64 rng(90210);
  kavrel_oracle::RandomNetlistOptions options;
  options.max_elements = 11;
  options.max_labels = 7;
  std::string batch;
  for (int k = 0; k < 150; ++k) {
    Netlist netlist = kavrel_oracle::random_netlist(rng, options);
    if (k % 3 == 0) {
      netlist.parameter_words.clear();
      for (int word = 0; word < 4; ++word) {
        netlist.parameter_words.push_back(kavrel_oracle::primary_parameter_names[rng() % 32]);
      }
    }
    netlist.test_bitmap = k % 10 == 9 ? 4096 : k % 10 == 8 ? 8 : 0;
    batch += kavrel_oracle::format_netlist(netlist);
    if (k % 50 == 49) {
      expect_same_runs(batch, "random netlists up to " + std::to_string(k));
      batch.clear();
    }
  }
}

// Enumerations of thousands of trees each, in both stages; numeric values,
// and the terms not stored.
TEST(Threads, GridsWithEveryParameter) {
  expect_same_runs(grid(3, 3) + "e\n", "3x3 grid");
  expect_same_runs(grid(3, 4) + "r1 v 2\nn 2\np z21\np s11\np F12\ne\n", "3x4 grid, n 2");
  expect_same_runs(grid(3, 3) + "t 512\ne\n" + grid(3, 3) + "t 4096\ne\n", "3x3 grids, bits");
}

// Stores shared out in the output stage (from a few hundred terms on, in
// these runs): evaluation by slices of rows, unit correction and merging
// bucket by bucket.
TEST(Threads, SharedStoresInTheOutputStage) {
  expect_same_runs(grid(3, 4) + "r3 v 2\np z21\np y11\ne\n", "3x4 grid");
  // Unit correction moves terms of inductors to other powers of s.
  expect_same_runs(grid(3, 4, 'l') + "p z21\ne\n", "3x4 grid of r and l");
  expect_same_runs(grid(3, 4, 'c') + "p y21\ne\n", "3x4 grid of r and c");
}

// The scattering stage's functions evaluated while the ordinary stage
// prints, from tables embedded and conjugated apart from the run's own: with
// ordinary functions too small to be shared out, the default thresholds.
TEST(Threads, ScatteringFunctionsEvaluatedWhileTheOrdinaryOnesPrint) {
  const std::string parameters = "p z21\np y11\np g12\np s11\np s21\np F12\n";
  expect_same_runs(grid(3, 3, 'c') + parameters + "e\n", "3x3 grid of r and c", false, false);
  expect_same_runs(grid(2, 4, 'l') + "n 2\n" + parameters + "e\n", "2x4 grid of r and l, n 2",
                   false, false);
  // Numerators that take longer than the rows before them print: each row
  // waits for its own.
  expect_same_runs(sallen_key_chain(3) + "e\n", "3 op amp sections, every row", false, false);
  // Only scattering rows: nothing prints before their stage.
  expect_same_runs(grid(3, 3) + "p s12\np s22\ne\n" + grid(3, 3, 'c') + "e\n",
                   "scattering rows alone, then every row", false, false);
}

// The scattering stage's denominators evaluated ahead are handed over while
// the run's output stands; once it has failed, nothing is handed over and
// the stage ends what is still running.
TEST(Threads, ScatteringFunctionsAheadStopWithTheRunsOutput) {
  for (const bool output_failed : {false, true}) {
    const auto net = kavrel_test::read_tables(grid(3, 4, 'c') + "p z21\np s11\np s21\ne\n");
    ASSERT_NE(net, nullptr);
    kavrel::RunStats ordinary_stats;
    ordinary_stats.threads = 2;
    kavrel::TopofunStores ordinary;
    ordinary.stats = &ordinary_stats;
    kavrel::ScatteringAhead ahead;
    ahead.start(*net, ordinary);

    std::atomic<bool> failed{output_failed};
    kavrel::RunMonitor monitor(&failed);
    kavrel::RunStats run;
    run.monitor = &monitor;
    kavrel::EvaluationsAhead* denominators = ahead.denominators(&run);
    if (output_failed) {
      EXPECT_EQ(denominators, nullptr);
      EXPECT_EQ(ahead.numerators(&run), nullptr);
      continue;
    }
    ASSERT_NE(denominators, nullptr);
    const kavrel::TopofunList wanted = kavrel::scattering_functions(*net, ordinary, false);
    ASSERT_GE(wanted.count, 1);
    for (int i = 0; i < wanted.count; ++i) EXPECT_TRUE(denominators->has_result(wanted.codes[i]));

    // The numerators are handed over as they begin, and each comes in.
    kavrel::EvaluationsAhead* numerators = ahead.numerators(&run);
    ASSERT_NE(numerators, nullptr);
    const kavrel::TopofunList numerator_codes = kavrel::scattering_functions(*net, ordinary, true);
    ASSERT_GE(numerator_codes.count, 1);
    for (int i = 0; i < numerator_codes.count; ++i) {
      ahead.numerator(numerator_codes.codes[i], &run);
      EXPECT_TRUE(numerators->has_result(numerator_codes.codes[i]));
    }
  }
}

TEST(Threads, CountFollowsTheRun) {
  kavrel::RunStats stats;
  stats.threads = 3;
  EXPECT_EQ(kavrel::usable_threads(&stats), 3);
  stats.threads = 0;
  EXPECT_GE(kavrel::usable_threads(&stats), 1);
  EXPECT_GE(kavrel::usable_threads(nullptr), 1);
}

// A worker's monitor touches no stream and reports a stop only once the
// owner of the run's monitor has cancelled.
TEST(Threads, WorkerMonitorStopsWhenCancelled) {
  std::atomic<bool> cancelled{false};
  kavrel::RunMonitor watcher(&cancelled);
  EXPECT_FALSE(watcher.check_now());
  EXPECT_FALSE(watcher.output_failed());
  EXPECT_FALSE(watcher.draws_progress());
  cancelled.store(true);
  EXPECT_TRUE(watcher.check_now());
  EXPECT_TRUE(watcher.stopped());
}

TEST(Threads, TopofunListKeepsFirstRequestsInOrder) {
  kavrel::TopofunList list;
  for (const int code : {3, 0, 3, 9, -1, 5, 0, 7}) list.add(code);
  ASSERT_EQ(list.count, 4);
  EXPECT_EQ(list.codes[0], 3);
  EXPECT_EQ(list.codes[1], 0);
  EXPECT_EQ(list.codes[2], 5);
  EXPECT_EQ(list.codes[3], 7);
}

// Output that has already failed: nothing is evaluated and nothing printed,
// whichever way the functions would have been evaluated.
TEST(Threads, FailedOutputEndsEvaluationAhead) {
  for (const int threads : {1, 4}) {
    FILE* in = std::tmpfile();
    const std::string input = grid(3, 4) + "e\n";
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    FILE* out = std::fopen("/dev/full", "w");
    if (out == nullptr) GTEST_SKIP() << "no /dev/full";
    kavrel::RunStats stats;
    stats.threads = threads;
    kavrel::RunOptions options;
    options.stats = &stats;
    options.errors = nullptr;
    EXPECT_EQ(kavrel::run_kavrel(in, out, options), 1);
    std::fclose(out);
    std::fclose(in);
  }
}

}  // namespace
