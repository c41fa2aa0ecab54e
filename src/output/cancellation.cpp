#include "output/cancellation.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "output/row_scan.h"
#include "trees/work_sharing.h"

namespace kavrel {

namespace {

bool bucket_has_nonzero_term(const TermStore& store, int power) {
  for (int position = 0; position < store.bucket_count[power]; ++position) {
    if (term_coefficient(store, poly_entry(store, position, power)) != 0) return true;
  }
  return false;
}

int32_t greatest_common_divisor(int32_t a, int32_t b) {
  while (b != 0) {
    const int32_t rest = a % b;
    a = b;
    b = rest;
  }
  return a;
}

bool has_numeric_value(const NetworkTables& net, int name_index) {
  return net.numeric_values[name_index] != 0.0;
}

void print_common_factors(const CancellationState& state, const NetworkTables& net, FILE* out) {
  std::fprintf(out, "common factors to cancel in all terms of both num and denom:\n");
  std::fprintf(out, "%s%d ", state.common_sign > 0 ? "+" : "-", state.common_gcd);
  // Without any nonzero term the exponent minima are still at their initial
  // value and name no factor.
  if (state.min_power != kNoCommonFactor) {
    for (int k = 0; k < kNameSlots; ++k) {
      print_symbol_power(out, net.branch_name_list[k], state.min_exponent[k]);
    }
  }
  std::fprintf(out, "\n");
}

// The name indices whose exponents evaluate_term changes: those with a
// numeric value or a common factor. Any other exponent e would become e - 0.
struct ChangedNames {
  int names[kNameSlots];
  int count = 0;
};

// Names beyond the rows have exponent 0 in every term and a minimum of 0:
// nothing changes there.
ChangedNames changed_names(const CancellationState& state, const NetworkTables& net,
                           const TermStore& store) {
  ChangedNames changed;
  for (int k = 0; k < store.name_slots; ++k) {
    if (state.min_exponent[k] != 0 || has_numeric_value(net, k)) changed.names[changed.count++] = k;
  }
  return changed;
}

void evaluate_term(const CancellationState& state, const NetworkTables& net,
                   const ChangedNames& changed, Exponent* term, int32_t coefficient,
                   double& value) {
  const int64_t signed_coefficient = static_cast<int64_t>(coefficient) * state.common_sign;
  // The usual divisor 1 spares a division per term.
  value = static_cast<double>(state.common_gcd == 1 ? signed_coefficient
                                                    : signed_coefficient / state.common_gcd);
  for (int i = 0; i < changed.count; ++i) {
    const int k = changed.names[i];
    const int64_t minimum = state.min_exponent[k];
    const int64_t excess = term[k] - minimum;
    const bool numeric = has_numeric_value(net, k);
    if (excess > 0 && numeric) {
      // One factor at a time, so that the rounding is that of repeated products.
      for (int64_t n = 0; n < excess; ++n) value *= net.numeric_values[k];
    }
    if (term[k] == minimum || numeric) {
      term[k] = 0;
    } else {
      term[k] = static_cast<Exponent>(term[k] - minimum);
    }
  }
}

// The names that order and distinguish terms when they are merged: those
// without a numeric value.
struct SymbolicNames {
  int names[kNameSlots];
  int count = 0;
  // Every name of the rows is symbolic: products compare as whole vectors.
  bool all = false;
};

SymbolicNames symbolic_names(const NetworkTables& net, const TermStore& store) {
  SymbolicNames symbolic;
  for (int k = 0; k < store.name_slots; ++k) {
    if (!has_numeric_value(net, k)) symbolic.names[symbolic.count++] = k;
  }
  symbolic.all = symbolic.count == store.name_slots;
  return symbolic;
}

// Working memory of the merge, reused from bucket to bucket.
struct MergeScratch {
  std::vector<int> rows;
  std::vector<int> order;
  std::vector<int> spare_order;
  std::vector<uint64_t> keys;
};

// The size of a bucket's sort keys: 64-bit words per key, bits in use.
struct SortKeys {
  int words = 0;
  int bits = 0;
};

int bits_for(uint32_t range) {
  int bits = 0;
  while (range != 0) {
    ++bits;
    range >>= 1;
  }
  return bits;
}

// The lowest and highest exponent of each name index over the terms of each
// power bucket, at the exponents' own width.
struct ExponentRanges {
  int slots = 0;
  std::vector<Exponent> lowest;
  std::vector<Exponent> highest;

