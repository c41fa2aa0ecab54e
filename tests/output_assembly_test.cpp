// Function assembly: frames, traces, the parameter sign and copy failures.

#include <gtest/gtest.h>

#include "output_store_builder.h"

namespace {

using namespace output_test;

// z-like voltage divider: R1 in series, R2 and C1 to ground. Topologically,
// with the symbols of R1 and R2 standing for conductances, the transfer is
// G1 / (G1 + G2 + s C1); unit correction multiplies numerator and
// denominator by R1 R2, giving R2 / (R1 + R2 + s C1 R1 R2).
class DividerFunction : public ::testing::Test {
 protected:
  std::unique_ptr<NetworkTables> net = make_network();
  Stores stores;
  int c1 = add_name(*net, "C1");
  int r1 = add_name(*net, "R1");
  int r2 = add_name(*net, "R2");

  void SetUp() override {
    stores.set(1, {{0, 1, {{r1, 1}}}});
    stores.set(2, {{0, 1, {{r1, 1}}}, {0, 1, {{r2, 1}}}, {1, 1, {{c1, 1}}}});
  }
};

const char* const kDividerNormal =
    "\n Numerator:\n"
    "\n + s^0  (\n"
    "         1 R2   \n"
    "        )\n"
    "\n Denominator:\n"
    "\n + s^0  (\n"
    "         1 R1   \n"
    "         1 R2   \n"
    "        )\n"
    " + s^1  (\n"
    "         1 C1    R1    R2   \n"
    "        )\n"
    "\n End:\n\n";

TEST_F(DividerFunction, PrintsCorrectedFunctionInNormalForm) {
  int result = -1;
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2, &result), kDividerNormal);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(stores.unit_factors.factors[r1], 1);
  EXPECT_EQ(stores.unit_factors.factors[r2], 1);
}

TEST_F(DividerFunction, PrintsRationalForm) {
  net->test_bitmap = kavrel::kBitRational;
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2),
            "\n Function =\n  ((\n"
            "\n + s^0  * (\n"
            "         +1 *  R2   \n"
            "        )\n"
            "\n )/(\n"
            "\n + s^0  * (\n"
            "         +1 *  R1   \n"
            "         +1 *  R2   \n"
            "        )\n"
            " + s^1  * (\n"
            "         +1 *  C1    *  R1    *  R2   \n"
            "        )\n"
            "\n ))\n\n"
            "\n End:\n\n");
}

TEST_F(DividerFunction, EvaluatedStoresAreOnlyRead) {
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2), kDividerNormal);
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2), kDividerNormal);
  const TermStore& denominator = stores.all.stores[2];
  for (int row = 0; row < denominator.terms_used; ++row) {
    EXPECT_EQ(kavrel::term_corrected_flag(denominator, row), 0);
    EXPECT_EQ(denominator.termvalue[row], 0.0);
  }
  EXPECT_EQ(denominator.bucket_count[0], 2);
  EXPECT_EQ(kavrel::term_row(denominator, 0)[r1], 1);
}

TEST_F(DividerFunction, RoutineTraceFollowsTheSteps) {
  net->test_bitmap = kavrel::kBitRoutineTrace;
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2),
            std::string("print_tree_buf entered\n"
                        "copy numerator called\n"
                        "copy denominator called\n"
                        "combineinit called\n"
                        "fixup called\n"
                        "fixup entered, eval_branchtag for numerator called\n"
                        "eval_branchtag for denominator called\n"
                        "correctunits for numerator called\n"
                        "correctunits for denominator called\n"
                        "makecancellationlist for numerator called\n"
                        "makecancellationlist for denominator called\n"
                        "evaluateliterals for numerator called\n"
                        "evaluateliterals for denominator called\n") +
                kDividerNormal);
}

TEST_F(DividerFunction, NoStoreBitPrintsOnlyTheEndLine) {
  net->test_bitmap = kavrel::kBitNoStore;
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2), "\n End:\n\n");
  net->test_bitmap = kavrel::kBitNoStore | kavrel::kBitRoutineTrace | kavrel::kBitDebug128;
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2),
            "print_tree_buf entered\n"
            "Topological formula:  (Wijkl, 2-trees) / (Wijij, 2-trees)\n"
            "copy numerator called\n"
            "copy denominator called\n"
            "\n End:\n\n");
}

TEST_F(DividerFunction, EachCopyAllocationFailureAbandonsTheFunction) {
  const char* const messages[] = {"can't allocate space for termlist\n",
                                  "can't allocate space for termvalue\n",
                                  "can't allocate space for poly\n"};
  for (int n = 1; n <= 6; ++n) {
    SCOPED_TRACE(n);
    net->test_bitmap = kavrel::kBitRoutineTrace;
    std::string expected = "print_tree_buf entered\ncopy numerator called\n";
    if (n > 3) expected += "copy denominator called\n";
    expected += messages[(n - 1) % 3];
    int result = -1;
    {
      AllocationFailure failure(n, true);
      EXPECT_EQ(print_function(*net, stores, 1, 1, 2, &result), expected);
    }
    EXPECT_EQ(result, 1);
  }
  net->test_bitmap = 0;
  EXPECT_EQ(print_function(*net, stores, 1, 1, 2), kDividerNormal);
}

