#pragma once

#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"

namespace kavrel {

// Stack positions of the normalizing-network walk.
constexpr int kTraceStackPositions = 415;

// Marks of the walk in norm_branch_list, per name slot: what of the edge lies
// in a normalizing network.
constexpr int32_t kMarkOutside = 0;
constexpr int32_t kMarkPassive = 1;      // a passive edge
constexpr int32_t kMarkOutputPair = -1;  // an active edge's output pair
constexpr int32_t kMarkInputPair = -2;   // an active edge's input pair
constexpr int32_t kMarkBothPairs = -3;   // both pairs of an active edge

inline bool is_active_edge_mark(int32_t mark) {
  return mark == kMarkOutputPair || mark == kMarkInputPair || mark == kMarkBothPairs;
}

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
