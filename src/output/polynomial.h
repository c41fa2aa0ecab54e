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
// With more than one thread, a polynomial of at least the threshold's filed
// terms is formatted by that many worker threads while the calling thread
// writes (the same bytes).
void print_polynomial(const NetworkTables& net, const CancellationState& state,
                      const TermStore& store, FILE* out, bool worded = false, int threads = 1);

// When polynomials are formatted by threads, and in chunks of how many terms
// at most (0: as many as a chunk buffer holds). Tests lower both so that small
// polynomials cross chunk boundaries.
struct PrintChunking {
  long long threshold_terms = 8192;
  int chunk_terms = 0;
};
void set_print_chunking(const PrintChunking& chunking);

}  // namespace kavrel
