// The program's own allocation functions keep the protocol of the standard
// ones: a failing new calls the new handler until there is none and then
// throws, and the nothrow forms give nullptr. Every other test allocates
// through them too.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>

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
