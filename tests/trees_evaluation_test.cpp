// Topological function evaluation on networks whose tables are built by hand:
// edge lists, tree order, qualification verdicts, signs, terms and listings.

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/store_probes.h"
#include "support/text_patterns.h"
#include "trees/memory.h"
#include "trees/qualification.h"
#include "trees/term_store.h"
#include "trees/topofun.h"

namespace {

using kavrel_test::masked_addresses;
using kavrel::NetworkTables;
using kavrel::TermStore;
using kavrel::TopofunStores;

// Fills the network tables the way the reader does for a netlist of one-ports
// and two-ports (no composite expansions): nodes numbered in order of first
// use, the reserved edge and node added by finish().
class NetBuilder {
 public:
  NetBuilder() {
    net.passive_edge_count = 1;
    net.branch_name_count = 1;
    net.last_generated_label = 999;
    net.netlist_count = 1;
    std::strcpy(net.branch_name_list[1], "x");
  }

  int node(int label) {
    auto found = nodes_.find(label);
    if (found != nodes_.end()) return found->second;
    const int number = ++net.node_count;
    net.node_list[number] = label;
    nodes_[label] = number;
    return number;
  }

  int name(const char* text) {
    const int slot = ++net.branch_name_count;
    std::strcpy(net.branch_name_list[slot], text);
    return slot;
  }

  NetBuilder& passive(const char* text, int a, int b) {
    const int slot = name(text);
    const int na = node(a);
    const int nb = node(b);
    net.passive_edges[++net.passive_edge_count] = {slot, na, nb};
    return *this;
  }

  NetBuilder& active(const char* text, int a, int b, int c, int d) {
    const int slot = name(text);
    const int na = node(a), nb = node(b), nc = node(c), nd = node(d);
    net.active_edges[++net.active_edge_count] = {slot, na, nb, nc, nd};
    if (text[0] == 'o' || text[0] == 'O') ++net.opampcnt;
    return *this;
  }

  NetBuilder& port(int a, int b, int c, int d) {
    const int labels[4] = {a, b, c, d};
    for (int k = 0; k < 4; ++k) {
      net.port_labels[k] = labels[k];
      net.port_nodes[k] = node(labels[k]);
    }
    return *this;
  }

  NetworkTables& finish(int test_bitmap = 0) {
    const int reserved = ++net.node_count;
    net.passive_edges[1] = {1, reserved, 1};
    net.passive_snapshot = net.passive_edge_count;
    net.tree_branch_count = net.node_count - 1;
    net.test_bitmap = test_bitmap;
    for (int i = 1; i <= net.branch_name_count; ++i) {
      int j = 1;
      while (std::strcmp(net.branch_name_list[j], net.branch_name_list[i]) != 0) ++j;
      net.branchmap[i] = j;
      const char k = net.branch_name_list[j][0];
      net.powermap[i] = std::strchr("cClLmM", k) != nullptr ? 1 : 0;
      net.fmap[i] = k == 'a' ? 16 : ((k == 'o' || k == 'O') ? 1 : 0);
    }
    return net;
  }

  NetworkTables net{};

