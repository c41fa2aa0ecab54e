// The shortcuts of the output stage against the passes as worded: terms
// visited in memory order instead of column order, buckets merged through
// packed integer keys and a radix sort instead of binary insertion, and the
// polynomial text assembled in a buffer instead of printed piece by piece;
// and large polynomials formatted by several threads against one.
// For every input both runs must print the same bytes (but for the elapsed
// time).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "input/main_loop.h"
#include "output/cancellation.h"
#include "output/polynomial.h"
#include "output_store_builder.h"
#include "support/random_netlist.h"
#include "trees/run_stats.h"

namespace {

using kavrel_oracle::Netlist;

std::string without_elapsed_time(const std::string& text) {
  const std::size_t at = text.rfind("{elapsed time: ");
  return at == std::string::npos ? text : text.substr(0, at);
}

std::string run(const std::string& input, bool worded, int threads = 0) {
  FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  char* buffer = nullptr;
  std::size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  kavrel::RunStats stats;
  stats.exact_output_only = worded;
  stats.threads = threads;
  kavrel::run_kavrel(in, out, &stats);
  std::fclose(out);
  std::fclose(in);
  std::string text = without_elapsed_time(std::string(buffer, size));
  std::free(buffer);
  return text;
}

std::string first_difference(const std::string& a, const std::string& b) {
  std::size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  const std::size_t line_start = a.rfind('\n', at == 0 ? 0 : at - 1);
  const std::size_t from = line_start == std::string::npos ? 0 : line_start + 1;
  auto line_of = [from](const std::string& text) {
    return text.substr(from, text.find('\n', from) - from);
  };
  return "at byte " + std::to_string(at) + ":\n fast:   " + line_of(a) + "\n worded: " +
         line_of(b);
}

void expect_same_output(const std::string& input, const std::string& what) {
  const std::string fast = run(input, false);
  const std::string worded = run(input, true);
  EXPECT_TRUE(fast == worded) << what << ", " << first_difference(fast, worded) << "\ninput:\n"
                              << input.substr(0, 3000);
}

std::string entry(const char* format, int a = 0, int b = 0, int c = 0) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

std::string read_file(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Bits that change what the output stage prints or lists.
const unsigned kOutputBits[] = {0, 4, 16, 32, 4096, 16 | 32 | 4096, 512};

TEST(OutputDifferential, SampleNetlistsUnderEveryOutputBit) {
  const std::string input = read_file(std::string(KAVREL_SOURCE_DIR) + "/examples/samples.net");
  ASSERT_FALSE(input.empty());
  expect_same_output(input, "samples.net");
  const std::vector<Netlist> netlists = kavrel_oracle::parse_netlists(input);
  ASSERT_GE(netlists.size(), 20u);
  for (const unsigned bits : kOutputBits) {
    std::string batch;
    for (Netlist netlist : netlists) {
      netlist.test_bitmap = bits;
      batch += kavrel_oracle::format_netlist(netlist);
    }
    expect_same_output(batch, "samples under bits " + std::to_string(bits));
  }
}

// Numeric values make equal symbol products to merge; repeated names and
// every element kind give unit factors, refiled terms and long symbol lists.
TEST(OutputDifferential, RandomNetlistsOfEveryElementKind) {
  std::mt19937_64 rng(4413);
  kavrel_oracle::RandomNetlistOptions options;
  options.max_elements = 10;
  options.max_labels = 6;
  std::string batch;
  for (int k = 0; k < 400; ++k) {
    Netlist netlist = kavrel_oracle::random_netlist(rng, options);
    if (k % 5 != 0) {
      for (int word = 0; word < 3; ++word) {
        netlist.parameter_words.push_back(kavrel_oracle::primary_parameter_names[rng() % 32]);
      }
    }
    if (k % 2 == 1) netlist.test_bitmap = kOutputBits[rng() % std::size(kOutputBits)];
    batch += kavrel_oracle::format_netlist(netlist);
    if (k % 50 == 49) {
      expect_same_output(batch, "random netlists up to " + std::to_string(k));
      batch.clear();
    }
  }
}

// Buckets of thousands of terms: the radix sort over several digits, the
// buckets that arrive ordered either way and those that do not.
TEST(OutputDifferential, LaddersGridsAndCascades) {
  std::string input;
  for (int n = 4; n <= 8; ++n) {
    for (int k = 1; k <= n; ++k) {
      input += entry("r%d %d %d\n", k, k, k + 1) + entry("c%d %d 0\n", k, k + 1);
      if (k % 3 == 0) input += entry("l%d %d 0\nv 2\n", k, k + 1);
    }
    input += entry("f 1 0 %d 0\np z21\np y11\np s21\ne\n", n + 1);
  }
  // A 3x4 grid with alternate resistors given values.
  int count = 0;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      const int node = r * 4 + c + 1;
      if (c + 1 < 4) input += entry("r%d %d %d\n", ++count, node, node + 1);
      if (count % 4 == 0) input += "v 3\n";
      if (r + 1 < 3) input += entry("g%d %d %d\n", ++count, node, node + 4);
    }
  }
  input += "f 1 9 12 9\ne\n";
  for (int sections = 1; sections <= 3; ++sections) {
    int from = 1;
    int next = 2;
    for (int k = 1; k <= sections; ++k) {
      const int m = next++, n = next++, output = next++;
      input += entry("r%d %d %d\n", 2 * k - 1, from, m) + entry("r%d %d %d\n", 2 * k, m, n);
      input += entry("c%d %d %d\n", 2 * k - 1, output, m) + entry("c%d %d 0\n", 2 * k, n);
      input += entry("o%d %d 0 ", k) + entry("%d %d\n", n, output);
      from = output;
    }
    input += entry("f 1 0 %d 0\nt 4096\ne\n", from);
  }
  expect_same_output(input, "families");
}

