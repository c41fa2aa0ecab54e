#pragma once

#include <cstdint>

#include "trees/enumeration.h"
#include "trees/qualification.h"
#include "trees/run_monitor.h"

namespace kavrel {

// Node labels padded to a whole number of vector words, copied as a block.
struct NodeLabels {
  int8_t of[48];
};
static_assert(sizeof(NodeLabels::of) >= kEnumNodeSlots);

// One saved alternative: the state just after an ordinary edge was excluded.
struct StackLevel {
  NodeLabels labels;
  NodeLabels v_labels;
  int next_label;
  int next_v_label;
  int next_edge;
  int undeleted_edges;
  int labelled_nodes;
  int tree_edges;
  int32_t tree_kinds;
  int tree_opamps;
};

// Shortcuts past parts of the search that hold nothing wanted.
struct Pruning {
  // Exact: an alternative whose remaining edges (taken and undecided) no
  // longer connect every node holds no spanning tree and is not saved. The
  // raw i-trees and their order stay the same.
  bool dead_alternatives = false;
  // Only for when raw i-trees are neither listed nor counted: a partial tree
  // is abandoned once it cannot become a common tree, because its edges but
  // the reserved one close a cycle in the v-graph or because the taken and
  // undecided edges no longer connect the network's nodes in the v-graph.
  bool non_common_trees = false;
};

// Where the generator stands between two calls of next_tree().
enum class EnumState {
  kNotStarted,  // the next call starts afresh
  kTreeReady,   // a common tree has just been delivered in tree()
  kExhausted,   // no tree is left
};

// Minty's enumeration of the spanning trees of the i-graph with Chan's
// explicit stack, run as a generator: next_tree() resumes where the previous
// call delivered a common tree.
//
// Edges are decided strictly in increasing order: the edges below next_edge
// are decided, the others undecided. The taken edges (but the reserved one)
// are therefore kept in increasing order in tree_, and a saved level only
// needs the length of that list, the node labels and a few counts; the
// counts of undeleted edges and of labelled nodes stand in for rescanning
// the marks and the labels.
class TreeEnumerator {
 public:
  TreeEnumerator(const EdgeLists& lists, const QualificationSettings& qualification,
                 long long raw_tree_limit, const Pruning& pruning, RunMonitor* monitor);

  EnumState enum_state = EnumState::kNotStarted;
  long long raw_tree_count = 0;
  bool budget_reached = false;
  // The run's output failed: the enumeration was abandoned.
  bool abandoned = false;

  const TreeEdgeList& tree() const { return tree_; }

  void next_tree();

 private:
  void start();
  void take_edge(int e, int label_a, int label_b);
  void merge_components(int label_a, int label_b);
  bool closes_v_cycle(int e) const;
  void take_v_edge(int e);
  bool joined(const NodeLabels& labels, const int32_t* end1, const int32_t* end2, int first,
              int node_count, int required) const;
  bool alternative_may_hold_tree(bool closes_cycle) const;
  bool anything_to_find() const;
  bool push();
  bool backtrack();

  const EdgeLists& lists_;
  const QualificationSettings& qualification_;
  const int nodes_;
  const int edges_;
  const long long raw_tree_limit_;
  const Pruning pruning_;
  // Nodes the v-graph edges but edge 1 touch: the reserved node only in
  // tables not built by the reader.
  const int v_node_count_;
  RunMonitor* const monitor_;

  NodeLabels labels_{};
  NodeLabels v_labels_{};  // components of the taken edges but edge 1 in the v-graph
  int next_label_ = 1;
  int next_v_label_ = 1;
  int next_edge_ = 1;
  int undeleted_edges_ = 0;
  int labelled_nodes_ = 0;
  int stack_depth_ = 0;
  TreeEdgeList tree_;
  StackLevel stack_[kStackLevels];
};

}  // namespace kavrel
