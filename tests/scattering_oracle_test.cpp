// kavrel's scattering functions against an independent nodal analysis of the
// embedded network, and against the textbook scattering matrix of the
// two-port.
//
// The s and F functions are ratios of topological functions of the network
// embedded in the op-amp circuit with its normalizing elements: the
// denominator on the network as embedded, the numerator with every reactive
// element of a normalizing network replaced by its conjugate (its negation).
// The oracle builds the same embedding from its own element models and takes
// the two Cramer numerators of the matching port quantities (s from the y
// parameters, F from the chain parameters of the embedded network) from the
// conjugated and from the unconjugated circuit. Both circuits have the same
// matrix structure, so their determinants are the same polynomial in the
// element values and the ratio is meaningful.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "support/mna.h"
#include "support/printed_functions.h"
#include "support/random_netlist.h"
#include "support/run_capture.h"

using namespace kavrel_oracle;

namespace {

// Row of the embedded network's parameter, and its sign, for s11..s22 and
// F11..F22: s = -Y, and (b1, a1) = F (a2, b2) with F = [[-C, -D], [A, B]].
struct ScatteringSource {
  int ordinary_row;
  double sign;
};
const ScatteringSource scattering_sources[8] = {{8, -1}, {9, -1}, {10, -1}, {11, -1},
                                                 {18, -1}, {19, -1}, {16, 1}, {17, 1}};

Complex random_s(std::mt19937_64& rng) {
  const double magnitude = std::uniform_real_distribution<double>(0.3, 2.0)(rng);
  const double angle = std::uniform_real_distribution<double>(-3.1, 3.1)(rng);
  return std::polar(magnitude, angle);
}

struct Point {
  std::map<std::string, double> values;  // element symbols and Y0, Z0
  Complex s;
};

Point random_point(const Netlist& netlist, std::mt19937_64& rng) {
  Point point;
  point.values = choose_symbol_values(netlist, rng);
  std::uniform_real_distribution<double> pick(0.5, 2.0);
  point.values["Y0"] = pick(rng);
  point.values["Z0"] = pick(rng);
  point.s = random_s(rng);
  return point;
}

// Reference numerator and denominator of the eight scattering functions.
std::array<ParameterValue, 8> scattering_reference(const Netlist& netlist, const Point& point) {
  std::map<unsigned, int> nodes;
  const Circuit circuit = to_circuit(netlist, point.values, &nodes);
  int port_nodes[4];
  for (int k = 0; k < 4; ++k) port_nodes[k] = nodes.at(netlist.port_labels[k]);
  Normalization normalization;
  normalization.mode = static_cast<int>(netlist.norm_mode);
  normalization.y0 = point.values.at("Y0");
  normalization.z0 = point.values.at("Z0");
  for (int port = 0; port < 2; ++port) {
    if (!netlist.has_norm_network[port]) continue;
    normalization.network_first[port] = nodes.at(netlist.norm_network_labels[port][0]);
    normalization.network_second[port] = nodes.at(netlist.norm_network_labels[port][1]);
  }
  normalization.in_network = normalizing_network_members(netlist);
  const EmbeddedCircuit plain = embed_for_scattering(circuit, port_nodes, normalization, false);
  const EmbeddedCircuit conjugated = embed_for_scattering(circuit, port_nodes, normalization, true);
  std::array<ParameterValue, 8> result;
  for (int k = 0; k < 8; ++k) {
    const ParameterDefinition& definition = ordinary_parameters[scattering_sources[k].ordinary_row];
    const ParameterValue numerator = evaluate_parameter(conjugated.circuit, conjugated.port_nodes, definition, point.s);
    const ParameterValue denominator = evaluate_parameter(plain.circuit, plain.port_nodes, definition, point.s);
    result[k] = {scattering_sources[k].sign * numerator.numerator, denominator.denominator};
  }
  return result;
}

struct Tally {
  int netlists = 0;
  int functions = 0;
  int agreements = 0;
  int absent = 0;
  int disagreements = 0;
  int reactive_networks = 0;
  std::vector<std::string> reports;
};

void report(Tally& tally, const std::string& text) {
  ++tally.disagreements;
  if (tally.reports.size() < 10) tally.reports.push_back(text);
}

std::string summary(const Tally& tally) {
  std::ostringstream out;
  out << tally.netlists << " netlists (" << tally.reactive_networks << " with reactive normalizing networks), "
      << tally.functions << " functions: " << tally.agreements << " agree, " << tally.absent
      << " exist on neither side, " << tally.disagreements << " disagreements";
  for (const std::string& text : tally.reports) out << "\n---\n" << text;
  return out.str();
}

bool parse_scattering_output(const Netlist& netlist, const std::string& output,
                             std::vector<PrintedFunction>& functions, std::vector<RowFunction>& matched,
                             std::string& error) {
  if (!parse_printed_functions(output, functions, error)) return false;
  return match_rows(functions, selected_rows(netlist), netlist.port_labels, netlist.norm_mode, true, matched,
                    error);
}

void check_scattering(const Netlist& netlist, const std::string& output, std::mt19937_64& rng, Tally& tally,
                      int points = 2) {
  ++tally.netlists;
  std::vector<PrintedFunction> functions;
  std::vector<RowFunction> matched;
  std::string error;
  if (!parse_scattering_output(netlist, output, functions, matched, error)) {
    report(tally, error + "\nnetlist:\n" + netlist.text);
    return;
  }
  const double tolerance = numeric_values(netlist).empty() ? 1e-7 : 2e-5;
  std::vector<Verdict> verdicts(matched.size(), Verdict::agree);
  std::vector<bool> failed(matched.size(), false);
  for (int p = 0; p < points; ++p) {
    const Point point = random_point(netlist, rng);
    const std::array<ParameterValue, 8> expected = scattering_reference(netlist, point);
    for (size_t k = 0; k < matched.size(); ++k) {
      if (failed[k]) continue;
      const int index = matched[k].row - 24;
      std::string unknown;
      const PolynomialValue numerator = evaluate_polynomial(matched[k].function->numerator, point.values, point.s, &unknown);
      const PolynomialValue denominator =
          evaluate_polynomial(matched[k].function->denominator, point.values, point.s, &unknown);
      std::ostringstream message;
      if (!unknown.empty()) {
        message << "symbol '" << unknown << "' in " << alternate_parameter_names[matched[k].row]
                << " is no element of netlist:\n" << netlist.text;
      } else {
        const Comparison comparison = compare_with_reference(numerator, denominator, expected[index].numerator,
                                                             expected[index].denominator, tolerance);
        if (comparison.verdict == Verdict::disagree) {
          message << alternate_parameter_names[matched[k].row] << " at s = " << point.s << ": " << comparison.detail
                  << "\nnetlist:\n" << netlist.text;
        } else if (p > 0 && comparison.verdict != verdicts[k]) {
          message << alternate_parameter_names[matched[k].row] << " exists at one point only; netlist:\n"
                  << netlist.text;
        } else {
          verdicts[k] = comparison.verdict;
          continue;
        }
      }
      report(tally, message.str());
      failed[k] = true;
    }
  }
  for (size_t k = 0; k < matched.size(); ++k) {
    ++tally.functions;
    if (failed[k]) continue;
    tally.agreements += verdicts[k] == Verdict::agree;
    tally.absent += verdicts[k] == Verdict::both_absent;
  }
}

// A floating one-port between two fresh labels, to serve as a port's
// normalizing network. Reactive ones hold capacitances, inductances and
// sometimes a mutual inductance; resistive ones only r and g.
void add_normalizing_network(Netlist& netlist, int port, bool reactive, bool transformer_allowed,
                             std::mt19937_64& rng, int& name_counter) {
  auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
  const unsigned first = 60 + 5 * static_cast<unsigned>(port);
  const unsigned second = first + 1;
  const unsigned middle = first + 2;
  const unsigned far = first + 3;
  auto add = [&](const char* prefix, unsigned a, unsigned b, unsigned c = 0, unsigned d = 0) {
    NetlistElement element;
    element.name = std::string(prefix) + "0" + std::to_string(++name_counter);
    element.kind = kind_of_name(element.name);
    element.labels[0] = a;
    element.labels[1] = b;
    element.labels[2] = c;
    element.labels[3] = d;
    netlist.elements.push_back(element);
  };
  const char* resistive[] = {"r", "R", "g"};
  const char* reactive_kinds[] = {"c", "l", "C", "L"};
  auto any = [&]() { return reactive && uniform(0, 2) > 0 ? reactive_kinds[uniform(0, 3)] : resistive[uniform(0, 2)]; };
  const int shape = uniform(0, 9);
  if (shape < 4) {  // one element
    add(any(), first, second);
  } else if (shape < 7) {  // two in series
    add(any(), first, middle);
    add(any(), middle, second);
  } else if (shape == 7) {  // series element, then two in parallel
    add(any(), first, middle);
    add(any(), middle, second);
    add(any(), middle, second);
  } else if (shape == 8 || !transformer_allowed) {  // a negated capacitance beside another element
    add(any(), first, second);
    add("c", first, second);
    netlist.elements.back().negated = true;
  } else {  // a transformer: self inductance and coupling
    add("l", first, middle);
    add("m", middle, second, far, second);
    add(reactive ? "L" : "R", far, second);
  }
  netlist.has_norm_network[port] = true;
  netlist.norm_network_labels[port][0] = first;
  netlist.norm_network_labels[port][1] = second;
}

std::vector<std::string> scattering_words(std::mt19937_64& rng) {
  std::vector<std::string> words;
  std::bernoulli_distribution pick(0.4);
  for (int row = 24; row < 32; ++row)
    if (pick(rng)) words.push_back(pick(rng) ? primary_parameter_names[row] : alternate_parameter_names[row]);
  if (words.empty()) words.push_back("s21");
  return words;
}

// The embedding adds eight nodes and every conjugated element two more, so
// the networks stay small to keep the tree enumeration quick.
RandomNetlistOptions small_networks() {
  RandomNetlistOptions options;
  options.min_elements = 2;
  options.max_elements = 4;
  options.max_labels = 4;
  options.max_generated_nodes = 2;
  return options;
}

}  // namespace

