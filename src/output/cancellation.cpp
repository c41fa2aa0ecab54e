#include "output/cancellation.h"

#include <cstdlib>

namespace kavrel {

namespace {

bool bucket_has_nonzero_term(const TermStore& store, int power) {
  for (int position = 0; position < store.bucket_count[power]; ++position) {
    if (term_row(store, poly_entry(store, position, power))[kCoefficientEntry] != 0) return true;
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

// >0 when u comes first (larger exponent at the first difference), <0 when t
// does, 0 when equal; names with a numeric value take no part.
int compare_symbolic(const NetworkTables& net, const int32_t* u, const int32_t* t) {
  for (int k = 0; k < kNameSlots; ++k) {
    if (u[k] == t[k] || has_numeric_value(net, k)) continue;
    return u[k] > t[k] ? 1 : -1;
  }
  return 0;
}

void print_common_factors(const CancellationState& state, const NetworkTables& net, FILE* out) {
  std::fprintf(out, "common factors to cancel in all terms of both num and denom:\n");
  std::fprintf(out, "%s%d ", state.common_sign > 0 ? "+" : "-", state.common_gcd);
  // Without any nonzero term the exponent minima are still at their initial
  // value and name no factor.
  if (state.min_power != kNoCommonFactor) {
    for (int k = 0; k < kNameSlots; ++k) {
      const int32_t exponent = state.min_exponent[k];
      if (exponent >= 2) {
        std::fprintf(out, " %.12s^%-2d", net.branch_name_list[k], exponent);
      } else if (exponent == 1) {
        std::fprintf(out, " %.12s   ", net.branch_name_list[k]);
      }
    }
  }
  std::fprintf(out, "\n");
}

void evaluate_term(const CancellationState& state, const NetworkTables& net, int32_t* term,
                   double& value) {
  const int64_t signed_coefficient =
      static_cast<int64_t>(term[kCoefficientEntry]) * state.common_sign;
  value = static_cast<double>(signed_coefficient / state.common_gcd);
  for (int k = 0; k < kNameSlots; ++k) {
    const int64_t minimum = state.min_exponent[k];
    const int64_t excess = term[k] - minimum;
    const bool numeric = has_numeric_value(net, k);
    if (excess > 0 && numeric) {
      // One factor at a time, so that the rounding is that of repeated products.
      for (int64_t i = 0; i < excess; ++i) value *= net.numeric_values[k];
    }
    if (term[k] == minimum || numeric) {
      term[k] = 0;
    } else {
      term[k] = static_cast<int32_t>(term[k] - minimum);
    }
  }
}

void merge_bucket(const NetworkTables& net, TermStore& store, int power) {
  const int count = store.bucket_count[power];
  int sorted = 1;
  for (int next = 1; next < count; ++next) {
    const int t_row = poly_entry(store, next, power);
    const int32_t* t = term_row(store, t_row);
    int low = 0;
    int high = sorted - 1;
    int probe = (sorted - 1) / 2;
    int result = 0;
    int u_row = 0;
    while (low <= high && result >= 0) {
      u_row = poly_entry(store, probe, power);
      const int order = compare_symbolic(net, term_row(store, u_row), t);
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
      store.termvalue[u_row] += store.termvalue[t_row];
      continue;
    }
    for (int position = sorted; position > result; --position) {
      poly_entry(store, position, power) = poly_entry(store, position - 1, power);
    }
    poly_entry(store, result, power) = t_row;
    ++sorted;
  }
  store.bucket_count[power] = sorted;
}

}  // namespace

void combineinit(CancellationState& state) {
  for (int32_t& exponent : state.min_exponent) exponent = kNoCommonFactor;
  state.common_gcd = 0;
  state.common_sign = -1;
  state.min_power = kNoCommonFactor;
}

void makecancellationlist(CancellationState& state, const TermStore& store) {
  for (int p = 0; p < kPowerBuckets; ++p) {
    if (!bucket_has_nonzero_term(store, p)) continue;
    if (p < state.min_power) state.min_power = p;
    for (int position = 0; position < store.bucket_count[p]; ++position) {
      const int32_t* term = term_row(store, poly_entry(store, position, p));
      const int32_t coefficient = term[kCoefficientEntry];
      if (coefficient == 0) continue;
      for (int k = 0; k < kNameSlots; ++k) {
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
  }
}

void evaluateliterals(CancellationState& state, const NetworkTables& net, TermStore& store,
                      FILE* out) {
  if (state.common_gcd == 0) state.common_gcd = 1;
  if (net.test_bitmap & kBitCommonFactors) print_common_factors(state, net, out);

  for (int p = 0; p < kPowerBuckets; ++p) {
    if (!bucket_has_nonzero_term(store, p)) continue;
    for (int position = 0; position < store.bucket_count[p]; ++position) {
      const int row = poly_entry(store, position, p);
      evaluate_term(state, net, term_row(store, row), store.termvalue[row]);
    }
  }

  for (int p = 0; p < kPowerBuckets; ++p) {
    if (store.bucket_count[p] > 1) merge_bucket(net, store, p);
  }
}

}  // namespace kavrel
