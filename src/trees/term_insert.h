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

// Files a term given by its exponents (the store's name_slots of them, zero up
// to the row's coefficient) exactly as add_term files a tree that gives
// them: 0 or 1 as add_term returns. No trace line is printed.
int add_term_exponents(int sign, int power, const Exponent* exponents, TermStore& store,
                       const TermContext& context);

// Files `count` rows (laid out as the store's rows, coefficient and all, the
// corrected flag 0),
// with their powers, as add_term files trees that give them, through
// context.index, which must be in use and know that no two trees give the
// same term. The caller has checked the rows' order within each power:
// `unordered` marks the powers where a row does not come after the one
// before it. 0 or 1 as add_term returns.
int append_new_rows(TermStore& store, const Exponent* rows, const int8_t* powers, int count,
                    const bool (&unordered)[kPowerBuckets], const TermContext& context);

}  // namespace kavrel