// Hand-built stores whose exponents span wide ranges over many names, so
// that the packed keys of a bucket fill more than one word and their fields
// straddle word boundaries; a few named values make equal products.
// Building them is random enough that a bucket can hold a term twice.
TEST(OutputDifferential, WideExponentRangesAndManyNames) {
  using output_test::Term;
  std::mt19937_64 rng(99);
  for (int round = 0; round < 300; ++round) {
    const int names = 8 + static_cast<int>(rng() % 30);
    const int spread = 1 + static_cast<int>(rng() % 60);
    std::vector<double> values(static_cast<std::size_t>(names));
    for (double& value : values) value = rng() % 5 == 0 ? 0.5 + static_cast<double>(rng() % 4) : 0;
    std::vector<Term> terms[2];
    for (auto& list : terms) {
      std::set<std::pair<int, std::vector<int>>> seen;
      const int count = 1 + static_cast<int>(rng() % 400);
      for (int t = 0; t < count; ++t) {
        // Resistors and conductances (even k) take the wide exponents;
        // capacitors (odd k) 0 or 1, their sum being the term's power of s.
        std::vector<int> exponents(static_cast<std::size_t>(names));
        int power = 0;
        for (int k = 0; k < names; ++k) {
          int& e = exponents[static_cast<std::size_t>(k)];
          if (k % 2 == 0) {
            e = rng() % 3 == 0 ? static_cast<int>(rng() % (spread + 1)) : 0;
          } else {
            e = rng() % 4 == 0 ? 1 : 0;
            power += e;
          }
        }
        // Every fourth round keeps repeated terms, as a store out of order
        // might hold them.
        const bool fresh = seen.insert({power, exponents}).second;
        if (!fresh && round % 4 != 3) continue;
        Term term{power, static_cast<int>(rng() % 7) - 3, {}};
        for (int k = 0; k < names; ++k) {
          if (exponents[static_cast<std::size_t>(k)] != 0) {
            term.exponents.push_back({k + 2, exponents[static_cast<std::size_t>(k)]});
          }
        }
        list.push_back(term);
      }
    }
    const unsigned bits = kOutputBits[round % std::size(kOutputBits)] & ~512u;
    std::string printed[2];
    for (int worded = 0; worded < 2; ++worded) {
      auto net = output_test::make_network();
      net->test_bitmap = static_cast<int32_t>(bits);
      for (int k = 0; k < names; ++k) {
        // Unit correction turns the exponents of the resistors around, so
        // that the buckets no longer arrive in order.
        const char* kind = k % 2 == 1 ? "c" : k % 4 == 0 ? "r" : "g";
        const std::string name = kind + std::to_string(k + 1);
        output_test::add_name(*net, name.c_str(), values[static_cast<std::size_t>(k)]);
      }
      output_test::Stores stores;
      kavrel::RunStats stats;
      stats.exact_output_only = worded == 1;
      stores.all.stats = &stats;
      stores.set(0, terms[0], 512, 512);
      stores.set(2, terms[1], 512, 512);
      printed[worded] = output_test::print_function(*net, stores, round % 2 == 0 ? 1 : -1, 0, 2);
    }
    EXPECT_TRUE(printed[0] == printed[1])
        << "round " << round << ", " << first_difference(printed[0], printed[1]);
  }
}

// Lowers the size from which polynomials are formatted by threads, and the
// chunk size, for one test.
class Chunking {
 public:
  Chunking(long long threshold_terms, int chunk_terms) {
    kavrel::set_print_chunking({threshold_terms, chunk_terms});
  }
  ~Chunking() { kavrel::set_print_chunking({}); }
  Chunking(const Chunking&) = delete;
  Chunking& operator=(const Chunking&) = delete;
};

void expect_same_with_threads(const std::string& input, const std::string& what) {
  const std::string alone = run(input, false, 1);
  const std::string shared = run(input, false, 4);
  ASSERT_FALSE(alone.empty());
  EXPECT_TRUE(alone == shared) << what << ", " << first_difference(shared, alone);
}

