#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "input/element_expansion.h"
#include "input/netlist_reader.h"

namespace {

using kavrel::NetworkTables;

struct Expanded {
  std::unique_ptr<NetworkTables> net = std::make_unique<NetworkTables>();
  int result = -1;

  std::vector<std::string> names() const {
    std::vector<std::string> list;
    for (int slot = 2; slot <= net->branch_name_count; ++slot)
      list.push_back(net->branch_name_list[slot]);
    return list;
  }
  std::vector<int> labels() const {
    std::vector<int> list;
    for (int node = 1; node <= net->node_count; ++node) list.push_back(net->node_list[node]);
    return list;
  }
  // Passive edges after the reserved one: name slot, first node, second node.
  std::vector<std::vector<int>> passive() const {
    std::vector<std::vector<int>> list;
    for (int e = 2; e <= net->passive_edge_count; ++e) {
      const kavrel::PassiveEdge& edge = net->passive_edges[e];
      list.push_back({edge.name, edge.node1, edge.node2});
    }
    return list;
  }
  std::vector<std::vector<int>> active() const {
    std::vector<std::vector<int>> list;
    for (int e = 1; e <= net->active_edge_count; ++e) {
      const kavrel::ActiveEdge& edge = net->active_edges[e];
      list.push_back({edge.name, edge.out_pos, edge.out_neg, edge.in_pos, edge.in_neg});
    }
    return list;
  }
  std::vector<int> mutual_flags() const {
    std::vector<int> list;
    for (int e = 1; e <= net->active_edge_count; ++e) list.push_back(net->mutual_flag[e]);
    return list;
  }
};

// Reads a netlist whose f and e entries add no node but the reserved one.
Expanded read(const std::string& text) {
  Expanded expanded;
  FILE* in = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), in);
  std::rewind(in);
  FILE* out = std::tmpfile();
  kavrel::InputStream input{in, out, 0};
  expanded.result = kavrel::read_netlist(input, *expanded.net);
  std::fclose(out);
  std::fclose(in);
  return expanded;
}

using Names = std::vector<std::string>;
using Ints = std::vector<int>;
using Rows = std::vector<std::vector<int>>;

TEST(Expansion, OnePort) {
  Expanded e = read("c1 7 3 f 7 3 7 3 e");
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(e.names(), Names({"c1"}));
  EXPECT_EQ(e.passive(), Rows({{2, 1, 2}}));
  EXPECT_EQ(e.labels(), Ints({7, 3, 0}));
  EXPECT_EQ(e.net->opampcnt, 0);
}

TEST(Expansion, NegatedOnePort) {
  Expanded e = read("x r1 1 2 f 1 0 2 0 e");
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(e.names(), Names({"r1", "o", "a", "a"}));
  EXPECT_EQ(e.labels(), Ints({1, 1000, 1001, 2, 0, 0}));
  EXPECT_EQ(e.passive(), Rows({{2, 1, 2}, {4, 4, 3}, {5, 2, 3}}));
  EXPECT_EQ(e.active(), Rows({{3, 1, 3, 2, 4}}));
  EXPECT_EQ(e.net->opampcnt, 1);
  EXPECT_EQ(e.net->negate_next, 0);
}

TEST(Expansion, NegationAppliesToOneElementOnly) {
  Expanded e = read("x X l1 1 2 l2 1 2 f 1 0 2 0 e");
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(e.names(), Names({"l1", "o", "a", "a", "l2"}));
}

TEST(Expansion, TransconductanceAndOpAmp) {
  Expanded e = read("GM1 1 2 3 4 O1 4 3 2 1 f 1 2 3 4 e");
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(e.names(), Names({"GM1", "O1"}));
  EXPECT_EQ(e.active(), Rows({{2, 1, 2, 3, 4}, {3, 4, 3, 2, 1}}));
  EXPECT_EQ(e.net->opampcnt, 1);
  EXPECT_EQ(e.mutual_flags(), Ints({0, 0}));
}

TEST(Expansion, NegatedTwoPortExchangesItsOutputTerminals) {
  Expanded e = read("x gm1 1 2 3 4 f 1 2 3 4 e");
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(e.labels(), Ints({2, 1, 3, 4, 0}));
  EXPECT_EQ(e.active(), Rows({{2, 1, 2, 3, 4}}));
  EXPECT_EQ(e.net->negate_next, 0);
}

TEST(Expansion, VoltageAmplifier) {
  Expanded e = read("u1 1 2 3 4 f 1 2 3 4 e");
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(e.names(), Names({"u1", "o", "a"}));
  EXPECT_EQ(e.labels(), Ints({1000, 2, 3, 4, 1, 0}));
  EXPECT_EQ(e.active(), Rows({{2, 1, 2, 3, 4}, {3, 5, 2, 2, 1}}));
  EXPECT_EQ(e.passive(), Rows({{4, 1, 5}}));
  EXPECT_EQ(e.net->opampcnt, 1);
}

TEST(Expansion, CurrentAmplifier) {
  Expanded e = read("b1 1 2 3 4 f 1 2 3 4 e");
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(e.names(), Names({"b1", "o", "a"}));
  EXPECT_EQ(e.labels(), Ints({2, 1, 1000, 4, 3, 0}));
  // The element's own edge has +out at the node of label 2.
  EXPECT_EQ(e.active(), Rows({{2, 1, 2, 3, 4}, {3, 3, 4, 4, 5}}));
  EXPECT_EQ(e.passive(), Rows({{4, 5, 3}}));
  EXPECT_EQ(e.net->opampcnt, 1);

  Expanded negated = read("x B1 1 2 3 4 f 1 2 3 4 e");
  ASSERT_EQ(negated.result, 0);
  EXPECT_EQ(negated.labels(), Ints({1, 2, 1000, 4, 3, 0}));
  EXPECT_EQ(negated.active()[0], Ints({2, 1, 2, 3, 4}));
}