TEST(Assembly, FormulaLineShowsSignNamesAndTreeOrders) {
  auto net = make_network();
  const int g1 = add_name(*net, "g1");
  Stores stores;
  stores.set(6, {{0, 1, {{g1, 1}}}});
  stores.set(5, {{0, 1, {}}});
  net->test_bitmap = kavrel::kBitDebug128;
  const std::string body =
      "\n Numerator:\n\n + s^0  (\n         -1 g1   \n        )\n"
      "\n Denominator:\n\n + s^0  (\n         1\n        )\n\n End:\n\n";
  EXPECT_EQ(print_function(*net, stores, -1, 6, 5),
            "Topological formula: -(unconjugated Uijkl, 2-trees) / (Uijkl, 3-trees)\n" + body);
}

TEST(Assembly, NegativeSignNegatesOnlyTheNumerator) {
  auto net = make_network();
  const int g1 = add_name(*net, "g1");
  const int g2 = add_name(*net, "g2");
  const int c1 = add_name(*net, "c1");
  Stores stores;
  stores.set(1, {{0, 2, {{g1, 1}}}, {1, -1, {{c1, 1}}}});
  stores.set(0, {{0, 1, {{g2, 1}}}});
  EXPECT_EQ(print_function(*net, stores, -1, 1, 0),
            "\n Numerator:\n"
            "\n + s^0  (\n         -2 g1   \n        )\n"
            " + s^1  (\n         1 c1   \n        )\n"
            "\n Denominator:\n"
            "\n + s^0  (\n         1 g2   \n        )\n"
            "\n End:\n\n");
  EXPECT_EQ(kavrel::term_coefficient(stores.all.stores[1], 0), 2);
}

// Rows as narrow as the network's names, whether the stores are copied or
// taken over, and whatever mix of widths numerator and denominator have.
TEST_F(DividerFunction, RowWidthDoesNotChangeThePrintedFunction) {
  const int own_names = net->branch_name_count + 1;
  const int widths[][2] = {{own_names, own_names}, {own_names, 40}, {40, own_names}};
  for (const auto& width : widths) {
    for (const bool last_uses : {false, true}) {
      Stores narrow;
      narrow.set(1, {{0, 1, {{r1, 1}}}}, 16, 8, width[0]);
      narrow.set(2, {{0, 1, {{r1, 1}}}, {0, 1, {{r2, 1}}}, {1, 1, {{c1, 1}}}}, 16, 8, width[1]);
      EXPECT_EQ(print_function(*net, narrow, 1, 1, 2, nullptr, last_uses), kDividerNormal)
          << width[0] << " " << width[1] << " " << last_uses;
    }
  }
}

// G3 / (G1 + G2) where the denominator's rows end before R3 (and G1 / (G1 +
// G3) where the numerator's do): unit correction still gives every term of
// the narrower store its factor R3.
TEST(Assembly, UnitFactorBeyondTheNarrowerRowsReachesEveryTerm) {
  auto net = make_network();
  const int r1 = add_name(*net, "R1");
  const int r2 = add_name(*net, "R2");
  const int r3 = add_name(*net, "R3");
  const std::string expected =
      "\n Numerator:\n"
      "\n + s^0  (\n         1 R1    R2   \n        )\n"
      "\n Denominator:\n"
      "\n + s^0  (\n         1 R1    R3   \n         1 R2    R3   \n        )\n"
      "\n End:\n\n";
  for (const bool last_uses : {false, true}) {
    Stores stores;
    stores.set(1, {{0, 1, {{r3, 1}}}}, 16, 8, r3 + 1);
    stores.set(2, {{0, 1, {{r1, 1}}}, {0, 1, {{r2, 1}}}}, 16, 8, r2 + 1);
    for (int32_t& factor : stores.unit_factors.factors) factor = 0;
    EXPECT_EQ(print_function(*net, stores, 1, 1, 2, nullptr, last_uses), expected) << last_uses;

    stores.set(1, {{0, 1, {{r1, 1}}}}, 16, 8, r1 + 1);
    stores.set(2, {{0, 1, {{r1, 1}}}, {0, 1, {{r3, 1}}}}, 16, 8, r3 + 1);
    for (int32_t& factor : stores.unit_factors.factors) factor = 0;
    EXPECT_EQ(print_function(*net, stores, 1, 1, 2, nullptr, last_uses),
              "\n Numerator:\n"
              "\n + s^0  (\n         1 R3   \n        )\n"
              "\n Denominator:\n"
              "\n + s^0  (\n         1 R1   \n         1 R3   \n        )\n"
              "\n End:\n\n")
        << last_uses;
  }
}

// A unit factor left by an earlier function, at a name beyond both stores'
// rows, multiplies every term and then cancels as a common factor.
TEST_F(DividerFunction, EarlierUnitFactorBeyondBothStoresCancels) {
  const int r3 = add_name(*net, "R3");
  Stores narrow;
  narrow.unit_factors.factors[r3] = 2;
  narrow.set(1, {{0, 1, {{r1, 1}}}}, 16, 8, r3);
  narrow.set(2, {{0, 1, {{r1, 1}}}, {0, 1, {{r2, 1}}}, {1, 1, {{c1, 1}}}}, 16, 8, r3);
  net->test_bitmap = kavrel::kBitCommonFactors;
  const std::string text = print_function(*net, narrow, 1, 1, 2, nullptr, true);
  EXPECT_NE(text.find("common factors to cancel in all terms of both num and denom:\n+1  R3^2 \n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(kDividerNormal), std::string::npos) << text;
}

}  // namespace