TEST(ScatteringOracle, SmallCircuitsSolvedByHand) {
  // Two resistors to ground, one per port: no transmission, and each port
  // reflects (R - Z0)/(R + Z0).
  Circuit circuit;
  circuit.node_count = 3;
  circuit.elements.push_back({ElementKind::r, {1, 0, 0, 0}, 3.0, false});
  circuit.elements.push_back({ElementKind::r, {2, 0, 0, 0}, 0.5, false});
  const int ports[4] = {1, 0, 2, 0};
  Normalization normalization;
  normalization.mode = 1;
  normalization.z0 = 2.0;
  const EmbeddedCircuit embedded = embed_for_scattering(circuit, ports, normalization, false);
  const Complex s(0.2, 0.9);
  auto s_parameter = [&](int row) {
    const ParameterValue value = evaluate_parameter(embedded.circuit, embedded.port_nodes, ordinary_parameters[row], s);
    return -value.numerator / value.denominator;
  };
  EXPECT_NEAR(std::abs(s_parameter(8) - (3.0 - 2.0) / (3.0 + 2.0)), 0.0, 1e-12);
  EXPECT_NEAR(std::abs(s_parameter(11) - (0.5 - 2.0) / (0.5 + 2.0)), 0.0, 1e-12);
  EXPECT_NEAR(std::abs(s_parameter(10)), 0.0, 1e-12);
  // A capacitance as normalizing network of port 1: the conjugated one
  // is a negative capacitance.
  Circuit with_network = circuit;
  with_network.node_count = 5;
  with_network.elements.push_back({ElementKind::c, {3, 4, 0, 0}, 0.7, false});
  normalization.network_first[0] = 3;
  normalization.network_second[0] = 4;
  normalization.in_network = {false, false, true};
  const EmbeddedCircuit conjugated = embed_for_scattering(with_network, ports, normalization, true);
  const Complex y11 = evaluate_parameter(conjugated.circuit, conjugated.port_nodes, ordinary_parameters[8], s).numerator /
                      evaluate_parameter(conjugated.circuit, conjugated.port_nodes, ordinary_parameters[8], s).denominator;
  // y11 of the embedding is (Y - N)/(Y + N) with N = -s 0.7 and Y = 1/3.
  const Complex n = -s * 0.7;
  EXPECT_NEAR(std::abs(y11 - (1.0 / 3.0 - n) / (1.0 / 3.0 + n)), 0.0, 1e-12);
}

