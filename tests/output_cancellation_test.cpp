// Common factors, numeric values and merging of equal symbol products.

#include <gtest/gtest.h>

#include "output_store_builder.h"

namespace {

using namespace output_test;

const char* const kListingHead = "common factors to cancel in all terms of both num and denom:\n";

TEST(Cancellation, DividesOutGcdAndCommonSymbolsAndListsThemTwice) {
  auto net = make_network();
  const int c1 = add_name(*net, "C1");
  const int g1 = add_name(*net, "G1");
  const int g2 = add_name(*net, "G2");
  Stores stores;
  stores.set(0, {{1, 2, {{c1, 1}, {g1, 1}}}});
  stores.set(2, {{1, 4, {{c1, 1}, {g1, 1}, {g2, 1}}}, {2, -6, {{c1, 2}, {g1, 1}}}});
  net->test_bitmap = kavrel::kBitCommonFactors;
  const std::string listing = std::string(kListingHead) + "+2  C1    G1   \n";
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "Topological formula:  (V, 1-trees) / (Wijij, 2-trees)\n" + listing + listing +
                "\n Numerator:\n\n + s^0  (\n         1\n        )\n"
                "\n Denominator:\n\n + s^0  (\n         2 G2   \n        )\n"
                " + s^1  (\n         -3 C1   \n        )\n"
                "\n End:\n\n");
}

TEST(Cancellation, AllNegativeCoefficientsPrintPositive) {
  auto net = make_network();
  const int g1 = add_name(*net, "G1");
  const int g2 = add_name(*net, "G2");
  Stores stores;
  stores.set(0, {{0, -1, {{g1, 1}}}});
  stores.set(2, {{0, -2, {{g2, 1}}}, {0, 0, {{g1, 1}}}});
  net->test_bitmap = kavrel::kBitCommonFactors;
  const std::string listing = std::string(kListingHead) + "-1 \n";
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "Topological formula:  (V, 1-trees) / (Wijij, 2-trees)\n" + listing + listing +
                "\n Numerator:\n\n + s^0  (\n         1 G1   \n        )\n"
                "\n Denominator:\n\n + s^0  (\n         2 G2   \n        )\n"
                "\n End:\n\n");
}

TEST(Cancellation, WithoutAnyNonzeroTermTheListingNamesNoFactor) {
  auto net = make_network();
  const int g1 = add_name(*net, "G1");
  const int c1 = add_name(*net, "C1");
  Stores stores;
  stores.set(0, {{0, 0, {{g1, 1}}}, {0, 0, {{g1, 2}}}});
  stores.set(2, {{1, 0, {{g1, 1}, {c1, 1}}}});
  net->test_bitmap = kavrel::kBitCommonFactors;
  const std::string listing = std::string(kListingHead) + "-1 \n";
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "Topological formula:  (V, 1-trees) / (Wijij, 2-trees)\n" + listing + listing +
                "\n Numerator:\n\n        0\n\n Denominator:\n\n        0\n\n End:\n\n");
}

TEST(Cancellation, NumericValuesAreMultipliedInAndEqualProductsMerged) {
  auto net = make_network();
  const int g1 = add_name(*net, "G1", 2.0);
  const int g2 = add_name(*net, "G2", 0.5);
  const int c1 = add_name(*net, "C1");
  const int c2 = add_name(*net, "C2", 0.0);  // a value of 0 is no value
  Stores stores;
  stores.set(0, {{0, 1, {{g1, 1}}}});
  stores.set(2, {
                    {0, 1, {{g1, 2}}},                       // 4
                    {0, 3, {{g2, 1}}},                       // 1.5, merged: 5.5
                    {1, 1, {{g1, 1}, {c1, 1}}},              // 2 C1
                    {1, -4, {{g2, 1}, {c1, 1}}},             // -2 C1, cancels
                    {1, 1, {{c2, 1}}},                       // C2 stays symbolic
                    {2, 1, {{g1, 1}, {c1, 2}}},              // 2 C1^2
                    {2, -4, {{g2, 1}, {c1, 2}}},             // the whole bucket cancels
                });
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "\n Numerator:\n\n + s^0  (\n         2\n        )\n"
            "\n Denominator:\n\n + s^0  (\n         5.5\n        )\n"
            " + s^1  (\n         1 C2   \n        )\n"
            "\n End:\n\n");
}

TEST(Cancellation, CommonPowerOfANumericElementIsNotMultipliedIn) {
  auto net = make_network();
  const int g1 = add_name(*net, "G1", 3.0);
  const int c1 = add_name(*net, "C1");
  Stores stores;
  stores.set(0, {{0, 1, {{g1, 1}}}});
  stores.set(2, {{0, 1, {{g1, 3}}}, {1, 2, {{g1, 1}, {c1, 1}}}});
  net->test_bitmap = kavrel::kBitCommonFactors;
  const std::string listing = std::string(kListingHead) + "+1  G1   \n";
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "Topological formula:  (V, 1-trees) / (Wijij, 2-trees)\n" + listing + listing +
                "\n Numerator:\n\n + s^0  (\n         1\n        )\n"
                "\n Denominator:\n\n + s^0  (\n         9\n        )\n"
                " + s^1  (\n         2 C1   \n        )\n"
                "\n End:\n\n");
}

