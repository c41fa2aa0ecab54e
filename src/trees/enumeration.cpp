#include "trees/enumeration.h"

#include <climits>

#include "analysis/param_table.h"
#include "trees/qualification.h"
#include "trees/run_monitor.h"
#include "trees/term_index.h"
#include "trees/term_insert.h"
#include "trees/union_find.h"

namespace kavrel {

namespace {

// Node labels padded to a whole number of vector words, copied as a block.
struct NodeLabels {
  int8_t of[48];
};
static_assert(sizeof(NodeLabels::of) >= kEnumNodeSlots);
static_assert(NodeSets::kSlots >= kEnumNodeSlots);

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

int v_graph_node_count(const EdgeLists& lists, int nodes) {
  for (int e = 2; e <= lists.edges; ++e) {
    if (lists.vnode1[e] == nodes || lists.vnode2[e] == nodes) return nodes;
  }
  return nodes - 1;
}

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
                 long long raw_tree_limit, const Pruning& pruning, RunMonitor* monitor)
      : lists_(lists),
        qualification_(qualification),
        nodes_(qualification.nodes),
        edges_(lists.edges),
        raw_tree_limit_(raw_tree_limit),
        pruning_(pruning),
        v_node_count_(v_graph_node_count(lists, qualification.nodes)),
        monitor_(monitor) {}

  // 0 not started, 1 a common tree is ready in tree(), 2 exhausted.
  int enum_state = 0;
  long long raw_tree_count = 0;
  bool budget_reached = false;
  // The run's output failed: the enumeration was abandoned.
  bool abandoned = false;

  const TreeEdgeList& tree() const { return tree_; }

  void next_tree() {
    if (enum_state == 0) {
      start();
      if (raw_tree_limit_ <= 0) {
        budget_reached = true;
        enum_state = 2;
        return;
      }
      if (!anything_to_find()) {
        enum_state = 2;
        return;
      }
    } else if (enum_state == 1) {
      if (!backtrack()) return;
    } else {
      enum_state = 2;
      return;
    }

    for (;;) {
      if (monitor_ != nullptr && monitor_->poll()) {
        abandoned = true;
        enum_state = 2;
        return;
      }
      if (next_edge_ > edges_) {
        if (!backtrack()) return;
        continue;
      }
      const int e = next_edge_++;
      const int a = lists_.inode1[e];
      const int b = lists_.inode2[e];
      int8_t* label = labels_.of;
      const int label_a = label[a];
      const int label_b = label[b];
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
      if (e != 1) {
        const int32_t kind = lists_.dmap[e];
        tree_.edge[++tree_.count] = e;
        tree_.kinds |= kind;
        tree_.opamps += kind & kKindOpamp;
        if (pruning_.non_common_trees) take_v_edge(e);
      }
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

      // Also after an edge joining two fresh nodes: with a single real node
      // the reserved edge alone is the spanning tree.
      if (labelled_nodes_ == nodes_ && next_label_ == 2) {
        if (monitor_ != nullptr) monitor_->set_raw_trees(raw_tree_count + 1);
        if (++raw_tree_count >= raw_tree_limit_) {
          budget_reached = true;
          enum_state = 2;
          return;
        }
        if (qualify_raw_tree(qualification_, tree_, raw_tree_count)) return;
        if (!backtrack()) return;
      }
    }
  }

 private:
  void start() {
    enum_state = 1;
    labels_ = NodeLabels{};
    v_labels_ = NodeLabels{};
    stack_depth_ = 0;
    next_label_ = 1;
    next_v_label_ = 1;
    next_edge_ = 1;
    undeleted_edges_ = edges_;
    labelled_nodes_ = 0;
    tree_.count = 0;
    tree_.kinds = 0;
    tree_.opamps = 0;
    raw_tree_count = 0;
  }

  void merge_components(int label_a, int label_b) {
    merge_labels(labels_, label_a, label_b);
    --next_label_;
  }

