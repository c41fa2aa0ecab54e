// Unit correction: ohm-unit factors, refiling by power of s, merging, the
// uncorrected listing and the failures of the correction.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "output_store_builder.h"
#include "support/text_patterns.h"

namespace {

using namespace output_test;

TEST(Fixup, OhmUnitListingPrintsTheUncorrectedFunction) {
  auto net = make_network();
  const int c1 = add_name(*net, "C1");
  const int r1 = add_name(*net, "R1");
  const int r2 = add_name(*net, "R2");
  Stores stores;
  stores.set(1, {{0, 1, {{r1, 1}}}});
  stores.set(2, {{0, 1, {{r1, 1}}}, {0, 1, {{r2, 1}}}, {1, 1, {{c1, 1}}}});
  net->test_bitmap = kavrel::kBitOhmFactors;
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2),
            "Topological formula:  (Wijkl, 2-trees) / (Wijij, 2-trees)\n"
            "these ohm-unit factors modify all terms of both num and denom:\n"
            " R1    R2   \n"
            "note that s*L, s*M, and R represent s/L, s/M, and 1/R in the following function:\n"
            "\n Numerator:\n"
            "\n + s^0  (\n         1 R1   \n        )\n"
            "\n Denominator:\n"
            "\n + s^0  (\n         1 R1   \n         1 R2   \n        )\n"
            " + s^1  (\n         1 C1   \n        )\n"
            "\n End:\n\n");
  for (int32_t factor : stores.unit_factors.factors) EXPECT_EQ(factor, 0);
}

// Function A needs the factor R1^2, function B only R1.
class CarriedFactors : public ::testing::Test {
 protected:
  std::unique_ptr<NetworkTables> net = make_network();
  Stores stores;
  int r1 = add_name(*net, "R1");
  int g1 = add_name(*net, "G1");

  void SetUp() override {
    stores.set(1, {{0, 1, {{r1, 2}}}});
    stores.set(2, {{0, 1, {{r1, 1}}}, {0, 1, {{g1, 1}}}});
    stores.set(3, {{0, 1, {{r1, 1}}}});
    stores.set(4, {{0, 1, {{g1, 1}}}});
  }
};

const char* const kFunctionB =
    "\n Numerator:\n\n + s^0  (\n         1\n        )\n"
    "\n Denominator:\n\n + s^0  (\n         1 R1    G1   \n        )\n"
    "\n End:\n\n";

TEST_F(CarriedFactors, ListsFactorOfExponentTwo) {
  net->test_bitmap = kavrel::kBitOhmFactors;
  const std::string output = print_function(*net, stores, 1, 1, 2);
  EXPECT_NE(output.find("denom:\n R1^2 \nnote"), std::string::npos) << output;
  EXPECT_NE(output.find("\n + s^0  (\n         1 R1^2 \n        )\n\n Denominator:\n"
                        "\n + s^0  (\n         1 R1   \n         1 G1   \n        )\n"),
            std::string::npos)
      << output;
}

TEST_F(CarriedFactors, LargerFactorFromEarlierFunctionChangesOnlyTheListing) {
  net->test_bitmap = kavrel::kBitCommonFactors;
  const std::string alone = print_function(*net, stores, 1, 3, 4);
  EXPECT_EQ(alone,
            "Topological formula:  (Wklkl, 2-trees) / (Wklij, 2-trees)\n"
            "common factors to cancel in all terms of both num and denom:\n+1 \n"
            "common factors to cancel in all terms of both num and denom:\n+1 \n" +
                std::string(kFunctionB));

  for (int32_t& factor : stores.unit_factors.factors) factor = 0;
  print_function(*net, stores, 1, 1, 2);
  EXPECT_EQ(stores.unit_factors.factors[r1], 2);
  EXPECT_EQ(print_function(*net, stores, 1, 3, 4),
            "Topological formula:  (Wklkl, 2-trees) / (Wklij, 2-trees)\n"
            "common factors to cancel in all terms of both num and denom:\n+1  R1   \n"
            "common factors to cancel in all terms of both num and denom:\n+1  R1   \n" +
                std::string(kFunctionB));
}