TEST(Cancellation, MergingOrdersABucketByDescendingSymbolProducts) {
  auto net = make_network();
  const int a = add_name(*net, "G1");
  const int b = add_name(*net, "G2");
  const int v = add_name(*net, "G3", 10.0);
  const int d = add_name(*net, "G4");
  Stores stores;
  stores.set(0, {{0, 1, {}}});
  // After the numeric G3 drops out the store's order is no longer descending.
  stores.set(2, {{0, 1, {{a, 1}, {v, 2}}},
                 {0, 1, {{a, 1}, {b, 1}}},
                 {0, 1, {{a, 1}, {d, 1}}},
                 {0, 1, {{b, 1}, {v, 1}}},
                 {0, 1, {{b, 1}}},
                 {0, 1, {{d, 1}}}});
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "\n Numerator:\n\n + s^0  (\n         1\n        )\n"
            "\n Denominator:\n\n + s^0  (\n"
            "         1 G1    G2   \n"
            "         1 G1    G4   \n"
            "         100 G1   \n"
            "         11 G2   \n"
            "         1 G4   \n"
            "        )\n"
            "\n End:\n\n");
}

// Values of equal symbol products are added in the order the terms stand in
// the bucket. With Ga = 1e16, Gb = 1 and Gc = -1e16 the store holds, in
// order: Ga C1 G1, Ga C1, Gb C1 G1, Gc C1 G1, Gc C1, C1. For C1 G1 that is
// (1e16 + 1) - 1e16 = 0, since 1e16 + 1 rounds to 1e16; for C1 it is
// (1e16 - 1e16) + 1 = 1.
TEST(Cancellation, MergedValuesAreSummedInBucketOrder) {
  auto net = make_network();
  const int ga = add_name(*net, "Ga", 1e16);
  const int gb = add_name(*net, "Gb", 1.0);
  const int gc = add_name(*net, "Gc", -1e16);
  const int c1 = add_name(*net, "C1");
  const int g1 = add_name(*net, "G1");
  Stores stores;
  stores.set(0, {{1, 1, {{ga, 1}, {c1, 1}, {g1, 1}}},
                 {1, 1, {{ga, 1}, {c1, 1}}},
                 {1, 1, {{gb, 1}, {c1, 1}, {g1, 1}}},
                 {1, 1, {{gc, 1}, {c1, 1}, {g1, 1}}},
                 {1, 1, {{gc, 1}, {c1, 1}}},
                 {1, 1, {{c1, 1}}}});
  stores.set(2, {{0, 1, {{g1, 1}}}});
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "\n Numerator:\n\n + s^1  (\n         1 C1   \n        )\n"
            "\n Denominator:\n\n + s^0  (\n         1 G1   \n        )\n"
            "\n End:\n\n");
}

// G-like terms R1, R2, R3 (the symbols standing for conductances): unit
// correction turns their stored descending order into an ascending one,
// which must print reversed. A bucket holding two equal products side by
// side, or ordered one way for one pair and the other way for the next,
// still goes through the full merge.
TEST(Cancellation, BucketsOrderedEitherWayOrNeitherPrintDescending) {
  auto net = make_network();
  const int r1 = add_name(*net, "R1");
  const int r2 = add_name(*net, "R2");
  const int r3 = add_name(*net, "R3");
  const int c1 = add_name(*net, "C1");
  const int c2 = add_name(*net, "C2");
  const int n = add_name(*net, "N", 2.0);
  const int g1 = add_name(*net, "G1");
  const int g2 = add_name(*net, "G2");
  const int g3 = add_name(*net, "G3");
  Stores stores;
  stores.set(0, {{0, 1, {{r1, 1}}}, {0, 1, {{r2, 1}}}, {0, 1, {{r3, 1}}},
                 {1, 1, {{c1, 1}}}, {1, 1, {{c2, 1}}}});
  // Once the numeric N drops out, power 0 holds G1 twice side by side and
  // power 1 reads C1 G3, C1 G1, C1 G2.
  stores.set(2, {{0, 1, {{n, 1}, {g1, 1}}}, {0, 1, {{g1, 1}}}, {0, 1, {{g2, 1}}},
                 {1, 1, {{c1, 1}, {n, 1}, {g3, 1}}}, {1, 1, {{c1, 1}, {g1, 1}}},
                 {1, 1, {{c1, 1}, {g2, 1}}}});
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "\n Numerator:\n\n + s^0  (\n"
            "         1 R1    R2   \n"
            "         1 R1    R3   \n"
            "         1 R2    R3   \n"
            "        )\n"
            " + s^1  (\n"
            "         1 R1    R2    R3    C1   \n"
            "         1 R1    R2    R3    C2   \n"
            "        )\n"
            "\n Denominator:\n\n + s^0  (\n"
            "         3 R1    R2    R3    G1   \n"
            "         1 R1    R2    R3    G2   \n"
            "        )\n"
            " + s^1  (\n"
            "         1 R1    R2    R3    C1    G1   \n"
            "         1 R1    R2    R3    C1    G2   \n"
            "         2 R1    R2    R3    C1    G3   \n"
            "        )\n"
            "\n End:\n\n");
}

}  // namespace