  explicit ExponentRanges(int name_slots)
      : slots(name_slots),
        lowest(static_cast<std::size_t>(kPowerBuckets) * name_slots,
               std::numeric_limits<Exponent>::max()),
        highest(static_cast<std::size_t>(kPowerBuckets) * name_slots,
                std::numeric_limits<Exponent>::min()) {}

  void widen(int power, const Exponent* term) {
    Exponent* low = lowest.data() + static_cast<std::size_t>(power) * slots;
    Exponent* high = highest.data() + static_cast<std::size_t>(power) * slots;
    lower_to(low, term, slots);
    raise_to(high, term, slots);
  }
};

// One-word keys whose fields are all one bit wide, as where every element
// has a name of its own: each term's distances from the largest exponents are
// bytes of 0 or 1, which one multiplication packs eight at a time, the first
// byte into the top bit.
void pack_single_bit_keys(const TermStore& store, const std::vector<int>& rows,
                          const int* varying, const Exponent* highest, int varying_count,
                          uint64_t* keys) {
  Exponent largest[64];
  for (int v = 0; v < varying_count; ++v) largest[v] = highest[varying[v]];
  // Beyond the fields the distances stay 0.
  uint8_t distance[64] = {};
  const int groups = (varying_count + 7) / 8;
  const std::size_t count = rows.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (i + kPrefetchDistance < count) prefetch_row(store, rows[i + kPrefetchDistance]);
    const Exponent* term = term_row(store, rows[i]);
    for (int v = 0; v < varying_count; ++v) {
      distance[v] = static_cast<uint8_t>(largest[v] - term[varying[v]]);
    }
    uint64_t key = 0;
    for (int g = 0; g < groups; ++g) {
      uint64_t eight = 0;
      for (int j = 0; j < 8; ++j) eight |= static_cast<uint64_t>(distance[8 * g + j]) << (8 * j);
      key |= (eight * 0x8040201008040201u) >> 56 << (56 - 8 * g);
    }
    keys[i] = key;
  }
}

// Sort keys of one bucket's terms, packed into `words` 64-bit words each: for
// each symbolic name whose exponent is not the same in every term, (largest
// exponent - exponent) in just as many bits as that name's range needs, the
// first such name in the most significant bits. Comparing the words of two
// keys as unsigned integers, first word first, orders the terms as their
// exponents do at the first symbolic name where they differ, the larger
// exponent first; equal keys are equal symbol products.
SortKeys build_sort_keys(const SymbolicNames& symbolic, const TermStore& store,
                         const ExponentRanges& ranges, int power, MergeScratch& scratch) {
  const std::size_t count = scratch.rows.size();
  const Exponent* lowest = ranges.lowest.data() + static_cast<std::size_t>(power) * ranges.slots;
  const Exponent* highest = ranges.highest.data() + static_cast<std::size_t>(power) * ranges.slots;
  int varying[kNameSlots];
  int width[kNameSlots];
  int varying_count = 0;
  SortKeys shape;
  for (int i = 0; i < symbolic.count; ++i) {
    const int k = symbolic.names[i];
    const int64_t range = static_cast<int64_t>(highest[k]) - lowest[k];
    if (range == 0) continue;
    varying[varying_count] = k;
    width[varying_count] = bits_for(static_cast<uint32_t>(range));
    shape.bits += width[varying_count++];
  }
  shape.words = (shape.bits + 63) / 64;
  scratch.keys.resize(count * static_cast<std::size_t>(shape.words));
  uint64_t* key = scratch.keys.data();
  if (shape.words == 1 && shape.bits == varying_count) {
    pack_single_bit_keys(store, scratch.rows, varying, highest, varying_count, key);
    return shape;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (i + kPrefetchDistance < count) prefetch_row(store, scratch.rows[i + kPrefetchDistance]);
    const Exponent* term = term_row(store, scratch.rows[i]);
    int word = 0;
    int free_bits = 64;
    uint64_t filling = 0;
    for (int v = 0; v < varying_count; ++v) {
      const int k = varying[v];
      const auto distance = static_cast<uint64_t>(static_cast<int64_t>(highest[k]) - term[k]);
      const int field = width[v];
      if (field <= free_bits) {
        free_bits -= field;
        filling |= distance << free_bits;
      } else {
        // The field straddles two words: its high bits end this one.
        const int low_bits = field - free_bits;
        key[word++] = filling | distance >> low_bits;
        free_bits = 64 - low_bits;
        filling = distance << free_bits;
      }
      if (free_bits == 0 && v + 1 < varying_count) {
        key[word++] = filling;
        filling = 0;
        free_bits = 64;
      }
    }
    if (shape.words > 0) key[word] = filling;
    key += shape.words;
  }
  return shape;
}

bool key_less(const uint64_t* a, const uint64_t* b, int words) {
  for (int w = 0; w < words; ++w) {
    if (a[w] != b[w]) return a[w] < b[w];
  }
  return false;
}

bool key_equal(const uint64_t* a, const uint64_t* b, int words) {
  for (int w = 0; w < words; ++w) {
    if (a[w] != b[w]) return false;
  }
  return true;
}

// Stable: a least-significant-digit radix sort of one-word keys, a merge sort
// of longer ones.
void sort_positions(const SortKeys& shape, MergeScratch& scratch) {
  std::vector<int>& order = scratch.order;
  const uint64_t* keys = scratch.keys.data();
  const int words = shape.words;
  if (words == 0) return;
  if (words > 1) {
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      return key_less(keys + static_cast<std::size_t>(a) * words,
                      keys + static_cast<std::size_t>(b) * words, words);
    });
    return;
  }
  constexpr int kDigitBits = 11;
  constexpr std::size_t kDigits = std::size_t{1} << kDigitBits;
  std::vector<int>& spare = scratch.spare_order;
  spare.resize(order.size());
  // The key's fields fill it from the top.
  const int lowest_bit = 64 - shape.bits;
  for (int shift = lowest_bit; shift < 64; shift += kDigitBits) {
    std::size_t start[kDigits + 1] = {};
    for (const int position : order) ++start[((keys[position] >> shift) & (kDigits - 1)) + 1];
    for (std::size_t d = 1; d <= kDigits; ++d) start[d] += start[d - 1];
    for (const int position : order) {
      spare[start[(keys[position] >> shift) & (kDigits - 1)]++] = position;
    }
    order.swap(spare);
  }
}

