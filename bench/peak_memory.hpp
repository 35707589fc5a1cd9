// The heap's peak: the most bytes held at once through operator new since the
// last reset, so that a benchmark can show the memory a load or a run takes.
#pragma once

#include <cstddef>

namespace zevbench {

// Starts a new peak at the bytes held now, and returns them.
std::size_t resetPeakHeap();
std::size_t peakHeapBytes();

}  // namespace zevbench
