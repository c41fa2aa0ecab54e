#include "trees/suffix_reach.h"

#include <bit>
#include <cstring>

namespace kavrel {

namespace {

constexpr uint64_t bit_of(int v) { return uint64_t{1} << v; }

// The nodes among the first 8 * words whose label is `label` (not 0): eight
// labels per word compared at once. A component is asked for once per walk,
// so this costs less than collecting every component's nodes beforehand.
uint64_t nodes_labelled(const NodeLabels& labels, int words, int label) {
  static_assert(sizeof(NodeLabels::of) % 8 == 0);
  uint64_t nodes = 0;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    const uint64_t pattern = 0x0101010101010101ULL * static_cast<uint8_t>(label);
    for (int w = 0; w < words; ++w) {
      uint64_t word;
      std::memcpy(&word, labels.of + 8 * w, sizeof word);
      const uint64_t differs = word ^ pattern;
      // 0x80 in each byte that equals the label, exactly (no borrows).
      const uint64_t equal = ~(((differs & kLow7) + kLow7) | differs) & ~kLow7;
      // Gathers the eight flags into one byte: the products' bits never
      // overlap.
      nodes |= (((equal >> 7) * 0x0102040810204080ULL) >> 56) << (8 * w);
    }
  } else {
    for (int v = 0; v < 8 * words; ++v) {
      if (labels.of[v] == label) nodes |= bit_of(v);
    }
  }
  return nodes;
}

}  // namespace

void SuffixReach::build(const int32_t* end1, const int32_t* end2, int first_edge, int last_edge,
                        int node_count) {
  node_count_ =
      node_count < 0 ? 0 : (node_count < kEnumNodeSlots ? node_count : kEnumNodeSlots - 1);
  first_edge_ = first_edge < 1 ? 1 : first_edge;
  last_edge_ = last_edge < kEdgeSlots ? last_edge : kEdgeSlots - 1;
  if (last_edge_ < first_edge_ - 1) last_edge_ = first_edge_ - 1;
  stride_ = node_count_ + 1;
  uint64_t* row = neighbours_ + static_cast<std::ptrdiff_t>(last_edge_ + 1 - first_edge_) * stride_;
  for (int v = 0; v < stride_; ++v) row[v] = 0;
  for (int f = last_edge_; f >= first_edge_; --f) {
    uint64_t* below = row - stride_;
    for (int v = 0; v < stride_; ++v) below[v] = row[v];
    row = below;
    const int a = end1[f];
    const int b = end2[f];
    if (a < 0 || a > node_count_ || b < 0 || b > node_count_) continue;
    row[a] |= bit_of(b);
    row[b] |= bit_of(a);
  }
}

const uint64_t* SuffixReach::neighbours_from(int first) const {
  if (first < first_edge_) first = first_edge_;
  if (first > last_edge_ + 1) first = last_edge_ + 1;
  return neighbours_ + static_cast<std::ptrdiff_t>(first - first_edge_) * stride_;
}

// Nodes 1..required.
uint64_t SuffixReach::wanted_nodes(int required) const {
  if (required > node_count_) required = node_count_;
  return required < 1 ? 0 : (bit_of(required + 1) - 1) & ~uint64_t{1};
}

uint64_t SuffixReach::reach(const NodeLabels& labels, int first, int start, uint64_t goal) const {
  const int words = node_count_ / 8 + 1;
  const uint64_t all_nodes = bit_of(node_count_ + 1) - 1;
  const auto component_of = [&](int v) {
    const int label = labels.of[v];
    return label != 0 ? nodes_labelled(labels, words, label) & all_nodes : bit_of(v);
  };
  const uint64_t* neighbours = neighbours_from(first);
  uint64_t reached = component_of(start);
  if ((reached & goal) == goal) return reached;
  uint64_t unexpanded = reached;
  while (unexpanded != 0) {
    const int v = std::countr_zero(unexpanded);
    unexpanded &= unexpanded - 1;
    uint64_t fresh = neighbours[v] & ~reached;
    while (fresh != 0) {
      const uint64_t component = component_of(std::countr_zero(fresh));
      reached |= component;
      if ((reached & goal) == goal) return reached;
      unexpanded |= component;
      fresh &= ~component;
    }
  }
  return reached;
}

bool SuffixReach::connects(const NodeLabels& labels, int first, int required) const {
  if (node_count_ == 0) return false;
  const uint64_t wanted = wanted_nodes(required);
  return (reach(labels, first, 1, wanted) & wanted) == wanted;
}

bool SuffixReach::connects_without(const NodeLabels& labels, int edge, int a, int b,
                                   int required) const {
  if (node_count_ == 0) return false;
  if (a < 0 || a > node_count_ || b < 0 || b > node_count_) {
    return connects(labels, edge + 1, required);
  }
  const uint64_t side = reach(labels, edge + 1, a, bit_of(b));
  if ((side & bit_of(b)) != 0) return true;
  // The edge was a bridge, and a's side was reached whole. The wanted
  // nodes, all of one component with the edge, stay together only if they
  // all lie on one side of it.
  const uint64_t wanted = wanted_nodes(required);
  return (side & wanted) == 0 || (side & wanted) == wanted;
}

}  // namespace kavrel
