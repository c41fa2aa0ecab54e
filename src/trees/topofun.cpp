#include "trees/topofun.h"
#include "trees/tree_count.h"

#include <memory>

#include <cstring>

#include "analysis/param_table.h"
#include "input/table_limits.h"
#include "trees/enumeration.h"
#include "trees/tree_count.h"

namespace kavrel {

static_assert(kEdgeListCapacity == kMaxEdges, "the capacity checks know the edge lists");

namespace {

constexpr char kSetupMemoryMessage[] =
    "insufficient memory to buffer common trees; remainder of function evaluation skipped\n";
constexpr char kSetupLimitMessage[] =
    "network exceeds the limits of the tree enumeration; function evaluation skipped\n";

// Terminal indices into port_nodes.
constexpr int kPlusP1 = 0;
constexpr int kMinusP1 = 1;
constexpr int kPlusP2 = 2;
constexpr int kMinusP2 = 3;

struct PseudoBranch {
  const char* name;
  int32_t kind;
  int v_pos, v_neg;  // terminal indices of its ends in the v-graph
  int i_pos, i_neg;  // and in the i-graph
};

// The pseudo-branches that turn a k-tree function into spanning trees.
struct PortShape {
  int form;
  int count;
  PseudoBranch branch[2];
};

PortShape port_shape(int topofun) {
  constexpr PseudoBranch kNone{};
  constexpr PseudoBranch kPort1ToPort2{"f", kKindFirstPort, kPlusP1, kMinusP1, kPlusP2, kMinusP2};
  constexpr PseudoBranch kPort1{"f", kKindFirstPort, kPlusP1, kMinusP1, kPlusP1, kMinusP1};
  constexpr PseudoBranch kPort2{"f", kKindFirstPort, kPlusP2, kMinusP2, kPlusP2, kMinusP2};
  constexpr PseudoBranch kPort2ToPort1{"f", kKindFirstPort, kPlusP2, kMinusP2, kPlusP1, kMinusP1};
  constexpr PseudoBranch kFirstOfTwo{"f1", kKindFirstPort, kPlusP1, kMinusP1, kPlusP1, kMinusP1};
  constexpr PseudoBranch kSecondOfTwo{"f2", kKindSecondPort, kPlusP2, kMinusP2, kPlusP2, kMinusP2};
  switch (topofun) {
    case 1:  // Wijkl
    case 7:  // unconjugated Wijkl
      return {kFormTwoTrees, 1, {kPort1ToPort2, kNone}};
    case 2:  // Wijij
      return {kFormTwoTrees, 1, {kPort1, kNone}};
    case 3:  // Wklkl
      return {kFormTwoTrees, 1, {kPort2, kNone}};
    case 4:  // Wklij
      return {kFormTwoTrees, 1, {kPort2ToPort1, kNone}};
    case 5:  // Uijkl
    case 6:  // unconjugated Uijkl
      return {kFormThreeTrees, 2, {kFirstOfTwo, kSecondOfTwo}};
    default:  // V
      return {kFormSpanningTrees, 0, {kNone, kNone}};
  }
}

// A term's power of s counts the reactive edges of its tree.
int power_columns_needed(const NetworkTables& net, int passive_edges, int active_edges) {
  int reactive_edges = 0;
  for (int j = 1; j <= passive_edges; ++j) reactive_edges += net.powermap[net.passive_edges[j].name];
  for (int j = 1; j <= active_edges; ++j) reactive_edges += net.powermap[net.active_edges[j].name];
  return reactive_edges + 1;
}

bool node_in_range(int node, int nodes) { return node >= 1 && node <= nodes; }

bool name_usable(const NetworkTables& net, int name, int name_count) {
  if (name < 1 || name > name_count) return false;
  if (std::memchr(net.branch_name_list[name], '\0', kNameBytes) == nullptr) return false;
  return net.branchmap[name] >= 0 && net.branchmap[name] <= name_count &&
         net.powermap[name] >= 0 && net.powermap[name] <= 1;
}

// Whether every index the enumeration derives from the tables stays inside
// its arrays. Tables built by the reader always pass.
bool tables_fit(const NetworkTables& net, const PortShape& shape, int passive_edges,
                int active_edges, int nodes) {
  const int name_count = net.branch_name_count;
  if (nodes < 1 || !evaluation_fits({name_count, passive_edges, active_edges, nodes}, shape.count))
    return false;
  for (int j = 1; j <= passive_edges; ++j) {
    const PassiveEdge& edge = net.passive_edges[j];
    if (!name_usable(net, edge.name, name_count) || !node_in_range(edge.node1, nodes) ||
        !node_in_range(edge.node2, nodes)) {
      return false;
    }
  }
  for (int j = 1; j <= active_edges; ++j) {
    const ActiveEdge& edge = net.active_edges[j];
    if (!name_usable(net, edge.name, name_count) || !node_in_range(edge.out_pos, nodes) ||
        !node_in_range(edge.out_neg, nodes) || !node_in_range(edge.in_pos, nodes) ||
        !node_in_range(edge.in_neg, nodes)) {
      return false;
    }
  }
  if (shape.count > 0) {
    for (int terminal = 0; terminal < 4; ++terminal) {
      if (!node_in_range(net.port_nodes[terminal], nodes)) return false;
    }
  }
  return true;
}

// The pseudo-branches take the name slots after the network's own names.
void name_pseudo_branches(NetworkTables& net, const PortShape& shape) {
  for (int k = 0; k < shape.count; ++k) {
    const PseudoBranch& branch = shape.branch[k];
    const int slot = net.branch_name_count + 1 + k;
    std::memset(net.branch_name_list[slot], 0, kNameBytes);
    std::memcpy(net.branch_name_list[slot], branch.name, std::strlen(branch.name));
    net.fmap[slot] = branch.kind;
    net.powermap[slot] = 0;
    net.branchmap[slot] = 0;
  }
}

void append_edge(EdgeLists& lists, int name, int v1, int v2, int i1, int i2) {
  const int j = ++lists.edges;
  lists.d0[j] = name;
  lists.vnode1[j] = v1;
  lists.vnode2[j] = v2;
  lists.inode1[j] = i1;
  lists.inode2[j] = i2;
}

// Edge order: the reserved edge, the port pseudo-branches, the op amps, the
// passive edges, the other active edges. Forced edges thus precede every
// ordinary edge but the reserved one.
void build_edge_lists(NetworkTables& net, const PortShape& shape, int passive_edges,
                      int active_edges, EdgeLists& lists) {
  lists.edges = 0;
  const PassiveEdge& reserved = net.passive_edges[1];
  append_edge(lists, reserved.name, reserved.node1, reserved.node2, reserved.node1,
              reserved.node2);

  name_pseudo_branches(net, shape);
  for (int k = 0; k < shape.count; ++k) {
    const PseudoBranch& branch = shape.branch[k];
    const int slot = net.branch_name_count + 1 + k;
    const int32_t* port = net.port_nodes;
    append_edge(lists, slot, port[branch.v_pos], port[branch.v_neg], port[branch.i_pos],
                port[branch.i_neg]);
  }

  for (int j = 1; j <= active_edges; ++j) {
    const ActiveEdge& edge = net.active_edges[j];
    if (net.fmap[edge.name] != kKindOpamp) continue;
    append_edge(lists, edge.name, edge.out_pos, edge.out_neg, edge.in_pos, edge.in_neg);
  }
  for (int j = 2; j <= passive_edges; ++j) {
    const PassiveEdge& edge = net.passive_edges[j];
    append_edge(lists, edge.name, edge.node1, edge.node2, edge.node1, edge.node2);
  }
  for (int j = 1; j <= active_edges; ++j) {
    const ActiveEdge& edge = net.active_edges[j];
    if (net.fmap[edge.name] == kKindOpamp) continue;
    append_edge(lists, edge.name, edge.out_pos, edge.out_neg, edge.in_pos, edge.in_neg);
  }

  for (int j = 1; j <= lists.edges; ++j) {
    const int name = lists.d0[j];
    lists.dmap[j] = net.fmap[name];
    lists.dpowermap[j] = net.powermap[name];
    lists.dbranchmap[j] = net.branchmap[name];
  }
}

}  // namespace

void evaluate_topofun(NetworkTables& net, TopofunStores& stores, FILE* out, int passive_edges,
                      int active_edges, int tree_branch_count, int topofun,
                      int32_t& function_counter) {
  if (topofun < 0 || topofun >= kTopofunCount) return;
  ++function_counter;
  const int32_t bits = net.test_bitmap;
  if (bits & kFormulaBits) {
    std::fprintf(out, "Topological formula: (%s, %1d-trees) \n", topofun_names[topofun],
                 tree_order_digit(topofun));
  }

  TermStore& store = stores.stores[topofun];
  // A store still holding arrays from an earlier request would leak otherwise.
  free_term_store(store);

  const PortShape shape = port_shape(topofun);
  const int nodes = tree_branch_count + 1;
  if (!tables_fit(net, shape, passive_edges, active_edges, nodes)) {
    stores.topofun_evaluated[topofun] = 0;
    std::fprintf(out, "%s", kSetupLimitMessage);
    return;
  }

  net.fmap[1] = kKindOrdinary;
  if (alloc_term_store(store, net.branch_name_count + 1,
                       power_columns_needed(net, passive_edges, active_edges)) != 0) {
    stores.topofun_evaluated[topofun] = 0;
    std::fprintf(out, "%s", kSetupMemoryMessage);
    return;
  }

  EdgeLists lists;
  build_edge_lists(net, shape, passive_edges, active_edges, lists);

  if (product(net, lists, stores, out, nodes, tree_branch_count, shape.form, topofun,
              function_counter) != 0) {
    std::fprintf(out, "%s", kSetupMemoryMessage);
    return;
  }
  if (bits & kBitResources) std::fprintf(out, "opampcnt= %d\n", net.opampcnt);
}

TreeCount count_topofun_trees(const NetworkTables& net, int topofun) {
  TreeCount none;
  if (topofun < 0 || topofun >= kTopofunCount) return none;
  const PortShape shape = port_shape(topofun);
  const int nodes = net.tree_branch_count + 1;
  if (!tables_fit(net, shape, net.passive_snapshot, net.active_edge_count, nodes)) return none;
  // The lists name the port pseudo-branches in the tables, as an evaluation does.
  const auto tables = std::make_unique<NetworkTables>(net);
  tables->fmap[1] = kKindOrdinary;
  EdgeLists lists;
  build_edge_lists(*tables, shape, net.passive_snapshot, net.active_edge_count, lists);
  return count_raw_i_trees(lists, nodes);
}

bool topofun_fits(const NetworkTables& net, int topofun) {
  return topofun >= 0 && topofun < kTopofunCount &&
         tables_fit(net, port_shape(topofun), net.passive_snapshot, net.active_edge_count,
                    net.tree_branch_count + 1);
}

void mark_tables_as_evaluated(NetworkTables& net, int topofun) {
  if (topofun < 0 || topofun >= kTopofunCount) return;
  net.fmap[1] = kKindOrdinary;
  name_pseudo_branches(net, port_shape(topofun));
}

void release_term_stores(TopofunStores& stores) {
  for (int code = 0; code < kTopofunCount; ++code) {
    if (stores.topofun_evaluated[code] == 0) continue;
    free_term_store(stores.stores[code]);
    stores.topofun_evaluated[code] = 0;
  }
}

}  // namespace kavrel
