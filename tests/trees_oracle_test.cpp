// Random networks checked against linear algebra: by the Cauchy-Binet
// formula, the signed sum over common trees equals det(Av Y Ai^T) (reduced
// incidence matrices of the v-graph and the i-graph, node 1 as reference),
// and forced edges select the coefficient of their admittances.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "trees/term_store.h"
#include "trees/topofun.h"

namespace {

using kavrel::NetworkTables;

struct Edge {
  int v1, v2, i1, i2;
  double value;  // admittance; forced edges get 0 or 1 in the oracle
  bool forced;
};

double determinant(std::vector<std::vector<double>> m) {
  const int n = static_cast<int>(m.size());
  double det = 1.0;
  for (int c = 0; c < n; ++c) {
    int pivot = c;
    for (int r = c + 1; r < n; ++r) {
      if (std::fabs(m[r][c]) > std::fabs(m[pivot][c])) pivot = r;
    }
    if (m[pivot][c] == 0.0) return 0.0;
    if (pivot != c) {
      std::swap(m[pivot], m[c]);
      det = -det;
    }
    det *= m[c][c];
    for (int r = c + 1; r < n; ++r) {
      const double f = m[r][c] / m[c][c];
      for (int k = c; k < n; ++k) m[r][k] -= f * m[c][k];
    }
  }
  return det;
}

// det(Av Y Ai^T) over nodes 2..real_nodes, forced edges weighted by `chosen`.
double reduced_determinant(const std::vector<Edge>& edges, int real_nodes, unsigned chosen) {
  const int n = real_nodes - 1;
  std::vector<std::vector<double>> m(n, std::vector<double>(n, 0.0));
  unsigned bit = 1;
  for (const Edge& e : edges) {
    double y = e.value;
    if (e.forced) {
      y = (chosen & bit) ? 1.0 : 0.0;
      bit <<= 1;
    }
    auto incidence = [](int node, int a, int b) {
      return (node == b ? 1.0 : 0.0) - (node == a ? 1.0 : 0.0);
    };
    for (int r = 2; r <= real_nodes; ++r) {
      const double av = incidence(r, e.v1, e.v2);
      if (av == 0.0) continue;
      for (int c = 2; c <= real_nodes; ++c) m[r - 2][c - 2] += av * y * incidence(c, e.i1, e.i2);
    }
  }
  return n == 0 ? 1.0 : determinant(m);
}

// Coefficient of the product of all forced admittances.
double oracle(const std::vector<Edge>& edges, int real_nodes) {
  int forced = 0;
  for (const Edge& e : edges) forced += e.forced;
  double sum = 0.0;
  for (unsigned s = 0; s < (1u << forced); ++s) {
    const int missing = forced - __builtin_popcount(s);
    sum += (missing % 2 ? -1.0 : 1.0) * reduced_determinant(edges, real_nodes, s);
  }
  return sum;
}

struct RandomNetwork {
  NetworkTables net{};
  std::vector<double> value = std::vector<double>(kavrel::kNameSlots, 0.0);
  int real_nodes = 0;
};

RandomNetwork random_network(std::mt19937& random) {
  RandomNetwork r;
  NetworkTables& net = r.net;
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  r.real_nodes = 2 + pick(5);
  const int k = r.real_nodes;
  net.node_count = k + 1;
  net.branch_name_count = 1;
  net.passive_edge_count = 1;
  std::snprintf(net.branch_name_list[1], kavrel::kNameBytes, "x");
  auto add_name = [&](const char* kind, double value) {
    const int slot = ++net.branch_name_count;
    std::snprintf(net.branch_name_list[slot], kavrel::kNameBytes, "%.2s%d", kind, slot % 1000);
    net.branchmap[slot] = slot;
    net.fmap[slot] = kind[0] == 'o' ? 1 : 0;
    net.powermap[slot] = kind[0] == 'c' ? 1 : 0;
    r.value[slot] = value;
    return slot;
  };
  const int passive = 1 + pick(7);
  for (int j = 0; j < passive; ++j) {
    const int slot = add_name(pick(2) ? "g" : "c", 0.5 + (random() % 1000) / 500.0);
    int a = 1 + pick(k), b = 1 + pick(k);
    if (pick(8) != 0) {
      while (b == a && k > 1) b = 1 + pick(k);
    }
    net.passive_edges[++net.passive_edge_count] = {slot, a, b};
  }
  const int active = pick(3);
  for (int j = 0; j < active; ++j) {
    const bool opamp = pick(3) == 0;
    const int slot = add_name(opamp ? "o" : "gm", 0.5 + (random() % 1000) / 500.0);
    net.active_edges[++net.active_edge_count] = {slot, 1 + pick(k), 1 + pick(k), 1 + pick(k),
                                                 1 + pick(k)};
    if (opamp) ++net.opampcnt;
  }
  net.passive_edges[1] = {1, k + 1, 1};
  net.branchmap[1] = 1;
  for (int t = 0; t < 4; ++t) net.port_nodes[t] = 1 + pick(k);
  net.passive_snapshot = net.passive_edge_count;
  net.tree_branch_count = k;
  return r;
}

std::vector<Edge> oracle_edges(const RandomNetwork& r, int code) {
  const NetworkTables& net = r.net;
  const int32_t* p = net.port_nodes;
  std::vector<Edge> edges;
  auto pseudo = [&](int a, int b, int c, int d) { edges.push_back({p[a], p[b], p[c], p[d], 0, true}); };
  if (code == 1) pseudo(0, 1, 2, 3);
  if (code == 2) pseudo(0, 1, 0, 1);
  if (code == 3) pseudo(2, 3, 2, 3);
  if (code == 4) pseudo(2, 3, 0, 1);
  if (code == 5) {
    pseudo(0, 1, 0, 1);
    pseudo(2, 3, 2, 3);
  }
  for (int j = 2; j <= net.passive_edge_count; ++j) {
    const auto& e = net.passive_edges[j];
    edges.push_back({e.node1, e.node2, e.node1, e.node2, r.value[e.name], false});
  }
  for (int j = 1; j <= net.active_edge_count; ++j) {
    const auto& e = net.active_edges[j];
    edges.push_back({e.out_pos, e.out_neg, e.in_pos, e.in_neg, r.value[e.name],
                     net.fmap[e.name] == 1});
  }
  return edges;
}

// Value of the stored function and the sum of the magnitudes of its terms.
std::pair<double, double> stored_value(const kavrel::TermStore& store, const RandomNetwork& r) {
  double sum = 0.0, scale = 0.0;
  for (int row = 0; row < store.terms_used; ++row) {
    const kavrel::Exponent* t = kavrel::term_row(store, row);
    double product = 1.0;
    for (int i = 0; i < store.name_slots; ++i) product *= std::pow(r.value[i], t[i]);
    const int32_t coefficient = kavrel::coefficient_in(store, t);
    sum += coefficient * product;
    scale += std::abs(coefficient) * product;
  }
  return {sum, scale};
}

TEST(TreesOracle, SignedCommonTreeSumsEqualIncidenceDeterminants) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 400; ++round) {
    RandomNetwork r = random_network(random);
    for (int code : {0, 1, 2, 3, 4, 5}) {
      kavrel::TopofunStores stores;
      kavrel::RunStats stats;
      stores.stats = &stats;
      stores.topofun_evaluated[code] = 1;
      char* buffer = nullptr;
      std::size_t length = 0;
      FILE* out = open_memstream(&buffer, &length);
      int32_t function_counter = 0;
      kavrel::evaluate_topofun(r.net, stores, out, r.net.passive_snapshot,
                               r.net.active_edge_count, r.net.tree_branch_count, code,
                               function_counter);
      std::fclose(out);
      std::free(buffer);
      ASSERT_EQ(stores.topofun_evaluated[code], 1);
      const auto [value, scale] = stored_value(stores.stores[code], r);
      const double expected = oracle(oracle_edges(r, code), r.real_nodes);
      ASSERT_NEAR(value, expected, 1e-9 * (1.0 + scale + std::fabs(expected)))
          << "round " << round << " code " << code;
      ASSERT_EQ(stats.terms, stores.stores[code].terms_used);

      kavrel::release_term_stores(stores);

      if (code == 0 && r.net.opampcnt == 0) {
        // Every spanning tree of the i-graph is enumerated once, when trees
        // that cannot be common trees are not skipped.
        kavrel::RunStats exact_stats;
        exact_stats.exact_enumeration_only = true;
        stores.stats = &exact_stats;
        stores.topofun_evaluated[code] = 1;
        out = open_memstream(&buffer, &length);
        kavrel::evaluate_topofun(r.net, stores, out, r.net.passive_snapshot,
                                 r.net.active_edge_count, r.net.tree_branch_count, code,
                                 function_counter);
        std::fclose(out);
        std::free(buffer);
        kavrel::release_term_stores(stores);
        std::vector<Edge> unit = oracle_edges(r, 0);
        for (Edge& e : unit) {
          e.v1 = e.i1;
          e.v2 = e.i2;
          e.value = 1.0;
        }
        ASSERT_NEAR(static_cast<double>(exact_stats.raw_i_trees), oracle(unit, r.real_nodes), 1e-6)
            << "round " << round;
        ASSERT_EQ(exact_stats.common_trees, stats.common_trees) << "round " << round;
        ASSERT_LE(stats.raw_i_trees, exact_stats.raw_i_trees) << "round " << round;
      }
    }
  }
}

}  // namespace
