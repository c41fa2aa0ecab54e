#pragma once

#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"
#include "trees/enumeration.h"
#include "trees/qualification.h"

namespace kavrel {

// The listings of one evaluation, each under its own test_bitmap bits.

// Both edge lists with their per-edge maps, and the kind of tree wanted.
void print_graph_listing(const NetworkTables& net, const EdgeLists& lists, int form, FILE* out);

// The edges of a common tree and the two walks' permutations.
void print_common_tree(const NetworkTables& net, const EdgeLists& lists, const TreeEdgeList& tree,
                       const int32_t* vtree_perm, const int32_t* itree_perm, int nodes, FILE* out);

// The admittance edges of an accepted tree.
void print_accepted_edges(const NetworkTables& net, const EdgeLists& lists,
                          const int32_t* admittance_edges, int count, FILE* out);

void print_tree_counters(long long raw_trees, long long common_trees, FILE* out);

}  // namespace kavrel
