#include "output/polynomial.h"

namespace kavrel {

namespace {

bool bucket_prints_something(const TermStore& store, int power) {
  for (int position = 0; position < store.bucket_count[power]; ++position) {
    if (store.termvalue[poly_entry(store, position, power)] != 0.0) return true;
  }
  return false;
}

void print_term(const NetworkTables& net, const int32_t* term, double value, bool rational,
                FILE* out) {
  std::fprintf(out, "         ");
  if (rational && value > 0) std::fprintf(out, "+");
  std::fprintf(out, "%g", value);
  for (int k = 0; k < kNameSlots; ++k) {
    const int32_t exponent = term[k];
    if (exponent <= 0) continue;
    if (rational) std::fprintf(out, " * ");
    if (exponent >= 2) {
      std::fprintf(out, " %.12s^%-2d", net.branch_name_list[k], exponent);
    } else {
      std::fprintf(out, " %.12s   ", net.branch_name_list[k]);
    }
  }
  std::fprintf(out, "\n");
}

}  // namespace

void print_polynomial(const NetworkTables& net, const CancellationState& state,
                      const TermStore& store, FILE* out) {
  const bool rational = (net.test_bitmap & kBitRational) != 0;
  bool printed_any = false;
  for (int p = 0; p < kPowerBuckets; ++p) {
    if (!bucket_prints_something(store, p)) continue;
    printed_any = true;
    const int shown_power = p - state.min_power;
    std::fprintf(out, rational ? "\n + s^%-2d * (\n" : "\n + s^%-2d (\n", shown_power);
    for (int position = 0; position < store.bucket_count[p]; ++position) {
      const int row = poly_entry(store, position, p);
      const double value = store.termvalue[row];
      if (value == 0.0) continue;
      print_term(net, term_row(store, row), value, rational, out);
    }
    std::fprintf(out, "        )");
  }
  if (!printed_any) std::fprintf(out, "\n        0");
  std::fprintf(out, "\n");
}

}  // namespace kavrel
