#include "input/element_expansion.h"

#include <cstring>

#include "input/node_numbering.h"

namespace kavrel {

namespace {

struct Burden {
  int names;
  int passive;
  int active;
};

Burden burden_of(ElementKind kind, bool negated_one_port) {
  switch (kind) {
    case ElementKind::kOnePort:
      return negated_one_port ? Burden{4, 3, 1} : Burden{1, 1, 0};
    case ElementKind::kTransconductance:
    case ElementKind::kOpAmp:
      return {1, 0, 1};
    case ElementKind::kGyrator:
      return {2, 0, 2};
    case ElementKind::kVoltageAmplifier:
    case ElementKind::kCurrentAmplifier:
      return {3, 1, 2};
    case ElementKind::kTransresistance:
      return {5, 2, 3};
    case ElementKind::kMutualInductance:
      return {10, 4, 6};
  }
  return {10, 4, 6};
}

// Name slots, edges and nodes of one expansion. Capacity is checked for the
// whole element before anything is written.
class Builder {
 public:
  Builder(NetworkTables& net, FILE* out) : net_(net), out_(out) {}

  int32_t label(uint32_t value) { return node_of_label(net_, out_, value); }
  int32_t generated() { return new_internal_node(net_, out_); }

  // The element's own name, already stored in the next slot by the reader.
  int32_t own_name() { return ++net_.branch_name_count; }

  int32_t add_name(const char* text) {
    int32_t slot = ++net_.branch_name_count;
    std::strncpy(net_.branch_name_list[slot], text, kNameBytes - 1);
    net_.branch_name_list[slot][kNameBytes - 1] = '\0';
    return slot;
  }

  // A second slot with the same text, so both edges are one symbol.
  int32_t copy_name(int32_t slot) {
    char text[kNameBytes];
    std::memcpy(text, net_.branch_name_list[slot], kNameBytes);
    return add_name(text);
  }

  void passive(int32_t name, int32_t node1, int32_t node2) {
    net_.passive_edges[++net_.passive_edge_count] = PassiveEdge{name, node1, node2};
  }

  void active(int32_t name, int32_t out_pos, int32_t out_neg, int32_t in_pos, int32_t in_neg,
              bool mutual = false) {
    int32_t edge = ++net_.active_edge_count;
    net_.active_edges[edge] = ActiveEdge{name, out_pos, out_neg, in_pos, in_neg};
    net_.mutual_flag[edge] = mutual ? 1 : 0;
  }

  void op_amp(int32_t out_pos, int32_t out_neg, int32_t in_pos, int32_t in_neg) {
    active(add_name("o"), out_pos, out_neg, in_pos, in_neg);
    ++net_.opampcnt;
  }

