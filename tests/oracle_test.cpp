// kavrel's printed two-port functions against an independent nodal analysis:
// every printed ordinary function, evaluated at random element values and a
// random complex frequency, must equal the ratio of port quantities that the
// parameter's definition gives on the same network.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <sstream>

#include "support/mna.h"
#include "support/printed_functions.h"
#include "support/random_netlist.h"
#include "support/run_capture.h"

using namespace kavrel_oracle;

namespace {

int row_of(const std::string& name) {
  for (int row = 0; row < 32; ++row)
    if (name == primary_parameter_names[row]) return row;
  return -1;
}

Netlist netlist_of(const std::string& text) {
  std::vector<Netlist> netlists = parse_netlists(text + "\ne\n");
  EXPECT_EQ(netlists.size(), 1u) << text;
  return netlists.empty() ? Netlist{} : netlists[0];
}

int port_nodes_of(const Netlist& netlist, const std::map<unsigned, int>& nodes, int terminal) {
  return nodes.at(netlist.port_labels[terminal]);
}

ParameterValue reference_value(const Netlist& netlist, const std::string& parameter,
                               const std::map<std::string, double>& values, Complex s) {
  std::map<unsigned, int> nodes;
  const Circuit circuit = to_circuit(netlist, values, &nodes);
  int port_nodes[4];
  for (int k = 0; k < 4; ++k) port_nodes[k] = port_nodes_of(netlist, nodes, k);
  return evaluate_parameter(circuit, port_nodes, ordinary_parameters[row_of(parameter)], s);
}

std::vector<ParameterValue> reference_values(const Netlist& netlist, const std::map<std::string, double>& values,
                                             Complex s) {
  std::map<unsigned, int> nodes;
  const Circuit circuit = to_circuit(netlist, values, &nodes);
  int port_nodes[4];
  for (int k = 0; k < 4; ++k) port_nodes[k] = port_nodes_of(netlist, nodes, k);
  return evaluate_ordinary_parameters(circuit, port_nodes, s);
}

// The parameter by the oracle for a netlist given as text (without its end entry).
Complex reference(const std::string& text, const std::string& parameter,
                  const std::map<std::string, double>& values, Complex s) {
  const ParameterValue value = reference_value(netlist_of(text), parameter, values, s);
  return value.numerator / value.denominator;
}

void expect_close(Complex got, Complex want, const std::string& what) {
  EXPECT_LE(std::abs(got - want), 1e-9 * (1.0 + std::abs(want))) << what << ": got " << got << ", want " << want;
}

const Complex test_s(0.3, 1.7);

}  // namespace

// --- The oracle on its own: hand-solved circuits -------------------------

TEST(NodalOracle, VoltageDividerWithCapacitorGivesTheTextbookParameters) {
  const std::string net = "r1 1 2 r2 2 0 c1 2 0 f 1 0 2 0";
  const std::map<std::string, double> v = {{"r1", 2.0}, {"r2", 3.0}, {"c1", 0.7}};
  const Complex s = test_s;
  const double r1 = 2.0, r2 = 3.0, c1 = 0.7;
  const Complex shunt = 1.0 / r2 + s * c1;  // admittance of node 2 to ground
  expect_close(reference(net, "g21", v, s), r2 / (r1 + r2 + s * c1 * r1 * r2), "g21");
  expect_close(reference(net, "g11", v, s), 1.0 / (r1 + 1.0 / shunt), "g11");
  expect_close(reference(net, "z11", v, s), r1 + 1.0 / shunt, "z11");
  expect_close(reference(net, "z21", v, s), 1.0 / shunt, "z21");
  expect_close(reference(net, "z12", v, s), 1.0 / shunt, "z12");
  expect_close(reference(net, "z22", v, s), 1.0 / shunt, "z22");
  expect_close(reference(net, "y11", v, s), 1.0 / r1, "y11");
  expect_close(reference(net, "y21", v, s), -1.0 / r1, "y21");
  expect_close(reference(net, "y22", v, s), 1.0 / r1 + shunt, "y22");
  expect_close(reference(net, "h11", v, s), r1, "h11");
  expect_close(reference(net, "h21", v, s), -1.0, "h21");
  expect_close(reference(net, "h12", v, s), 1.0, "h12");
  expect_close(reference(net, "h22", v, s), shunt, "h22");
  expect_close(reference(net, "g12", v, s), -1.0 / (1.0 + r1 * shunt), "g12");
  expect_close(reference(net, "g22", v, s), 1.0 / (1.0 / r1 + shunt), "g22");
  // v1 = A v2 + B (-i2), i1 = C v2 + D (-i2).
  expect_close(reference(net, "A", v, s), 1.0 + r1 * shunt, "A");
  expect_close(reference(net, "B", v, s), r1, "B");
  expect_close(reference(net, "C", v, s), shunt, "C");
  expect_close(reference(net, "D", v, s), 1.0, "D");
  // v2 = a v1 + b (-i1), i2 = c v1 + d (-i1): the same network seen from port 2.
  expect_close(reference(net, "a", v, s), 1.0, "a");
  expect_close(reference(net, "b", v, s), r1, "b");
  expect_close(reference(net, "c", v, s), shunt, "c");
  expect_close(reference(net, "d", v, s), 1.0 + r1 * shunt, "d");
}

