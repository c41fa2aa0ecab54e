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
// With its size (at most what the block holds), a large block is kept for a
// later request of about its size while a KeptBlocksScope lives.
void release_block(void* block, std::size_t bytes);
void store_free(void* block, std::size_t bytes);
// A block from malloc, or a kept one; never fails by the test hook. Large
// blocks get large pages, as advise_large_pages gives them.
void* obtain_block(std::size_t bytes);
// A fresh page costs a fault on its first touch, and under virtualization a
// fault costs as much as copying the page many times over. A block of this
// size or more that is written from its start onwards asks for large pages,
// which fault once per 2 MiB; a block written in scattered parts must not, as
// a large page partly touched counts whole in the peak memory.
constexpr std::size_t kLargePageBlockBytes = std::size_t{32} << 20;
// Returns `block`. A block below `least_bytes` is left as it is.
void* advise_large_pages(void* block, std::size_t bytes,
                         std::size_t least_bytes = kLargePageBlockBytes);
// Faults in, with one call, the pages of a range about to be written whole:
// on the virtual machines we measure on, a page costs less than half as much
// that way as by a fault of its own. Ranges below kPopulatedRangeBytes are
// left to fault page by page.
constexpr std::size_t kPopulatedRangeBytes = std::size_t{32} << 10;
void populate_for_writing(void* block, std::size_t bytes);
// Hands back to the system the pages wholly inside a range that will not be
// read before it is written again; they read as zeros should they be.
void release_pages(void* block, std::size_t bytes);

// Fresh pages cost a fault each on their first touch, and printing one
// function after another asks for blocks of the same few sizes over and over
// (working copies, scratch tables). While a scope lives, large blocks released
// with their size are kept for the next request they can serve, by any
// thread; the last scope to end releases them.
class KeptBlocksScope {
 public:
  KeptBlocksScope();
  ~KeptBlocksScope();
  KeptBlocksScope(const KeptBlocksScope&) = delete;
  KeptBlocksScope& operator=(const KeptBlocksScope&) = delete;
};
// Releases the blocks kept before the last call that nothing took since: so
// that what is kept stays about what one printed function uses.
void age_kept_blocks();

// Test hook: a predicate consulted before every allocation; when it returns
// true the allocation fails as if the heap were exhausted. nullptr restores
// normal behaviour.
using AllocationFailurePredicate = bool (*)(std::size_t bytes, void* context);
void set_allocation_failure(AllocationFailurePredicate predicate, void* context);
// Whether a predicate is in place: the allocations are then counted in the
// order of one thread.
bool allocation_failure_set();

}  // namespace kavrel