// All parameters unless `parameters` names some ("p z21\n").
std::string ladder(int sections, const std::string& parameters = "") {
  std::string input;
  for (int k = 1; k <= sections; ++k) {
    input += entry("r%d %d %d\n", k, k, k + 1) + entry("c%d %d 0\n", k, k + 1);
  }
  return input + entry("f 1 0 %d 0\n", sections + 1) + parameters + "e\n";
}

std::string grid(int side, bool with_capacitors, const std::string& parameters = "") {
  std::string input;
  int count = 0;
  for (int r = 0; r < side; ++r) {
    for (int c = 0; c < side; ++c) {
      const int node = r * side + c + 1;
      if (c + 1 < side) input += entry("r%d %d %d\n", ++count, node, node + 1);
      if (r + 1 < side) input += entry("r%d %d %d\n", ++count, node, node + side);
      if (with_capacitors && (r + c) % 2 == 1) input += entry("c%d %d 0\n", node, node);
    }
  }
  const int corner = side * (side - 1) + 1;
  return input + entry("f 1 %d %d %d\n", corner, side * side, corner) + parameters + "e\n";
}

// Functions of tens of thousands of terms, formatted in several chunks of the
// size used in earnest, and every parameter of smaller networks.
TEST(ThreadedPrinting, LargeFunctionsAsOnOneThread) {
  expect_same_with_threads(ladder(12, "p z21\n") + ladder(6), "ladders of 12 and 6 sections");
  expect_same_with_threads(grid(3, true), "grid");
  std::string rational = ladder(11, "p z21\n");
  rational.insert(rational.size() - 2, "t 4096\n");
  expect_same_with_threads(rational, "ladder of 11 sections, rational form");
}

// Chunks of a few terms, so that they begin and end anywhere: at a bucket's
// first or last term, in its middle, or across buckets of one term, and a
// chunk holds a whole small polynomial or the last few terms.
TEST(ThreadedPrinting, ChunkBoundariesAnywhere) {
  const std::string samples =
      read_file(std::string(KAVREL_SOURCE_DIR) + "/examples/samples.net");
  ASSERT_FALSE(samples.empty());
  std::string families = ladder(1) + ladder(2) + ladder(5) + grid(3, false, "p z21\np s11\n");
  std::string rational = ladder(4);
  rational.insert(rational.size() - 2, "t 4096\n");
  families += rational;
  for (const int chunk_terms : {1, 3, 64}) {
    const Chunking chunking(1, chunk_terms);
    expect_same_with_threads(samples, "samples, chunks of " + std::to_string(chunk_terms));
    expect_same_with_threads(families, "families, chunks of " + std::to_string(chunk_terms));
  }
}

// The longest lines there can be: every one of the 104 names, each of twelve
// characters, with a three-digit exponent, in the rational form. Chunks are
// as long as their buffers allow, which the sanitizer build checks.
TEST(ThreadedPrinting, ChunksOfTheLongestLines) {
  using output_test::Term;
  auto net = output_test::make_network();
  net->test_bitmap = kavrel::kBitRational;
  std::vector<int> slots;
  while (net->branch_name_count + 1 < kavrel::kNameSlots) {
    char name[16];
    std::snprintf(name, sizeof name, "g%011d", net->branch_name_count + 1);
    slots.push_back(output_test::add_name(*net, name));
  }
  std::mt19937_64 rng(7);
  std::set<std::vector<int>> seen;
  std::vector<Term> terms;
  while (terms.size() < 3000) {
    Term term{static_cast<int>(rng() % 3), static_cast<int>(rng() % 9) - 4, {}};
    if (term.coefficient == 0) term.coefficient = 1;
    std::vector<int> exponents;
    for (const int slot : slots) {
      exponents.push_back(100 + static_cast<int>(rng() % 28));
      term.exponents.push_back({slot, exponents.back()});
    }
    if (!seen.insert(exponents).second) continue;
    terms.push_back(term);
  }
  kavrel::TermStore store = output_test::build_store(terms, 4096, 4096);
  for (int row = 0; row < store.terms_used; ++row) {
    store.termvalue[row] = kavrel::term_coefficient(store, row) * -1.25e-300;
  }
  kavrel::CancellationState state{};
  state.min_power = 0;
  const Chunking chunking(1, 0);
  std::string printed[3];
  for (int way = 0; way < 3; ++way) {
    output_test::Capture capture;
    kavrel::print_polynomial(*net, state, store, capture.out, way == 0, way == 2 ? 4 : 1);
    printed[way] = capture.text();
  }
  EXPECT_GT(printed[0].size(), std::size_t{3000} * 100 * 20);
  EXPECT_TRUE(printed[1] == printed[0]) << first_difference(printed[1], printed[0]);
  EXPECT_TRUE(printed[2] == printed[0]) << first_difference(printed[2], printed[0]);
  kavrel::free_term_store(store);
}

}  // namespace