// L1's factor 1 moves every term: those without L1 gain it and go up one
// power, the L1 term loses it and comes down to power 0.
class InductorRefiling : public ::testing::Test {
 protected:
  std::unique_ptr<NetworkTables> net = make_network();
  Stores stores;
  int g1 = add_name(*net, "G1");
  int g2 = add_name(*net, "G2");
  int l1 = add_name(*net, "L1");

  void SetUp() override {
    stores.set(0, {{1, 1, {{l1, 1}}}, {0, 1, {{g1, 1}}}, {0, 1, {{g2, 1}}}}, 16, 3);
    stores.set(2, {{0, 1, {{g1, 1}}}});
  }
};

TEST_F(InductorRefiling, PolyGrowsWhenABucketFillsUp) {
  const std::string expected =
      "\n Numerator:\n"
      "\n + s^0  (\n         1\n        )\n"
      " + s^1  (\n         1 G1    L1   \n         1 G2    L1   \n        )\n"
      "\n Denominator:\n"
      "\n + s^1  (\n         1 G1    L1   \n        )\n"
      "\n End:\n\n";
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2), expected);

  net->test_bitmap = kavrel::kBitResources;
  const std::string traced = print_function(*net, stores, 1, 0, 2);
  EXPECT_TRUE(kavrel_test::matches_whole(
      traced, "Topological formula:  \\(V, 1-trees\\) / \\(Wijij, 2-trees\\)\n"
              "resizing poly orig size =3, orig ptr =0x[0-9a-f]{8,}\n"
              "num of elements =6, pointer =0x[0-9a-f]{8,}\n"
              "[\\s\\S]*"))
      << traced;
  EXPECT_EQ(traced.substr(traced.find("\n Numerator:")), expected);
}

TEST_F(InductorRefiling, FailedPolyGrowthPrintsTheIncompleteFrame) {
  for (int32_t bits : {0, static_cast<int32_t>(kavrel::kBitRational)}) {
    net->test_bitmap = bits;
    int result = -1;
    {
      AllocationFailure failure(7);  // after the six arrays of the two copies
      EXPECT_EQ(print_function(*net, stores, 1, 0, 2, &result), kIncompleteFrame);
    }
    EXPECT_EQ(result, 1);
  }
}

TEST(Fixup, ZeroCoefficientTermWithPowerBelowZeroStaysInvisible) {
  auto net = make_network();
  const int g1 = add_name(*net, "G1");
  const int l1 = add_name(*net, "L1");
  Stores stores;
  // The zero term has no say in L1's factor (1), so its L1 exponent becomes -1
  // and its power -1: it cannot be refiled.
  stores.set(1, {{1, 1, {{l1, 1}}}, {2, 0, {{l1, 2}}}});
  stores.set(2, {{0, 1, {{g1, 1}}}});
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2),
            "\n Numerator:\n\n + s^0  (\n         1\n        )\n"
            "\n Denominator:\n\n + s^1  (\n         1 G1    L1   \n        )\n"
            "\n End:\n\n");
  EXPECT_EQ(stores.unit_factors.factors[l1], 1);
}

// n inductors in parallel: every tree holds one of them, so each corrected
// term is s^(n-1) times the other n-1 inductors.
std::vector<Term> parallel_inductors(NetworkTables& net, int n) {
  std::vector<Term> terms;
  for (int i = 1; i <= n; ++i) {
    const int slot = add_name(net, ("L" + std::to_string(i)).c_str());
    terms.push_back({1, 1, {{slot, 1}}});
  }
  return terms;
}

TEST(Fixup, CorrectedPowerFortyTwoFillsTheLastBucket) {
  auto net = make_network();
  Stores stores;
  const std::vector<Term> terms = parallel_inductors(*net, 43);
  stores.set(0, terms, 64, 48);
  stores.set(2, terms, 64, 48);
  std::string body = "\n + s^0  (\n";
  for (int missing = 43; missing >= 1; --missing) {
    body += "         1";
    for (int i = 1; i <= 43; ++i) {
      if (i != missing) body += " L" + std::to_string(i) + "   ";
    }
    body += "\n";
  }
  body += "        )\n";
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "\n Numerator:\n" + body + "\n Denominator:\n" + body + "\n End:\n\n");
}

