#include "trees/tree_enumerator.h"

#include "trees/union_find.h"

namespace kavrel {

static_assert(NodeSets::kSlots >= kEnumNodeSlots);

namespace {

// Without a target flag for the instruction, std::popcount becomes a library
// call, which costs more than these few operations in the hot paths here.
inline int count_ones(uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ULL);
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
  return static_cast<int>((x * 0x0101010101010101ULL) >> 56);
}

int v_graph_node_count(const EdgeLists& lists, int nodes) {
  for (int e = 2; e <= lists.edges; ++e) {
    if (lists.vnode1[e] == nodes || lists.vnode2[e] == nodes) return nodes;
  }
  return nodes - 1;
}

// Component numbers stay dense: hi joins lo, the numbers above hi close up.
void merge_labels(NodeLabels& labels, int label_a, int label_b) {
  const int lo = label_a < label_b ? label_a : label_b;
  const int hi = label_a < label_b ? label_b : label_a;
  // Over the whole padded block, without branches, so that it vectorizes;
  // unused slots hold 0, which no rule changes.
  const auto lo8 = static_cast<int8_t>(lo);
  const auto hi8 = static_cast<int8_t>(hi);
  for (int8_t& label : labels.of) {
    const int8_t above = label > hi8 ? 1 : 0;
    const int8_t joined = label == hi8 ? lo8 : label;
    label = static_cast<int8_t>(joined - above);
  }
}

// bypassed[e]: whether the edges after e alone join e's ends. Leaving such an
// edge out of a graph that connects what it must keeps it so, whatever the
// taken edges: the later edges go around it. One sweep from the last edge.
void mark_bypassed(const int32_t* end1, const int32_t* end2, int last_edge, bool* bypassed) {
  NodeSets sets;
  sets.separate_all();
  const auto in_range = [](int v) { return v >= 0 && v < NodeSets::kSlots; };
  for (int e = last_edge < kEdgeSlots ? last_edge : kEdgeSlots - 1; e >= 1; --e) {
    const int a = end1[e];
    const int b = end2[e];
    if (!in_range(a) || !in_range(b)) continue;
    bypassed[e] = sets.root(a) == sets.root(b);
    sets.join(a, b);
  }
}

int smallest_of(const GraphForest& forest, int v) {
  const int smallest = forest.smallest.of[v];
  return smallest != 0 ? smallest : v;
}

}  // namespace

TreeEnumerator::TreeEnumerator(const EdgeLists& lists, const QualificationSettings& qualification,
                               long long raw_tree_limit, const Pruning& pruning,
                               RunMonitor* monitor)
    : lists_(lists),
      qualification_(qualification),
      nodes_(qualification.nodes),
      edges_(lists.edges),
      raw_tree_limit_(raw_tree_limit),
      pruning_(pruning),
      v_node_count_(v_graph_node_count(lists, qualification.nodes)),
      monitor_(monitor),
      track_i_forest_(pruning.incremental_sign),
      track_v_forest_(pruning.incremental_sign || pruning.non_common_trees) {
  if (pruning.dead_alternatives) mark_bypassed(lists.inode1, lists.inode2, edges_, i_bypassed_);
  // The reserved edge is no edge of the v-graph here.
  if (pruning.non_common_trees) {
    v_reach_.build(lists.vnode1, lists.vnode2, 2, lists.edges, v_node_count_);
    mark_bypassed(lists.vnode1, lists.vnode2, edges_, v_bypassed_);
  }
}

