#include "trees/memory.h"

#include <cstdlib>

namespace kavrel {

namespace {
AllocationFailurePredicate failure_predicate = nullptr;
void* failure_context = nullptr;

bool injected_failure(std::size_t bytes) {
  return failure_predicate != nullptr && failure_predicate(bytes, failure_context);
}

// Blocks of this size and more are shrunk to nothing before they are freed.
// The C library gives large blocks pages of their own and hands them back
// when the block is freed; but freeing a large block directly raises the size
// from which it does so, and the large blocks freed after that stay in the
// pool of the thread that allocated them, out of reach of the other threads
// and counted in the peak memory. A shrunk block is freed small.
constexpr std::size_t kLargeBlockBytes = std::size_t{64} << 10;

}  // namespace

void release_block(void* block) {
  if (block == nullptr) return;
  if (void* shrunk = std::realloc(block, 1)) block = shrunk;
  std::free(block);
}

void release_block(void* block, std::size_t bytes) {
  if (bytes >= kLargeBlockBytes) {
    release_block(block);
  } else {
    std::free(block);
  }
}

void* store_malloc(std::size_t bytes) {
  if (injected_failure(bytes)) return nullptr;
  return std::malloc(bytes);
}

void* store_calloc(std::size_t count, std::size_t bytes) {
  if (injected_failure(count * bytes)) return nullptr;
  return std::calloc(count, bytes);
}

void* store_realloc(void* block, std::size_t bytes) {
  if (injected_failure(bytes)) return nullptr;
  return std::realloc(block, bytes);
}

void store_free(void* block) { release_block(block); }

void set_allocation_failure(AllocationFailurePredicate predicate, void* context) {
  failure_predicate = predicate;
  failure_context = context;
}

bool allocation_failure_set() { return failure_predicate != nullptr; }

}  // namespace kavrel
