#include "input/element_expansion.h"

#include <cstring>

#include "input/construct_builders.h"
#include "input/node_numbering.h"
#include "input/table_limits.h"

namespace kavrel {

namespace {

// Node numbering is decided here. A label gets its internal node number, and
// a generated node its number and label, at the moment it is first asked for
// (Expansion::label and Expansion::generated), so the order of those calls in
// each expand_ function below fixes the internal node numbers of the netlist.
// The listings print them, and the edge lists and tree order of every
// evaluation follow them: keep each order as it is.
class Expansion {
 public:
  Expansion(NetworkTables& net, FILE* out) : net(net), out_(out) {}

  int32_t label(uint32_t value) { return node_of_label(net, out_, value); }
  int32_t generated() { return new_internal_node(net, out_); }

  // The element's own name, already stored in the next slot by the reader.
  int32_t own_name() { return ++net.branch_name_count; }

  // A second slot with the same text, so both edges are one symbol.
  int32_t copy_name(int32_t slot) {
    char text[kNameBytes];
    std::memcpy(text, net.branch_name_list[slot], kNameBytes);
    return add_name(net, text);
  }

  NetworkTables& net;

 private:
  FILE* out_;
};

// A, B, C, D: the entry's numbers as +out, -out, +in, -in (the first and
// second number of a one-port); N1, N2, ...: generated nodes.

void expand_one_port(Expansion& e, const uint32_t l[4]) {
  const int32_t na = e.label(l[0]);
  const int32_t nb = e.label(l[1]);
  add_passive_edge(e.net, e.own_name(), na, nb);
}

void expand_negated_one_port(Expansion& e, const uint32_t l[4]) {
  const int32_t na = e.label(l[0]);
  const int32_t n1 = e.generated();
  const int32_t n2 = e.generated();
  const int32_t nb = e.label(l[1]);
  add_passive_edge(e.net, e.own_name(), na, nb);
  add_negative_impedance_converter(e.net, e.net.passive_edge_count, n1, n2);
}

void expand_transconductance(Expansion& e, const uint32_t l[4]) {
  const int32_t na = e.label(l[0]);
  const int32_t nb = e.label(l[1]);
  const int32_t nc = e.label(l[2]);
  const int32_t nd = e.label(l[3]);
  add_active_edge(e.net, e.own_name(), na, nb, nc, nd);
}

void expand_op_amp(Expansion& e, const uint32_t l[4]) {
  expand_transconductance(e, l);
  ++e.net.opampcnt;
}

void expand_voltage_amplifier(Expansion& e, const uint32_t l[4]) {
  const int32_t n1 = e.generated();
  const int32_t nb = e.label(l[1]);
  const int32_t nc = e.label(l[2]);
  const int32_t nd = e.label(l[3]);
  const int32_t na = e.label(l[0]);
  add_active_edge(e.net, e.own_name(), n1, nb, nc, nd);
  add_op_amp(e.net, na, nb, nb, n1);
  add_unit_conductance(e.net, n1, na);
}

void expand_current_amplifier(Expansion& e, const uint32_t l[4]) {
  const int32_t nb = e.label(l[1]);
  const int32_t na = e.label(l[0]);
  const int32_t n1 = e.generated();
  const int32_t nd = e.label(l[3]);
  const int32_t nc = e.label(l[2]);
  add_active_edge(e.net, e.own_name(), nb, na, n1, nd);
  add_op_amp(e.net, n1, nd, nd, nc);
  add_unit_conductance(e.net, nc, n1);
}

void expand_transresistance(Expansion& e, const uint32_t l[4]) {
  const int32_t nc = e.label(l[2]);
  const int32_t n1 = e.generated();
  const int32_t n2 = e.generated();
  const int32_t nb = e.label(l[1]);
  const int32_t nd = e.label(l[3]);
  const int32_t na = e.label(l[0]);
  add_passive_edge(e.net, e.own_name(), nc, n1);
  add_unit_source(e.net, n2, nb, nd, n1);
  add_op_amp(e.net, na, nb, nb, n2);
  add_op_amp(e.net, n1, nd, nd, nc);
  add_unit_conductance(e.net, na, n2);
}

void expand_gyrator(Expansion& e, const uint32_t l[4]) {
  const int32_t na = e.label(l[0]);
  const int32_t nb = e.label(l[1]);
  const int32_t nc = e.label(l[2]);
  const int32_t nd = e.label(l[3]);
  const int32_t own = e.own_name();
  add_active_edge(e.net, own, na, nb, nc, nd);
  add_active_edge(e.net, e.copy_name(own), nd, nc, na, nb);
}

// The two unit sources are the only edges with mutual_flag set.
void expand_mutual_inductance(Expansion& e, const uint32_t l[4]) {
  const int32_t n1 = e.generated();
  const int32_t n2 = e.generated();
  const int32_t nc = e.label(l[2]);
  const int32_t n3 = e.generated();
  const int32_t n4 = e.generated();
  const int32_t na = e.label(l[0]);
  const int32_t n5 = e.generated();
  const int32_t n6 = e.generated();
  const int32_t nd = e.label(l[3]);
  const int32_t nb = e.label(l[1]);
  const int32_t own = e.own_name();
  add_passive_edge(e.net, own, nc, n3);
  add_unit_source(e.net, n4, n2, n1, n3, true);
  add_op_amp(e.net, na, n2, n2, n4);
  add_op_amp(e.net, n3, n1, n1, nc);
  add_unit_conductance(e.net, na, n4);
  add_passive_edge(e.net, e.copy_name(own), n2, n5);
  add_unit_source(e.net, n6, nd, nb, n5, true);
  add_op_amp(e.net, n1, nd, nd, n6);
  add_op_amp(e.net, n5, nb, nb, n2);
  add_unit_conductance(e.net, n1, n6);
}

// How each kind is expanded and what it adds to the tables.
struct Recipe {
  void (*expand)(Expansion&, const uint32_t[4]);
  // Nodes are left out: the node numbering refuses them one by one.
  TableGrowth growth;
};

Recipe recipe_of(ElementKind kind, bool negated) {
  switch (kind) {
    case ElementKind::kOnePort:
      return negated ? Recipe{expand_negated_one_port, {4, 3, 1, 0}}
                     : Recipe{expand_one_port, {1, 1, 0, 0}};
    case ElementKind::kTransconductance:
      return {expand_transconductance, {1, 0, 1, 0}};
    case ElementKind::kOpAmp:
      return {expand_op_amp, {1, 0, 1, 0}};
    case ElementKind::kVoltageAmplifier:
      return {expand_voltage_amplifier, {3, 1, 2, 0}};
    case ElementKind::kCurrentAmplifier:
      return {expand_current_amplifier, {3, 1, 2, 0}};
    case ElementKind::kTransresistance:
      return {expand_transresistance, {5, 2, 3, 0}};
    case ElementKind::kGyrator:
      return {expand_gyrator, {2, 0, 2, 0}};
    case ElementKind::kMutualInductance:
      break;
  }
  return {expand_mutual_inductance, {10, 4, 6, 0}};
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

int expand_element(NetworkTables& net, FILE* out, ElementKind kind, const uint32_t labels[4]) {
  const bool negate = net.negate_next != 0;
  const Recipe recipe = recipe_of(kind, negate);
  switch (first_shortage(grown(counts_of(net), recipe.growth), 0)) {
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

  Expansion expansion(net, out);
  if (kind == ElementKind::kOnePort || !negate) {
    recipe.expand(expansion, labels);
    return 0;
  }
  // A negated two-port has its output terminals exchanged.
  const uint32_t exchanged[4] = {labels[1], labels[0], labels[2], labels[3]};
  recipe.expand(expansion, exchanged);
  return 0;
}

}  // namespace kavrel