// >0 when a's symbol product comes first (the larger exponent at the first
// symbolic name where they differ), <0 when b's, 0 when equal.
int compare_products(const SymbolicNames& symbolic, const Exponent* a, const Exponent* b) {
  if (symbolic.all) return compare_exponent_vectors(a, b, symbolic.count);
  for (int i = 0; i < symbolic.count; ++i) {
    const int k = symbolic.names[i];
    if (a[k] != b[k]) return a[k] > b[k] ? 1 : -1;
  }
  return 0;
}

// A bucket already strictly ordered, either way, has nothing to merge: the
// sort below would keep it or reverse it. Unit correction reverses the order
// of a bucket whose differing names are all corrected, so both are common.
bool put_in_order_without_sorting(const SymbolicNames& symbolic, TermStore& store, int power) {
  const int count = store.bucket_count[power];
  int ascending = 0;
  int descending = 0;
  for (int position = 1; position < count; ++position) {
    prefetch_ahead(store, position, power);
    const Exponent* previous = term_row(store, poly_entry(store, position - 1, power));
    const int order =
        compare_products(symbolic, previous, term_row(store, poly_entry(store, position, power)));
    if (order > 0) {
      ++descending;
    } else if (order < 0) {
      ++ascending;
    } else {
      return false;
    }
    if (ascending > 0 && descending > 0) return false;
  }
  if (ascending > 0) {
    for (int low = 0, high = count - 1; low < high; ++low, --high) {
      std::swap(poly_entry(store, low, power), poly_entry(store, high, power));
    }
  }
  return true;
}