void TreeEnumerator::next_tree() {
  if (enum_state == EnumState::kNotStarted) {
    start();
    if (raw_tree_limit_ <= 0) {
      budget_reached = true;
      enum_state = EnumState::kExhausted;
      return;
    }
    if (!anything_to_find()) {
      enum_state = EnumState::kExhausted;
      return;
    }
  } else if (enum_state == EnumState::kTreeReady || enum_state == EnumState::kCut) {
    enum_state = EnumState::kTreeReady;
    if (!backtrack()) return;
  } else if (enum_state == EnumState::kResuming) {
    enum_state = EnumState::kTreeReady;
  } else {
    enum_state = EnumState::kExhausted;
    return;
  }

  for (;;) {
    if (monitor_ != nullptr && monitor_->poll()) {
      abandoned = true;
      enum_state = EnumState::kExhausted;
      return;
    }
    if (next_edge_ > edges_) {
      if (!backtrack()) return;
      continue;
    }
    const int e = next_edge_++;
    const int a = lists_.inode1[e];
    const int b = lists_.inode2[e];
    const int label_a = labels_.of[a];
    const int label_b = labels_.of[b];
    // A self-loop or an edge between nodes of one component closes a cycle.
    const bool closes_cycle = a == b || (label_a != 0 && label_a == label_b);
    const bool v_dead = !closes_cycle && pruning_.non_common_trees && e != 1 && closes_v_cycle(e);

    // The alternative without an ordinary edge is worth saving only if
    // enough edges remain for a spanning tree. Level 0, the alternative
    // without the reserved edge, is saved as it is: it is never resumed.
    bool save_alternative =
        (lists_.dmap[e] & kForcedKinds) == 0 && undeleted_edges_ - 1 >= nodes_ - 1;
    if (save_alternative && e != 1) save_alternative = alternative_may_hold_tree(closes_cycle);

    if (closes_cycle || v_dead) {
      // Saving the alternative and resuming it at once amounts to going on
      // without the edge; level 0 is never resumed.
      if (save_alternative && stack_depth_ >= 1) {
        --undeleted_edges_;
        continue;
      }
      if (save_alternative && !push()) return;
      if (!backtrack()) return;
      continue;
    }
    if (save_alternative && !push()) return;
    take_edge(e, label_a, label_b);

    // Also after an edge joining two fresh nodes: with a single real node
    // the reserved edge alone is the spanning tree.
    if (labelled_nodes_ == nodes_ && next_label_ == 2) {
      if (monitor_ != nullptr) monitor_->set_raw_trees(raw_tree_count + 1);
      if (++raw_tree_count >= raw_tree_limit_) {
        budget_reached = true;
        enum_state = EnumState::kExhausted;
        return;
      }
      if (qualify_raw_tree(qualification_, tree_, raw_tree_count)) return;
      if (!backtrack()) return;
    } else if (cut_depth_ > 0 && free_edges_taken() >= cut_depth_) {
      cut_ = point_here();
      cut_.tree_ready = false;
      enum_state = EnumState::kCut;
      return;
    }
  }
}

EnumerationPoint TreeEnumerator::point_of(const StackLevel& state, bool tree_ready) const {
  EnumerationPoint point;
  point.state = state;
  point.tree_ready = tree_ready;
  // A saved level's taken edges are the first of the present ones: edges are
  // taken in increasing order, and only appended below the level.
  for (int k = 1; k <= state.tree_edges; ++k) point.edge[k] = static_cast<uint8_t>(tree_.edge[k]);
  return point;
}

EnumerationPoint TreeEnumerator::point_here() const {
  return point_of(state_here(), enum_state == EnumState::kTreeReady);
}

EnumerationPoint TreeEnumerator::pending_point(int i) const {
  return point_of(stack_[stack_depth_ - 1 - i], false);
}

// The stack keeps level 0 only, which is never resumed: the search ends
// where it would return above the point.
void TreeEnumerator::resume_at(const EnumerationPoint& point) {
  restore(point.state);
  for (int k = 1; k <= tree_.count; ++k) tree_.edge[k] = point.edge[k];
  stack_depth_ = 1;
  enum_state = point.tree_ready ? EnumState::kTreeReady : EnumState::kResuming;
}

