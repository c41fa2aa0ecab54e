#include "output/cancellation.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "output/row_scan.h"

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
  value = static_cast<double>(signed_coefficient / state.common_gcd);
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
};

SymbolicNames symbolic_names(const NetworkTables& net, const TermStore& store) {
  SymbolicNames symbolic;
  for (int k = 0; k < store.name_slots; ++k) {
    if (!has_numeric_value(net, k)) symbolic.names[symbolic.count++] = k;
  }
  return symbolic;
}

// Working memory of the merge, reused from bucket to bucket.
struct MergeScratch {
  std::vector<int> rows;
  std::vector<int> order;
  std::vector<unsigned char> keys;
};

// Sort keys of one bucket's terms: for each symbolic name whose exponent is
// not the same in every term, (largest exponent - exponent) in `width`
// big-endian bytes. Comparing two keys bytewise then orders the terms as
// their exponents do at the first symbolic name where they differ, the
// larger exponent first; equal keys are equal symbol products.
std::size_t build_sort_keys(const SymbolicNames& symbolic, const TermStore& store,
                            MergeScratch& scratch) {
  const std::size_t count = scratch.rows.size();
  // Over all name indices, so that the loop runs over whole rows.
  const int slots = store.name_slots;
  int32_t lowest[kNameSlots];
  int32_t highest[kNameSlots];
  for (int k = 0; k < slots; ++k) {
    lowest[k] = INT32_MAX;
    highest[k] = INT32_MIN;
  }
  for (const int row : scratch.rows) {
    const Exponent* term = term_row(store, row);
    for (int k = 0; k < slots; ++k) {
      lowest[k] = std::min<int32_t>(lowest[k], term[k]);
      highest[k] = std::max<int32_t>(highest[k], term[k]);
    }
  }
  int varying[kNameSlots];
  int varying_count = 0;
  int64_t widest_range = 0;
  for (int i = 0; i < symbolic.count; ++i) {
    const int k = symbolic.names[i];
    const int64_t range = static_cast<int64_t>(highest[k]) - lowest[k];
    if (range == 0) continue;
    varying[varying_count++] = k;
    if (range > widest_range) widest_range = range;
  }
  const int width = widest_range <= 0xff ? 1 : widest_range <= 0xffff ? 2 : 4;
  const std::size_t key_size = static_cast<std::size_t>(varying_count) * width;
  // One spare byte keeps the block non-empty when no exponent varies.
  scratch.keys.resize(count * key_size + 1);
  unsigned char* key = scratch.keys.data();
  for (const int row : scratch.rows) {
    const Exponent* term = term_row(store, row);
    for (int v = 0; v < varying_count; ++v) {
      const int k = varying[v];
      const auto distance = static_cast<uint32_t>(static_cast<int64_t>(highest[k]) - term[k]);
      for (int byte = width - 1; byte >= 0; --byte) {
        *key++ = static_cast<unsigned char>(distance >> (8 * byte));
      }
    }
  }
  return key_size;
}

