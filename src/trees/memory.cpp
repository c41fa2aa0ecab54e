#include "trees/memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

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

void shrink_and_free(void* block) {
  if (block == nullptr) return;
  if (void* shrunk = std::realloc(block, 1)) block = shrunk;
  std::free(block);
}

// The blocks kept while a KeptBlocksScope lives. A request takes the
// smallest kept block that holds it, if that is at most twice its size; else
// it grows the largest smaller one, which keeps the pages it has, so that
// what is kept seldom stands idle beside a fresh block in the peak memory.
class KeptBlocks {
 public:
  void* take(std::size_t bytes) {
    const std::lock_guard lock(mutex_);
    int best = -1;
    for (int i = 0; i < count_; ++i) {
      const std::size_t kept = blocks_[i].bytes;
      if (kept >= bytes && kept / 2 <= bytes && (best < 0 || kept < blocks_[best].bytes)) {
        best = i;
      }
    }
    if (best >= 0) {
      void* block = blocks_[best].block;
      remove(best);
      return block;
    }
    // The largest smaller block grown to the size keeps the pages it has.
    int largest = -1;
    for (int i = 0; i < count_; ++i) {
      if (blocks_[i].bytes < bytes && (largest < 0 || blocks_[i].bytes > blocks_[largest].bytes)) {
        largest = i;
      }
    }
    if (largest < 0) return nullptr;
    void* grown = std::realloc(blocks_[largest].block, bytes);
    if (grown == nullptr) return nullptr;
    remove(largest);
    return grown;
  }

  void age() {
    const std::lock_guard lock(mutex_);
    for (int i = count_ - 1; i >= 0; --i) {
      if (blocks_[i].generation != generation_) {
        shrink_and_free(blocks_[i].block);
        remove(i);
      }
    }
    ++generation_;
  }

  bool keep(void* block, std::size_t bytes) {
    const std::lock_guard lock(mutex_);
    if (scopes_ == 0 || count_ == kCapacity) return false;
    blocks_[count_++] = {block, bytes, generation_};
    return true;
  }

  void open_scope() {
    const std::lock_guard lock(mutex_);
    ++scopes_;
  }

  void close_scope() {
    const std::lock_guard lock(mutex_);
    if (--scopes_ > 0) return;
    for (int i = 0; i < count_; ++i) shrink_and_free(blocks_[i].block);
    count_ = 0;
  }

 private:
  struct Kept {
    void* block;
    std::size_t bytes;  // at most what the block holds
    unsigned generation;
  };
  static constexpr int kCapacity = 64;

  void remove(int i) { blocks_[i] = blocks_[--count_]; }

  std::mutex mutex_;
  Kept blocks_[kCapacity] = {};
  int count_ = 0;
  int scopes_ = 0;
  unsigned generation_ = 0;
};

// Never destroyed: blocks may be released until the process ends.
KeptBlocks& kept_blocks() {
  alignas(KeptBlocks) static unsigned char storage[sizeof(KeptBlocks)];
  static KeptBlocks* const blocks = new (storage) KeptBlocks;
  return *blocks;
}

// Smaller blocks come from the C library's pools, whose memory it reuses
// itself.
constexpr std::size_t kKeptBlockBytes = std::size_t{128} << 10;

void* take_kept(std::size_t bytes) {
  return bytes >= kKeptBlockBytes ? kept_blocks().take(bytes) : nullptr;
}

}  // namespace

void release_block(void* block) { shrink_and_free(block); }

void release_block(void* block, std::size_t bytes) {
  if (block == nullptr) return;
  if (bytes < kLargeBlockBytes) {
    std::free(block);
  } else if (bytes < kKeptBlockBytes || !kept_blocks().keep(block, bytes)) {
    shrink_and_free(block);
  }
}

// The system's small pages; advice and population work on whole ones.
[[maybe_unused]] constexpr std::uintptr_t kSmallPageBytes = 4096;

void* advise_large_pages(void* block, std::size_t bytes, std::size_t least_bytes) {
#if defined(MADV_HUGEPAGE)
  if (block != nullptr && bytes >= least_bytes) {
    // The advice covers the block's whole pages, so that its mapping is not
    // split and can still be grown in place.
    const auto start = reinterpret_cast<std::uintptr_t>(block) & ~(kSmallPageBytes - 1);
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(block) + bytes;
    // Only advice: where large pages cannot be had, small ones serve.
    (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
  }
#else
  (void)bytes;
  (void)least_bytes;
#endif
  return block;
}

#if __has_include(<sys/mman.h>)
namespace {
// Advice for the pages that lie wholly in the range only: the partial pages
// at its ends may hold other data, or never be written. Only advice: where
// the system cannot follow it, nothing changes.
void advise_whole_pages(void* block, std::size_t bytes, int advice) {
  const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t start = (first + kSmallPageBytes - 1) & ~(kSmallPageBytes - 1);
  const std::uintptr_t end = (first + bytes) & ~(kSmallPageBytes - 1);
  if (end <= start) return;
  (void)madvise(reinterpret_cast<void*>(start), end - start, advice);
}
}  // namespace
#endif

void populate_for_writing(void* block, std::size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
  // Where the system cannot, the pages fault in one by one as before.
  if (block != nullptr && bytes >= kPopulatedRangeBytes) {
    advise_whole_pages(block, bytes, MADV_POPULATE_WRITE);
  }
#else
  (void)block;
  (void)bytes;
#endif
}

void release_pages(void* block, std::size_t bytes) {
#if defined(MADV_DONTNEED)
  if (block != nullptr) advise_whole_pages(block, bytes, MADV_DONTNEED);
#else
  (void)block;
  (void)bytes;
#endif
}

void* obtain_block(std::size_t bytes) {
  if (void* kept = take_kept(bytes)) return advise_large_pages(kept, bytes);
  return advise_large_pages(std::malloc(bytes), bytes);
}

KeptBlocksScope::KeptBlocksScope() { kept_blocks().open_scope(); }

KeptBlocksScope::~KeptBlocksScope() { kept_blocks().close_scope(); }

void age_kept_blocks() { kept_blocks().age(); }

void* store_malloc(std::size_t bytes) {
  if (injected_failure(bytes)) return nullptr;
  return obtain_block(bytes);
}

void* store_calloc(std::size_t count, std::size_t bytes) {
  if (injected_failure(count * bytes)) return nullptr;
  if (count != 0 && bytes <= SIZE_MAX / count) {
    if (void* kept = take_kept(count * bytes)) return std::memset(kept, 0, count * bytes);
  }
  return std::calloc(count, bytes);
}

void* store_realloc(void* block, std::size_t bytes) {
  if (injected_failure(bytes)) return nullptr;
  return std::realloc(block, bytes);
}

void store_free(void* block) { release_block(block); }

void store_free(void* block, std::size_t bytes) { release_block(block, bytes); }

void set_allocation_failure(AllocationFailurePredicate predicate, void* context) {
  failure_predicate = predicate;
  failure_context = context;
}

bool allocation_failure_set() { return failure_predicate != nullptr; }

}  // namespace kavrel
