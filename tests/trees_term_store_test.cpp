// The term store: allocation, growth of its arrays, filing of terms.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/store_probes.h"
#include "support/text_patterns.h"
#include "trees/memory.h"
#include "trees/term_index.h"
#include "trees/term_insert.h"
#include "trees/term_store.h"

namespace {

using kavrel_test::masked_addresses;
using kavrel::TermStore;

constexpr int kIdentitySlots = 104;

std::string hex(const void* pointer) {
  char text[40];
  std::snprintf(text, sizeof text, "0x%08jx",
                static_cast<uintmax_t>(reinterpret_cast<uintptr_t>(pointer)));
  return text;
}

using kavrel_test::fail_in_range;
using kavrel_test::FailureRule;

class TermStoreTest : public ::testing::Test {
 protected:
  TermStoreTest() {
    for (int e = 0; e < kIdentitySlots; ++e) identity_[e] = e;
    context_.dbranchmap = identity_;
    EXPECT_EQ(kavrel::alloc_term_store(store_), 0);
  }
  ~TermStoreTest() override {
    kavrel::set_allocation_failure(nullptr, nullptr);
    kavrel::free_term_store(store_);
    if (out_ != nullptr) std::fclose(out_);
    std::free(buffer_);
  }

  void trace(int32_t bits) {
    out_ = open_memstream(&buffer_, &length_);
    context_.out = out_;
    context_.test_bitmap = bits;
  }
  std::string printed() {
    std::fflush(out_);
    return std::string(buffer_, length_);
  }

  // Exponent `exponent` of name `name`, nothing else.
  int add(int name, int exponent, int power, int sign = 1) {
    std::vector<int32_t> edges(static_cast<std::size_t>(exponent), name);
    return kavrel::add_term(sign, power, exponent, edges.data(), store_, context_);
  }
  // A distinct product for every i below 10000.
  int add_distinct(int i, int power) { return add(1 + i % 100, 1 + i / 100, power); }

  std::vector<int> column(int power) {
    std::vector<int> names;
    for (int r = 0; r < store_.bucket_count[power]; ++r) {
      const kavrel::Exponent* row = kavrel::term_row(store_, kavrel::poly_entry(store_, r, power));
      int name = 0;
      while (name < kavrel::kNameSlots && row[name] == 0) ++name;
      names.push_back(name);
    }
    return names;
  }
  int32_t coefficient(int power, int row) {
    return kavrel::term_coefficient(store_, kavrel::poly_entry(store_, row, power));
  }

