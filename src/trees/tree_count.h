#pragma once

#include <cstddef>

#include "trees/enumeration.h"

namespace kavrel {

// An exact count of trees, or the news that it does not fit in 127 bits.
struct TreeCount {
  unsigned __int128 value = 0;
  bool exceeded = false;
};

// The number of raw i-trees the enumeration of `lists` generates: spanning
// trees of the i-graph over nodes 1..nodes that hold edge 1 and every edge of
// a forced kind (op amps, port pseudo-branches). By the matrix-tree theorem it
// is the determinant of the reduced Laplacian of the i-graph with those edges
// contracted; 0 when they close a cycle.
TreeCount count_raw_i_trees(const EdgeLists& lists, int nodes);

// The count in decimal, or "more than 2^127" when it was exceeded.
void format_tree_count(const TreeCount& count, char* buffer, std::size_t size);

}  // namespace kavrel
