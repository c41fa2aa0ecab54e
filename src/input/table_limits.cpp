#include "input/table_limits.h"

namespace kavrel {

TableCounts counts_of(const NetworkTables& net) {
  return {net.branch_name_count, net.passive_edge_count, net.active_edge_count, net.node_count};
}

TableCounts grown(const TableCounts& counts, const TableGrowth& growth) {
  return {counts.names + growth.names, counts.passive_edges + growth.passive_edges,
          counts.active_edges + growth.active_edges, counts.nodes + growth.nodes};
}

TableShortage first_shortage(const TableCounts& counts, int pseudo_branches) {
  if (counts.names + pseudo_branches > kLastNameSlot) return TableShortage::kNames;
  if (counts.passive_edges > kLastPassiveEdge) return TableShortage::kPassiveEdges;
  if (counts.active_edges > kLastActiveEdge) return TableShortage::kActiveEdges;
  if (counts.nodes > kMaxNode) return TableShortage::kNodes;
  if (counts.passive_edges + counts.active_edges + pseudo_branches > kEdgeListCapacity)
    return TableShortage::kEdgeList;
  return TableShortage::kNone;
}

bool counts_valid(const TableCounts& counts) {
  return counts.names >= 1 && counts.passive_edges >= 1 && counts.active_edges >= 0 &&
         counts.nodes >= 0;
}

bool evaluation_fits(const TableCounts& counts, int pseudo_branches) {
  return counts_valid(counts) && first_shortage(counts, pseudo_branches) == TableShortage::kNone;
}

bool augmentation_fits(const NetworkTables& net, const TableGrowth& growth) {
  const TableCounts now = counts_of(net);
  // The change drops the reserved node first, so it must be there.
  return counts_valid(now) && now.nodes >= 1 &&
         first_shortage(grown(now, growth), kPseudoBranchSlots) == TableShortage::kNone;
}

void print_passive_limit(FILE* out, int32_t passive_edge_count) {
  std::fprintf(out, "number of one-port elements(= %d) exceeds limit of %d\n or improper input applied\n",
               passive_edge_count, kPassiveLimit - 1);
}

void print_active_limit(FILE* out, int32_t active_edge_count) {
  std::fprintf(out, "number of two-port elements(= %d) exceeds limit of %d\n or improper input applied\n",
               active_edge_count, kActiveLimit - 1);
}

void print_node_limit(FILE* out, int32_t node_count, int node_limit) {
  std::fprintf(out, "number of nodes(= %d) exceeds limit of %d\n or improper input applied\n",
               node_count, node_limit - 1);
}

bool reading_limit_reached(const NetworkTables& net, FILE* out) {
  if (net.passive_edge_count >= kPassiveLimit) {
    print_passive_limit(out, net.passive_edge_count);
    return true;
  }
  if (net.active_edge_count >= kActiveLimit) {
    print_active_limit(out, net.active_edge_count);
    return true;
  }
  if (net.node_count >= kLabelledNodeLimit) {
    print_node_limit(out, net.node_count, kLabelledNodeLimit);
    return true;
  }
  return false;
}

}  // namespace kavrel
