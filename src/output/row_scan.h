#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "trees/term_store.h"
#include "trees/work_share.h"
#include "trees/work_sharing.h"

namespace kavrel {

// Rows taken in column order lie scattered over a large store: asking for
// the row a few positions ahead hides most of the wait for memory.
// Forced inline: a function doing nothing but prefetch looks free of effects
// to the optimizer, which then drops its calls altogether.
constexpr int kPrefetchDistance = 16;
[[gnu::always_inline]] inline void prefetch_row(const TermStore& store, int row) {
  const Exponent* start = term_row(store, row);
  __builtin_prefetch(start);
  __builtin_prefetch(start + store.row_units() - 1);
}
// The row at `position + kPrefetchDistance` of column `power`, if any.
[[gnu::always_inline]] inline void prefetch_ahead(const TermStore& store, int position,
                                                  int power) {
  if (position + kPrefetchDistance < store.bucket_count[power]) {
    prefetch_row(store, poly_entry(store, position + kPrefetchDistance, power));
  }
}

// Exponent-wise minimum and maximum of many names at once: the loops run in
// blocks of 16 the compiler turns into vector operations, the last block
// overlapping the one before where the names do not fill it (taking a
// minimum or maximum twice changes nothing).
using ExponentBlock [[gnu::vector_size(16)]] = Exponent;
template <typename Pick>
[[gnu::always_inline]] inline void combine_16_exponents(Exponent* into, const Exponent* term,
                                                        Pick pick) {
  ExponentBlock a;
  ExponentBlock b;
  std::memcpy(&a, into, sizeof a);
  std::memcpy(&b, term, sizeof b);
  a = pick(a, b);
  std::memcpy(into, &a, sizeof a);
}
template <typename Pick>
[[gnu::always_inline]] inline void combine_exponents(Exponent* into, const Exponent* term,
                                                     int count, Pick pick) {
  int k = 0;
  for (; k + 16 <= count; k += 16) combine_16_exponents(into + k, term + k, pick);
  if (k == count) return;
  if (count >= 16) {
    combine_16_exponents(into + count - 16, term + count - 16, pick);
    return;
  }
  for (; k < count; ++k) into[k] = pick(into[k], term[k]);
}
inline void lower_to(Exponent* lowest, const Exponent* term, int count) {
  combine_exponents(lowest, term, count, [](auto a, auto b) { return a < b ? a : b; });
}
inline void raise_to(Exponent* highest, const Exponent* term, int count) {
  combine_exponents(highest, term, count, [](auto a, auto b) { return a > b ? a : b; });
}

// For each termlist row, the power whose column references it (-1 for none).
// Aggregates that do not depend on the order of the terms can then read
// the rows in memory order instead of column order, which on a large store
// turns a cache and TLB miss per term into a sequential scan.
class RowPowers {
 public:
  explicit RowPowers(const TermStore& store);
  ~RowPowers();
  RowPowers(const RowPowers&) = delete;
  RowPowers& operator=(const RowPowers&) = delete;
  // False when the table could not be obtained, or a column names a row
  // outside the store or one that another entry names too: callers then walk
  // the columns as they stand.
  bool usable() const { return rows_ > 0; }
  int rows() const { return rows_; }
  int power_of(int row) const { return power_of_row_[static_cast<std::size_t>(row)]; }

 private:
  // The passes over a large store each table its rows' powers: the table's
  // block is one the next pass can take over (see KeptBlocksScope).
  int8_t* power_of_row_ = nullptr;
  std::size_t table_bytes_ = 0;
  int rows_ = 0;
};

// Calls visit(row, power) for every entry of the store's columns: in memory
// order when the rows' powers could be tabled (and `in_column_order` is not
// asked for), else column by column in position order. True when the visits
// went in memory order; each row was then visited once.
template <typename Visit>
bool for_each_filed_term(const TermStore& store, bool in_column_order, Visit&& visit) {
  if (!in_column_order) {
    const RowPowers powers(store);
    if (powers.usable()) {
      for (int row = 0; row < powers.rows(); ++row) {
        const int power = powers.power_of(row);
        if (power >= 0) visit(row, power);
      }
      return true;
    }
  }
  for (int p = 0; p < kPowerBuckets; ++p) {
    for (int position = 0; position < store.bucket_count[p]; ++position) {
      visit(poly_entry(store, position, p), p);
    }
  }
  return false;
}

// For aggregates that do not depend on the order of the terms: visits every
// filed term as for_each_filed_term does in memory order, the rows in slices
// over the threads of `share`, visit(state, row, power) going to the state
// of the thread that takes the slice (states: one copy of `initial` per
// thread). False, having visited nothing the caller keeps, when the store is
// too small to share or its rows' powers cannot be tabled.
template <typename State, typename Visit>
bool visit_filed_terms_shared(const TermStore& store, const WorkShare& share,
                              const State& initial, std::vector<State>& states, Visit&& visit) {
  const int rows = std::min(store.terms_used, store.term_capacity);
  const int workers = share.workers_for(rows);
  if (workers < 2) return false;
  const RowPowers powers(store);
  if (!powers.usable()) return false;
  // Each thread's state on cache lines of its own: states written on every
  // row would otherwise pass their shared line back and forth.
  struct alignas(64) OwnState {
    State state;
  };
  std::vector<OwnState> own(static_cast<std::size_t>(workers), OwnState{initial});
  const int slices = workers * 8;
  const int scanned = std::min(rows, powers.rows());
  const bool completed = share_out(workers, slices, [&](int slice, int worker) {
    State& state = own[static_cast<std::size_t>(worker)].state;
    const int end = static_cast<int>(static_cast<int64_t>(scanned) * (slice + 1) / slices);
    for (int row = static_cast<int>(static_cast<int64_t>(scanned) * slice / slices); row < end;
         ++row) {
      const int power = powers.power_of(row);
      if (power >= 0) visit(state, row, power);
    }
  });
  states.clear();
  for (const OwnState& part : own) states.push_back(part.state);
  return completed;
}

// As visit_filed_terms_shared, but a store too small to share is visited on
// the calling thread, in memory order too, with one state. False, having
// visited nothing, when the rows' powers cannot be tabled: only then may a
// row be filed twice.
template <typename State, typename Visit>
bool visit_filed_terms_once(const TermStore& store, const WorkShare& share, const State& initial,
                            std::vector<State>& states, Visit&& visit) {
  const int rows = std::min(store.terms_used, store.term_capacity);
  if (share.workers_for(rows) >= 2) {
    return visit_filed_terms_shared(store, share, initial, states, visit);
  }
  const RowPowers powers(store);
  if (!powers.usable()) return false;
  State state = initial;
  const int scanned = std::min(rows, powers.rows());
  for (int row = 0; row < scanned; ++row) {
    const int power = powers.power_of(row);
    if (power >= 0) visit(state, row, power);
  }
  states.assign(1, state);
  return true;
}

}  // namespace kavrel
