#include "trees/term_index.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "trees/memory.h"

namespace kavrel {

namespace {

constexpr int kInitialRows = 4096;

constexpr uint64_t mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  x ^= x >> 31;
  return x;
}

// One random-looking word per canonical name index; a vector's hash is the sum
// over its edges, which depends only on the multiset of names.
struct NameHashes {
  uint64_t of[kNameSlots];
  constexpr NameHashes() : of() {
    for (int i = 0; i < kNameSlots; ++i) {
      of[i] = mix(0x9e3779b97f4a7c15ULL * static_cast<uint64_t>(i + 1));
    }
  }
};
constexpr NameHashes kNameHashes;

bool same_vector(const Exponent* row, const Exponent* exponents, int length) {
  return first_exponent_difference(row, exponents, length) == length;
}

// Whether vector a comes before vector b in a column: the larger exponent at
// the first entry where they differ.
bool vector_before(const Exponent* a, const Exponent* b, int length) {
  const int i = first_exponent_difference(a, b, length);
  return i < length && a[i] > b[i];
}

struct DescendingVector {
  const TermStore* store;
  int length;
  bool operator()(int32_t a, int32_t b) const {
    return vector_before(term_row(*store, a), term_row(*store, b), length);
  }
};

}  // namespace

TermIndex::~TermIndex() { release(); }

void TermIndex::release() {
  in_use_ = false;
  store_free(table_);
  store_free(row_power_);
  table_ = nullptr;
  row_power_ = nullptr;
  row_capacity_ = 0;
  slot_bits_ = 0;
  used_ = 0;
}

bool TermIndex::start(bool terms_distinct) {
  release();
  for (bool& flag : out_of_order_) flag = false;
  if (terms_distinct) {
    in_use_ = true;
    return true;
  }
  table_ = static_cast<int32_t*>(store_malloc(2 * sizeof(int32_t) << kInitialSlotBits));
  row_power_ = static_cast<int8_t*>(store_malloc(kInitialRows));
  if (table_ == nullptr || row_power_ == nullptr) {
    release();
    return false;
  }
  slot_bits_ = kInitialSlotBits;
  row_capacity_ = kInitialRows;
  for (uint64_t i = 0; i < slot_count(); ++i) table_[2 * i + 1] = -1;
  in_use_ = true;
  return true;
}

uint64_t TermIndex::hash_of(const int32_t* names, const int32_t* edges, int count, int power) {
  uint64_t sum = 0;
  for (int k = 0; k < count; ++k) sum += kNameHashes.of[names[edges[k]]];
  return mix(sum + 0x6a09e667f3bcc909ULL * static_cast<uint64_t>(power + 1));
}

uint64_t TermIndex::hash_of_exponents(const Exponent* exponents, int length, int power) {
  uint64_t sum = 0;
  for (int k = 0; k < length; ++k) {
    sum += static_cast<uint64_t>(static_cast<int64_t>(exponents[k])) * kNameHashes.of[k];
  }
  return mix(sum + 0x6a09e667f3bcc909ULL * static_cast<uint64_t>(power + 1));
}

int TermIndex::find(uint64_t hash, int power, const Exponent* exponents, int length,
                    const TermStore& store) const {
  if (table_ == nullptr) return -1;
  const int32_t tag = tag_of(hash);
  const uint64_t mask = slot_count() - 1;
  for (uint64_t i = first_slot(tag);; i = (i + 1) & mask) {
    const int32_t row = table_[2 * i + 1];
    if (row < 0) return -1;
    if (table_[2 * i] == tag && row_power_[row] == power &&
        same_vector(term_row(store, row), exponents, length)) {
      return row;
    }
  }
}

bool TermIndex::in_column_order(const Exponent* earlier, const Exponent* later, int length) {
  return vector_before(earlier, later, length);
}

void TermIndex::appended(const TermStore& store, int power, int n, const Exponent* exponents,
                         int length) {
  // Trees arrive in an order that mostly files each new term at the end of
  // its column already; only columns where that fails need sorting.
  if (n > 0 && !out_of_order_[power] &&
      !vector_before(term_row(store, poly_entry(store, n - 1, power)), exponents, length)) {
    out_of_order_[power] = true;
  }
}

void TermIndex::place(int32_t tag, int32_t row) {
  const uint64_t mask = slot_count() - 1;
  uint64_t i = first_slot(tag);
  while (table_[2 * i + 1] >= 0) i = (i + 1) & mask;
  table_[2 * i] = tag;
  table_[2 * i + 1] = row;
}

bool TermIndex::grow_slots() {
  if (slot_bits_ >= slot_bits_limit_ || slot_bits_ >= kMaxSlotBits) return false;
  const uint64_t old_count = slot_count();
  auto* grown = static_cast<int32_t*>(store_malloc(2 * sizeof(int32_t) * 2 * old_count));
  if (grown == nullptr) return false;
  int32_t* old = table_;
  table_ = grown;
  ++slot_bits_;
  populate_for_writing(table_, 2 * sizeof(int32_t) * slot_count());
  for (uint64_t i = 0; i < slot_count(); ++i) table_[2 * i + 1] = -1;
  for (uint64_t i = 0; i < old_count; ++i) {
    if (old[2 * i + 1] >= 0) place(old[2 * i], old[2 * i + 1]);
  }
  store_free(old);
  return true;
}

bool TermIndex::grow_rows() {
  if (row_capacity_ > INT32_MAX / 2) return false;
  auto* grown =
      static_cast<int8_t*>(store_realloc(row_power_, 2 * static_cast<std::size_t>(row_capacity_)));
  if (grown == nullptr) return false;
  row_power_ = grown;
  row_capacity_ *= 2;
  return true;
}

void TermIndex::insert(uint64_t hash, int power, int row, TermStore& store) {
  if (table_ == nullptr) return;
  if (row >= row_capacity_ && !grow_rows()) {
    finish(store);
    return;
  }
  row_power_[row] = static_cast<int8_t>(power);
  place(tag_of(hash), row);
  ++used_;
  // Load factor at most 3/4 keeps probe runs short.
  if (4 * used_ > 3 * static_cast<long long>(slot_count()) && !grow_slots()) {
    finish(store);
  }
}

// Sorts the columns marked out of order; each column is contiguous.
void TermIndex::order_columns(TermStore& store) {
  const DescendingVector before{&store, store.name_slots};
  for (int p = 0; p < kPowerBuckets; ++p) {
    const int n = std::min(store.bucket_count[p], store.poly_capacity);
    if (!out_of_order_[p] || n < 2) continue;
    int32_t* column = &poly_entry(store, 0, p);
    std::sort(column, column + n, before);
  }
}

void TermIndex::finish(TermStore& store) {
  if (!in_use_) return;
  if (store.termlist != nullptr && store.poly != nullptr) order_columns(store);
  release();
}

}  // namespace kavrel