TEST(Fixup, NonzeroTermBeyondTheLastBucketFailsTheFunction) {
  auto net = make_network();
  Stores stores;
  const std::vector<Term> terms = parallel_inductors(*net, 44);
  stores.set(0, terms, 64, 48);
  stores.set(2, terms, 64, 48);
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            std::string("power of s outside 0..42 after unit correction\n") + kIncompleteFrame);
}

// Hand-made stores whose buckets disagree with the powers of their symbols
// make the correction merge terms.
TEST(Fixup, MergedCoefficientsMustStayWithin32Bits) {
  auto net = make_network();
  const int c1 = add_name(*net, "C1");
  const int g1 = add_name(*net, "G1");
  Stores stores;
  stores.set(2, {{0, 1, {{g1, 1}}}});
  const std::string overflow =
      std::string("coefficient out of range in unit correction\n") + kIncompleteFrame;

  // Merged when the refiled term meets its corrected twin (bucket 1 is done).
  stores.set(1, {{1, INT_MAX - 2, {{c1, 1}}}, {2, 3, {{c1, 1}}}});
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2), overflow);
  // Merged after refiling, by the search within the bucket.
  stores.set(1, {{1, INT_MAX, {{c1, 1}}}, {0, 1, {{c1, 1}}}});
  net->test_bitmap = kavrel::kBitRational;
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2), overflow);
  net->test_bitmap = 0;
  stores.set(1, {{1, INT_MIN + 2, {{c1, 1}}}, {0, -2, {{c1, 1}}}});
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2), overflow);

  // A sum that still fits is printed.
  stores.set(1, {{1, INT_MAX - 2, {{c1, 1}}}, {2, 2, {{c1, 1}}}});
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2),
            "\n Numerator:\n\n + s^1  (\n         2.14748e+09 C1   \n        )\n"
            "\n Denominator:\n\n + s^0  (\n         1 G1   \n        )\n\n End:\n\n");
  stores.set(1, {{1, 2, {{c1, 1}}}, {2, 3, {{c1, 1}}}, {0, -1, {{c1, 1}}}});
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2),
            "\n Numerator:\n\n + s^1  (\n         4 C1   \n        )\n"
            "\n Denominator:\n\n + s^0  (\n         1 G1   \n        )\n\n End:\n\n");
}

// C1 G1 stands in three buckets: 0 and 2 (misfiled) and 1 (its own). Bucket
// 0's copy moves to bucket 1 while that bucket's own copy is not corrected
// yet, so it is appended behind it; bucket 2's copy then meets both and merges
// into the first corrected one, the bucket's own; the search of pass 2 finally
// merges the appended copy too.
TEST(Fixup, RefiledTermMergesIntoTheFirstCorrectedTwinOfItsBucket) {
  auto net = make_network();
  const int c1 = add_name(*net, "C1");
  const int g1 = add_name(*net, "G1");
  const int g2 = add_name(*net, "G2");
  Stores stores;
  stores.set(2, {{0, 1, {{g2, 1}}}});
  auto numerator = [&](int own, int from_below, int from_above) {
    stores.set(1, {{1, own, {{c1, 1}, {g1, 1}}},
                   {0, from_below, {{c1, 1}, {g1, 1}}},
                   {2, from_above, {{c1, 1}, {g1, 1}}}});
  };
  const std::string overflow =
      std::string("coefficient out of range in unit correction\n") + kIncompleteFrame;

  // The copy from above goes to the bucket's own term: 2147483640 + 10
  // overflows, although the copy from below would have taken it back to 0.
  numerator(2147483640, -10, 10);
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2), overflow);

  // The copy from below is not merged on arrival (the bucket's own term is
  // not corrected then): 2147483640 - 10 first, + 10 in pass 2, fits.
  numerator(2147483640, 10, -10);
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2),
            "\n Numerator:\n\n + s^1  (\n         2.14748e+09 C1    G1   \n        )\n"
            "\n Denominator:\n\n + s^0  (\n         1 G2   \n        )\n\n End:\n\n");
}

