#include "output/assembly.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "analysis/param_table.h"
#include "output/cancellation.h"
#include "output/fixup.h"
#include "output/polynomial.h"
#include "trees/memory.h"
#include "trees/run_monitor.h"
#include "trees/thread_count.h"

namespace kavrel {

namespace {

void trace(const NetworkTables& net, FILE* out, const char* line) {
  if (net.test_bitmap & kBitRoutineTrace) std::fputs(line, out);
}

// At least one element, so that an empty store still yields a distinct block.
void* obtain(std::size_t elements, std::size_t element_size) {
  return store_malloc((elements > 0 ? elements : 1) * element_size);
}

void negate_coefficients(TermStore& store, int used_terms) {
  for (int row = 0; row < used_terms; ++row) {
    const int32_t coefficient = term_coefficient(store, row);
    // -2147483648 has no negation; it stays and is refused by correctunits.
    if (coefficient != INT32_MIN) set_term_coefficient(store, row, -coefficient);
  }
}

int take_or_copy(int sign, TermStore& destination, TermStore& source, bool last_use,
                 int name_slots, FILE* out) {
  if (!last_use || source.name_slots != name_slots) {
    const int failed = copy_term_store(sign, destination, source, out, name_slots);
    if (failed == 0 && last_use) free_term_store(source);
    return failed;
  }
  destination = std::move(source);
  if (sign < 0) {
    negate_coefficients(destination, std::min(destination.terms_used, destination.term_capacity));
  }
  return 0;
}

void release_copies(TermStore& numerator_terms, TermStore& denominator_terms) {
  free_term_store(numerator_terms);
  free_term_store(denominator_terms);
}

// Numerator and denominator are worked on with rows of one width, wide enough
// for every unit factor found so far: unit correction writes the exponent of
// each name with a factor into every term.
int working_name_slots(const OhmUnitFactors& unit_factors, const TermStore& numerator,
                       const TermStore& denominator) {
  int slots = std::max(numerator.name_slots, denominator.name_slots);
  for (int k = kNameSlots - 1; k >= slots; --k) {
    if (unit_factors.factors[k] != 0) {
      slots = k + 1;
      break;
    }
  }
  return name_slots_for(slots);
}

void copy_rows(TermStore& destination, const TermStore& source, int rows) {
  if (rows <= 0) return;
  populate_for_writing(destination.termlist,
                       static_cast<std::size_t>(rows) * destination.row_bytes());
  if (destination.name_slots == source.name_slots) {
    std::memcpy(destination.termlist, source.termlist,
                static_cast<std::size_t>(rows) * source.row_bytes());
    return;
  }
  for (int row = 0; row < rows; ++row) {
    const Exponent* from = term_row(source, row);
    Exponent* to = term_row(destination, row);
    std::memcpy(to, from, static_cast<std::size_t>(source.name_slots) * sizeof(Exponent));
    std::fill(to + source.name_slots, to + destination.coefficient_offset(), Exponent{0});
    set_coefficient_in(destination, to, coefficient_in(source, from));
    set_corrected_flag_in(destination, to, corrected_flag_in(source, from));
  }
}

// The standard containers that unit correction and cancellation work with
// throw when the heap is exhausted. The function is then abandoned as when a
// power table cannot grow, and the run goes on with the next one.
int fixup_within_memory(const NetworkTables& net, OhmUnitFactors& unit_factors,
                        CancellationState& state, TermStore& numerator_terms,
                        TermStore& denominator_terms, FILE* out, bool worded,
                        const WorkShare& share) {
  try {
    return fixup(net, unit_factors, state, numerator_terms, denominator_terms, out, worded,
                 share);
  } catch (const std::bad_alloc&) {
    return 1;
  }
}

}  // namespace

int copy_term_store(int sign, TermStore& destination, const TermStore& source, FILE* out,
                    int name_slots) {
  const std::size_t term_rows = source.term_capacity > 0 ? source.term_capacity : 0;
  const std::size_t poly_rows = source.poly_capacity > 0 ? source.poly_capacity : 0;

  destination.name_slots =
      name_slots < source.name_slots ? source.name_slots : name_slots_for(name_slots);
  destination.termlist =
      static_cast<Exponent*>(obtain(term_rows, destination.row_bytes()));
  if (destination.termlist == nullptr) {
    std::fprintf(out, "can't allocate space for termlist\n");
    return 1;
  }
  destination.termvalue = static_cast<double*>(obtain(term_rows, sizeof(double)));
  if (destination.termvalue == nullptr) {
    std::fprintf(out, "can't allocate space for termvalue\n");
    return 1;
  }
  destination.poly_columns = source.poly_columns;
  destination.poly =
      static_cast<int32_t*>(obtain(poly_rows, sizeof(int32_t) * destination.poly_columns));
  if (destination.poly == nullptr) {
    std::fprintf(out, "can't allocate space for poly\n");
    return 1;
  }

  // Only what is in use can ever be read: each column below its bucket
  // count, termlist rows below terms_used. The rest is written before it is
  // read.
  for (int p = 0; p < source.poly_columns; ++p) {
    const int count = std::min(source.bucket_count[p], source.poly_capacity);
    if (count <= 0) continue;
    populate_for_writing(destination.poly + static_cast<long>(p) * source.poly_capacity,
                         static_cast<std::size_t>(count) * sizeof(int32_t));
    std::memcpy(destination.poly + static_cast<long>(p) * source.poly_capacity,
                source.poly + static_cast<long>(p) * source.poly_capacity,
                static_cast<std::size_t>(count) * sizeof(int32_t));
  }
  int used_terms = source.terms_used;
  if (used_terms > source.term_capacity) used_terms = source.term_capacity;
  copy_rows(destination, source, used_terms);
  if (used_terms > 0) {
    populate_for_writing(destination.termvalue,
                         static_cast<std::size_t>(used_terms) * sizeof(double));
    std::memcpy(destination.termvalue, source.termvalue,
                static_cast<std::size_t>(used_terms) * sizeof(double));
  }

  if (sign < 0) negate_coefficients(destination, used_terms);

  destination.poly_capacity = source.poly_capacity;
  destination.term_capacity = source.term_capacity;
  for (int p = 0; p < kPowerBuckets; ++p) destination.bucket_count[p] = source.bucket_count[p];
  destination.terms_used = source.terms_used;
  destination.as_filed = source.as_filed;
  return 0;
}

int print_tree_buf(const NetworkTables& net, OhmUnitFactors& unit_factors, TopofunStores& stores, FILE* out, int sign,
                   int num_topofun, int den_topofun, bool numerator_last_use,
                   bool denominator_last_use) {
  if (num_topofun < 0 || num_topofun >= kTopofunCount || den_topofun < 0 ||
      den_topofun >= kTopofunCount) {
    return 1;
  }
  // Output that can no longer be written is not worth assembling.
  if (run_stopped(stores.stats)) return 1;
  // The working copies of one function take the blocks the last one left.
  age_kept_blocks();
  const int32_t bits = net.test_bitmap;
  trace(net, out, "print_tree_buf entered\n");
  if (bits & kFormulaBits) {
    std::fprintf(out, "Topological formula: %c(%s, %1d-trees) / (%s, %1d-trees)\n",
                 sign > 0 ? ' ' : '-', topofun_names[num_topofun],
                 tree_order_digit(num_topofun), topofun_names[den_topofun],
                 tree_order_digit(den_topofun));
  }

  TermStore numerator_terms;
  TermStore denominator_terms;
  trace(net, out, "copy numerator called\n");
  const bool distinct = num_topofun != den_topofun;
  const int name_slots =
      working_name_slots(unit_factors, stores.stores[num_topofun], stores.stores[den_topofun]);
  if (take_or_copy(sign, numerator_terms, stores.stores[num_topofun],
                   distinct && numerator_last_use, name_slots, out) != 0) {
    release_copies(numerator_terms, denominator_terms);
    return 1;
  }
  trace(net, out, "copy denominator called\n");
  if (take_or_copy(1, denominator_terms, stores.stores[den_topofun],
                   distinct && denominator_last_use, name_slots, out) != 0) {
    release_copies(numerator_terms, denominator_terms);
    return 1;
  }

  if (bits & kBitNoStore) {
    release_copies(numerator_terms, denominator_terms);
    std::fprintf(out, "\n End:\n\n");
    return 0;
  }

  CancellationState state;
  trace(net, out, "combineinit called\n");
  combineinit(state);
  trace(net, out, "fixup called\n");
  const bool worded = stores.stats != nullptr && stores.stats->exact_output_only;
  const WorkShare share = work_share(stores.stats);
  if (fixup_within_memory(net, unit_factors, state, numerator_terms, denominator_terms, out, worded,
                          share) != 0) {
    std::fprintf(out, "insufficient memory to complete processing\n");
    std::fprintf(out, "\n Numerator:\n");
    std::fprintf(out, "\n Denominator:\n");
    std::fprintf(out, "\n End:\n\n");
    release_copies(numerator_terms, denominator_terms);
    return 1;
  }

  const bool rational = (bits & kBitRational) != 0;
  std::fprintf(out, rational ? "\n Function =\n  ((\n" : "\n Numerator:\n");
  print_polynomial(net, state, numerator_terms, out, worded, share.threads);
  std::fprintf(out, rational ? "\n )/(\n" : "\n Denominator:\n");
  print_polynomial(net, state, denominator_terms, out, worded, share.threads);
  if (rational) std::fprintf(out, "\n ))\n\n");

  release_copies(numerator_terms, denominator_terms);
  std::fprintf(out, "\n End:\n\n");
  return 0;
}

}  // namespace kavrel