TEST(NodalOracle, SeriesResistorHasChainParametersButNoImpedanceParameters) {
  const std::string net = "r1 1 2 f 1 0 2 0";
  const std::map<std::string, double> v = {{"r1", 5.0}};
  expect_close(reference(net, "A", v, test_s), 1.0, "A");
  expect_close(reference(net, "B", v, test_s), 5.0, "B");
  expect_close(reference(net, "C", v, test_s), 0.0, "C");
  expect_close(reference(net, "D", v, test_s), 1.0, "D");
  const ParameterValue z11 = reference_value(netlist_of(net), "z11", v, test_s);
  EXPECT_EQ(z11.denominator, 0.0);  // no spanning tree: z does not exist
  EXPECT_NE(z11.numerator, 0.0);
}

TEST(NodalOracle, TransconductanceActsLikeAConductanceFromPlusOutToMinusOut) {
  const std::map<std::string, double> v = {{"gm1", 3.0}, {"g1", 0.5}, {"g2", 0.25}};
  const std::string net = "gm1 2 0 1 0 g1 1 0 g2 2 0 f 1 0 2 0";
  expect_close(reference(net, "y21", v, test_s), 3.0, "y21");
  expect_close(reference(net, "y12", v, test_s), 0.0, "y12");
  expect_close(reference(net, "y11", v, test_s), 0.5, "y11");
  expect_close(reference(net, "y22", v, test_s), 0.25, "y22");
  expect_close(reference("x gm1 2 0 1 0 g1 1 0 g2 2 0 f 1 0 2 0", "y21", v, test_s), -3.0, "x gm y21");
  // With its input pair on its output pair it is a conductance.
  expect_close(reference("gm1 1 0 1 0 g2 2 0 g1 1 2 f 1 0 2 0", "y11", v, test_s), 3.5, "gm as conductance");
}

TEST(NodalOracle, VoltageGainSetsOutputPairVoltage) {
  const std::map<std::string, double> v = {{"u1", 4.0}, {"r1", 2.0}};
  expect_close(reference("u1 2 0 1 0 r1 1 0 f 1 0 2 0", "g21", v, test_s), 4.0, "g21");
  expect_close(reference("u1 2 0 1 0 r1 1 0 f 1 0 2 0", "z21", v, test_s), 8.0, "z21");
  expect_close(reference("u1 0 2 1 0 r1 1 0 f 1 0 2 0", "g21", v, test_s), -4.0, "reversed output");
  expect_close(reference("x u1 2 0 1 0 r1 1 0 f 1 0 2 0", "g21", v, test_s), -4.0, "x u");
  expect_close(reference("u1 2 0 0 1 r1 1 0 f 1 0 2 0", "g21", v, test_s), -4.0, "reversed input");
}

