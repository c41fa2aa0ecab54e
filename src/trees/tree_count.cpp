#include "trees/tree_count.h"

#include <cstdio>

#include "trees/union_find.h"

namespace kavrel {

namespace {

using Wide = __int128;

struct Checked {
  Wide value = 0;
  bool overflow = false;
};

Wide multiply(Wide a, Wide b, bool& overflow) {
  Wide result = 0;
  if (__builtin_mul_overflow(a, b, &result)) overflow = true;
  return result;
}

Wide subtract(Wide a, Wide b, bool& overflow) {
  Wide result = 0;
  if (__builtin_sub_overflow(a, b, &result)) overflow = true;
  return result;
}

// Determinant of an integer matrix by Bareiss's fraction-free elimination:
// every intermediate entry is a minor of the matrix and every division is
// exact, so the result is exact unless a minor overflows, which is reported.
Checked bareiss_determinant(Wide (&m)[kEnumNodeSlots][kEnumNodeSlots], int n) {
  Checked result;
  if (n == 0) {
    result.value = 1;
    return result;
  }
  Wide sign = 1;
  Wide previous_pivot = 1;
  for (int k = 0; k < n - 1; ++k) {
    if (m[k][k] == 0) {
      int swap_row = -1;
      for (int i = k + 1; i < n; ++i) {
        if (m[i][k] != 0) {
          swap_row = i;
          break;
        }
      }
      if (swap_row < 0) return result;  // singular: 0
      for (int j = 0; j < n; ++j) {
        const Wide t = m[k][j];
        m[k][j] = m[swap_row][j];
        m[swap_row][j] = t;
      }
      sign = -sign;
    }
    for (int i = k + 1; i < n; ++i) {
      for (int j = k + 1; j < n; ++j) {
        bool overflow = false;
        const Wide a = multiply(m[i][j], m[k][k], overflow);
        const Wide b = multiply(m[i][k], m[k][j], overflow);
        const Wide difference = subtract(a, b, overflow);
        if (overflow) {
          result.overflow = true;
          return result;
        }
        m[i][j] = difference / previous_pivot;
      }
      m[i][k] = 0;
    }
    previous_pivot = m[k][k];
  }
  result.value = sign * m[n - 1][n - 1];
  return result;
}

}  // namespace

TreeCount count_raw_i_trees(const EdgeLists& lists, int nodes) {
  TreeCount count;
  if (nodes < 1 || nodes >= kEnumNodeSlots || lists.edges < 1) return count;
  NodeSets sets;
  sets.separate(NodeSets::kSlots - 1);
  auto in_range = [nodes](int v) { return v >= 1 && v <= nodes; };

  int last_forced = 1;
  for (int e = 2; e <= lists.edges; ++e) {
    if ((lists.dmap[e] & kForcedKinds) != 0) last_forced = e;
  }
  // Edges every raw i-tree holds are contracted first, in the order in which
  // the enumeration takes them.
  int components = nodes;
  bool forced_prefix = true;
  for (int e = 1; e <= lists.edges; ++e) {
    if (e != 1 && (lists.dmap[e] & kForcedKinds) == 0) {
      forced_prefix = false;
      continue;
    }
    const int a = lists.inode1[e];
    const int b = lists.inode2[e];
    if (!in_range(a) || !in_range(b)) return count;
    if (!sets.join(a, b)) return count;  // a forced cycle: no tree
    // Edge 1 and the forced edges before it already span every node while
    // forced edges are still undecided: the enumeration meets that one tree
    // (which qualification rejects for the forced edges it lacks) and has
    // nothing left to try.
    if (--components == 1 && forced_prefix && e < last_forced) {
      count.value = 1;
      return count;
    }
  }

  int index_of[kEnumNodeSlots];
  int merged_nodes = 0;
  for (int v = 1; v <= nodes; ++v) {
    if (sets.root(v) == v) index_of[v] = merged_nodes++;
  }
  // The Laplacian without the row and column of the last merged node.
  const int n = merged_nodes - 1;
  Wide laplacian[kEnumNodeSlots][kEnumNodeSlots] = {};
  for (int e = 2; e <= lists.edges; ++e) {
    if ((lists.dmap[e] & kForcedKinds) != 0) continue;
    const int a = lists.inode1[e];
    const int b = lists.inode2[e];
    if (!in_range(a) || !in_range(b)) return count;
    const int x = index_of[sets.root(a)];
    const int y = index_of[sets.root(b)];
    if (x == y) continue;  // a loop belongs to no tree
    if (x < n) ++laplacian[x][x];
    if (y < n) ++laplacian[y][y];
    if (x < n && y < n) {
      --laplacian[x][y];
      --laplacian[y][x];
    }
  }
  const Checked determinant = bareiss_determinant(laplacian, n);
  if (determinant.overflow) {
    count.exceeded = true;
    return count;
  }
  count.value = determinant.value < 0 ? 0 : static_cast<unsigned __int128>(determinant.value);
  return count;
}

void format_tree_count(const TreeCount& count, char* buffer, std::size_t size) {
  if (size == 0) return;
  if (count.exceeded) {
    std::snprintf(buffer, size, "more than 2^127");
    return;
  }
  char digits[48];
  int length = 0;
  unsigned __int128 rest = count.value;
  do {
    digits[length++] = static_cast<char>('0' + static_cast<int>(rest % 10));
    rest /= 10;
  } while (rest != 0);
  std::size_t written = 0;
  while (length > 0 && written + 1 < size) buffer[written++] = digits[--length];
  buffer[written] = '\0';
}

}  // namespace kavrel
