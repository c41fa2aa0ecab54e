#pragma once

#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"
#include "trees/enumeration.h"

namespace kavrel {

// The edges of one tree except the reserved edge 1, in increasing edge number,
// at positions 1..count; with the OR of their kind codes and the number of
// op amps among them.
struct TreeEdgeList {
  int count = 0;
  int32_t kinds = 0;
  int opamps = 0;
  int32_t edge[kEdgeSlots] = {};
};

struct QualificationSettings {
  const NetworkTables* net = nullptr;
  const EdgeLists* lists = nullptr;
  int nodes = 0;  // minty_nodes: the network's nodes and the reserved node
  int form = 0;   // pseudo-branch kinds every accepted tree holds
  int32_t opampcnt = 0;
  bool list_raw_trees = false;
  // Every edge joins the same node pair in both graphs and nothing but edge 1
  // touches the reserved node, so every i-tree is also a v-tree.
  bool v_test_redundant = false;
  // The enumeration never takes an edge that closes a v-cycle, so a tree's
  // edges form a v-forest.
  bool v_acyclic = false;
  FILE* out = nullptr;
};

// Decides whether a complete spanning tree of the i-graph (its edges but the
// reserved one) is a common tree of the requested kind.
bool qualify_raw_tree(const QualificationSettings& settings, const TreeEdgeList& tree,
                      long long raw_tree_number);

// perm[v] for nodes v = 2..nodes-1: the signed number of the tree edge through
// which a walk from node 1 first reaches v; positive when v is the edge's
// second endpoint. Entries of nodes not reached stay 0.
void tree_permutation(int n, int nodes, const int32_t* end1, const int32_t* end2,
                      const int32_t* list, int32_t* perm);

// Product of both trees' orientation signs and the parity of the permutation
// taking the v-tree's node-to-edge assignment to the i-tree's. Leaves both
// permutations with positive entries, vtree_perm reordered.
int common_tree_sign(int nodes, int32_t* vtree_perm, int32_t* itree_perm);

}  // namespace kavrel
