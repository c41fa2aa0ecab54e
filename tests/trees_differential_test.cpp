// The shortcuts of the tree enumeration and of the term store against the
// plain algorithm: skipping alternatives that hold no spanning tree,
// abandoning partial trees that cannot become common trees, keeping each
// tree's sign up as edges are taken and released instead of walking both
// trees, and finding terms through a hash index with the columns ordered once
// at the end. For every
// netlist both runs must print the same bytes (but for the elapsed time and
// the heap addresses of the growth trace).

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "input/main_loop.h"
#include "support/memory_streams.h"
#include "support/random_netlist.h"
#include "support/store_probes.h"
#include "support/text_patterns.h"
#include "trees/memory.h"
#include "trees/run_stats.h"
#include "trees/term_store.h"

namespace {

using kavrel_oracle::Netlist;

struct RunResult {
  std::string output;
  kavrel::RunStats stats;
};

// The text with the digits of the elapsed-time line and of every hex address
// replaced by "#" (the heap hands out different addresses to both runs).
std::string masked(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  const std::string elapsed = "{elapsed time: ";
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "0x") == 0) {
      result += "0x#";
      i += 2;
      while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]))) ++i;
    } else if (text.compare(i, elapsed.size(), elapsed) == 0) {
      result += elapsed + "#";
      i += elapsed.size();
      while (i < text.size() && text[i] != '/') ++i;
    } else {
      result += text[i++];
    }
  }
  return result;
}

RunResult run(const std::string& input, bool exact_only) {
  FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  char* buffer = nullptr;
  std::size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  RunResult result;
  result.stats.exact_enumeration_only = exact_only;
  kavrel::run_kavrel(in, out, &result.stats);
  std::fclose(out);
  std::fclose(in);
  result.output = masked(std::string(buffer, size));
  std::free(buffer);
  return result;
}

// The first line where two outputs part, with its number, for a readable
// failure message.
std::string first_difference(const std::string& a, const std::string& b) {
  std::size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  const std::size_t line_start = a.rfind('\n', at == 0 ? 0 : at - 1);
  const std::size_t from = line_start == std::string::npos ? 0 : line_start + 1;
  const long line = std::count(a.begin(), a.begin() + static_cast<long>(from), '\n') + 1;
  auto line_of = [from](const std::string& text) {
    return text.substr(from, text.find('\n', from) - from);
  };
  return "line " + std::to_string(line) + ":\n fast:  " + line_of(a) + "\n plain: " + line_of(b);
}

// Compares both runs; returns the fast run's counters for further checks.
kavrel::RunStats expect_same_output(const std::string& input, const std::string& what) {
  const RunResult fast = run(input, false);
  const RunResult exact = run(input, true);
  EXPECT_TRUE(fast.output == exact.output)
      << what << ", " << first_difference(fast.output, exact.output) << "\ninput:\n"
      << input.substr(0, 4000);
  EXPECT_EQ(fast.stats.common_trees, exact.stats.common_trees) << what;
  EXPECT_EQ(fast.stats.terms, exact.stats.terms) << what;
  EXPECT_LE(fast.stats.raw_i_trees, exact.stats.raw_i_trees) << what;
  return fast.stats;
}

std::string entry(const char* format, int a = 0, int b = 0, int c = 0, int d = 0, int e = 0) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b, c, d, e);
  return text;
}

std::string with_bits(const std::string& body, int bits) {
  return bits == 0 ? body : body + entry("t %d\n", bits);
}

// r1 1 2, c1 2 0, r2 2 3, c2 3 0, ... with the port from the input to the far end.
std::string rc_ladder(int sections, const std::string& params) {
  std::string text;
  for (int k = 1; k <= sections; ++k) {
    text += entry("r%d %d %d\n", k, k, k + 1);
    text += entry("c%d %d 0\n", k, k + 1);
  }
  return text + entry("f 1 0 %d 0\n", sections + 1) + params;
}

// Unity-gain Sallen-Key lowpass sections in cascade, the amplifier either a
// controlled source u or an op amp o wired as a follower.
std::string sallen_key(int sections, bool opamp, const std::string& params) {
  std::string text;
  int input = 1;
  int next = 2;
  for (int k = 1; k <= sections; ++k) {
    const int m = next++, n = next++, output = next++;
    text += entry("r%d %d %d\n", 2 * k - 1, input, m);
    text += entry("r%d %d %d\n", 2 * k, m, n);
    text += entry("c%d %d %d\n", 2 * k - 1, output, m);
    text += entry("c%d %d 0\n", 2 * k, n);
    text += opamp ? entry("o%d %d 0 %d %d\n", k, output, n, output)
                  : entry("u%d %d 0 %d 0\n", k, output, n);
    input = output;
  }
  return text + entry("f 1 0 %d 0\n", input) + params;
}

