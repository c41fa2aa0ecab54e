#pragma once

// Netlists as the oracle sees them: a reader of its own for netlist text (used
// on the sample file), a writer, a seeded generator of random connected
// netlists, and the translation into an MNA circuit with numeric values.

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/mna.h"

namespace kavrel_oracle {

struct NetlistElement {
  std::string name;  // at most 12 characters
  ElementKind kind;
  unsigned labels[4];  // one-ports use the first two
  bool negated = false;
  bool has_value_entry = false;  // a v entry follows the element
  double value_entry = 0.0;
};

struct Netlist {
  std::vector<NetlistElement> elements;
  bool has_port = false;
  unsigned port_labels[4] = {0, 0, 0, 0};
  std::vector<std::string> parameter_words;  // p entries in input order
  unsigned norm_mode = 0;
  bool has_norm_network[2] = {false, false};
  unsigned norm_network_labels[2][2] = {{0, 0}, {0, 0}};
  unsigned test_bitmap = 0;
  std::string text;  // the netlist as written, up to and including its end entry
};

// Reads every complete netlist of an input (entries as kavrel reads them:
// nested comments, the separators, truncation of names to 12 characters,
// the value of a v entry going to the element before it or, after any other
// entry, to the next element). Stops at the first malformed entry.
std::vector<Netlist> parse_netlists(const std::string& input);

// The netlist as input text, ending with "e\n".
std::string format_netlist(const Netlist& netlist);

// Name -> numeric value: the first nonzero v entry of any instance of a name.
std::map<std::string, double> numeric_values(const Netlist& netlist);

// True for the rows selected by the p entries (all 32 when there is none);
// index by kavrel's row order 0..31 (24..31 are s11..s22, F11..F22).
std::vector<bool> selected_rows(const Netlist& netlist);
extern const char* const primary_parameter_names[32];
extern const char* const alternate_parameter_names[32];

// Symbol values for one evaluation point: numeric values where given, random
// ones in [low, high] elsewhere. Names of all elements are included.
std::map<std::string, double> choose_symbol_values(const Netlist& netlist, std::mt19937_64& rng,
                                                   double low = 0.5, double high = 2.0);

// The circuit with node 0 the node of the first label met; label_to_node
// receives the mapping. in_network marks elements of normalizing networks:
// those reachable from the n1/n2 nodes through element pairs.
Circuit to_circuit(const Netlist& netlist, const std::map<std::string, double>& values,
                   std::map<unsigned, int>* label_to_node = nullptr);

// Elements reachable from the nodes of the n1 and n2 entries through the
// terminal pairs of elements (one-ports, and each pair of a two-port).
std::vector<bool> normalizing_network_members(const Netlist& netlist);

// Nodes connected when every one-port and every terminal pair of a two-port
// counts as an edge.
bool is_connected(const Netlist& netlist);

struct RandomNetlistOptions {
  int min_elements = 3;
  int max_elements = 9;
  int max_labels = 5;  // distinct node labels, port nodes included
  bool numeric_values = true;
  bool negation = true;
  bool repeated_names = true;
  bool all_kinds = true;  // otherwise only r l c g y z gm
  int max_generated_nodes = 7;  // budget for the nodes that expansions add
};

// A random connected netlist with a port designator (no p, n or t entry).
Netlist random_netlist(std::mt19937_64& rng, const RandomNetlistOptions& options = {});

}  // namespace kavrel_oracle
