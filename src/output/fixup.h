#pragma once

#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"
#include "output/cancellation.h"
#include "trees/term_store.h"
#include "trees/work_share.h"

namespace kavrel {

// Ohm-unit factor of each name slot, raised by every function printed since
// the name index was last built (each print stage starts with none).
struct OhmUnitFactors {
  int32_t factors[kNameSlots] = {};
};

// Raises the ohm-unit factor of every impedance-type symbol to its largest
// exponent over the store's nonzero terms. `worded` (for tests) visits the
// terms in column order instead of memory order; a large store is scanned
// on the threads of `share`.
void eval_branchtag(const NetworkTables& net, OhmUnitFactors& unit_factors, const TermStore& store,
                    bool worded = false, const WorkShare& share = WorkShare{});

// Replaces each exponent e of an element with factor F by F - e, refiles every
// term under its new power of s and merges equal terms. 1 (with a message)
// when the function cannot be completed: poly could not grow, a merged
// coefficient would leave -2147483647..2147483647, or a nonzero term's power
// of s falls outside the 43 buckets; also 1, without a message of its own,
// when its lookup index could not be allocated.
// `worded` (for tests) tells the buckets that cannot hold equal terms by a
// pass of their own before the correction.
int correctunits(const NetworkTables& net, const OhmUnitFactors& unit_factors, TermStore& store,
                 FILE* out, bool worded = false, const WorkShare& share = {});

// The whole preparation of a function's two working copies for printing; 1
// when it could not be completed. `worded` (for tests) turns off the
// shortcuts that do not change the result; `share` tells how far the work on
// large stores may be shared out.
int fixup(const NetworkTables& net, OhmUnitFactors& unit_factors, CancellationState& state,
          TermStore& numerator_terms, TermStore& denominator_terms, FILE* out,
          bool worded = false, const WorkShare& share = {});

}  // namespace kavrel
