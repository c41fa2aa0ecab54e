#include "trees/qualification.h"

#include <bit>

#include "trees/union_find.h"

namespace kavrel {

namespace {

// List positions 1..127 fit two 64-bit sets; a tree lists at most 41 edges.
constexpr int kMaxListPositions = 127;

// Whether the listed edges, taken as v-graph edges, connect every node
// 1..nodes-1 to the start node (vnode1 of the first listed edge). An empty list
// spans a network of a single real node.
bool spans_v_graph(const EdgeLists& lists, int nodes, const TreeEdgeList& tree) {
  if (tree.count == 0) return nodes - 1 <= 1;
  NodeSets sets;
  sets.separate(nodes);
  for (int k = 1; k <= tree.count; ++k) {
    const int e = tree.edge[k];
    // With at most nodes-2 edges, one that closes a cycle leaves too few to
    // connect the nodes-1 network nodes.
    if (!sets.join(lists.vnode1[e], lists.vnode2[e]) && tree.count <= nodes - 2) return false;
  }
  const int start = sets.root(lists.vnode1[tree.edge[1]]);
  for (int v = 1; v <= nodes - 1; ++v) {
    if (sets.root(v) != start) return false;
  }
  return true;
}

// The same answer for edges known to hold no v-cycle: nodes-2 such edges
// among nodes 1..nodes-1 form a spanning tree of them; an edge touching any
// other node leaves too few to connect them.
bool spans_v_graph_acyclic(const EdgeLists& lists, int nodes, const TreeEdgeList& tree) {
  if (tree.count != nodes - 2) return spans_v_graph(lists, nodes, tree);
  for (int k = 1; k <= tree.count; ++k) {
    const int e = tree.edge[k];
    const int a = lists.vnode1[e];
    const int b = lists.vnode2[e];
    if (a < 1 || a > nodes - 1 || b < 1 || b > nodes - 1) return false;
  }
  return true;
}

}  // namespace

bool qualify_raw_tree(const QualificationSettings& settings, const TreeEdgeList& tree,
                      long long raw_tree_number) {
  const EdgeLists& lists = *settings.lists;
  FILE* out = settings.out;
  const bool listing = settings.list_raw_trees;

  const int count = tree.count;

  if (listing) {
    std::fprintf(out, " raw i-tree no. %5lld edges:", raw_tree_number);
    for (int k = 1; k <= count; ++k) {
      const int e = tree.edge[k];
      std::fprintf(out, "%3d(%s) ", e, settings.net->branch_name_list[lists.d0[e]]);
    }
  }

  if (settings.opampcnt > tree.opamps) {
    if (listing) std::fprintf(out, " rejected: opamp sorting\n");
    return false;
  }
  if ((tree.kinds & kPortKinds) != settings.form) {
    if (listing) std::fprintf(out, "rejected: not a  %s-tree\n", form_order_text(settings.form));
    return false;
  }
  if (!settings.v_test_redundant &&
      !(settings.v_acyclic ? spans_v_graph_acyclic(lists, settings.nodes, tree)
                           : spans_v_graph(lists, settings.nodes, tree))) {
    if (listing) std::fprintf(out, " rejected: no corresponding v-tree\n");
    return false;
  }
  if (listing) std::fprintf(out, " accepted\n");
  return true;
}

void tree_permutation(int n, int nodes, const int32_t* end1, const int32_t* end2,
                      const int32_t* list, int32_t* perm) {
  for (int v = 0; v < nodes; ++v) perm[v] = 0;
  if (n <= 0) return;
  if (n > kMaxListPositions) n = kMaxListPositions;

  // For each node, the list positions of the edges touching it as a bit set,
  // so that the walk takes the lowest unused position touching the node, as
  // a plain scan would, with one instruction.
  uint64_t touching_low[kEnumNodeSlots + 1];
  uint64_t touching_high[kEnumNodeSlots + 1];
  for (int v = 0; v <= nodes; ++v) touching_low[v] = touching_high[v] = 0;
  auto attach = [&](int node, int k) {
    if (k < 64) {
      touching_low[node] |= uint64_t{1} << k;
    } else {
      touching_high[node] |= uint64_t{1} << (k - 64);
    }
  };
  for (int k = 1; k <= n; ++k) {
    const int e = list[k];
    attach(end1[e], k);
    attach(end2[e], k);
  }

  uint64_t unused_low = ~uint64_t{0};
  uint64_t unused_high = ~uint64_t{0};
  int stack[kMaxListPositions + 2];
  int depth = 0;
  stack[depth++] = 1;
  while (depth > 0) {
    const int u = stack[depth - 1];
    int k;
    if (const uint64_t low = touching_low[u] & unused_low; low != 0) {
      k = std::countr_zero(low);
      unused_low &= ~(uint64_t{1} << k);
    } else if (const uint64_t high = touching_high[u] & unused_high; high != 0) {
      const int bit = std::countr_zero(high);
      unused_high &= ~(uint64_t{1} << bit);
      k = 64 + bit;
    } else {
      --depth;
      continue;
    }
    const int e = list[k];
    int other;
    if (end1[e] == u) {
      other = end2[e];
      perm[other] = e;
    } else {
      other = end1[e];
      perm[other] = -e;
    }
    stack[depth++] = other;
  }
}

int common_tree_sign(int nodes, int32_t* vtree_perm, int32_t* itree_perm) {
  int sign = 1;
  for (int v = 2; v <= nodes - 1; ++v) {
    if (vtree_perm[v] < 0) {
      sign = -sign;
      vtree_perm[v] = -vtree_perm[v];
    }
    if (itree_perm[v] < 0) {
      sign = -sign;
      itree_perm[v] = -itree_perm[v];
    }
  }
  // Where each edge sits in vtree_perm; a tree assigns every edge to one node.
  int8_t where[kEdgeSlots] = {};
  for (int v = 2; v <= nodes - 1; ++v) where[vtree_perm[v]] = static_cast<int8_t>(v);
  for (int v = 2; v <= nodes - 1; ++v) {
    const int32_t wanted = itree_perm[v];
    if (wanted == vtree_perm[v]) continue;
    sign = -sign;
    const int w = (wanted >= 0 && wanted < kEdgeSlots) ? where[wanted] : 0;
    if (w > v && vtree_perm[w] == wanted) {
      const int32_t displaced = vtree_perm[v];
      vtree_perm[w] = displaced;
      vtree_perm[v] = wanted;
      where[displaced] = static_cast<int8_t>(w);
      where[wanted] = static_cast<int8_t>(v);
    }
  }
  return sign;
}

}  // namespace kavrel
