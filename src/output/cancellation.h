#pragma once

#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"
#include "trees/term_store.h"
#include "trees/work_share.h"

namespace kavrel {

// Initial value of min_power and of every min_exponent entry: "no nonzero
// term seen yet".
constexpr int32_t kNoCommonFactor = 2147483647;

// What every nonzero term of numerator and denominator has in common.
struct CancellationState {
  int32_t min_power = kNoCommonFactor;
  int32_t common_sign = -1;
  int32_t common_gcd = 0;
  int32_t min_exponent[kNameSlots];
};

// Prints " name^e" (the exponent left-justified in two places) for an
// exponent of 2 or more, " name   " for 1, nothing otherwise.
void print_symbol_power(FILE* out, const char* name, int32_t exponent);

void combineinit(CancellationState& state);

// Coefficients must lie within -2147483647..2147483647 (correctunits
// guarantees it), so that their absolute values fit.
// `worded` (for tests) visits the terms in column order instead of memory
// order; a large store is scanned on the threads of `share`.
void makecancellationlist(CancellationState& state, const TermStore& store, bool worded = false,
                          const WorkShare& share = WorkShare{});

// Adds to `into` what the terms that `part` was made from have in common with
// its own: as if makecancellationlist had visited them into `into` too.
void join_cancellation(CancellationState& into, const CancellationState& part);

// Divides the common factors out, writes termvalue (numeric values
// multiplied in) and merges each bucket's equal symbol products, leaving the
// bucket in descending exponent order. 1 when the working memory for the
// merge could not be obtained. `worded` (for tests) takes the terms in column
// order and merges by binary insertion, without sort keys. A large store is
// shared out as `share` allows.
int evaluateliterals(CancellationState& state, const NetworkTables& net, TermStore& store,
                     FILE* out, bool worded = false, const WorkShare& share = {});

}  // namespace kavrel
