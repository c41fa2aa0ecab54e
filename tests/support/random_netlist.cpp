#include "support/random_netlist.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <numeric>
#include <set>

namespace kavrel_oracle {

const char* const primary_parameter_names[32] = {
    "g11", "g12", "g21", "g22", "h11", "h12", "h21", "h22", "y11", "y12", "y21",
    "y22", "z11", "z12", "z21", "z22", "A",   "B",   "C",   "D",   "a",   "b",
    "c",   "d",   "s11", "s12", "s21", "s22", "f11", "f12", "f21", "f22"};
const char* const alternate_parameter_names[32] = {
    "G11", "G12", "G21", "G22", "H11", "H12", "H21", "H22", "Y11", "Y12", "Y21",
    "Y22", "Z11", "Z12", "Z21", "Z22", "A21", "B21", "C21", "D21", "a12", "b12",
    "c12", "d12", "S11", "S12", "S21", "S22", "F11", "F12", "F21", "F22"};

namespace {

bool is_separator(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == ';';
}

struct TextReader {
  const std::string& text;
  size_t position = 0;

  // Next character outside comments; -1 at the end of the text. Comments
  // neither separate nor belong to items.
  int next() {
    while (position < text.size()) {
      const char c = text[position++];
      if (c != '{') return static_cast<unsigned char>(c);
      int depth = 1;
      while (depth > 0 && position < text.size()) {
        const char inner = text[position++];
        if (inner == '{') ++depth;
        if (inner == '}') --depth;
      }
    }
    return -1;
  }

  bool read_word(std::string& word) {
    word.clear();
    for (;;) {
      const int c = next();
      if (c < 0) return !word.empty();
      if (is_separator(static_cast<char>(c))) {
        if (!word.empty()) return true;
        continue;
      }
      word.push_back(static_cast<char>(c));
    }
  }

  bool read_unsigned(unsigned& value) {
    value = 0;
    bool begun = false;
    for (;;) {
      const int c = next();
      if (c < 0) return begun;
      if (is_separator(static_cast<char>(c))) {
        if (begun) return true;
        continue;
      }
      if (c >= '0' && c <= '9') {
        begun = true;
        value = value * 10 + static_cast<unsigned>(c - '0');
      }
    }
  }

