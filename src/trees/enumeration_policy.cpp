#include "trees/enumeration_policy.h"

namespace kavrel {

namespace {

// Bits under which raw i-trees or their counts are printed; with any of them
// every raw i-tree must be generated.
constexpr int32_t kRawTreeVisibleBits =
    kBitRawTrees | kBitCommonTrees | kBitResources | kBitDebug128 | kBitTreeLines;

struct GraphShape {
  bool v_test_redundant = true;  // every i-tree is a v-tree
  bool same_orientation = true;  // and both graphs orient every edge alike
};

GraphShape graph_shape(const EdgeLists& lists, int nodes) {
  GraphShape shape;
  for (int e = 2; e <= lists.edges; ++e) {
    const int i1 = lists.inode1[e], i2 = lists.inode2[e];
    const int v1 = lists.vnode1[e], v2 = lists.vnode2[e];
    const bool same_pair = (i1 == v1 && i2 == v2) || (i1 == v2 && i2 == v1);
    if (!same_pair || i1 == nodes || i2 == nodes) {
      shape.v_test_redundant = false;
      shape.same_orientation = false;
      return shape;
    }
    if (i1 != v1) shape.same_orientation = false;
  }
  return shape;
}

// Whether no two trees can give the same term: every tree holds all the
// forced edges, so when every other edge is an admittance edge with a name of
// its own, distinct trees have distinct sets of admittance names.
bool trees_give_distinct_terms(const EdgeLists& lists) {
  bool name_taken[kNameSlots] = {};
  for (int e = 2; e <= lists.edges; ++e) {
    if (lists.dmap[e] != kKindOrdinary) {
      if ((lists.dmap[e] & kForcedKinds) == 0) return false;
      continue;
    }
    const int32_t name = lists.dbranchmap[e];
    if (name < 0 || name >= kNameSlots || name_taken[name]) return false;
    name_taken[name] = true;
  }
  return true;
}

// Whether the reserved node hangs on the reserved edge alone in both graphs,
// so that every tree but that edge spans the other nodes.
bool reserved_node_apart(const EdgeLists& lists, int nodes) {
  if (lists.inode1[1] != nodes && lists.inode2[1] != nodes) return false;
  if (lists.inode1[1] == lists.inode2[1]) return false;
  for (int e = 2; e <= lists.edges; ++e) {
    if (lists.inode1[e] == nodes || lists.inode2[e] == nodes || lists.vnode1[e] == nodes ||
        lists.vnode2[e] == nodes) {
      return false;
    }
  }
  return true;
}

}  // namespace

EnumerationPolicy choose_policy(const EdgeLists& lists, int nodes, int32_t test_bitmap,
                                bool exact_enumeration_only, bool store_empty) {
  const GraphShape shape = graph_shape(lists, nodes);
  EnumerationPolicy policy;
  policy.v_test_redundant = shape.v_test_redundant;
  policy.all_signs_plus = shape.same_orientation && (test_bitmap & kBitCommonTrees) == 0;
  if (exact_enumeration_only) return policy;

  policy.pruning.dead_alternatives = true;
  policy.pruning.non_common_trees =
      (test_bitmap & kRawTreeVisibleBits) == 0 && !shape.v_test_redundant;
  // The listing of the common trees prints the walks' permutations.
  policy.pruning.incremental_sign = !policy.all_signs_plus &&
                                    (test_bitmap & kBitCommonTrees) == 0 &&
                                    reserved_node_apart(lists, nodes);
  policy.index_terms = (test_bitmap & kBitNoStore) == 0 && store_empty;
  if (policy.index_terms) policy.terms_distinct = trees_give_distinct_terms(lists);
  return policy;
}

}  // namespace kavrel