// Bucket 1 holds C1 G2; bucket 0 sends C1 G1, C1 G2 G3 and C1 G2 in that
// order, all appended. Pass 2 searches positions 0..2 (C1 G2, C1 G1,
// C1 G2 G3) for the last C1 G2 by bisection: probe 1 (C1 G1) is larger, probe
// 2 (C1 G2 G3) too, and the search ends without seeing position 0. The two
// C1 G2 terms stay apart until the literal evaluation adds their values in
// floating point, where 2147483640 + 10 does not overflow.
TEST(Fixup, MergingSearchOnlyFindsWhatBisectionReaches) {
  auto net = make_network();
  const int c1 = add_name(*net, "C1");
  const int g1 = add_name(*net, "G1");
  const int g2 = add_name(*net, "G2");
  const int g3 = add_name(*net, "G3");
  Stores stores;
  stores.set(1, {{1, 2147483640, {{c1, 1}, {g2, 1}}},
                 {0, 1, {{c1, 1}, {g1, 1}}},
                 {0, 1, {{c1, 1}, {g2, 1}, {g3, 1}}},
                 {0, 10, {{c1, 1}, {g2, 1}}}});
  stores.set(2, {{0, 1, {{g1, 1}}}});
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2),
            "\n Numerator:\n\n + s^1  (\n"
            "         1 C1    G1   \n"
            "         1 C1    G2    G3   \n"
            "         2.14748e+09 C1    G2   \n"
            "        )\n"
            "\n Denominator:\n\n + s^0  (\n         1 G1   \n        )\n\n End:\n\n");
}

// Two equal terms side by side in a bucket (a store out of order) are merged
// by unit correction, so the common divisor sees their sum: 2 and 2 divide
// out to 1 and 1. Kept apart until the literal evaluation, they would print
// 1 + 1 = 2 over 2.
TEST(Fixup, EqualTermsSideBySideMergeBeforeTheCommonDivisor) {
  auto net = make_network();
  const int g1 = add_name(*net, "G1");
  const int g2 = add_name(*net, "G2");
  Stores stores;
  stores.set(1, {{0, 1, {{g1, 1}}}, {0, 1, {{g1, 1}}}});
  stores.set(2, {{0, 2, {{g2, 1}}}});
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2),
            "\n Numerator:\n\n + s^0  (\n         1 G1   \n        )\n"
            "\n Denominator:\n\n + s^0  (\n         1 G2   \n        )\n\n End:\n\n");
}

// Poly has 8 rows. Bucket 0 holds G1 and six terms of power 3 that leave it,
// so it counts 1 when buckets 1 and 2 send it ten terms of power 0: 7 + 1
// reaches 8 rows at the seventh, and poly grows once, to 16 rows. (Had the
// departed terms still been counted, it would have grown at the first and
// again at the ninth.)
TEST(Fixup, PolyGrowsByTheCountOfTermsThatStayed) {
  auto net = make_network();
  const int c1 = add_name(*net, "C1");
  const int g1 = add_name(*net, "G1");
  const int g2 = add_name(*net, "G2");
  const int g3 = add_name(*net, "G3");
  std::vector<Term> terms = {{0, 1, {{g1, 1}}}};
  for (int i = 1; i <= 6; ++i) terms.push_back({0, 1, {{c1, 3}, {g3, i}}});
  for (int i = 1; i <= 10; ++i) terms.push_back({i <= 5 ? 1 : 2, 1, {{g2, i}}});
  Stores stores;
  stores.set(0, terms, 32, 8);
  stores.set(2, {{0, 1, {{g1, 1}}}});
  const std::string function =
      "\n Numerator:\n\n + s^0  (\n"
      "         1 G1   \n"
      "         1 G2^10\n         1 G2^9 \n         1 G2^8 \n         1 G2^7 \n"
      "         1 G2^6 \n         1 G2^5 \n         1 G2^4 \n         1 G2^3 \n"
      "         1 G2^2 \n         1 G2   \n"
      "        )\n"
      " + s^3  (\n"
      "         1 C1^3  G3^6 \n         1 C1^3  G3^5 \n         1 C1^3  G3^4 \n"
      "         1 C1^3  G3^3 \n         1 C1^3  G3^2 \n         1 C1^3  G3   \n"
      "        )\n"
      "\n Denominator:\n\n + s^0  (\n         1 G1   \n        )\n\n End:\n\n";
  net->test_bitmap = kavrel::kBitResources;
  const std::string traced = print_function(*net, stores, 1, 0, 2);
  EXPECT_TRUE(kavrel_test::matches_whole(
      traced, "Topological formula:  \\(V, 1-trees\\) / \\(Wijij, 2-trees\\)\n"
              "resizing poly orig size =8, orig ptr =0x[0-9a-f]{8,}\n"
              "num of elements =16, pointer =0x[0-9a-f]{8,}\n"
              "\n Numerator:[\\s\\S]*"))
      << traced;
  EXPECT_EQ(traced.substr(traced.find("\n Numerator:")), function);
}