 private:
  std::map<int, int> nodes_;
};

std::string capture(const std::function<void(FILE*)>& body) {
  char* buffer = nullptr;
  std::size_t length = 0;
  FILE* out = open_memstream(&buffer, &length);
  body(out);
  std::fclose(out);
  std::string text(buffer, length);
  std::free(buffer);
  return text;
}

// As the driver does: set the flag, then request the function.
std::string evaluate(NetworkTables& net, TopofunStores& stores, int32_t& function_counter,
                     int code) {
  stores.topofun_evaluated[code] = 1;
  return capture([&](FILE* out) {
    kavrel::evaluate_topofun(net, stores, out, net.passive_snapshot, net.active_edge_count,
                             net.tree_branch_count, code, function_counter);
  });
}

std::string bucket(const NetworkTables& net, const TermStore& store, int power) {
  return kavrel_test::bucket_text(net, store, power);
}

std::string graph_line(int i, int d0, int dmap, int dpower, int dbranch) {
  char line[64];
  std::snprintf(line, sizeof line, "%2d %2d %2d %2d %2d %2d %2d %2d\n", i, d0, dmap, dmap, dpower,
                dpower, dbranch, dbranch);
  return line;
}

const std::string kGraphHeader =
    "i d0[i] dmap[i] fmap[d0[i]] dpowermap[i] powermap[d0[i]] dbranchmap[i] branchmap[d0[i]]\n";
const std::string kIGraphHeader =
    "i-graph to generate i-trees:\nname:edge#,nameindex,node1,#node2#\n";
const std::string kVGraphHeader =
    "\n\nv-graph to check i-trees:\nname:edge#,nameindex,node1,#node2#\n";
const std::string kBlankLine = "\n" + std::string(1024, ' ') + "\n";
const std::string kSetupFailure =
    "insufficient memory to buffer common trees; remainder of function evaluation skipped\n";

struct StoresFixture : ::testing::Test {
  TopofunStores stores;
  int32_t function_counter = 0;
  ~StoresFixture() override {
    kavrel::set_allocation_failure(nullptr, nullptr);
    kavrel::release_term_stores(stores);
  }
};

// r1 1 2, r2 2 0, c1 2 0, f 1 0 2 0
NetworkTables& small_ladder(NetBuilder& b, int bits) {
  return b.passive("r1", 1, 2).passive("r2", 2, 0).passive("c1", 2, 0).port(1, 0, 2, 0).finish(bits);
}

// opamp 2 0 3 0, rin 1 3, rf 2 3, f 1 0 2 0
NetworkTables& inverting_amplifier(NetBuilder& b, int bits) {
  return b.active("opamp", 2, 0, 3, 0).passive("rin", 1, 3).passive("rf", 2, 3).port(1, 0, 2, 0)
      .finish(bits);
}

// gm1 2 0 1 0, r1 1 0, r2 2 0, c1 1 2, f 1 0 2 0
NetworkTables& transconductor(NetBuilder& b, int bits) {
  return b.active("gm1", 2, 0, 1, 0).passive("r1", 1, 0).passive("r2", 2, 0).passive("c1", 1, 2)
      .port(1, 0, 2, 0).finish(bits);
}

// r1 1 2, c1 2 0, r2 2 3, c2 3 0, ... with `sections` sections; f 1 0 N 0.
NetworkTables& rc_ladder(NetBuilder& b, int sections, int bits) {
  for (int k = 1; k <= sections; ++k) {
    const std::string r = "r" + std::to_string(k), c = "c" + std::to_string(k);
    b.passive(r.c_str(), k, k + 1).passive(c.c_str(), k + 1, 0);
  }
  return b.port(1, 0, sections + 1, 0).finish(bits);
}

TEST_F(StoresFixture, PassiveNetworkListsRawTreesAndAcceptedEdges) {
  NetBuilder b;
  NetworkTables& net = small_ladder(b, 2);
  const std::string edges = "    x: d0[  1]=  1, d1=  4, d2=  1\n"
                            "   r1: d0[  2]=  2, d1=  1, d2=  2\n"
                            "   r2: d0[  3]=  3, d1=  2, d2=  3\n"
                            "   c1: d0[  4]=  4, d1=  2, d2=  3\n";
  const std::string expected =
      "Topological formula: (V, 1-trees) \n"
      "product:: minty_nodes:4, edges:4, actual_nodes:3, form:0, topofun:0\n" +
      kGraphHeader + graph_line(1, 1, 0, 0, 1) + graph_line(2, 2, 0, 0, 2) +
      graph_line(3, 3, 0, 0, 3) + graph_line(4, 4, 0, 1, 4) + "only 1-trees are accepted\n" +
      kIGraphHeader + edges + kVGraphHeader + edges + kBlankLine +
      " raw i-tree no.     1 edges:  2(r1)   3(r2)  accepted\n"
      " accepted tree edges:  2,  2(r1)   3,  3(r2) \n"
      " raw i-tree no.     2 edges:  2(r1)   4(c1)  accepted\n"
      " accepted tree edges:  2,  2(r1)   4,  4(c1) \n";
  EXPECT_EQ(evaluate(net, stores, function_counter, 0), expected);
  const TermStore& v = stores.stores[0];
  EXPECT_EQ(bucket(net, v, 0), "r1 r2 (1)");
  EXPECT_EQ(bucket(net, v, 1), "r1 c1 (1)");
  EXPECT_EQ(v.terms_used, 2);
  EXPECT_EQ(stores.topofun_evaluated[0], 1);
  EXPECT_EQ(function_counter, 1);
}

TEST_F(StoresFixture, TwoTreeFunctionListsPermutationsAndSign) {
  NetBuilder b;
  NetworkTables& net = small_ladder(b, 8);
  const std::string tail = "   r1: d0[  3]=  2, d1=  1, d2=  2\n"
                           "   r2: d0[  4]=  3, d1=  2, d2=  3\n"
                           "   c1: d0[  5]=  4, d1=  2, d2=  3\n";
  const std::string expected =
      "Topological formula: (Wijkl, 2-trees) \n"
      "product:: minty_nodes:4, edges:5, actual_nodes:3, form:2, topofun:1\n" +
      kGraphHeader + graph_line(1, 1, 0, 0, 1) + graph_line(2, 5, 2, 0, 0) +
      graph_line(3, 2, 0, 0, 2) + graph_line(4, 3, 0, 0, 3) + graph_line(5, 4, 0, 1, 4) +
      "only 2-trees are accepted\n" + kIGraphHeader + "    x: d0[  1]=  1, d1=  4, d2=  1\n" +
      "    f: d0[  2]=  5, d1=  2, d2=  3\n" + tail + kVGraphHeader +
      "    x: d0[  1]=  1, d1=  4, d2=  1\n" + "    f: d0[  2]=  5, d1=  1, d2=  3\n" + tail +
      kBlankLine +
      " common tree edges:  2(f)   3(r1) \n"
      "v-tree permutation:   3(r1)   2(f) \n"
      "i-tree permutation:   3(r1)   2(f) \n"
      "resulting sign=  1\n";
  EXPECT_EQ(evaluate(net, stores, function_counter, 1), expected);
  EXPECT_EQ(bucket(net, stores.stores[1], 0), "r1 (1)");
  EXPECT_EQ(stores.stores[1].terms_used, 1);
  // The pseudo-branch name went into the slot after the names, uncounted.
  EXPECT_STREQ(net.branch_name_list[5], "f");
  EXPECT_EQ(net.branch_name_count, 4);
}

TEST_F(StoresFixture, OpampNetworkSignsAndThreeTreeRejection) {
  NetBuilder b;
  NetworkTables& net = inverting_amplifier(b, 0);
  EXPECT_EQ(evaluate(net, stores, function_counter, 0), "");
  EXPECT_EQ(bucket(net, stores.stores[0], 0), "rin rf (1)");

  net.test_bitmap = 8;
  const std::string w = evaluate(net, stores, function_counter, 1);
  const std::string common =
      " common tree edges:  2(f)   3(opamp)   4(rin) \n"
      "v-tree permutation:   3(opamp)   4(rin)  -2(f) \n"
      "i-tree permutation:   2(f)  -3(opamp)  -4(rin) \n"
      "resulting sign= -1\n";
  ASSERT_GE(w.size(), common.size());
  EXPECT_EQ(w.substr(w.size() - common.size()), common);
  EXPECT_EQ(bucket(net, stores.stores[1], 0), "rin (-1)");

  net.test_bitmap = 2 | 64;
  const std::string u = evaluate(net, stores, function_counter, 5);
  EXPECT_EQ(u.substr(0, u.find('\n') + 1), "Topological formula: (Uijkl, 3-trees) \n");
  const std::string verdicts =
      " raw i-tree no.     1 edges:  2(f1)   3(f2)   4(opamp)  rejected: no corresponding v-tree\n"
      "raw i-trees  evaluated:        1\n"
      "qualified common trees:        0\n"
      "opampcnt= 1\n";
  ASSERT_GE(u.size(), verdicts.size());
  EXPECT_EQ(u.substr(u.size() - verdicts.size()), verdicts);
  EXPECT_EQ(stores.stores[5].terms_used, 0);
  EXPECT_EQ(stores.topofun_evaluated[5], 1);
}

TEST_F(StoresFixture, ActiveEdgeRejectedWithoutVTreeAndTermOrder) {
  NetBuilder b;
  NetworkTables& net = transconductor(b, 2 | 64);
  const std::string v = evaluate(net, stores, function_counter, 0);
  const std::string trees =
      " raw i-tree no.     1 edges:  2(r1)   3(r2)  accepted\n"
      " accepted tree edges:  2,  3(r1)   3,  4(r2) \n"
      " raw i-tree no.     2 edges:  2(r1)   4(c1)  accepted\n"
      " accepted tree edges:  2,  3(r1)   4,  5(c1) \n"
      " raw i-tree no.     3 edges:  3(r2)   4(c1)  accepted\n"
      " accepted tree edges:  3,  4(r2)   4,  5(c1) \n"
      " raw i-tree no.     4 edges:  3(r2)   5(gm1)  rejected: no corresponding v-tree\n"
      " raw i-tree no.     5 edges:  4(c1)   5(gm1)  accepted\n"
      " accepted tree edges:  4,  5(c1)   5,  2(gm1) \n"
      "raw i-trees  evaluated:        5\n"
      "qualified common trees:        4\n"
      "opampcnt= 0\n";
  ASSERT_GE(v.size(), trees.size());
  EXPECT_EQ(v.substr(v.size() - trees.size()), trees);
  EXPECT_EQ(bucket(net, stores.stores[0], 0), "r1 r2 (1)");
  EXPECT_EQ(bucket(net, stores.stores[0], 1), "gm1 c1 (1); r1 c1 (1); r2 c1 (1)");

  net.test_bitmap = 0;
  evaluate(net, stores, function_counter, 1);
  EXPECT_EQ(bucket(net, stores.stores[1], 0), "gm1 (-1)");
  EXPECT_EQ(bucket(net, stores.stores[1], 1), "c1 (1)");
}

TEST_F(StoresFixture, ReversedOutputPairFlipsTheSignOfItsTrees) {
  NetBuilder b;
  NetworkTables& net = transconductor(b, 0);
  std::swap(net.active_edges[1].out_pos, net.active_edges[1].out_neg);
  evaluate(net, stores, function_counter, 0);
  EXPECT_EQ(bucket(net, stores.stores[0], 1), "gm1 c1 (-1); r1 c1 (1); r2 c1 (1)");
  evaluate(net, stores, function_counter, 1);
  EXPECT_EQ(bucket(net, stores.stores[1], 0), "gm1 (1)");
}

TEST_F(StoresFixture, EdgeOrderPutsOpampsFirstAndOtherActiveEdgesLast) {
  NetBuilder b;
  // gm1 before the op amp in the table; the passive edges between them.
  b.active("gm1", 3, 0, 1, 0).passive("r1", 1, 2).active("o1", 2, 0, 3, 4).passive("c1", 3, 4);
  NetworkTables& net = b.port(1, 0, 3, 0).finish(128);
  const std::string out = evaluate(net, stores, function_counter, 5);
  // nodes: 3->1, 0->2, 1->3, 2->4, 4->5, reserved 6; ports (3,2) and (1,2)
  const std::string i_graph = kIGraphHeader +
                              "    x: d0[  1]=  1, d1=  6, d2=  1\n"
                              "   f1: d0[  2]=  6, d1=  3, d2=  2\n"
                              "   f2: d0[  3]=  7, d1=  1, d2=  2\n"
                              "   o1: d0[  4]=  4, d1=  1, d2=  5\n"
                              "   r1: d0[  5]=  3, d1=  3, d2=  4\n"
                              "   c1: d0[  6]=  5, d1=  1, d2=  5\n"
                              "  gm1: d0[  7]=  2, d1=  3, d2=  2\n";
  const std::string v_graph = kVGraphHeader +
                              "    x: d0[  1]=  1, d1=  6, d2=  1\n"
                              "   f1: d0[  2]=  6, d1=  3, d2=  2\n"
                              "   f2: d0[  3]=  7, d1=  1, d2=  2\n"
                              "   o1: d0[  4]=  4, d1=  4, d2=  2\n"
                              "   r1: d0[  5]=  3, d1=  3, d2=  4\n"
                              "   c1: d0[  6]=  5, d1=  1, d2=  5\n"
                              "  gm1: d0[  7]=  2, d1=  1, d2=  2\n";
  EXPECT_NE(out.find("Topological formula: (Uijkl, 3-trees) \n"
                     "product:: minty_nodes:6, edges:7, actual_nodes:5, form:6, topofun:5\n"),
            std::string::npos);
  EXPECT_NE(out.find(graph_line(2, 6, 2, 0, 0) + graph_line(3, 7, 4, 0, 0) +
                     graph_line(4, 4, 1, 0, 4)),
            std::string::npos);
  EXPECT_NE(out.find("only 3-trees are accepted\n" + i_graph + v_graph + kBlankLine),
            std::string::npos);
  EXPECT_EQ(out.find(" raw i-tree"), std::string::npos);  // bit 128 lists no trees
}

TEST_F(StoresFixture, UnconjugatedCodesShareTheShapeButNotTheTreeCount) {
  NetBuilder b;
  NetworkTables& net = small_ladder(b, 128);
  const std::string u6 = evaluate(net, stores, function_counter, 6);
  EXPECT_EQ(u6.substr(0, u6.find("i d0")),
            "Topological formula: (unconjugated Uijkl, 2-trees) \n"
            "product:: minty_nodes:4, edges:6, actual_nodes:3, form:6, topofun:6\n");
  const std::string w7 = evaluate(net, stores, function_counter, 7);
  EXPECT_EQ(w7.substr(0, w7.find("i d0")),
            "Topological formula: (unconjugated Wijkl, 2-trees) \n"
            "product:: minty_nodes:4, edges:5, actual_nodes:3, form:2, topofun:7\n");
  EXPECT_EQ(bucket(net, stores.stores[7], 0), "r1 (1)");
  EXPECT_EQ(function_counter, 2);
}

TEST_F(StoresFixture, PseudoBranchInAFormerElementSlotAddsNoPower) {
  NetBuilder b;
  NetworkTables& net = small_ladder(b, 2);
  // A previous, larger netlist left a capacitor in the slot after the names.
  std::strcpy(net.branch_name_list[5], "c9");
  net.powermap[5] = 1;
  net.branchmap[5] = 5;
  net.fmap[5] = 0;
  const std::string out = evaluate(net, stores, function_counter, 2);  // Wijij: f across port 1 in both graphs
  EXPECT_NE(out.find(graph_line(2, 5, 2, 0, 0)), std::string::npos);
  EXPECT_EQ(bucket(net, stores.stores[2], 0), "r1 (1); r2 (1)");
  EXPECT_EQ(bucket(net, stores.stores[2], 1), "c1 (1)");
  EXPECT_EQ(net.powermap[5], 0);
}

TEST_F(StoresFixture, TreeCompletedBeforeTheLastPseudoBranchIsRejected) {
  NetBuilder b;
  NetworkTables& net = b.passive("r1", 1, 0).port(1, 0, 1, 0).finish(2 | 64);
  const std::string out = evaluate(net, stores, function_counter, 5);
  const std::string tail =
      " raw i-tree no.     1 edges:  2(f1) rejected: not a  3-tree\n"
      "raw i-trees  evaluated:        1\n"
      "qualified common trees:        0\n"
      "opampcnt= 0\n";
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
  EXPECT_EQ(stores.stores[5].terms_used, 0);
}

TEST_F(StoresFixture, TreeCompletedBeforeAllOpampsIsRejected) {
  NetBuilder b;
  NetworkTables& net = b.active("o1", 1, 0, 1, 0).active("o2", 1, 0, 1, 0).port(1, 0, 1, 0)
                           .finish(2);
  const std::string out = evaluate(net, stores, function_counter, 0);
  const std::string tail = " raw i-tree no.     1 edges:  2(o1)  rejected: opamp sorting\n";
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

TEST_F(StoresFixture, ForcedEdgesClosingACycleLeaveNoTrees) {
  NetBuilder b;
  // Both op amps share their input pair: they close a cycle in the i-graph.
  NetworkTables& net = b.active("o1", 2, 0, 1, 0).active("o2", 3, 0, 1, 0).passive("r1", 1, 2)
                           .passive("r2", 2, 3).passive("r3", 3, 0).port(1, 0, 3, 0).finish(64);
  const std::string out = evaluate(net, stores, function_counter, 0);
  EXPECT_NE(out.find("raw i-trees  evaluated:        0\n"
                     "qualified common trees:        0\n"
                     "opampcnt= 2\n"),
            std::string::npos);
  EXPECT_EQ(stores.stores[0].terms_used, 0);
  EXPECT_EQ(stores.topofun_evaluated[0], 1);
  EXPECT_NE(stores.stores[0].termlist, nullptr);
}

TEST_F(StoresFixture, SingleRealNodeHasTheEmptyTree) {
  NetBuilder b;
  NetworkTables& net = b.passive("r1", 1, 1).port(1, 1, 1, 1).finish(2 | 8 | 64);
  const std::string v = evaluate(net, stores, function_counter, 0);
  const std::string tail =
      " raw i-tree no.     1 edges: accepted\n"
      " common tree edges:\n"
      "v-tree permutation: \n"
      "i-tree permutation: \n"
      "resulting sign=  1\n"
      " accepted tree edges:\n"
      "raw i-trees  evaluated:        1\n"
      "qualified common trees:        1\n"
      "opampcnt= 0\n";
  ASSERT_GE(v.size(), tail.size());
  EXPECT_EQ(v.substr(v.size() - tail.size()), tail);
  EXPECT_EQ(bucket(net, stores.stores[0], 0), " (1)");  // the empty product, V = 1

  const std::string w = evaluate(net, stores, function_counter, 2);
  EXPECT_NE(w.find(" raw i-tree no.     1 edges:rejected: not a  2-tree\n"), std::string::npos);
  EXPECT_EQ(stores.stores[2].terms_used, 0);
}

TEST_F(StoresFixture, SelfLoopIsNeverATreeEdge) {
  NetBuilder b;
  // r2 joins node 3 to itself and is reached while node 3 is still untouched.
  NetworkTables& net = b.passive("r1", 1, 2).passive("r2", 3, 3).passive("r3", 2, 3)
                           .port(1, 2, 1, 2).finish(64);
  const std::string out = evaluate(net, stores, function_counter, 0);
  EXPECT_NE(out.find("raw i-trees  evaluated:        1\nqualified common trees:        1\n"),
            std::string::npos);
  EXPECT_EQ(bucket(net, stores.stores[0], 0), "r1 r3 (1)");
}

TEST_F(StoresFixture, TreeLinesAndNoStoreBit) {
  NetBuilder b;
  NetworkTables& net = small_ladder(b, 256);
  net.netlist_count = 3;
  function_counter = 7;
  EXPECT_EQ(evaluate(net, stores, function_counter, 0),
            " 3, 8, 0, 0, 0, 1:,  2,  3\n"
            " 3, 8, 0, 0, 1, 1:,  2,  4\n");
  EXPECT_EQ(stores.stores[0].terms_used, 2);

  net.test_bitmap = 512;
  EXPECT_EQ(evaluate(net, stores, function_counter, 0), "");
  EXPECT_EQ(stores.stores[0].terms_used, 0);
  for (int p = 0; p < kavrel::kPowerBuckets; ++p) EXPECT_EQ(stores.stores[0].bucket_count[p], 0);
  EXPECT_EQ(stores.topofun_evaluated[0], 1);
}

TEST_F(StoresFixture, ResourceBitPrintsCountersAndGrowthLines) {
  NetBuilder b;
  NetworkTables& net = rc_ladder(b, 10, 64);  // 6765 trees, all distinct terms
  const std::string out = masked_addresses(evaluate(net, stores, function_counter, 0));
  const std::string growth =
      "resizing termlist orig size =4472, orig ptr =0x#\n"
      "num of elements =8944, pointer =0x#\n"
      "resizing termvalue orig size =4472, orig ptr =0x#\n"
      "num of elements =8944, pointer =0x#\n";
  EXPECT_NE(out.find(growth), std::string::npos);
  EXPECT_NE(out.find("resizing poly orig size =104, orig ptr =0x#\n"
                     "num of elements =208, pointer =0x#\n"),
            std::string::npos);
  const std::string tail =
      "raw i-trees  evaluated:     6765\n"
      "qualified common trees:     6765\n"
      "opampcnt= 0\n";
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
  const TermStore& v = stores.stores[0];
  EXPECT_EQ(v.terms_used, 6765);
  EXPECT_EQ(v.term_capacity, 8944);
  int stored = 0;
  for (int p = 0; p < kavrel::kPowerBuckets; ++p) {
    stored += v.bucket_count[p];
    EXPECT_LT(v.bucket_count[p] + 1, v.poly_capacity);
  }
  EXPECT_EQ(stored, 6765);
}

// Refuses every allocation above the limit but poly's own sizes, so that of
// the store's arrays only termlist cannot grow. With the 12-section ladder's
// rows of 36 bytes no termlist size is also a poly size (13 columns: powers
// 0..12 for its 12 capacitors).
bool fail_termlist_growth(std::size_t bytes, void* context) {
  const std::size_t poly_bytes = sizeof(int32_t) * 13 * kavrel::kInitialPolyCapacity;
  const bool poly_size = bytes % poly_bytes == 0 && std::has_single_bit(bytes / poly_bytes);
  return bytes > *static_cast<std::size_t*>(context) && !poly_size;
}

TEST_F(StoresFixture, FailedGrowthReleasesTheStoreWithFourLines) {
  NetBuilder b;
  NetworkTables& net = rc_ladder(b, 12, 0);
  std::size_t limit = kavrel_test::first_termlist_bytes(net);
  ASSERT_FALSE(std::has_single_bit(limit / 5408));  // not a poly size
  kavrel::set_allocation_failure(fail_termlist_growth, &limit);
  EXPECT_EQ(evaluate(net, stores, function_counter, 0),
            "insufficient memory for combining admittance terms\n"
            "raw i-trees  evaluated:     4472\n"
            "qualified common trees:     4472\n" +
                kSetupFailure);
  EXPECT_EQ(stores.topofun_evaluated[0], 0);
  EXPECT_EQ(stores.stores[0].termlist, nullptr);
  EXPECT_EQ(stores.stores[0].poly, nullptr);
  EXPECT_EQ(stores.stores[0].termvalue, nullptr);
}

TEST_F(StoresFixture, FailedGrowthTracedUnderTheResourceBit) {
  NetBuilder b;
  NetworkTables& net = rc_ladder(b, 12, 64);
  std::size_t limit = kavrel_test::first_termlist_bytes(net);
  kavrel::set_allocation_failure(fail_termlist_growth, &limit);
  const std::string out = masked_addresses(evaluate(net, stores, function_counter, 0));
  const std::string tail =
      "resizing termlist orig size =4472, orig ptr =0x#\n"
      "resize failed for insufficient memory\n"
      "insufficient memory for combining admittance terms\n"
      "raw i-trees  evaluated:     4472\n"
      "qualified common trees:     4472\n" +
      kSetupFailure;
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
  EXPECT_EQ(out.find("opampcnt"), std::string::npos);
}

bool fail_always(std::size_t, void*) { return true; }
bool fail_exact(std::size_t bytes, void* context) {
  return bytes == *static_cast<std::size_t*>(context);
}

TEST_F(StoresFixture, InitialAllocationFailureSkipsTheFunction) {
  NetBuilder b;
  NetworkTables& net = small_ladder(b, 64);
  kavrel::set_allocation_failure(fail_always, nullptr);
  EXPECT_EQ(evaluate(net, stores, function_counter, 0), "Topological formula: (V, 1-trees) \n" + kSetupFailure);
  EXPECT_EQ(stores.topofun_evaluated[0], 0);
  EXPECT_EQ(stores.stores[0].termlist, nullptr);

  // Only the poly array is refused: what was obtained is given back (the
  // sanitizer build checks for leaks). With one reactive edge, c1, terms have
  // powers 0 and 1: two columns.
  std::size_t poly_bytes = sizeof(int32_t) * 2 * kavrel::kInitialPolyCapacity;
  kavrel::set_allocation_failure(fail_exact, &poly_bytes);
  net.test_bitmap = 0;
  EXPECT_EQ(evaluate(net, stores, function_counter, 1), kSetupFailure);
  EXPECT_EQ(stores.topofun_evaluated[1], 0);

  kavrel::set_allocation_failure(nullptr, nullptr);
  EXPECT_EQ(evaluate(net, stores, function_counter, 1), "");  // a cleared flag lets the function be requested again
  EXPECT_EQ(bucket(net, stores.stores[1], 0), "r1 (1)");
}

TEST_F(StoresFixture, ReleaseFreesFlaggedStoresAndClearsTheirFlags) {
  NetBuilder b;
  NetworkTables& net = small_ladder(b, 0);
  evaluate(net, stores, function_counter, 0);
  evaluate(net, stores, function_counter, 3);
  kavrel::release_term_stores(stores);
  for (int code = 0; code < 8; ++code) {
    EXPECT_EQ(stores.topofun_evaluated[code], 0);
    EXPECT_EQ(stores.stores[code].termlist, nullptr);
  }
}

TEST_F(StoresFixture, RunStatsAccumulateAndTheBudgetStopsEnumeration) {
  NetBuilder b;
  NetworkTables& net = rc_ladder(b, 6, 0);  // F(12) = 144 trees
  kavrel::RunStats stats;
  stores.stats = &stats;
  evaluate(net, stores, function_counter, 0);
  EXPECT_EQ(stats.raw_i_trees, 144);
  EXPECT_EQ(stats.common_trees, 144);
  EXPECT_EQ(stats.terms, 144);
  EXPECT_FALSE(stats.budget_exhausted);

  stats.raw_tree_budget = 200;
  evaluate(net, stores, function_counter, 0);
  EXPECT_TRUE(stats.budget_exhausted);
  EXPECT_EQ(stats.raw_i_trees, 200);
  evaluate(net, stores, function_counter, 2);
  EXPECT_EQ(stats.raw_i_trees, 200);
  EXPECT_EQ(stores.stores[2].terms_used, 0);
}

TEST_F(StoresFixture, TablesBeyondTheEnumerationLimitsAreRefused) {
  NetBuilder b;
  NetworkTables& net = small_ladder(b, 0);
  net.passive_edges[3].node2 = 44;
  EXPECT_FALSE(kavrel::topofun_fits(net, 0));
  EXPECT_EQ(evaluate(net, stores, function_counter, 0),
            "network exceeds the limits of the tree enumeration; function evaluation skipped\n");
  EXPECT_EQ(stores.topofun_evaluated[0], 0);
  net.passive_edges[3].node2 = 3;
  net.port_nodes[2] = 0;
  EXPECT_FALSE(kavrel::topofun_fits(net, 1));
  EXPECT_NE(evaluate(net, stores, function_counter, 1), "");
  EXPECT_TRUE(kavrel::topofun_fits(net, 0));
  EXPECT_EQ(evaluate(net, stores, function_counter, 0), "");  // V needs no port nodes
}

}  // namespace

namespace {

// The walk as described: from node 1, repeatedly take the lowest list position
// not yet used whose edge touches the node on top of the stack.
void walk_by_scanning(int n, int nodes, const int32_t* end1, const int32_t* end2,
                      const int32_t* list, int32_t* perm) {
  for (int v = 0; v < nodes; ++v) perm[v] = 0;
  std::vector<bool> used(static_cast<std::size_t>(n) + 1, false);
  std::vector<int> stack = {1};
  while (!stack.empty()) {
    const int u = stack.back();
    int k = 1;
    while (k <= n && (used[static_cast<std::size_t>(k)] ||
                      (end1[list[k]] != u && end2[list[k]] != u))) {
      ++k;
    }
    if (k > n) {
      stack.pop_back();
      continue;
    }
    used[static_cast<std::size_t>(k)] = true;
    const int e = list[k];
    const int other = end1[e] == u ? end2[e] : end1[e];
    perm[other] = end1[e] == u ? e : -e;
    stack.push_back(other);
  }
}

// Trees, forests, graphs with cycles and self-loops, up to 100 listed edges.
TEST(TreePermutation, AgreesWithAPlainScanOnAnyEdgeList) {
  std::mt19937 rng(21);
  for (int round = 0; round < 3000; ++round) {
    const int nodes = 2 + static_cast<int>(rng() % 42);
    const int n = static_cast<int>(rng() % 101);
    int32_t end1[kavrel::kEdgeSlots] = {};
    int32_t end2[kavrel::kEdgeSlots] = {};
    int32_t list[kavrel::kEdgeSlots] = {};
    for (int k = 1; k <= n; ++k) {
      const int e = 1 + static_cast<int>(rng() % 103);
      list[k] = e;
      const auto node = [&] { return 1 + static_cast<int>(rng() % static_cast<unsigned>(nodes)); };
      end1[e] = node();
      end2[e] = round % 3 == 0 && k > 1 ? end1[e] : node();
    }
    int32_t expected[kavrel::kEnumNodeSlots] = {};
    int32_t actual[kavrel::kEnumNodeSlots] = {};
    walk_by_scanning(n, nodes, end1, end2, list, expected);
    kavrel::tree_permutation(n, nodes, end1, end2, list, actual);
    for (int v = 0; v < nodes; ++v) ASSERT_EQ(actual[v], expected[v]) << round << " " << v;
  }
}

}  // namespace

namespace {

// An enumeration leaves its store with every column strictly descending and
// no term marked corrected, which unit correction then relies on: whether the
// terms were looked up, known distinct or inserted in order.
TEST_F(StoresFixture, FinishedStoresAreMarkedAsFiled) {
  for (const int bits : {0, 64}) {
    NetBuilder ladder_builder;
    NetBuilder transconductor_builder;
    for (NetworkTables* net : {&rc_ladder(ladder_builder, 10, bits),
                               &transconductor(transconductor_builder, bits)}) {
      for (const int code : {0, 3}) {
        evaluate(*net, stores, function_counter, code);
        const TermStore& store = stores.stores[code];
        ASSERT_GT(store.terms_used, 0) << bits << " " << code;
        EXPECT_TRUE(store.as_filed) << bits << " " << code;
        for (int p = 0; p < kavrel::kPowerBuckets; ++p) {
          for (int position = 0; position < store.bucket_count[p]; ++position) {
            const int row = kavrel::poly_entry(store, position, p);
            EXPECT_EQ(kavrel::term_corrected_flag(store, row), 0);
            if (position == 0) continue;
            const int before = kavrel::poly_entry(store, position - 1, p);
            EXPECT_GT(kavrel::compare_exponent_vectors(kavrel::term_row(store, before),
                                                       kavrel::term_row(store, row),
                                                       store.name_slots),
                      0)
                << bits << " " << code << " power " << p;
          }
        }
        kavrel::release_term_stores(stores);
      }
    }
  }
}

}  // namespace