TEST(ScatteringOracle, RandomNetlistsWithEveryNormalization) {
  std::mt19937_64 rng(4242);
  Tally tally;
  int with_network = 0;
  int with_mutual = 0;
  int odd_count = 0;
  int even_count = 0;
  for (int k = 0; k < 120; ++k) {
    Netlist netlist = random_netlist(rng, small_networks());
    const unsigned modes[] = {0, 1, 2, 7};
    netlist.norm_mode = modes[k % 4];
    int name_counter = 0;
    const int networks = k % 5;  // none, port 1, port 2, both, none
    const bool reactive = k % 3 != 0;
    if (networks == 1 || networks == 3) add_normalizing_network(netlist, 0, reactive, networks == 1, rng, name_counter);
    if (networks == 2 || networks == 3) add_normalizing_network(netlist, 1, reactive, networks == 2, rng, name_counter);
    if (netlist.has_norm_network[0] || netlist.has_norm_network[1]) {
      ++with_network;
      tally.reactive_networks += reactive;
    }
    netlist.parameter_words = scattering_words(rng);
    netlist.text = format_netlist(netlist);
    const std::vector<bool> members = normalizing_network_members(netlist);
    int conjugated_one_ports = 0;
    for (size_t e = 0; e < netlist.elements.size(); ++e) {
      const ElementKind kind = netlist.elements[e].kind;
      if (!members[e]) continue;
      conjugated_one_ports += kind == ElementKind::c || kind == ElementKind::l;
      with_mutual += kind == ElementKind::m;
    }
    if (conjugated_one_ports > 0) ++(conjugated_one_ports % 2 ? odd_count : even_count);
    check_scattering(netlist, kavrel_test::run_kavrel_on(netlist.text), rng, tally);
  }
  std::cout << "[ oracle   ] scattering: " << summary(tally) << "\n";
  EXPECT_EQ(tally.disagreements, 0) << summary(tally);
  EXPECT_GT(with_network, 50);
  EXPECT_GT(tally.reactive_networks, 25);
  EXPECT_GT(with_mutual, 3);
  EXPECT_GT(odd_count, 10);
  EXPECT_GT(even_count, 10);
  EXPECT_GT(tally.agreements, 4 * tally.absent) << summary(tally);
}