  TermStore store_;
  kavrel::TermContext context_;
  int32_t identity_[kIdentitySlots];
  FILE* out_ = nullptr;
  char* buffer_ = nullptr;
  std::size_t length_ = 0;
};

TEST_F(TermStoreTest, AllocationGivesClearedArraysWithInitialCapacities) {
  EXPECT_EQ(store_.term_capacity, 4472);
  EXPECT_EQ(store_.poly_capacity, 104);
  EXPECT_EQ(store_.terms_used, 0);
  for (int i = 0; i < 4472 * store_.row_units(); ++i) ASSERT_EQ(store_.termlist[i], 0);
  for (int i = 0; i < 4472; ++i) ASSERT_EQ(store_.termvalue[i], 0.0);
  for (int i = 0; i < 104 * kavrel::kPowerBuckets; ++i) ASSERT_EQ(store_.poly[i], 0);
  kavrel::free_term_store(store_);
  EXPECT_EQ(store_.termlist, nullptr);
  kavrel::free_term_store(store_);  // a released store may be released again
}

TEST_F(TermStoreTest, ColumnKeepsDescendingVectorsAndCombinesEqualOnes) {
  add(7, 1, 3);
  add(20, 1, 3);
  add(3, 1, 3);      // larger than every vector: row 0
  add(50, 1, 3);     // smaller than all: the end
  add(7, 1, 3);      // combined
  add(20, 1, 3, -1); // cancels to a zero coefficient that stays
  add(7, 2, 3);      // exponent 2 of name 7 sorts before exponent 1
  EXPECT_EQ(column(3), (std::vector<int>{3, 7, 7, 20, 50}));
  EXPECT_EQ(coefficient(3, 1), 1);  // 7^2
  EXPECT_EQ(coefficient(3, 2), 2);  // 7
  EXPECT_EQ(coefficient(3, 3), 0);  // 20
  EXPECT_EQ(store_.terms_used, 5);
  EXPECT_EQ(store_.bucket_count[3], 5);
  // Rows stay in creation order; the new row's flag is 0.
  EXPECT_EQ(kavrel::term_row(store_, 2)[3], 1);
  EXPECT_EQ(kavrel::term_corrected_flag(store_, 2), 0);
}

TEST_F(TermStoreTest, EdgesOfOneSymbolRaiseOneExponent) {
  identity_[9] = 4;  // edges 4 and 9 carry the same name text
  const int32_t edges[] = {4, 9, 12};
  ASSERT_EQ(kavrel::add_term(-1, 2, 3, edges, store_, context_), 0);
  const kavrel::Exponent* row = kavrel::term_row(store_, 0);
  EXPECT_EQ(row[4], 2);
  EXPECT_EQ(row[9], 0);
  EXPECT_EQ(row[12], 1);
  EXPECT_EQ(kavrel::coefficient_in(store_, row), -1);
  EXPECT_EQ(kavrel::poly_entry(store_, 0, 2), 0);
}

TEST_F(TermStoreTest, TreeLineAndNoStoreBit) {
  trace(256 | 512);
  context_.netlist_count = 2;
  context_.function_counter = 11;
  const int32_t edges[] = {5, 17};
  ASSERT_EQ(kavrel::add_term(-1, 1, 2, edges, store_, context_), 0);
  ASSERT_EQ(kavrel::add_term(1, 0, 0, edges, store_, context_), 0);
  EXPECT_EQ(printed(), " 2,11, 0, 0, 1,-1:,  5, 17\n 2,11, 0, 0, 0, 1:\n");
  EXPECT_EQ(store_.terms_used, 0);
  EXPECT_EQ(store_.bucket_count[1], 0);
}

TEST_F(TermStoreTest, TermArraysGrowAtThe4472ndTerm) {
  trace(64);
  for (int i = 0; i < 4471; ++i) ASSERT_EQ(add_distinct(i, i % 43), 0);
  EXPECT_EQ(store_.term_capacity, 4472);
  const std::string before = printed();
  const kavrel::Exponent* old_termlist = store_.termlist;
  ASSERT_EQ(add_distinct(4471, 4471 % 43), 0);
  EXPECT_EQ(store_.term_capacity, 8944);
  EXPECT_EQ(store_.terms_used, 4472);
  const std::string growth = printed().substr(before.size());
  EXPECT_EQ(masked_addresses(growth),
            "resizing termlist orig size =4472, orig ptr =0x#\n"
            "num of elements =8944, pointer =0x#\n"
            "resizing termvalue orig size =4472, orig ptr =0x#\n"
            "num of elements =8944, pointer =0x#\n");
  EXPECT_NE(growth.find("orig ptr =" + hex(old_termlist) + "\n"), std::string::npos);
  EXPECT_NE(growth.find("pointer =" + hex(store_.termlist) + "\n"), std::string::npos);
  for (long i = 4472L * store_.row_units(); i < 8944L * store_.row_units(); ++i) {
    ASSERT_EQ(store_.termlist[i], 0);
  }
  for (int i = 4472; i < 8944; ++i) ASSERT_EQ(store_.termvalue[i], 0.0);
  // Every term is still found where it was filed.
  for (int i = 0; i < 4472; ++i) ASSERT_EQ(add_distinct(i, i % 43), 0);
  EXPECT_EQ(store_.terms_used, 4472);
}

TEST_F(TermStoreTest, PolyGrowsAtThe103rdTermOfABucket) {
  trace(64);
  // Other columns, below and above the growing one, must survive the growth.
  ASSERT_EQ(add(7, 1, 0), 0);
  ASSERT_EQ(add(3, 1, 0), 0);
  ASSERT_EQ(add(9, 2, 42), 0);
  ASSERT_EQ(add(4, 1, 42), 0);
  ASSERT_EQ(add(2, 1, 6), 0);
  for (int i = 0; i < 102; ++i) ASSERT_EQ(add_distinct(i, 5), 0);
  EXPECT_EQ(store_.poly_capacity, 104);
  EXPECT_EQ(printed(), "");
  ASSERT_EQ(add_distinct(102, 5), 0);
  EXPECT_EQ(store_.poly_capacity, 208);
  EXPECT_EQ(masked_addresses(printed()),
            "resizing poly orig size =104, orig ptr =0x#\nnum of elements =208, pointer =0x#\n");
  EXPECT_EQ(store_.bucket_count[5], 103);
  EXPECT_EQ(column(0), (std::vector<int>{3, 7}));
  EXPECT_EQ(column(6), (std::vector<int>{2}));
  EXPECT_EQ(column(42), (std::vector<int>{4, 9}));
  // Names 1..3 twice (squared first), then 4..100 once each.
  std::vector<int> fives;
  for (int name = 1; name <= 100; ++name) {
    fives.push_back(name);
    if (name <= 3) fives.push_back(name);
  }
  EXPECT_EQ(column(5), fives);
}

TEST_F(TermStoreTest, FailedTermlistGrowth) {
  trace(64);
  for (int i = 0; i < 4471; ++i) ASSERT_EQ(add_distinct(i, i % 43), 0);
  const std::size_t initial_bytes = store_.row_bytes() * 4472;
  FailureRule rule{initial_bytes + 1, SIZE_MAX};
  kavrel::set_allocation_failure(fail_in_range, &rule);
  const std::size_t before = printed().size();
  const kavrel::Exponent* termlist = store_.termlist;
  EXPECT_EQ(add_distinct(4471, 0), 1);
  EXPECT_EQ(masked_addresses(printed().substr(before)),
            "resizing termlist orig size =4472, orig ptr =0x#\n"
            "resize failed for insufficient memory\n");
  EXPECT_EQ(store_.termlist, termlist);
  EXPECT_EQ(store_.term_capacity, 4472);
}

// 4472 terms spread over all buckets grow poly once, to 208 rows (35776
// bytes); termvalue's attempts all lie above that.
TEST_F(TermStoreTest, FailedTermvalueGrowthKeepsTheGrownTermlist) {
  trace(64);
  for (int i = 0; i < 4471; ++i) ASSERT_EQ(add_distinct(i, i % 43), 0);
  ASSERT_EQ(store_.poly_capacity, 208);
  FailureRule rule{sizeof(double) * 4472 + 1, sizeof(double) * 8944};
  kavrel::set_allocation_failure(fail_in_range, &rule);
  const std::size_t before = printed().size();
  EXPECT_EQ(add_distinct(4471, 0), 1);
  EXPECT_EQ(masked_addresses(printed().substr(before)),
            "resizing termlist orig size =4472, orig ptr =0x#\n"
            "num of elements =8944, pointer =0x#\n"
            "resizing termvalue orig size =4472, orig ptr =0x#\n"
            "resize failed for insufficient memory\n");
  EXPECT_NE(printed().find("pointer =" + hex(store_.termlist) + "\n", before), std::string::npos);
}

TEST_F(TermStoreTest, TermArraysGrownToDifferentCapacitiesFail) {
  trace(64);
  for (int i = 0; i < 4471; ++i) ASSERT_EQ(add_distinct(i, i % 43), 0);
  FailureRule rule{sizeof(double) * 8944, sizeof(double) * 8944};
  kavrel::set_allocation_failure(fail_in_range, &rule);
  const std::size_t before = printed().size();
  EXPECT_EQ(add_distinct(4471, 0), 1);
  EXPECT_EQ(masked_addresses(printed().substr(before)),
            "resizing termlist orig size =4472, orig ptr =0x#\n"
            "num of elements =8944, pointer =0x#\n"
            "resizing termvalue orig size =4472, orig ptr =0x#\n"
            "num of elements =6708, pointer =0x#\n");
  EXPECT_EQ(store_.term_capacity, 4472);
}

TEST_F(TermStoreTest, PolyGrowthByAFractionAndFailure) {
  trace(64);
  for (int i = 0; i < 102; ++i) ASSERT_EQ(add_distinct(i, 5), 0);
  const std::size_t row_bytes = sizeof(int32_t) * kavrel::kPowerBuckets;
  FailureRule doubling{row_bytes * 208, row_bytes * 208};
  kavrel::set_allocation_failure(fail_in_range, &doubling);
  ASSERT_EQ(add_distinct(102, 5), 0);
  EXPECT_EQ(store_.poly_capacity, 156);
  EXPECT_EQ(masked_addresses(printed()),
            "resizing poly orig size =104, orig ptr =0x#\nnum of elements =156, pointer =0x#\n");

  for (int i = 103; i < 154; ++i) ASSERT_EQ(add_distinct(i, 5), 0);
  FailureRule all{row_bytes * 157, SIZE_MAX};
  kavrel::set_allocation_failure(fail_in_range, &all);
  const std::size_t before = printed().size();
  EXPECT_EQ(add_distinct(154, 5), 1);
  EXPECT_EQ(masked_addresses(printed().substr(before)),
            "resizing poly orig size =156, orig ptr =0x#\nresize failed for insufficient memory\n");
  EXPECT_EQ(store_.poly_capacity, 156);
}

// Exponents are kept in 8 bits: unit correction and cancellation stay within
// them only while no term has more edges than a tree of the largest network.
TEST_F(TermStoreTest, TermsOfMoreEdgesThanAnyTreeAreRefused) {
  ASSERT_EQ(add(5, kavrel::kMaxTermEdges, 1), 0);
  EXPECT_EQ(kavrel::term_row(store_, 0)[5], kavrel::kMaxTermEdges);
  EXPECT_EQ(add(6, kavrel::kMaxTermEdges + 1, 1), 1);
  EXPECT_EQ(store_.terms_used, 1);
}

TEST_F(TermStoreTest, CoefficientNeverLeavesItsRange) {
  ASSERT_EQ(add(8, 1, 0), 0);
  kavrel::set_term_coefficient(store_, 0, INT32_MAX);
  EXPECT_EQ(add(8, 1, 0), 1);
  EXPECT_EQ(kavrel::term_coefficient(store_, 0), INT32_MAX);
  EXPECT_EQ(add(8, 1, 0, -1), 0);
  kavrel::set_term_coefficient(store_, 0, INT32_MIN);
  EXPECT_EQ(add(8, 1, 0, -1), 1);
  EXPECT_EQ(kavrel::term_coefficient(store_, 0), INT32_MIN);
}

TEST_F(TermStoreTest, PowerOutsideTheBucketsIsRefused) {
  EXPECT_EQ(add(8, 1, kavrel::kPowerBuckets), 1);
  EXPECT_EQ(add(8, 1, -1), 1);
  EXPECT_EQ(add(8, 1, kavrel::kPowerBuckets - 1), 0);
  EXPECT_EQ(store_.terms_used, 1);
}

// Terms filed through the hash index, with the columns ordered at the end,
// against the same terms filed by binary insertion: the stores must agree in
// every array entry, every count and capacity, and in the growth trace.
struct RandomTerm {
  int sign;
  int power;
  std::vector<int32_t> edges;
};

std::vector<RandomTerm> random_terms(int count, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<RandomTerm> terms;
  for (int i = 0; i < count; ++i) {
    RandomTerm term;
    term.sign = rng() % 2 == 0 ? 1 : -1;
    term.power = static_cast<int>(rng() % 6);
    const int edges = 1 + static_cast<int>(rng() % 6);
    // Few names, so that many products recur and combine.
    for (int k = 0; k < edges; ++k) term.edges.push_back(1 + static_cast<int32_t>(rng() % 24));
    terms.push_back(term);
  }
  return terms;
}

struct FiledStore {
  TermStore store;
  std::string trace;
  int result = 0;
  const void* termlist_after_reserving = nullptr;
};

void file_terms(const std::vector<RandomTerm>& terms, kavrel::TermIndex* index, FiledStore& filed,
                bool terms_distinct = false, int32_t bits = 64, long long reserved_rows = 0) {
  int32_t names[kIdentitySlots];
  for (int e = 0; e < kIdentitySlots; ++e) names[e] = e;
  names[20] = 3;  // edges 3 and 20 carry one name text
  char* buffer = nullptr;
  std::size_t length = 0;
  FILE* out = open_memstream(&buffer, &length);
  kavrel::TermContext context;
  context.dbranchmap = names;
  context.test_bitmap = bits;
  context.out = out;
  ASSERT_EQ(kavrel::alloc_term_store(filed.store), 0);
  if (reserved_rows > 0) kavrel::reserve_term_rows(filed.store, reserved_rows);
  filed.termlist_after_reserving = filed.store.termlist;
  if (index != nullptr) {
    ASSERT_TRUE(index->start(terms_distinct));
    context.index = index;
  }
  for (const RandomTerm& term : terms) {
    filed.result = kavrel::add_term(term.sign, term.power, static_cast<int>(term.edges.size()),
                                    term.edges.data(), filed.store, context);
    if (filed.result != 0) break;
  }
  if (index != nullptr) index->finish(filed.store);
  std::fclose(out);
  filed.trace = masked_addresses(std::string(buffer, length));
  std::free(buffer);
}

void expect_same_stores(const FiledStore& a, const FiledStore& b) {
  EXPECT_EQ(a.trace, b.trace);
  EXPECT_EQ(a.result, b.result);
  ASSERT_EQ(a.store.terms_used, b.store.terms_used);
  ASSERT_EQ(a.store.term_capacity, b.store.term_capacity);
  ASSERT_EQ(a.store.poly_capacity, b.store.poly_capacity);
  for (int p = 0; p < kavrel::kPowerBuckets; ++p) {
    ASSERT_EQ(a.store.bucket_count[p], b.store.bucket_count[p]) << p;
  }
  // Rows beyond the terms in use and column entries beyond a bucket's count
  // are never read, so only the live parts must agree.
  const std::size_t terms = static_cast<std::size_t>(a.store.terms_used);
  EXPECT_EQ(std::memcmp(a.store.termlist, b.store.termlist, terms * a.store.row_bytes()), 0);
  EXPECT_EQ(std::memcmp(a.store.termvalue, b.store.termvalue, terms * sizeof(double)), 0);
  for (int p = 0; p < kavrel::kPowerBuckets; ++p) {
    for (int row = 0; row < a.store.bucket_count[p]; ++row) {
      ASSERT_EQ(kavrel::poly_entry(a.store, row, p), kavrel::poly_entry(b.store, row, p)) << p;
    }
  }
}

// Random terms, each product of names once (edge 20 named as edge 3).
std::vector<RandomTerm> distinct_random_terms(int count, unsigned seed) {
  std::vector<RandomTerm> terms;
  std::set<std::pair<int, std::multiset<int32_t>>> seen;
  for (const RandomTerm& term : random_terms(count, seed)) {
    std::multiset<int32_t> names;
    for (const int32_t edge : term.edges) names.insert(edge == 20 ? 3 : edge);
    if (seen.insert({term.power, names}).second) terms.push_back(term);
  }
  return terms;
}

// A store filed outside file_terms, with the same trace of growth kept.
struct TracedFiling {
  FiledStore filed;
  char* buffer = nullptr;
  std::size_t length = 0;
  FILE* out = open_memstream(&buffer, &length);
  kavrel::TermContext context;
  TracedFiling() {
    context.test_bitmap = 64;
    context.out = out;
  }
  void end() {
    std::fclose(out);
    filed.trace = masked_addresses(std::string(buffer, length));
    std::free(buffer);
  }
};

TEST(IndexedTermStore, AgreesWithBinaryInsertionThroughEveryGrowth) {
  const std::vector<RandomTerm> terms = random_terms(30000, 5);
  FiledStore plain;
  FiledStore indexed;
  kavrel::TermIndex index;
  file_terms(terms, nullptr, plain);
  file_terms(terms, &index, indexed);
  // The terms fill more than the first termlist and several poly sizes.
  ASSERT_GT(plain.store.terms_used, 4472);
  ASSERT_GT(plain.store.poly_capacity, 208);
  expect_same_stores(plain, indexed);
  kavrel::free_term_store(plain.store);
  kavrel::free_term_store(indexed.store);
}

// Room reserved for a whole function: the arrays stay where they are while
// the terms fit, and the store is the one growth by reallocation builds, also
// when the terms outgrow the room.
TEST(ReservedTermStore, GrowsWithinItsRoomToTheSameStore) {
  const std::vector<RandomTerm> terms = random_terms(30000, 9);
  FiledStore plain;
  file_terms(terms, nullptr, plain, false, 0);
  ASSERT_GT(plain.store.terms_used, 2 * 4472);
  // The capacity doubles from its first value: any room above half the
  // last capacity is made up to it, so that the last doubling moves nothing.
  ASSERT_GT(plain.store.terms_used, plain.store.term_capacity / 2);
  for (const long long room : {4LL * plain.store.terms_used, 1LL * plain.store.terms_used,
                               plain.store.terms_used / 2LL}) {
    FiledStore reserved;
    file_terms(terms, nullptr, reserved, false, 0, room);
    expect_same_stores(plain, reserved);
    if (room > plain.store.term_capacity / 2) {
      EXPECT_EQ(reserved.store.termlist, reserved.termlist_after_reserving) << room;
    }
    kavrel::free_term_store(reserved.store);
  }
  kavrel::free_term_store(plain.store);
}

// The room of a large function that the qualification left mostly unfilled
// goes back once its terms are filed: the store keeps its terms, and rows
// filed after that make the same store.
TEST(ReservedTermStore, RoomBeyondTheRowsGoesBackWithoutChangingTheStore) {
  const std::vector<RandomTerm> terms = random_terms(30000, 13);
  FiledStore plain;
  file_terms(terms, nullptr, plain, false, 0);
  int32_t names[kIdentitySlots];
  for (int e = 0; e < kIdentitySlots; ++e) names[e] = e;
  names[20] = 3;  // as file_terms names them
  TracedFiling filing;
  filing.context.test_bitmap = 0;
  filing.context.dbranchmap = names;
  FiledStore& released = filing.filed;
  ASSERT_EQ(kavrel::alloc_term_store(released.store), 0);
  const long long room =
      static_cast<long long>(kavrel::kLargePageBlockBytes / released.store.row_bytes()) + 1;
  kavrel::reserve_term_rows(released.store, room);
  // A large function's values have room of their own as well.
  released.termlist_after_reserving = released.store.termlist;
  const double* values_after_reserving = released.store.termvalue;
  const std::size_t half = terms.size() / 2;
  for (std::size_t i = 0; i < terms.size() && released.result == 0; ++i) {
    if (i == half) kavrel::release_unfilled_room(released.store);
    released.result = kavrel::add_term(terms[i].sign, terms[i].power,
                                       static_cast<int>(terms[i].edges.size()),
                                       terms[i].edges.data(), released.store, filing.context);
  }
  kavrel::release_unfilled_room(released.store);
  filing.end();
  expect_same_stores(plain, released);
  EXPECT_EQ(released.store.termlist, released.termlist_after_reserving);
  EXPECT_EQ(released.store.termvalue, values_after_reserving);
  kavrel::free_term_store(plain.store);
  kavrel::free_term_store(released.store);
}

// Terms known to be distinct are only appended and their columns sorted at
// the end, without a table: the store is the one binary insertion builds.
TEST(IndexedTermStore, DistinctTermsNeedNoTable) {
  const std::vector<RandomTerm> terms = distinct_random_terms(40000, 8);
  FiledStore plain;
  FiledStore appended;
  kavrel::TermIndex index;
  file_terms(terms, nullptr, plain);
  file_terms(terms, &index, appended, true);
  EXPECT_FALSE(index.in_use());
  ASSERT_GT(plain.store.terms_used, 4472);
  expect_same_stores(plain, appended);
  kavrel::free_term_store(plain.store);
  kavrel::free_term_store(appended.store);
}

// The rows the terms make in a store of the default width, one after the
// other: exponents by name (edge 20 named as edge 3), coefficient the sign.
std::vector<kavrel::Exponent> rows_of(const std::vector<RandomTerm>& terms,
                                      const TermStore& shape) {
  const std::size_t units = static_cast<std::size_t>(shape.row_units());
  std::vector<kavrel::Exponent> rows(terms.size() * units, 0);
  for (std::size_t i = 0; i < terms.size(); ++i) {
    kavrel::Exponent* row = rows.data() + i * units;
    for (const int32_t edge : terms[i].edges) ++row[edge == 20 ? 3 : edge];
    kavrel::set_coefficient_in(shape, row, terms[i].sign);
  }
  return rows;
}

// Filing a tree by the exponents it gives is filing the tree: the same
// store, trace lines of growth and all, whether the index finds the terms or
// binary insertion does.
TEST(IndexedTermStore, FilingByExponentsIsFilingTheTree) {
  const std::vector<RandomTerm> terms = random_terms(30000, 5);
  for (const bool indexed : {true, false}) {
    FiledStore by_tree;
    kavrel::TermIndex tree_index;
    file_terms(terms, indexed ? &tree_index : nullptr, by_tree);

    TracedFiling filing;
    FiledStore& by_exponents = filing.filed;
    kavrel::TermContext& context = filing.context;
    ASSERT_EQ(kavrel::alloc_term_store(by_exponents.store), 0);
    kavrel::TermIndex index;
    if (indexed) {
      ASSERT_TRUE(index.start(false));
      context.index = &index;
    }
    const std::vector<kavrel::Exponent> rows = rows_of(terms, by_exponents.store);
    const std::size_t units = static_cast<std::size_t>(by_exponents.store.row_units());
    for (std::size_t i = 0; i < terms.size() && by_exponents.result == 0; ++i) {
      by_exponents.result = kavrel::add_term_exponents(terms[i].sign, terms[i].power,
                                                       rows.data() + i * units,
                                                       by_exponents.store, context);
    }
    if (indexed) index.finish(by_exponents.store);
    filing.end();
    expect_same_stores(by_tree, by_exponents);
    kavrel::free_term_store(by_tree.store);
    kavrel::free_term_store(by_exponents.store);
  }
}

// Distinct terms appended run by run, each run's order within a power
// checked by the caller, make the store that filing them one by one makes:
// in one run only the caller's marks tell the columns to sort; in several,
// the first row of a power in a run is checked against the column too.
TEST(IndexedTermStore, DistinctRowsAppendedInRuns) {
  const std::vector<RandomTerm> terms = distinct_random_terms(40000, 8);
  FiledStore one_by_one;
  kavrel::TermIndex reference_index;
  file_terms(terms, &reference_index, one_by_one, true);

  for (const int runs : {1, 7}) {
    TracedFiling filing;
    FiledStore& appended = filing.filed;
    kavrel::TermContext& context = filing.context;
    ASSERT_EQ(kavrel::alloc_term_store(appended.store), 0);
    kavrel::TermIndex index;
    ASSERT_TRUE(index.start(true));
    context.index = &index;
    const std::vector<kavrel::Exponent> rows = rows_of(terms, appended.store);
    const std::size_t units = static_cast<std::size_t>(appended.store.row_units());
    std::vector<int8_t> powers;
    for (const RandomTerm& term : terms) powers.push_back(static_cast<int8_t>(term.power));
    const std::size_t total = terms.size();
    for (int run = 0; run < runs && appended.result == 0; ++run) {
      const std::size_t first = total * static_cast<std::size_t>(run) / runs;
      const std::size_t end = total * static_cast<std::size_t>(run + 1) / runs;
      bool unordered[kavrel::kPowerBuckets] = {};
      long long last[kavrel::kPowerBuckets];
      for (long long& row : last) row = -1;
      for (std::size_t i = first; i < end; ++i) {
        const int p = powers[i];
        if (last[p] >= 0 &&
            !kavrel::TermIndex::in_column_order(rows.data() + static_cast<std::size_t>(last[p]) * units,
                                                rows.data() + i * units,
                                                appended.store.name_slots)) {
          unordered[p] = true;
        }
        last[p] = static_cast<long long>(i);
      }
      appended.result =
          kavrel::append_new_rows(appended.store, rows.data() + first * units, powers.data() + first,
                                  static_cast<int>(end - first), unordered, context);
    }
    index.finish(appended.store);
    filing.end();
    expect_same_stores(one_by_one, appended);
    kavrel::free_term_store(appended.store);
  }
  kavrel::free_term_store(one_by_one.store);
}

TEST(IndexedTermStore, AnIndexThatCannotGrowHandsOverToBinaryInsertion) {
  const std::vector<RandomTerm> terms = random_terms(30000, 6);
  FiledStore plain;
  FiledStore indexed;
  kavrel::TermIndex index(kavrel::TermIndex::kInitialSlotBits);
  file_terms(terms, nullptr, plain);
  file_terms(terms, &index, indexed);
  // The table gives up at three quarters of its 4096 slots.
  ASSERT_GT(plain.store.terms_used, 3072);
  expect_same_stores(plain, indexed);
  kavrel::free_term_store(plain.store);
  kavrel::free_term_store(indexed.store);
}

TEST(IndexedTermStore, FailedGrowthFailsAtTheSameTerm) {
  const std::vector<RandomTerm> terms = random_terms(30000, 7);
  kavrel::TermStore widest;
  const std::size_t initial_bytes = widest.row_bytes() * 4472;
  FailureRule rule{initial_bytes + 1, SIZE_MAX};
  kavrel::set_allocation_failure(fail_in_range, &rule);
  FiledStore plain;
  FiledStore indexed;
  kavrel::TermIndex index;
  file_terms(terms, nullptr, plain);
  file_terms(terms, &index, indexed);
  kavrel::set_allocation_failure(nullptr, nullptr);
  EXPECT_EQ(plain.result, 1);
  EXPECT_EQ(indexed.result, 1);
  EXPECT_EQ(plain.trace, indexed.trace);
  EXPECT_EQ(plain.store.terms_used, indexed.store.terms_used);
  kavrel::free_term_store(plain.store);
  kavrel::free_term_store(indexed.store);
}

class ResizeTest : public ::testing::Test {
 protected:
  ~ResizeTest() override {
    kavrel::set_allocation_failure(nullptr, nullptr);
    std::fclose(out_);
    std::free(buffer_);
    std::free(array_);
  }
  int resize(int32_t bits) { return kavrel::resize_array(&array_, &count_, 4, bits, out_); }
  std::string printed() {
    std::fflush(out_);
    return std::string(buffer_, length_);
  }

