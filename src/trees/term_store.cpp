#include "trees/term_store.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

#include "trees/memory.h"
#include "trees/term_index.h"
#include "trees/term_insert.h"

namespace kavrel {

namespace {

// Full-width address text; at least eight hex digits, never truncated.
uintmax_t address_of(const void* pointer) {
  return static_cast<uintmax_t>(reinterpret_cast<uintptr_t>(pointer));
}

// Reallocates to `count` elements; nullptr when the request cannot be made or
// the heap refuses it (the old block then stays valid).
void* reallocate_elements(void* array, long long count, std::size_t element_size) {
  if (count <= 0 || count > INT_MAX) return nullptr;
  if (element_size != 0 &&
      static_cast<unsigned long long>(count) > SIZE_MAX / element_size) {
    return nullptr;
  }
  return store_realloc(array, static_cast<std::size_t>(count) * element_size);
}

}  // namespace

void TermStore::release() {
  // The capacities never count more than an array holds: an array that grew
  // before a failure is larger than its capacity says.
  const auto terms = static_cast<std::size_t>(std::max(term_capacity, 0));
  store_free(termlist, terms * row_bytes());
  store_free(poly, static_cast<std::size_t>(std::max(poly_capacity, 0)) *
                       static_cast<std::size_t>(std::max(poly_columns, 0)) * sizeof(int32_t));
  store_free(termvalue, terms * sizeof(double));
  termlist = nullptr;
  termvalue = nullptr;
  poly = nullptr;
  std::fill(std::begin(bucket_count), std::end(bucket_count), 0);
  term_capacity = 0;
  poly_capacity = 0;
  terms_used = 0;
  name_slots = kNameSlots;
  poly_columns = kPowerBuckets;
  reserved_terms = 0;
  values_reserved = false;
  as_filed = false;
}

void TermStore::take(TermStore& other) {
  termlist = std::exchange(other.termlist, nullptr);
  termvalue = std::exchange(other.termvalue, nullptr);
  poly = std::exchange(other.poly, nullptr);
  std::copy(std::begin(other.bucket_count), std::end(other.bucket_count), bucket_count);
  term_capacity = other.term_capacity;
  poly_capacity = other.poly_capacity;
  terms_used = other.terms_used;
  name_slots = other.name_slots;
  poly_columns = other.poly_columns;
  reserved_terms = other.reserved_terms;
  values_reserved = other.values_reserved;
  as_filed = other.as_filed;
  other.release();
}

int alloc_term_store(TermStore& store, int name_count, int power_columns) {
  store.release();
  store.name_slots = name_slots_for(name_count);
  store.poly_columns = std::clamp(power_columns, 1, kPowerBuckets);
  auto* termlist = static_cast<Exponent*>(
      store_calloc(static_cast<std::size_t>(kInitialTermCapacity), store.row_bytes()));
  auto* termvalue = static_cast<double*>(
      store_calloc(static_cast<std::size_t>(kInitialTermCapacity), sizeof(double)));
  auto* poly = static_cast<int32_t*>(
      store_calloc(static_cast<std::size_t>(kInitialPolyCapacity) * store.poly_columns, sizeof(int32_t)));
  if (termlist == nullptr || termvalue == nullptr || poly == nullptr) {
    store_free(termlist);
    store_free(termvalue);
    store_free(poly);
    store.release();
    return 1;
  }
  // calloc gives all-zero bits; the doubles are set explicitly.
  for (int i = 0; i < kInitialTermCapacity; ++i) termvalue[i] = 0.0;
  store.termlist = termlist;
  store.termvalue = termvalue;
  store.poly = poly;
  store.term_capacity = kInitialTermCapacity;
  store.poly_capacity = kInitialPolyCapacity;
  store.terms_used = 0;
  return 0;
}

void reserve_term_rows(TermStore& store, long long rows) {
  constexpr std::size_t kMostReservedBytes = std::size_t{256} << 20;
  const long long most = static_cast<long long>(kMostReservedBytes / store.row_bytes());
  // The capacity doubles as the store grows: room up to the doubling that
  // holds all the rows spares the last doubling its move.
  long long reach = store.term_capacity;
  while (reach > 0 && reach < rows) reach *= 2;
  rows = reach > 0 && reach <= most ? reach : std::min(rows, most);
  if (store.termlist == nullptr || rows <= std::max(store.term_capacity, store.reserved_terms)) {
    return;
  }
  void* termlist = reallocate_elements(store.termlist, rows, store.row_bytes());
  if (termlist == nullptr) return;
  store.termlist = static_cast<Exponent*>(termlist);
  const bool large = store.row_bytes() * static_cast<std::size_t>(rows) >= kLargePageBlockBytes;
  if (large) {
    // termvalue gets room of its own only in a large function: the room of
    // a small one took the place of freed blocks that later ones would
    // have reused, which raised the peak of networks whose raw counts far
    // exceed their terms (op amps).
    void* termvalue = reallocate_elements(store.termvalue, rows, sizeof(double));
    if (termvalue == nullptr) return;
    store.termvalue = static_cast<double*>(termvalue);
  }
  store.reserved_terms = static_cast<int>(rows);
  store.values_reserved = large;
}

int ensure_poly_column(TermStore& store, int power) {
  if (power < 0 || power >= kPowerBuckets) return 1;
  if (power < store.poly_columns) return 0;
  if (store.poly_capacity <= 0) return 1;
  // Columns start at power * poly_capacity whatever their number, so adding
  // columns at the end moves nothing.
  void* widened = reallocate_elements(store.poly, store.poly_capacity,
                                      sizeof(int32_t) * kPowerBuckets);
  if (widened == nullptr) return 1;
  store.poly = static_cast<int32_t*>(widened);
  store.poly_columns = kPowerBuckets;
  return 0;
}

void free_term_store(TermStore& store) { store.release(); }

void release_unfilled_room(TermStore& store) {
  const int rows = std::max(store.term_capacity, store.reserved_terms);
  const std::size_t room = static_cast<std::size_t>(std::max(rows, 0)) * store.row_bytes();
  const int used = std::clamp(store.terms_used, 0, std::max(rows, 0));
  if (store.termlist == nullptr || room < kLargePageBlockBytes) return;
  const std::size_t filled = static_cast<std::size_t>(used) * store.row_bytes();
  release_pages(reinterpret_cast<char*>(store.termlist) + filled, room - filled);
  // Values beyond the rows are zeros, and read as zeros once handed back.
  const int values = store.values_reserved ? rows : std::max(store.term_capacity, 0);
  if (store.termvalue == nullptr || used >= values) return;
  release_pages(store.termvalue + used, static_cast<std::size_t>(values - used) * sizeof(double));
}

void clear_terms(TermStore& store) {
  store.as_filed = false;
  store.terms_used = 0;
  for (int& count : store.bucket_count) count = 0;
}

int resize_array(void** array, int* count, std::size_t element_size, int32_t test_bitmap,
                 FILE* out) {
  const bool trace = (test_bitmap & kBitResources) != 0;
  const long long k = *count;
  if (trace) {
    std::fprintf(out, "orig size =%d, orig ptr =0x%08jx\n", *count, address_of(*array));
  }

  auto accept = [&](void* grown, long long new_count) {
    if (trace) {
      std::fprintf(out, "num of elements =%d, pointer =0x%08jx\n", static_cast<int>(new_count),
                   address_of(grown));
    }
    *array = grown;
    *count = static_cast<int>(new_count);
    return 0;
  };

  if (k >= 1) {
    if (void* grown = reallocate_elements(*array, 2 * k, element_size)) return accept(grown, 2 * k);
  }

  long long t = (k + 2 * k) / 2;
  if (t <= k) {
    std::fprintf(out, "resize failed for insufficient memory\n");
    return 1;
  }
  while (t > k) {
    if (void* grown = reallocate_elements(*array, t, element_size)) return accept(grown, t);
    t = (k + t) / 2;
  }
  if (trace) std::fprintf(out, "resize failed for insufficient memory\n");
  return 1;
}

int grow_poly_columns(TermStore& store, int32_t test_bitmap, FILE* out) {
  if (test_bitmap & kBitResources) std::fprintf(out, "resizing poly ");
  const int old_capacity = store.poly_capacity;
  void* poly = store.poly;
  int capacity = old_capacity;
  if (resize_array(&poly, &capacity, sizeof(int32_t) * store.poly_columns, test_bitmap, out) !=
      0) {
    return 1;
  }
  auto* columns = static_cast<int32_t*>(poly);
  // Columns move up, so the highest goes first; the rest of each column stays
  // as obtained, as nothing reads a column beyond its bucket count.
  for (int p = kPowerBuckets - 1; p > 0; --p) {
    const int count = std::min(store.bucket_count[p], old_capacity);
    if (count <= 0) continue;
    populate_for_writing(columns + static_cast<long>(p) * capacity,
                         static_cast<std::size_t>(count) * sizeof(int32_t));
    std::memmove(columns + static_cast<long>(p) * capacity,
                 columns + static_cast<long>(p) * old_capacity,
                 static_cast<std::size_t>(count) * sizeof(int32_t));
  }
  store.poly = columns;
  store.poly_capacity = capacity;
  return 0;
}

namespace {

constexpr std::size_t kLargeRoomFilledBytes = std::size_t{4} << 20;

// Grows termlist and termvalue together; each grown array is kept in the store
// at once so that a release after a later failure frees what the store holds.
int grow_terms(TermStore& store, const TermContext& context) {
  const bool trace = (context.test_bitmap & kBitResources) != 0;
  const int old_capacity = store.term_capacity;
  int termlist_capacity = old_capacity;
  if (!trace && doubles_in_place(store, old_capacity)) {
    // Within reserved room termlist stays where it is, grown as the first
    // step of resize_array would grow it.
    termlist_capacity = 2 * old_capacity;
  } else {
    store.reserved_terms = 0;
    store.values_reserved = false;
    if (trace) std::fprintf(context.out, "resizing termlist ");
    void* termlist = store.termlist;
    if (resize_array(&termlist, &termlist_capacity, store.row_bytes(), context.test_bitmap,
                     context.out) != 0) {
      return 1;
    }
    store.termlist = static_cast<Exponent*>(termlist);
  }
  // Rows and values are written from the first on, so the grown part of a
  // large store asks for large pages; its whole room asks with it, as advice
  // for a part would split the block's mapping. A large room asks once its
  // rows have filled a few large pages: the raw count it was made for may
  // exceed the terms many times over (op amps), and a large page for a small
  // function's first rows would count whole in the peak.
  const std::size_t grown_bytes = static_cast<std::size_t>(termlist_capacity) * store.row_bytes();
  const int room = std::max(termlist_capacity, store.reserved_terms);
  const std::size_t room_bytes = static_cast<std::size_t>(room) * store.row_bytes();
  if (grown_bytes >= kLargePageBlockBytes ||
      (room_bytes >= kLargePageBlockBytes && grown_bytes >= kLargeRoomFilledBytes)) {
    advise_large_pages(store.termlist, room_bytes, 0);
    if (store.values_reserved) {
      advise_large_pages(store.termvalue, static_cast<std::size_t>(room) * sizeof(double), 0);
    }
  }

  int termvalue_capacity = old_capacity;
  if (store.reserved_terms > 0 && store.values_reserved) {
    termvalue_capacity = termlist_capacity;
  } else {
    if (trace) std::fprintf(context.out, "resizing termvalue ");
    void* termvalue = store.termvalue;
    if (resize_array(&termvalue, &termvalue_capacity, sizeof(double), context.test_bitmap,
                     context.out) != 0) {
      return 1;
    }
    store.termvalue = static_cast<double*>(advise_large_pages(
        termvalue, static_cast<std::size_t>(termvalue_capacity) * sizeof(double)));
  }

  if (termlist_capacity != termvalue_capacity) return 1;
  store.term_capacity = termlist_capacity;
  // New termlist rows are left as obtained: a row is written whole when its
  // term is created, and nothing reads rows beyond terms_used. Leaving them
  // untouched spares a large store the page faults of clearing them.
  populate_for_writing(store.termvalue + old_capacity,
                       static_cast<std::size_t>(store.term_capacity - old_capacity) * sizeof(double));
  for (int i = old_capacity; i < store.term_capacity; ++i) store.termvalue[i] = 0.0;
  return 0;
}

int grow_poly(TermStore& store, const TermContext& context) {
  return grow_poly_columns(store, context.test_bitmap, context.out);
}

// Rows and column entries are written one after the other: the one that
// first reaches a stretch of its array faults in the pages of the whole
// stretch (up to `end`) with one call.
void populate_stretch_entered(const void* entry, std::size_t bytes, const void* end) {
  constexpr std::uintptr_t kStretch = kPopulatedRangeBytes;
  const auto first = reinterpret_cast<std::uintptr_t>(entry);
  const std::uintptr_t last = first + bytes - 1;
  if ((first - 1) / kStretch == last / kStretch) return;
  const std::uintptr_t stretch = last / kStretch * kStretch;
  const auto array_end = reinterpret_cast<std::uintptr_t>(end);
  if (array_end <= stretch) return;
  populate_for_writing(reinterpret_cast<void*>(stretch), std::min(array_end - stretch, kStretch));
}

int32_t& new_column_entry(const TermStore& store, int n, int power) {
  int32_t& entry = poly_entry(store, n, power);
  populate_stretch_entered(&entry, sizeof entry, &poly_entry(store, 0, power) + store.poly_capacity);
  return entry;
}

// Writes row terms_used from the exponent vector, then keeps one spare row.
int append_row(TermStore& store, const Exponent* exponents, int32_t coefficient,
               const TermContext& context) {
  Exponent* row = term_row(store, store.terms_used);
  populate_stretch_entered(row, store.row_bytes(), term_row(store, store.term_capacity));
  // The padding entries are written too, so that whole rows compare.
  std::memcpy(row, exponents, sizeof(Exponent) * store.coefficient_offset());
  set_coefficient_in(store, row, coefficient);
  set_corrected_flag_in(store, row, 0);
  if (store.terms_used + 1 >= store.term_capacity && grow_terms(store, context) != 0) return 1;
  ++store.terms_used;
  return 0;
}

int add_to_coefficient(const TermStore& store, Exponent* row, int sign) {
  const int32_t coefficient = coefficient_in(store, row);
  if ((sign > 0 && coefficient > INT32_MAX - sign) ||
      (sign < 0 && coefficient < INT32_MIN - sign)) {
    return 1;
  }
  set_coefficient_in(store, row, coefficient + sign);
  return 0;
}

// The same rows, coefficients, counts and growth as binary insertion; only the
// column order is left to the index's finish(). `hash` is read only when the
// index finds terms.
int add_indexed_term(int sign, int power, uint64_t hash, const Exponent* exponents, int length,
                     TermStore& store, const TermContext& context, TermIndex& index) {
  if (index.finds_terms()) {
    const int found = index.find(hash, power, exponents, length, store);
    if (found >= 0) return add_to_coefficient(store, term_row(store, found), sign);
  }

  const int n = store.bucket_count[power];
  const int row = store.terms_used;
  index.appended(store, power, n, exponents, length);
  new_column_entry(store, n, power) = row;
  if (append_row(store, exponents, sign, context) != 0) return 1;
  ++store.bucket_count[power];
  if (n > 0 && store.bucket_count[power] + 1 >= store.poly_capacity &&
      grow_poly(store, context) != 0) {
    return 1;
  }
  index.insert(hash, power, row, store);
  return 0;
}

int file_term(int sign, int power, uint64_t hash, const Exponent* exponents, TermStore& store,
              const TermContext& context);

}  // namespace

int add_term(int sign, int power, int count, const int32_t* admittance_edges, TermStore& store,
             const TermContext& context) {
  if (power < 0 || power >= kPowerBuckets || store.termlist == nullptr) return 1;
  if (ensure_poly_column(store, power) != 0) return 1;

  if (context.test_bitmap & kBitTreeLines) {
    std::fprintf(context.out, "%2d,%2d,%2d,%2d,%2d,%2d:", context.netlist_count,
                 context.function_counter, 0, 0, power, sign);
    for (int k = 0; k < count; ++k) std::fprintf(context.out, ",%3d", admittance_edges[k]);
    std::fprintf(context.out, "\n");
  }
  if (context.test_bitmap & kBitNoStore) return 0;

  if (count < 0 || count > kMaxTermEdges) return 1;
  Exponent exponents[kNameSlots] = {};
  const int length = store.name_slots;
  for (int k = 0; k < count; ++k) {
    const int32_t name = context.dbranchmap[admittance_edges[k]];
    if (name < 0 || name >= length) return 1;
    ++exponents[name];
  }

  uint64_t hash = 0;
  const TermIndex* index = context.index;
  if (index != nullptr && index->in_use() && index->finds_terms()) {
    hash = TermIndex::hash_of(context.dbranchmap, admittance_edges, count, power);
  }
  return file_term(sign, power, hash, exponents, store, context);
}

int add_term_exponents(int sign, int power, const Exponent* exponents, TermStore& store,
                       const TermContext& context) {
  if (power < 0 || power >= kPowerBuckets || store.termlist == nullptr) return 1;
  if (ensure_poly_column(store, power) != 0) return 1;
  if (context.test_bitmap & kBitNoStore) return 0;
  uint64_t hash = 0;
  const TermIndex* index = context.index;
  if (index != nullptr && index->in_use() && index->finds_terms()) {
    hash = TermIndex::hash_of_exponents(exponents, store.name_slots, power);
  }
  return file_term(sign, power, hash, exponents, store, context);
}

int append_new_rows(TermStore& store, const Exponent* rows, const int8_t* powers, int count,
                    const bool (&unordered)[kPowerBuckets], const TermContext& context) {
  TermIndex* index = context.index;
  if (index == nullptr || !index->in_use() || index->finds_terms()) return 1;
  store.as_filed = false;
  // The rows are the store's rows already: each run of them up to the next
  // growth goes in with one copy, and the arrays grow where filing the rows
  // one by one would grow them.
  const int length = store.name_slots;
  const int first = store.terms_used;
  bool seen[kPowerBuckets] = {};
  for (int i = 0; i < count;) {
    // Rows up to the last one before termlist is full.
    const int room = store.term_capacity - (first + i);
    if (room < 1) return 1;
    const int run_end = std::min(count, i + room);
    const std::size_t bytes = static_cast<std::size_t>(run_end - i) * store.row_bytes();
    Exponent* const destination = term_row(store, first + i);
    populate_for_writing(destination, bytes);
    std::memcpy(destination, rows + static_cast<std::size_t>(i) * store.row_units(), bytes);
    for (; i < run_end; ++i) {
      const int power = powers[i];
      if (power < 0 || power >= kPowerBuckets || ensure_poly_column(store, power) != 0) return 1;
      const int n = store.bucket_count[power];
      if (!seen[power]) {
        seen[power] = true;
        index->appended(store, power, n, term_row(store, first + i), length);
        if (unordered[power]) index->mark_out_of_order(power);
      }
      new_column_entry(store, n, power) = first + i;
      store.terms_used = first + i;
      if (store.terms_used + 1 >= store.term_capacity && grow_terms(store, context) != 0) return 1;
      store.terms_used = first + i + 1;
      ++store.bucket_count[power];
      if (n > 0 && store.bucket_count[power] + 1 >= store.poly_capacity &&
          grow_poly(store, context) != 0) {
        return 1;
      }
    }
  }
  return 0;
}

namespace {

int file_term(int sign, int power, uint64_t hash, const Exponent* exponents, TermStore& store,
              const TermContext& context) {
  store.as_filed = false;
  const int length = store.name_slots;
  TermIndex* index = context.index;
  if (index != nullptr && index->in_use()) {
    return add_indexed_term(sign, power, hash, exponents, length, store, context, *index);
  }

  const int n = store.bucket_count[power];
  if (n == 0) {
    new_column_entry(store, 0, power) = store.terms_used;
    if (append_row(store, exponents, sign, context) != 0) return 1;
    store.bucket_count[power] = 1;
    return 0;
  }

  // Column order is descending exponent vector, compared from entry 0.
  int lo = 0;
  int hi = n - 1;
  int mid = (n - 1) / 2;
  int position = 0;
  while (hi >= lo && position >= 0) {
    Exponent* row = term_row(store, poly_entry(store, mid, power));
    int i = 0;
    while (i < length && row[i] == exponents[i]) ++i;
    if (i == length) {
      if (add_to_coefficient(store, row, sign) != 0) return 1;
      position = -1;
    } else if (row[i] < exponents[i]) {
      hi = mid - 1;
      position = mid;
    } else {
      lo = mid + 1;
      position = mid + 1;
    }
    mid = (hi + lo) / 2;
  }
  if (position < 0) return 0;

  new_column_entry(store, n, power);
  for (int r = n; r > position; --r) poly_entry(store, r, power) = poly_entry(store, r - 1, power);
  poly_entry(store, position, power) = store.terms_used;
  if (append_row(store, exponents, sign, context) != 0) return 1;
  ++store.bucket_count[power];
  if (store.bucket_count[power] + 1 >= store.poly_capacity && grow_poly(store, context) != 0) {
    return 1;
  }
  return 0;
}

}  // namespace

}  // namespace kavrel
