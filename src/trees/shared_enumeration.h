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
// the subtrees below the states where a partial tree holds a few free edges
// (and the trees found above them), taken in the enumeration's order; runs
// of consecutive subtrees are enumerated on their own into rows, and the
// rows are filed, strictly in order, into the function's store as add_term
// would have filed their trees one by one: the same rows, coefficients,
// columns and growth.
struct SharedEnumeration {
  long long raw_trees = 0;
  long long common_trees = 0;
};

// True when `store` (empty, as allocated for the function) now holds what
// the enumeration on one thread files, with the counts set; false, with
// `store` holding no terms, when the function is too small to share, the
// policy or the run does not allow it, or sharing failed on the way (memory,
// output that failed): the caller then enumerates on one thread. `context`
// is the caller's, without an index.
bool enumerate_shared(const EdgeLists& lists, const QualificationSettings& qualification,
                      const EnumerationPolicy& policy, const TermContext& context,
                      const NetworkTables& net, RunStats* stats, TermStore& store,
                      SharedEnumeration& counts);

}  // namespace kavrel
