#include "output/row_scan.h"

#include <new>

namespace kavrel {

RowPowers::RowPowers(const TermStore& store) {
  const int rows = store.terms_used < store.term_capacity ? store.terms_used : store.term_capacity;
  if (rows <= 0) return;
  std::unique_ptr<int8_t[]> lowest(new (std::nothrow) int8_t[static_cast<std::size_t>(rows)]);
  if (lowest == nullptr) return;
  for (int row = 0; row < rows; ++row) lowest[row] = -1;
  for (int p = kPowerBuckets - 1; p >= 0; --p) {
    for (int position = 0; position < store.bucket_count[p]; ++position) {
      const int32_t row = poly_entry(store, position, p);
      if (row < 0 || row >= rows) return;
      lowest[row] = static_cast<int8_t>(p);
    }
  }
  lowest_ = std::move(lowest);
  rows_ = rows;
}

}  // namespace kavrel