 private:
  NetworkTables& net_;
  FILE* out_;
};

void expand_one_port(Builder& b, uint32_t la, uint32_t lb) {
  int32_t a = b.label(la);
  int32_t bb = b.label(lb);
  b.passive(b.own_name(), a, bb);
}

// A negative impedance converter around the element: between A and B it
// behaves as minus itself.
void expand_negated_one_port(Builder& b, uint32_t la, uint32_t lb) {
  int32_t a = b.label(la);
  int32_t n1 = b.generated();
  int32_t n2 = b.generated();
  int32_t bb = b.label(lb);
  b.passive(b.own_name(), a, n1);
  b.op_amp(a, n2, n1, bb);
  b.passive(b.add_name("a"), bb, n2);
  b.passive(b.add_name("a"), n1, n2);
}

void expand_voltage_amplifier(Builder& b, const uint32_t l[4]) {
  int32_t n1 = b.generated();
  int32_t nb = b.label(l[1]);
  int32_t nc = b.label(l[2]);
  int32_t nd = b.label(l[3]);
  int32_t na = b.label(l[0]);
  b.active(b.own_name(), n1, nb, nc, nd);
  b.op_amp(na, nb, nb, n1);
  b.passive(b.add_name("a"), n1, na);
}

void expand_current_amplifier(Builder& b, const uint32_t l[4]) {
  int32_t nb = b.label(l[1]);
  int32_t na = b.label(l[0]);
  int32_t n1 = b.generated();
  int32_t nd = b.label(l[3]);
  int32_t nc = b.label(l[2]);
  b.active(b.own_name(), nb, na, n1, nd);
  b.op_amp(n1, nd, nd, nc);
  b.passive(b.add_name("a"), nc, n1);
}

void expand_transresistance(Builder& b, const uint32_t l[4]) {
  int32_t nc = b.label(l[2]);
  int32_t n1 = b.generated();
  int32_t n2 = b.generated();
  int32_t nb = b.label(l[1]);
  int32_t nd = b.label(l[3]);
  int32_t na = b.label(l[0]);
  b.passive(b.own_name(), nc, n1);
  b.active(b.add_name("a"), n2, nb, nd, n1);
  b.op_amp(na, nb, nb, n2);
  b.op_amp(n1, nd, nd, nc);
  b.passive(b.add_name("a"), na, n2);
}

void expand_gyrator(Builder& b, const uint32_t l[4]) {
  int32_t na = b.label(l[0]);
  int32_t nb = b.label(l[1]);
  int32_t nc = b.label(l[2]);
  int32_t nd = b.label(l[3]);
  int32_t own = b.own_name();
  b.active(own, na, nb, nc, nd);
  b.active(b.copy_name(own), nd, nc, na, nb);
}

void expand_mutual_inductance(Builder& b, const uint32_t l[4]) {
  int32_t n1 = b.generated();
  int32_t n2 = b.generated();
  int32_t nc = b.label(l[2]);
  int32_t n3 = b.generated();
  int32_t n4 = b.generated();
  int32_t na = b.label(l[0]);
  int32_t n5 = b.generated();
  int32_t n6 = b.generated();
  int32_t nd = b.label(l[3]);
  int32_t nb = b.label(l[1]);
  int32_t own = b.own_name();
  b.passive(own, nc, n3);
  b.active(b.add_name("a"), n4, n2, n1, n3, true);
  b.op_amp(na, n2, n2, n4);
  b.op_amp(n3, n1, n1, nc);
  b.passive(b.add_name("a"), na, n4);
  b.passive(b.copy_name(own), n2, n5);
  b.active(b.add_name("a"), n6, nd, nb, n5, true);
  b.op_amp(n1, nd, nd, n6);
  b.op_amp(n5, nb, nb, n2);
  b.passive(b.add_name("a"), n1, n6);
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
  const Burden burden = burden_of(kind, negate && kind == ElementKind::kOnePort);
  if (net.passive_edge_count + burden.passive >= kPassiveSlots ||
      net.branch_name_count + burden.names >= kNameSlots) {
    std::fprintf(out, "number of one-port elements(= %d) exceeds limit of %d\n or improper input applied\n",
                 net.passive_edge_count, kPassiveLimit - 1);
    return 1;
  }
  if (net.active_edge_count + burden.active >= kActiveSlots) {
    std::fprintf(out, "number of two-port elements(= %d) exceeds limit of %d\n or improper input applied\n",
                 net.active_edge_count, kActiveLimit - 1);
    return 1;
  }
  net.negate_next = 0;

  Builder b(net, out);
  if (kind == ElementKind::kOnePort) {
    if (negate)
      expand_negated_one_port(b, labels[0], labels[1]);
    else
      expand_one_port(b, labels[0], labels[1]);
    return 0;
  }

  // A negated two-port has its output terminals exchanged.
  const uint32_t l[4] = {negate ? labels[1] : labels[0], negate ? labels[0] : labels[1], labels[2],
                         labels[3]};
  switch (kind) {
    case ElementKind::kTransconductance:
    case ElementKind::kOpAmp: {
      int32_t na = b.label(l[0]);
      int32_t nb = b.label(l[1]);
      int32_t nc = b.label(l[2]);
      int32_t nd = b.label(l[3]);
      b.active(b.own_name(), na, nb, nc, nd);
      if (kind == ElementKind::kOpAmp) ++net.opampcnt;
      break;
    }
    case ElementKind::kVoltageAmplifier:
      expand_voltage_amplifier(b, l);
      break;
    case ElementKind::kCurrentAmplifier:
      expand_current_amplifier(b, l);
      break;
    case ElementKind::kTransresistance:
      expand_transresistance(b, l);
      break;
    case ElementKind::kGyrator:
      expand_gyrator(b, l);
      break;
    case ElementKind::kMutualInductance:
      expand_mutual_inductance(b, l);
      break;
    case ElementKind::kOnePort:
      break;
  }
  return 0;
}

}  // namespace kavrel