namespace {

// Common factors of a store scanned on four threads: the smallest power and
// exponents, the sign and the divisor of every nonzero coefficient, whichever
// thread saw which term; the first rows' coefficients share 6, the others 4.
TEST(Cancellation, CommonFactorsOfAStoreScannedOnSeveralThreads) {
  auto net = output_test::make_network();
  const int c1 = output_test::add_name(*net, "C1");
  const int g1 = output_test::add_name(*net, "G1");
  const int g2 = output_test::add_name(*net, "G2");
  std::vector<output_test::Term> terms;
  for (int i = 0; i < 2000; ++i) {
    const int magnitude = i < 1000 ? 6 * (1 + i % 3) : 4 * (1 + i % 2);
    const int coefficient = i % 11 == 0 ? 0 : (i % 3 == 1 ? -magnitude : magnitude);
    terms.push_back({1 + i % 5, coefficient, {{c1, 1 + i % 4}, {g1, 2 + i % 7}, {g2, i / 700}}});
  }
  kavrel::TermStore store = output_test::build_store(terms, 2048, 512, 8);
  kavrel::CancellationState alone;
  kavrel::combineinit(alone);
  kavrel::makecancellationlist(alone, store, true);
  kavrel::CancellationState shared;
  kavrel::combineinit(shared);
  kavrel::WorkShare share;
  share.threads = 4;
  share.min_terms_per_thread = 100;
  kavrel::makecancellationlist(shared, store, false, share);
  for (const kavrel::CancellationState& state : {alone, shared}) {
    EXPECT_EQ(state.min_power, 1);
    EXPECT_EQ(state.common_sign, 1);
    EXPECT_EQ(state.common_gcd, 2);
    EXPECT_EQ(state.min_exponent[c1], 1);
    EXPECT_EQ(state.min_exponent[g1], 2);
    EXPECT_EQ(state.min_exponent[g2], 0);
  }
  kavrel::free_term_store(store);
}

}  // namespace

namespace {

// Common factors of numerator and denominator found apart and joined: the
// same as if one state had visited both stores, whatever the order, and a
// store without a nonzero term adds nothing.
TEST(Cancellation, CommonFactorsFoundApartAndJoined) {
  auto net = output_test::make_network();
  const int c1 = output_test::add_name(*net, "C1");
  const int g1 = output_test::add_name(*net, "G1");
  // Numerator: all negative, magnitudes 6 and 12, powers 2 and 3.
  kavrel::TermStore numerator = output_test::build_store(
      {{2, -6, {{c1, 2}, {g1, 1}}}, {3, -12, {{c1, 3}, {g1, 2}}}}, 16, 8, 8);
  // Denominator: a positive coefficient, magnitudes 4 and 8, power 1.
  kavrel::TermStore denominator = output_test::build_store(
      {{1, 4, {{c1, 1}, {g1, 3}}}, {2, -8, {{c1, 2}, {g1, 4}}}}, 16, 8, 8);
  kavrel::TermStore empty = output_test::build_store({{0, 0, {{c1, 1}}}}, 16, 8, 8);

  auto apart = [](const kavrel::TermStore& store) {
    kavrel::CancellationState state;
    kavrel::combineinit(state);
    kavrel::makecancellationlist(state, store);
    return state;
  };
  for (const bool numerator_first : {true, false}) {
    kavrel::CancellationState joined;
    kavrel::combineinit(joined);
    kavrel::join_cancellation(joined, apart(numerator_first ? numerator : denominator));
    kavrel::join_cancellation(joined, apart(numerator_first ? denominator : numerator));
    EXPECT_EQ(joined.min_power, 1);
    EXPECT_EQ(joined.common_sign, 1);
    EXPECT_EQ(joined.common_gcd, 2);
    EXPECT_EQ(joined.min_exponent[c1], 1);
    EXPECT_EQ(joined.min_exponent[g1], 1);
    // Names beyond the rows: exponent 0 in every term.
    EXPECT_EQ(joined.min_exponent[kavrel::kNameSlots - 1], 0);
  }

  kavrel::CancellationState numerator_only;
  kavrel::combineinit(numerator_only);
  kavrel::join_cancellation(numerator_only, apart(numerator));
  kavrel::join_cancellation(numerator_only, apart(empty));
  EXPECT_EQ(numerator_only.min_power, 2);
  EXPECT_EQ(numerator_only.common_sign, -1);
  EXPECT_EQ(numerator_only.common_gcd, 6);
  EXPECT_EQ(numerator_only.min_exponent[c1], 2);
  EXPECT_EQ(numerator_only.min_exponent[g1], 1);

  for (kavrel::TermStore* store : {&numerator, &denominator, &empty}) {
    kavrel::free_term_store(*store);
  }
}

}  // namespace
