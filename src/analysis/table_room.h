#pragma once

#include <cstring>

#include "input/network_tables.h"

namespace kavrel {

// The topological evaluation writes two port pseudo-branches into the name
// slots after branch_name_count and appends them to edge lists of 103 edges.
constexpr int kPseudoBranchSlots = 2;
constexpr int kEdgeListCapacity = 103;

// What a change of the network adds to the tables.
struct TableGrowth {
  int names;
  int passive_edges;
  int active_edges;
  int final_node_count;  // node_count once the change is complete
};

// True when the tables can take the growth and still leave room for the
// pseudo-branches of every later evaluation.
inline bool growth_fits(const NetworkTables& net, const TableGrowth& growth) {
  const long long names = static_cast<long long>(net.branch_name_count) + growth.names;
  const long long passive = static_cast<long long>(net.passive_edge_count) + growth.passive_edges;
  const long long active = static_cast<long long>(net.active_edge_count) + growth.active_edges;
  return net.branch_name_count >= 1 && net.passive_edge_count >= 1 && net.active_edge_count >= 0 &&
         net.node_count >= 1 && names + kPseudoBranchSlots <= kNameSlots - 1 &&
         passive <= kPassiveSlots - 1 && active <= kActiveSlots - 1 &&
         growth.final_node_count <= kMaxNode &&
         passive + active + kPseudoBranchSlots <= kEdgeListCapacity;
}

inline void set_name_text(NetworkTables& net, int32_t slot, const char* text) {
  std::strncpy(net.branch_name_list[slot], text, kNameBytes - 1);
  net.branch_name_list[slot][kNameBytes - 1] = '\0';
}

}  // namespace kavrel