// rows x cols nodes, resistors between neighbours, ports at opposite corners.
std::string grid(int rows, int cols, const std::string& params) {
  auto label = [cols](int r, int c) { return r * cols + c + 1; };
  std::string text;
  int count = 0;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      if (c + 1 < cols) text += entry("r%d %d %d\n", ++count, label(r, c), label(r, c + 1));
      if (r + 1 < rows) text += entry("g%d %d %d\n", ++count, label(r, c), label(r + 1, c));
    }
  }
  const int corner = label(rows - 1, 0);
  return text + entry("f %d %d %d %d\n", label(0, 0), corner, label(rows - 1, cols - 1), corner) +
         params;
}

// Conductances, capacitors and transconductances on a random tree plus
// random extra elements, the transconductances' pairs chosen freely.
std::string gm_network(std::mt19937_64& rng, int elements, const std::string& params) {
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const int nodes = 3 + elements / 3;
  int g = 0, c = 0, gm = 0;
  std::string text;
  auto one_port = [&](int a, int b) {
    text += pick(2) == 0 ? entry("g%d %d %d\n", ++g, a, b) : entry("c%d %d %d\n", ++c, a, b);
  };
  for (int v = 1; v < nodes; ++v) one_port(v, pick(v));
  for (int k = nodes - 1; k < elements; ++k) {
    if (pick(3) == 0) {
      const int a = pick(nodes), b = pick(nodes);
      if (a != b) {
        one_port(a, b);
        continue;
      }
    }
    const int out_pos = pick(nodes), out_neg = (out_pos + 1 + pick(nodes - 1)) % nodes;
    const int in_pos = pick(nodes), in_neg = (in_pos + 1 + pick(nodes - 1)) % nodes;
    text += entry("gm%d %d %d %d %d\n", ++gm, out_pos, out_neg, in_pos, in_neg);
  }
  return text + "f 1 0 2 0\n" + params;
}

// Bits that list raw trees, counters or growth (the plain enumeration must
// run), and bits that only trace other stages (the shortcuts stay on).
const int kListingBits[] = {2, 8, 64, 128, 256, 2 | 64, 512};
const int kQuietBits[] = {4, 16, 32, 4096};

