#include "analysis/conjugation.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "analysis/scattering_embedding.h"
#include "analysis/table_room.h"
#include "input/node_numbering.h"

namespace kavrel {

namespace {

bool is_reactive_one_port(const char* name) {
  const char kind = name[0];
  return kind == 'c' || kind == 'C' || kind == 'l' || kind == 'L';
}

int32_t passive_edge_of_name(const NetworkTables& net, int32_t slot, int32_t edge_count) {
  for (int32_t j = 1; j <= edge_count; ++j)
    if (net.passive_edges[j].name == slot) return j;
  return 0;
}

int32_t active_edge_of_name(const NetworkTables& net, int32_t slot, int32_t edge_count) {
  for (int32_t j = 1; j <= edge_count; ++j)
    if (net.active_edges[j].name == slot) return j;
  return 0;
}

}  // namespace

int negate_passive_element(NetworkTables& net, FILE* out, int32_t edge) {
  if (net.test_bitmap & kBitRoutineTrace) std::fprintf(out, "negate_passive_element entered\n");
  const bool room = net.branch_name_count >= 1 && net.branch_name_count + 3 <= kNameSlots - 1 &&
                    net.passive_edge_count >= 1 &&
                    net.passive_edge_count + 2 <= kPassiveSlots - 1 && net.active_edge_count >= 0 &&
                    net.active_edge_count + 1 <= kActiveSlots - 1;
  if (!room || edge < 1 || edge > net.passive_edge_count) return 1;

  const int32_t a = net.passive_edges[edge].node1;
  const int32_t b = net.passive_edges[edge].node2;
  const int32_t n1 = new_internal_node(net, out);
  net.passive_edges[edge].node2 = n1;

  ++net.opampcnt;
  ++net.branch_name_count;
  ++net.active_edge_count;
  set_name_text(net, net.branch_name_count, "o");
  const int32_t n2 = new_internal_node(net, out);
  net.active_edges[net.active_edge_count] = {net.branch_name_count, a, n2, n1, b};
  net.mutual_flag[net.active_edge_count] = 0;

  for (const auto& [first, second] : {std::pair{b, n2}, std::pair{n1, n2}}) {
    ++net.branch_name_count;
    ++net.passive_edge_count;
    set_name_text(net, net.branch_name_count, "a");
    net.passive_edges[net.passive_edge_count] = {net.branch_name_count, first, second};
  }
  return 0;
}

void negate_active_element(NetworkTables& net, FILE* out, int32_t edge) {
  if (net.test_bitmap & kBitRoutineTrace) std::fprintf(out, "negate_active_element entered\n");
  if (edge < 1 || edge > std::min(net.active_edge_count, kActiveSlots - 1)) return;
  std::swap(net.active_edges[edge].out_pos, net.active_edges[edge].out_neg);
}

int conjugate_normalizing_networks(NetworkTables& net, FILE* out, int* converters_added) {
  if (net.test_bitmap & kBitRoutineTrace)
    std::fprintf(out, "conjugate_normalizing_networks entered\n");

  // Only what exists now is examined: the negations' own parts are never negated.
  const int32_t names = std::clamp(net.branch_name_count, 0, kNameSlots - 1);
  const int32_t passive_count = std::clamp(net.passive_edge_count, 0, kPassiveSlots - 1);
  const int32_t active_count = std::clamp(net.active_edge_count, 0, kActiveSlots - 1);

  int negations = 0;
  for (int32_t i = 1; i <= names; ++i) {
    if (net.norm_branch_list[i] == 1 && is_reactive_one_port(net.branch_name_list[i]) &&
        passive_edge_of_name(net, i, passive_count) != 0) {
      ++negations;
    }
  }
  // The reserved node is dropped and rebuilt after the new nodes.
  const TableGrowth growth{3 * negations, 2 * negations, negations, net.node_count + 2 * negations};
  if (!growth_fits(net, growth)) {
    std::fprintf(out,
                 "scattering parameters skipped: conjugating the normalizing networks needs more "
                 "table space than configured\n");
    return 1;
  }

  if (converters_added != nullptr) *converters_added = negations;
  --net.node_count;
  for (int32_t i = 1; i <= names; ++i) {
    const int32_t mark = net.norm_branch_list[i];
    if (mark == 1) {
      if (!is_reactive_one_port(net.branch_name_list[i])) continue;
      const int32_t edge = passive_edge_of_name(net, i, passive_count);
      if (edge != 0) negate_passive_element(net, out, edge);
    } else if (mark == -1 || mark == -2 || mark == -3) {
      const int32_t edge = active_edge_of_name(net, i, active_count);
      if (edge != 0 && net.mutual_flag[edge] == 1) negate_active_element(net, out, edge);
    }
  }

  complete_augmented_network(
      net, out,
      "this includes embedding circuitry for evaluating the numerators of the scattering "
      "parameters.\n");
  return 0;
}

}  // namespace kavrel
