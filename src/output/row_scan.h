#pragma once

#include <cstdint>
#include <memory>

#include "trees/term_store.h"

namespace kavrel {

// For each termlist row, the power whose column references it (-1 for none).
// Aggregates that do not depend on the order of the terms can then read
// the rows in memory order instead of column order, which on a large store
// turns a cache and TLB miss per term into a sequential scan.
class RowPowers {
 public:
  explicit RowPowers(const TermStore& store);
  // False when the table could not be obtained, or a column names a row
  // outside the store or one that another entry names too: callers then walk
  // the columns as they stand.
  bool usable() const { return power_of_row_ != nullptr; }
  int rows() const { return rows_; }
  int power_of(int row) const { return power_of_row_[row]; }

 private:
  std::unique_ptr<int8_t[]> power_of_row_;
  int rows_ = 0;
};

}  // namespace kavrel
