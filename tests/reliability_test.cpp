#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include <random>

#include "input/main_loop.h"
#include "support/memory_streams.h"
#include "support/random_netlist.h"
#include "trees/enumeration.h"
#include "trees/run_monitor.h"
#include "trees/topofun.h"
#include "trees/tree_count.h"

namespace {

std::string file_text(FILE* file) {
  std::rewind(file);
  std::string text;
  int c;
  while ((c = std::fgetc(file)) != EOF) text += static_cast<char>(c);
  return text;
}

FILE* input_of(const std::string& text) {
  FILE* in = std::tmpfile();
  std::fputs(text.c_str(), in);
  std::rewind(in);
  return in;
}

const char kLadder[] = "r1 1 2 c1 2 0 r2 2 0 f 1 0 2 0 p g21 e\n";

TEST(WriteFailure, FullDeviceReportsOneLineAndExitsOne) {
  FILE* full = std::fopen("/dev/full", "w");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full";
  FILE* in = input_of(kLadder);
  FILE* errors = std::tmpfile();
  kavrel::RunOptions options;
  options.errors = errors;
  EXPECT_EQ(kavrel::run_kavrel(in, full, options), 1);
  EXPECT_EQ(file_text(errors), "kavrel: output could not be written: No space left on device\n");
  std::fclose(full);
  std::fclose(in);
  std::fclose(errors);
}

TEST(WriteFailure, WrittenOutputExitsZeroWithNothingOnErrors) {
  FILE* in = input_of(kLadder);
  FILE* out = std::tmpfile();
  FILE* errors = std::tmpfile();
  kavrel::RunOptions options;
  options.errors = errors;
  EXPECT_EQ(kavrel::run_kavrel(in, out, options), 0);
  EXPECT_NE(file_text(out).find(" End:"), std::string::npos);
  EXPECT_EQ(file_text(errors), "");
  std::fclose(in);
  std::fclose(out);
  std::fclose(errors);
}

// A read-only stream: every write fails, as an injected write error.
TEST(WriteFailure, StreamInErrorStateExitsOne) {
  FILE* in = input_of(kLadder);
  FILE* out = std::fopen("/dev/null", "r");
  ASSERT_NE(out, nullptr);
  FILE* errors = std::tmpfile();
  kavrel::RunOptions options;
  options.errors = errors;
  EXPECT_EQ(kavrel::run_kavrel(in, out, options), 1);
  const std::string reported = file_text(errors);
  EXPECT_EQ(reported.rfind("kavrel: output could not be written", 0), 0u);
  EXPECT_EQ(std::count(reported.begin(), reported.end(), '\n'), 1);
  std::fclose(in);
  std::fclose(out);
  std::fclose(errors);
}

// Edge lists of a plain graph over nodes 1..n: edge 1 is the reserved edge
// from the extra node n+1 to node 1, as setup builds it.
struct Graph {
  kavrel::EdgeLists lists;
  int nodes;
  explicit Graph(int n) : nodes(n + 1) { add(n + 1, 1); }
  void add(int a, int b, int kind = 0) {
    const int e = ++lists.edges;
    lists.inode1[e] = lists.vnode1[e] = a;
    lists.inode2[e] = lists.vnode2[e] = b;
    lists.dmap[e] = kind;
  }
  std::string count() const {
    char text[64];
    kavrel::format_tree_count(kavrel::count_raw_i_trees(lists, nodes), text, sizeof text);
    return text;
  }
};

TEST(TreeCount, CompleteGraphsHaveNToTheNMinusTwoTrees) {
  const char* expected[] = {"1", "1", "3", "16", "125", "1296", "16807", "262144"};
  for (int n = 1; n <= 8; ++n) {
    Graph g(n);
    for (int a = 1; a <= n; ++a)
      for (int b = a + 1; b <= n; ++b) g.add(a, b);
    EXPECT_EQ(g.count(), expected[n - 1]) << n;
  }
  // K_14 within the edge lists' 103 slots: 14^12 trees, beyond 32 bits.
  Graph big(14);
  for (int a = 1; a <= 14; ++a)
    for (int b = a + 1; b <= 14; ++b) big.add(a, b);
  EXPECT_EQ(big.count(), "56693912375296");
}

TEST(TreeCount, GridsLaddersAndForcedEdges) {
  // Grid graphs: 3x3 has 192 spanning trees, 4x4 has 100352.
  for (auto [side, trees] : {std::pair{3, "192"}, std::pair{4, "100352"}}) {
    Graph g(side * side);
    auto label = [side](int r, int c) { return r * side + c + 1; };
    for (int r = 0; r < side; ++r)
      for (int c = 0; c < side; ++c) {
        if (c + 1 < side) g.add(label(r, c), label(r, c + 1));
        if (r + 1 < side) g.add(label(r, c), label(r + 1, c));
      }
    EXPECT_EQ(g.count(), trees) << side;
  }
  // A triangle whose edge 1-2 must be taken: 2 of its 3 trees hold it.
  Graph forced(3);
  forced.add(1, 2, kavrel::kKindOpamp);
  forced.add(2, 3);
  forced.add(1, 3);
  EXPECT_EQ(forced.count(), "2");
  // Forced edges that close a cycle before every node is reached leave no
  // tree.
  Graph cycle(3);
  cycle.add(1, 2, kavrel::kKindOpamp);
  cycle.add(1, 2, kavrel::kKindFirstPort);
  cycle.add(2, 3);
  EXPECT_EQ(cycle.count(), "0");
  // When the reserved edge and the first forced edge already reach every
  // node, the enumeration meets that one tree before it decides the second
  // forced edge (and qualification rejects it).
  Graph early(2);
  early.add(1, 2, kavrel::kKindOpamp);
  early.add(1, 2, kavrel::kKindFirstPort);
  EXPECT_EQ(early.count(), "1");
}

}  // namespace

