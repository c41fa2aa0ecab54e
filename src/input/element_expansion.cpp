#include "input/element_expansion.h"

#include <cstring>

#include "input/construct_builders.h"
#include "input/node_numbering.h"
#include "input/table_limits.h"

namespace kavrel {

namespace {

// The terminals of an entry (A, B, C, D: its numbers as +out, -out, +in, -in,
// or a one-port's first and second number) and the generated nodes N1..N6.
enum Terminal : uint8_t { kUnused, A, B, C, D, N1, N2, N3, N4, N5, N6, kTerminalCount };

enum class PartKind : uint8_t {
  kUnused,
  kOwnPassive,        // the element's own name, already stored by the reader
  kOwnActive,
  kCopyPassive,       // a second slot with the own text: the same symbol
  kCopyActive,
  kOpAmp,             // "o"
  kUnitConductance,   // passive "a"
  kUnitSource,        // active "a"
  kMutualUnitSource,  // active "a" with mutual_flag set
  kConverter,         // negative impedance converter on nodes (N1, N2) around
                      // the last passive edge
};

struct Part {
  PartKind kind;
  Terminal nodes[4];
};

// How one kind of element becomes edges. `creation_order` decides the node
// numbering: each terminal gets its internal node number (a generated node
// also its label) in this order, before any part is written. The listings
// print those numbers, and the edge lists and tree order of every evaluation
// follow them, so each order stays as it is. The parts are written in their
// order, which fixes the name slots and edge numbers.
struct Recipe {
  Terminal creation_order[10];
  Part parts[10];
};

constexpr Recipe kOnePort{{A, B}, {{PartKind::kOwnPassive, {A, B}}}};

// Between A and B the element behaves as minus itself.
constexpr Recipe kNegatedOnePort{
    {A, N1, N2, B}, {{PartKind::kOwnPassive, {A, B}}, {PartKind::kConverter, {N1, N2}}}};

constexpr Recipe kTransconductance{{A, B, C, D}, {{PartKind::kOwnActive, {A, B, C, D}}}};

constexpr Recipe kVoltageAmplifier{{N1, B, C, D, A},
                                   {{PartKind::kOwnActive, {N1, B, C, D}},
                                    {PartKind::kOpAmp, {A, B, B, N1}},
                                    {PartKind::kUnitConductance, {N1, A}}}};

// The own edge carries the output terminals in the opposite order.
constexpr Recipe kCurrentAmplifier{{B, A, N1, D, C},
                                   {{PartKind::kOwnActive, {B, A, N1, D}},
                                    {PartKind::kOpAmp, {N1, D, D, C}},
                                    {PartKind::kUnitConductance, {C, N1}}}};

// The transresistance symbol is a passive edge, an impedance.
constexpr Recipe kTransresistance{{C, N1, N2, B, D, A},
                                  {{PartKind::kOwnPassive, {C, N1}},
                                   {PartKind::kUnitSource, {N2, B, D, N1}},
                                   {PartKind::kOpAmp, {A, B, B, N2}},
                                   {PartKind::kOpAmp, {N1, D, D, C}},
                                   {PartKind::kUnitConductance, {A, N2}}}};

constexpr Recipe kGyrator{
    {A, B, C, D}, {{PartKind::kOwnActive, {A, B, C, D}}, {PartKind::kCopyActive, {D, C, A, B}}}};

// The two passive edges with the own text are the mutual reactance.
constexpr Recipe kMutualInductance{{N1, N2, C, N3, N4, A, N5, N6, D, B},
                                   {{PartKind::kOwnPassive, {C, N3}},
                                    {PartKind::kMutualUnitSource, {N4, N2, N1, N3}},
                                    {PartKind::kOpAmp, {A, N2, N2, N4}},
                                    {PartKind::kOpAmp, {N3, N1, N1, C}},
                                    {PartKind::kUnitConductance, {A, N4}},
                                    {PartKind::kCopyPassive, {N2, N5}},
                                    {PartKind::kMutualUnitSource, {N6, D, B, N5}},
                                    {PartKind::kOpAmp, {N1, D, D, N6}},
                                    {PartKind::kOpAmp, {N5, B, B, N2}},
                                    {PartKind::kUnitConductance, {N1, N6}}}};

const Recipe& recipe_of(ElementKind kind, bool negated) {
  switch (kind) {
    case ElementKind::kOnePort:
      return negated ? kNegatedOnePort : kOnePort;
    case ElementKind::kTransconductance:
    case ElementKind::kOpAmp:
      return kTransconductance;
    case ElementKind::kVoltageAmplifier:
      return kVoltageAmplifier;
    case ElementKind::kCurrentAmplifier:
      return kCurrentAmplifier;
    case ElementKind::kTransresistance:
      return kTransresistance;
    case ElementKind::kGyrator:
      return kGyrator;
    case ElementKind::kMutualInductance:
      break;
  }
  return kMutualInductance;
}

// Name slots and edges a recipe adds. Its nodes are left out: the node
// numbering refuses them one by one.
TableGrowth growth_of(const Recipe& recipe) {
  TableGrowth growth{0, 0, 0, 0};
  for (const Part& part : recipe.parts) {
    switch (part.kind) {
      case PartKind::kUnused:
        break;
      case PartKind::kOwnPassive:
      case PartKind::kCopyPassive:
      case PartKind::kUnitConductance:
        ++growth.names;
        ++growth.passive_edges;
        break;
      case PartKind::kOwnActive:
      case PartKind::kCopyActive:
      case PartKind::kOpAmp:
      case PartKind::kUnitSource:
      case PartKind::kMutualUnitSource:
        ++growth.names;
        ++growth.active_edges;
        break;
      case PartKind::kConverter:
        growth.names += 3;
        growth.passive_edges += 2;
        growth.active_edges += 1;
        break;
    }
  }
  return growth;
}

// A second slot with the text of `slot`.
int32_t copy_name(NetworkTables& net, int32_t slot) {
  char text[kNameBytes];
  std::memcpy(text, net.branch_name_list[slot], kNameBytes);
  return add_name(net, text);
}

void build(NetworkTables& net, FILE* out, const Recipe& recipe, const uint32_t labels[4],
           const OversizedLabelDigits* oversized) {
  int32_t node[kTerminalCount] = {};
  for (Terminal terminal : recipe.creation_order) {
    if (terminal == kUnused) break;
    node[terminal] = terminal <= D ? node_of_label(net, out, labels[terminal - A], oversized)
                                   : new_internal_node(net, out);
  }
  int32_t own = 0;
  for (const Part& part : recipe.parts) {
    const int32_t n0 = node[part.nodes[0]];
    const int32_t n1 = node[part.nodes[1]];
    const int32_t n2 = node[part.nodes[2]];
    const int32_t n3 = node[part.nodes[3]];
    switch (part.kind) {
      case PartKind::kUnused:
        return;
      case PartKind::kOwnPassive:
        own = ++net.branch_name_count;
        add_passive_edge(net, own, n0, n1);
        break;
      case PartKind::kOwnActive:
        own = ++net.branch_name_count;
        add_active_edge(net, own, n0, n1, n2, n3);
        break;
      case PartKind::kCopyPassive:
        add_passive_edge(net, copy_name(net, own), n0, n1);
        break;
      case PartKind::kCopyActive:
        add_active_edge(net, copy_name(net, own), n0, n1, n2, n3);
        break;
      case PartKind::kOpAmp:
        add_op_amp(net, n0, n1, n2, n3);
        break;
      case PartKind::kUnitConductance:
        add_unit_conductance(net, n0, n1);
        break;
      case PartKind::kUnitSource:
      case PartKind::kMutualUnitSource:
        add_unit_source(net, n0, n1, n2, n3, part.kind == PartKind::kMutualUnitSource);
        break;
      case PartKind::kConverter:
        add_negative_impedance_converter(net, net.passive_edge_count, n0, n1);
        break;
    }
  }
}

}  // namespace

bool element_kind_of(const char* name, ElementKind& kind) {
  const char c0 = name[0];
  const char c1 = c0 == '\0' ? '\0' : name[1];
  auto is = [](char c, char letter) { return c == letter || c == letter - 'a' + 'A'; };
  if ((is(c0, 'g') || is(c0, 'r')) && is(c1, 'm')) {
    kind = is(c0, 'g') ? ElementKind::kTransconductance : ElementKind::kTransresistance;
  } else if (is(c0, 'o')) {
    kind = ElementKind::kOpAmp;
  } else if (is(c0, 'u')) {
    kind = ElementKind::kVoltageAmplifier;
  } else if (is(c0, 'b')) {
    kind = ElementKind::kCurrentAmplifier;
  } else if (is(c0, 'm')) {
    kind = ElementKind::kMutualInductance;
  } else if (is(c0, 'g') && is(c1, 'y')) {
    kind = ElementKind::kGyrator;
  } else if (is(c0, 'g') || is(c0, 'z') || is(c0, 'y') || is(c0, 'r') || is(c0, 'l') ||
             is(c0, 'c')) {
    kind = ElementKind::kOnePort;
  } else {
    return false;
  }
  return true;
}

int expand_element(NetworkTables& net, FILE* out, ElementKind kind, const uint32_t labels[4],
                   const OversizedLabelDigits* oversized) {
  const bool negate = net.negate_next != 0;
  const Recipe& recipe = recipe_of(kind, negate);
  switch (first_shortage(grown(counts_of(net), growth_of(recipe)), 0)) {
    case TableShortage::kNone:
      break;
    case TableShortage::kActiveEdges:
      print_active_limit(out, net.active_edge_count);
      return 1;
    default:
      print_passive_limit(out, net.passive_edge_count);
      return 1;
  }
  net.negate_next = 0;

  if (kind == ElementKind::kOnePort || !negate) {
    build(net, out, recipe, labels, oversized);
  } else {
    // A negated two-port has its output terminals exchanged.
    const uint32_t exchanged[4] = {labels[1], labels[0], labels[2], labels[3]};
    build(net, out, recipe, exchanged, oversized);
  }
  if (kind == ElementKind::kOpAmp) ++net.opampcnt;
  return 0;
}

}  // namespace kavrel
