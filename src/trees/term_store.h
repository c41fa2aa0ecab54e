#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "input/network_tables.h"
#include "trees/run_stats.h"

namespace kavrel {

constexpr int kPowerBuckets = 43;      // powers of s 0..42
constexpr int kInitialTermCapacity = 4472;
constexpr int kInitialPolyCapacity = 104;

// An exponent of one name in one term: at most the number of the tree's edges,
// which add_term keeps to kMaxTermEdges (a tree of the largest network has
// 41). Unit correction subtracts an exponent from the largest one, and
// cancellation a nonnegative exponent from one of those, so every exponent
// stays within -2 * kMaxTermEdges..kMaxTermEdges.
using Exponent = int8_t;
constexpr int kMaxTermEdges = 63;
static_assert(kMaxTermEdges >= kNodeSlots - 2, "a tree of the largest network fits");
static_assert(-2 * kMaxTermEdges >= std::numeric_limits<Exponent>::min(), "differences fit");

// The terms of one topological function (or one working copy of it).
// termlist: term_capacity rows, each the exponents of name indices
// 0..name_slots-1 (padded to a multiple of four), then the 32-bit coefficient, then
// the 32-bit corrected flag; termvalue: one double per row; poly:
// kPowerBuckets columns of poly_capacity entries, column p listing the
// termlist rows of power p in descending exponent-vector order. Each column
// is contiguous, so a store whose terms fall in few powers touches only the
// memory those columns use.
// Rows only hold the name indices a network can use: the exponents of all
// higher indices are zero, and leaving them out keeps a large store several
// times smaller.
// The store owns its three arrays (obtained through store_malloc and its
// kin): it can be moved but not copied, and its destructor releases them.
struct TermStore {
  TermStore() = default;
  TermStore(const TermStore&) = delete;
  TermStore& operator=(const TermStore&) = delete;
  TermStore(TermStore&& other) noexcept { take(other); }
  TermStore& operator=(TermStore&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  ~TermStore() { release(); }

  // Frees the arrays and leaves the store empty; a released store may be
  // released again.
  void release();

  Exponent* termlist = nullptr;
  double* termvalue = nullptr;
  int32_t* poly = nullptr;
  int32_t bucket_count[kPowerBuckets] = {};
  int term_capacity = 0;
  int poly_capacity = 0;
  int terms_used = 0;
  int name_slots = kNameSlots;
  // Columns obtained for poly: powers 0..poly_columns-1. A term's power of s
  // is at most the number of reactive edges, so a store needs no column
  // beyond that; the unused columns of a resistive network would otherwise
  // make poly many times larger than its terms.
  int poly_columns = kPowerBuckets;
  // Rows that termlist holds beyond term_capacity when room was reserved for
  // the whole function (0 when not): its growth within them moves nothing.
  int reserved_terms = 0;
  // Whether termvalue holds the reserved rows too.
  bool values_reserved = false;
  // Every column strictly descending and no term marked corrected, as an
  // enumeration leaves its store: set when one ends, kept by copies, and
  // dropped by whatever files terms afterwards and by unit correction.
  bool as_filed = false;

  // Row offsets in Exponent units; rows stay 4-byte aligned.
  int coefficient_offset() const { return (name_slots + 3) & ~3; }
  int corrected_flag_offset() const { return coefficient_offset() + 4; }
  int row_units() const { return coefficient_offset() + 8; }
  std::size_t row_bytes() const { return sizeof(Exponent) * static_cast<std::size_t>(row_units()); }

 private:
  // Takes other's arrays and counts, leaving other empty.
  void take(TermStore& other);
};

inline Exponent* term_row(const TermStore& store, int row) {
  return store.termlist + static_cast<long>(row) * store.row_units();
}

// The 32-bit entries of a row, read and written bytewise as rows are arrays
// of exponents.
inline int32_t row_int32(const Exponent* at) {
  int32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
inline void set_row_int32(Exponent* at, int32_t value) { std::memcpy(at, &value, sizeof value); }

inline int32_t coefficient_in(const TermStore& store, const Exponent* row) {
  return row_int32(row + store.coefficient_offset());
}
inline void set_coefficient_in(const TermStore& store, Exponent* row, int32_t value) {
  set_row_int32(row + store.coefficient_offset(), value);
}
inline int32_t corrected_flag_in(const TermStore& store, const Exponent* row) {
  return row_int32(row + store.corrected_flag_offset());
}
inline void set_corrected_flag_in(const TermStore& store, Exponent* row, int32_t value) {
  set_row_int32(row + store.corrected_flag_offset(), value);
}
inline int32_t term_coefficient(const TermStore& store, int row) {
  return coefficient_in(store, term_row(store, row));
}
inline void set_term_coefficient(const TermStore& store, int row, int32_t value) {
  set_coefficient_in(store, term_row(store, row), value);
}
inline int32_t term_corrected_flag(const TermStore& store, int row) {
  return corrected_flag_in(store, term_row(store, row));
}

// The first entry where exponent vectors a and b differ, or length: eight
// entries compared at a time, as sorting a column or merging equal terms
// compares vectors a great many times.
inline int first_exponent_difference(const Exponent* a, const Exponent* b, int length) {
  static_assert(sizeof(Exponent) == 1);
  int i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= length; i += 8) {
      uint64_t word_a;
      uint64_t word_b;
      std::memcpy(&word_a, a + i, sizeof word_a);
      std::memcpy(&word_b, b + i, sizeof word_b);
      if (word_a != word_b) return i + std::countr_zero(word_a ^ word_b) / 8;
    }
  }
  for (; i < length; ++i) {
    if (a[i] != b[i]) return i;
  }
  return length;
}

// >0 when exponent vector a is the larger (the larger exponent at the first
// entry where they differ), <0 when b is, 0 when equal.
inline int compare_exponent_vectors(const Exponent* a, const Exponent* b, int length) {
  const int k = first_exponent_difference(a, b, length);
  if (k == length) return 0;
  return a[k] > b[k] ? 1 : -1;
}

// The row width for a network whose canonical name indices are below
// `name_count`, within 1..kNameSlots.
inline int name_slots_for(int name_count) {
  if (name_count < 1) return 1;
  return name_count > kNameSlots ? kNameSlots : name_count;
}
inline int32_t& poly_entry(const TermStore& store, int row, int power) {
  return store.poly[static_cast<long>(power) * store.poly_capacity + row];
}

// The term stores of the eight topological functions of one stage.
struct TopofunStores {
  TermStore stores[8];
  int32_t topofun_evaluated[8] = {};
  RunStats* stats = nullptr;  // optional; evaluations add their counts
  // Raw i-trees of each function where counted beforehand (0 when not): its
  // store reserves room for as many terms.
  long long raw_trees_counted[8] = {};
};

// Allocates and clears a store with the initial capacities, rows of
// name_slots_for(name_count) exponents and power_columns poly columns (within
// 1..kPowerBuckets); 1 on failure (nothing left allocated).
int alloc_term_store(TermStore& store, int name_count = kNameSlots,
                     int power_columns = kPowerBuckets);

// Gives termlist room for `rows` rows (at most a few hundred megabytes),
// made up to the capacity the store's doubling reaches, without changing
// term_capacity, so that growing to them moves nothing. A large room asks for
// large pages from the start. A
// block the C library grows elsewhere costs a fault on every page at its next
// touch; a function's rows would otherwise move on each doubling. Only a
// hint: nothing changes when the room cannot be had. termvalue gets the same
// room only in a large function.
void reserve_term_rows(TermStore& store, long long rows);

// Whether a store of `capacity` rows grows by doubling within its reserved
// room, where termlist stays where it is.
inline bool doubles_in_place(const TermStore& store, long long capacity) {
  return capacity >= 1 && store.reserved_terms / 2 >= capacity;
}

// Makes poly hold the column of `power` (0..kPowerBuckets-1): 0 when it does,
// 1 when poly could not be widened (store unchanged).
int ensure_poly_column(TermStore& store, int power);
void free_term_store(TermStore& store);
// Back to no terms, the arrays and their capacities kept.
void clear_terms(TermStore& store);
// Once a store's rows are all filed: a large store's room asks for large
// pages, and the large page at the end of its rows is mostly unwritten when
// the qualification left fewer rows than the room was made for. The room
// beyond the rows goes back to the system.
void release_unfilled_room(TermStore& store);

// Grows poly by resize_array (its trace lines under the resource bit) and
// moves each column's entries to their places in the larger block. 0 on
// success, 1 when poly could not grow (store unchanged).
int grow_poly_columns(TermStore& store, int32_t test_bitmap, FILE* out);

// Grows *array of *count elements of element_size bytes: doubling if possible,
// else by ever smaller fractions. 0 on success (array and count replaced),
// 1 when no growth was possible (unchanged).
int resize_array(void** array, int* count, std::size_t element_size,
                 int32_t test_bitmap, FILE* out);

}  // namespace kavrel
