#pragma once

#include "input/network_tables.h"
#include "trees/enumeration.h"
#include "trees/enumeration_policy.h"
#include "trees/qualification.h"
#include "trees/run_stats.h"
#include "trees/term_insert.h"
#include "trees/term_store.h"

namespace kavrel {

// One enumeration shared out over several threads. The search is cut into
// the subtrees below the states a few saved alternatives deep (and the trees
// found above them), taken in the enumeration's order; runs of consecutive
// subtrees are enumerated on their own into stores of their own, and those
// stores are merged, in order, into one, as add_term would have filed their
// trees one by one. Integer coefficients add up alike in any grouping, and
// the function is only shared when fewer raw i-trees than 2^31 - 1 exist, so
// that no coefficient can leave its range along either way.
struct SharedEnumeration {
  long long raw_trees = 0;
  long long common_trees = 0;
};

// True when `store` (empty, as allocated for the function) now holds what
// the enumeration on one thread files, with the counts set; false, with
// `store` untouched, when the function is too small to share, the policy
// does not allow it, or sharing failed on the way (a store that could not
// grow, output that failed): the caller then enumerates on one thread.
// `context` is the caller's, without an index.
bool enumerate_shared(const EdgeLists& lists, const QualificationSettings& qualification,
                      const EnumerationPolicy& policy, const TermContext& context,
                      const NetworkTables& net, RunStats* stats, TermStore& store,
                      SharedEnumeration& counts);

}  // namespace kavrel
