#include "trees/memory.h"

#include <cstdlib>

namespace kavrel {

namespace {
AllocationFailurePredicate failure_predicate = nullptr;
void* failure_context = nullptr;

bool injected_failure(std::size_t bytes) {
  return failure_predicate != nullptr && failure_predicate(bytes, failure_context);
}
}  // namespace

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

void store_free(void* block) { std::free(block); }

void set_allocation_failure(AllocationFailurePredicate predicate, void* context) {
  failure_predicate = predicate;
  failure_context = context;
}

bool allocation_failure_set() { return failure_predicate != nullptr; }

}  // namespace kavrel
