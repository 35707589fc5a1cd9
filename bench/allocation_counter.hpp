// Counts the program's heap allocations (operator new), so that a benchmark
// can show how many allocations one drive's update makes.
#pragma once

#include <cstdint>

namespace zevbench {

std::uint64_t allocationCount();

}  // namespace zevbench
