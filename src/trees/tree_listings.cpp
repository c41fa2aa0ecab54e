#include "trees/tree_listings.h"

namespace kavrel {

namespace {

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

void print_graph_edges(const NetworkTables& net, const EdgeLists& lists, const int32_t* end1,
                       const int32_t* end2, FILE* out) {
  for (int i = 1; i <= lists.edges; ++i) {
    std::fprintf(out, "%5s: d0[%3d]=%3d, d1=%3d, d2=%3d\n", net.branch_name_list[lists.d0[i]], i,
                 lists.d0[i], end1[i], end2[i]);
  }
}

}  // namespace

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
  std::fprintf(out, "only %s-trees are accepted\n", form_order_text(form));
  std::fprintf(out, "i-graph to generate i-trees:\nname:edge#,nameindex,node1,#node2#\n");
  print_graph_edges(net, lists, lists.inode1, lists.inode2, out);
  std::fprintf(out, "\n\nv-graph to check i-trees:\nname:edge#,nameindex,node1,#node2#\n");
  print_graph_edges(net, lists, lists.vnode1, lists.vnode2, out);
  std::fprintf(out, "\n");
  for (int i = 0; i < 1024; ++i) std::fputc(' ', out);
  std::fprintf(out, "\n");
}

void print_common_tree(const NetworkTables& net, const EdgeLists& lists, const TreeEdgeList& tree,
                       const int32_t* vtree_perm, const int32_t* itree_perm, int nodes, FILE* out) {
  std::fprintf(out, " common tree edges:");
  for (int k = 1; k <= tree.count; ++k) {
    std::fprintf(out, "%3d(%s) ", tree.edge[k], net.branch_name_list[lists.d0[tree.edge[k]]]);
  }
  std::fprintf(out, "\n");
  print_permutation(net, lists, "v-tree permutation: ", vtree_perm, nodes, out);
  print_permutation(net, lists, "i-tree permutation: ", itree_perm, nodes, out);
}

void print_accepted_edges(const NetworkTables& net, const EdgeLists& lists,
                          const int32_t* admittance_edges, int count, FILE* out) {
  std::fprintf(out, " accepted tree edges:");
  for (int k = 0; k < count; ++k) {
    const int e = admittance_edges[k];
    std::fprintf(out, "%3d,%3d(%s) ", e, lists.d0[e], net.branch_name_list[lists.d0[e]]);
  }
  std::fprintf(out, "\n");
}

void print_tree_counters(long long raw_trees, long long common_trees, FILE* out) {
  std::fprintf(out, "raw i-trees  evaluated:%9lld\n", raw_trees);
  std::fprintf(out, "qualified common trees:%9lld\n", common_trees);
}

}  // namespace kavrel
