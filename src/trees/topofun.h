#pragma once

#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"
#include "trees/term_store.h"
#include "trees/tree_count.h"

namespace kavrel {

// Evaluates topological function `topofun` (0..7) into stores.stores[topofun].
// On failure the store is released and its topofun_evaluated flag cleared.
// function_counter numbers the term lines of the trace: the driver sets it to
// the code of the parameter it works on, each evaluation adds 1 to it first.
void evaluate_topofun(NetworkTables& net, TopofunStores& stores, FILE* out,
                      int passive_edges, int active_edges, int tree_branch_count,
                      int topofun, int32_t& function_counter);

// The raw i-trees an evaluation of `topofun` would generate, counted, not
// enumerated (none when the tables cannot hold its graphs). The tables are
// left as they are.
TreeCount count_topofun_trees(const NetworkTables& net, int topofun);

// Whether the tables can hold the graphs of `topofun`; an evaluation where
// they cannot prints that it is skipped.
bool topofun_fits(const NetworkTables& net, int topofun);

// What a successful evaluation of `topofun` leaves in the tables (the kind
// of the reserved edge's name, the names of its pseudo-branches), for a
// result evaluated on a copy of them.
void mark_tables_as_evaluated(NetworkTables& net, int topofun);

// Frees the store of every code whose flag is set.
void release_term_stores(TopofunStores& stores);

}  // namespace kavrel
