#pragma once

#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"

namespace kavrel {

// Stack positions of the normalizing-network walk.
constexpr int kTraceStackPositions = 415;

// Adds the embedding circuitry of the scattering parameters at both ports,
// after marking the normalizing networks in norm_branch_list. 0 when done;
// 1, with a message and the tables unchanged, when it would not fit.
int embed_s_param(NetworkTables& net, FILE* out);

// Rebuilds the reserved edge on a new highest node, takes the count snapshots,
// rebuilds the name index and, under bit 1, lists the augmented network.
void complete_augmented_network(NetworkTables& net, FILE* out, const char* listing_subtitle);

// Marks every branch reachable from start_node in norm_branch_list and prints
// the marks. A push beyond stack_positions prints "tilt" and ends the walk.
void trace_graph(NetworkTables& net, FILE* out, int32_t start_node,
                 int stack_positions = kTraceStackPositions);

}  // namespace kavrel