void TreeEnumerator::start() {
  enum_state = EnumState::kTreeReady;
  labels_ = NodeLabels{};
  i_forest_ = GraphForest{NodeLabels{}, 0, 1};
  v_forest_ = GraphForest{NodeLabels{}, 0, 1};
  v_cycle_ = false;
  stack_depth_ = 0;
  next_label_ = 1;
  next_edge_ = 1;
  undeleted_edges_ = edges_;
  labelled_nodes_ = 0;
  tree_.count = 0;
  tree_.kinds = 0;
  tree_.opamps = 0;
  raw_tree_count = 0;
}

// Takes edge e (its endpoints labelled label_a, label_b) into the partial
// tree; it closes no cycle.
void TreeEnumerator::take_edge(int e, int label_a, int label_b) {
  if (e != 1) {
    const int32_t kind = lists_.dmap[e];
    tree_.edge[++tree_.count] = e;
    tree_.kinds |= kind;
    tree_.opamps += kind & kKindOpamp;
    if (track_i_forest_) join(i_forest_, lists_.inode1[e], lists_.inode2[e]);
    if (track_v_forest_ && !join(v_forest_, lists_.vnode1[e], lists_.vnode2[e])) v_cycle_ = true;
  }
  int8_t* label = labels_.of;
  const int a = lists_.inode1[e];
  const int b = lists_.inode2[e];
  if (label_a == 0 && label_b == 0) {
    label[a] = label[b] = static_cast<int8_t>(next_label_++);
    labelled_nodes_ += 2;
  } else if (label_a == 0) {
    label[a] = static_cast<int8_t>(label_b);
    ++labelled_nodes_;
  } else if (label_b == 0) {
    label[b] = static_cast<int8_t>(label_a);
    ++labelled_nodes_;
  } else {
    merge_components(label_a, label_b);
  }
}

void TreeEnumerator::merge_components(int label_a, int label_b) {
  merge_labels(labels_, label_a, label_b);
  --next_label_;
}

// Whether taking edge e would close a cycle in the v-graph among the taken
// edges but the reserved one.
bool TreeEnumerator::closes_v_cycle(int e) const {
  const int a = lists_.vnode1[e];
  const int b = lists_.vnode2[e];
  return a == b || smallest_of(v_forest_, a) == smallest_of(v_forest_, b);
}

// Joins the components of a and b; false when they are one already (the
// forest is then unchanged).
bool TreeEnumerator::join(GraphForest& forest, int a, int b) const {
  const int smallest_a = smallest_of(forest, a);
  const int smallest_b = smallest_of(forest, b);
  if (smallest_a == smallest_b) return false;
  const int lo = smallest_a < smallest_b ? smallest_a : smallest_b;
  const int hi = smallest_a < smallest_b ? smallest_b : smallest_a;
  if (pruning_.incremental_sign) {
    // The pivot, and the rows retired before that come after row hi.
    const bool pivot_negative = smallest_a != hi;
    const bool odd_inversions = (count_ones(forest.retired >> (hi + 1)) & 1) != 0;
    if (pivot_negative != odd_inversions) forest.sign = -forest.sign;
    forest.retired |= uint64_t{1} << hi;
  }
  const auto lo8 = static_cast<int8_t>(lo);
  const auto hi8 = static_cast<int8_t>(hi);
  // The block pass comes before the two single stores: a vector load of
  // bytes just stored one by one would wait for them.
  for (int8_t& label : forest.smallest.of) label = label == hi8 ? lo8 : label;
  forest.smallest.of[a] = lo8;
  forest.smallest.of[b] = lo8;
  return true;
}

