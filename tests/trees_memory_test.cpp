// The program's own allocation functions keep the protocol of the standard
// ones: a failing new calls the new handler until there is none and then
// throws, and the nothrow forms give nullptr. Every other test allocates
// through them too.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "trees/memory.h"

namespace {

// Larger than any heap: the C library refuses it at once.
constexpr std::size_t kImpossibleBytes = SIZE_MAX / 2;

int handler_calls = 0;

void give_up_after_two_calls() {
  if (++handler_calls == 2) std::set_new_handler(nullptr);
}

bool under_a_sanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#else
  return false;
#endif
}

TEST(ProgramAllocation, NewCallsTheHandlerUntilThereIsNoneAndThenThrows) {
  // A sanitizer's allocator ends the process on such a request.
  if (under_a_sanitizer()) GTEST_SKIP();
  handler_calls = 0;
  std::set_new_handler(give_up_after_two_calls);
  EXPECT_THROW(static_cast<void>(::operator new(kImpossibleBytes)), std::bad_alloc);
  EXPECT_EQ(handler_calls, 2);
  std::set_new_handler(nullptr);
  EXPECT_THROW(static_cast<void>(::operator new[](kImpossibleBytes)), std::bad_alloc);
}

TEST(ProgramAllocation, NothrowFormsGiveNullWhereNewWouldThrow) {
  if (under_a_sanitizer()) GTEST_SKIP();
  handler_calls = 0;
  std::set_new_handler(give_up_after_two_calls);
  EXPECT_EQ(::operator new(kImpossibleBytes, std::nothrow), nullptr);
  EXPECT_EQ(handler_calls, 2);
  EXPECT_EQ(::operator new[](kImpossibleBytes, std::nothrow), nullptr);
}

TEST(ProgramAllocation, BlocksOnBothSidesOfTheShrinkingSizeAreFreedOnce) {
  // A sanitizer build sees a block freed twice or lost.
  for (const std::size_t bytes : {std::size_t{1}, std::size_t{4095}, (std::size_t{64} << 10) - 1,
                                  std::size_t{64} << 10, std::size_t{3} << 20}) {
    void* sized = std::malloc(bytes);
    void* unsized = std::malloc(bytes);
    ASSERT_NE(sized, nullptr);
    ASSERT_NE(unsized, nullptr);
    std::memset(sized, 1, bytes);
    kavrel::release_block(sized, bytes);
    kavrel::release_block(unsized);
  }
  kavrel::release_block(nullptr);
  kavrel::release_block(nullptr, std::size_t{1} << 20);
  kavrel::store_free(nullptr);
}

}  // namespace

namespace {

constexpr std::size_t kKeptSize = std::size_t{1} << 20;

void* filled_block(std::size_t bytes) {
  void* block = kavrel::obtain_block(bytes);
  EXPECT_NE(block, nullptr);
  if (block != nullptr) std::memset(block, 7, bytes);
  return block;
}

TEST(KeptBlocks, ALargeBlockReleasedInAScopeServesTheNextRequestItHolds) {
  const kavrel::KeptBlocksScope scope;
  void* first = filled_block(kKeptSize);
  kavrel::release_block(first, kKeptSize);
  // Fresh blocks cannot be the kept one: it is still allocated.
  void* quarter = filled_block(kKeptSize / 4);
  EXPECT_NE(quarter, first) << "a block four times too large was handed out";
  void* again = filled_block(kKeptSize * 3 / 4);
  EXPECT_EQ(again, first);
  kavrel::release_block(quarter, kKeptSize / 4);
  kavrel::release_block(again, kKeptSize * 3 / 4);
}

// A sanitizer build sees a write past a kept block handed out too small.
TEST(KeptBlocks, ARequestLargerThanEveryKeptBlockGrowsOneToItsSize) {
  const kavrel::KeptBlocksScope scope;
  kavrel::release_block(filled_block(kKeptSize / 2), kKeptSize / 2);
  kavrel::release_block(filled_block(kKeptSize / 4), kKeptSize / 4);
  void* grown = filled_block(4 * kKeptSize);
  kavrel::release_block(grown, 4 * kKeptSize);
}

TEST(KeptBlocks, AgingReleasesWhatTheLastRoundLeftUntaken) {
  const kavrel::KeptBlocksScope scope;
  void* old_block = filled_block(kKeptSize);
  kavrel::release_block(old_block, kKeptSize);
  kavrel::age_kept_blocks();
  // Taken in the round after it was kept: reused.
  void* taken = filled_block(kKeptSize);
  EXPECT_EQ(taken, old_block);
  kavrel::release_block(taken, kKeptSize);
  kavrel::age_kept_blocks();
  kavrel::age_kept_blocks();
  // A sanitizer build reports the block if aging lost it instead of freeing.
  void* fresh = filled_block(kKeptSize);
  kavrel::release_block(fresh, kKeptSize);
}

TEST(KeptBlocks, BlocksFromNewAreKeptThroughTheSizedDelete) {
  // A sanitizer's runtime brings its own new and delete.
  if (under_a_sanitizer()) GTEST_SKIP();
  const kavrel::KeptBlocksScope scope;
  auto* first = new char[kKeptSize];
  std::memset(first, 1, kKeptSize);
  const auto first_address = reinterpret_cast<std::uintptr_t>(first);
  ::operator delete[](first, kKeptSize);
  auto* second = new char[kKeptSize];
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(second), first_address);
  ::operator delete[](second, kKeptSize);
}

}  // namespace

