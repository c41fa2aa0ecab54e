// The points an enumeration can be cut into: going on from each in turn, on
// enumerators of their own, delivers the trees of the whole enumeration in
// its order, with their signs, and the same raw i-trees.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "input/network_tables.h"
#include "trees/enumeration.h"
#include "trees/qualification.h"
#include "trees/tree_enumerator.h"

namespace {

using kavrel::EnumerationPoint;
using kavrel::EnumState;
using kavrel::TreeEnumerator;

// A plain graph over nodes 1..n: edge 1 is the reserved edge from the extra
// node n+1 to node 1, as search builds it.
struct Graph {
  kavrel::EdgeLists lists;
  int nodes;
  explicit Graph(int n) : nodes(n + 1) { add(n + 1, 1); }
  void add(int a, int b) {
    const int e = ++lists.edges;
    lists.inode1[e] = lists.vnode1[e] = a;
    lists.inode2[e] = lists.vnode2[e] = b;
  }
};

struct Tree {
  std::vector<int> edges;
  int sign;
  bool operator==(const Tree& other) const {
    return edges == other.edges && sign == other.sign;
  }
};

struct Search {
  std::unique_ptr<kavrel::NetworkTables> net = std::make_unique<kavrel::NetworkTables>();
  kavrel::QualificationSettings qualification;
  kavrel::Pruning pruning;
  explicit Search(const Graph& graph) {
    std::memset(net.get(), 0, sizeof(kavrel::NetworkTables));
    qualification.net = net.get();
    qualification.lists = &graph.lists;
    qualification.nodes = graph.nodes;
    qualification.form = kavrel::kFormSpanningTrees;
    qualification.v_test_redundant = true;
    pruning.dead_alternatives = true;
    pruning.incremental_sign = true;
  }
  TreeEnumerator enumerator(const Graph& graph) const {
    return TreeEnumerator(graph.lists, qualification, LLONG_MAX, pruning, nullptr);
  }
};

Tree tree_of(const TreeEnumerator& enumerator) {
  Tree tree;
  for (int k = 1; k <= enumerator.tree().count; ++k) tree.edges.push_back(enumerator.tree().edge[k]);
  tree.sign = enumerator.tree_sign();
  return tree;
}

// The trees below `point`, appended; returns the raw i-trees met there.
long long trees_from(const Search& search, const Graph& graph, const EnumerationPoint& point,
                     std::vector<Tree>& trees) {
  TreeEnumerator enumerator = search.enumerator(graph);
  enumerator.resume_at(point);
  if (enumerator.enum_state != EnumState::kTreeReady) enumerator.next_tree();
  for (; enumerator.enum_state == EnumState::kTreeReady; enumerator.next_tree()) {
    trees.push_back(tree_of(enumerator));
  }
  return enumerator.raw_tree_count;
}

Graph grid(int rows, int columns) {
  Graph graph(rows * columns);
  auto node = [columns](int r, int c) { return r * columns + c + 1; };
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      if (c + 1 < columns) graph.add(node(r, c), node(r, c + 1));
      if (r + 1 < rows) graph.add(node(r, c), node(r + 1, c));
    }
  }
  return graph;
}

// A connected random multigraph, self-loops and all, its edges reversed at
// random so that signs vary.
Graph random_graph(std::mt19937& rng, int n, int extra_edges) {
  Graph graph(n);
  for (int v = 2; v <= n; ++v) graph.add(1 + static_cast<int>(rng() % (v - 1)), v);
  for (int k = 0; k < extra_edges; ++k) {
    graph.add(1 + static_cast<int>(rng() % n), 1 + static_cast<int>(rng() % n));
  }
  for (int e = 2; e <= graph.lists.edges; ++e) {
    if (rng() % 2 == 0) {
      std::swap(graph.lists.inode1[e], graph.lists.inode2[e]);
      std::swap(graph.lists.vnode1[e], graph.lists.vnode2[e]);
    }
  }
  return graph;
}

std::vector<Graph> graphs() {
  std::vector<Graph> all = {grid(3, 4), grid(2, 6)};
  std::mt19937 rng(44);
  for (int k = 0; k < 6; ++k) all.push_back(random_graph(rng, 5 + k, 4 + 2 * k));
  return all;
}

std::vector<Tree> whole_enumeration(const Search& search, const Graph& graph, long long& raw) {
  std::vector<Tree> trees;
  TreeEnumerator enumerator = search.enumerator(graph);
  for (enumerator.next_tree(); enumerator.enum_state == EnumState::kTreeReady;
       enumerator.next_tree()) {
    trees.push_back(tree_of(enumerator));
  }
  raw = enumerator.raw_tree_count;
  return trees;
}

TEST(EnumerationPoints, CutPointsHoldTheTreesInOrder) {
  for (const Graph& graph : graphs()) {
    const Search search(graph);
    long long raw = 0;
    const std::vector<Tree> expected = whole_enumeration(search, graph, raw);
    ASSERT_GT(expected.size(), 2u);
    for (int depth = 1; depth <= graph.nodes; ++depth) {
      TreeEnumerator splitter = search.enumerator(graph);
      splitter.cut_at_depth(depth);
      std::vector<EnumerationPoint> points;
      for (splitter.next_tree();; splitter.next_tree()) {
        if (splitter.enum_state == EnumState::kCut) {
          points.push_back(splitter.cut_point());
        } else if (splitter.enum_state == EnumState::kTreeReady) {
          points.push_back(splitter.point_here());
        } else {
          break;
        }
      }
      std::vector<Tree> trees;
      long long raw_below = 0;
      for (const EnumerationPoint& point : points) raw_below += trees_from(search, graph, point, trees);
      EXPECT_TRUE(trees == expected) << "cut at " << depth;
      EXPECT_EQ(splitter.raw_tree_count + raw_below, raw) << "cut at " << depth;
    }
  }
}

// After some trees, the saved alternatives, top first, and points cut
// further below them.
TEST(EnumerationPoints, PendingAlternativesHoldTheRestInOrder) {
  for (const Graph& graph : graphs()) {
    const Search search(graph);
    long long raw = 0;
    const std::vector<Tree> expected = whole_enumeration(search, graph, raw);
    for (const std::size_t delivered : {std::size_t{1}, std::size_t{5}, expected.size() / 2}) {
      TreeEnumerator enumerator = search.enumerator(graph);
      std::vector<Tree> trees;
      while (trees.size() < delivered) {
        enumerator.next_tree();
        ASSERT_EQ(enumerator.enum_state, EnumState::kTreeReady);
        trees.push_back(tree_of(enumerator));
      }
      long long raw_rest = 0;
      for (int i = 0; i < enumerator.pending_count(); ++i) {
        TreeEnumerator splitter = search.enumerator(graph);
        splitter.resume_at(enumerator.pending_point(i));
        splitter.cut_at_depth(splitter.free_edges_taken() + 2);
        for (splitter.next_tree();; splitter.next_tree()) {
          if (splitter.enum_state == EnumState::kCut) {
            raw_rest += trees_from(search, graph, splitter.cut_point(), trees);
          } else if (splitter.enum_state == EnumState::kTreeReady) {
            trees.push_back(tree_of(splitter));
          } else {
            break;
          }
        }
        raw_rest += splitter.raw_tree_count;
      }
      EXPECT_TRUE(trees == expected) << "after " << delivered;
      EXPECT_EQ(enumerator.raw_tree_count + raw_rest, raw) << "after " << delivered;
    }
  }
}

}  // namespace
