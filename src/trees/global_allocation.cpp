// The program's own allocation functions: blocks from new are released as
// any other large block of the analysis is (see release_block). Kept in a file
// of their own so that a test executable can replace them with its own.

#include <cstdlib>
#include <new>

#include "trees/memory.h"

namespace {

void* allocate_or_throw(std::size_t bytes) {
  if (bytes == 0) bytes = 1;
  for (;;) {
    if (void* block = kavrel::obtain_block(bytes)) return block;
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void* allocate_or_null(std::size_t bytes) noexcept {
  try {
    return allocate_or_throw(bytes);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t bytes) { return allocate_or_throw(bytes); }
void* operator new[](std::size_t bytes) { return allocate_or_throw(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  return allocate_or_null(bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  return allocate_or_null(bytes);
}
void operator delete(void* block) noexcept { kavrel::release_block(block); }
void operator delete[](void* block) noexcept { kavrel::release_block(block); }
void operator delete(void* block, std::size_t bytes) noexcept {
  kavrel::release_block(block, bytes);
}
void operator delete[](void* block, std::size_t bytes) noexcept {
  kavrel::release_block(block, bytes);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  kavrel::release_block(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  kavrel::release_block(block);
}