  // Component numbers stay dense: hi joins lo, the numbers above hi close up.
  static void merge_labels(NodeLabels& labels, int label_a, int label_b) {
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

  // Whether taking edge e would close a cycle in the v-graph among the taken
  // edges but the reserved one.
  bool closes_v_cycle(int e) const {
    const int a = lists_.vnode1[e];
    const int b = lists_.vnode2[e];
    return a == b || (v_labels_.of[a] != 0 && v_labels_.of[a] == v_labels_.of[b]);
  }

  void take_v_edge(int e) {
    int8_t* label = v_labels_.of;
    const int a = lists_.vnode1[e];
    const int b = lists_.vnode2[e];
    const int label_a = label[a];
    const int label_b = label[b];
    if (label_a == 0 && label_b == 0) {
      label[a] = label[b] = static_cast<int8_t>(next_v_label_++);
    } else if (label_a == 0) {
      label[a] = static_cast<int8_t>(label_b);
    } else if (label_b == 0) {
      label[b] = static_cast<int8_t>(label_a);
    } else {
      merge_labels(v_labels_, label_a, label_b);
      --next_v_label_;
    }
  }

  // Whether the components of `labels` (label 0: a node on its own), joined
  // by the edges from `first` on between end1 and end2, connect nodes
  // 1..required; the edges touch nodes 1..node_count only.
  bool joined(const NodeLabels& labels, const int32_t* end1, const int32_t* end2, int first,
              int node_count, int required) const {
    NodeSets sets;
    sets.separate(node_count);
    int8_t first_node_of[sizeof(NodeLabels::of)] = {};
    int components = 0;
    for (int v = 1; v <= node_count; ++v) {
      const int label = labels.of[v];
      if (label != 0 && first_node_of[label] != 0) {
        sets.join(v, first_node_of[label]);
        continue;
      }
      if (label != 0) first_node_of[label] = static_cast<int8_t>(v);
      ++components;
    }
    for (int f = first; f <= edges_ && components > 1; ++f) {
      if (sets.join(end1[f], end2[f])) --components;
    }
    if (components == 1) return true;
    if (required == node_count) return false;
    const int start = sets.root(1);
    for (int v = 2; v <= required; ++v) {
      if (sets.root(v) != start) return false;
    }
    return true;
  }

  // For the alternative without the edge just decided (next_edge_ - 1, not
  // the reserved edge): whether it may still hold a tree that is wanted.
  bool alternative_may_hold_tree(bool closes_cycle) const {
    // An edge that closes a cycle leaves the remaining i-graph connected.
    if (pruning_.dead_alternatives && !closes_cycle &&
        !joined(labels_, lists_.inode1, lists_.inode2, next_edge_, nodes_, nodes_)) {
      return false;
    }
    return !pruning_.non_common_trees ||
           joined(v_labels_, lists_.vnode1, lists_.vnode2, next_edge_, v_node_count_, nodes_ - 1);
  }

  // Before the first decision: whether the whole i-graph (and, when pruning
  // for common trees, the v-graph without the reserved edge) is connected.
  bool anything_to_find() const {
    const NodeLabels none{};
    if (pruning_.dead_alternatives &&
        !joined(none, lists_.inode1, lists_.inode2, 1, nodes_, nodes_)) {
      return false;
    }
    return !pruning_.non_common_trees ||
           joined(none, lists_.vnode1, lists_.vnode2, 2, v_node_count_, nodes_ - 1);
  }

  // Saves the alternative without the edge just selected (next_edge_ - 1).
  bool push() {
    if (stack_depth_ >= kStackLevels) {
      // Unreachable: a level is saved only below a partial tree of at most
      // nodes-2 edges. Stop rather than overrun.
      enum_state = 2;
      return false;
    }
    StackLevel& level = stack_[stack_depth_++];
    level.labels = labels_;
    level.v_labels = v_labels_;
    level.next_label = next_label_;
    level.next_v_label = next_v_label_;
    level.next_edge = next_edge_;
    level.undeleted_edges = undeleted_edges_ - 1;
    level.labelled_nodes = labelled_nodes_;
    level.tree_edges = tree_.count;
    level.tree_kinds = tree_.kinds;
    level.tree_opamps = tree_.opamps;
    return true;
  }

  // Level 0 holds the alternative without the reserved edge, which holds no
  // spanning tree, so the enumeration ends instead of resuming it.
  bool backtrack() {
    if (stack_depth_ <= 1) {
      enum_state = 2;
      return false;
    }
    const StackLevel& level = stack_[--stack_depth_];
    labels_ = level.labels;
    v_labels_ = level.v_labels;
    next_label_ = level.next_label;
    next_v_label_ = level.next_v_label;
    next_edge_ = level.next_edge;
    undeleted_edges_ = level.undeleted_edges;
    labelled_nodes_ = level.labelled_nodes;
    tree_.count = level.tree_edges;
    tree_.kinds = level.tree_kinds;
    tree_.opamps = level.tree_opamps;
    return true;
  }

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

// Bits under which raw i-trees or their counts are printed; with any of them
// every raw i-tree must be generated.
constexpr int32_t kRawTreeVisibleBits =
    kBitRawTrees | kBitCommonTrees | kBitResources | kBitDebug128 | kBitTreeLines;

void print_graph_listing(const NetworkTables& net, const EdgeLists& lists, int form, FILE* out) {
  std::fprintf(out,
               "i d0[i] dmap[i] fmap[d0[i]] dpowermap[i] powermap[d0[i]] dbranchmap[i] "
               "branchmap[d0[i]]\n");
  for (int i = 1; i <= lists.edges; ++i) {
    const int name = lists.d0[i];
    std::fprintf(out, "%2d %2d %2d %2d %2d %2d %2d %2d\n", i, name, lists.dmap[i], net.fmap[name],
                 lists.dpowermap[i], net.powermap[name], lists.dbranchmap[i],
                 net.branchmap[name]);
  }
  std::fprintf(out, "only %s-trees are accepted\n", form == 0 ? "1" : (form == 2 ? "2" : "3"));
  std::fprintf(out, "i-graph to generate i-trees:\nname:edge#,nameindex,node1,#node2#\n");
  for (int i = 1; i <= lists.edges; ++i) {
    std::fprintf(out, "%5s: d0[%3d]=%3d, d1=%3d, d2=%3d\n", net.branch_name_list[lists.d0[i]], i,
                 lists.d0[i], lists.inode1[i], lists.inode2[i]);
  }
  std::fprintf(out, "\n\nv-graph to check i-trees:\nname:edge#,nameindex,node1,#node2#\n");
  for (int i = 1; i <= lists.edges; ++i) {
    std::fprintf(out, "%5s: d0[%3d]=%3d, d1=%3d, d2=%3d\n", net.branch_name_list[lists.d0[i]], i,
                 lists.d0[i], lists.vnode1[i], lists.vnode2[i]);
  }
  std::fprintf(out, "\n");
  for (int i = 0; i < 1024; ++i) std::fputc(' ', out);
  std::fprintf(out, "\n");
}

void print_permutation(const NetworkTables& net, const EdgeLists& lists, const char* title,
                       const int32_t* perm, int nodes, FILE* out) {
  std::fprintf(out, "%s", title);
  for (int v = 2; v <= nodes - 1; ++v) {
    const int entry = perm[v];
    const int edge = entry < 0 ? -entry : entry;
    std::fprintf(out, "%3d(%s) ", entry, net.branch_name_list[lists.d0[edge]]);
  }
  std::fprintf(out, "\n");
}

struct GraphShape {
  bool v_test_redundant = true;  // every i-tree is a v-tree
  bool same_orientation = true;  // and both graphs orient every edge alike
};

// Whether no two trees can give the same term: every tree holds all the
// forced edges, so when every other edge is an admittance edge with a name of
// its own, distinct trees have distinct sets of admittance names.
bool trees_give_distinct_terms(const EdgeLists& lists) {
  bool name_taken[kNameSlots] = {};
  for (int e = 2; e <= lists.edges; ++e) {
    if (lists.dmap[e] != 0) {
      if ((lists.dmap[e] & kForcedKinds) == 0) return false;
      continue;
    }
    const int32_t name = lists.dbranchmap[e];
    if (name < 0 || name >= kNameSlots || name_taken[name]) return false;
    name_taken[name] = true;
  }
  return true;
}

GraphShape graph_shape(const EdgeLists& lists, int nodes) {
  GraphShape shape;
  for (int e = 2; e <= lists.edges; ++e) {
    const int i1 = lists.inode1[e], i2 = lists.inode2[e];
    const int v1 = lists.vnode1[e], v2 = lists.vnode2[e];
    const bool same_pair = (i1 == v1 && i2 == v2) || (i1 == v2 && i2 == v1);
    if (!same_pair || i1 == nodes || i2 == nodes) {
      shape.v_test_redundant = false;
      shape.same_orientation = false;
      return shape;
    }
    if (i1 != v1) shape.same_orientation = false;
  }
  return shape;
}

}  // namespace

int product(const NetworkTables& net, const EdgeLists& lists, TopofunStores& stores, FILE* out,
            int minty_nodes, int actual_nodes, int form, int topofun) {
  const int32_t bits = net.test_bitmap;
  const int nodes = minty_nodes;
  TermStore& store = stores.stores[topofun];

  if (bits & kFormulaBits) {
    std::fprintf(out, "product:: minty_nodes:%d, edges:%d, actual_nodes:%d, form:%d, topofun:%d\n",
                 minty_nodes, lists.edges, actual_nodes, form, topofun);
  }
  if (bits & kGraphListingBits) print_graph_listing(net, lists, form, out);

  const GraphShape shape = graph_shape(lists, nodes);
  QualificationSettings qualification;
  qualification.net = &net;
  qualification.lists = &lists;
  qualification.nodes = nodes;
  qualification.form = form;
  qualification.opampcnt = net.opampcnt;
  qualification.list_raw_trees = (bits & kBitRawTrees) != 0;
  qualification.v_test_redundant = shape.v_test_redundant;
  qualification.out = out;

  RunStats* stats = stores.stats;
  long long raw_tree_limit = LLONG_MAX;
  if (stats != nullptr && stats->raw_tree_budget > 0) {
    raw_tree_limit = stats->budget_exhausted ? 0 : stats->raw_tree_budget - stats->raw_i_trees;
  }

  TermContext term_context;
  term_context.dbranchmap = lists.dbranchmap;
  term_context.test_bitmap = bits;
  term_context.netlist_count = net.netlist_count;
  term_context.function_counter = stores.function_counter;
  term_context.out = out;

  const bool list_common_trees = (bits & kBitCommonTrees) != 0;
  const bool list_accepted_edges = (bits & kBitRawTrees) != 0;
  const bool sign_is_plus = shape.same_orientation && !list_common_trees;

  long long common_tree_count = 0;
  int32_t itree_perm[kEnumNodeSlots] = {};
  int32_t vtree_perm[kEnumNodeSlots] = {};
  int32_t admittance_edges[kEdgeSlots] = {};

  auto record_stats = [&](long long raw_trees, int terms) {
    if (stats == nullptr) return;
    stats->raw_i_trees += raw_trees;
    stats->common_trees += common_tree_count;
    stats->terms += terms;
  };

  // Tests can force the plain enumeration and insertion, to hold the
  // shortcuts against them.
  const bool worded_only = stats != nullptr && stats->exact_enumeration_only;
  Pruning pruning;
  pruning.dead_alternatives = !worded_only;
  pruning.non_common_trees = !worded_only && (bits & kRawTreeVisibleBits) == 0 &&
                             !shape.v_test_redundant;
  TermIndex index;
  if (!worded_only && (bits & kBitNoStore) == 0 && store.terms_used == 0 &&
      index.start(trees_give_distinct_terms(lists))) {
    term_context.index = &index;
  }

  qualification.v_acyclic = pruning.non_common_trees;
  RunMonitor* monitor = stats != nullptr ? stats->monitor : nullptr;
  if (monitor != nullptr) {
    monitor->begin_enumeration(topofun_names[topofun], lists, nodes, pruning.non_common_trees);
  }
  // Ends the progress line on every way out.
  struct EnumerationEnd {
    RunMonitor* monitor;
    ~EnumerationEnd() {
      if (monitor != nullptr) monitor->end_enumeration();
    }
  } enumeration_end{monitor};
  TreeEnumerator enumerator(lists, qualification, raw_tree_limit, pruning, monitor);
  enumerator.next_tree();
  while (enumerator.enum_state == 1) {
    ++common_tree_count;
    const TreeEdgeList& tree = enumerator.tree();

    int sign = 1;
    if (!sign_is_plus) {
      tree_permutation(tree.count, nodes, lists.inode1, lists.inode2, tree.edge, itree_perm);
      tree_permutation(tree.count, nodes, lists.vnode1, lists.vnode2, tree.edge, vtree_perm);
      if (list_common_trees) {
        std::fprintf(out, " common tree edges:");
        for (int k = 1; k <= tree.count; ++k) {
          std::fprintf(out, "%3d(%s) ", tree.edge[k], net.branch_name_list[lists.d0[tree.edge[k]]]);
        }
        std::fprintf(out, "\n");
        print_permutation(net, lists, "v-tree permutation: ", vtree_perm, nodes, out);
        print_permutation(net, lists, "i-tree permutation: ", itree_perm, nodes, out);
      }
      sign = common_tree_sign(nodes, vtree_perm, itree_perm);
      if (list_common_trees) std::fprintf(out, "resulting sign= %2d\n", sign);
    }

    int term_power = 0;
    int admittance_count = 0;
    for (int k = 1; k <= tree.count; ++k) {
      const int e = tree.edge[k];
      term_power += lists.dpowermap[e];
      if (lists.dmap[e] == 0) admittance_edges[admittance_count++] = e;
    }
    if (list_accepted_edges) {
      std::fprintf(out, " accepted tree edges:");
      for (int k = 0; k < admittance_count; ++k) {
        const int e = admittance_edges[k];
        std::fprintf(out, "%3d,%3d(%s) ", e, lists.d0[e], net.branch_name_list[lists.d0[e]]);
      }
      std::fprintf(out, "\n");
    }

    if (add_term(sign, term_power, admittance_count, admittance_edges, store, term_context) != 0) {
      free_term_store(store);
      stores.topofun_evaluated[topofun] = 0;
      std::fprintf(out, "insufficient memory for combining admittance terms\n");
      std::fprintf(out, "raw i-trees  evaluated:%9lld\n", enumerator.raw_tree_count);
      std::fprintf(out, "qualified common trees:%9lld\n", common_tree_count);
      record_stats(enumerator.raw_tree_count, 0);
      return 1;
    }
    enumerator.next_tree();
  }

  index.finish(store);
  if (enumerator.budget_reached && stats != nullptr) stats->budget_exhausted = true;
  if (bits & kBitResources) {
    std::fprintf(out, "raw i-trees  evaluated:%9lld\n", enumerator.raw_tree_count);
    std::fprintf(out, "qualified common trees:%9lld\n", common_tree_count);
  }
  record_stats(enumerator.raw_tree_count, store.terms_used);
  return 0;
}

}  // namespace kavrel