TEST(NodalOracle, CurrentGainDrivesItsInputCurrentTimesBFromPlusOutToMinusOut) {
  const std::map<std::string, double> v = {{"b1", 3.0}, {"r2", 2.0}};
  const std::string net = "b1 2 0 1 0 r2 2 0 f 1 0 2 0";
  expect_close(reference(net, "h21", v, test_s), 3.0, "h21");
  expect_close(reference(net, "h11", v, test_s), 0.0, "h11 (input is a short)");
  expect_close(reference(net, "z21", v, test_s), -6.0, "z21");
  expect_close(reference("x b1 2 0 1 0 r2 2 0 f 1 0 2 0", "h21", v, test_s), -3.0, "x b");
}

TEST(NodalOracle, TransresistanceSetsOutputVoltageFromInputCurrent) {
  const std::map<std::string, double> v = {{"rm1", 7.0}, {"r1", 2.0}};
  const std::string net = "r1 1 3 rm1 2 0 3 0 f 1 0 2 0";
  expect_close(reference(net, "z21", v, test_s), 7.0, "z21");
  expect_close(reference(net, "z11", v, test_s), 2.0, "z11");
  expect_close(reference(net, "z12", v, test_s), 0.0, "z12");
  expect_close(reference("r1 1 3 x rm1 2 0 3 0 f 1 0 2 0", "z21", v, test_s), -7.0, "x rm");
  // The equivalence example: two series impedances and two transresistances
  // make the z matrix.
  const std::map<std::string, double> z = {{"z11", 2.0}, {"z22", 3.0}, {"rm12", 5.0}, {"rm21", 7.0}};
  const std::string zmat = "z11 1 3 z22 2 4 rm12 3 5 6 7 rm21 4 6 5 7 f 1 7 2 7";
  expect_close(reference(zmat, "z11", z, test_s), 2.0, "z11");
  expect_close(reference(zmat, "z12", z, test_s), 5.0, "z12");
  expect_close(reference(zmat, "z21", z, test_s), 7.0, "z21");
  expect_close(reference(zmat, "z22", z, test_s), 3.0, "z22");
}

TEST(NodalOracle, GyratorAndMutualInductance) {
  const std::map<std::string, double> v = {{"gy1", 2.0}, {"m1", 3.0}, {"l1", 0.5}, {"l2", 4.0}};
  const std::string gyrator = "gy1 1 0 2 0 f 1 0 2 0";
  expect_close(reference(gyrator, "y12", v, test_s), 2.0, "y12");
  expect_close(reference(gyrator, "y21", v, test_s), -2.0, "y21");
  expect_close(reference(gyrator, "y11", v, test_s), 0.0, "y11");
  expect_close(reference(gyrator, "z12", v, test_s), -0.5, "z12");
  expect_close(reference(gyrator, "z21", v, test_s), 0.5, "z21");
  // A transformer: self inductances in series with the pure coupling.
  const std::string transformer = "l1 1 3 m1 3 0 4 0 l2 2 4 f 1 0 2 0";
  expect_close(reference(transformer, "z11", v, test_s), test_s * 0.5, "z11");
  expect_close(reference(transformer, "z12", v, test_s), test_s * 3.0, "z12");
  expect_close(reference(transformer, "z21", v, test_s), test_s * 3.0, "z21");
  expect_close(reference(transformer, "z22", v, test_s), test_s * 4.0, "z22");
  expect_close(reference("l1 1 3 x m1 3 0 4 0 l2 2 4 f 1 0 2 0", "z21", v, test_s), -test_s * 3.0, "x m");
}