TEST(ScatteringOracle, SampleNetlistsThatPrintScatteringFunctions) {
  const std::string path = std::string(KAVREL_SOURCE_DIR) + "/examples/samples.net";
  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  ASSERT_FALSE(content.str().empty()) << "cannot read " << path;
  std::mt19937_64 rng(77);
  Tally tally;
  for (const Netlist& netlist : parse_netlists(content.str())) {
    const std::vector<bool> rows = selected_rows(netlist);
    if (std::find(rows.begin() + 24, rows.end(), true) == rows.end()) continue;
    check_scattering(netlist, kavrel_test::run_kavrel_on(netlist.text), rng, tally);
  }
  std::cout << "[ oracle   ] sample scattering: " << summary(tally) << "\n";
  EXPECT_EQ(tally.disagreements, 0) << summary(tally);
  EXPECT_GT(tally.netlists, 0);
}

// The textbook scattering matrix of a two-port with the same real reference
// impedance R at both ports and currents entering the + terminals is
// S = (Z - R)(Z + R)^-1 = (1 + R Y)^-1 (1 - R Y). kavrel's s11..s22 are
// exactly its entries, with R = Z0, 1/Y0 or 1 (unity); F gives the incident
// and reflected waves of port 1 from those of port 2: (b1, a1) = F (a2, b2).
TEST(ScatteringOracle, SParametersAreTheTextbookScatteringMatrix) {
  std::mt19937_64 rng(9);
  int compared = 0;
  int chain_compared = 0;
  for (int k = 0; k < 60; ++k) {
    Netlist netlist = random_netlist(rng, small_networks());
    netlist.norm_mode = k % 3;  // Y0, Z0, unity
    netlist.text = format_netlist(netlist);
    for (const char* word : {"s11", "s12", "s21", "s22", "F11", "F12", "F21", "F22"})
      netlist.parameter_words.push_back(word);
    netlist.text = format_netlist(netlist);
    const std::string output = kavrel_test::run_kavrel_on(netlist.text);
    std::vector<PrintedFunction> functions;
    std::vector<RowFunction> matched;
    std::string error;
    ASSERT_TRUE(parse_scattering_output(netlist, output, functions, matched, error)) << error << "\n" << netlist.text;
    ASSERT_EQ(matched.size(), 8u);

    const Point point = random_point(netlist, rng);
    const double reference = netlist.norm_mode == 0 ? 1.0 / point.values.at("Y0")
                             : netlist.norm_mode == 1 ? point.values.at("Z0")
                                                      : 1.0;
    std::map<unsigned, int> nodes;
    const Circuit circuit = to_circuit(netlist, point.values, &nodes);
    int port_nodes[4];
    for (int t = 0; t < 4; ++t) port_nodes[t] = nodes.at(netlist.port_labels[t]);
    const std::vector<ParameterValue> p = evaluate_ordinary_parameters(circuit, port_nodes, point.s);
    auto exists = [&](int row) { return p[row].denominator != 0.0; };
    auto value = [&](int row) { return p[row].numerator / p[row].denominator; };
    // S from y when it exists, else from z.
    Complex s11, s12, s21, s22;
    if (exists(8) && exists(9) && exists(10) && exists(11)) {
      const Complex a = 1.0 + reference * value(8), b = reference * value(9);
      const Complex c = reference * value(10), d = 1.0 + reference * value(11);
      const Complex det = a * d - b * c;
      const Complex e = 1.0 - reference * value(8), f = -b, g = -c, h = 1.0 - reference * value(11);
      s11 = (d * e - b * g) / det;
      s12 = (d * f - b * h) / det;
      s21 = (-c * e + a * g) / det;
      s22 = (-c * f + a * h) / det;
    } else if (exists(12) && exists(13) && exists(14) && exists(15)) {
      const Complex a = value(12) + reference, b = value(13), c = value(14), d = value(15) + reference;
      const Complex det = a * d - b * c;
      const Complex e = value(12) - reference, h = value(15) - reference;
      s11 = (e * d - b * c) / det;
      s12 = (-e * b + b * a) / det;
      s21 = (c * d - h * c) / det;
      s22 = (-c * b + h * a) / det;
    } else {
      continue;  // neither matrix exists
    }
    const Complex textbook[4] = {s11, s12, s21, s22};
    Complex printed[8];
    bool finite[8];
    for (int r = 0; r < 8; ++r) {
      std::string unknown;
      const PolynomialValue numerator = evaluate_polynomial(matched[r].function->numerator, point.values, point.s, &unknown);
      const PolynomialValue denominator =
          evaluate_polynomial(matched[r].function->denominator, point.values, point.s, &unknown);
      ASSERT_TRUE(unknown.empty()) << unknown;
      finite[r] = std::abs(denominator.value) > 1e-9 * denominator.magnitude;
      printed[r] = numerator.value / denominator.value;
    }
    for (int r = 0; r < 4; ++r) {
      ASSERT_TRUE(finite[r]) << alternate_parameter_names[24 + r] << "\n" << netlist.text;
      EXPECT_LE(std::abs(printed[r] - textbook[r]), 1e-6 * (1.0 + std::abs(textbook[r])))
          << alternate_parameter_names[24 + r] << ": printed " << printed[r] << ", textbook " << textbook[r] << "\n"
          << netlist.text;
    }
    ++compared;
    // F from S: b2 = 0 gives F11 = -det S / S21 and F21 = -S22 / S21; a2 = 0
    // gives F12 = S11 / S21 and F22 = 1 / S21.
    if (std::abs(s21) > 1e-6) {
      const Complex chain[4] = {-(s11 * s22 - s12 * s21) / s21, s11 / s21, -s22 / s21, 1.0 / s21};
      for (int r = 0; r < 4; ++r)
        EXPECT_LE(std::abs(printed[4 + r] - chain[r]), 1e-6 * (1.0 + std::abs(chain[r])))
            << alternate_parameter_names[28 + r] << ": printed " << printed[4 + r] << ", from S " << chain[r] << "\n"
            << netlist.text;
      ++chain_compared;
    }
  }
  EXPECT_GT(compared, 40);
  EXPECT_GT(chain_compared, 25);
}
