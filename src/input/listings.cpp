#include "input/listings.h"

#include "input/table_limits.h"

namespace kavrel {

namespace {

int32_t clamp_count(int32_t count, int slots) {
  if (count < 0) return 0;
  return count < slots ? count : slots - 1;
}

const char* name_text(const NetworkTables& net, int32_t slot) {
  return slot >= 0 && slot < kNameSlots ? net.branch_name_list[slot] : "?";
}

}  // namespace

void print_network_listing(const NetworkTables& net, FILE* out, const char* subtitle_line,
                           const char* namelist_header) {
  std::fprintf(out, "Internal representation of data including generated elements and reassigned node#s:\n");
  if (subtitle_line != nullptr) std::fputs(subtitle_line, out);
  std::fprintf(out, "edge,name,node#'s...\n");
  int row = 0;
  const int32_t passive_count = clamp_count(net.passive_edge_count, kPassiveSlots);
  for (int32_t e = 1; e <= passive_count; ++e) {
    const PassiveEdge& edge = net.passive_edges[e];
    std::fprintf(out, "%3d %s %d %d\n", ++row, name_text(net, edge.name), edge.node1, edge.node2);
  }
  const int32_t active_count = clamp_count(net.active_edge_count, kActiveSlots);
  for (int32_t e = 1; e <= active_count; ++e) {
    const ActiveEdge& edge = net.active_edges[e];
    std::fprintf(out, "%3d %s %d %d %d %d\n", ++row, name_text(net, edge.name), edge.out_pos,
                 edge.out_neg, edge.in_pos, edge.in_neg);
  }
  std::fprintf(out, "%3d f %d %d %d %d\n", ++row, net.port_nodes[0], net.port_nodes[1],
               net.port_nodes[2], net.port_nodes[3]);
  std::fprintf(out, "internal node#  input node#:\n");
  const int32_t node_count = clamp_count(net.node_count, kNodeSlots);
  for (int32_t node = 1; node <= node_count; ++node)
    std::fprintf(out, "         %5d    %d\n", node, net.node_list[node]);
  std::fputs(namelist_header, out);
  const int32_t name_count = clamp_count(net.branch_name_count, kNameSlots);
  for (int32_t slot = 1; slot <= name_count; ++slot) {
    if (net.numeric_values[slot] != 0.0)
      std::fprintf(out, "%3d, %s %g\n", slot, net.branch_name_list[slot], net.numeric_values[slot]);
    else
      std::fprintf(out, "%3d, %s\n", slot, net.branch_name_list[slot]);
  }
  std::fprintf(out, "\n");
}

void print_resource_listing(const NetworkTables& net, FILE* out) {
  std::fprintf(out, " currently configured resource limits:\n");
  std::fprintf(out, "branch name list limit:%d, used:%d\n", kNameListLimit, net.branch_name_count);
  std::fprintf(out, "node list limit:%d, used:%d\n", kLabelledNodeLimit, net.node_count);
  std::fprintf(out, "passive edges limit:%d, used:%d\n", kPassiveLimit, net.passive_edge_count);
  std::fprintf(out, "active edges limit:%d, used:%d\n", kActiveLimit, net.active_edge_count);
}

}  // namespace kavrel
