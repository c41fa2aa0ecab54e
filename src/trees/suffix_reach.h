#pragma once

#include <cstdint>

#include "trees/enumeration.h"

namespace kavrel {

// Node labels padded to a whole number of vector words, copied as a block.
struct NodeLabels {
  int8_t of[48];
};
static_assert(sizeof(NodeLabels::of) >= kEnumNodeSlots);

// For each edge f, the neighbours of every node over the edges from f on, as
// bit sets. The search asks for nearly every alternative it saves whether
// the edges still undecided (those from some f on) connect the components
// of the taken ones; with the neighbours at hand that is a walk over at
// most one word per node, instead of a pass over the edges.
class SuffixReach {
 public:
  static_assert(kEnumNodeSlots < 64, "a node set and one more bit fit a word");

  // The edges first_edge..last_edge between end1 and end2, over nodes
  // 1..node_count; an edge below first_edge is left out.
  void build(const int32_t* end1, const int32_t* end2, int first_edge, int last_edge,
             int node_count);

  // Whether the components of `labels` (the nodes of one nonzero label
  // together, a node of label 0 on its own), joined by the edges from
  // `first` on, connect nodes 1..required. A graph without nodes connects
  // nothing.
  bool connects(const NodeLabels& labels, int first, int required) const;
  // The same for the edges after `edge` (between a and b), where `labels`
  // joined by the edges from `edge` on connected nodes 1..required; cheaper,
  // as the walk only needs to get from a to b around the edge.
  bool connects_without(const NodeLabels& labels, int edge, int a, int b, int required) const;

 private:
  const uint64_t* neighbours_from(int first) const;
  uint64_t wanted_nodes(int required) const;
  // The nodes reached from `start`'s component over the edges from `first`
  // on; the walk may stop once every node of `goal` is reached.
  uint64_t reach(const NodeLabels& labels, int first, int start, uint64_t goal) const;

  int node_count_ = 0;
  int first_edge_ = 1;
  int last_edge_ = 0;
  int stride_ = 1;
  // Row f - first_edge_, one word per node 0..node_count_; the last row,
  // past every edge, is empty.
  uint64_t neighbours_[(kEdgeSlots + 1) * kEnumNodeSlots];
};

}  // namespace kavrel