TEST(NodalOracle, IdealOpAmpIsANullorWhateverItsInputPolarity) {
  const std::map<std::string, double> v = {{"rin", 2.0}, {"rf", 6.0}};
  expect_close(reference("opamp 2 0 0 3 rin 1 3 rf 2 3 f 1 0 2 0", "g21", v, test_s), -3.0, "negative feedback");
  expect_close(reference("opamp 2 0 3 0 rin 1 3 rf 2 3 f 1 0 2 0", "g21", v, test_s), -3.0, "positive feedback");
  expect_close(reference("opamp 2 0 3 0 rin 1 3 rf 2 3 f 1 0 2 0", "z11", v, test_s), 2.0, "virtual ground");
  // A short across the norator leaves its current undetermined: no y parameters.
  const ParameterValue y11 = reference_value(netlist_of("opamp 2 0 3 0 rin 1 3 rf 2 3 f 1 0 2 0"), "y11", v, test_s);
  EXPECT_EQ(y11.numerator, 0.0);
  EXPECT_EQ(y11.denominator, 0.0);
}

TEST(NodalOracle, NegatedOnePortBehavesAsMinusItself) {
  const std::map<std::string, double> v = {{"r1", 2.0}, {"r2", 4.0}, {"r3", 5.0}, {"c1", 0.3}};
  expect_close(reference("x r1 1 0 r2 1 2 r3 2 0 f 1 0 2 0", "y11", v, test_s), -0.5 + 0.25, "x r");
  expect_close(reference("x c1 1 0 r2 1 2 r3 2 0 f 1 0 2 0", "y11", v, test_s), -0.3 * test_s + 0.25, "x c");
}

TEST(NodalOracle, PortsMayShareANode) {
  const std::map<std::string, double> v = {{"r1", 2.0}, {"r2", 3.0}, {"r3", 5.0}};
  const std::string net = "r1 1 3 r2 2 3 r3 1 2 f 1 3 2 3";
  expect_close(reference(net, "z11", v, test_s), 2.0 * 8.0 / 10.0, "z11");
  expect_close(reference(net, "z21", v, test_s), 2.0 * 3.0 / 10.0, "z21");
  expect_close(reference(net, "y21", v, test_s), -1.0 / 5.0, "y21");
}

TEST(NodalOracle, NetlistReaderFollowsTheEntryRules) {
  const std::vector<Netlist> netlists = parse_netlists(
      "{first} r1 1 2 v 5 R1{joined}0 2 3; r1 3 4 v 7, x gm1 1 2 3 4 f 1 0 2 0 p g21 P Y12 e\n"
      "f 1 0 2 0 v 2.5 c9 1 0 n1 5 6 n 1 t 4096 cabcdefghijklmnop 1 2 end\n"
      "r1 1 2 h\n");
  ASSERT_EQ(netlists.size(), 2u);
  const Netlist& first = netlists[0];
  ASSERT_EQ(first.elements.size(), 4u);
  EXPECT_EQ(first.elements[1].name, "R10");
  EXPECT_EQ(first.elements[1].labels[0], 2u);
  EXPECT_TRUE(first.elements[3].negated);
  EXPECT_EQ(first.elements[3].kind, ElementKind::gm);
  EXPECT_EQ(numeric_values(first).at("r1"), 5.0);
  EXPECT_EQ(first.parameter_words, (std::vector<std::string>{"g21", "Y12"}));
  const std::vector<bool> rows = selected_rows(first);
  EXPECT_TRUE(rows[2] && rows[9]);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), true), 2);
  const Netlist& second = netlists[1];
  EXPECT_EQ(numeric_values(second).at("c9"), 2.5);  // a value after f goes to the next element
  EXPECT_TRUE(second.has_norm_network[0]);
  EXPECT_EQ(second.norm_network_labels[0][1], 6u);
  EXPECT_EQ(second.norm_mode, 1u);
  EXPECT_EQ(second.test_bitmap, 4096u);
  EXPECT_EQ(second.elements[1].name, "cabcdefghijk");  // names keep 12 characters
}

// --- Reading kavrel's output ----------------------------------------------