// >0 when a's symbol product comes first (the larger exponent at the first
// symbolic name where they differ), <0 when b's, 0 when equal.
int compare_products(const SymbolicNames& symbolic, const Exponent* a, const Exponent* b) {
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
void merge_bucket(const SymbolicNames& symbolic, TermStore& store, int power,
                  MergeScratch& scratch) {
  if (put_in_order_without_sorting(symbolic, store, power)) return;
  const int count = store.bucket_count[power];
  scratch.rows.resize(static_cast<std::size_t>(count));
  scratch.order.resize(static_cast<std::size_t>(count));
  for (int position = 0; position < count; ++position) {
    scratch.rows[static_cast<std::size_t>(position)] = poly_entry(store, position, power);
    scratch.order[static_cast<std::size_t>(position)] = position;
  }
  const std::size_t key_size = build_sort_keys(symbolic, store, scratch);
  const unsigned char* keys = scratch.keys.data();
  auto key_of = [&](int position) { return keys + static_cast<std::size_t>(position) * key_size; };
  std::stable_sort(scratch.order.begin(), scratch.order.end(), [&](int a, int b) {
    return std::memcmp(key_of(a), key_of(b), key_size) < 0;
  });
  int merged = 0;
  int first_position = 0;
  for (const int position : scratch.order) {
    const int row = scratch.rows[static_cast<std::size_t>(position)];
    if (merged > 0 && std::memcmp(key_of(first_position), key_of(position), key_size) == 0) {
      store.termvalue[poly_entry(store, merged - 1, power)] += store.termvalue[row];
      continue;
    }
    poly_entry(store, merged++, power) = row;
    first_position = position;
  }
  store.bucket_count[power] = merged;
}

// Lowers the common factors to what a term with a nonzero coefficient has.
void take_common_factors(CancellationState& state, const Exponent* term, int32_t coefficient,
                         int name_slots) {
  for (int k = 0; k < name_slots; ++k) {
    if (term[k] < state.min_exponent[k]) state.min_exponent[k] = term[k];
  }
  if (coefficient > 0) state.common_sign = 1;
  const int32_t magnitude = coefficient < 0 ? -coefficient : coefficient;
  if (state.common_gcd > 0 && state.common_gcd != magnitude) {
    state.common_gcd = greatest_common_divisor(state.common_gcd, magnitude);
  } else {
    state.common_gcd = magnitude;
  }
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

void makecancellationlist(CancellationState& state, const TermStore& store) {
  const int slots = store.name_slots;
  bool nonzero_term_seen = false;
  // The common factors do not depend on the order of the terms.
  const RowPowers powers(store);
  if (powers.usable()) {
    for (int row = 0; row < powers.rows(); ++row) {
      const int power = powers.power_of(row);
      const Exponent* term = term_row(store, row);
      const int32_t coefficient = coefficient_in(store, term);
      if (power < 0 || coefficient == 0) continue;
      if (power < state.min_power) state.min_power = power;
      take_common_factors(state, term, coefficient, slots);
      nonzero_term_seen = true;
    }
  } else {
    for (int p = 0; p < kPowerBuckets; ++p) {
      if (!bucket_has_nonzero_term(store, p)) continue;
      if (p < state.min_power) state.min_power = p;
      for (int position = 0; position < store.bucket_count[p]; ++position) {
        const Exponent* term = term_row(store, poly_entry(store, position, p));
        const int32_t coefficient = coefficient_in(store, term);
        if (coefficient == 0) continue;
        take_common_factors(state, term, coefficient, slots);
        nonzero_term_seen = true;
      }
    }
  }
  // The names beyond the rows have exponent 0 in each of those terms.
  if (nonzero_term_seen) {
    for (int k = slots; k < kNameSlots; ++k) {
      state.min_exponent[k] = std::min(state.min_exponent[k], 0);
    }
  }
}

int evaluateliterals(CancellationState& state, const NetworkTables& net, TermStore& store,
                     FILE* out) {
  if (state.common_gcd == 0) state.common_gcd = 1;
  if (net.test_bitmap & kBitCommonFactors) print_common_factors(state, net, out);

  const ChangedNames changed = changed_names(state, net, store);
  bool evaluated[kPowerBuckets];
  for (int p = 0; p < kPowerBuckets; ++p) evaluated[p] = bucket_has_nonzero_term(store, p);
  // Each term is evaluated on its own, so memory order serves as well.
  const RowPowers powers(store);
  if (powers.usable()) {
    for (int row = 0; row < powers.rows(); ++row) {
      const int power = powers.power_of(row);
      if (power < 0 || !evaluated[power]) continue;
      evaluate_term(state, net, changed, term_row(store, row), term_coefficient(store, row),
                    store.termvalue[row]);
    }
  } else {
    for (int p = 0; p < kPowerBuckets; ++p) {
      if (!evaluated[p]) continue;
      for (int position = 0; position < store.bucket_count[p]; ++position) {
        const int row = poly_entry(store, position, p);
        evaluate_term(state, net, changed, term_row(store, row), term_coefficient(store, row),
                      store.termvalue[row]);
      }
    }
  }

  const SymbolicNames symbolic = symbolic_names(net, store);
  try {
    MergeScratch scratch;
    for (int p = 0; p < kPowerBuckets; ++p) {
      if (store.bucket_count[p] > 1) merge_bucket(symbolic, store, p, scratch);
    }
  } catch (const std::bad_alloc&) {
    return 1;
  }
  return 0;
}

}  // namespace kavrel
