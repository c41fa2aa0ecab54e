#pragma once

#include <cstdint>

namespace kavrel {

// Fixed capacities. Slot 0 of every table is never a valid element, edge or node.
constexpr int kNameSlots = 104;      // branch_name_list slots 0..103
constexpr int kNameBytes = 13;       // 12 characters and the terminating NUL
constexpr int kNodeSlots = 44;       // internal nodes 1..43
constexpr int kMaxNode = 43;
constexpr int kPassiveSlots = 68;    // passive edges 0..67
constexpr int kActiveSlots = 36;     // active edges 0..35
constexpr int kParamCount = 32;
constexpr int kLabelDigitsBytes = 68;  // 64 digits, "..." and the NUL
constexpr uint32_t kOversizedLabelBase = 1000;

// The limits of reading and every capacity check: input/table_limits.h.

struct PassiveEdge {
  int32_t name;
  int32_t node1;
  int32_t node2;
};

struct ActiveEdge {
  int32_t name;
  int32_t out_pos;
  int32_t out_neg;
  int32_t in_pos;
  int32_t in_neg;
};

// The network of one netlist. Reset at the start of every netlist; extended in
// place by the scattering embedding and the conjugation.
struct NetworkTables {
  char branch_name_list[kNameSlots][kNameBytes];
  int32_t branch_name_count;

  double numeric_values[kNameSlots];

  int32_t node_list[kNodeSlots];
  int32_t node_count;
  int32_t last_generated_label;

  PassiveEdge passive_edges[kPassiveSlots];
  int32_t passive_edge_count;

  ActiveEdge active_edges[kActiveSlots];
  int32_t active_edge_count;
  int32_t mutual_flag[kActiveSlots];
  int32_t opampcnt;

  int32_t port_labels[4];  // +p1, -p1, +p2, -p2
  int32_t port_nodes[4];
  int32_t param_selected[kParamCount];
  int32_t norm_mode;
  int32_t norm_network_nodes[4];
  int32_t test_bitmap;
  int32_t negate_next;
  int32_t netlist_count;

  int32_t passive_snapshot;
  int32_t tree_branch_count;

  // Per-name classification, rebuilt by build_name_index.
  int32_t branchmap[kNameSlots];
  int32_t powermap[kNameSlots];
  int32_t fmap[kNameSlots];
  int32_t impedance_list[kNameSlots];
  int32_t impedance_count;

  // Marks of the normalizing-network walk, per name slot.
  int32_t norm_branch_list[kNameSlots];
};

// test_bitmap bits
constexpr int32_t kBitInternalListing = 1;
constexpr int32_t kBitRawTrees = 2;
constexpr int32_t kBitRoutineTrace = 4;
constexpr int32_t kBitCommonTrees = 8;
constexpr int32_t kBitOhmFactors = 16;
constexpr int32_t kBitCommonFactors = 32;
constexpr int32_t kBitResources = 64;
constexpr int32_t kBitDebug128 = 128;
constexpr int32_t kBitTreeLines = 256;
constexpr int32_t kBitNoStore = 512;
constexpr int32_t kBitRational = 4096;

// Any of these prints the formula lines and the product header line.
constexpr int32_t kFormulaBits = 2 | 8 | 16 | 32 | 64 | 128;
// Any of these also prints the graph listing.
constexpr int32_t kGraphListingBits = 2 | 8 | 16 | 32 | 128;

}  // namespace kavrel