// Whether the components of `labels` (label 0: a node on its own; there
// are `components` of them among the nodes), joined by the i-graph's edges
// from `first` on, connect all of them.
//
// Called for nearly every saved alternative, so the sets are those of the
// components rather than of the nodes: a labelled node stands for its label,
// a node on its own for kLoneNodeIds + its number, and no pass over the nodes
// joins those of one label first. The scan stops as soon as one component is
// left, which in the i-graph, whose labels are few and dense, comes sooner
// than a walk over the nodes would end.
bool TreeEnumerator::i_graph_connected(const NodeLabels& labels, int components, int first) const {
  constexpr int kLoneNodeIds = 64;
  static_assert(sizeof(NodeLabels::of) <= kLoneNodeIds);
  const auto id_of = [&labels](int v) {
    const int label = labels.of[v] & (kLoneNodeIds - 1);
    return label != 0 ? label : kLoneNodeIds + v;
  };
  DisjointSets<kLoneNodeIds + kEnumNodeSlots> sets;
  sets.separate_all();
  for (int f = first; f <= edges_ && components > 1; ++f) {
    if (sets.join(id_of(lists_.inode1[f]), id_of(lists_.inode2[f]))) --components;
  }
  return components == 1;
}

// For the alternative without the edge just decided (next_edge_ - 1, not
// the reserved edge): whether it may still hold a tree that is wanted.
bool TreeEnumerator::alternative_may_hold_tree(bool closes_cycle) const {
  // An edge that closes a cycle leaves the remaining i-graph connected.
  if (pruning_.dead_alternatives && !closes_cycle && !i_bypassed_[next_edge_ - 1] &&
      !i_graph_connected(labels_, (next_label_ - 1) + (nodes_ - labelled_nodes_), next_edge_)) {
    return false;
  }
  return !pruning_.non_common_trees || v_bypassed_[next_edge_ - 1] ||
         v_reach_.connects_without(v_forest_.smallest, next_edge_ - 1,
                                   lists_.vnode1[next_edge_ - 1], lists_.vnode2[next_edge_ - 1],
                                   nodes_ - 1);
}

// Before the first decision: whether the whole i-graph (and, when pruning
// for common trees, the v-graph without the reserved edge) is connected.
bool TreeEnumerator::anything_to_find() const {
  const NodeLabels none{};
  if (pruning_.dead_alternatives && !i_graph_connected(none, nodes_, 1)) {
    return false;
  }
  return !pruning_.non_common_trees || v_reach_.connects(none, 2, nodes_ - 1);
}

// Saves the alternative without the edge just selected (next_edge_ - 1).
bool TreeEnumerator::push() {
  if (stack_depth_ >= kStackLevels) {
    // Unreachable: a level is saved only below a partial tree of at most
    // nodes-2 edges. Stop rather than overrun.
    enum_state = EnumState::kExhausted;
    return false;
  }
  StackLevel& level = stack_[stack_depth_++];
  level = state_here();
  // The alternative goes without the edge.
  --level.undeleted_edges;
  return true;
}

// Level 0 holds the alternative without the reserved edge, which holds no
// spanning tree, so the enumeration ends instead of resuming it.
bool TreeEnumerator::backtrack() {
  if (stack_depth_ <= 1) {
    enum_state = EnumState::kExhausted;
    return false;
  }
  restore(stack_[--stack_depth_]);
  return true;
}

StackLevel TreeEnumerator::state_here() const {
  StackLevel state;
  state.labels = labels_;
  state.i_forest = i_forest_;
  state.v_forest = v_forest_;
  state.v_cycle = v_cycle_;
  state.next_label = next_label_;
  state.next_edge = next_edge_;
  state.undeleted_edges = undeleted_edges_;
  state.labelled_nodes = labelled_nodes_;
  state.tree_edges = tree_.count;
  state.tree_kinds = tree_.kinds;
  state.tree_opamps = tree_.opamps;
  return state;
}

void TreeEnumerator::restore(const StackLevel& state) {
  labels_ = state.labels;
  i_forest_ = state.i_forest;
  v_forest_ = state.v_forest;
  v_cycle_ = state.v_cycle;
  next_label_ = state.next_label;
  next_edge_ = state.next_edge;
  undeleted_edges_ = state.undeleted_edges;
  labelled_nodes_ = state.labelled_nodes;
  tree_.count = state.tree_edges;
  tree_.kinds = state.tree_kinds;
  tree_.opamps = state.tree_opamps;
}

}  // namespace kavrel
