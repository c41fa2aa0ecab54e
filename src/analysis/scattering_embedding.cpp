#include "analysis/scattering_embedding.h"

#include <algorithm>

#include "input/construct_builders.h"
#include "input/netlist_reader.h"
#include "input/node_numbering.h"
#include "input/table_limits.h"

namespace kavrel {

namespace {

// Node codes of the templates: 1..8 the embedding nodes E1..E8; negative codes
// the port nodes as they were before the embedding.
constexpr int32_t kOldPlusP2 = -1;
constexpr int32_t kMinusP2 = -2;
constexpr int32_t kMinusP1 = -3;
constexpr int32_t kOldPlusP1 = -4;

struct OpAmpRow {
  int32_t out_pos, out_neg, in_pos, in_neg;
};
struct UnitRow {
  int32_t first, second;
};

constexpr OpAmpRow kOpAmpRows[4] = {{2, kMinusP1, 1, 2},
                                    {3, kMinusP1, kOldPlusP1, 4},
                                    {6, kMinusP2, 5, 6},
                                    {7, kMinusP2, kOldPlusP2, 8}};
constexpr UnitRow kUnitRows[6] = {{1, 3}, {4, 3}, {4, kMinusP1}, {5, 7}, {7, 8}, {8, kMinusP2}};
constexpr UnitRow kNormalizingRows[2] = {{2, kOldPlusP1}, {6, kOldPlusP2}};

bool has_normalizing_network(const NetworkTables& net, int port) {
  return net.norm_network_nodes[2 * port] != 0 && net.norm_network_nodes[2 * port + 1] != 0;
}

int32_t other_node(int32_t node, int32_t first, int32_t second) {
  return node == first ? second : first;
}

}  // namespace

void trace_graph(NetworkTables& net, FILE* out, int32_t start_node, int stack_positions) {
  if (net.test_bitmap & kBitRoutineTrace) std::fprintf(out, "trace_graph entered\n");
  stack_positions = std::clamp(stack_positions, 0, kTraceStackPositions);
  const int32_t passive_count = std::min(net.passive_edge_count, kLastPassiveEdge);
  const int32_t active_count = std::min(net.active_edge_count, kLastActiveEdge);
  int32_t* marks = net.norm_branch_list;

  int32_t stack[kTraceStackPositions + 1];
  int top = 0;
  // A walk that runs out of stack positions ends at once; its marks stay.
  auto push = [&](int32_t node) {
    if (top >= stack_positions) {
      std::fprintf(out, "tilt\n");
      return false;
    }
    stack[++top] = node;
    return true;
  };

  if (!push(start_node)) return;
  while (top > 0) {
    const int32_t n = stack[top];
    bool crossed = false;
    for (int32_t j = 1; j <= passive_count && !crossed; ++j) {
      const PassiveEdge& edge = net.passive_edges[j];
      if (marks[edge.name] != kMarkOutside || (edge.node1 != n && edge.node2 != n)) continue;
      marks[edge.name] = kMarkPassive;
      if (!push(other_node(n, edge.node1, edge.node2))) return;
      crossed = true;
    }
    for (int32_t j = 1; j <= active_count && !crossed; ++j) {
      const ActiveEdge& edge = net.active_edges[j];
      int32_t& mark = marks[edge.name];
      const bool on_output = edge.out_pos == n || edge.out_neg == n;
      const bool on_input = edge.in_pos == n || edge.in_neg == n;
      int32_t next_node = 0;
      if (mark == kMarkOutside && on_output) {
        mark = kMarkOutputPair;
        next_node = other_node(n, edge.out_pos, edge.out_neg);
      } else if (mark == kMarkOutside && on_input) {
        mark = kMarkInputPair;
        next_node = other_node(n, edge.in_pos, edge.in_neg);
      } else if (mark == kMarkOutputPair && on_input) {
        mark = kMarkBothPairs;
        next_node = other_node(n, edge.in_pos, edge.in_neg);
      } else if (mark == kMarkInputPair && on_output) {
        mark = kMarkBothPairs;
        next_node = other_node(n, edge.out_pos, edge.out_neg);
      } else {
        continue;
      }
      if (!push(next_node)) return;
      crossed = true;
    }
    if (!crossed) --top;
  }

  const int32_t last_slot = std::min(net.branch_name_count, kLastNameSlot);
  for (int32_t i = 0; i <= last_slot; ++i)
    std::fprintf(out, " norm_branch_list[i],i: %4d %4d\n", marks[i], i);
}

int embed_s_param(NetworkTables& net, FILE* out) {
  if (net.test_bitmap & kBitRoutineTrace) std::fprintf(out, "entered s-param\n");

  const bool network_given[2] = {has_normalizing_network(net, 0), has_normalizing_network(net, 1)};
  const int networks = (network_given[0] ? 1 : 0) + (network_given[1] ? 1 : 0);
  // The reserved node is dropped and rebuilt; each normalizing network saves a node.
  const TableGrowth growth{12, 8 - networks, 4 + networks, 8 - networks};
  if (!augmentation_fits(net, growth)) {
    std::fprintf(out,
                 "scattering parameters skipped: the embedding circuitry needs more table space "
                 "than configured\n");
    return 1;
  }

  for (int32_t& mark : net.norm_branch_list) mark = kMarkOutside;
  for (int port = 0; port < 2; ++port) {
    if (!network_given[port]) continue;
    trace_graph(net, out, net.norm_network_nodes[2 * port]);
    trace_graph(net, out, net.norm_network_nodes[2 * port + 1]);
  }

  const int32_t old_plus_p1 = net.port_nodes[0];
  const int32_t old_plus_p2 = net.port_nodes[2];
  --net.node_count;

  int32_t embedding_node[9] = {};
  for (int k = 1; k <= 8; ++k) {
    if (k == 2 && network_given[0]) {
      embedding_node[k] = net.norm_network_nodes[0];
    } else if (k == 6 && network_given[1]) {
      embedding_node[k] = net.norm_network_nodes[2];
    } else {
      embedding_node[k] = new_internal_node(net, out);
    }
  }
  auto node_of_code = [&](int32_t code) {
    switch (code) {
      case kOldPlusP2:
        return old_plus_p2;
      case kMinusP2:
        return net.port_nodes[3];
      case kMinusP1:
        return net.port_nodes[1];
      case kOldPlusP1:
        return old_plus_p1;
      default:
        return embedding_node[code];
    }
  };

  net.port_nodes[0] = embedding_node[1];
  net.port_nodes[2] = embedding_node[5];

  for (const OpAmpRow& row : kOpAmpRows) {
    add_op_amp(net, node_of_code(row.out_pos), node_of_code(row.out_neg), node_of_code(row.in_pos),
               node_of_code(row.in_neg));
  }
  for (const UnitRow& row : kUnitRows)
    add_unit_conductance(net, node_of_code(row.first), node_of_code(row.second));
  for (int port = 0; port < 2; ++port) {
    const UnitRow& row = kNormalizingRows[port];
    if (network_given[port]) {
      // An op amp whose two pairs coincide joins its nodes like a wire.
      const int32_t joined = net.norm_network_nodes[2 * port + 1];
      const int32_t port_node = node_of_code(row.second);
      add_op_amp(net, joined, port_node, joined, port_node);
    } else {
      const char* name = net.norm_mode == 0 ? "Y0" : (net.norm_mode == 1 ? "Z0" : "a");
      add_passive_edge(net, add_name(net, name), node_of_code(row.first), node_of_code(row.second));
    }
  }

  complete_augmented_network(
      net, out,
      "this includes embedding circuitry for evaluating the denominators of the scattering "
      "parameters.\n");
  return 0;
}

void complete_augmented_network(NetworkTables& net, FILE* out, const char* listing_subtitle) {
  add_reserved_edge(net);
  complete_network(net, out, listing_subtitle, "\nedge namelist: index, value\n");
}

}  // namespace kavrel