TEST(Fixup, MostNegativeCoefficientIsRefusedWhateverTheSign) {
  auto net = make_network();
  const int g1 = add_name(*net, "G1");
  const int g2 = add_name(*net, "G2");
  Stores stores;
  stores.set(1, {{0, INT_MIN, {{g1, 1}}}});
  stores.set(2, {{0, 1, {{g2, 1}}}});
  const std::string overflow =
      std::string("coefficient out of range in unit correction\n") + kIncompleteFrame;
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2), overflow);
  EXPECT_EQ(print_function(*net, stores, -1, 1, 2), overflow);
  stores.set(1, {{0, INT_MAX, {{g1, 1}}}});
  EXPECT_EQ(print_function(*net, stores, -1, 1, 2),
            "\n Numerator:\n\n + s^0  (\n         -2.14748e+09 G1   \n        )\n"
            "\n Denominator:\n\n + s^0  (\n         1 G2   \n        )\n\n End:\n\n");
}

}  // namespace

namespace {

// Every exponent of a name with a unit factor F becomes F - e, every other
// stays, whatever the width of the rows: resistors and conductances mixed,
// factors up to the largest exponent a tree gives.
TEST(Fixup, UnitCorrectionRewritesExactlyTheNamesWithFactors) {
  std::mt19937 rng(3);
  for (const int names : {1, 5, 15, 16, 17, 31, 40, 64, 101}) {
    auto net = make_network();
    kavrel::OhmUnitFactors factors;
    std::vector<int> slots;
    for (int i = 0; i < names; ++i) {
      const bool resistor = rng() % 3 != 0;
      const int slot = add_name(*net, (std::string(resistor ? "R" : "G") + std::to_string(i)).c_str());
      slots.push_back(slot);
      if (resistor) factors.factors[slot] = 1 + static_cast<int>(rng() % 63);
    }
    const int width = kavrel::name_slots_for(slots.back() + 1);
    std::vector<Term> terms;
    for (int t = 0; t < 12; ++t) {
      Term term{0, 1 + t, {}};
      for (const int slot : slots) {
        const int most = factors.factors[slot] != 0 ? factors.factors[slot] : 63;
        term.exponents.push_back({slot, static_cast<int>(rng() % (most + 1))});
      }
      terms.push_back(term);
    }
    TermStore store = build_store(terms, 16, 16, width);
    std::vector<std::vector<int>> before;
    for (int row = 0; row < store.terms_used; ++row) {
      const kavrel::Exponent* entries = kavrel::term_row(store, row);
      before.emplace_back(entries, entries + width);
    }
    Capture capture;
    ASSERT_EQ(kavrel::correctunits(*net, factors, store, capture.out), 0) << capture.text();
    for (int row = 0; row < store.terms_used; ++row) {
      const kavrel::Exponent* entries = kavrel::term_row(store, row);
      for (int k = 0; k < width; ++k) {
        const int factor = factors.factors[k];
        const int expected = factor != 0 ? factor - before[row][k] : before[row][k];
        ASSERT_EQ(entries[k], expected) << names << " names, row " << row << ", name " << k;
      }
    }
    kavrel::free_term_store(store);
  }
}

}  // namespace