std::string read_file(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(TreesDifferential, SampleNetlists) {
  const std::string input = read_file(std::string(KAVREL_SOURCE_DIR) + "/examples/samples.net");
  ASSERT_FALSE(input.empty());
  expect_same_output(input, "samples.net");

  // Each sample again under every listing bit, and under the quiet ones.
  std::vector<Netlist> netlists = kavrel_oracle::parse_netlists(input);
  ASSERT_GE(netlists.size(), 20u);
  std::string listed;
  std::string quiet;
  for (std::size_t k = 0; k < netlists.size(); ++k) {
    Netlist netlist = netlists[k];
    netlist.test_bitmap = static_cast<unsigned>(kListingBits[k % std::size(kListingBits)]);
    listed += kavrel_oracle::format_netlist(netlist);
    netlist.test_bitmap = static_cast<unsigned>(kQuietBits[k % std::size(kQuietBits)]);
    quiet += kavrel_oracle::format_netlist(netlist);
  }
  expect_same_output(listed, "samples under listing bits");
  expect_same_output(quiet, "samples under quiet bits");
}

TEST(TreesDifferential, RandomNetlistsOfEveryElementKind) {
  std::mt19937_64 rng(20261209);
  kavrel_oracle::RandomNetlistOptions options;
  options.max_elements = 9;
  options.max_generated_nodes = 7;
  std::string batch;
  for (int k = 0; k < 300; ++k) {
    Netlist netlist = kavrel_oracle::random_netlist(rng, options);
    // No p entry selects all 32 parameters, scattering ones included; the
    // others ask for a few.
    if (k % 6 != 0) {
      for (int word = 0; word < 3; ++word) {
        netlist.parameter_words.push_back(kavrel_oracle::primary_parameter_names[rng() % 32]);
      }
    }
    if (k % 3 == 1) netlist.test_bitmap = static_cast<unsigned>(kListingBits[rng() % 7]);
    if (k % 3 == 2) netlist.test_bitmap = static_cast<unsigned>(kQuietBits[rng() % 4]);
    batch += kavrel_oracle::format_netlist(netlist);
    if (k % 50 == 49) {
      expect_same_output(batch, "random netlists up to " + std::to_string(k));
      batch.clear();
    }
  }
}

TEST(TreesDifferential, LaddersCascadesGridsAndTransconductances) {
  std::string input;
  for (int n = 1; n <= 9; ++n) input += rc_ladder(n, "p z21\np y11\ne\n");
  for (int n = 1; n <= 3; ++n) input += sallen_key(n, false, "p g21\ne\n");
  for (int n = 1; n <= 4; ++n) input += sallen_key(n, true, "p g21\np h12\ne\n");
  input += sallen_key(2, false, "e\n");  // all 32 parameters
  for (int side = 2; side <= 3; ++side) input += grid(side, side, "p z21\np s21\ne\n");
  input += grid(3, 4, "p z21\ne\n");
  std::mt19937_64 rng(77);
  for (int n = 6; n <= 12; ++n) input += gm_network(rng, n, "p y21\np z12\ne\n");
  const kavrel::RunStats stats = expect_same_output(input, "families");
  EXPECT_GT(stats.terms, 10000);

  std::string listed;
  for (int n = 1; n <= 6; ++n) listed += rc_ladder(n, with_bits("p z21\n", kListingBits[n]) + "e\n");
  for (int n = 1; n <= 3; ++n) listed += sallen_key(n, false, with_bits("p g21\n", 2 | 8) + "e\n");
  listed += sallen_key(2, true, with_bits("p g21\n", 64) + "e\n");
  listed += grid(3, 3, with_bits("p z21\n", 2) + "e\n");
  for (int n = 6; n <= 9; ++n) listed += gm_network(rng, n, with_bits("p y21\n", 2 | 64) + "e\n");
  expect_same_output(listed, "families under listing bits");
}

// The shortcuts must really be taken where they may, and never under the
// bits that show raw trees.
TEST(TreesDifferential, ShortcutsAreTakenOnlyWhereRawTreesStayHidden) {
  const std::string cascade = sallen_key(3, false, "p g21\ne\n");
  const RunResult fast = run(cascade, false);
  const RunResult exact = run(cascade, true);
  EXPECT_TRUE(fast.output == exact.output) << first_difference(fast.output, exact.output);
  EXPECT_LT(fast.stats.raw_i_trees * 4, exact.stats.raw_i_trees);
  EXPECT_EQ(fast.stats.common_trees, exact.stats.common_trees);

  for (int bits : kListingBits) {
    if (bits == 512) continue;  // terms are not stored, raw trees still hidden
    const std::string listed = sallen_key(3, false, with_bits("p g21\n", bits) + "e\n");
    const RunResult fast_listed = run(listed, false);
    const RunResult exact_listed = run(listed, true);
    EXPECT_TRUE(fast_listed.output == exact_listed.output)
        << bits << ", " << first_difference(fast_listed.output, exact_listed.output);
    EXPECT_EQ(fast_listed.stats.raw_i_trees, exact_listed.stats.raw_i_trees) << bits;
  }
}

using kavrel_test::fail_in_range;
using kavrel_test::replace_matches;
using kavrel_test::FailureRule;

std::size_t first_termlist_bytes(const std::string& body) {
  return kavrel_test::first_termlist_bytes(*kavrel_test::read_tables(body + "e\n"));
}

// A store that cannot grow past its first 4472 rows: both runs give up on the
// same tree with the same messages. Only the count of raw i-trees reported
// with the failure may differ, as the fast run skips trees no one sees.
TEST(TreesDifferential, FailedTermStoreGrowthEndsBothRunsAlike) {
  const std::string networks[] = {rc_ladder(10, ""), grid(4, 3, ""), sallen_key(2, false, "")};
  const std::string params[] = {"p z21\ne\n", "p z21\ne\n", "p g21\nt 64\ne\n"};
  for (int n = 0; n < 3; ++n) {
    FailureRule rule{first_termlist_bytes(networks[n]) + 1, SIZE_MAX};
    kavrel::set_allocation_failure(fail_in_range, &rule);
    const std::string input = networks[n] + params[n];
    const RunResult fast = run(input, false);
    const RunResult exact = run(input, true);
    kavrel::set_allocation_failure(nullptr, nullptr);

    const std::string raw_count = "raw i-trees  evaluated: *[0-9]+\n";
    const std::string fast_text = replace_matches(fast.output, raw_count, "raw i-trees #\n");
    const std::string exact_text = replace_matches(exact.output, raw_count, "raw i-trees #\n");
    EXPECT_TRUE(fast_text == exact_text) << n << ": " << first_difference(fast_text, exact_text);
    // Only the ladder needs more termlist rows: the 4x3 grid has 2415 spanning
    // trees, fewer than the first 4472 rows, and its poly, one column wide
    // as no edge is reactive, grows in steps far below the limit.
    const bool runs_out = n == 0;
    EXPECT_EQ(fast.output.find("insufficient memory for combining admittance terms\n") !=
                  std::string::npos,
              runs_out)
        << n;
  }
}

}  // namespace