TEST(PrintedFunctions, ReadsBothFormsOfTheDividerFunction) {
  const std::string normal =
      " Function:\n g( 2, 0; 1, 0) = v( 2, 0)/v( 1, 0) for i( 2, 0)=0\n"
      "\n Numerator:\n\n + s^0  (\n         1 R2   \n        )\n"
      "\n Denominator:\n\n + s^0  (\n         1 R1   \n         1 R2   \n        )\n"
      " + s^1  (\n         1 C1    R1    R2   \n        )\n\n End:\n\n";
  const std::string rational =
      " Function:\n g( 2, 0; 1, 0) = v( 2, 0)/v( 1, 0) for i( 2, 0)=0\n"
      "\n Function =\n  ((\n\n + s^0  * (\n         +1 *  R2   \n        )\n"
      "\n )/(\n\n + s^0  * (\n         +1 *  R1   \n         +1 *  R2   \n        )\n"
      " + s^1  * (\n         +1 *  C1    *  R1    *  R2   \n        )\n\n ))\n\n\n End:\n\n";
  const std::map<std::string, double> values = {{"R1", 2.0}, {"R2", 3.0}, {"C1", 0.5}};
  for (const std::string& text : {normal, rational}) {
    std::vector<PrintedFunction> functions;
    std::string error;
    ASSERT_TRUE(parse_printed_functions(text + text, functions, error)) << error;
    ASSERT_EQ(functions.size(), 2u);
    EXPECT_EQ(functions[0].header, " g( 2, 0; 1, 0) = v( 2, 0)/v( 1, 0) for i( 2, 0)=0");
    const Complex numerator = evaluate_polynomial(functions[0].numerator, values, test_s).value;
    const Complex denominator = evaluate_polynomial(functions[0].denominator, values, test_s).value;
    expect_close(numerator / denominator, 3.0 / (5.0 + test_s * 3.0), "divider");
    EXPECT_EQ(to_maxima(functions[0].denominator), "((1)*s^0*R1^1+(1)*s^0*R2^1+(1)*s^1*C1^1*R1^1*R2^1)");
  }
  const unsigned labels[4] = {1, 0, 2, 0};
  EXPECT_EQ(expected_header(2, labels, 0), " g( 2, 0; 1, 0) = v( 2, 0)/v( 1, 0) for i( 2, 0)=0");
  EXPECT_EQ(expected_header(17, labels, 0), " B( 2, 0; 1, 0) = v( 1, 0)/-i( 2, 0) for v( 2, 0)=0");
  EXPECT_EQ(expected_header(26, labels, 1), " s( 2, 0; 1, 0) for Z0 normalization");
}

TEST(PrintedFunctions, ReadsZeroPolynomialsExponentsAndRejectsMalformedLines) {
  const std::string text =
      " Function:\n z( 1, 0; 1, 0) = v( 1, 0)/i( 1, 0) for i( 2, 0)=0\n"
      "\n Numerator:\n\n + s^0  (\n         -2.5 R1^2  gm10^12\n        )\n"
      " + s^12 (\n         1e+06\n        )\n"
      "\n Denominator:\n\n        0\n\n End:\n\n";
  std::vector<PrintedFunction> functions;
  std::string error;
  ASSERT_TRUE(parse_printed_functions(text, functions, error)) << error;
  ASSERT_EQ(functions.size(), 1u);
  EXPECT_TRUE(functions[0].denominator.printed_as_zero);
  const auto& term = functions[0].numerator.buckets.at(0).at(0);
  EXPECT_EQ(term.coefficient, -2.5);
  EXPECT_EQ(term.symbols, (std::vector<std::pair<std::string, int>>{{"R1", 2}, {"gm10", 12}}));
  EXPECT_EQ(functions[0].numerator.buckets.at(12).at(0).coefficient, 1e6);
  std::string bad = text;
  bad.replace(bad.find("R1^2 "), 5, "R1^2");  // an exponent below 10 keeps its blank
  EXPECT_FALSE(parse_printed_functions(bad, functions, error));
}

// --- kavrel against the oracle ------------------------------------------------

