#pragma once

// An independent reference for kavrel's printed functions: a small complex
// modified-nodal-analysis solver. Every element is modelled by what it does at
// its terminals, never by the unit-element sub-networks that kavrel expands it
// into, so the two computations share nothing but the element definitions.

#include <complex>
#include <string>
#include <vector>

namespace kavrel_oracle {

using Complex = std::complex<double>;

enum class ElementKind { r, l, c, g, y, z, gm, gy, o, u, b, rm, m };

// Kind from a netlist name: first letter in either case, gm gy rm by two.
ElementKind kind_of_name(const std::string& name);
bool is_two_port(ElementKind kind);

// nodes: one-ports use [0] and [1]; two-ports are (+out, -out, +in, -in).
// value: resistance, inductance, capacitance, conductance, admittance,
// impedance, transconductance, gyration conductance, (unused for o), voltage
// gain, current gain, transresistance, mutual inductance.
// negated: a one-port behaves as minus itself; a two-port has its output
// terminals exchanged.
struct CircuitElement {
  ElementKind kind;
  int nodes[4];
  double value;
  bool negated;
};

// Nodes are 0..node_count-1; node 0 is the reference.
struct Circuit {
  int node_count = 0;
  std::vector<CircuitElement> elements;
};

// Dense linear system assembled from stamps. Unknowns are the voltages of
// nodes 1..n-1 followed by extra branch currents, each with its own equation.
struct MnaSystem {
  int node_count = 0;
  int extra_count = 0;
  std::vector<std::vector<Complex>> matrix;
  std::vector<Complex> rhs;
};

MnaSystem make_system(int node_count);
int voltage_unknown(int node);  // -1 for the reference node
int add_extra_unknown(MnaSystem& system);  // returns the unknown (and its equation row)
void stamp_admittance(MnaSystem& system, int a, int b, Complex y);
// Current gain*(v(c)-v(d)) leaves node a through the source and enters node b.
void stamp_vccs(MnaSystem& system, int a, int b, int c, int d, Complex gain);
// Norator (a, b) and nullator (c, d); returns the norator current unknown.
int stamp_nullor(MnaSystem& system, int a, int b, int c, int d);
// v(a)-v(b) = gain*(v(c)-v(d)); returns the source current unknown (a to b).
int stamp_vcvs(MnaSystem& system, int a, int b, int c, int d, Complex gain);
// A short from c to d whose current (c to d) is the returned unknown.
int stamp_current_sensing_short(MnaSystem& system, int c, int d);
// A source fixing v(p)-v(n) = value; the returned unknown is the current it
// drives into p (and takes back out of n).
int stamp_voltage_source(MnaSystem& system, int p, int n, Complex value);
// Injects current into p and takes it out of n.
void stamp_current_injection(MnaSystem& system, int p, int n, Complex current);
void stamp_element(MnaSystem& system, const CircuitElement& element, Complex s);

// Solves in place; false when the matrix is singular.
bool solve(const MnaSystem& system, std::vector<Complex>& solution);

// Determinant by Gaussian elimination with partial pivoting; a pivot below a
// small fraction of the largest entry counts as an exact zero.
Complex determinant(std::vector<std::vector<Complex>> matrix);

// A linear functional of the solution: coefficients over the unknowns plus a
// constant (for a quantity that is a source value).
struct Functional {
  std::vector<Complex> coefficients;
  Complex constant = 0.0;
};

// det(M) * (c^T x + d), computed as one bordered determinant so that it stays
// meaningful (as a polynomial in the element values) when M is singular.
Complex cramer_numerator(const MnaSystem& system, const Functional& quantity);

// --- Two-port parameters from their definitions -------------------------

enum class QuantityKind { voltage, current, reversed_current };

struct PortQuantity {
  QuantityKind kind;
  int port;  // 1 or 2
};

// numerator quantity / denominator quantity with the held quantity at zero.
struct ParameterDefinition {
  const char* name;  // primary p-entry name
  const char* letter;
  int first_port;
  int second_port;
  PortQuantity numerator;
  PortQuantity denominator;
  PortQuantity held;
};

// g h y z, A B C D, a b c d, in kavrel's row order (rows 0..23).
extern const ParameterDefinition ordinary_parameters[24];

// Both sides of a parameter as polynomial-like quantities: numerator and
// denominator are det(M) times the two port quantities of one excited system,
// so numerator/denominator is the parameter and both vanish together exactly
// when the parameter's two topological functions do.
struct ParameterValue {
  Complex numerator;
  Complex denominator;
};

// port_nodes: +p1, -p1, +p2, -p2 as circuit nodes. The port opposite the
// held quantity is driven by a unit current into its + terminal; the held
// port is shorted (held voltage) or left open (held current).
ParameterValue evaluate_parameter(const Circuit& circuit, const int port_nodes[4],
                                  const ParameterDefinition& definition, Complex s);

// All 24 ordinary parameters at once, in row order (the four excited systems
// and their determinants shared between rows).
std::vector<ParameterValue> evaluate_ordinary_parameters(const Circuit& circuit, const int port_nodes[4],
                                                         Complex s);

// Circuit element value as an admittance for one-ports (negation applied).
Complex one_port_admittance(const CircuitElement& element, Complex s);

// --- Scattering embedding -----------------------------------------------

// The normalizing element of a port: 0 admittance Y0, 1 impedance Z0, other
// values a unit conductance.
struct Normalization {
  int mode = 0;
  double y0 = 1.0;
  double z0 = 1.0;
  // A normalizing network given as a sub-circuit between two nodes of the
  // circuit (first node takes the place of the normalizing element's free
  // end, second node is wired to the port's + terminal); -1 when absent.
  int network_first[2] = {-1, -1};
  int network_second[2] = {-1, -1};
  // Elements of the circuit that form the normalizing networks; their
  // reactive members are conjugated for the numerators.
  std::vector<bool> in_network;
};

struct EmbeddedCircuit {
  Circuit circuit;
  int port_nodes[4];
};

// The op-amp embedding with unit conductances and one normalizing element or
// network per port; new ports are (E1, -p1) and (E5, -p2). With conjugate set,
// every capacitance, inductance and mutual inductance of the normalizing
// networks is negated.
EmbeddedCircuit embed_for_scattering(const Circuit& circuit, const int port_nodes[4],
                                     const Normalization& normalization, bool conjugate);

}  // namespace kavrel_oracle
