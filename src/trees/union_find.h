#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "input/network_tables.h"

namespace kavrel {

// Disjoint sets of the numbers 0..Slots-1, with path halving; the sets are
// small enough that ranks would not pay.
template <int Slots>
class DisjointSets {
 public:
  static constexpr int kSlots = Slots;
  static_assert(Slots <= 128);

  // Puts every number 0..last in a set of its own.
  void separate(int last) {
    for (int v = 0; v <= last; ++v) parent_[v] = static_cast<int8_t>(v);
  }

  // The same for all numbers, as one block copy.
  void separate_all() {
    static constexpr auto identity = [] {
      std::array<int8_t, Slots> numbers{};
      for (int v = 0; v < Slots; ++v) numbers[v] = static_cast<int8_t>(v);
      return numbers;
    }();
    std::memcpy(parent_, identity.data(), sizeof parent_);
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
  int8_t parent_[Slots];
};

using NodeSets = DisjointSets<kNodeSlots + 1>;

}  // namespace kavrel
