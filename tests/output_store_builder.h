#pragma once

// Hand-built network tables and term stores for the expression assembly tests.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "input/network_tables.h"
#include "output/assembly.h"
#include "trees/memory.h"
#include "trees/term_store.h"

namespace output_test {

using kavrel::NetworkTables;
using kavrel::TermStore;

// One term: its power bucket, coefficient and (name slot, exponent) pairs.
struct Term {
  int power;
  int coefficient;
  std::vector<std::pair<int, int>> exponents;
};

// Slot 1 is the reserved name "x"; names are added in ascending slot order and
// classified by their first character.
inline int add_name(NetworkTables& net, const char* text, double value = 0.0) {
  if (net.branch_name_count < 1) {
    std::strcpy(net.branch_name_list[1], "x");
    net.branchmap[1] = 1;
    net.branch_name_count = 1;
  }
  const int slot = ++net.branch_name_count;
  std::strcpy(net.branch_name_list[slot], text);
  net.branchmap[slot] = slot;
  net.numeric_values[slot] = value;
  const char kind = text[0];
  net.powermap[slot] = std::strchr("cClLmM", kind) != nullptr ? 1 : 0;
  if (std::strchr("rRzZlLmM", kind) != nullptr) {
    net.impedance_list[net.impedance_count++] = slot;
  }
  net.passive_snapshot = net.branch_name_count;
  return slot;
}

inline std::unique_ptr<NetworkTables> make_network() {
  auto net = std::make_unique<NetworkTables>();
  std::memset(net.get(), 0, sizeof(NetworkTables));
  return net;
}

// Files the terms as the term store does: each bucket in descending order of
// the exponent vectors.
// Rows hold name_slots exponents (the widest rows by default).
inline TermStore build_store(const std::vector<Term>& terms, int term_capacity = 16,
                             int poly_capacity = 8, int name_slots = kavrel::kNameSlots) {
  TermStore store;
  store.name_slots = name_slots;
  store.termlist = static_cast<kavrel::Exponent*>(
      kavrel::store_calloc(static_cast<std::size_t>(term_capacity), store.row_bytes()));
  store.termvalue = static_cast<double*>(
      kavrel::store_calloc(static_cast<std::size_t>(term_capacity), sizeof(double)));
  store.poly = static_cast<int32_t*>(kavrel::store_calloc(
      static_cast<std::size_t>(poly_capacity) * kavrel::kPowerBuckets, sizeof(int32_t)));
  store.term_capacity = term_capacity;
  store.poly_capacity = poly_capacity;
  for (const Term& term : terms) {
    const int row = store.terms_used++;
    kavrel::Exponent* entries = kavrel::term_row(store, row);
    for (const auto& [slot, exponent] : term.exponents) {
      if (slot >= name_slots) {
        ADD_FAILURE() << "build_store: name index beyond the rows";
        std::abort();
      }
      entries[slot] = static_cast<kavrel::Exponent>(exponent);
    }
    kavrel::set_coefficient_in(store, entries, term.coefficient);
    const int p = term.power;
    if (row >= term_capacity || store.bucket_count[p] >= poly_capacity) {
      ADD_FAILURE() << "build_store: capacities too small";
      std::abort();
    }
    int position = 0;
    for (; position < store.bucket_count[p]; ++position) {
      const kavrel::Exponent* other =
          kavrel::term_row(store, kavrel::poly_entry(store, position, p));
      int k = 0;
      while (k < name_slots && other[k] == entries[k]) ++k;
      if (k < name_slots && other[k] < entries[k]) break;
    }
    for (int r = store.bucket_count[p]; r > position; --r) {
      kavrel::poly_entry(store, r, p) = kavrel::poly_entry(store, r - 1, p);
    }
    kavrel::poly_entry(store, position, p) = row;
    ++store.bucket_count[p];
  }
  return store;
}

struct Capture {
  char* buffer = nullptr;
  std::size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);

  std::string text() {
    std::fflush(out);
    return std::string(buffer, size);
  }
  ~Capture() {
    std::fclose(out);
    std::free(buffer);
  }
};

// The evaluated topological functions of one stage, released at the end.
struct Stores {
  kavrel::TopofunStores all;
  kavrel::OhmUnitFactors unit_factors;
  Stores() = default;
  Stores(const Stores&) = delete;
  Stores& operator=(const Stores&) = delete;
  void set(int code, const std::vector<Term>& terms, int term_capacity = 16,
           int poly_capacity = 8, int name_slots = kavrel::kNameSlots) {
    kavrel::free_term_store(all.stores[code]);
    all.stores[code] = build_store(terms, term_capacity, poly_capacity, name_slots);
    all.topofun_evaluated[code] = 1;
  }
  ~Stores() {
    for (TermStore& store : all.stores) kavrel::free_term_store(store);
  }
};

inline std::string print_function(NetworkTables& net, Stores& stores, int sign,
                                  int num_code, int den_code, int* result = nullptr,
                                  bool last_uses = false) {
  Capture capture;
  const int status = kavrel::print_tree_buf(net, stores.unit_factors, stores.all, capture.out, sign, num_code, den_code,
                                            last_uses, last_uses);
  if (result != nullptr) *result = status;
  return capture.text();
}

// Makes allocations fail from the n-th one on (1-based), or only the n-th.
struct AllocationFailure {
  int fail_from = 0;
  bool only_one = false;
  int calls = 0;

  static bool decide(std::size_t, void* context) {
    auto* self = static_cast<AllocationFailure*>(context);
    ++self->calls;
    if (self->only_one) return self->calls == self->fail_from;
    return self->calls >= self->fail_from;
  }
  explicit AllocationFailure(int n, bool single = false) : fail_from(n), only_one(single) {
    kavrel::set_allocation_failure(&AllocationFailure::decide, this);
  }
  ~AllocationFailure() { kavrel::set_allocation_failure(nullptr, nullptr); }
};

// Frame of a function whose processing could not be completed.
inline const char* kIncompleteFrame =
    "insufficient memory to complete processing\n"
    "\n Numerator:\n"
    "\n Denominator:\n"
    "\n End:\n\n";

}  // namespace output_test
