#include "output/row_scan.h"

#include <cstring>

#include "trees/memory.h"

namespace kavrel {

RowPowers::RowPowers(const TermStore& store) {
  const int rows = store.terms_used < store.term_capacity ? store.terms_used : store.term_capacity;
  if (rows <= 0) return;
  table_bytes_ = static_cast<std::size_t>(rows);
  power_of_row_ = static_cast<int8_t*>(obtain_block(table_bytes_));
  if (power_of_row_ == nullptr) return;
  populate_for_writing(power_of_row_, table_bytes_);
  std::memset(power_of_row_, -1, table_bytes_);
  for (int p = 0; p < kPowerBuckets; ++p) {
    for (int position = 0; position < store.bucket_count[p]; ++position) {
      const int32_t row = poly_entry(store, position, p);
      if (row < 0 || row >= rows || power_of_row_[row] != -1) return;
      power_of_row_[row] = static_cast<int8_t>(p);
    }
  }
  rows_ = rows;
}

RowPowers::~RowPowers() { release_block(power_of_row_, table_bytes_); }

}  // namespace kavrel
