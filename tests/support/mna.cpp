#include "support/mna.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <utility>

namespace kavrel_oracle {

ElementKind kind_of_name(const std::string& name) {
  const char c0 = static_cast<char>(std::tolower(static_cast<unsigned char>(name.empty() ? ' ' : name[0])));
  const char c1 = static_cast<char>(std::tolower(static_cast<unsigned char>(name.size() > 1 ? name[1] : ' ')));
  if (c0 == 'g' && c1 == 'm') return ElementKind::gm;
  if (c0 == 'r' && c1 == 'm') return ElementKind::rm;
  if (c0 == 'g' && c1 == 'y') return ElementKind::gy;
  switch (c0) {
    case 'o': return ElementKind::o;
    case 'u': return ElementKind::u;
    case 'b': return ElementKind::b;
    case 'm': return ElementKind::m;
    case 'r': return ElementKind::r;
    case 'l': return ElementKind::l;
    case 'c': return ElementKind::c;
    case 'g': return ElementKind::g;
    case 'y': return ElementKind::y;
    default: return ElementKind::z;
  }
}

bool is_two_port(ElementKind kind) {
  switch (kind) {
    case ElementKind::gm:
    case ElementKind::gy:
    case ElementKind::o:
    case ElementKind::u:
    case ElementKind::b:
    case ElementKind::rm:
    case ElementKind::m:
      return true;
    default:
      return false;
  }
}

MnaSystem make_system(int node_count) {
  MnaSystem system;
  system.node_count = node_count;
  const int size = std::max(node_count - 1, 0);
  system.matrix.assign(size, std::vector<Complex>(size, 0.0));
  system.rhs.assign(size, 0.0);
  return system;
}

int voltage_unknown(int node) { return node - 1; }

int add_extra_unknown(MnaSystem& system) {
  for (auto& row : system.matrix) row.push_back(0.0);
  const int size = static_cast<int>(system.matrix.size()) + 1;
  system.matrix.emplace_back(size, 0.0);
  system.rhs.push_back(0.0);
  ++system.extra_count;
  return size - 1;
}

namespace {

void add(MnaSystem& system, int row, int column, Complex value) {
  if (row < 0 || column < 0) return;
  system.matrix[row][column] += value;
}

// Kirchhoff row of a node: sum of the currents leaving it through elements
// equals the current injected into it from outside.
void add_current_leaving(MnaSystem& system, int node, int unknown, Complex factor) {
  add(system, voltage_unknown(node), unknown, factor);
}

}  // namespace

void stamp_admittance(MnaSystem& system, int a, int b, Complex y) {
  const int va = voltage_unknown(a);
  const int vb = voltage_unknown(b);
  add(system, va, va, y);
  add(system, va, vb, -y);
  add(system, vb, va, -y);
  add(system, vb, vb, y);
}

void stamp_vccs(MnaSystem& system, int a, int b, int c, int d, Complex gain) {
  const int va = voltage_unknown(a);
  const int vb = voltage_unknown(b);
  const int vc = voltage_unknown(c);
  const int vd = voltage_unknown(d);
  add(system, va, vc, gain);
  add(system, va, vd, -gain);
  add(system, vb, vc, -gain);
  add(system, vb, vd, gain);
}

int stamp_nullor(MnaSystem& system, int a, int b, int c, int d) {
  const int current = add_extra_unknown(system);
  add_current_leaving(system, a, current, 1.0);
  add_current_leaving(system, b, current, -1.0);
  add(system, current, voltage_unknown(c), 1.0);
  add(system, current, voltage_unknown(d), -1.0);
  return current;
}

int stamp_vcvs(MnaSystem& system, int a, int b, int c, int d, Complex gain) {
  const int current = add_extra_unknown(system);
  add_current_leaving(system, a, current, 1.0);
  add_current_leaving(system, b, current, -1.0);
  add(system, current, voltage_unknown(a), 1.0);
  add(system, current, voltage_unknown(b), -1.0);
  add(system, current, voltage_unknown(c), -gain);
  add(system, current, voltage_unknown(d), gain);
  return current;
}

int stamp_current_sensing_short(MnaSystem& system, int c, int d) {
  const int current = add_extra_unknown(system);
  add_current_leaving(system, c, current, 1.0);
  add_current_leaving(system, d, current, -1.0);
  add(system, current, voltage_unknown(c), 1.0);
  add(system, current, voltage_unknown(d), -1.0);
  return current;
}

int stamp_voltage_source(MnaSystem& system, int p, int n, Complex value) {
  const int current = add_extra_unknown(system);
  // The current driven into p is injected there: it enters the row with a minus.
  add_current_leaving(system, p, current, -1.0);
  add_current_leaving(system, n, current, 1.0);
  add(system, current, voltage_unknown(p), 1.0);
  add(system, current, voltage_unknown(n), -1.0);
  system.rhs[current] += value;
  return current;
}

void stamp_current_injection(MnaSystem& system, int p, int n, Complex current) {
  if (voltage_unknown(p) >= 0) system.rhs[voltage_unknown(p)] += current;
  if (voltage_unknown(n) >= 0) system.rhs[voltage_unknown(n)] -= current;
}

Complex one_port_admittance(const CircuitElement& element, Complex s) {
  Complex y;
  switch (element.kind) {
    case ElementKind::r: y = 1.0 / element.value; break;
    case ElementKind::l: y = 1.0 / (s * element.value); break;
    case ElementKind::c: y = s * element.value; break;
    case ElementKind::g:
    case ElementKind::y: y = element.value; break;
    case ElementKind::z: y = 1.0 / element.value; break;
    default: y = 0.0; break;
  }
  return element.negated ? -y : y;
}

void stamp_element(MnaSystem& system, const CircuitElement& element, Complex s) {
  if (!is_two_port(element.kind)) {
    stamp_admittance(system, element.nodes[0], element.nodes[1], one_port_admittance(element, s));
    return;
  }
  int a = element.nodes[0];
  int b = element.nodes[1];
  if (element.negated) std::swap(a, b);
  const int c = element.nodes[2];
  const int d = element.nodes[3];
  switch (element.kind) {
    case ElementKind::gm:
      stamp_vccs(system, a, b, c, d, element.value);
      break;
    case ElementKind::gy:
      // i(a) = gy v(c,d) into the output pair, i(c) = -gy v(a,b) into the input pair.
      stamp_vccs(system, a, b, c, d, element.value);
      stamp_vccs(system, d, c, a, b, element.value);
      break;
    case ElementKind::o:
      stamp_nullor(system, a, b, c, d);
      break;
    case ElementKind::u:
      stamp_vcvs(system, a, b, c, d, element.value);
      break;
    case ElementKind::b: {
      // Current b*i leaves a through the source and enters b, i being the
      // current through the input short from c to d.
      const int sensed = stamp_current_sensing_short(system, c, d);
      add_current_leaving(system, a, sensed, element.value);
      add_current_leaving(system, b, sensed, -element.value);
      break;
    }
    case ElementKind::rm: {
      // v(a)-v(b) = rm*i, i being the current through the input short from c to d.
      const int sensed = stamp_current_sensing_short(system, c, d);
      const int current = add_extra_unknown(system);
      add_current_leaving(system, a, current, 1.0);
      add_current_leaving(system, b, current, -1.0);
      add(system, current, voltage_unknown(a), 1.0);
      add(system, current, voltage_unknown(b), -1.0);
      add(system, current, sensed, -element.value);
      break;
    }
    case ElementKind::m: {
      // Pure mutual coupling: v(a,b) = sM i(c->d) and v(c,d) = sM i(a->b),
      // written in its admittance form.
      const Complex coupling = 1.0 / (s * element.value);
      stamp_vccs(system, a, b, c, d, coupling);
      stamp_vccs(system, c, d, a, b, coupling);
      break;
    }
    default:
      break;
  }
}

Complex determinant(std::vector<std::vector<Complex>> matrix) {
  const int size = static_cast<int>(matrix.size());
  double largest = 0.0;
  for (const auto& row : matrix)
    for (const Complex& entry : row) largest = std::max(largest, std::abs(entry));
  if (size == 0) return 1.0;
  if (largest == 0.0) return 0.0;
  const double negligible = 1e-11 * largest;
  Complex result = 1.0;
  for (int column = 0; column < size; ++column) {
    int pivot = column;
    for (int row = column + 1; row < size; ++row)
      if (std::abs(matrix[row][column]) > std::abs(matrix[pivot][column])) pivot = row;
    if (std::abs(matrix[pivot][column]) <= negligible) return 0.0;
    if (pivot != column) {
      std::swap(matrix[pivot], matrix[column]);
      result = -result;
    }
    const Complex diagonal = matrix[column][column];
    result *= diagonal;
    for (int row = column + 1; row < size; ++row) {
      const Complex factor = matrix[row][column] / diagonal;
      if (factor == 0.0) continue;
      for (int k = column; k < size; ++k) matrix[row][k] -= factor * matrix[column][k];
    }
  }
  return result;
}

bool solve(const MnaSystem& system, std::vector<Complex>& solution) {
  const int size = static_cast<int>(system.matrix.size());
  std::vector<std::vector<Complex>> a = system.matrix;
  std::vector<Complex> b = system.rhs;
  double largest = 0.0;
  for (const auto& row : a)
    for (const Complex& entry : row) largest = std::max(largest, std::abs(entry));
  const double negligible = 1e-11 * largest;
  for (int column = 0; column < size; ++column) {
    int pivot = column;
    for (int row = column + 1; row < size; ++row)
      if (std::abs(a[row][column]) > std::abs(a[pivot][column])) pivot = row;
    if (std::abs(a[pivot][column]) <= negligible) return false;
    std::swap(a[pivot], a[column]);
    std::swap(b[pivot], b[column]);
    for (int row = column + 1; row < size; ++row) {
      const Complex factor = a[row][column] / a[column][column];
      if (factor == 0.0) continue;
      for (int k = column; k < size; ++k) a[row][k] -= factor * a[column][k];
      b[row] -= factor * b[column];
    }
  }
  solution.assign(size, 0.0);
  for (int row = size - 1; row >= 0; --row) {
    Complex sum = b[row];
    for (int k = row + 1; k < size; ++k) sum -= a[row][k] * solution[k];
    solution[row] = sum / a[row][row];
  }
  return true;
}

Complex cramer_numerator(const MnaSystem& system, const Functional& quantity) {
  // det([[M, b], [-c^T, d]]) = det(M) * (d + c^T M^-1 b).
  const int size = static_cast<int>(system.matrix.size());
  std::vector<std::vector<Complex>> bordered(size + 1, std::vector<Complex>(size + 1, 0.0));
  for (int row = 0; row < size; ++row) {
    for (int column = 0; column < size; ++column) bordered[row][column] = system.matrix[row][column];
    bordered[row][size] = system.rhs[row];
  }
  for (int column = 0; column < size; ++column)
    if (column < static_cast<int>(quantity.coefficients.size()))
      bordered[size][column] = -quantity.coefficients[column];
  bordered[size][size] = quantity.constant;
  return determinant(std::move(bordered));
}

namespace {

constexpr PortQuantity v1{QuantityKind::voltage, 1};
constexpr PortQuantity v2{QuantityKind::voltage, 2};
constexpr PortQuantity i1{QuantityKind::current, 1};
constexpr PortQuantity i2{QuantityKind::current, 2};
constexpr PortQuantity minus_i1{QuantityKind::reversed_current, 1};
constexpr PortQuantity minus_i2{QuantityKind::reversed_current, 2};

}  // namespace

// i1 = g11 v1 + g12 i2, v2 = g21 v1 + g22 i2; v1 = h11 i1 + h12 v2,
// i2 = h21 i1 + h22 v2; i = Y v; v = Z i; v1 = A v2 + B (-i2),
// i1 = C v2 + D (-i2); v2 = a v1 + b (-i1), i2 = c v1 + d (-i1).
const ParameterDefinition ordinary_parameters[24] = {
    {"g11", "g", 1, 1, i1, v1, i2},       {"g12", "g", 1, 2, i1, i2, v1},
    {"g21", "g", 2, 1, v2, v1, i2},       {"g22", "g", 2, 2, v2, i2, v1},
    {"h11", "h", 1, 1, v1, i1, v2},       {"h12", "h", 1, 2, v1, v2, i1},
    {"h21", "h", 2, 1, i2, i1, v2},       {"h22", "h", 2, 2, i2, v2, i1},
    {"y11", "y", 1, 1, i1, v1, v2},       {"y12", "y", 1, 2, i1, v2, v1},
    {"y21", "y", 2, 1, i2, v1, v2},       {"y22", "y", 2, 2, i2, v2, v1},
    {"z11", "z", 1, 1, v1, i1, i2},       {"z12", "z", 1, 2, v1, i2, i1},
    {"z21", "z", 2, 1, v2, i1, i2},       {"z22", "z", 2, 2, v2, i2, i1},
    {"A", "A", 2, 1, v1, v2, i2},         {"B", "B", 2, 1, v1, minus_i2, v2},
    {"C", "C", 2, 1, i1, v2, i2},         {"D", "D", 2, 1, i1, minus_i2, v2},
    {"a", "a", 1, 2, v2, v1, i1},         {"b", "b", 1, 2, v2, minus_i1, v1},
    {"c", "c", 1, 2, i2, v1, i1},         {"d", "d", 1, 2, i2, minus_i1, v1},
};

namespace {

// The circuit with one port driven by a unit current into its + terminal and
// the other port shorted or open, and the Cramer numerators of its port
// quantities.
struct ExcitedSystem {
  MnaSystem system;
  int port_nodes[4];
  int driven_port;
  int held_current = -1;  // unknown of the short's current, when shorted

