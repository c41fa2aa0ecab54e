#include "output/fixup.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "output/row_scan.h"
#include "trees/kept_threads.h"
#include "trees/memory.h"
#include "trees/work_sharing.h"

namespace kavrel {

namespace {

constexpr int32_t kCoefficientLimit = 2147483647;

bool coefficient_in_range(int64_t coefficient) {
  return coefficient >= -kCoefficientLimit && coefficient <= kCoefficientLimit;
}

// Adds t's coefficient to u's; false (with a message) when the sum would not
// fit. Coefficients are kept within +-2147483647 so that negating them or
// taking their absolute value can never overflow.
bool add_coefficient(const TermStore& store, Exponent* u, const Exponent* t, FILE* out) {
  const int64_t sum = static_cast<int64_t>(coefficient_in(store, u)) + coefficient_in(store, t);
  if (!coefficient_in_range(sum)) {
    std::fprintf(out, "coefficient out of range in unit correction\n");
    return false;
  }
  set_coefficient_in(store, u, static_cast<int32_t>(sum));
  return true;
}

bool equal_exponents(const Exponent* u, const Exponent* t, int length) {
  return first_exponent_difference(u, t, length) == length;
}

struct ExponentHash {
  const TermStore* store;
  std::size_t operator()(int row) const {
    const Exponent* exponents = term_row(*store, row);
    uint64_t hash = 0xcbf29ce484222325u;
    for (int k = 0; k < store->name_slots; ++k) {
      hash = (hash ^ static_cast<uint8_t>(exponents[k])) * 0x100000001b3u;
    }
    return static_cast<std::size_t>(hash ^ (hash >> 32));
  }
};

struct EqualExponents {
  const TermStore* store;
  bool operator()(int a, int b) const {
    return equal_exponents(term_row(*store, a), term_row(*store, b), store->name_slots);
  }
};

using TermsByExponents = std::unordered_set<int, ExponentHash, EqualExponents>;

// A refiled term merges into the first term of its new bucket (in position
// order) that is already corrected and has the same exponents. Per bucket,
// `first_corrected` holds exactly those first terms, one per exponent vector
// (a set keyed by exponents keeps the first row inserted), so the scan of the
// bucket becomes one lookup. Corrected terms never change their exponents
// again, and terms only join a bucket at its end, so a set stays right while
// terms are appended; it is rebuilt from its column when it is next needed
// after the bucket's own terms have been corrected.
struct CorrectedTermIndex {
  std::vector<TermsByExponents> first_corrected;
  bool current[kPowerBuckets] = {};
  bool received_terms[kPowerBuckets] = {};

  explicit CorrectedTermIndex(const TermStore& store) {
    first_corrected.reserve(kPowerBuckets);
    for (int q = 0; q < kPowerBuckets; ++q) {
      first_corrected.emplace_back(0, ExponentHash{&store}, EqualExponents{&store});
    }
  }
};

TermsByExponents& corrected_terms_of(CorrectedTermIndex& index, const TermStore& store,
                                     int power) {
  TermsByExponents& terms = index.first_corrected[power];
  if (!index.current[power]) {
    terms.clear();
    for (int position = 0; position < store.bucket_count[power]; ++position) {
      const int row = poly_entry(store, position, power);
      if (term_corrected_flag(store, row) == 1) terms.insert(row);
    }
    index.current[power] = true;
  }
  return terms;
}

// Files the corrected term `row` in bucket `power`: merged into an equal
// corrected term if the bucket has one, else appended.
int refile_term(const NetworkTables& net, TermStore& store, CorrectedTermIndex& index, int row,
                int power, FILE* out) {
  if (ensure_poly_column(store, power) != 0) return 1;
  const int count = store.bucket_count[power];
  if (count == 0) {
    if (store.poly_capacity < 1 && grow_poly_columns(store, net.test_bitmap, out) != 0) return 1;
  } else {
    TermsByExponents& corrected = corrected_terms_of(index, store, power);
    const auto twin = corrected.find(row);
    if (twin != corrected.end()) {
      return add_coefficient(store, term_row(store, *twin), term_row(store, row), out) ? 0 : 1;
    }
    if (count + 1 >= store.poly_capacity && grow_poly_columns(store, net.test_bitmap, out) != 0) {
      return 1;
    }
  }
  poly_entry(store, count, power) = row;
  store.bucket_count[power] = count + 1;
  index.received_terms[power] = true;
  if (index.current[power]) index.first_corrected[power].insert(row);
  return 0;
}

// The rewriting e -> F - e of every name with a unit factor F, the others
// left alone, as (e xor flip) + add in bytes: ~e + F + 1 is F - e modulo 256,
// which is what the narrowing to an exponent keeps. All names of a row at
// once, in blocks the compiler turns into vector operations. Its own
// inverse, as the rewriting is.
class UnitRewrite {
 public:
  UnitRewrite(const OhmUnitFactors& unit_factors, int slots) : slots_(slots) {
    for (int k = 0; k < kNameSlots; ++k) {
      const bool corrected = k < slots && unit_factors.factors[k] != 0;
      flip_[k] = corrected ? 0xff : 0;
      add_[k] = corrected ? static_cast<uint8_t>(unit_factors.factors[k] + 1) : 0;
    }
  }

