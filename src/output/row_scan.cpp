#include "output/row_scan.h"

#include <new>

namespace kavrel {

RowPowers::RowPowers(const TermStore& store) {
  const int rows = store.terms_used < store.term_capacity ? store.terms_used : store.term_capacity;
  if (rows <= 0) return;
  try {
    power_of_row_.assign(static_cast<std::size_t>(rows), -1);
  } catch (const std::bad_alloc&) {
    return;
  }
  for (int p = 0; p < kPowerBuckets; ++p) {
    for (int position = 0; position < store.bucket_count[p]; ++position) {
      const int32_t row = poly_entry(store, position, p);
      if (row < 0 || row >= rows || power_of_row_[static_cast<std::size_t>(row)] != -1) {
        power_of_row_ = {};
        return;
      }
      power_of_row_[static_cast<std::size_t>(row)] = static_cast<int8_t>(p);
    }
  }
  rows_ = rows;
}

}  // namespace kavrel
