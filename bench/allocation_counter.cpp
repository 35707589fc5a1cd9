// The replaced global operator new and delete that count allocations. In a
// translation unit of their own, so that no call site sees malloc and free
// behind them.
#include "allocation_counter.hpp"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {
std::uint64_t allocations = 0;
}  // namespace

namespace zevbench {

std::uint64_t allocationCount() {
  return allocations;
}

}  // namespace zevbench

void* operator new(std::size_t size) {
  ++allocations;
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
  throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
  std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
