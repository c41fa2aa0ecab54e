#pragma once

#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"
#include "trees/enumeration.h"
#include "trees/qualification.h"
#include "trees/tree_listings.h"

namespace kavrel {

// The sign of each common tree: the product of the reduced incidence
// determinants of the tree in both graphs, from the two walks'
// permutations; listed under the common-trees bit.
class TreeSigner {
 public:
  TreeSigner(const NetworkTables& net, const EdgeLists& lists, int nodes, bool all_signs_plus,
             FILE* out)
      : net_(net),
        lists_(lists),
        nodes_(nodes),
        all_signs_plus_(all_signs_plus),
        listing_((net.test_bitmap & kBitCommonTrees) != 0),
        out_(out) {}

  int sign(const TreeEdgeList& tree) {
    if (all_signs_plus_) return 1;
    tree_permutation(tree.count, nodes_, lists_.inode1, lists_.inode2, tree.edge, itree_perm_);
    tree_permutation(tree.count, nodes_, lists_.vnode1, lists_.vnode2, tree.edge, vtree_perm_);
    if (listing_) print_common_tree(net_, lists_, tree, vtree_perm_, itree_perm_, nodes_, out_);
    const int sign = common_tree_sign(nodes_, vtree_perm_, itree_perm_);
    if (listing_) std::fprintf(out_, "resulting sign= %2d\n", sign);
    return sign;
  }

 private:
  const NetworkTables& net_;
  const EdgeLists& lists_;
  const int nodes_;
  const bool all_signs_plus_;
  const bool listing_;
  FILE* const out_;
  int32_t itree_perm_[kEnumNodeSlots] = {};
  int32_t vtree_perm_[kEnumNodeSlots] = {};
};

// What a common tree contributes: its power of s (the reactive edges) and
// the edges whose symbols multiply into the term.
struct TreeTerm {
  int power = 0;
  int count = 0;
  int32_t admittance_edges[kEdgeSlots] = {};
};

inline void derive_term(const EdgeLists& lists, const TreeEdgeList& tree, TreeTerm& term) {
  term.power = 0;
  term.count = 0;
  for (int k = 1; k <= tree.count; ++k) {
    const int e = tree.edge[k];
    term.power += lists.dpowermap[e];
    if (lists.dmap[e] == kKindOrdinary) term.admittance_edges[term.count++] = e;
  }
}

}  // namespace kavrel