  // Same arithmetic as kavrel's reader, so that values agree to the bit.
  bool read_real(double& value) {
    double mantissa = 0.0;
    double sign = 1.0;
    bool begun = false;
    int fraction_digits = -1;
    int exponent_state = 0;
    int exponent = 0;
    for (;;) {
      const int c = next();
      const bool ends = c < 0 || is_separator(static_cast<char>(c));
      if (ends && begun) break;
      if (c < 0) return false;
      if (ends) continue;
      if (c >= '0' && c <= '9') {
        begun = true;
        if (exponent_state != 0) {
          exponent = exponent * 10 + (c - '0');
        } else {
          mantissa = mantissa * 10.0 + (c - '0');
          if (fraction_digits >= 0) ++fraction_digits;
        }
      } else if (c == '.') {
        if (fraction_digits < 0 && exponent_state == 0) fraction_digits = 0;
      } else if (c == 'e' || c == 'E') {
        exponent_state = 1;
      } else if (c == '-') {
        if (exponent_state == 1) exponent_state = -1;
        if (!begun) {
          begun = true;
          sign = -1.0;
        }
      }
    }
    if (fraction_digits < 0) fraction_digits = 0;
    const int decimal_exponent = exponent * exponent_state - fraction_digits;
    for (int k = 0; k < decimal_exponent; ++k) mantissa *= 10.0;
    for (int k = 0; k < -decimal_exponent; ++k) mantissa *= 0.1;
    value = mantissa * sign;
    return true;
  }
};

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

}  // namespace

std::vector<Netlist> parse_netlists(const std::string& input) {
  std::vector<Netlist> result;
  TextReader reader{input};
  for (;;) {
    Netlist netlist;
    const size_t start = reader.position;
    bool negate_next = false;
    bool value_to_next = false;  // no element since the last non-v entry
    bool pending_value = false;
    double pending = 0.0;
    bool before_any_entry = true;
    bool ended = false;
    std::string word;
    while (!ended) {
      if (!reader.read_word(word)) return result;
      const char c0 = lower(word[0]);
      const char c1 = word.size() > 1 ? lower(word[1]) : '\0';
      if (c0 != 'v') {
        value_to_next = true;
        before_any_entry = false;
      }
      const bool two_port = (c0 == 'g' && c1 == 'm') || (c0 == 'r' && c1 == 'm') || c0 == 'o' ||
                            c0 == 'u' || c0 == 'b' || c0 == 'm' || (c0 == 'g' && c1 == 'y');
      const bool one_port = !two_port && (c0 == 'g' || c0 == 'z' || c0 == 'y' || c0 == 'r' ||
                                          c0 == 'l' || c0 == 'c');
      if (two_port || one_port) {
        NetlistElement element;
        element.name = word.substr(0, 12);
        element.kind = kind_of_name(element.name);
        const int label_count = two_port ? 4 : 2;
        for (int k = 0; k < label_count; ++k)
          if (!reader.read_unsigned(element.labels[k])) return result;
        element.negated = negate_next;
        negate_next = false;
        if (pending_value) {
          element.has_value_entry = true;
          element.value_entry = pending;
          pending_value = false;
        }
        netlist.elements.push_back(element);
        value_to_next = false;
      } else if (c0 == 'f') {
        if (netlist.has_port) return result;
        for (unsigned& label : netlist.port_labels)
          if (!reader.read_unsigned(label)) return result;
        netlist.has_port = true;
      } else if (c0 == 'p') {
        std::string name;
        if (!reader.read_word(name)) return result;
        netlist.parameter_words.push_back(name);
      } else if (c0 == 'n') {
        if (word.size() == 1) {
          if (!reader.read_unsigned(netlist.norm_mode)) return result;
        } else if (word[1] == '1' || word[1] == '2') {
          const int port = word[1] - '1';
          for (unsigned& label : netlist.norm_network_labels[port])
            if (!reader.read_unsigned(label)) return result;
          netlist.has_norm_network[port] = true;
        } else {
          return result;
        }
      } else if (c0 == 'e') {
        ended = true;
      } else if (c0 == 't') {
        if (!reader.read_unsigned(netlist.test_bitmap)) return result;
      } else if (c0 == 'v') {
        double value = 0.0;
        if (!reader.read_real(value)) return result;
        if (before_any_entry) {
          // The reserved name takes it.
        } else if (!value_to_next && !netlist.elements.empty()) {
          netlist.elements.back().has_value_entry = true;
          netlist.elements.back().value_entry = value;
        } else {
          pending_value = true;
          pending = value;
        }
      } else if (c0 == 'x') {
        negate_next = true;
      } else {
        return result;  // help or an unrecognized entry ends the run
      }
    }
    netlist.text = input.substr(start, reader.position - start);
    if (!netlist.has_port) return result;
    result.push_back(netlist);
  }
}

std::string format_netlist(const Netlist& netlist) {
  std::string text;
  char buffer[64];
  for (const NetlistElement& element : netlist.elements) {
    if (element.negated) text += "x ";
    text += element.name;
    const int label_count = is_two_port(element.kind) ? 4 : 2;
    for (int k = 0; k < label_count; ++k) text += " " + std::to_string(element.labels[k]);
    if (element.has_value_entry) {
      std::snprintf(buffer, sizeof buffer, " v %g", element.value_entry);
      text += buffer;
    }
    text += "\n";
  }
  if (netlist.has_port) {
    text += "f";
    for (unsigned label : netlist.port_labels) text += " " + std::to_string(label);
    text += "\n";
  }
  for (const std::string& word : netlist.parameter_words) text += "p " + word + "\n";
  if (netlist.norm_mode != 0) text += "n " + std::to_string(netlist.norm_mode) + "\n";
  for (int port = 0; port < 2; ++port)
    if (netlist.has_norm_network[port])
      text += "n" + std::to_string(port + 1) + " " + std::to_string(netlist.norm_network_labels[port][0]) +
              " " + std::to_string(netlist.norm_network_labels[port][1]) + "\n";
  if (netlist.test_bitmap != 0) text += "t " + std::to_string(netlist.test_bitmap) + "\n";
  text += "e\n";
  return text;
}

std::map<std::string, double> numeric_values(const Netlist& netlist) {
  std::map<std::string, double> values;
  for (const NetlistElement& element : netlist.elements)
    if (element.has_value_entry && element.value_entry != 0.0 && !values.count(element.name))
      values[element.name] = element.value_entry;
  return values;
}

std::vector<bool> selected_rows(const Netlist& netlist) {
  if (netlist.parameter_words.empty()) return std::vector<bool>(32, true);
  std::vector<bool> selected(32, false);
  for (const std::string& word : netlist.parameter_words) {
    int row = -1;
    for (int r = 0; r < 32 && row < 0; ++r)
      if (word == primary_parameter_names[r]) row = r;
    for (int r = 0; r < 32 && row < 0; ++r)
      if (word == alternate_parameter_names[r]) row = r;
    if (row >= 0) selected[row] = true;
  }
  return selected;
}

std::map<std::string, double> choose_symbol_values(const Netlist& netlist, std::mt19937_64& rng,
                                                   double low, double high) {
  std::map<std::string, double> values = numeric_values(netlist);
  std::uniform_real_distribution<double> pick(low, high);
  for (const NetlistElement& element : netlist.elements)
    if (!values.count(element.name)) values[element.name] = pick(rng);
  return values;
}

Circuit to_circuit(const Netlist& netlist, const std::map<std::string, double>& values,
                   std::map<unsigned, int>* label_to_node) {
  std::map<unsigned, int> nodes;
  auto node_of = [&](unsigned label) {
    auto found = nodes.find(label);
    if (found != nodes.end()) return found->second;
    const int node = static_cast<int>(nodes.size());
    nodes[label] = node;
    return node;
  };
  Circuit circuit;
  if (netlist.has_port)
    for (unsigned label : netlist.port_labels) node_of(label);
  for (const NetlistElement& element : netlist.elements) {
    CircuitElement out{};
    out.kind = element.kind;
    out.negated = element.negated;
    const int label_count = is_two_port(element.kind) ? 4 : 2;
    for (int k = 0; k < 4; ++k) out.nodes[k] = k < label_count ? node_of(element.labels[k]) : 0;
    auto value = values.find(element.name);
    out.value = value != values.end() ? value->second : 1.0;
    circuit.elements.push_back(out);
  }
  for (int port = 0; port < 2; ++port)
    if (netlist.has_norm_network[port])
      for (unsigned label : netlist.norm_network_labels[port]) node_of(label);
  circuit.node_count = static_cast<int>(nodes.size());
  if (label_to_node) *label_to_node = nodes;
  return circuit;
}

namespace {

// Terminal pairs of an element: one for a one-port, two for a two-port.
std::vector<std::pair<unsigned, unsigned>> pairs_of(const NetlistElement& element) {
  if (!is_two_port(element.kind)) return {{element.labels[0], element.labels[1]}};
  return {{element.labels[0], element.labels[1]}, {element.labels[2], element.labels[3]}};
}

}  // namespace

std::vector<bool> normalizing_network_members(const Netlist& netlist) {
  std::vector<bool> members(netlist.elements.size(), false);
  std::set<unsigned> reached;
  std::vector<unsigned> stack;
  for (int port = 0; port < 2; ++port)
    if (netlist.has_norm_network[port])
      for (unsigned label : netlist.norm_network_labels[port])
        if (reached.insert(label).second) stack.push_back(label);
  while (!stack.empty()) {
    const unsigned label = stack.back();
    stack.pop_back();
    for (size_t k = 0; k < netlist.elements.size(); ++k) {
      for (const auto& [first, second] : pairs_of(netlist.elements[k])) {
        if (first != label && second != label) continue;
        members[k] = true;
        const unsigned other = first == label ? second : first;
        if (reached.insert(other).second) stack.push_back(other);
      }
    }
  }
  return members;
}

bool is_connected(const Netlist& netlist) {
  std::map<unsigned, unsigned> parent;
  std::function<unsigned(unsigned)> root = [&](unsigned label) {
    if (!parent.count(label)) parent[label] = label;
    while (parent[label] != label) label = parent[label] = parent[parent[label]];
    return label;
  };
  for (const NetlistElement& element : netlist.elements)
    for (const auto& [first, second] : pairs_of(element)) parent[root(first)] = root(second);
  if (netlist.has_port)
    for (unsigned label : netlist.port_labels) root(label);
  std::set<unsigned> roots;
  for (auto& entry : parent) roots.insert(root(entry.first));
  return roots.size() <= 1;
}

namespace {

int generated_nodes_of(ElementKind kind, bool negated) {
  switch (kind) {
    case ElementKind::u:
    case ElementKind::b: return 1;
    case ElementKind::rm: return 2;
    case ElementKind::m: return 6;
    case ElementKind::gm:
    case ElementKind::gy:
    case ElementKind::o: return 0;
    default: return negated ? 2 : 0;
  }
}

const char* const prefixes_of_kind[13][3] = {
    {"r", "R", "r"},   {"l", "L", "l"},    {"c", "C", "c"},   {"g", "G", "g"},  {"y", "Y", "y"},
    {"z", "Z", "z"},   {"gm", "GM", "Gm"}, {"gy", "GY", "gy"}, {"o", "O", "o"}, {"u", "U", "u"},
    {"b", "B", "b"},   {"rm", "RM", "rm"}, {"m", "M", "m"}};

}  // namespace

Netlist random_netlist(std::mt19937_64& rng, const RandomNetlistOptions& options) {
  auto chance = [&](double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < p; };
  auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
  static const double nice_values[] = {0.5, 2, 3, 1.5, 4, 0.25, 10, 2.5, -2, 0.75};

  for (;;) {
    Netlist netlist;
    const int label_count = uniform(3, std::max(3, options.max_labels));
    std::vector<unsigned> labels;
    static const unsigned unusual_labels[] = {17, 42, 100, 999, 12, 8};
    while (static_cast<int>(labels.size()) < label_count) {
      const unsigned label = chance(0.15) ? unusual_labels[uniform(0, 5)] : static_cast<unsigned>(uniform(0, 7));
      if (std::find(labels.begin(), labels.end(), label) == labels.end()) labels.push_back(label);
    }
    auto any_label = [&]() { return labels[uniform(0, label_count - 1)]; };
    auto distinct_pair = [&](unsigned& first, unsigned& second) {
      first = any_label();
      do second = any_label();
      while (second == first);
    };

    unsigned* port = netlist.port_labels;
    distinct_pair(port[0], port[1]);
    do {
      distinct_pair(port[2], port[3]);
      const int shape = uniform(0, 9);
      if (shape < 4) {
        port[3] = port[1];  // common return terminal
        while (port[2] == port[1] || port[2] == port[0]) port[2] = any_label();
      } else if (shape == 4) {
        port[2] = port[1];  // port 2 stacked on port 1
        while (port[3] == port[2] || port[3] == port[0]) port[3] = any_label();
      } else if (shape == 5) {
        port[2] = port[0];
        while (port[3] == port[2] || port[3] == port[1]) port[3] = any_label();
      }
    } while (port[2] == port[3] || (std::min(port[0], port[1]) == std::min(port[2], port[3]) &&
                                    std::max(port[0], port[1]) == std::max(port[2], port[3])));
    netlist.has_port = true;

    const int element_count = uniform(options.min_elements, options.max_elements);
    int generated_budget = options.max_generated_nodes;
    std::map<ElementKind, std::vector<std::string>> names_of_kind;
    int name_counter = 0;
    auto add_element = [&](ElementKind kind, bool allow_extras) {
      NetlistElement element;
      element.kind = kind;
      element.negated = allow_extras && options.negation && chance(0.15);
      if (generated_nodes_of(kind, element.negated) > generated_budget) element.negated = false;
      generated_budget -= generated_nodes_of(kind, element.negated);
      auto& known = names_of_kind[kind];
      if (allow_extras && options.repeated_names && !known.empty() && kind != ElementKind::o && chance(0.25)) {
        element.name = known[uniform(0, static_cast<int>(known.size()) - 1)];
      } else {
        const char* prefix = prefixes_of_kind[static_cast<int>(kind)][uniform(0, 2)];
        element.name = prefix + std::to_string(++name_counter);
        known.push_back(element.name);
      }
      distinct_pair(element.labels[0], element.labels[1]);
      if (is_two_port(kind)) distinct_pair(element.labels[2], element.labels[3]);
      if (allow_extras && options.numeric_values && chance(0.15)) {
        element.has_value_entry = true;
        element.value_entry = chance(0.1) ? 0.0 : nice_values[uniform(0, 9)];
      }
      netlist.elements.push_back(element);
    };

    static const ElementKind one_ports[] = {ElementKind::r, ElementKind::l, ElementKind::c,
                                            ElementKind::g, ElementKind::y, ElementKind::z};
    static const ElementKind two_ports[] = {ElementKind::gm, ElementKind::gy, ElementKind::o,
                                            ElementKind::u,  ElementKind::b,  ElementKind::rm,
                                            ElementKind::m};
    for (int k = 0; k < element_count; ++k) {
      ElementKind kind = one_ports[uniform(0, 5)];
      if (chance(0.4)) {
        kind = options.all_kinds ? two_ports[uniform(0, 6)] : ElementKind::gm;
        if (generated_nodes_of(kind, false) > generated_budget) kind = ElementKind::gm;
      }
      add_element(kind, true);
    }
    // Bridge the pieces with plain one-ports until everything hangs together.
    for (int guard = 0; guard < 20 && !is_connected(netlist); ++guard) {
      add_element(one_ports[uniform(0, 5)], false);
    }
    if (is_connected(netlist)) return netlist;
  }
}

}  // namespace kavrel_oracle