// Binary insertion of each term into a list that is always strictly ordered
// with one term per symbol product amounts to a stable sort by descending
// symbol product in which every run of equal products collapses into its
// first term, whose value takes the others' values one by one in bucket
// order.
void merge_bucket(const SymbolicNames& symbolic, TermStore& store, const ExponentRanges& ranges,
                  int power, MergeScratch& scratch) {
  if (put_in_order_without_sorting(symbolic, store, power)) return;
  const int count = store.bucket_count[power];
  scratch.rows.resize(static_cast<std::size_t>(count));
  scratch.order.resize(static_cast<std::size_t>(count));
  for (int position = 0; position < count; ++position) {
    scratch.rows[static_cast<std::size_t>(position)] = poly_entry(store, position, power);
    scratch.order[static_cast<std::size_t>(position)] = position;
  }
  const SortKeys shape = build_sort_keys(symbolic, store, ranges, power, scratch);
  sort_positions(shape, scratch);
  const uint64_t* keys = scratch.keys.data();
  auto key_of = [&](int position) {
    return keys + static_cast<std::size_t>(position) * shape.words;
  };
  int merged = 0;
  int first_position = 0;
  for (const int position : scratch.order) {
    const int row = scratch.rows[static_cast<std::size_t>(position)];
    if (merged > 0 && key_equal(key_of(first_position), key_of(position), shape.words)) {
      store.termvalue[poly_entry(store, merged - 1, power)] += store.termvalue[row];
      continue;
    }
    poly_entry(store, merged++, power) = row;
    first_position = position;
  }
  store.bucket_count[power] = merged;
}

// The merge by binary insertion, one term after the other: each either joins
// the value of the equal term that the search ends on or is inserted where
// the search points.
void merge_bucket_by_insertion(const SymbolicNames& symbolic, TermStore& store, int power,
                               std::vector<int>& sorted) {
  const int count = store.bucket_count[power];
  sorted.assign(1, poly_entry(store, 0, power));
  for (int position = 1; position < count; ++position) {
    const int t = poly_entry(store, position, power);
    const int n = static_cast<int>(sorted.size());
    int low = 0;
    int high = n - 1;
    int probe = (n - 1) / 2;
    int result = 0;
    int compared = -1;
    while (low <= high && result >= 0) {
      compared = sorted[static_cast<std::size_t>(probe)];
      const int order =
          compare_products(symbolic, term_row(store, compared), term_row(store, t));
      if (order > 0) {
        low = probe + 1;
        result = probe + 1;
      } else if (order < 0) {
        high = probe - 1;
        result = probe;
      } else {
        result = -1;
      }
      probe = (low + high) / 2;
    }
    if (result < 0) {
      store.termvalue[compared] += store.termvalue[t];
    } else {
      sorted.insert(sorted.begin() + result, t);
    }
  }
  for (std::size_t position = 0; position < sorted.size(); ++position) {
    poly_entry(store, static_cast<int>(position), power) = sorted[position];
  }
  store.bucket_count[power] = static_cast<int>(sorted.size());
}

