#pragma once

#include <cstdio>

#include "input/network_tables.h"
#include "output/cancellation.h"
#include "trees/term_store.h"

namespace kavrel {

// Prints one working copy, after fixup, as a polynomial in s (normal form, or
// the rational form under test_bitmap bit 4096). Powers are printed relative
// to min_power.
// Writes what "%g" prints for value into text (kValueTextBytes at least, no
// terminating zero written for whole numbers); returns its length.
constexpr int kValueTextBytes = 48;
int format_value(char* text, double value);

// `worded` (for tests) prints each piece through the stream on its own.
void print_polynomial(const NetworkTables& net, const CancellationState& state,
                      const TermStore& store, FILE* out, bool worded = false);

}  // namespace kavrel
