#pragma once

#include <cstdint>

#include "trees/enumeration.h"
#include "trees/qualification.h"
#include "trees/run_monitor.h"
#include "trees/suffix_reach.h"

namespace kavrel {

// The components of the taken edges but the reserved one in one graph, each
// named by its smallest node (0: a node no taken edge touches). With the
// sign tracked: the nodes whose rows the reduced incidence matrix of these
// edges has retired (below), and that matrix's sign so far.
//
// Taking edge e joins components lo < hi: row lo += row hi clears column e
// but for row hi, whose other entries in earlier columns are 0. Ordered by the
// columns they were retired at, the rows form a triangular matrix, so the
// determinant is the product of the pivots (+1 where e's first endpoint lies
// in hi) and the sign of the order of the retired rows. Row 1, the reference
// node's, is never retired, so that it drops out of the matrix.
struct GraphForest {
  NodeLabels smallest;
  uint64_t retired;
  int sign;
};

// One saved alternative: the state just after an ordinary edge was excluded.
struct StackLevel {
  NodeLabels labels;
  GraphForest i_forest;
  GraphForest v_forest;
  int next_label;
  int next_edge;
  int undeleted_edges;
  int labelled_nodes;
  int tree_edges;
  int32_t tree_kinds;
  int tree_opamps;
  bool v_cycle;
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
  // Not a shortcut past trees: the sign of each common tree is kept up as
  // edges are taken and released, instead of walking both trees. Only for
  // graphs in which no edge but the reserved one touches the reserved node.
  bool incremental_sign = false;
};

// Where the generator stands between two calls of next_tree().
enum class EnumState {
  kNotStarted,  // the next call starts afresh
  kTreeReady,   // a common tree has just been delivered in tree()
  kCut,         // a point was cut off in cut_point(); the next call goes on past its trees
  kResuming,    // the next call goes on from the point given to resume_at()
  kExhausted,   // no tree is left
};

// A point of the search that another enumerator can go on from, as when the
// trees of one enumeration are shared out: the whole state just after an
// edge was taken, or just as a common tree was delivered. Going on from it
// until the search would return above it enumerates the trees below it, in
// the order of the whole enumeration.
struct EnumerationPoint {
  StackLevel state;
  bool tree_ready;
  uint8_t edge[kEdgeSlots];  // the taken edges but the reserved one, from 1
};
static_assert(kMaxEdges <= UINT8_MAX, "an edge number fits a point's list");

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
  // With the sign tracked: the sign of the common tree in tree(), the product
  // of its reduced incidence determinants in both graphs.
  int tree_sign() const { return i_forest_.sign * v_forest_.sign; }

  void next_tree();

  // From now on, the search stops at every state with `depth` free edges
  // taken or more, just after an edge was taken and short of a tree: the
  // state is then in cut_point() (enum_state kCut), and the next call goes
  // on past the trees below it. 0: never.
  void cut_at_depth(int depth) { cut_depth_ = depth; }
  // The taken edges that a tree may go without: all but the op amps and
  // the port pseudo-branches. Cuts are made by their number.
  int free_edges_taken() const {
    return tree_.count - tree_.opamps - ((tree_.kinds & kKindFirstPort) != 0 ? 1 : 0) -
           ((tree_.kinds & kKindSecondPort) != 0 ? 1 : 0);
  }
  const EnumerationPoint& cut_point() const { return cut_; }
  // The point of a common tree just delivered.
  EnumerationPoint point_here() const;
  // After a tree was delivered: the search still to come is the saved
  // alternatives, pending_point(0) first; each is a point to go on from.
  int pending_count() const { return stack_depth_ > 1 ? stack_depth_ - 1 : 0; }
  EnumerationPoint pending_point(int i) const;
  // Goes on from `point`, taken from an enumerator over the same lists and
  // settings: a tree point is delivered as it stands (enum_state kTreeReady),
  // and next_tree() then delivers the trees below the point one by one.
  // raw_tree_count adds up over the points.
  void resume_at(const EnumerationPoint& point);

 private:
  void start();
  void take_edge(int e, int label_a, int label_b);
  void merge_components(int label_a, int label_b);
  bool closes_v_cycle(int e) const;
  bool join(GraphForest& forest, int a, int b) const;
  bool i_graph_connected(const NodeLabels& labels, int components, int first) const;
  bool alternative_may_hold_tree(bool closes_cycle) const;
  bool anything_to_find() const;
  bool push();
  bool backtrack();
  // The state but for the stack, the taken edges beyond their count aside.
  StackLevel state_here() const;
  void restore(const StackLevel& state);
  EnumerationPoint point_of(const StackLevel& state, bool tree_ready) const;

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
  // The v-graph's edges, for the pruning of non-common trees.
  SuffixReach v_reach_;
  // Edges whose ends the later edges alone join, in each graph: leaving one
  // out never disconnects the alternative.
  bool i_bypassed_[kEdgeSlots] = {};
  bool v_bypassed_[kEdgeSlots] = {};

  // Whether the forests below are kept up.
  const bool track_i_forest_;
  const bool track_v_forest_;

  NodeLabels labels_{};
  GraphForest i_forest_{};
  GraphForest v_forest_{};
  // A taken edge but the reserved one closed a cycle in the v-graph.
  bool v_cycle_ = false;
  int next_label_ = 1;
  int next_edge_ = 1;
  int undeleted_edges_ = 0;
  int labelled_nodes_ = 0;
  int stack_depth_ = 0;
  int cut_depth_ = 0;
  EnumerationPoint cut_{};
  TreeEdgeList tree_;
  StackLevel stack_[kStackLevels];
};

}  // namespace kavrel