  char* buffer_ = nullptr;
  std::size_t length_ = 0;
  FILE* out_ = open_memstream(&buffer_, &length_);
  void* array_ = std::malloc(32);
  int count_ = 8;
};

TEST_F(ResizeTest, DoublesAndTracesFullAddresses) {
  void* old = array_;
  ASSERT_EQ(resize(64), 0);
  EXPECT_EQ(count_, 16);
  EXPECT_EQ(printed(), "orig size =8, orig ptr =" + hex(old) + "\nnum of elements =16, pointer =" +
                           hex(array_) + "\n");
}

TEST_F(ResizeTest, FallsBackToEverSmallerSteps) {
  FailureRule rule{4 * 12 + 1, SIZE_MAX};  // doubling to 16 refused, 12 granted
  kavrel::set_allocation_failure(fail_in_range, &rule);
  ASSERT_EQ(resize(0), 0);
  EXPECT_EQ(count_, 12);
  EXPECT_EQ(printed(), "");

  FailureRule above_13{4 * 13 + 1, SIZE_MAX};
  kavrel::set_allocation_failure(fail_in_range, &above_13);
  ASSERT_EQ(resize(64), 0);  // 24, 18, 15 refused; 13 granted
  EXPECT_EQ(count_, 13);
  EXPECT_NE(printed().find("num of elements =13, pointer ="), std::string::npos);
}

TEST_F(ResizeTest, NoGrowthLeavesArrayAndCount) {
  FailureRule rule{0, SIZE_MAX};
  kavrel::set_allocation_failure(fail_in_range, &rule);
  void* old = array_;
  EXPECT_EQ(resize(0), 1);
  EXPECT_EQ(printed(), "");
  EXPECT_EQ(resize(64), 1);
  EXPECT_EQ(printed(), "orig size =8, orig ptr =" + hex(old) + "\nresize failed for insufficient memory\n");
  EXPECT_EQ(array_, old);
  EXPECT_EQ(count_, 8);
}

TEST_F(ResizeTest, OneOrNoElementReportsFailureWhateverTheBits) {
  FailureRule rule{0, SIZE_MAX};
  kavrel::set_allocation_failure(fail_in_range, &rule);
  count_ = 1;
  EXPECT_EQ(resize(0), 1);
  EXPECT_EQ(printed(), "resize failed for insufficient memory\n");
  count_ = 0;
  EXPECT_EQ(resize(0), 1);
  EXPECT_EQ(printed(), "resize failed for insufficient memory\nresize failed for insufficient memory\n");
  EXPECT_EQ(count_, 0);
}

}  // namespace
