// Polynomial layout: field widths, the common power of s, signs in the
// rational form.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "output/polynomial.h"
#include "output_store_builder.h"

namespace {

using namespace output_test;

TEST(Polynomial, PowersAndExponentsOfTenFillTheirFields) {
  auto net = make_network();
  const int c1 = add_name(*net, "C1");
  const int g1 = add_name(*net, "G1");
  Stores stores;
  stores.set(0, {{0, 1, {{g1, 1}}}, {10, 1, {{c1, 10}}}});
  stores.set(2, {{0, 1, {{g1, 1}}}, {2, 1, {{c1, 2}}}});
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "\n Numerator:\n"
            "\n + s^0  (\n         1 G1   \n        )\n"
            " + s^10 (\n         1 C1^10\n        )\n"
            "\n Denominator:\n"
            "\n + s^0  (\n         1 G1   \n        )\n"
            " + s^2  (\n         1 C1^2 \n        )\n"
            "\n End:\n\n");
}

TEST(Polynomial, ExponentsOfThreeDigitsPrintInFull) {
  auto net = make_network();
  const int g1 = add_name(*net, "G1");
  const int g2 = add_name(*net, "G2");
  Stores stores;
  stores.set(0, {{0, 1, {{g1, 100}, {g2, 99}}}});
  stores.set(2, {{0, 1, {}}});
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "\n Numerator:\n\n + s^0  (\n         1 G1^100 G2^99\n        )\n"
            "\n Denominator:\n\n + s^0  (\n         1\n        )\n"
            "\n End:\n\n");
  net->test_bitmap = kavrel::kBitRational;
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "\n Function =\n  ((\n"
            "\n + s^0  * (\n         +1 *  G1^100 *  G2^99\n        )\n"
            "\n )/(\n"
            "\n + s^0  * (\n         +1\n        )\n"
            "\n ))\n\n"
            "\n End:\n\n");
}

TEST(Polynomial, CommonPowerOfSIsSubtractedFromBoth) {
  auto net = make_network();
  const int c1 = add_name(*net, "C1");
  const int g1 = add_name(*net, "G1");
  Stores stores;
  stores.set(0, {{2, 1, {{c1, 2}}}});
  stores.set(2, {{1, 1, {{c1, 1}}}, {2, 1, {{c1, 2}, {g1, 1}}}});
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "\n Numerator:\n"
            "\n + s^1  (\n         1 C1   \n        )\n"
            "\n Denominator:\n"
            "\n + s^0  (\n         1\n        )\n"
            " + s^1  (\n         1 C1    G1   \n        )\n"
            "\n End:\n\n");
}

TEST(Polynomial, RationalFormSignsEveryCoefficient) {
  auto net = make_network();
  const int c1 = add_name(*net, "C1");
  const int g1 = add_name(*net, "G1");
  const int g2 = add_name(*net, "G2", 0.25);
  Stores stores;
  stores.set(0, {{0, -1, {{g1, 1}}}, {0, 1, {{g2, 1}}}});
  stores.set(2, {{0, 1, {{g2, 2}}}, {2, -3, {{c1, 2}, {g1, 1}}}});
  net->test_bitmap = kavrel::kBitRational;
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "\n Function =\n  ((\n"
            "\n + s^0  * (\n         -1 *  G1   \n         +0.25\n        )\n"
            "\n )/(\n"
            "\n + s^0  * (\n         +0.0625\n        )\n"
            " + s^2  * (\n         -3 *  C1^2  *  G1   \n        )\n"
            "\n ))\n\n"
            "\n End:\n\n");
}

TEST(Polynomial, PowerFortyTwoWithAllValuesZeroPrintsZero) {
  auto net = make_network();
  const int c1 = add_name(*net, "C1");
  Stores stores;
  stores.set(0, {{42, 0, {{c1, 42}}}});
  stores.set(2, {{0, 1, {}}, {42, 1, {{c1, 42}}}});
  EXPECT_EQ(print_function(*net, stores, 1, 0, 2),
            "\n Numerator:\n\n        0\n"
            "\n Denominator:\n"
            "\n + s^0  (\n         1\n        )\n"
            " + s^42 (\n         1 C1^42\n        )\n"
            "\n End:\n\n");
}

}  // namespace

namespace {

std::string printed_g(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string formatted(double value) {
  char text[kavrel::kValueTextBytes + 1] = {};
  const int length = kavrel::format_value(text, value);
  return std::string(text, static_cast<std::size_t>(length));
}

TEST(ValueText, MatchesPercentGEverywhere) {
  std::vector<double> values = {0.0, -0.0, 0.5, -0.5, 1e-5, 123456.5, 999999.0, -999999.0,
                                 999999.4, 999999.5, 1e6, -1e6, 1e6 + 1, 2147483647.0,
                                 -2147483648.0, 4294967296.0, 1e300, -1e-300, 5e-324,
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN()};
  for (int k = -2000; k <= 2000; ++k) {
    values.push_back(k);
    values.push_back(1e6 + k);
    values.push_back(-1e6 + k);
    values.push_back(k / 8.0);
  }
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> spread(-2e6, 2e6);
  for (int i = 0; i < 20000; ++i) {
    const double value = spread(rng);
    values.push_back(value);
    values.push_back(std::round(value));
  }
  for (const double value : values) EXPECT_EQ(formatted(value), printed_g(value)) << value;
}

}  // namespace