namespace {

// The mapping of /proc/self/smaps that holds `address`, as its lines; empty
// where the system has no such file.
std::vector<std::string> mapping_holding(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  const auto wanted = reinterpret_cast<std::uintptr_t>(address);
  std::vector<std::string> lines;
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    unsigned long long start = 0;
    unsigned long long end = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> start >> dash >> end && dash == '-' &&
        line.find(':') > line.find(' ')) {
      if (inside) break;
      inside = start <= wanted && wanted < end;
    }
    if (inside) lines.push_back(line);
  }
  return lines;
}

bool large_pages_on_advice() {
  std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string modes;
  std::getline(setting, modes);
  return modes.find("[always]") != std::string::npos ||
         modes.find("[madvise]") != std::string::npos;
}

bool advice_taken(const std::vector<std::string>& mapping) {
  for (const std::string& line : mapping) {
    if (line.rfind("VmFlags:", 0) == 0) return line.find(" hg") != std::string::npos;
  }
  return false;
}

// Advice for a part of a block would split its mapping, and a split mapping
// cannot be grown in place: every growth of a term store would copy it.
TEST(LargePages, AnAdvisedBlockStaysOneMappingFromItsFirstToItsLastByte) {
  if (under_a_sanitizer()) GTEST_SKIP() << "the sanitizer's allocator maps blocks its own way";
  const std::size_t bytes = kavrel::kLargePageBlockBytes + 12345;
  auto* block = static_cast<char*>(kavrel::store_malloc(bytes));
  ASSERT_NE(block, nullptr);
  kavrel::advise_large_pages(block, bytes);
  const std::vector<std::string> first = mapping_holding(block);
  if (first.empty() || !large_pages_on_advice()) {
    kavrel::store_free(block);
    GTEST_SKIP() << "no large pages on this system";
  }
  EXPECT_TRUE(advice_taken(first));
  EXPECT_EQ(mapping_holding(block + bytes - 1).front(), first.front());
  std::memset(block, 3, bytes);
  auto* grown = static_cast<char*>(kavrel::store_realloc(block, 2 * bytes));
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(grown[0], 3);
  EXPECT_EQ(grown[bytes - 1], 3);
  kavrel::store_free(grown);
}

TEST(LargePages, SmallBlocksAndNullAreLeftAsTheyAre) {
  EXPECT_EQ(kavrel::advise_large_pages(nullptr, kavrel::kLargePageBlockBytes), nullptr);
  void* small = kavrel::store_malloc(1 << 20);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(kavrel::advise_large_pages(small, 1 << 20), small);
  const std::vector<std::string> mapping = mapping_holding(small);
  if (!mapping.empty()) {
    EXPECT_FALSE(advice_taken(mapping));
  }
  kavrel::store_free(small);
}

}  // namespace

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Whether each page of an anonymous mapping is resident.
std::vector<bool> resident_pages(void* mapping, std::size_t pages, std::size_t page) {
  std::vector<unsigned char> flags(pages);
  if (mincore(mapping, pages * page, flags.data()) != 0) return {};
  std::vector<bool> resident(pages);
  for (std::size_t i = 0; i < pages; ++i) resident[i] = (flags[i] & 1) != 0;
  return resident;
}

