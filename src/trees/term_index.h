#pragma once

#include <cstdint>

#include "trees/term_store.h"

namespace kavrel {

// Finds a stored term by its power and exponent vector through a hash table,
// for the length of one enumeration. While an index is in use, add_term
// appends each new row number to the end of its power column instead of
// inserting it in order; finish() then sorts the columns once, into the
// descending exponent-vector order that insertion would have built (vectors
// are unique within a column, so that order is fully determined).
//
// The table is obtained through the same allocation wrappers as the store's
// arrays. If it cannot be had or cannot grow, the columns are put in order at
// once and add_term goes on by binary insertion: the result is the same.
//
// When the caller knows that no two trees give the same term, there is
// nothing to find: the index then keeps no table and only orders the columns.
class TermIndex {
 public:
  static constexpr int kInitialSlotBits = 12;
  static constexpr int kMaxSlotBits = 32;  // the tag's leading bits choose the slot

  // A smaller limit makes the table refuse to grow past 2^limit slots, as
  // when the heap is exhausted.
  explicit TermIndex(int slot_bits_limit = kMaxSlotBits) : slot_bits_limit_(slot_bits_limit) {}
  TermIndex(const TermIndex&) = delete;
  TermIndex& operator=(const TermIndex&) = delete;
  ~TermIndex();

  // Prepares an empty table for an empty store, or none when every term will
  // be new; false (index not in use) when it cannot be had.
  bool start(bool terms_distinct = false);
  bool in_use() const { return in_use_; }
  // Whether terms are looked up at all (find and insert have work to do).
  bool finds_terms() const { return table_ != nullptr; }

  static uint64_t hash_of(const int32_t* names, const int32_t* edges, int count, int power);
  // The same hash from the term's exponent vector.
  static uint64_t hash_of_exponents(const Exponent* exponents, int length, int power);

  // Row of the term with this hash, power and vector, or -1.
  int find(uint64_t hash, int power, const Exponent* exponents, int length,
           const TermStore& store) const;
  // Whether a column holding `earlier` right before `later` is in order.
  static bool in_column_order(const Exponent* earlier, const Exponent* later, int length);
  // The column of `power` is to be sorted at finish().
  void mark_out_of_order(int power) {
    if (power >= 0 && power < kPowerBuckets) out_of_order_[power] = true;
  }
  // To be called before a new row number is put at position n, the end, of
  // the column of `power`.
  void appended(const TermStore& store, int power, int n, const Exponent* exponents, int length);
  // Records the new row, which must be terms_used - 1. Gives the index up,
  // ordering the columns first, when the table cannot grow.
  void insert(uint64_t hash, int power, int row, TermStore& store);
  // Puts the columns in order and releases the table.
  void finish(TermStore& store);

 private:
  // Slot i is table_[2i] (the hash's leading 32 bits) and table_[2i + 1]
  // (the row, -1 when empty): one plain array, which also serves as the
  // scratch space for ordering the columns.
  static int32_t tag_of(uint64_t hash) { return static_cast<int32_t>(hash >> 32); }
  uint64_t slot_count() const { return uint64_t{1} << slot_bits_; }
  uint64_t first_slot(int32_t tag) const {
    return static_cast<uint32_t>(tag) >> (32 - slot_bits_);
  }

  void place(int32_t tag, int32_t row);
  bool grow_slots();
  bool grow_rows();
  void order_columns(TermStore& store);
  void release();

  const int slot_bits_limit_;
  bool in_use_ = false;
  int32_t* table_ = nullptr;
  int slot_bits_ = 0;
  long long used_ = 0;
  int8_t* row_power_ = nullptr;  // the power of every row, by row number
  int row_capacity_ = 0;
  bool out_of_order_[kPowerBuckets] = {};
};

}  // namespace kavrel
