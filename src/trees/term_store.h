#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"
#include "trees/run_stats.h"

namespace kavrel {

constexpr int kTermRowInts = 106;      // exponents 0..103, coefficient, flag
constexpr int kCoefficientEntry = 104;
constexpr int kCorrectedFlagEntry = 105;
constexpr int kPowerBuckets = 43;      // powers of s 0..42
constexpr int kInitialTermCapacity = 4472;
constexpr int kInitialPolyCapacity = 104;

// The terms of one topological function (or one working copy of it).
// termlist: term_capacity rows of kTermRowInts; termvalue: one double per row;
// poly: poly_capacity rows of kPowerBuckets, column p listing the termlist rows
// of power p in descending exponent-vector order.
struct TermStore {
  int32_t* termlist = nullptr;
  double* termvalue = nullptr;
  int32_t* poly = nullptr;
  int32_t bucket_count[kPowerBuckets] = {};
  int term_capacity = 0;
  int poly_capacity = 0;
  int terms_used = 0;
};

inline int32_t* term_row(const TermStore& store, int row) {
  return store.termlist + static_cast<long>(row) * kTermRowInts;
}
inline int32_t& poly_entry(const TermStore& store, int row, int power) {
  return store.poly[static_cast<long>(row) * kPowerBuckets + power];
}

// The term stores of the eight topological functions of one stage.
struct TopofunStores {
  TermStore stores[8];
  int32_t topofun_evaluated[8] = {};
  int32_t function_counter = 0;
  RunStats* stats = nullptr;  // optional; evaluations add their counts
};

// Allocates and clears a store with the initial capacities; 1 on failure
// (nothing left allocated).
int alloc_term_store(TermStore& store);
void free_term_store(TermStore& store);

// Grows *array of *count elements of element_size bytes: doubling if possible,
// else by ever smaller fractions. 0 on success (array and count replaced),
// 1 when no growth was possible (unchanged).
int resize_array(void** array, int* count, std::size_t element_size,
                 int32_t test_bitmap, FILE* out);

}  // namespace kavrel
