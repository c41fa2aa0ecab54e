#pragma once

#include <cstddef>

namespace kavrel {

// Heap access for the term stores. Every allocation of the analysis goes
// through these so that tests can make any one of them fail.
void* store_malloc(std::size_t bytes);
void* store_calloc(std::size_t count, std::size_t bytes);
void* store_realloc(void* block, std::size_t bytes);
void store_free(void* block);
// Frees a block from malloc; `bytes`, where known, spares small blocks the
// shrinking that large ones get first.
void release_block(void* block);
void release_block(void* block, std::size_t bytes);

// Test hook: a predicate consulted before every allocation; when it returns
// true the allocation fails as if the heap were exhausted. nullptr restores
// normal behaviour.
using AllocationFailurePredicate = bool (*)(std::size_t bytes, void* context);
void set_allocation_failure(AllocationFailurePredicate predicate, void* context);
// Whether a predicate is in place: the allocations are then counted in the
// order of one thread.
bool allocation_failure_set();

}  // namespace kavrel