  void apply(Exponent* row) const {
    uint8_t bytes[kNameSlots];
    std::memcpy(bytes, row, static_cast<std::size_t>(slots_));
    int k = 0;
    for (; k + 16 <= slots_; k += 16) {
      for (int j = 0; j < 16; ++j) {
        bytes[k + j] = static_cast<uint8_t>((bytes[k + j] ^ flip_[k + j]) + add_[k + j]);
      }
    }
    for (; k < slots_; ++k) bytes[k] = static_cast<uint8_t>((bytes[k] ^ flip_[k]) + add_[k]);
    std::memcpy(row, bytes, static_cast<std::size_t>(slots_));
  }

 private:
  int slots_;
  uint8_t flip_[kNameSlots];
  uint8_t add_[kNameSlots];
};

// A term's power of s from its exponents: the sum over the reactive names.
class ReactiveNames {
 public:
  ReactiveNames(const NetworkTables& net, int slots) {
    for (int k = 0; k < slots; ++k) {
      if (net.powermap[k] != 0) names_[count_++] = k;
    }
  }
  int64_t power_of(const Exponent* term) const {
    int64_t power = 0;
    for (int i = 0; i < count_; ++i) power += term[names_[i]];
    return power;
  }

 private:
  int names_[kNameSlots];
  int count_ = 0;
};

// Pass 1. Nothing is ever added to the bucket being worked on (a term that
// moves goes to another power), so the bucket is filtered in place: the terms
// that stay are packed to the front in their order.
// `distinct` (when not null) receives for each bucket what
// distinct_and_uncorrected would have said of it before the pass: its
// original terms are compared as they are met, before they are rewritten, so
// that the scattered rows are read once.
int correct_and_refile(const NetworkTables& net, const OhmUnitFactors& unit_factors,
                       TermStore& store, CorrectedTermIndex& index, bool* distinct, FILE* out) {
  int original_count[kPowerBuckets];
  for (int p = 0; p < kPowerBuckets; ++p) original_count[p] = store.bucket_count[p];
  Exponent previous[kNameSlots];
  const std::size_t row_exponent_bytes =
      static_cast<std::size_t>(store.name_slots) * sizeof(Exponent);
  // Names beyond the rows have exponent 0 in every term and no unit factor.
  const UnitRewrite rewrite(unit_factors, store.name_slots);
  const ReactiveNames reactive(net, store.name_slots);

  for (int p = 0; p < kPowerBuckets; ++p) {
    const int count = store.bucket_count[p];
    int kept = 0;
    bool distinct_so_far = true;
    for (int j = 0; j < count; ++j) {
      // Positions ahead are read before anything is written there.
      prefetch_ahead(store, j, p);
      const int row = poly_entry(store, j, p);
      Exponent* t = term_row(store, row);
      if (distinct != nullptr && distinct_so_far && j < original_count[p]) {
        if (corrected_flag_in(store, t) == 1 ||
            (j > 0 && compare_exponent_vectors(previous, t, store.name_slots) <= 0)) {
          distinct_so_far = false;
        } else {
          std::memcpy(previous, t, row_exponent_bytes);
        }
      }
      const int32_t coefficient = coefficient_in(store, t);
      if (!coefficient_in_range(coefficient)) {
        std::fprintf(out, "coefficient out of range in unit correction\n");
        return 1;
      }
      bool stays = true;
      if (corrected_flag_in(store, t) != 1) {
        set_corrected_flag_in(store, t, 1);
        rewrite.apply(t);
        const int64_t power = reactive.power_of(t);
        if (power < 0 || power >= kPowerBuckets) {
          // Only a zero-coefficient term (invisible in the output) may stay
          // in a bucket that is not its own.
          if (coefficient != 0) {
            std::fprintf(out, "power of s outside 0..42 after unit correction\n");
            return 1;
          }
        } else if (power != p) {
          if (refile_term(net, store, index, row, static_cast<int>(power), out) != 0) return 1;
          stays = false;
        }
      }
      if (stays) poly_entry(store, kept++, p) = row;
    }
    store.bucket_count[p] = kept;
    index.current[p] = false;
    if (distinct != nullptr) distinct[p] = distinct_so_far;
  }
  return 0;
}

// Pass 1 on several threads, a bucket per thread at a time, for the common
// case in which no term leaves its bucket: every term is then corrected where
// it stands, and the buckets share nothing. A bucket stops at the first term
// that would move or fail its checks, or that was corrected before; the
// rewriting e -> F - e is its own inverse, so every bucket's corrected
// prefix is then undone and false returned, leaving the store as it was for
// the pass on one thread. `distinct` as in correct_and_refile.
bool correct_in_place_shared(const NetworkTables& net, const OhmUnitFactors& unit_factors,
                             TermStore& store, bool* distinct, const WorkShare& share) {
  const int rows = std::min(store.terms_used, store.term_capacity);
  const int workers = share.workers_for(rows);
  if (workers < 2 || distinct == nullptr) return false;
  // A row filed twice would be corrected by two threads.
  if (!RowPowers(store).usable()) return false;
  const UnitRewrite unit_rewrite(unit_factors, store.name_slots);
  auto rewrite = [&](Exponent* t) { unit_rewrite.apply(t); };
  const ReactiveNames reactive(net, store.name_slots);
  const std::size_t row_exponent_bytes =
      static_cast<std::size_t>(store.name_slots) * sizeof(Exponent);
  int corrected_up_to[kPowerBuckets];
  std::atomic<bool> stopped{false};
  const bool completed = share_out(workers, kPowerBuckets, [&](int p, int) {
    const int count = store.bucket_count[p];
    Exponent previous[kNameSlots];
    bool distinct_so_far = true;
    int j = 0;
    for (; j < count && !stopped.load(std::memory_order_relaxed); ++j) {
      prefetch_ahead(store, j, p);
      Exponent* t = term_row(store, poly_entry(store, j, p));
      if (corrected_flag_in(store, t) == 1 || !coefficient_in_range(coefficient_in(store, t))) break;
      if (distinct_so_far) {
        if (j > 0 && compare_exponent_vectors(previous, t, store.name_slots) <= 0) {
          distinct_so_far = false;
        } else {
          std::memcpy(previous, t, row_exponent_bytes);
        }
      }
      rewrite(t);
      const int64_t power = reactive.power_of(t);
      if (power != p) {
        rewrite(t);
        break;
      }
      set_corrected_flag_in(store, t, 1);
    }
    corrected_up_to[p] = j;
    if (j < count) stopped.store(true);
    distinct[p] = distinct_so_far;
  });
  if (completed && !stopped.load()) return true;
  share_out(workers, kPowerBuckets, [&](int p, int) {
    for (int j = 0; j < corrected_up_to[p]; ++j) {
      Exponent* t = term_row(store, poly_entry(store, j, p));
      rewrite(t);
      set_corrected_flag_in(store, t, 0);
    }
  });
  return false;
}

// Pass 1 for a store as an enumeration leaves it (`as_filed`): every bucket
// is strictly descending and none of its terms corrected, so the check for
// distinct buckets has nothing to find, and the rows are corrected in memory
// order (on several threads where the store is large) instead of column by
// column. A term whose power changes, or whose coefficient is out of range,
// makes it undo what it corrected (the terms marked corrected) and return
// false, leaving the store as it was for the passes that refile.
bool correct_filed_store_in_place(const NetworkTables& net, const OhmUnitFactors& unit_factors,
                                  TermStore& store, const WorkShare& share) {
  const UnitRewrite rewrite(unit_factors, store.name_slots);
  const ReactiveNames reactive(net, store.name_slots);
  struct Outcome {
    bool failed = false;
  };
  std::vector<Outcome> outcomes;
  const bool visited = visit_filed_terms_once(
      store, share, Outcome{}, outcomes, [&](Outcome& outcome, int row, int power) {
        if (outcome.failed) return;
        Exponent* t = term_row(store, row);
        if (!coefficient_in_range(coefficient_in(store, t))) {
          outcome.failed = true;
          return;
        }
        rewrite.apply(t);
        if (reactive.power_of(t) != power) {
          rewrite.apply(t);
          outcome.failed = true;
          return;
        }
        set_corrected_flag_in(store, t, 1);
      });
  if (!visited) return false;
  bool failed = false;
  for (const Outcome& outcome : outcomes) failed = failed || outcome.failed;
  if (!failed) return true;
  std::vector<Outcome> undone;
  visit_filed_terms_once(store, share, Outcome{}, undone, [&](Outcome&, int row, int) {
    Exponent* t = term_row(store, row);
    if (corrected_flag_in(store, t) != 1) return;
    rewrite.apply(t);
    set_corrected_flag_in(store, t, 0);
  });
  return false;
}

// True when no two terms of the bucket can be equal after pass 1 unless a
// term moves in: the bucket is strictly descending, so its vectors differ, and
// none of its terms is marked corrected, so all of them go through the same
// one-to-one rewriting F - e.
bool distinct_and_uncorrected(const TermStore& store, int power) {
  for (int position = 0; position < store.bucket_count[power]; ++position) {
    prefetch_ahead(store, position, power);
    if (term_corrected_flag(store, poly_entry(store, position, power)) == 1) {
      return false;
    }
  }
  for (int position = 1; position < store.bucket_count[power]; ++position) {
    prefetch_ahead(store, position, power);
    if (compare_exponent_vectors(term_row(store, poly_entry(store, position - 1, power)),
                          term_row(store, poly_entry(store, position, power)),
                          store.name_slots) <= 0) {
      return false;
    }
  }
  return true;
}

// Pass 2. The search for position j only looks at positions below j, which
// the removals of positions j and above never move; so every term keeps its
// place during the pass and the survivors are packed once at the end. A
// bucket without two equal terms is left alone: no search could find one.
int merge_equal_terms(TermStore& store, const bool may_hold_equal_terms[], FILE* out) {
  for (int p = 0; p < kPowerBuckets; ++p) {
    const int count = store.bucket_count[p];
    if (count < 2 || !may_hold_equal_terms[p]) continue;
    // Survivors are stored downwards from the top, at positions no later
    // search reads.
    int first_kept = count;
    for (int j = count - 1; j >= 0; --j) {
      const int row = poly_entry(store, j, p);
      const Exponent* t = term_row(store, row);
      bool merged = false;
      if (corrected_flag_in(store, t) == 1) {
        int low = 0;
        int high = j - 1;
        int probe = (j - 1) / 2;
        while (low <= high) {
          Exponent* u = term_row(store, poly_entry(store, probe, p));
          const int order = compare_exponent_vectors(u, t, store.name_slots);
          if (order == 0) {
            if (!add_coefficient(store, u, t, out)) return 1;
            merged = true;
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
      if (!merged) poly_entry(store, --first_kept, p) = row;
    }
    for (int position = first_kept; position < count; ++position) {
      poly_entry(store, position - first_kept, p) = poly_entry(store, position, p);
    }
    store.bucket_count[p] = count - first_kept;
  }
  return 0;
}

void list_and_drop_ohm_unit_factors(const NetworkTables& net, OhmUnitFactors& unit_factors,
                                     FILE* out) {
  std::fprintf(out, "these ohm-unit factors modify all terms of both num and denom:\n");
  int last_name = net.passive_snapshot + net.active_edge_count;
  if (last_name > kNameSlots - 1) last_name = kNameSlots - 1;
  for (int i = 1; i <= last_name; ++i) {
    print_symbol_power(out, net.branch_name_list[i], unit_factors.factors[i]);
  }
  std::fprintf(out, "\n");
  // Every factor goes, so that the function really is printed uncorrected.
  for (int32_t& factor : unit_factors.factors) factor = 0;
  std::fprintf(out,
               "note that s*L, s*M, and R represent s/L, s/M, and 1/R in the following "
               "function:\n");
}

void trace(const NetworkTables& net, FILE* out, const char* line) {
  if (net.test_bitmap & kBitRoutineTrace) std::fputs(line, out);
}

// Numerator and denominator are worked on side by side when neither is
// large enough to be shared out by itself, and both are large enough to be
// worth a thread.
bool worth_working_side_by_side(const NetworkTables& net, const TermStore& numerator_terms,
                                const TermStore& denominator_terms, bool worded,
                                const WorkShare& share) {
  if (worded || share.threads < 2) return false;
  if ((net.test_bitmap & ~kBitRational) != 0) return false;
  if (allocation_failure_set()) return false;
  const int smaller = std::min(numerator_terms.terms_used, denominator_terms.terms_used);
  const int larger = std::max(numerator_terms.terms_used, denominator_terms.terms_used);
  return share.workers_for(larger) < 2 && smaller >= share.min_terms_per_thread / 4;
}

// One of the two stores worked on side by side, with what it contributes to
// the factors of both.
struct Side {
  Side() = default;
  Side(const Side&) = delete;
  Side& operator=(const Side&) = delete;
  ~Side() {
    if (messages != nullptr) std::fclose(messages);
    std::free(message_text);
  }
  TermStore* store = nullptr;
  OhmUnitFactors factors;
  CancellationState common;
  // What correctunits prints, written out in the order it would have been.
  char* message_text = nullptr;
  std::size_t message_length = 0;
  FILE* messages = nullptr;
  bool failed = false;  // out of memory
  int corrected = 1;
  int evaluated = 1;
};

// fixup with the numerator's steps on a thread of its own and the
// denominator's on the calling thread. Unit factors and common factors are
// joined between the steps, as both are the same whichever store is visited
// first; messages are written afterwards in the order of the steps one after
// the other. False, having done nothing, when no thread could be had.
bool fixup_side_by_side(const NetworkTables& net, OhmUnitFactors& unit_factors,
                        CancellationState& state, TermStore& numerator_terms,
                        TermStore& denominator_terms, FILE* out, int& result) {
  Side sides[2];
  sides[0].store = &numerator_terms;
  sides[1].store = &denominator_terms;
  for (Side& side : sides) {
    side.factors = unit_factors;
    combineinit(side.common);
    side.messages = open_memstream(&side.message_text, &side.message_length);
    if (side.messages == nullptr) return false;
  }
  bool both_corrected = false;
  auto join_factors = [&]() noexcept {
    for (int k = 0; k < kNameSlots; ++k) {
      unit_factors.factors[k] = std::max(sides[0].factors.factors[k], sides[1].factors.factors[k]);
    }
  };
  auto join_common_factors = [&]() noexcept {
    both_corrected = !sides[0].failed && !sides[1].failed && sides[0].corrected == 0 &&
                     sides[1].corrected == 0;
    join_cancellation(state, sides[0].common);
    join_cancellation(state, sides[1].common);
    if (state.common_gcd == 0) state.common_gcd = 1;
  };
  std::barrier factors_joined(2, join_factors);
  std::barrier common_factors_joined(2, join_common_factors);
  auto work = [&](Side& side) noexcept {
    try {
      eval_branchtag(net, side.factors, *side.store);
    } catch (...) {
      side.failed = true;
    }
    factors_joined.arrive_and_wait();
    if (!side.failed) {
      try {
        side.corrected = correctunits(net, unit_factors, *side.store, side.messages);
        if (side.corrected == 0) makecancellationlist(side.common, *side.store);
      } catch (...) {
        side.failed = true;
      }
    }
    common_factors_joined.arrive_and_wait();
    if (both_corrected) {
      try {
        side.evaluated = evaluateliterals(state, net, *side.store, out);
      } catch (...) {
        side.failed = true;
      }
    }
  };
  KeptThread numerator_side;
  try {
    numerator_side = KeptThread([&work, &sides] { work(sides[0]); });
  } catch (const std::exception&) {
    return false;
  }
  work(sides[1]);
  numerator_side.join();

  result = 1;
  for (Side& side : sides) {
    std::fclose(std::exchange(side.messages, nullptr));
    std::fwrite(side.message_text, 1, side.message_length, out);
    if (side.failed || side.corrected != 0) return true;
  }
  if (sides[0].evaluated != 0) return true;
  result = sides[1].evaluated;
  return true;
}

}  // namespace

void eval_branchtag(const NetworkTables& net, OhmUnitFactors& unit_factors, const TermStore& store,
                    bool worded, const WorkShare& share) {
  int count = net.impedance_count;
  if (count > kNameSlots) count = kNameSlots;
  // The largest exponents do not depend on the order of the terms. They are
  // taken over every name at the exponents' own width, which lets the loop
  // over a row run on many names at once, and only the impedance names' are
  // kept.
  const int slots = store.name_slots;
  struct Largest {
    Exponent highest[kNameSlots];
    bool nonzero_term_seen = false;
  };
  Largest largest;
  for (Exponent& exponent : largest.highest) exponent = std::numeric_limits<Exponent>::min();
  auto visit = [&](Largest& into, int row) {
    const Exponent* term = term_row(store, row);
    if (coefficient_in(store, term) == 0) return;
    raise_to(into.highest, term, slots);
    into.nonzero_term_seen = true;
  };
  std::vector<Largest> parts;
  if (!worded && visit_filed_terms_shared(store, share, largest, parts,
                                          [&](Largest& into, int row, int) { visit(into, row); })) {
    for (const Largest& part : parts) {
      raise_to(largest.highest, part.highest, slots);
      largest.nonzero_term_seen = largest.nonzero_term_seen || part.nonzero_term_seen;
    }
  } else {
    for_each_filed_term(store, worded, [&](int row, int) { visit(largest, row); });
  }
  if (!largest.nonzero_term_seen) return;
  const Exponent* const highest = largest.highest;
  for (int i = 0; i < count; ++i) {
    const int k = net.impedance_list[i];
    if (k < 0 || k >= slots) continue;
    if (highest[k] > unit_factors.factors[k]) unit_factors.factors[k] = highest[k];
  }
}

int correctunits(const NetworkTables& net, const OhmUnitFactors& unit_factors, TermStore& store,
                 FILE* out, bool worded, const WorkShare& share) {
  bool distinct_at_start[kPowerBuckets];
  if (worded) {
    for (int p = 0; p < kPowerBuckets; ++p) {
      distinct_at_start[p] = distinct_and_uncorrected(store, p);
    }
  }
  bool may_hold_equal_terms[kPowerBuckets];
  const bool as_filed = std::exchange(store.as_filed, false);
  if (!worded && as_filed && correct_filed_store_in_place(net, unit_factors, store, share)) {
    return 0;
  }
  if (!worded && correct_in_place_shared(net, unit_factors, store, distinct_at_start, share)) {
    for (int p = 0; p < kPowerBuckets; ++p) may_hold_equal_terms[p] = !distinct_at_start[p];
    return merge_equal_terms(store, may_hold_equal_terms, out);
  }
  try {
    CorrectedTermIndex index(store);
    if (correct_and_refile(net, unit_factors, store, index, worded ? nullptr : distinct_at_start, out) != 0) {
      return 1;
    }
    for (int p = 0; p < kPowerBuckets; ++p) {
      may_hold_equal_terms[p] = !distinct_at_start[p] || index.received_terms[p];
    }
  } catch (const std::bad_alloc&) {
    // The lookup index could not grow: the function is abandoned like any
    // other that runs out of memory.
    return 1;
  }
  return merge_equal_terms(store, may_hold_equal_terms, out);
}

int fixup(const NetworkTables& net, OhmUnitFactors& unit_factors, CancellationState& state,
          TermStore& numerator_terms, TermStore& denominator_terms, FILE* out, bool worded,
          const WorkShare& share) {
  int result = 0;
  if (worth_working_side_by_side(net, numerator_terms, denominator_terms, worded, share) &&
      fixup_side_by_side(net, unit_factors, state, numerator_terms, denominator_terms, out,
                         result)) {
    return result;
  }
  trace(net, out, "fixup entered, eval_branchtag for numerator called\n");
  eval_branchtag(net, unit_factors, numerator_terms, worded, share);
  trace(net, out, "eval_branchtag for denominator called\n");
  eval_branchtag(net, unit_factors, denominator_terms, worded, share);
  if (net.test_bitmap & kBitOhmFactors) list_and_drop_ohm_unit_factors(net, unit_factors, out);

  trace(net, out, "correctunits for numerator called\n");
  if (correctunits(net, unit_factors, numerator_terms, out, worded, share) != 0) return 1;
  trace(net, out, "correctunits for denominator called\n");
  if (correctunits(net, unit_factors, denominator_terms, out, worded, share) != 0) return 1;

  trace(net, out, "makecancellationlist for numerator called\n");
  makecancellationlist(state, numerator_terms, worded, share);
  trace(net, out, "makecancellationlist for denominator called\n");
  makecancellationlist(state, denominator_terms, worded, share);

  trace(net, out, "evaluateliterals for numerator called\n");
  if (evaluateliterals(state, net, numerator_terms, out, worded, share) != 0) return 1;
  trace(net, out, "evaluateliterals for denominator called\n");
  return evaluateliterals(state, net, denominator_terms, out, worded, share);
}

}  // namespace kavrel
