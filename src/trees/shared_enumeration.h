#pragma once

#include "input/network_tables.h"
#include "trees/enumeration.h"
#include "trees/enumeration_policy.h"
#include "trees/qualification.h"
#include "trees/run_stats.h"
#include "trees/term_insert.h"
#include "trees/term_store.h"
#include "trees/tree_enumerator.h"

namespace kavrel {

// The rest of an enumeration shared out over several threads. Once the
// enumeration has filed a number of trees, the search it has still to make
// (its saved alternatives) is cut into the subtrees below the states where a
// partial tree holds a few more free edges (and the trees found above them),
// taken in the enumeration's order; runs of consecutive subtrees are
// enumerated on their own into rows, and the rows are filed, strictly in
// order, into the function's store as add_term would have filed their trees
// one by one: the same rows, coefficients, columns and growth.
struct SharedEnumeration {
  long long raw_trees = 0;
  long long common_trees = 0;
};

// The trees to file on the calling thread before the rest is shared out;
// -1 when this evaluation is not shared: something of it could show (test
// bits but the rational form, a progress display, a tree budget, an
// allocation-failure hook), its terms are not indexed, or there is one core.
long long trees_before_sharing(const NetworkTables& net, const EnumerationPolicy& policy,
                               const RunStats* stats);

// Files the trees the search of `enumerator` (which has just delivered a
// tree) has still to deliver into `store`, through `context` (the caller's,
// its index as the enumeration uses it), and sets their counts. False when
// that failed on the way (memory, output that failed): the store then holds
// part of them, and the caller files the function anew.
bool share_rest(const TreeEnumerator& enumerator, const EdgeLists& lists,
                const QualificationSettings& qualification, const EnumerationPolicy& policy,
                const TermContext& context, const NetworkTables& net, RunStats* stats,
                TermStore& store, SharedEnumeration& counts);

}  // namespace kavrel
