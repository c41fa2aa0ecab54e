#pragma once

#include <cstdint>

#include "input/network_tables.h"

namespace kavrel {

// Disjoint sets of node numbers 0..kSlots-1, with path halving; the sets are
// small enough that ranks would not pay.
class NodeSets {
 public:
  static constexpr int kSlots = kNodeSlots + 1;

  // Puts every node 0..last in a set of its own.
  void separate(int last) {
    for (int v = 0; v <= last; ++v) parent_[v] = static_cast<int8_t>(v);
  }

  int root(int v) {
    while (parent_[v] != v) {
      parent_[v] = parent_[parent_[v]];
      v = parent_[v];
    }
    return v;
  }

  // Joins the sets of a and b (a's root goes under b's); false when they were
  // one set already.
  bool join(int a, int b) {
    const int x = root(a);
    const int y = root(b);
    if (x == y) return false;
    parent_[x] = static_cast<int8_t>(y);
    return true;
  }

 private:
  int8_t parent_[kSlots];
};

}  // namespace kavrel
