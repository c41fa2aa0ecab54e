// The exponent-wise minimum and maximum over rows of every width a network
// can give, against the plain definition.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "output/row_scan.h"

namespace {

using kavrel::Exponent;
using kavrel::kNameSlots;

TEST(RowScan, MinimumAndMaximumOfEveryWidthTouchOnlyTheirNames) {
  std::mt19937 rng(11);
  // Exponents as the output stage meets them: differences after unit
  // correction reach -2 * 63, tree exponents reach 63.
  std::uniform_int_distribution<int> exponent(-126, 63);
  constexpr Exponent kUntouched = 99;
  for (int count = 1; count <= kNameSlots; ++count) {
    for (int round = 0; round < 20; ++round) {
      Exponent term[kNameSlots];
      Exponent lowest[kNameSlots];
      Exponent highest[kNameSlots];
      Exponent expected_lowest[kNameSlots];
      Exponent expected_highest[kNameSlots];
      for (int k = 0; k < kNameSlots; ++k) {
        term[k] = static_cast<Exponent>(exponent(rng));
        lowest[k] = k < count ? static_cast<Exponent>(exponent(rng)) : kUntouched;
        highest[k] = k < count ? static_cast<Exponent>(exponent(rng)) : kUntouched;
        expected_lowest[k] = k < count ? std::min(lowest[k], term[k]) : kUntouched;
        expected_highest[k] = k < count ? std::max(highest[k], term[k]) : kUntouched;
      }
      kavrel::lower_to(lowest, term, count);
      kavrel::raise_to(highest, term, count);
      for (int k = 0; k < kNameSlots; ++k) {
        ASSERT_EQ(lowest[k], expected_lowest[k]) << "width " << count << ", name " << k;
        ASSERT_EQ(highest[k], expected_highest[k]) << "width " << count << ", name " << k;
      }
    }
  }
}

}  // namespace