namespace {

// A store as an enumeration leaves it (every bucket strictly descending, no
// term corrected) is corrected row by row in memory order, on several threads
// or on one. The result is the store the pass column by column makes, also
// where that pass must take over: an inductor's factor moves terms to other
// powers, a coefficient is out of range.
TEST(Fixup, StoresAsFiledAreCorrectedAsColumnByColumn) {
  enum class Case { kResistors, kInductorFactor, kCoefficientOutOfRange };
  for (const Case kind : {Case::kResistors, Case::kInductorFactor, Case::kCoefficientOutOfRange}) {
    auto net = make_network();
    kavrel::OhmUnitFactors factors;
    std::vector<int> reactive;
    std::vector<int> slots;
    for (const char* name : {"C1", "G1", "R1", "C2", "R2", "G2", "R3", "L1"}) {
      const int slot = add_name(*net, name);
      slots.push_back(slot);
      if (name[0] == 'C' || name[0] == 'L') reactive.push_back(slot);
      if (name[0] == 'R' || (name[0] == 'L' && kind == Case::kInductorFactor)) {
        factors.factors[slot] = 2;
      }
    }
    std::mt19937 rng(17 + static_cast<unsigned>(kind));
    std::set<std::vector<int>> seen;
    std::vector<Term> terms;
    while (terms.size() < 700) {
      std::vector<int> exponents;
      for (std::size_t i = 0; i < slots.size(); ++i) exponents.push_back(static_cast<int>(rng() % 3));
      if (!seen.insert(exponents).second) continue;
      Term term{0, rng() % 2 == 0 ? 1 : -1, {}};
      for (std::size_t i = 0; i < slots.size(); ++i) {
        term.exponents.push_back({slots[i], exponents[i]});
        for (const int slot : reactive) {
          if (slot == slots[i]) term.power += exponents[i];
        }
      }
      terms.push_back(term);
    }
    if (kind == Case::kCoefficientOutOfRange) terms[500].coefficient = INT_MIN;
    const int width = kavrel::name_slots_for(slots.back() + 1);
    // On two threads, and on the calling thread alone.
    for (const int threads : {2, 1}) {
      TermStore filed = build_store(terms, 1024, 1024, width);
      TermStore worded = build_store(terms, 1024, 1024, width);
      filed.as_filed = true;
      Capture filed_text;
      Capture worded_text;
      kavrel::WorkShare share;
      share.threads = threads;
      share.min_terms_per_thread = 1;
      const int filed_result =
          kavrel::correctunits(*net, factors, filed, filed_text.out, false, share);
      const int worded_result = kavrel::correctunits(*net, factors, worded, worded_text.out, true);
      const std::string what =
          std::to_string(static_cast<int>(kind)) + ", threads " + std::to_string(threads);
      EXPECT_EQ(filed_result, kind == Case::kCoefficientOutOfRange ? 1 : 0) << what;
      EXPECT_EQ(filed_result, worded_result) << what;
      EXPECT_EQ(filed_text.text(), worded_text.text()) << what;
      EXPECT_FALSE(filed.as_filed);
      ASSERT_EQ(filed.terms_used, worded.terms_used);
      EXPECT_EQ(std::memcmp(filed.termlist, worded.termlist,
                            static_cast<std::size_t>(filed.terms_used) * filed.row_bytes()),
                0)
          << what;
      for (int p = 0; p < kavrel::kPowerBuckets; ++p) {
        ASSERT_EQ(filed.bucket_count[p], worded.bucket_count[p]) << what << " power " << p;
        for (int position = 0; position < filed.bucket_count[p]; ++position) {
          ASSERT_EQ(kavrel::poly_entry(filed, position, p), kavrel::poly_entry(worded, position, p))
              << what << " power " << p;
        }
      }
      kavrel::free_term_store(filed);
      kavrel::free_term_store(worded);
    }
  }
}

}  // namespace
