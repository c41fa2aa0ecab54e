#pragma once

#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"

namespace kavrel {

// Every answer to "does this fit the network tables" comes from here: the
// limits of reading, which the help and the resource listing print, and the
// slot capacities behind them, which also hold the overshoot of one entry and
// the scattering stage's circuitry.

// Limits of reading. An entry that leaves a count at its limit ends the
// reading with a message showing the limit less one. The name list has no
// limit of its own: every edge owns one name slot.
constexpr int kNameListLimit = 90;
constexpr int kLabelledNodeLimit = 35;   // also refuses a new labelled node
constexpr int kGeneratedNodeLimit = 43;  // refuses a new generated node
constexpr int kPassiveLimit = 60;
constexpr int kActiveLimit = 30;

// Highest usable index of each table; slot 0 is never used. kMaxNode is the
// highest internal node.
constexpr int kLastNameSlot = kNameSlots - 1;
constexpr int kLastPassiveEdge = kPassiveSlots - 1;
constexpr int kLastActiveEdge = kActiveSlots - 1;
// Edges of the i-graph and v-graph lists of one evaluation: the network's
// edges and the port pseudo-branches.
constexpr int kEdgeListCapacity = 103;
// An evaluation writes up to two port pseudo-branches into the name slots
// after branch_name_count and adds them to its edge lists.
constexpr int kPseudoBranchSlots = 2;

// The counts of the tables, as they stand or as a change would leave them.
struct TableCounts {
  long long names;
  long long passive_edges;
  long long active_edges;
  long long nodes;
};

TableCounts counts_of(const NetworkTables& net);

// What a change adds to the tables.
struct TableGrowth {
  int names;
  int passive_edges;
  int active_edges;
  int nodes;
};

TableCounts grown(const TableCounts& counts, const TableGrowth& growth);

enum class TableShortage { kNone, kNames, kPassiveEdges, kActiveEdges, kNodes, kEdgeList };

// The first table that counts overflow, keeping pseudo_branches name slots
// and edge-list places free for a later evaluation.
TableShortage first_shortage(const TableCounts& counts, int pseudo_branches);

// Counts no lower than their values after the reset: tables the reader built.
bool counts_valid(const TableCounts& counts);

// Whether an evaluation with pseudo_branches port pseudo-branches fits.
bool evaluation_fits(const TableCounts& counts, int pseudo_branches);

// Whether the scattering embedding or the conjugation can add growth (its
// nodes counted with the rebuilt reserved node) and leave room for every later
// evaluation.
bool augmentation_fits(const NetworkTables& net, const TableGrowth& growth);

// After an entry: prints the message of the first count that reached its
// limit of reading and returns true, else false.
bool reading_limit_reached(const NetworkTables& net, FILE* out);

void print_passive_limit(FILE* out, int32_t passive_edge_count);
void print_active_limit(FILE* out, int32_t active_edge_count);
void print_node_limit(FILE* out, int32_t node_count, int node_limit);

}  // namespace kavrel
