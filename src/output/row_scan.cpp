#include "output/row_scan.h"

#include <new>

namespace kavrel {

RowPowers::RowPowers(const TermStore& store) {
  const int rows = store.terms_used < store.term_capacity ? store.terms_used : store.term_capacity;
  if (rows <= 0) return;
  std::unique_ptr<int8_t[]> power_of_row(new (std::nothrow) int8_t[static_cast<std::size_t>(rows)]);
  if (power_of_row == nullptr) return;
  for (int row = 0; row < rows; ++row) power_of_row[row] = -1;
  for (int p = 0; p < kPowerBuckets; ++p) {
    for (int position = 0; position < store.bucket_count[p]; ++position) {
      const int32_t row = poly_entry(store, position, p);
      if (row < 0 || row >= rows || power_of_row[row] != -1) return;
      power_of_row[row] = static_cast<int8_t>(p);
    }
  }
  power_of_row_ = std::move(power_of_row);
  rows_ = rows;
}

}  // namespace kavrel
