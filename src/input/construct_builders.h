#pragma once

#include <cstdint>

#include "input/network_tables.h"

namespace kavrel {

// The parts that element expansion, the scattering embedding and the
// conjugation generate. Each builder appends its name slots and edges in one
// fixed order, which fixes their slot and edge numbers. Nodes come from the
// caller: the order in which it creates them fixes the node numbering. The
// caller also checks beforehand that the tables can take the parts
// (input/table_limits.h).

// A new name slot holding text (at most 12 characters are kept).
int32_t add_name(NetworkTables& net, const char* text);

void add_passive_edge(NetworkTables& net, int32_t name, int32_t node1, int32_t node2);
void add_active_edge(NetworkTables& net, int32_t name, int32_t out_pos, int32_t out_neg,
                     int32_t in_pos, int32_t in_neg, bool mutual = false);

// An ideal op amp "o": the output pair is the norator, the input pair the
// nullator. Counted in opampcnt.
void add_op_amp(NetworkTables& net, int32_t out_pos, int32_t out_neg, int32_t in_pos,
                int32_t in_neg);

// A unit element "a" as a passive edge: a unit conductance.
void add_unit_conductance(NetworkTables& net, int32_t node1, int32_t node2);
// A unit element "a" as an active edge: a unit-gain controlled source.
void add_unit_source(NetworkTables& net, int32_t out_pos, int32_t out_neg, int32_t in_pos,
                     int32_t in_neg, bool mutual = false);

// Puts passive edge `edge`, from A to B, into a negative impedance converter
// on the new nodes n1 and n2: the edge then runs from A to n1, followed by
// "o" (A, n2, n1, B), "a" (B, n2) and "a" (n1, n2). Between A and B the
// element then behaves as minus itself.
void add_negative_impedance_converter(NetworkTables& net, int32_t edge, int32_t n1, int32_t n2);

// Passive edge 1, "x", from a new unlabelled highest node to node 1. Nothing
// is written when the node table has no node left.
void add_reserved_edge(NetworkTables& net);

}  // namespace kavrel
