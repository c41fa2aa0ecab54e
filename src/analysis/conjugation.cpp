#include "analysis/conjugation.h"

#include <algorithm>
#include <utility>

#include "analysis/scattering_embedding.h"
#include "input/construct_builders.h"
#include "input/node_numbering.h"
#include "input/table_limits.h"

namespace kavrel {

namespace {

// What one negative impedance converter adds. Its nodes are not counted: the
// node numbering refuses them one by one.
constexpr TableGrowth kConverterGrowth{3, 2, 1, 0};

bool is_reactive_one_port(const char* name) {
  const char kind = name[0];
  return kind == 'c' || kind == 'C' || kind == 'l' || kind == 'L';
}

// The edge among edges[1..edge_count] that owns name slot `slot`, or 0.
template <typename Edge>
int32_t edge_of_name(const Edge* edges, int32_t slot, int32_t edge_count) {
  for (int32_t j = 1; j <= edge_count; ++j)
    if (edges[j].name == slot) return j;
  return 0;
}

// The passive edge of name slot i that the conjugation negates, or 0.
int32_t edge_to_negate(const NetworkTables& net, int32_t i, int32_t passive_count) {
  if (net.norm_branch_list[i] != kMarkPassive || !is_reactive_one_port(net.branch_name_list[i]))
    return 0;
  return edge_of_name(net.passive_edges, i, passive_count);
}

}  // namespace

int negate_passive_element(NetworkTables& net, FILE* out, int32_t edge) {
  if (net.test_bitmap & kBitRoutineTrace) std::fprintf(out, "negate_passive_element entered\n");
  const TableCounts now = counts_of(net);
  const bool room = counts_valid(now) &&
                    first_shortage(grown(now, kConverterGrowth), 0) == TableShortage::kNone;
  if (!room || edge < 1 || edge > net.passive_edge_count) return 1;

  const int32_t n1 = new_internal_node(net, out);
  const int32_t n2 = new_internal_node(net, out);
  add_negative_impedance_converter(net, edge, n1, n2);
  return 0;
}

void negate_active_element(NetworkTables& net, FILE* out, int32_t edge) {
  if (net.test_bitmap & kBitRoutineTrace) std::fprintf(out, "negate_active_element entered\n");
  if (edge < 1 || edge > std::min(net.active_edge_count, kLastActiveEdge)) return;
  std::swap(net.active_edges[edge].out_pos, net.active_edges[edge].out_neg);
}

int conjugate_normalizing_networks(NetworkTables& net, FILE* out, int* converters_added) {
  if (net.test_bitmap & kBitRoutineTrace)
    std::fprintf(out, "conjugate_normalizing_networks entered\n");

  // Only what exists now is examined: the negations' own parts are never negated.
  const int32_t names = std::clamp(net.branch_name_count, 0, kLastNameSlot);
  const int32_t passive_count = std::clamp(net.passive_edge_count, 0, kLastPassiveEdge);
  const int32_t active_count = std::clamp(net.active_edge_count, 0, kLastActiveEdge);

  int negations = 0;
  for (int32_t i = 1; i <= names; ++i)
    if (edge_to_negate(net, i, passive_count) != 0) ++negations;
  // Each converter adds two nodes; the reserved node is dropped and rebuilt
  // after them.
  const TableGrowth growth{kConverterGrowth.names * negations,
                           kConverterGrowth.passive_edges * negations,
                           kConverterGrowth.active_edges * negations, 2 * negations};
  if (!augmentation_fits(net, growth)) {
    std::fprintf(out,
                 "scattering parameters skipped: conjugating the normalizing networks needs more "
                 "table space than configured\n");
    return 1;
  }

  if (converters_added != nullptr) *converters_added = negations;
  --net.node_count;
  for (int32_t i = 1; i <= names; ++i) {
    const int32_t mark = net.norm_branch_list[i];
    if (mark == kMarkPassive) {
      const int32_t edge = edge_to_negate(net, i, passive_count);
      if (edge != 0) negate_passive_element(net, out, edge);
    } else if (is_active_edge_mark(mark)) {
      const int32_t edge = edge_of_name(net.active_edges, i, active_count);
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
