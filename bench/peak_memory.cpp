// The replaced global operator new and delete that track the bytes held and
// their peak (glibc's malloc_usable_size gives a block's size on release). In
// a translation unit of their own, so that no call site sees malloc and free
// behind them.
#include "peak_memory.hpp"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace {
std::size_t held = 0;
std::size_t peak = 0;
}  // namespace

namespace zevbench {

std::size_t resetPeakHeap() {
  peak = held;
  return held;
}

std::size_t peakHeapBytes() {
  return peak;
}

}  // namespace zevbench

void* operator new(std::size_t size) {
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    held += malloc_usable_size(block);
    peak = held > peak ? held : peak;
    return block;
  }
  throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
  if (block != nullptr) {
    held -= malloc_usable_size(block);
  }
  std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
  operator delete(block);
}
