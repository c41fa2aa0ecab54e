#pragma once

#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"
#include "trees/term_store.h"

namespace kavrel {

constexpr int kEdgeSlots = 104;  // edges 1..103
constexpr int kMaxEdges = kEdgeSlots - 1;
constexpr int kStackLevels = 43;  // levels 0..42
constexpr int kEnumNodeSlots = kNodeSlots + 1;  // nodes 1..43 and one spare

// The i-graph and v-graph of one topological function over common edge numbers
// 1..edges, with the per-edge copies of the name classification.
struct EdgeLists {
  int edges = 0;
  int32_t d0[kEdgeSlots] = {};
  int32_t vnode1[kEdgeSlots] = {};
  int32_t vnode2[kEdgeSlots] = {};
  int32_t inode1[kEdgeSlots] = {};
  int32_t inode2[kEdgeSlots] = {};
  int32_t dmap[kEdgeSlots] = {};
  int32_t dpowermap[kEdgeSlots] = {};
  int32_t dbranchmap[kEdgeSlots] = {};
};

// Kind codes of fmap and dmap. Op amps and the port pseudo-branches are
// forced: every tree holds them. Unit elements shape trees like ordinary
// edges but contribute no symbol.
constexpr int32_t kKindOrdinary = 0;
constexpr int32_t kKindOpamp = 1;
constexpr int32_t kKindFirstPort = 2;
constexpr int32_t kKindSecondPort = 4;
constexpr int32_t kKindUnitElement = 16;
constexpr int32_t kForcedKinds = kKindOpamp | kKindFirstPort | kKindSecondPort;
constexpr int32_t kPortKinds = kKindFirstPort | kKindSecondPort;

// Forms: the pseudo-branch kinds every accepted tree of a topological
// function holds, by the kind of tree the function sums over.
constexpr int kFormSpanningTrees = 0;
constexpr int kFormTwoTrees = kKindFirstPort;
constexpr int kFormThreeTrees = kKindFirstPort | kKindSecondPort;

// "1", "2" or "3": the order of the trees of a form, as the listings name it
// (any form but the first two counts as 3-trees).
inline const char* form_order_text(int form) {
  if (form == kFormSpanningTrees) return "1";
  return form == kFormTwoTrees ? "2" : "3";
}

// Evaluates one topological function into stores.stores[topofun]: enumerates
// the spanning trees of the i-graph, keeps the common trees of the requested
// kind and files their terms. 0 when complete; 1 when the store could not
// grow (the store is then released and its flag cleared).
// The caller guarantees 1 <= minty_nodes <= kMaxNode, 1 <= lists.edges <=
// kMaxEdges, every node within 1..minty_nodes, every map entry in range.
// function_counter is the number the term lines of the trace print.
int product(const NetworkTables& net, const EdgeLists& lists, TopofunStores& stores, FILE* out,
            int minty_nodes, int actual_nodes, int form, int topofun, int32_t function_counter);

}  // namespace kavrel