// The evaluation and the merge on several threads: each thread evaluates
// slices of the rows in memory order, widening exponent ranges of its own,
// then merges whole buckets. Every row is filed once, so the buckets share
// no row. False, with nothing done, when the store is too small for it or
// its rows' powers cannot be tabled; else `result` is set as the one-thread
// pass would set it.
bool evaluate_and_merge_shared(const CancellationState& state, const NetworkTables& net,
                               TermStore& store, const ChangedNames& changed,
                               const bool (&evaluated)[kPowerBuckets],
                               const SymbolicNames& symbolic, const WorkShare& share,
                               int& result) {
  const int rows = std::min(store.terms_used, store.term_capacity);
  const int workers = share.workers_for(rows);
  if (workers < 2) return false;
  const RowPowers powers(store);
  if (!powers.usable()) return false;

  std::vector<ExponentRanges> worker_ranges(static_cast<std::size_t>(workers),
                                            ExponentRanges(store.name_slots));
  const int slices = workers * 8;
  const bool evaluated_all = share_out(workers, slices, [&](int slice, int worker) {
    ExponentRanges& ranges = worker_ranges[static_cast<std::size_t>(worker)];
    const int end = static_cast<int>(static_cast<int64_t>(rows) * (slice + 1) / slices);
    for (int row = static_cast<int>(static_cast<int64_t>(rows) * slice / slices); row < end;
         ++row) {
      const int power = powers.power_of(row);
      if (power < 0) continue;
      Exponent* term = term_row(store, row);
      if (evaluated[power]) {
        evaluate_term(state, net, changed, term, coefficient_in(store, term),
                      store.termvalue[row]);
      }
      ranges.widen(power, term);
    }
  });
  if (!evaluated_all) {
    result = 1;
    return true;
  }
  ExponentRanges& ranges = worker_ranges[0];
  for (std::size_t w = 1; w < worker_ranges.size(); ++w) {
    for (std::size_t i = 0; i < ranges.lowest.size(); ++i) {
      ranges.lowest[i] = std::min(ranges.lowest[i], worker_ranges[w].lowest[i]);
      ranges.highest[i] = std::max(ranges.highest[i], worker_ranges[w].highest[i]);
    }
  }

  // The largest buckets first, so that no thread is left with one at the end.
  int buckets[kPowerBuckets];
  int bucket_total = 0;
  for (int p = 0; p < kPowerBuckets; ++p) {
    if (store.bucket_count[p] > 1) buckets[bucket_total++] = p;
  }
  std::sort(buckets, buckets + bucket_total,
            [&](int a, int b) { return store.bucket_count[a] > store.bucket_count[b]; });
  std::vector<MergeScratch> scratch(static_cast<std::size_t>(workers));
  const bool merged_all = share_out(workers, bucket_total, [&](int item, int worker) {
    merge_bucket(symbolic, store, ranges, buckets[item], scratch[static_cast<std::size_t>(worker)]);
  });
  result = merged_all ? 0 : 1;
  return true;
}

// The common divisor lowered to what a further magnitude (nonzero) allows;
// 0 stands for no magnitude yet.
int32_t lowered_gcd(int32_t divisor, int32_t magnitude) {
  if (divisor > 0 && divisor != magnitude) return greatest_common_divisor(divisor, magnitude);
  return magnitude;
}

}  // namespace

void print_symbol_power(FILE* out, const char* name, int32_t exponent) {
  if (exponent >= 2) {
    std::fprintf(out, " %.12s^%-2d", name, exponent);
  } else if (exponent == 1) {
    std::fprintf(out, " %.12s   ", name);
  }
}

void combineinit(CancellationState& state) {
  for (int32_t& exponent : state.min_exponent) exponent = kNoCommonFactor;
  state.common_gcd = 0;
  state.common_sign = -1;
  state.min_power = kNoCommonFactor;
}

