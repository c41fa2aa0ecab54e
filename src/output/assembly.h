#pragma once

#include <cstdio>

#include "input/network_tables.h"
#include "trees/term_store.h"

namespace kavrel {

// Prints one two-port parameter from two evaluated topological functions:
// 0 when printed, 1 when it failed for want of memory.
int print_tree_buf(NetworkTables& net, const TopofunStores& stores, FILE* out, int sign,
                   int num_topofun, int den_topofun);

}  // namespace kavrel