namespace {

struct Tally {
  int netlists = 0;
  int functions = 0;
  int agreements = 0;
  int absent = 0;
  int disagreements = 0;
  std::vector<std::string> reports;
};

Complex random_s(std::mt19937_64& rng) {
  const double magnitude = std::uniform_real_distribution<double>(0.3, 2.0)(rng);
  const double angle = std::uniform_real_distribution<double>(-3.1, 3.1)(rng);
  return std::polar(magnitude, angle);
}

double tolerance_for(const Netlist& netlist) {
  // Numeric values reach the output through six significant digits.
  return numeric_values(netlist).empty() ? 1e-7 : 2e-5;
}

void report(Tally& tally, const std::string& text) {
  ++tally.disagreements;
  if (tally.reports.size() < 12) tally.reports.push_back(text);
}

// Checks every ordinary function printed for one netlist in output.
void check_output(const Netlist& netlist, const std::string& output, std::mt19937_64& rng, Tally& tally,
                  int points = 2) {
  ++tally.netlists;
  std::vector<PrintedFunction> functions;
  std::string error;
  if (!parse_printed_functions(output, functions, error)) {
    report(tally, "unreadable output (" + error + ") for netlist:\n" + netlist.text);
    return;
  }
  std::vector<RowFunction> matched;
  if (!match_rows(functions, selected_rows(netlist), netlist.port_labels, netlist.norm_mode, false, matched,
                  error)) {
    report(tally, error + "\nnetlist:\n" + netlist.text);
    return;
  }
  const double tolerance = tolerance_for(netlist);
  std::vector<Verdict> verdicts(matched.size(), Verdict::agree);
  std::vector<bool> failed(matched.size(), false);
  for (int point = 0; point < points; ++point) {
    const std::map<std::string, double> values = choose_symbol_values(netlist, rng);
    const Complex s = random_s(rng);
    const std::vector<ParameterValue> expected = reference_values(netlist, values, s);
    for (size_t k = 0; k < matched.size(); ++k) {
      if (failed[k]) continue;
      const int row = matched[k].row;
      const char* name = primary_parameter_names[row];
      std::string unknown;
      const PolynomialValue numerator = evaluate_polynomial(matched[k].function->numerator, values, s, &unknown);
      const PolynomialValue denominator = evaluate_polynomial(matched[k].function->denominator, values, s, &unknown);
      if (!unknown.empty()) {
        report(tally, "symbol '" + unknown + "' in " + name + " is no element of netlist:\n" + netlist.text);
        failed[k] = true;
        continue;
      }
      const Comparison comparison = compare_with_reference(numerator, denominator, expected[row].numerator,
                                                           expected[row].denominator, tolerance);
      std::ostringstream message;
      if (comparison.verdict == Verdict::disagree) {
        message << name << " at s = " << s << ": " << comparison.detail << "\nnetlist:\n" << netlist.text;
      } else if (point > 0 && comparison.verdict != verdicts[k]) {
        message << name << " exists at one point and not at another for netlist:\n" << netlist.text;
      } else {
        verdicts[k] = comparison.verdict;
        continue;
      }
      report(tally, message.str());
      failed[k] = true;
    }
  }
  for (size_t k = 0; k < matched.size(); ++k) {
    ++tally.functions;
    if (failed[k]) continue;
    if (verdicts[k] == Verdict::agree) ++tally.agreements;
    if (verdicts[k] == Verdict::both_absent) ++tally.absent;
  }
}

std::string summary(const Tally& tally) {
  std::ostringstream out;
  out << tally.netlists << " netlists, " << tally.functions << " functions: " << tally.agreements << " agree, "
      << tally.absent << " exist on neither side, " << tally.disagreements << " disagreements";
  for (const std::string& text : tally.reports) out << "\n---\n" << text;
  return out.str();
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// Output of a run cut into the parts that follow each "input data:" header.
std::vector<std::string> per_netlist_output(const std::string& output) {
  std::vector<std::string> parts;
  const std::string marker = "\ninput data:\n";
  size_t at = output.find(marker);
  while (at != std::string::npos) {
    const size_t next = output.find(marker, at + marker.size());
    parts.push_back(output.substr(at, next == std::string::npos ? std::string::npos : next - at));
    at = next;
  }
  return parts;
}

std::vector<std::string> ordinary_parameter_words(std::mt19937_64& rng, bool subset) {
  std::vector<std::string> words;
  std::bernoulli_distribution pick(0.15);
  std::bernoulli_distribution alternate(0.3);
  for (int row = 0; row < 24; ++row)
    if (!subset || pick(rng)) words.push_back(alternate(rng) ? alternate_parameter_names[row] : primary_parameter_names[row]);
  if (words.empty()) words.push_back("g21");
  std::shuffle(words.begin(), words.end(), rng);
  return words;
}

int absent_functions(const Netlist& netlist, std::mt19937_64& rng) {
  int absent = 0;
  for (const ParameterValue& value : reference_values(netlist, choose_symbol_values(netlist, rng), random_s(rng)))
    absent += value.numerator == 0.0 && value.denominator == 0.0;
  return absent;
}

}  // namespace

TEST(KavrelAgainstOracle, SampleNetlists) {
  const std::string path = std::string(KAVREL_SOURCE_DIR) + "/examples/samples.net";
  const std::string input = read_file(path);
  ASSERT_FALSE(input.empty()) << "cannot read " << path;
  const std::vector<Netlist> netlists = parse_netlists(input);
  ASSERT_GE(netlists.size(), 20u) << "the sample file should hold the sample netlists";
  const std::vector<std::string> outputs = per_netlist_output(kavrel_test::run_kavrel_on(input));
  ASSERT_GE(outputs.size(), netlists.size());
  std::mt19937_64 rng(20261208);
  Tally tally;
  for (size_t k = 0; k < netlists.size(); ++k) check_output(netlists[k], outputs[k], rng, tally, 3);
  std::cout << "[ oracle   ] samples: " << summary(tally) << "\n";
  EXPECT_EQ(tally.disagreements, 0) << summary(tally);
  EXPECT_GT(tally.agreements, 40) << summary(tally);
}

TEST(KavrelAgainstOracle, RandomNetlistsOfEveryElementKind) {
  std::mt19937_64 rng(1208);
  RandomNetlistOptions options;
  options.max_elements = 8;
  options.max_generated_nodes = 6;
  Tally tally;
  std::map<ElementKind, int> kinds_seen;
  int negated = 0;
  int with_values = 0;
  int shared_port_nodes = 0;
  int rational = 0;
  for (int k = 0; k < 320; ++k) {
    Netlist netlist = random_netlist(rng, options);
    // Most networks whose port quantities are over-constrained are passed
    // over, so that the comparisons mostly concern functions that exist.
    while (absent_functions(netlist, rng) > 4 && std::bernoulli_distribution(0.85)(rng))
      netlist = random_netlist(rng, options);
    // Every tenth netlist asks for all 24 functions, the others for a few, so
    // that each row is still compared on some seventy networks.
    netlist.parameter_words = ordinary_parameter_words(rng, k % 10 != 0);
    if (k % 5 == 2) netlist.test_bitmap = 4096;  // the rational form
    netlist.text = format_netlist(netlist);
    for (const NetlistElement& element : netlist.elements) {
      ++kinds_seen[element.kind];
      negated += element.negated;
    }
    with_values += !numeric_values(netlist).empty();
    const std::set<unsigned> port_nodes(netlist.port_labels, netlist.port_labels + 4);
    shared_port_nodes += port_nodes.size() < 4;
    rational += netlist.test_bitmap == 4096;
    check_output(netlist, kavrel_test::run_kavrel_on(netlist.text), rng, tally);
  }
  std::cout << "[ oracle   ] random: " << summary(tally) << "\n";
  EXPECT_EQ(tally.disagreements, 0) << summary(tally);
  EXPECT_EQ(kinds_seen.size(), 13u);
  EXPECT_GT(negated, 30);
  EXPECT_GT(with_values, 30);
  EXPECT_GT(shared_port_nodes, 100);
  EXPECT_GT(rational, 50);
  // Networks in which most functions do not exist would prove little.
  EXPECT_GT(tally.agreements, 4 * tally.absent) << summary(tally);
}