void makecancellationlist(CancellationState& state, const TermStore& store, bool worded,
                          const WorkShare& share) {
  const int slots = store.name_slots;
  // The minima are kept at the exponents' own width, which lets the loop over
  // a row run on many names at once.
  struct Common {
    Exponent lowest[kNameSlots];
    int32_t min_power = kNoCommonFactor;
    bool positive_seen = false;
    int32_t gcd = 0;  // of the magnitudes seen; 0 before the first
    bool nonzero_term_seen = false;
  };
  Common common;
  for (Exponent& exponent : common.lowest) exponent = std::numeric_limits<Exponent>::max();
  auto visit = [&](Common& into, int row, int power) {
    const Exponent* term = term_row(store, row);
    const int32_t coefficient = coefficient_in(store, term);
    if (coefficient == 0) return;
    if (power < into.min_power) into.min_power = power;
    lower_to(into.lowest, term, slots);
    if (coefficient > 0) into.positive_seen = true;
    into.gcd = lowered_gcd(into.gcd, coefficient < 0 ? -coefficient : coefficient);
    into.nonzero_term_seen = true;
  };
  // The common factors do not depend on the order of the terms.
  std::vector<Common> parts;
  if (!worded && visit_filed_terms_shared(store, share, common, parts, visit)) {
    for (const Common& part : parts) {
      if (!part.nonzero_term_seen) continue;
      lower_to(common.lowest, part.lowest, slots);
      common.min_power = std::min(common.min_power, part.min_power);
      common.positive_seen = common.positive_seen || part.positive_seen;
      common.gcd = lowered_gcd(common.gcd, part.gcd);
      common.nonzero_term_seen = true;
    }
  } else {
    for_each_filed_term(store, worded, [&](int row, int power) { visit(common, row, power); });
  }
  if (!common.nonzero_term_seen) return;
  if (common.min_power < state.min_power) state.min_power = common.min_power;
  if (common.positive_seen) state.common_sign = 1;
  state.common_gcd = lowered_gcd(state.common_gcd, common.gcd);
  const Exponent* const lowest = common.lowest;
  for (int k = 0; k < slots; ++k) {
    state.min_exponent[k] = std::min<int32_t>(state.min_exponent[k], lowest[k]);
  }
  // The names beyond the rows have exponent 0 in each of those terms.
  for (int k = slots; k < kNameSlots; ++k) {
    state.min_exponent[k] = std::min(state.min_exponent[k], 0);
  }
}

void join_cancellation(CancellationState& into, const CancellationState& part) {
  into.min_power = std::min(into.min_power, part.min_power);
  if (part.common_sign == 1) into.common_sign = 1;
  if (part.common_gcd != 0) into.common_gcd = lowered_gcd(into.common_gcd, part.common_gcd);
  for (int k = 0; k < kNameSlots; ++k) {
    into.min_exponent[k] = std::min(into.min_exponent[k], part.min_exponent[k]);
  }
}

int evaluateliterals(CancellationState& state, const NetworkTables& net, TermStore& store,
                     FILE* out, bool worded, const WorkShare& share) {
  int result = 0;
  if (state.common_gcd == 0) state.common_gcd = 1;
  if (net.test_bitmap & kBitCommonFactors) print_common_factors(state, net, out);

  const ChangedNames changed = changed_names(state, net, store);
  bool evaluated[kPowerBuckets];
  for (int p = 0; p < kPowerBuckets; ++p) evaluated[p] = bucket_has_nonzero_term(store, p);
  const SymbolicNames symbolic = symbolic_names(net, store);
  try {
    if (worded) {
      for_each_filed_term(store, true, [&](int row, int power) {
        if (evaluated[power]) {
          evaluate_term(state, net, changed, term_row(store, row), term_coefficient(store, row),
                        store.termvalue[row]);
        }
      });
      std::vector<int> sorted;
      for (int p = 0; p < kPowerBuckets; ++p) {
        if (store.bucket_count[p] > 1) merge_bucket_by_insertion(symbolic, store, p, sorted);
      }
      return 0;
    }
    if (evaluate_and_merge_shared(state, net, store, changed, evaluated, symbolic, share,
                                  result)) {
      return result;
    }
    // Each term is evaluated on its own, so memory order serves as well; the
    // exponent ranges that the sort keys need are taken in the same pass.
    ExponentRanges ranges(store.name_slots);
    const bool once_each = for_each_filed_term(store, false, [&](int row, int power) {
      Exponent* term = term_row(store, row);
      if (evaluated[power]) {
        evaluate_term(state, net, changed, term, coefficient_in(store, term),
                      store.termvalue[row]);
      }
      ranges.widen(power, term);
    });
    if (!once_each) {
      // A row filed twice was evaluated twice: its final exponents count.
      ranges = ExponentRanges(store.name_slots);
      for_each_filed_term(store, true,
                          [&](int row, int power) { ranges.widen(power, term_row(store, row)); });
    }
    MergeScratch scratch;
    for (int p = 0; p < kPowerBuckets; ++p) {
      if (store.bucket_count[p] > 1) merge_bucket(symbolic, store, ranges, p, scratch);
    }
  } catch (const std::bad_alloc&) {
    return 1;
  }
  return 0;
}

}  // namespace kavrel
