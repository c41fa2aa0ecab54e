// The connectivity questions the search asks of the undecided edges, checked
// against a plain union-find over the components and the edges.

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "trees/enumeration.h"
#include "trees/suffix_reach.h"

namespace {

using kavrel::NodeLabels;
using kavrel::SuffixReach;

struct Graph {
  int nodes = 0;
  std::vector<int32_t> end1{0};  // edges from 1
  std::vector<int32_t> end2{0};
  int edges() const { return static_cast<int>(end1.size()) - 1; }
};

int root(std::vector<int>& parent, int v) {
  while (parent[v] != v) v = parent[v] = parent[parent[v]];
  return v;
}

// Whether nodes 1..required are one set once the nodes of each nonzero label
// and the ends of every edge from `first` on are joined.
bool connected_by_brute_force(const Graph& graph, const NodeLabels& labels, int first,
                              int required) {
  std::vector<int> parent(static_cast<std::size_t>(graph.nodes) + 1);
  std::iota(parent.begin(), parent.end(), 0);
  const auto join = [&parent](int a, int b) { parent[root(parent, a)] = root(parent, b); };
  for (int u = 1; u <= graph.nodes; ++u) {
    for (int v = u + 1; v <= graph.nodes; ++v) {
      if (labels.of[u] != 0 && labels.of[u] == labels.of[v]) join(u, v);
    }
  }
  for (int f = first; f <= graph.edges(); ++f) join(graph.end1[f], graph.end2[f]);
  for (int v = 2; v <= required; ++v) {
    if (root(parent, v) != root(parent, 1)) return false;
  }
  return true;
}

Graph random_graph(std::mt19937& random) {
  Graph graph;
  graph.nodes = std::uniform_int_distribution<int>(1, kavrel::kEnumNodeSlots - 1)(random);
  const int edges = std::uniform_int_distribution<int>(0, 2 * graph.nodes + 2)(random);
  std::uniform_int_distribution<int> node(1, graph.nodes);
  for (int e = 0; e < edges && graph.edges() < kavrel::kMaxEdges; ++e) {
    graph.end1.push_back(node(random));
    graph.end2.push_back(node(random));
  }
  return graph;
}

// Components of a few taken edges, labelled either densely from 1 or by
// their smallest node, as the search's two graphs label them.
NodeLabels random_labels(const Graph& graph, std::mt19937& random) {
  NodeLabels labels{};
  std::vector<int> parent(static_cast<std::size_t>(graph.nodes) + 1);
  std::iota(parent.begin(), parent.end(), 0);
  std::vector<bool> touched(parent.size(), false);
  std::uniform_int_distribution<int> node(1, graph.nodes);
  const int taken = std::uniform_int_distribution<int>(0, graph.nodes)(random);
  for (int k = 0; k < taken; ++k) {
    const int a = node(random);
    const int b = node(random);
    touched[a] = touched[b] = true;
    parent[root(parent, a)] = root(parent, b);
  }
  const bool dense = random() % 2 == 0;
  std::vector<int> label_of_root(parent.size(), 0);
  int next_label = 1;
  for (int v = 1; v <= graph.nodes; ++v) {
    if (!touched[v]) continue;
    int& label = label_of_root[root(parent, v)];
    if (label == 0) label = dense ? next_label++ : v;
    labels.of[v] = static_cast<int8_t>(label);
  }
  return labels;
}

TEST(SuffixReach, ConnectsAsTheComponentsAndTheLaterEdgesDo) {
  std::mt19937 random(20261209);
  auto reach = std::make_unique<SuffixReach>();
  int connected = 0;
  int bridges = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    const Graph graph = random_graph(random);
    reach->build(graph.end1.data(), graph.end2.data(), 1, graph.edges(), graph.nodes);
    const NodeLabels labels = random_labels(graph, random);
    const int first = std::uniform_int_distribution<int>(1, graph.edges() + 1)(random);
    const int required = std::uniform_int_distribution<int>(0, graph.nodes)(random);
    const bool expected = connected_by_brute_force(graph, labels, first, required);
    ASSERT_EQ(reach->connects(labels, first, required), expected) << "trial " << trial;
    connected += expected ? 1 : 0;

    // Leaving out the edge at `first` from a state that connects.
    if (!expected || first > graph.edges()) continue;
    const bool without = connected_by_brute_force(graph, labels, first + 1, required);
    ASSERT_EQ(reach->connects_without(labels, first, graph.end1[first], graph.end2[first],
                                      required),
              without)
        << "trial " << trial;
    bridges += without ? 0 : 1;
  }
  // Both answers came up often enough to mean something.
  EXPECT_GT(connected, 2000) << connected;
  EXPECT_GT(bridges, 200) << bridges;
}

TEST(SuffixReach, LeavesOutTheEdgesBeforeTheFirst) {
  // Edge 1 alone joins nodes 1 and 2; edge 2 joins 2 and 3.
  Graph graph;
  graph.nodes = 3;
  graph.end1 = {0, 1, 2};
  graph.end2 = {0, 2, 3};
  auto reach = std::make_unique<SuffixReach>();
  const NodeLabels none{};
  reach->build(graph.end1.data(), graph.end2.data(), 1, graph.edges(), graph.nodes);
  EXPECT_TRUE(reach->connects(none, 1, 3));
  reach->build(graph.end1.data(), graph.end2.data(), 2, graph.edges(), graph.nodes);
  EXPECT_FALSE(reach->connects(none, 1, 3));
  EXPECT_FALSE(reach->connects(none, 1, 2));
  NodeLabels one_and_two{};
  one_and_two.of[1] = one_and_two.of[2] = 1;
  EXPECT_TRUE(reach->connects(one_and_two, 1, 3));
  // Without edge 2, node 3 is cut off; nodes 1 and 2 stay together.
  EXPECT_FALSE(reach->connects_without(one_and_two, 2, 2, 3, 3));
  EXPECT_TRUE(reach->connects_without(one_and_two, 2, 2, 3, 2));
}

TEST(SuffixReach, AGraphWithoutNodesConnectsNothing) {
  auto reach = std::make_unique<SuffixReach>();
  const int32_t ends[1] = {0};
  reach->build(ends, ends, 2, 0, 0);
  EXPECT_FALSE(reach->connects(NodeLabels{}, 2, 0));
}

}  // namespace