// 64 pages of fresh anonymous memory, none of them touched yet.
struct FreshPages {
  static constexpr std::size_t kCount = 64;
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  void* mapping = mmap(nullptr, kCount * page, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  FreshPages() = default;
  FreshPages(const FreshPages&) = delete;
  FreshPages& operator=(const FreshPages&) = delete;
  ~FreshPages() {
    if (mapping != MAP_FAILED) munmap(mapping, kCount * page);
  }
  unsigned char* bytes() const { return static_cast<unsigned char*>(mapping); }
  std::vector<bool> resident() const { return resident_pages(mapping, kCount, page); }
};

// Exactly the pages that lie wholly within the range are faulted in: the
// partial pages at both ends may belong to memory that is never written.
TEST(PopulatedRanges, TheWholePagesOfARangeAreFaultedInAndNoOthers) {
  const FreshPages fresh;
  ASSERT_NE(fresh.mapping, MAP_FAILED);
  const std::size_t page = fresh.page;
  // From 100 bytes into page 2 to 100 bytes into page 40: pages 3..39.
  const std::size_t length = 38 * page;
  ASSERT_GE(length, kavrel::kPopulatedRangeBytes);
  kavrel::populate_for_writing(fresh.bytes() + 2 * page + 100, length);
  const std::vector<bool> resident = fresh.resident();
  ASSERT_EQ(resident.size(), FreshPages::kCount);
  if (!resident[3]) GTEST_SKIP() << "the system does not populate ranges";
  for (std::size_t i = 0; i < FreshPages::kCount; ++i) {
    EXPECT_EQ(resident[i], i >= 3 && i <= 39) << "page " << i;
  }
  // The pages are ordinary zeroed memory.
  for (std::size_t i = 3 * page; i < 40 * page; i += 997) EXPECT_EQ(fresh.bytes()[i], 0);
}

TEST(PopulatedRanges, ShortRangesAndNullAreLeftToFaultPageByPage) {
  const FreshPages fresh;
  ASSERT_NE(fresh.mapping, MAP_FAILED);
  kavrel::populate_for_writing(fresh.mapping, kavrel::kPopulatedRangeBytes - 1);
  kavrel::populate_for_writing(nullptr, 1 << 20);
  const std::vector<bool> resident = fresh.resident();
  ASSERT_EQ(resident.size(), FreshPages::kCount);
  for (std::size_t i = 0; i < FreshPages::kCount; ++i) {
    EXPECT_FALSE(resident[i]) << "page " << i;
  }
}

// Pages handed back read as zeros; the partial pages at both ends keep what
// was written, as they may hold live data next to the range.
TEST(ReleasedPages, OnlyTheWholePagesOfARangeGoBack) {
  const FreshPages fresh;
  ASSERT_NE(fresh.mapping, MAP_FAILED);
  const std::size_t page = fresh.page;
  std::memset(fresh.bytes(), 7, FreshPages::kCount * page);
  // From 100 bytes into page 2 to 100 bytes into page 40: pages 3..39.
  kavrel::release_pages(fresh.bytes() + 2 * page + 100, 38 * page);
  kavrel::release_pages(nullptr, 1 << 20);
  const std::vector<bool> resident = fresh.resident();
  ASSERT_EQ(resident.size(), FreshPages::kCount);
  for (std::size_t i = 0; i < FreshPages::kCount; ++i) {
    EXPECT_EQ(resident[i], i < 3 || i > 39) << "page " << i;
  }
  EXPECT_EQ(fresh.bytes()[3 * page - 1], 7);
  EXPECT_EQ(fresh.bytes()[3 * page], 0);
  EXPECT_EQ(fresh.bytes()[40 * page - 1], 0);
  EXPECT_EQ(fresh.bytes()[40 * page], 7);
}

}  // namespace
#endif
