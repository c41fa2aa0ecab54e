#pragma once

#include <cstdint>
#include <cstdio>

#include "trees/term_store.h"

namespace kavrel {

class TermIndex;

// What add_term needs beyond the term itself: the per-edge canonical name
// index, how many leading exponent entries can be nonzero in this network
// (canonical indices are below it), and the trace settings.
struct TermContext {
  const int32_t* dbranchmap = nullptr;
  int exponent_length = kNameSlots;
  int32_t test_bitmap = 0;
  int32_t netlist_count = 0;
  int32_t function_counter = 0;
  FILE* out = nullptr;
  // When set and in use, terms are found through it and the columns are put
  // in order by its finish() once the enumeration is complete.
  TermIndex* index = nullptr;
};

// The exponent entries that can be nonzero, clamped to the store's rows.
inline int exponent_length_of(const TermContext& context, const TermStore& store) {
  if (context.exponent_length < 0) return 0;
  return context.exponent_length > store.name_slots ? store.name_slots : context.exponent_length;
}

// Files one accepted tree: `count` admittance edges, power of s, sign +1/-1.
// 0 when stored, combined or skipped (no-store bit); 1 when the store could
// not grow, the power is outside the buckets, there are more than
// kMaxTermEdges edges, or the coefficient would leave the 32-bit range. On 1
// the caller releases the store.
int add_term(int sign, int power, int count, const int32_t* admittance_edges, TermStore& store,
             const TermContext& context);

}  // namespace kavrel