  ExcitedSystem(const Circuit& circuit, const int ports[4], PortQuantity held, Complex s) {
    system = make_system(circuit.node_count);
    for (const CircuitElement& element : circuit.elements) stamp_element(system, element, s);
    for (int k = 0; k < 4; ++k) port_nodes[k] = ports[k];
    driven_port = 3 - held.port;
    stamp_current_injection(system, port_nodes[2 * (driven_port - 1)], port_nodes[2 * (driven_port - 1) + 1], 1.0);
    if (held.kind == QuantityKind::voltage)
      held_current = stamp_voltage_source(system, port_nodes[2 * (held.port - 1)],
                                          port_nodes[2 * (held.port - 1) + 1], 0.0);
  }

  Complex numerator_of(PortQuantity quantity) const {
    Functional f;
    f.coefficients.assign(system.matrix.size(), 0.0);
    const int pos = port_nodes[2 * (quantity.port - 1)];
    const int neg = port_nodes[2 * (quantity.port - 1) + 1];
    if (quantity.kind == QuantityKind::voltage) {
      if (voltage_unknown(pos) >= 0) f.coefficients[voltage_unknown(pos)] += 1.0;
      if (voltage_unknown(neg) >= 0) f.coefficients[voltage_unknown(neg)] -= 1.0;
    } else if (quantity.port == driven_port) {
      f.constant = 1.0;
    } else if (held_current >= 0) {
      f.coefficients[held_current] = 1.0;
    }
    const Complex value = cramer_numerator(system, f);
    return quantity.kind == QuantityKind::reversed_current ? -value : value;
  }
};

}  // namespace

ParameterValue evaluate_parameter(const Circuit& circuit, const int port_nodes[4],
                                  const ParameterDefinition& definition, Complex s) {
  const ExcitedSystem excited(circuit, port_nodes, definition.held, s);
  return {excited.numerator_of(definition.numerator), excited.numerator_of(definition.denominator)};
}

std::vector<ParameterValue> evaluate_ordinary_parameters(const Circuit& circuit, const int port_nodes[4],
                                                         Complex s) {
  // Index: held quantity (voltage or current) and port; then quantity kind and port.
  auto held_index = [](PortQuantity q) { return (q.kind == QuantityKind::voltage ? 0 : 2) + q.port - 1; };
  auto quantity_index = [](PortQuantity q) { return (q.kind == QuantityKind::voltage ? 0 : 2) + q.port - 1; };
  std::vector<std::unique_ptr<ExcitedSystem>> systems(4);
  std::vector<std::vector<bool>> known(4, std::vector<bool>(4, false));
  std::vector<std::vector<Complex>> numerators(4, std::vector<Complex>(4, 0.0));
  auto value_of = [&](PortQuantity held, PortQuantity quantity) {
    const int h = held_index(held);
    if (!systems[h]) systems[h] = std::make_unique<ExcitedSystem>(circuit, port_nodes, held, s);
    const int q = quantity_index(quantity);
    if (!known[h][q]) {
      numerators[h][q] = systems[h]->numerator_of({quantity.kind == QuantityKind::voltage
                                                       ? QuantityKind::voltage
                                                       : QuantityKind::current,
                                                   quantity.port});
      known[h][q] = true;
    }
    return quantity.kind == QuantityKind::reversed_current ? -numerators[h][q] : numerators[h][q];
  };
  std::vector<ParameterValue> values;
  for (const ParameterDefinition& definition : ordinary_parameters)
    values.push_back({value_of(definition.held, definition.numerator), value_of(definition.held, definition.denominator)});
  return values;
}

EmbeddedCircuit embed_for_scattering(const Circuit& circuit, const int port_nodes[4],
                                     const Normalization& normalization, bool conjugate) {
  EmbeddedCircuit embedded;
  embedded.circuit = circuit;
  Circuit& out = embedded.circuit;
  if (conjugate) {
    for (size_t k = 0; k < out.elements.size(); ++k) {
      if (k >= normalization.in_network.size() || !normalization.in_network[k]) continue;
      CircuitElement& element = out.elements[k];
      if (element.kind == ElementKind::c || element.kind == ElementKind::l ||
          element.kind == ElementKind::m)
        element.negated = !element.negated;
    }
  }
  const int plus_p1 = port_nodes[0];
  const int minus_p1 = port_nodes[1];
  const int plus_p2 = port_nodes[2];
  const int minus_p2 = port_nodes[3];
  int e[9];
  for (int k = 1; k <= 8; ++k) {
    if (k == 2 && normalization.network_first[0] >= 0) {
      e[k] = normalization.network_first[0];
    } else if (k == 6 && normalization.network_first[1] >= 0) {
      e[k] = normalization.network_first[1];
    } else {
      e[k] = out.node_count++;
    }
  }
  auto opamp = [&](int a, int b, int c, int d) {
    out.elements.push_back({ElementKind::o, {a, b, c, d}, 0.0, false});
  };
  auto unit = [&](int a, int b) {
    out.elements.push_back({ElementKind::g, {a, b, 0, 0}, 1.0, false});
  };
  opamp(e[2], minus_p1, e[1], e[2]);
  opamp(e[3], minus_p1, plus_p1, e[4]);
  opamp(e[6], minus_p2, e[5], e[6]);
  opamp(e[7], minus_p2, plus_p2, e[8]);
  unit(e[1], e[3]);
  unit(e[4], e[3]);
  unit(e[4], minus_p1);
  unit(e[5], e[7]);
  unit(e[7], e[8]);
  unit(e[8], minus_p2);
  const int free_end[2] = {e[2], e[6]};
  const int port_end[2] = {plus_p1, plus_p2};
  for (int port = 0; port < 2; ++port) {
    if (normalization.network_first[port] >= 0) {
      const int second = normalization.network_second[port];
      opamp(second, port_end[port], second, port_end[port]);  // a wire
    } else if (normalization.mode == 0) {
      out.elements.push_back({ElementKind::y, {free_end[port], port_end[port], 0, 0}, normalization.y0, false});
    } else if (normalization.mode == 1) {
      out.elements.push_back({ElementKind::z, {free_end[port], port_end[port], 0, 0}, normalization.z0, false});
    } else {
      unit(free_end[port], port_end[port]);
    }
  }
  embedded.port_nodes[0] = e[1];
  embedded.port_nodes[1] = minus_p1;
  embedded.port_nodes[2] = e[5];
  embedded.port_nodes[3] = minus_p2;
  return embedded;
}

}  // namespace kavrel_oracle
