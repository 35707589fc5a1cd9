// A zero-filled byte buffer whose allocation may fail. Request and property
// buffers are sized from what a driver or the device tree reports; a size
// that cannot be had is a failed step of the run, never an exception.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zev {

// size bytes of zero, or nullopt when they cannot be allocated.
std::optional<std::vector<std::uint8_t>> zeroFilledBuffer(std::uint64_t size);

}  // namespace zev