TEST(Expansion, Transresistance) {
  Expanded e = read("rm1 1 2 3 4 f 1 2 3 4 e");
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(e.names(), Names({"rm1", "a", "o", "o", "a"}));
  EXPECT_EQ(e.labels(), Ints({3, 1000, 1001, 2, 4, 1, 0}));
  EXPECT_EQ(e.passive(), Rows({{2, 1, 2}, {6, 6, 3}}));
  EXPECT_EQ(e.active(), Rows({{3, 3, 4, 5, 2}, {4, 6, 4, 4, 3}, {5, 2, 5, 5, 1}}));
  EXPECT_EQ(e.net->opampcnt, 2);
  EXPECT_EQ(e.net->impedance_count, 1);
  EXPECT_EQ(e.net->impedance_list[0], 2);
}

TEST(Expansion, Gyrator) {
  Expanded e = read("gY1 1 2 3 4 f 1 2 3 4 e");
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(e.names(), Names({"gY1", "gY1"}));
  EXPECT_EQ(e.active(), Rows({{2, 1, 2, 3, 4}, {3, 4, 3, 1, 2}}));
  EXPECT_EQ(e.net->branchmap[3], 2);
  EXPECT_EQ(e.net->opampcnt, 0);
}

TEST(Expansion, MutualInductance) {
  Expanded e = read("m1 1 2 3 4 f 1 2 3 4 e");
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(e.names(), Names({"m1", "a", "o", "o", "a", "m1", "a", "o", "o", "a"}));
  EXPECT_EQ(e.labels(), Ints({1000, 1001, 3, 1002, 1003, 1, 1004, 1005, 4, 2, 0}));
  EXPECT_EQ(e.passive(), Rows({{2, 3, 4}, {6, 6, 5}, {7, 2, 7}, {11, 1, 8}}));
  EXPECT_EQ(e.active(), Rows({{3, 5, 2, 1, 4},
                              {4, 6, 2, 2, 5},
                              {5, 4, 1, 1, 3},
                              {8, 8, 9, 10, 7},
                              {9, 1, 9, 9, 8},
                              {10, 7, 10, 10, 2}}));
  EXPECT_EQ(e.mutual_flags(), Ints({1, 0, 0, 1, 0, 0}));
  EXPECT_EQ(e.net->opampcnt, 4);
  EXPECT_EQ(e.net->branch_name_count, 11);
  EXPECT_EQ(e.net->passive_edge_count, 5);
  EXPECT_EQ(e.net->active_edge_count, 6);
  EXPECT_EQ(e.net->powermap[7], 1);
}

TEST(Expansion, GeneratedLabelsRunOnAcrossElementsAndRestartPerNetlist) {
  Expanded e = read("u1 1 0 2 0 x c1 2 0 f 1 0 2 0 e");
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(e.labels(), Ints({1000, 0, 2, 1, 1001, 1002, 0}));
  EXPECT_EQ(e.net->opampcnt, 2);
}

TEST(ElementKind, ClassifiedByTheFirstOneOrTwoCharacters) {
  using kavrel::ElementKind;
  struct Case {
    const char* name;
    ElementKind kind;
  };
  const Case cases[] = {
      {"gm", ElementKind::kTransconductance}, {"GMx", ElementKind::kTransconductance},
      {"rM1", ElementKind::kTransresistance}, {"Rm", ElementKind::kTransresistance},
      {"o", ElementKind::kOpAmp},             {"Oa", ElementKind::kOpAmp},
      {"u", ElementKind::kVoltageAmplifier},  {"Bx", ElementKind::kCurrentAmplifier},
      {"M2", ElementKind::kMutualInductance}, {"Gy", ElementKind::kGyrator},
      {"g", ElementKind::kOnePort},           {"gx", ElementKind::kOnePort},
      {"r", ElementKind::kOnePort},           {"Z1", ElementKind::kOnePort},
      {"y", ElementKind::kOnePort},           {"L", ElementKind::kOnePort},
      {"c", ElementKind::kOnePort},
  };
  for (const Case& c : cases) {
    ElementKind kind = ElementKind::kOnePort;
    EXPECT_TRUE(kavrel::element_kind_of(c.name, kind)) << c.name;
    EXPECT_EQ(kind, c.kind) << c.name;
  }
  for (const char* other : {"", "f", "p", "n1", "e", "h", "t", "v", "x", "a", "q"}) {
    ElementKind kind;
    EXPECT_FALSE(kavrel::element_kind_of(other, kind)) << other;
  }
}

TEST(Expansion, RefusesAnElementTheTablesCannotHold) {
  auto net = std::make_unique<NetworkTables>();
  net->passive_edge_count = 64;
  net->active_edge_count = 10;
  net->branch_name_count = 74;
  net->node_count = 4;
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  const uint32_t labels[4] = {1, 2, 3, 4};
  EXPECT_EQ(kavrel::expand_element(*net, out, kavrel::ElementKind::kMutualInductance, labels), 1);
  std::fclose(out);
  EXPECT_EQ(std::string(buffer, size),
            "number of one-port elements(= 64) exceeds limit of 59\n or improper input applied\n");
  std::free(buffer);
  EXPECT_EQ(net->passive_edge_count, 64);
  EXPECT_EQ(net->node_count, 4);
}

}  // namespace
