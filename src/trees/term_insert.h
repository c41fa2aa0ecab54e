#pragma once

#include <cstdint>
#include <cstdio>

#include "trees/term_store.h"

namespace kavrel {

class TermIndex;

// What add_term needs beyond the term itself: the per-edge canonical name
// index (below the store's name_slots) and the trace settings.
struct TermContext {
  const int32_t* dbranchmap = nullptr;
  int32_t test_bitmap = 0;
  int32_t netlist_count = 0;
  int32_t function_counter = 0;
  FILE* out = nullptr;
  // When set and in use, terms are found through it and the columns are put
  // in order by its finish() once the enumeration is complete.
  TermIndex* index = nullptr;
};

// Files one accepted tree: `count` admittance edges, power of s, sign +1/-1.
// 0 when stored, combined or skipped (no-store bit); 1 when the store could
// not grow, the power is outside the buckets, there are more than
// kMaxTermEdges edges, or the coefficient would leave the 32-bit range. On 1
// the caller releases the store.
int add_term(int sign, int power, int count, const int32_t* admittance_edges, TermStore& store,
             const TermContext& context);

}  // namespace kavrel
