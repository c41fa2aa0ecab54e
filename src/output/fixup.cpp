#include "output/fixup.h"

#include <cstdint>

namespace kavrel {

namespace {

constexpr int32_t kCoefficientLimit = 2147483647;

bool coefficient_in_range(int64_t coefficient) {
  return coefficient >= -kCoefficientLimit && coefficient <= kCoefficientLimit;
}

// Adds t's coefficient to u's; false (with a message) when the sum would not
// fit. Coefficients are kept within +-2147483647 so that negating them or
// taking their absolute value can never overflow.
bool add_coefficient(int32_t* u, const int32_t* t, FILE* out) {
  const int64_t sum = static_cast<int64_t>(u[kCoefficientEntry]) + t[kCoefficientEntry];
  if (!coefficient_in_range(sum)) {
    std::fprintf(out, "coefficient out of range in unit correction\n");
    return false;
  }
  u[kCoefficientEntry] = static_cast<int32_t>(sum);
  return true;
}

bool equal_exponents(const int32_t* u, const int32_t* t) {
  for (int k = 0; k < kNameSlots; ++k) {
    if (u[k] != t[k]) return false;
  }
  return true;
}

void remove_position(TermStore& store, int power, int position) {
  const int last = store.bucket_count[power] - 1;
  for (int r = position; r < last; ++r) {
    poly_entry(store, r, power) = poly_entry(store, r + 1, power);
  }
  store.bucket_count[power] = last;
}

// Makes room for `rows` rows in every bucket of poly.
int grow_poly(const NetworkTables& net, TermStore& store, FILE* out) {
  if (net.test_bitmap & kBitResources) std::fprintf(out, "resizing poly ");
  void* block = store.poly;
  int rows = store.poly_capacity;
  if (resize_array(&block, &rows, sizeof(int32_t) * kPowerBuckets, net.test_bitmap, out) != 0) {
    return 1;
  }
  store.poly = static_cast<int32_t*>(block);
  for (long entry = static_cast<long>(store.poly_capacity) * kPowerBuckets;
       entry < static_cast<long>(rows) * kPowerBuckets; ++entry) {
    store.poly[entry] = 0;
  }
  store.poly_capacity = rows;
  return 0;
}

// Files the corrected term `row` in bucket `power`: merged into an equal
// corrected term if the bucket has one, else appended.
int refile_term(const NetworkTables& net, TermStore& store, int row, int power, FILE* out) {
  int32_t* t = term_row(store, row);
  const int count = store.bucket_count[power];
  if (count == 0) {
    if (store.poly_capacity < 1 && grow_poly(net, store, out) != 0) return 1;
    poly_entry(store, 0, power) = row;
    store.bucket_count[power] = 1;
    return 0;
  }
  for (int position = 0; position < count; ++position) {
    int32_t* u = term_row(store, poly_entry(store, position, power));
    if (u[kCorrectedFlagEntry] == 1 && equal_exponents(u, t)) {
      return add_coefficient(u, t, out) ? 0 : 1;
    }
  }
  if (count + 1 >= store.poly_capacity && grow_poly(net, store, out) != 0) return 1;
  poly_entry(store, count, power) = row;
  store.bucket_count[power] = count + 1;
  return 0;
}

int correct_and_refile(const NetworkTables& net, TermStore& store, FILE* out) {
  int corrected_names[kNameSlots];
  int corrected_count = 0;
  int reactive_names[kNameSlots];
  int reactive_count = 0;
  for (int k = 0; k < kNameSlots; ++k) {
    if (net.ohm_unit_factors[k] != 0) corrected_names[corrected_count++] = k;
    if (net.powermap[k] != 0) reactive_names[reactive_count++] = k;
  }

  for (int p = 0; p < kPowerBuckets; ++p) {
    int j = 0;
    while (j < store.bucket_count[p]) {
      const int row = poly_entry(store, j, p);
      int32_t* t = term_row(store, row);
      if (!coefficient_in_range(t[kCoefficientEntry])) {
        std::fprintf(out, "coefficient out of range in unit correction\n");
        return 1;
      }
      if (t[kCorrectedFlagEntry] == 1) {
        ++j;
        continue;
      }
      t[kCorrectedFlagEntry] = 1;
      for (int i = 0; i < corrected_count; ++i) {
        const int k = corrected_names[i];
        t[k] = net.ohm_unit_factors[k] - t[k];
      }
      int64_t power = 0;
      for (int i = 0; i < reactive_count; ++i) power += t[reactive_names[i]];
      if (power == p) {
        ++j;
        continue;
      }
      if (power < 0 || power >= kPowerBuckets) {
        // Only a zero-coefficient term (invisible in the output) may stay
        // in a bucket that is not its own.
        if (t[kCoefficientEntry] != 0) {
          std::fprintf(out, "power of s outside 0..42 after unit correction\n");
          return 1;
        }
        ++j;
        continue;
      }
      if (refile_term(net, store, row, static_cast<int>(power), out) != 0) return 1;
      remove_position(store, p, j);
    }
  }
  return 0;
}

// >0 when u's exponent vector is the larger, <0 when t's, 0 when equal.
int compare_exponents(const int32_t* u, const int32_t* t) {
  for (int k = 0; k < kNameSlots; ++k) {
    if (u[k] != t[k]) return u[k] > t[k] ? 1 : -1;
  }
  return 0;
}

int merge_equal_terms(TermStore& store, FILE* out) {
  for (int p = 0; p < kPowerBuckets; ++p) {
    for (int j = store.bucket_count[p] - 1; j >= 0; --j) {
      const int32_t* t = term_row(store, poly_entry(store, j, p));
      if (t[kCorrectedFlagEntry] != 1) continue;
      int low = 0;
      int high = j - 1;
      int probe = (j - 1) / 2;
      while (low <= high) {
        int32_t* u = term_row(store, poly_entry(store, probe, p));
        const int order = compare_exponents(u, t);
        if (order == 0) {
          if (!add_coefficient(u, t, out)) return 1;
          remove_position(store, p, j);
          break;
        }
        if (order > 0) {
          low = probe + 1;
        } else {
          high = probe - 1;
        }
        probe = (low + high) / 2;
      }
    }
  }
  return 0;
}

void list_and_drop_ohm_unit_factors(NetworkTables& net, FILE* out) {
  std::fprintf(out, "these ohm-unit factors modify all terms of both num and denom:\n");
  int last_name = net.passive_snapshot + net.active_edge_count;
  if (last_name > kNameSlots - 1) last_name = kNameSlots - 1;
  for (int i = 1; i <= last_name; ++i) {
    const int32_t factor = net.ohm_unit_factors[i];
    if (factor >= 2) {
      std::fprintf(out, " %.12s^%-2d", net.branch_name_list[i], factor);
    } else if (factor == 1) {
      std::fprintf(out, " %.12s   ", net.branch_name_list[i]);
    }
  }
  std::fprintf(out, "\n");
  // Every factor goes, so that the function really is printed uncorrected.
  for (int32_t& factor : net.ohm_unit_factors) factor = 0;
  std::fprintf(out,
               "note that s*L, s*M, and R represent s/L, s/M, and 1/R in the following "
               "function:\n");
}

void trace(const NetworkTables& net, FILE* out, const char* line) {
  if (net.test_bitmap & kBitRoutineTrace) std::fputs(line, out);
}

}  // namespace

void eval_branchtag(NetworkTables& net, const TermStore& store) {
  int count = net.impedance_count;
  if (count > kNameSlots) count = kNameSlots;
  for (int p = 0; p < kPowerBuckets; ++p) {
    for (int position = 0; position < store.bucket_count[p]; ++position) {
      const int32_t* term = term_row(store, poly_entry(store, position, p));
      if (term[kCoefficientEntry] == 0) continue;
      for (int i = 0; i < count; ++i) {
        const int k = net.impedance_list[i];
        if (k < 0 || k >= kNameSlots) continue;
        if (term[k] > net.ohm_unit_factors[k]) net.ohm_unit_factors[k] = term[k];
      }
    }
  }
}

int correctunits(const NetworkTables& net, TermStore& store, FILE* out) {
  if (correct_and_refile(net, store, out) != 0) return 1;
  return merge_equal_terms(store, out);
}

int fixup(NetworkTables& net, CancellationState& state, TermStore& numerator_terms,
          TermStore& denominator_terms, FILE* out) {
  trace(net, out, "fixup entered, eval_branchtag for numerator called\n");
  eval_branchtag(net, numerator_terms);
  trace(net, out, "eval_branchtag for denominator called\n");
  eval_branchtag(net, denominator_terms);
  if (net.test_bitmap & kBitOhmFactors) list_and_drop_ohm_unit_factors(net, out);

  trace(net, out, "correctunits for numerator called\n");
  if (correctunits(net, numerator_terms, out) != 0) return 1;
  trace(net, out, "correctunits for denominator called\n");
  if (correctunits(net, denominator_terms, out) != 0) return 1;

  trace(net, out, "makecancellationlist for numerator called\n");
  makecancellationlist(state, numerator_terms);
  trace(net, out, "makecancellationlist for denominator called\n");
  makecancellationlist(state, denominator_terms);

  trace(net, out, "evaluateliterals for numerator called\n");
  evaluateliterals(state, net, numerator_terms, out);
  trace(net, out, "evaluateliterals for denominator called\n");
  evaluateliterals(state, net, denominator_terms, out);
  return 0;
}

}  // namespace kavrel