namespace {

TEST(Labels, OverflowingLabelIsRefusedNotWrapped) {
  FILE* in = input_of("r1 1 4294967296 f 1 0 1 0 e\n");
  FILE* out = std::tmpfile();
  EXPECT_EQ(kavrel::run_kavrel(in, out), 0);
  const std::string text = file_text(out);
  // 2^32 would wrap to 0, a silent tie to ground; it is refused as too large
  // and shown as typed, in the echo and in the message.
  EXPECT_NE(text.find("\nr1 1 4294967296node label 4294967296 must be less than 1000\n f 1 0 1 0 e"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("4294967295"), std::string::npos) << text;
  std::fclose(in);
  std::fclose(out);
}

std::string run_text(const std::string& input) {
  FILE* in = input_of(input);
  FILE* out = std::tmpfile();
  kavrel::run_kavrel(in, out);
  std::string text = file_text(out);
  std::fclose(in);
  std::fclose(out);
  return text;
}

TEST(Labels, EachOverflowingLabelKeepsItsOwnDigits) {
  // A u element numbers its labels in the order -out, +in, -in, +out, so the
  // messages come in that order, each with the digits of its own label.
  const std::string text = run_text("u1 11111111111 22222222222 1 0 f 1 0 1 0 e\n");
  EXPECT_NE(text.find("u1 11111111111 22222222222 1 0"
                      "node label 22222222222 must be less than 1000\n"
                      "node label 11111111111 must be less than 1000\n"),
            std::string::npos)
      << text;
  // Leading zeros are not digits of the value; an ordinary large label is
  // shown as before.
  const std::string zeros = run_text("r1 000004294967296 1000 f 1 0 1 0 e\n");
  EXPECT_NE(zeros.find("r1 4294967296 1000node label 4294967296 must be less than 1000\n"
                       "node label 1000 must be less than 1000\n"),
            std::string::npos)
      << zeros;
}

TEST(Labels, VeryLongLabelShowsItsFirstDigits) {
  const std::string digits(100, '7');
  const std::string shown = std::string(64, '7') + "...";
  const std::string text = run_text("r1 1 " + digits + " f 1 0 1 0 e\n");
  EXPECT_NE(text.find("r1 1 " + shown + "node label " + shown + " must be less than 1000\n"),
            std::string::npos)
      << text;
}

}  // namespace

namespace {

// The count shown before an enumeration is exactly what the plain
// enumeration (no pruning, no shortcuts) then generates, for every function
// of random networks of every element kind.
TEST(TreeCount, EqualsTheRawTreesOfThePlainEnumeration) {
  std::mt19937_64 rng(20261209);
  FILE* sink = std::tmpfile();
  FILE* progress = std::tmpfile();
  int compared = 0;
  for (int round = 0; round < 200; ++round) {
    const kavrel_oracle::Netlist netlist = kavrel_oracle::random_netlist(rng);
    auto net = kavrel_test::read_tables(kavrel_oracle::format_netlist(netlist));
    ASSERT_NE(net, nullptr);
    kavrel::RunStats stats;
    stats.exact_enumeration_only = true;
    kavrel::RunMonitor monitor(sink, progress);
    stats.monitor = &monitor;
    kavrel::TopofunStores stores;
    stores.stats = &stats;
    int32_t function_counter = 0;
    for (int code = 0; code < 6; ++code) {
      const long long before = stats.raw_i_trees;
      stores.topofun_evaluated[code] = 1;
      kavrel::evaluate_topofun(*net, stores, sink, net->passive_snapshot, net->active_edge_count,
                               net->tree_branch_count, code, function_counter);
      if (stores.topofun_evaluated[code] == 0) continue;
      const kavrel::TreeCount& counted = monitor.enumeration_total();
      ASSERT_FALSE(counted.exceeded);
      EXPECT_EQ(static_cast<long long>(counted.value), stats.raw_i_trees - before)
          << "round " << round << " code " << code << "\n"
          << kavrel_oracle::format_netlist(netlist);
      ++compared;
    }
    kavrel::release_term_stores(stores);
  }
  EXPECT_GT(compared, 1000);
  std::fclose(sink);
  std::fclose(progress);
}

}  // namespace
