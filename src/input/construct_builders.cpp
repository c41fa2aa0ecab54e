#include "input/construct_builders.h"

#include <cstring>

namespace kavrel {

namespace {

void set_name_text(NetworkTables& net, int32_t slot, const char* text) {
  std::strncpy(net.branch_name_list[slot], text, kNameBytes - 1);
  net.branch_name_list[slot][kNameBytes - 1] = '\0';
}

}  // namespace

int32_t add_name(NetworkTables& net, const char* text) {
  const int32_t slot = ++net.branch_name_count;
  set_name_text(net, slot, text);
  return slot;
}

void add_passive_edge(NetworkTables& net, int32_t name, int32_t node1, int32_t node2) {
  net.passive_edges[++net.passive_edge_count] = PassiveEdge{name, node1, node2};
}

void add_active_edge(NetworkTables& net, int32_t name, int32_t out_pos, int32_t out_neg,
                     int32_t in_pos, int32_t in_neg, bool mutual) {
  const int32_t edge = ++net.active_edge_count;
  net.active_edges[edge] = ActiveEdge{name, out_pos, out_neg, in_pos, in_neg};
  net.mutual_flag[edge] = mutual ? 1 : 0;
}

void add_op_amp(NetworkTables& net, int32_t out_pos, int32_t out_neg, int32_t in_pos,
                int32_t in_neg) {
  add_active_edge(net, add_name(net, "o"), out_pos, out_neg, in_pos, in_neg);
  ++net.opampcnt;
}

void add_unit_conductance(NetworkTables& net, int32_t node1, int32_t node2) {
  add_passive_edge(net, add_name(net, "a"), node1, node2);
}

void add_unit_source(NetworkTables& net, int32_t out_pos, int32_t out_neg, int32_t in_pos,
                     int32_t in_neg, bool mutual) {
  add_active_edge(net, add_name(net, "a"), out_pos, out_neg, in_pos, in_neg, mutual);
}

void add_negative_impedance_converter(NetworkTables& net, int32_t edge, int32_t n1, int32_t n2) {
  PassiveEdge& element = net.passive_edges[edge];
  const int32_t a = element.node1;
  const int32_t b = element.node2;
  element.node2 = n1;
  add_op_amp(net, a, n2, n1, b);
  add_unit_conductance(net, b, n2);
  add_unit_conductance(net, n1, n2);
}

void add_reserved_edge(NetworkTables& net) {
  if (net.node_count >= kMaxNode) return;
  net.passive_edges[1] = PassiveEdge{1, net.node_count + 1, 1};
  set_name_text(net, 1, "x");
  ++net.node_count;
  net.node_list[net.node_count] = 0;
}

}  // namespace kavrel
