#pragma once

#include <cstdint>

#include "trees/enumeration.h"
#include "trees/tree_enumerator.h"

namespace kavrel {

// The decisions one evaluation takes before its first tree: which shortcuts
// it may use without changing a byte of what it prints.
struct EnumerationPolicy {
  Pruning pruning;
  // Every i-tree is also a v-tree: the v-graph test is left out.
  bool v_test_redundant = false;
  // Both graphs orient every edge alike and no permutation is listed, so
  // every common tree has the sign +1.
  bool all_signs_plus = false;
  // Terms are found through a hash index, the columns ordered at the end.
  bool index_terms = false;
  // No two trees give the same term (the index then only orders).
  bool terms_distinct = false;
};

// exact_enumeration_only turns every shortcut off; store_empty says whether
// the function's store holds no terms yet.
EnumerationPolicy choose_policy(const EdgeLists& lists, int nodes, int32_t test_bitmap,
                                bool exact_enumeration_only, bool store_empty);

}  // namespace kavrel
